# cmake -DLIST=files.txt -P CheckNoOS.cmake   (files.txt: one source file a line)
# Fails when one of the files includes a header of the operating system (POSIX's unistd.h,
# fcntl.h, poll.h, signal.h, spawn.h, sys/...; Windows' windows.h and the Win32 headers
# beside it, in any case, as Windows' file names have none) or names one of the system's
# own folders (/proc/, /dev/, /etc/) in a string: such calls belong in src/platform, behind
# platform/Platform.h, so that the program builds for another system by adding one file.
set(include_rule "^[ \t]*#[ \t]*include[ \t]*<(unistd|fcntl|poll|signal|spawn|dirent|windows|winbase|winuser|wingdi|winnt|winreg|psapi|tlhelp32|shellapi|shlobj|winsock2|ws2tcpip|io|direct|process)\\.h>|^[ \t]*#[ \t]*include[ \t]*<sys/")
set(path_rule "\"/(proc|dev|etc)/")
# File names between std::string and std::filesystem::path, or opened by the C and C++
# libraries, are in the system's narrow code page (ANSI on Windows, which cannot hold
# every name): common/Path.h converts them from and to UTF-8, and the platform opens files.
set(name_rule "\\.(generic_)?string\\(\\)|(fs|filesystem)::path\\([^\")]|std::[io]?fstream|[^a-z_]fopen\\(")
file(STRINGS "${LIST}" files)
set(failures "")
set(name_failures "")
foreach(file IN LISTS files)
  # Read whole and cut into lines by hand: file(STRINGS) would take a source line's
  # semicolons and unbalanced brackets for list syntax.
  file(READ "${file}" text)
  string(REGEX REPLACE "[][;\\]" "_" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(line MATCHES "^[ \t]*//")
      continue()
    endif()
    string(TOLOWER "${line}" lower)
    if(lower MATCHES "${include_rule}" OR line MATCHES "${path_rule}")
      string(APPEND failures "${file}:${number}: ${line}\n")
    endif()
    if(line MATCHES "${name_rule}")
      string(APPEND name_failures "${file}:${number}: ${line}\n")
    endif()
  endforeach()
endforeach()
if(name_failures)
  message(FATAL_ERROR "These files take file names in the system's code page (use PathOf and "
    "Utf8Of of common/Path.h, and open files through platform/Platform.h):\n${name_failures}")
endif()
if(failures)
  message(FATAL_ERROR "These files call the operating system directly (move the call to "
    "src/platform and ask platform/Platform.h for it):\n${failures}")
endif()
