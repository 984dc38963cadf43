# 32-bit ARM, hard float (armhf: ARMv7, VFPv3-D16, no NEON), with Debian's
# cross compiler and the :armhf multiarch packages (tools/deps/cross.txt);
# programs and tests run under qemu-user.
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake \
#         -DSTREUWOLKE_BUILD_TOOLS=OFF -DSTREUWOLKE_BUILD_BENCH=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# No -L: qemu then starts the multiarch loader /lib/ld-linux-armhf.so.3,
# which finds the :armhf libraries. With -L /usr/arm-linux-gnueabihf, qemu
# 7.2 hangs in every program that starts a thread.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)

# pkg-config sees the :armhf .pc files (lv2-dev:armhf) and the
# architecture-independent ones, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
