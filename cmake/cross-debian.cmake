# What both ARM toolchain files share: Debian's cross compiler for
# CROSS_TRIPLET, the :arch multiarch packages (tools/deps/cross.txt), and
# qemu-user (CROSS_QEMU) to run the programs and tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLET}-g++)

# No -L: qemu then starts the multiarch loader in /lib, which finds the
# target's libraries. With -L /usr/${CROSS_TRIPLET}, qemu 7.2 hangs in every
# program that starts a thread.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_QEMU})

# pkg-config sees the target's .pc files (lv2-dev:arch) and the
# architecture-independent ones, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
