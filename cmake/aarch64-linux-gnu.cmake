# Cross-compiles for 64-bit ARM Linux (Raspberry Pi OS 64-bit, Debian arm64)
# on a Debian machine with crossbuild-essential-arm64 and the arm64
# development packages (dpkg --add-architecture arm64; apt-get install
# libcups2-dev:arm64 libcupsimage2-dev:arm64 libpng-dev:arm64 ...):
#
#   cmake -S . -B build/arm64 --toolchain cmake/aarch64-linux-gnu.cmake \
#         -DRVC_BUILD_TESTS=OFF -DRVC_BUILD_BENCH=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# Debian's multiarch layout keeps the arm64 libraries beside the machine's
# own under /usr: programs (ppdc, cups-config) come from the build machine,
# libraries are looked up in the arm64 folders, and pkg-config answers for
# arm64 through its cross wrapper (pkgconf:arm64).
set(PKG_CONFIG_EXECUTABLE /usr/bin/aarch64-linux-gnu-pkg-config CACHE FILEPATH "")
