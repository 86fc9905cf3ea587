# The Windows build's tests, each run under Wine (scripts/with-wine, one Wine prefix for the
# whole run). The tests of POSIX files and processes and of the X11 editor stay with the Linux
# build; keyboard_test and pointer_edit_test here check that the key state reaches the editor
# through the platform's own query, as on Linux they do through the X server's keymap.
# Each program starts Wine once, which takes seconds, so each is one CTest test rather than one
# per test case.
set(GANTRIX_WINE ${PROJECT_SOURCE_DIR}/scripts/with-wine)

function(gantrix_wine_test name)
    add_executable(${name} ${name}.cpp)
    target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR ${GANTRIX_WINE})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS windows TIMEOUT 180)
endfunction()

gantrix_wine_test(table_sqrt_test gantrix_model)
gantrix_wine_test(ship_test gantrix_model)
gantrix_wine_test(view_test gantrix_view gantrix_model)
gantrix_wine_test(geometry_test gantrix_edit)
gantrix_wine_test(pointer_edit_test gantrix_view gantrix_edit)
target_sources(pointer_edit_test PRIVATE key_press_win32.cpp)
gantrix_wine_test(keyboard_test gantrix_edit)
target_sources(keyboard_test PRIVATE key_press_win32.cpp)
gantrix_wine_test(bind_plain_test gantrix_render gantrix_bind)
target_sources(bind_plain_test PRIVATE bind_plain.cpp)
gantrix_wine_test(bind_grid_test gantrix_bind gantrix_edit)
target_sources(bind_grid_test PRIVATE bind_plain.cpp failing_allocations.cpp)
gantrix_wine_test(file_source_win32_test gantrix_edit)
gantrix_wine_test(file_replacement_win32_test gantrix_edit)
target_link_libraries(file_replacement_win32_test PRIVATE advapi32)
target_sources(file_replacement_win32_test PRIVATE failing_allocations.cpp)
gantrix_wine_test(console_win32_test gantrix_platform)
# The program's resources, read from gantrix.exe; this test carries the same ones, so its own
# process shows what the manifest asks of Windows.
gantrix_wine_test(windows_resources_test gantrix_resources version)
file(RELATIVE_PATH editor_from_tests ${CMAKE_CURRENT_BINARY_DIR}
     ${CMAKE_BINARY_DIR}/gantrix${CMAKE_EXECUTABLE_SUFFIX})
string(REPLACE "/" "\\\\" editor_from_tests "${editor_from_tests}")
target_compile_definitions(windows_resources_test PRIVATE WINVER=0x0A00 _WIN32_WINNT=0x0A00
                           GANTRIX_EDITOR_FROM_TESTS=L"${editor_from_tests}"
                           GANTRIX_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
                           GANTRIX_VERSION_MINOR=${PROJECT_VERSION_MINOR}
                           GANTRIX_VERSION_PATCH=${PROJECT_VERSION_PATCH}
                           GANTRIX_VERSION_TEXT="${PROJECT_VERSION}")
add_dependencies(windows_resources_test gantrix)

# Real OpenGL in a window, on a private Xvfb.
add_library(gantrix_test_window STATIC glut_window.cpp)
target_link_libraries(gantrix_test_window PUBLIC gantrix_app GTest::gtest)
foreach(name scene_pixels_test frame_equality_test)
    add_executable(${name} ${name}.cpp)
    target_link_libraries(${name} PRIVATE gantrix_test_window)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${GANTRIX_WINE};--xvfb")
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS windows TIMEOUT 180)
endforeach()
target_sources(frame_equality_test PRIVATE failing_allocations.cpp)

# The zip's text files, as cmake/package_windows.cmake writes them; no Wine needed.
add_test(NAME windows_zip_texts
         COMMAND ${CMAKE_COMMAND} -DZIP_TEXTS=${PROJECT_BINARY_DIR}/zip -P
                 ${CMAKE_CURRENT_SOURCE_DIR}/windows_zip_texts.cmake)
set_tests_properties(windows_zip_texts PROPERTIES LABELS windows TIMEOUT 120)
