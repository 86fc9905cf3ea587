# Checks the text files the Windows zip takes from the build folder (cmake/package_windows.cmake):
# each is there, every line ends in CR LF, and the README speaks to a Windows user, naming no
# Linux build step and no file the zip does not hold.
#   cmake -DZIP_TEXTS=<build>/zip -P windows_zip_texts.cmake
set(failures "")
foreach(name README.txt LICENSE.txt changelog.txt copyright.txt third-party-licences.txt)
    if(NOT EXISTS ${ZIP_TEXTS}/${name})
        string(APPEND failures "${name} is missing\n")
        continue()
    endif()
    # Read as bytes, since CMake drops carriage returns from text it reads; " 0d 0a" is one
    # CR LF, and any " 0a" or " 0d" left after removing those is a line end of another kind.
    file(READ ${ZIP_TEXTS}/${name} hex HEX)
    string(REGEX REPLACE "(..)" " \\1" bytes "${hex}")
    string(REPLACE " 0d 0a" "" unpaired "${bytes}")
    string(FIND "${unpaired}" " 0a" bareFeed)
    string(FIND "${unpaired}" " 0d" bareReturn)
    string(REGEX MATCH " 0d 0a$" lastEnd "${bytes}")
    if(bareFeed GREATER -1 OR bareReturn GREATER -1 OR lastEnd STREQUAL "")
        string(APPEND failures "${name}: a line without CR LF, or no line end at the end\n")
    endif()
endforeach()

file(READ ${ZIP_TEXTS}/README.txt readme)
foreach(linux_only "make run" "make test" "sudo" "apt-get" "xmodmap" ".md" "screenshot" "scripts/" "@PROJECT")
    string(FIND "${readme}" "${linux_only}" at)
    if(at GREATER -1)
        string(APPEND failures "README.txt mentions '${linux_only}'\n")
    endif()
endforeach()
# Every .txt file the README names is in the zip.
string(REGEX MATCHALL "[A-Za-z-]+\\.txt" named "${readme}")
foreach(name IN LISTS named)
    if(NOT EXISTS ${ZIP_TEXTS}/${name})
        string(APPEND failures "README.txt names ${name}, which the zip does not hold\n")
    endif()
endforeach()

# The licence notices name licences by their place on a Debian system; the text of each must
# follow, since a Windows reader has no such folder.
file(READ ${ZIP_TEXTS}/third-party-licences.txt licences)
string(REGEX MATCHALL "/usr/share/common-licenses/[A-Za-z0-9.+-]*[A-Za-z0-9+]" named "${licences}")
list(REMOVE_DUPLICATES named)
string(REGEX MATCHALL "The licence named above as [^\r\n]*" headings "${licences}")
string(REPLACE ";" " ; " headings "${headings} ")
foreach(name IN LISTS named)
    string(FIND "${headings}" "${name} " appended)
    if(appended EQUAL -1)
        string(APPEND failures "third-party-licences.txt names ${name} without its text\n")
    endif()
endforeach()
# The zip's own changelog and copyright file are for a Windows reader: no Debian fields, no
# placeholders left unfilled.
foreach(name changelog.txt copyright.txt)
    file(READ ${ZIP_TEXTS}/${name} text)
    foreach(debian_only "Format: http" "Upstream-" " -- " "urgency=" "@")
        string(FIND "${text}" "${debian_only}" at)
        if(at GREATER -1)
            string(APPEND failures "${name} holds '${debian_only}'\n")
        endif()
    endforeach()
endforeach()

if(failures)
    message(FATAL_ERROR "${failures}")
endif()
