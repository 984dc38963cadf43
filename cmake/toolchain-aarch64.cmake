# 64-bit ARM (aarch64); programs and tests run under qemu-user.
#
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake \
#         -DSTREUWOLKE_BUILD_TOOLS=OFF -DSTREUWOLKE_BUILD_BENCH=OFF
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CROSS_TRIPLET aarch64-linux-gnu)
set(CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
