#!/usr/bin/env bash
# Builds every package into dist/ with CPack: the Debian package and the
# tarball of the Linux build, and the zip of the Windows build (zlib and
# libpng for it from tools/build_third_party.sh). Executables are stripped.
# Then the page, torv-<version>.html, from the WebAssembly build.
#   usage: tools/make_release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
dist="$PWD/dist"
rm -rf "$dist"
mkdir -p "$dist"

cmake -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTORV_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j2
(cd build-release && cpack -B "$dist" >/dev/null)

tools/build_third_party.sh mingw
cmake -B build-release-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTORV_BUILD_TESTS=OFF >/dev/null
cmake --build build-release-mingw -j2
(cd build-release-mingw && cpack -B "$dist" >/dev/null)

rm -rf "$dist/_CPack_Packages"

tools/build_third_party.sh emscripten
cmake --preset web >/dev/null
cmake --build --preset web
version=$(sed -nE 's/^project\(torv VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
cp build-web/torv.html "$dist/torv-$version.html"
ls -l "$dist"
