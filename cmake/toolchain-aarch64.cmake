# 64-bit ARM (aarch64) with Debian's cross compiler and the :arm64 multiarch
# packages (tools/deps/cross.txt); programs and tests run under qemu-user.
#
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake \
#         -DSTREUWOLKE_BUILD_TOOLS=OFF -DSTREUWOLKE_BUILD_BENCH=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# No -L: qemu then starts the multiarch loader /lib/ld-linux-aarch64.so.1,
# which finds the :arm64 libraries. With -L /usr/aarch64-linux-gnu, qemu 7.2
# hangs in every program that starts a thread.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)

# pkg-config sees the :arm64 .pc files (lv2-dev:arm64) and the
# architecture-independent ones, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
