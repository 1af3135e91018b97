# Shared part of the MinGW-w64 toolchain files (mingw-i686.cmake,
# mingw-x86_64.cmake); they set VELTROSA_MINGW_TRIPLET and VELTROSA_MINGW_FLAGS.
#
# The posix thread model: its libstdc++ has std::thread and std::mutex (the
# host library and the tests use them), and it links statically like the
# rest of the runtime, so the DLL still needs only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VELTROSA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTROSA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTROSA_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELTROSA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_C_FLAGS_INIT "${VELTROSA_MINGW_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${VELTROSA_MINGW_FLAGS}")
# Executables (tests, tools) are self-contained too: Wine needs no MinGW DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
# No link time stamp in the PE header: the same sources give the same DLL.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--no-insert-timestamp")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-Wl,--no-insert-timestamp")
