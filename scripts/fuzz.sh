#!/usr/bin/env bash
# Builds the native fuzz targets (clang, libFuzzer, ASan/UBSan) into build-fuzz/ and fuzzes each
# for SECONDS (default 60) on its corpus. Exits non-zero on any crash, sanitizer report, leak,
# timeout or differential mismatch, naming the reproducer.
#   scripts/fuzz.sh [SECONDS]           build, replay corpora and regressions, fuzz every target
#   scripts/fuzz.sh --replay            build and replay only
#   scripts/fuzz.sh --deps              build the sanitized libraries only
# FUZZ_TARGETS="probe handover" limits the targets.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/.deps"
native="$deps/native"
work="$deps/native-build"
mode=fuzz
seconds=60
case "${1:-}" in
  --replay) mode=replay ;;
  --deps) mode=deps ;;
  "") ;;
  *) seconds=$1 ;;
esac

export CC=clang-14 CXX=clang++-14
san="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1"

need() { command -v "$1" >/dev/null || { echo "fuzz: $1 is missing (scripts/setup.sh installs it)"; exit 1; }; }
need clang-14
need cmake
need ninja

source_of() {  # the Debian source folder the MinGW set-up fetched
  local dir
  dir=$(ls -d "$deps/src/$1"-*/ 2>/dev/null | head -1)
  if [ -z "$dir" ]; then
    mkdir -p "$deps/src" && (cd "$deps/src" && apt-get source -qq "$1" >/dev/null 2>&1)
    dir=$(ls -d "$deps/src/$1"-*/ 2>/dev/null | head -1)
  fi
  [ -n "$dir" ] || { echo "fuzz: no source of $1 under .deps/src (run scripts/setup.sh)"; exit 1; }
  echo "${dir%/}"
}

build_native_deps() {
  mkdir -p "$native/lib" "$native/include" "$work"
  if [ ! -f "$native/lib/libjpeg.a" ]; then
    echo "fuzz: building libjpeg-turbo natively with sanitizers"
    # No SIMD: the sanitizers see every line, and the entropy decoder (the part compared) has none.
    cmake -S "$(source_of libjpeg-turbo)" -B "$work/jpeg" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_C_FLAGS="$san" -DCMAKE_INSTALL_PREFIX="$native" -DCMAKE_INSTALL_LIBDIR=lib \
      -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF >/dev/null &&
    cmake --build "$work/jpeg" --target jpeg-static >/dev/null &&
    # the library and its headers only: installing would build every tool
    cp "$work/jpeg/jconfig.h" "$(source_of libjpeg-turbo)"/{jpeglib.h,jmorecfg.h,jerror.h} "$native/include/" &&
    cp "$work/jpeg/libjpeg.a" "$native/lib/"
    [ -f "$native/lib/libjpeg.a" ] || { echo "fuzz: libjpeg-turbo build failed"; exit 1; }
  fi
  if [ ! -f "$native/lib/libwebp.a" ]; then
    echo "fuzz: building libwebp natively with sanitizers"
    cmake -S "$(source_of libwebp)" -B "$work/webp" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_C_FLAGS="$san" -DCMAKE_INSTALL_PREFIX="$native" -DCMAKE_INSTALL_LIBDIR=lib \
      -DBUILD_SHARED_LIBS=OFF -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF \
      -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF \
      -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF -DWEBP_USE_THREAD=OFF >/dev/null &&
    cmake --build "$work/webp" --target webp >/dev/null &&
    mkdir -p "$native/include/webp" && cp "$(source_of libwebp)"/src/webp/*.h "$native/include/webp/" &&
    cp "$work/webp/libwebp.a" "$native/lib/"
    [ -f "$native/lib/libwebp.a" ] || { echo "fuzz: libwebp build failed"; exit 1; }
  fi
  if [ ! -f "$native/lib/libexif.a" ]; then
    echo "fuzz: building libexif natively with sanitizers"
    # A copy: the MinGW build configured the shared source folder in place.
    rm -rf "$work/exif" && cp -r "$(source_of libexif)" "$work/exif"
    (cd "$work/exif" && { [ -f Makefile ] && make -s distclean >/dev/null 2>&1; true; } &&
     { [ -x configure ] || autoreconf -fi >/dev/null 2>&1; } &&
     ./configure -q --prefix="$native" --disable-shared --enable-static --disable-nls --disable-docs \
       CC=clang-14 CFLAGS="$san" >/dev/null &&
     make -s -j2 >/dev/null 2>&1 && make -s install >/dev/null 2>&1)
    [ -f "$native/lib/libexif.a" ] || { echo "fuzz: libexif build failed"; exit 1; }
  fi
}

build_native_deps
[ $mode = deps ] && exit 0

build="$root/build-fuzz"
cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DVELDMOOR_NATIVE="$native" >/dev/null || exit 1
cmake --build "$build" -j2 >/dev/null || { cmake --build "$build" -j1 2>&1 | grep -E "error|Error" | head -20; exit 1; }

targets=${FUZZ_TARGETS:-$(cd "$build" && ls fuzz_* 2>/dev/null | sed 's/^fuzz_//' | tr '\n' ' ')}
failed=0

# Prints the reproducer of a failed run and counts the failure.
report() {  # target, log
  local unit
  unit=$(grep -o 'Test unit written to [^ ]*' "$2" | tail -1 | sed 's/Test unit written to //')
  echo "fuzz: $1 FAILED${unit:+, reproducer: $unit} (log: $2)"
  grep -m3 -E 'ERROR: |runtime error|mismatch' "$2" | sed 's/^/  /'
  failed=1
}

for t in $targets; do
  bin="$build/fuzz_$t"
  seeds="$root/tests/fuzz/corpus/$t"
  regressions="$root/tests/fuzz/regressions/$t"
  mkdir -p "$build/logs" "$build/artifacts/$t" "$build/corpus/$t"
  [ -x "$bin" ] || { echo "fuzz: no target $bin"; failed=1; continue; }
  [ -d "$seeds" ] || { echo "fuzz: no corpus $seeds"; failed=1; continue; }
  dirs=("$seeds")
  [ -d "$regressions" ] && dirs+=("$regressions")
  log="$build/logs/$t.replay.log"
  if "$bin" -runs=0 -artifact_prefix="$build/artifacts/$t/" "${dirs[@]}" >"$log" 2>&1; then
    echo "fuzz: $t replayed $(ls "${dirs[@]}" | grep -vc ':$\|^$') inputs"
  else
    report "$t" "$log"
    continue
  fi
  [ $mode = replay ] && continue
  log="$build/logs/$t.fuzz.log"
  # New inputs go to build-fuzz/corpus; the committed seeds stay as they are.
  if "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 \
       -artifact_prefix="$build/artifacts/$t/" "$build/corpus/$t" "${dirs[@]}" >"$log" 2>&1; then
    echo "fuzz: $t ran $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') inputs" \
         "in ${seconds}s, coverage $(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*') edges"
  else
    report "$t" "$log"
  fi
done
exit $failed
