#!/usr/bin/env bash
# Builds every package into dist/: the Debian package of the Linux build
# (CPack), its tarball, the zip of the Windows build (CPack; zlib and libpng
# for it from tools/build_third_party.sh) and the page, torv-<version>.html,
# from the WebAssembly build. Executables are stripped.
#   usage: tools/make_release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
dist="$PWD/dist"
rm -rf "$dist"
mkdir -p "$dist"
version=$(sed -nE 's/^project\(torv VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)

cmake -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTORV_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j2
(cd build-release && cpack -B "$dist" >/dev/null)

# The tarball: one folder, torv-<version>/, to run from where it is unpacked.
stage=$(mktemp -d)
top="$stage/torv-$version"
for component in programs license; do
    cmake --install build-release --prefix "$top" --component "$component" --strip >/dev/null
done
sed "s/@VERSION@/$version/g" docs/README-linux.txt > "$top/README.txt"
tar --create --gzip --owner=0 --group=0 --numeric-owner --sort=name --mode=u+rw,go+r,go-w \
    --file "$dist/torv-$version-Linux-x86_64.tar.gz" -C "$stage" "torv-$version"
rm -rf "$stage"

tools/build_third_party.sh mingw
cmake -B build-release-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTORV_BUILD_TESTS=OFF >/dev/null
cmake --build build-release-mingw -j2
(cd build-release-mingw && cpack -B "$dist" >/dev/null)

rm -rf "$dist/_CPack_Packages"

tools/build_third_party.sh emscripten
cmake --preset web >/dev/null
cmake --build --preset web
cp build-web/torv.html "$dist/torv-$version.html"
ls -l "$dist"
