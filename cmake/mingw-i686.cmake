# The shipping stub: 32-bit Windows, MinGW-w64 with POSIX threads (needed by std::thread users such as GoogleTest).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ULV_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Every setup, web installer and installed agent carries this build, and a web installer is
# downloaded before anything else happens: optimised for size. Where speed matters the work is done
# by zlib (the system's prebuilt library) and by the system's own Internet library.
set(CMAKE_C_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "" FORCE)
set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "" FORCE)
