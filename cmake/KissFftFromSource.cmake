# KISS FFT for builds Debian ships no library for (Windows, WebAssembly):
# Debian's kissfft source package, fetched by scripts/fetch-kissfft into the
# build tree. Only the two files the wavetable generator needs, built
# the way Debian's libkissfft-float is (its CMake options, its -O3, float
# scalars), but static; KISS_FFT_SHARED stays undefined so the headers do not
# ask for DLL imports.
set(VELTROSA_KISSFFT_DIR ${CMAKE_BINARY_DIR}/third_party/kissfft)
execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/fetch-kissfft ${CMAKE_BINARY_DIR}/third_party
  RESULT_VARIABLE _kissfft_rc)
if(NOT _kissfft_rc EQUAL 0)
  message(FATAL_ERROR "could not fetch Debian's kissfft source package (scripts/fetch-kissfft)")
endif()
add_library(veltrosa_kissfft STATIC
  ${VELTROSA_KISSFFT_DIR}/kiss_fft.c
  ${VELTROSA_KISSFFT_DIR}/kiss_fftr.c)
# Both spellings Debian's headers allow: <kiss_fftr.h> and <kissfft/kiss_fftr.h>.
target_include_directories(veltrosa_kissfft SYSTEM PUBLIC ${VELTROSA_KISSFFT_DIR} ${VELTROSA_KISSFFT_DIR}/..)
target_compile_definitions(veltrosa_kissfft PUBLIC kiss_fft_scalar=float)
target_compile_options(veltrosa_kissfft PRIVATE -O3 -ffast-math -fomit-frame-pointer -w)
# The name the Linux build gets from pkg-config, so the engine links the same.
add_library(PkgConfig::KISSFFT ALIAS veltrosa_kissfft)
