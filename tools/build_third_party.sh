#!/usr/bin/env bash
# Builds the libraries a cross build needs and the target does not ship:
# zlib, libpng, giflib and libmd (its SHA-256), from Debian's source
# packages, as static libraries for the platform's toolchain, into
# third_party/<platform>/ (ignored by git; never committed); and puts there
# the headers of the header-only libraries Debian ships (nlohmann-json3-dev,
# libcli11-dev, which must be installed). The project's CMake finds them
# there.
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
# Debian's source package of each library, and the folder it is kept in.
packages=(zlib:zlib libpng1.6:libpng giflib:giflib libmd:libmd)

fetch() {
    local missing=()
    for entry in "${packages[@]}"; do
        [ -d "$sources/${entry#*:}" ] || missing+=("$entry")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
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
    mkdir -p "$sources"
    local fetching
    fetching=$(mktemp -d "$sources/fetch-XXXXXX")
    for entry in "${missing[@]}"; do
        local package=${entry%%:*} folder=${entry#*:}
        (cd "$fetching" && apt-get source -qq "$package" >/dev/null 2>&1)
        mv "$fetching"/"$package"-*/ "$sources/$folder" 2>/dev/null || mv "$fetching"/"$folder"-*/ "$sources/$folder"
        rm -rf "${fetching:?}"/*
    done
    rmdir "$fetching"
}

# A static library of C sources compiled straight: `name` from `dir`'s files.
archive() { # name dir includes... -- files...
    local name=$1 dir=$2
    shift 2
    local includes=()
    while [ "$1" != "--" ]; do includes+=(-I"$1"); shift; done
    shift
    mkdir -p "$work/$name"
    local objects=()
    for file in "$@"; do
        "$cc" -O2 "${includes[@]}" -c "$dir/$file.c" -o "$work/$name/$file.o"
        objects+=("$work/$name/$file.o")
    done
    rm -f "$prefix/lib/lib$name.a"
    "$ar" rcs "$prefix/lib/lib$name.a" "${objects[@]}"
}

build_zlib() {
    [ -f "$prefix/lib/libz.a" ] && return
    # The static library alone, from its sources straight (its CMake file
    # makes a shared library the WebAssembly build cannot); the gz* file
    # functions are left out, as nothing here needs them.
    mkdir -p "$work/z"
    cp "$sources/zlib/zconf.h.in" "$work/z/zconf.h"
    archive z "$sources/zlib" "$work/z" -- adler32 compress crc32 deflate infback inffast inflate inftrees trees uncompr zutil
    cp "$sources/zlib/zlib.h" "$work/z/zconf.h" "$prefix/include/"
}

build_libpng() {
    [ -f "$prefix/lib/libpng.a" ] && return
    cmake -S "$sources/libpng" -B "$work/libpng" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF \
        -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a" >/dev/null
    cmake --build "$work/libpng"
    cmake --install "$work/libpng" >/dev/null
    [ -f "$prefix/lib/libpng.a" ] || cp "$prefix"/lib/libpng16*.a "$prefix/lib/libpng.a"
}

build_giflib() {
    [ -f "$prefix/lib/libgif.a" ] && return
    archive gif "$sources/giflib" "$sources/giflib" -- dgif_lib egif_lib gif_err gif_font gif_hash gifalloc openbsd-reallocarray
    cp "$sources/giflib/gif_lib.h" "$prefix/include/"
}

build_libmd() {
    [ -f "$prefix/lib/libmd.a" ] && return
    # SHA-256 is all that is needed of it; it asks for no configuration.
    mkdir -p "$work/md"
    : > "$work/md/config.h"
    archive md "$sources/libmd/src" "$work/md" "$sources/libmd/include" "$sources/libmd/src" -- sha2
    cp "$sources/libmd/include/sha2.h" "$prefix/include/"
}

# Header-only libraries: their headers as Debian installs them.
copy_headers() {
    for header in nlohmann/json.hpp CLI/CLI.hpp; do
        if [ ! -f "/usr/include/$header" ]; then
            echo "/usr/include/$header is missing: install nlohmann-json3-dev and libcli11-dev" >&2
            exit 1
        fi
    done
    rm -rf "$prefix/include/nlohmann" "$prefix/include/CLI"
    cp -r /usr/include/nlohmann /usr/include/CLI "$prefix/include/"
}

fetch
mkdir -p "$prefix/lib" "$prefix/include"
build_zlib
build_libpng
build_giflib
build_libmd
copy_headers
echo "zlib, libpng, giflib, libmd, nlohmann-json and CLI11 for $platform in $prefix"
