# 32-bit ARM, hard float (armhf: ARMv7, VFPv3-D16, no NEON); programs and
# tests run under qemu-user.
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake \
#         -DSTREUWOLKE_BUILD_TOOLS=OFF -DSTREUWOLKE_BUILD_BENCH=OFF
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CROSS_TRIPLET arm-linux-gnueabihf)
set(CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
