# Cross build for x86_64 Windows with Debian's mingw-w64 compilers, the
# POSIX-thread variant (std::thread and std::mutex need it):
#   cmake -S . -B build-win-x86_64 -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(FEROQ_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${FEROQ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FEROQ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${FEROQ_MINGW_TRIPLE}-windres)

# Libraries and headers for the target only from the target's root (and
# from a prefix given with CMAKE_PREFIX_PATH, such as a SQLite built for it);
# programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${FEROQ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime DLLs (libstdc++, libgcc, winpthread) are linked
# dynamically, so that exceptions and allocations cross the project's DLLs
# through one runtime; scripts/windows.sh puts their folders on WINEPATH.
