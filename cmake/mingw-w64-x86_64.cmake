# Cross build for Windows x64 with Debian's mingw-w64 (posix thread model, so
# std::thread, std::recursive_mutex and thread_local work).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
if(DEFINED ENV{FWUPDATER_CACHE})
  list(APPEND CMAKE_FIND_ROOT_PATH "$ENV{FWUPDATER_CACHE}/mingw-libpng")
elseif(DEFINED ENV{HOME})
  list(APPEND CMAKE_FIND_ROOT_PATH "$ENV{HOME}/.cache/fwupdater/mingw-libpng")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: no libstdc++/winpthread DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
