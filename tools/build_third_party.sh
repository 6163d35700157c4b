#!/usr/bin/env bash
# Builds the libraries a cross build needs and the target does not ship:
# zlib and libpng, from Debian's source packages, as static libraries for
# the platform's toolchain, into third_party/<platform>/ (ignored by git;
# never committed). The project's CMake finds them there.
#   usage: tools/build_third_party.sh [mingw|emscripten]
# Fetching needs root (a deb-src entry for the machine's own suite is added
# if missing) and dpkg-dev; a second run reuses what is there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
platform=${1:-mingw}
case "$platform" in
    mingw)
        toolchain="$root/cmake/mingw-w64-x86_64.cmake"
        cc=x86_64-w64-mingw32-gcc-posix
        ar=x86_64-w64-mingw32-ar
        ;;
    emscripten)
        toolchain=/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake
        cc=emcc
        ar=emar
        export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}  # Debian's emscripten finds acorn there
        ;;
    *) echo "unknown platform '$platform'" >&2; exit 2 ;;
esac
third="$root/third_party"
sources="$third/sources"
prefix="$third/$platform"
work="$third/build-$platform"

fetch() {
    if [ -d "$sources/zlib" ] && [ -d "$sources/libpng" ]; then
        return
    fi
    if ! apt-get source --print-uris -qq zlib >/dev/null 2>&1; then
        local suite
        suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
        cat > /etc/apt/sources.list.d/torv-deb-src.sources <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
        apt-get update -qq
    fi
    command -v dpkg-source >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq dpkg-dev >/dev/null
    rm -rf "$sources" && mkdir -p "$sources"
    (cd "$sources" && apt-get source -qq zlib libpng1.6 >/dev/null 2>&1)
    mv "$sources"/zlib-*/ "$sources/zlib"
    mv "$sources"/libpng1.6-*/ "$sources/libpng"
}

build() {
    if [ -f "$prefix/lib/libpng.a" ] && [ -f "$prefix/lib/libz.a" ]; then
        return
    fi
    local common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release)
    mkdir -p "$prefix/lib" "$prefix/include"
    # zlib: the static library alone, as libz.a, from its sources straight
    # (its CMake file makes a shared library the WebAssembly build cannot).
    # (The gz* file functions are left out: libpng needs none of them.)
    local zlib_sources=(adler32 compress crc32 deflate infback inffast inflate
                        inftrees trees uncompr zutil)
    mkdir -p "$work/zlib"
    cp "$sources/zlib/zconf.h.in" "$work/zlib/zconf.h"
    local objects=()
    for name in "${zlib_sources[@]}"; do
        "$cc" -O2 -I"$work/zlib" -c "$sources/zlib/$name.c" -o "$work/zlib/$name.o"
        objects+=("$work/zlib/$name.o")
    done
    rm -f "$prefix/lib/libz.a"
    "$ar" rcs "$prefix/lib/libz.a" "${objects[@]}"
    cp "$sources/zlib/zlib.h" "$work/zlib/zconf.h" "$prefix/include/"
    # libpng: static, against that zlib.
    cmake -S "$sources/libpng" -B "$work/libpng" "${common[@]}" -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF \
        -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a" >/dev/null
    cmake --build "$work/libpng"
    cmake --install "$work/libpng" >/dev/null
    [ -f "$prefix/lib/libpng.a" ] || cp "$prefix"/lib/libpng16*.a "$prefix/lib/libpng.a"
}

fetch
build
echo "zlib and libpng for $platform in $prefix"
