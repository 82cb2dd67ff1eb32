# Linux on ARM64, cross-built on a Debian x86-64 machine: Debian's aarch64 compilers against
# the arm64 multiarch packages (scripts/arm64-deps installs both), and the tests run under
# qemu's user-mode emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Headers and libraries: /usr/include and /usr/lib/aarch64-linux-gnu, never the amd64 ones;
# programs (pkg-config, help2man) are the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# The arm64 loader and libraries are the multiarch ones in / (libc6:arm64), so qemu needs no
# -L prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
