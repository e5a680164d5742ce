# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers, the POSIX
# thread flavour (std::thread and std::mutex need it).
# cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARV_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARV_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARV_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TARV_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARV_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
