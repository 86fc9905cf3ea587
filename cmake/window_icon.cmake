# The X window's icon as a C++ array, made at configure time from the committed raw pixels
# (desktop/icons/gantrix-SIZE.rgba, made by scripts/make-icons: SIZE x SIZE pixels row by row,
# each as red, green, blue and alpha bytes, alpha not premultiplied). _NET_WM_ICON wants each
# size as its width, its height, then its pixels as 0xAARRGGBB.
function(gantrix_window_icon_source out)
    set(body "")
    foreach(size 16 32 48)
        set(raw ${PROJECT_SOURCE_DIR}/desktop/icons/gantrix-${size}.rgba)
        file(SIZE ${raw} bytes)
        math(EXPR expected "${size} * ${size} * 4")
        if(NOT bytes EQUAL expected)
            message(FATAL_ERROR "${raw} holds ${bytes} bytes, not the ${expected} of a "
                                "${size} x ${size} icon; remake it with scripts/make-icons")
        endif()
        file(READ ${raw} hex HEX)
        set(byte "[0-9a-f][0-9a-f]")
        string(REGEX REPLACE "(${byte})(${byte})(${byte})(${byte})" "0x\\4\\1\\2\\3, " pixels
                             "${hex}")
        # Eight pixels a line, so the made source stays readable.
        string(REPEAT "0x[0-9a-f]+, " 8 line)
        string(REGEX REPLACE "(${line})" "\\1\n    " pixels "${pixels}")
        string(REPLACE ", \n" ",\n" pixels "${pixels}")
        string(STRIP "${pixels}" pixels)
        string(REGEX REPLACE ",$" "" pixels "${pixels}")
        string(APPEND body "    ${size}, ${size},\n    ${pixels},\n")
        set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${raw})
    endforeach()
    # The source is rewritten only when the pixels change, so a new configure rebuilds nothing.
    set(GANTRIX_WINDOW_ICON_BODY "${body}")
    configure_file(${PROJECT_SOURCE_DIR}/cmake/window_icon_pixels.cpp.in ${out} @ONLY)
endfunction()
