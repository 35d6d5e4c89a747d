#!/usr/bin/env bash
# Makes the release from a clone: dist/Veldmoor-<version>-setup.exe (NSIS) and the
# portable dist/Veldmoor-<version>-win64.zip, then prints their SHA-256 sums. The
# version is the project version in CMakeLists.txt.
#   bash scripts/package.sh [--out DIR] [--prebuilt] [--version X.Y.Z]
# --prebuilt packages build/ as it is (no set-up, no build); --version labels the
# setup program with another version, which only the upgrade test uses.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=$root/dist
prebuilt=0
label=""
while [ $# -gt 0 ]; do
  case $1 in
    --out) out=$2; shift 2 ;;
    --prebuilt) prebuilt=1; shift ;;
    --version) label=$2; shift 2 ;;
    *) echo "usage: bash scripts/package.sh [--out DIR] [--prebuilt] [--version X.Y.Z]" >&2; exit 2 ;;
  esac
done

if [ $prebuilt = 0 ]; then
  bash scripts/setup.sh
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw --target Veldmoor veldmoor-cli
fi
build=$root/build
version=$(sed -n 's/^#define VELDMOOR_VERSION "\(.*\)"$/\1/p' "$build/generated/version.h")
[ -n "$version" ] || { echo "package: no version in $build/generated/version.h" >&2; exit 1; }
setup_version=${label:-$version}

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$build/Veldmoor.exe" "$build/veldmoor-cli.exe" "$stage/"
# Texts for Notepad: a UTF-8 byte-order mark and CRLF line ends.
as_windows_text() { printf '\xEF\xBB\xBF' >"$2"; sed 's/$/\r/' "$1" >>"$2"; }
as_windows_text res/使用说明.txt "$stage/使用说明.txt"
as_windows_text THIRD-PARTY "$stage/THIRD-PARTY.txt"

setup=$out/Veldmoor-$setup_version-setup.exe
zip=$out/Veldmoor-$version-win64.zip
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$setup_version" -DSTAGE="$stage" -DICON="$build/res/veldmoor.ico" \
  -DOUTFILE="$setup" res/setup.nsi >/dev/null
rm -f "$zip"
python3 - "$zip" "$stage" <<'PY'
import os, sys, zipfile
# Names outside ASCII are stored as UTF-8 and flagged so, which Windows' own unpacker honours.
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for name in ('Veldmoor.exe', 'veldmoor-cli.exe', '使用说明.txt', 'THIRD-PARTY.txt'):
        z.write(os.path.join(sys.argv[2], name), name)
PY
(cd "$out" && sha256sum "$(basename "$setup")" "$(basename "$zip")")
