# 32-bit Windows with Debian's MinGW-w64 cross compilers: the build hosts load.
set(VELTROSA_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
# Everything built here, third-party code included, does its float maths in
# SSE (never x87 excess precision) and realigns its stack on entry: 32-bit
# Windows callers guarantee only 4-byte alignment.
set(VELTROSA_MINGW_FLAGS "-msse2 -mfpmath=sse -mstackrealign")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
