# Every outside dependency of the project, each looked up once, here. What an
# option turns on it requires: a missing package stops the configure with the
# name of what is missing.
#
#   always                  pkg-config, lv2 (PkgConfig::LV2)
#   BUILD_TESTING           GTest (GTest::gtest_main), Threads, GoogleTest's
#                           gtest_discover_tests, the LV2 core and units
#                           bundles (LV2_CORE_BUNDLE, LV2_UNITS_BUNDLE, for
#                           the tests' LV2_PATH)
#   STREUWOLKE_BUILD_BENCH  Google Benchmark (benchmark::benchmark, _main)
#   STREUWOLKE_BUILD_TOOLS  lilv-0 (PkgConfig::LILV), sndfile
#                           (PkgConfig::SNDFILE), fftw3 (PkgConfig::FFTW);
#                           the tests use the first two directly as well
#   STREUWOLKE_BUILD_UI     cairo with its Xlib surface (PkgConfig::CAIRO),
#                           x11 (PkgConfig::X11), fftw3 (PkgConfig::FFTW),
#                           Threads
#
# Debian 12 packages: pkg-config, lv2-dev; libgtest-dev; libbenchmark-dev;
# liblilv-dev, libsndfile1-dev, libfftw3-dev; libcairo2-dev, libx11-dev
# (tools/deps/*.txt).

find_package(PkgConfig REQUIRED)
pkg_check_modules(LV2 REQUIRED IMPORTED_TARGET lv2)

if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  find_package(Threads REQUIRED)
  include(GoogleTest)
  find_path(LV2_CORE_BUNDLE lv2core.ttl REQUIRED
    PATHS /usr/lib/lv2 /usr/local/lib/lv2 /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/lv2
    PATH_SUFFIXES core.lv2 NO_DEFAULT_PATH)
  find_path(LV2_UNITS_BUNDLE units.ttl REQUIRED
    PATHS /usr/lib/lv2 /usr/local/lib/lv2 /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/lv2
    PATH_SUFFIXES units.lv2 NO_DEFAULT_PATH)
endif()

if(STREUWOLKE_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()

if(STREUWOLKE_BUILD_TOOLS)
  pkg_check_modules(LILV REQUIRED IMPORTED_TARGET lilv-0)
  pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
endif()

if(STREUWOLKE_BUILD_UI)
  pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo cairo-xlib)
  pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
  find_package(Threads REQUIRED)
endif()

if(STREUWOLKE_BUILD_TOOLS OR STREUWOLKE_BUILD_UI)
  pkg_check_modules(FFTW REQUIRED IMPORTED_TARGET fftw3)
endif()
