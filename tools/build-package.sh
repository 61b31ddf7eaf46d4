#!/usr/bin/env bash
# Installs what is missing, builds the program as shipped, and makes its
# Debian package: build-package/vardelolink_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh package

# Built with Debian's own hardening flags, as its packages are.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARDELO_SANITIZE=OFF \
    -DVARDELO_SANITIZE_THREAD=OFF -DVARDELO_BUILD_TESTS=OFF -DVARDELO_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build build-package -j "$(nproc)"
rm -f build-package/*.deb
(cd build-package && cpack -G DEB)
ls build-package/*.deb
