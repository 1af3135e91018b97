# 64-bit ARM Linux with Debian's cross toolchain (crossbuild-essential-arm64)
# and its multiarch :arm64 development packages (make arm64). The programs
# the build runs (the description and preset writers) and the tests run under
# qemu's user-mode emulator, with the ARM loader and libraries of the
# multiarch packages (libc6:arm64 and the rest). Not with the cross
# toolchain's own C library (-L /usr/aarch64-linux-gnu): under it, qemu 7.2
# spins forever in a program that has started a thread.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "")

# Packages whose two architectures cannot be installed side by side (libsmf,
# liblo)
# are unpacked into the build tree (scripts/unpack-debs, run by make arm64);
# their libraries are found there when linking, and by the emulator's
# loader, never through a run path in the binaries the package ships.
set(VELTROSA_UNPACKED_DEBS ${CMAKE_BINARY_DIR}/debs/root)
set(CMAKE_SKIP_RPATH ON)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static
  -E LD_LIBRARY_PATH=${VELTROSA_UNPACKED_DEBS}/usr/lib/aarch64-linux-gnu)
