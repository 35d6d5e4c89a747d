#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Veldmoor.
# Idempotent: every step is skipped when its result is already there.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
deps="$here/.deps"
prefix="$deps/mingw"
mkdir -p "$deps"

sudo_() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev wine wine64 xvfb xauth x11-apps x11-utils fonts-wqy-microhei cmake ninja-build
          nasm googletest dpkg-dev autoconf automake libtool autopoint gettext pkg-config
          gcc xdotool xclip libx11-dev imagemagick python3 cups printer-driver-cups-pdf poppler-utils nsis
          meson libheif-examples jpegoptim clang-14 libclang-rt-14-dev llvm-14)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

enable_deb_src() {
  local f=/etc/apt/sources.list.d/veldmoor-src.sources
  [ -f "$f" ] && return 0
  sudo_ tee "$f" >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  rm -f "$deps/.apt-updated"
}

need_sources=0
for lib in libwebp.a libjpeg.a libexif.a libdav1d.a libde265-slim.a libheif.a; do [ -f "$prefix/lib/$lib" ] || need_sources=1; done

if [ ${#missing[@]} -gt 0 ] || [ $need_sources = 1 ]; then
  enable_deb_src
  if [ ! -f "$deps/.apt-updated" ]; then
    sudo_ apt-get update -qq
    touch "$deps/.apt-updated"
  fi
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

toolchain="$here/cmake/mingw-w64.cmake"
src="$deps/src"
mkdir -p "$src" "$prefix"

fetch_source() {   # package, folder glob
  local pkg=$1
  local dir
  dir=$(ls -d "$src/$pkg"-*/ 2>/dev/null | head -1 || true)
  if [ -z "$dir" ]; then
    # The newest version can sit in a pool the mirror lacks (security updates): try each one listed.
    local v
    (cd "$src" && apt-get source -qq "$pkg" >/dev/null 2>&1) ||
    for v in $(apt-cache showsrc "$pkg" | sed -n 's/^Version: //p' | sort -rV); do
      (cd "$src" && apt-get source -qq "$pkg=$v" >/dev/null 2>&1) && break
    done
    dir=$(ls -d "$src/$pkg"-*/ | head -1)
  fi
  echo "${dir%/}"
}

build_cmake_lib() {  # source dir, build dir, extra args...
  local s=$1 b=$2; shift 2
  # Some projects report their options on stderr: shown only when configuring fails.
  cmake -S "$s" -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >"$b.log" 2>&1 || { cat "$b.log"; return 1; }
  cmake --build "$b" >/dev/null
  cmake --install "$b" >/dev/null
}

if [ ! -f "$prefix/lib/libwebp.a" ]; then
  echo "setup: building libwebp for MinGW"
  d=$(fetch_source libwebp)
  build_cmake_lib "$d" "$deps/build-webp" -DBUILD_SHARED_LIBS=OFF -DWEBP_BUILD_ANIM_UTILS=OFF \
    -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF \
    -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF \
    -DWEBP_NEAR_LOSSLESS=ON
fi

if [ ! -f "$prefix/lib/libjpeg.a" ]; then
  echo "setup: building libjpeg-turbo for MinGW"
  d=$(fetch_source libjpeg-turbo)
  build_cmake_lib "$d" "$deps/build-jpeg" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
    -DCMAKE_SYSTEM_PROCESSOR=AMD64 -DCMAKE_ASM_NASM_COMPILER=nasm -DWITH_SIMD=ON
fi

if [ ! -f "$prefix/lib/libexif.a" ]; then
  echo "setup: building libexif for MinGW"
  d=$(fetch_source libexif)
  (cd "$d" && autoreconf -fi >/dev/null 2>&1 &&
   ./configure -q --host=x86_64-w64-mingw32 --prefix="$prefix" --disable-shared --enable-static \
     --disable-nls --disable-docs CC=x86_64-w64-mingw32-gcc-posix >/dev/null &&
   make -s -j2 >/dev/null 2>&1 && make -s install >/dev/null 2>&1)
fi

# HEIC and AVIF: decoders only, no tools, tests or encoders, to keep a cold set-up short.
if [ ! -f "$prefix/lib/libdav1d.a" ]; then
  echo "setup: building dav1d for MinGW"
  d=$(fetch_source dav1d)
  cross="$deps/meson-mingw.ini"
  cat >"$cross" <<CROSS
[binaries]
c = 'x86_64-w64-mingw32-gcc-posix'
cpp = 'x86_64-w64-mingw32-g++-posix'
ar = 'x86_64-w64-mingw32-ar'
strip = 'x86_64-w64-mingw32-strip'
windres = 'x86_64-w64-mingw32-windres'
nasm = 'nasm'

[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
CROSS
  rm -rf "$deps/build-dav1d"
  # 16-bit depth too: 10- and 12-bit AVIF go through it.
  meson setup "$deps/build-dav1d" "$d" --cross-file "$cross" --prefix="$prefix" --libdir=lib \
    --buildtype=release -Ddefault_library=static -Dbitdepths=8,16 -Denable_asm=true \
    -Denable_tools=false -Denable_tests=false -Denable_examples=false >/dev/null
  ninja -C "$deps/build-dav1d" >/dev/null
  ninja -C "$deps/build-dav1d" install >/dev/null
fi

# libde265 under its own name, so that a prefix shared with older checkouts keeps their copy.
if [ ! -f "$prefix/lib/libde265-slim.a" ]; then
  echo "setup: building libde265 for MinGW"
  d=$(fetch_source libde265)
  s="$deps/src-de265"
  rm -rf "$s" && cp -r "$d" "$s"
  # Its Windows threads lock through kernel mutexes, a server round trip each under Wine
  # (a phone's 48-tile HEIC took 30 s instead of 1.3 s): the POSIX branch instead, with
  # Windows' slim locks and condition variables, as each of winpthreads' condition
  # variables makes and closes two semaphores through the server, and a picture has one
  # per block (a 48-tile HEIC: 1.4 s instead of 0.6 s).
  sed -i 's/^#ifndef _WIN32$/#if !defined(_WIN32) || defined(__MINGW32__)/' "$s/libde265/threads.h" \
    "$s/libde265/threads.cc"
  patch -s -p1 -d "$s" <"$here/scripts/libde265-slim-locks.patch"
  build_cmake_lib "$s" "$deps/build-de265-slim" -DBUILD_SHARED_LIBS=OFF -DENABLE_SDL=OFF -DENABLE_DECODER=OFF \
    -DENABLE_ENCODER=OFF -DCMAKE_INSTALL_PREFIX="$deps/de265-slim"
  [ -d "$prefix/include/libde265" ] || cp -r "$deps/de265-slim/include/libde265" "$prefix/include/"
  cp "$deps/de265-slim/lib/libde265.a" "$prefix/lib/libde265-slim.a"
fi

if [ ! -f "$prefix/lib/libheif.a" ]; then
  echo "setup: building libheif for MinGW"
  d=$(fetch_source libheif)
  PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" build_cmake_lib "$d" "$deps/build-heif" -DBUILD_SHARED_LIBS=OFF \
    -DENABLE_PLUGIN_LOADING=OFF -DWITH_EXAMPLES=OFF \
    -DWITH_X265=OFF -DWITH_AOM_ENCODER=OFF -DWITH_AOM_DECODER=OFF -DWITH_SvtEnc=OFF -DWITH_RAV1E=OFF \
    -DLIBDE265_INCLUDE_DIR="$prefix/include" -DLIBDE265_LIBRARY="$prefix/lib/libde265-slim.a" \
    -DDAV1D_INCLUDE_DIR="$prefix/include" -DDAV1D_LIBRARY="$prefix/lib/libdav1d.a"
fi

if [ ! -f "$prefix/lib/libgtest.a" ]; then
  echo "setup: building GoogleTest for MinGW"
  build_cmake_lib /usr/src/googletest "$deps/build-gtest" -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF
fi
# The end-to-end drop test's XDND client, a native X program.
xdnd="$deps/bin/xdnd_drop"
if [ ! -x "$xdnd" ] || [ "$here/tests/helpers/xdnd_drop.c" -nt "$xdnd" ]; then
  mkdir -p "$deps/bin"
  cc -O2 -o "$xdnd" "$here/tests/helpers/xdnd_drop.c" -lX11
fi
echo "setup: ready"

