# MinGW-w64 posix-thread cross compilers from Debian.
set(CMAKE_C_COMPILER   ${TESS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${TESS_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TESS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Deliverables depend on system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
