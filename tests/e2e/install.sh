#!/usr/bin/env bash
# The release as a Windows user gets it, in a Wine prefix of this test's own:
# makes the setup program and the zip from the build; installs silently and checks
# the files, the shortcut and the uninstall entry; opens a photo with the installed
# program; installs a newer setup program over it while it runs (it is asked to
# close) with open-with registered through the installer's option; uninstalls
# silently and checks that what setup made is gone and nothing else; starts the
# zip's program from an unpacked folder.
set -u
source "$(dirname "$0")/begin.sh"
source "$(dirname "$0")/testdata.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(dirname "$exe")
work=$outdir/install
pid=""
began=$(date +%s.%N)
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  wineserver -k 2>/dev/null
  rm -rf "$work/prefix"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
rm -rf "$work"
mkdir -p "$work/pictures"

# A fresh prefix, made while the setup programs are built: the shared test prefix
# keeps its registry, and every check here sees only what this run did.
export WINEPREFIX=$work/prefix
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"  # no menu entries on the host
wineboot -i </dev/null >/dev/null 2>&1 &
boot=$!
version=$(sed -n 's/^#define VELDMOOR_VERSION "\(.*\)"$/\1/p' "$build/generated/version.h")
IFS=. read -r major minor patch <<<"$version"
newer=$major.$minor.$((patch + 1))
bash "$root/scripts/package.sh" --prebuilt --out "$work/dist" | tee "$work/sums.txt" || fail "package.sh failed"
bash "$root/scripts/package.sh" --prebuilt --out "$work/newer" --version "$newer" >/dev/null ||
  fail "package.sh --version failed"
setup=$work/dist/Veldmoor-$version-setup.exe
zip=$work/dist/Veldmoor-$version-win64.zip
[ -f "$setup" ] && [ -f "$zip" ] || fail "package.sh did not make Veldmoor-$version-setup.exe and -win64.zip"
grep -q "^[0-9a-f]\{64\}  Veldmoor-$version-setup.exe$" "$work/sums.txt" || fail "no SHA-256 sum printed"
wait $boot
wineserver -p 2>/dev/null
wine wineboot </dev/null >/dev/null 2>&1
echo "prefix and setup programs ready after $(awk -v b="$began" -v n="$(date +%s.%N)" 'BEGIN { printf "%.1f", n - b }') s"

IFS=';' read -r profilew appdataw localw < <(wine cmd /c 'echo %USERPROFILE%;%APPDATA%;%LOCALAPPDATA%' | tr -d '\r')
profile=$(winepath -u "$profilew")
# Wine links the Desktop to the host's; this prefix keeps its own.
[ -L "$profile/Desktop" ] && rm "$profile/Desktop" && mkdir "$profile/Desktop"
instw="$localw\\Programs\\Veldmoor"
inst=$(winepath -u "$instw")
startlnk="$(winepath -u "$appdataw")/Microsoft/Windows/Start Menu/Programs/Veldmoor.lnk"
desklnk=$profile/Desktop/Veldmoor.lnk
uninst='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Veldmoor'
classes='HKCU\Software\Classes'
files=(Veldmoor.exe veldmoor-cli.exe 使用说明.txt THIRD-PARTY.txt uninstall.exe)
cp "$testdata/orientation/Landscape_1.jpg" "$work/pictures/"
photow=$(winepath -w "$work/pictures/Landscape_1.jpg")

# reg_value KEY NAME: the value's data ("" for the default value), nothing when absent.
reg_value() {
  local name=$2 flag=(/v "$2")
  [ -z "$name" ] && name='(Default)' flag=(/ve)
  wine reg query "$1" "${flag[@]}" 2>/dev/null | tr -d '\r' | awk -v n="$name" \
    '{ i = index($0, "    " n "    REG_") } i == 1 { s = substr($0, 9 + length(n)); sub(/^REG_[A-Z_]+    /, "", s); print s; exit }'
}
expect_value() {
  local got
  got=$(reg_value "$1" "$2")
  [ "$got" = "$3" ] || fail "$1 $2: '$got', expected '$3'"
}
key_exists() { wine reg query "$1" >/dev/null 2>&1; }
value_exists() { wine reg query "$1" /v "$2" >/dev/null 2>&1; }
# Installed KB as setup counts it: each file rounded up.
installed_kb() {
  local kb=0 f
  for f in Veldmoor.exe veldmoor-cli.exe 使用说明.txt THIRD-PARTY.txt; do
    kb=$((kb + ($(stat -c %s "$inst/$f") + 1023) / 1024))
  done
  echo $kb
}
start_veldmoor() {  # EXE: shows the photo in its window
  wine "$1" "$photow" </dev/null >>"$work/veldmoor.txt" 2>&1 &
  pid=$!
  win=$(find_window 'Landscape_1\.jpg - Veldmoor') || fail "$1 showed no window with the photo"
}

echo "-- silent install without the options"
wine "$setup" /S /DESKTOP=0 /OPENWITH=0 || fail "setup /S exit code $?"
for f in "${files[@]}"; do [ -f "$inst/$f" ] || fail "$instw\\$f is missing"; done
cmp -s "$inst/Veldmoor.exe" "$exe" || fail "the installed Veldmoor.exe is not the build's"
[ -f "$startlnk" ] || fail "no Start-menu shortcut"
python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); t = sys.argv[2]
sys.exit(t.encode() not in d and t.encode("utf-16-le") not in d)' "$startlnk" "$instw\\Veldmoor.exe" ||
  fail "the Start-menu shortcut does not point at $instw\\Veldmoor.exe"
[ -e "$desklnk" ] && fail "a desktop shortcut although /DESKTOP=0"
expect_value "$uninst" DisplayName Veldmoor
expect_value "$uninst" DisplayVersion "$version"
expect_value "$uninst" Publisher Quennick
expect_value "$uninst" DisplayIcon "$instw\\Veldmoor.exe,0"
expect_value "$uninst" UninstallString "\"$instw\\uninstall.exe\""
expect_value "$uninst" EstimatedSize "$(printf '0x%x' "$(installed_kb)")"
key_exists "$classes\\Veldmoor.jpg" && fail "open-with registered although /OPENWITH=0"

echo "-- the installed program opens a photo"
start_veldmoor "$inst/Veldmoor.exe"

echo "-- a newer setup program over it, with the default options"
echo "我的笔记" >"$inst/我的笔记.txt"
echo "changed" >>"$inst/使用说明.txt"
wine reg add "$classes\\.jpg\\OpenWithProgids" /v Other.jpg /t REG_SZ /d "" /f >/dev/null 2>&1
wine reg add "$classes\\Applications\\other.exe" /f >/dev/null 2>&1
wine "$work/newer/Veldmoor-$newer-setup.exe" /S || fail "the newer setup /S exit code $?"
# Setup returns once the process has ended (a moment's grace for Wine's own exit).
for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the running Veldmoor was not closed"
wait "$pid"
code=$?
pid=""
[ $code -eq 0 ] || fail "the running Veldmoor ended with $code"
expect_value "$uninst" DisplayVersion "$newer"
entries=$(wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
          grep -c 'DisplayName    REG_SZ    Veldmoor$')
[ "$entries" = 1 ] || fail "$entries uninstall entries after the upgrade"
grep -q changed "$inst/使用说明.txt" && fail "the upgrade left an old file in place"
[ -f "$desklnk" ] || fail "no desktop shortcut with the default options"
expect_value "$classes\\Veldmoor.jpg\\shell\\open\\command" "" "\"$instw\\Veldmoor.exe\" \"%1\""
expect_value "$classes\\.jpg\\OpenWithProgids" Veldmoor.jpg ""
expect_value "$classes\\Applications\\Veldmoor.exe" FriendlyAppName Veldmoor

echo "-- silent uninstall"
wine "$inst/uninstall.exe" /S || fail "uninstall /S exit code $?"
# The uninstaller goes on from a copy of itself; the uninstall entry goes last.
for _ in $(seq 100); do key_exists "$uninst" || break; sleep 0.2; done
key_exists "$uninst" && fail "the uninstall entry stayed"
for f in "${files[@]}"; do [ -e "$inst/$f" ] && fail "$f stayed"; done
[ -e "$startlnk" ] && fail "the Start-menu shortcut stayed"
[ -e "$desklnk" ] && fail "the desktop shortcut stayed"
key_exists "$classes\\Veldmoor.jpg" && fail "the open-with registration stayed"
key_exists "$classes\\Applications\\Veldmoor.exe" && fail "Applications\\Veldmoor.exe stayed"
value_exists "$classes\\.jpg\\OpenWithProgids" Veldmoor.jpg && fail ".jpg still offers Veldmoor.jpg"
[ -f "$inst/我的笔记.txt" ] || fail "the user's file in the install folder went"
[ -f "$work/pictures/Landscape_1.jpg" ] || fail "the photo went"
expect_value "$classes\\.jpg\\OpenWithProgids" Other.jpg ""
key_exists "$classes\\Applications\\other.exe" || fail "another program's open-with entry went"

echo "-- the zip, unpacked"
python3 - "$zip" "$work/portable" <<'PY' || fail "the zip's contents are wrong"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = sorted(i.filename for i in z.infolist())
    assert names == sorted(['Veldmoor.exe', 'veldmoor-cli.exe', '使用说明.txt', 'THIRD-PARTY.txt']), names
    assert z.getinfo('使用说明.txt').flag_bits & 0x800, 'the Chinese name is not flagged as UTF-8'
    for text in ('使用说明.txt', 'THIRD-PARTY.txt'):
        data = z.read(text)
        assert data.startswith(b'\xef\xbb\xbf') and b'\r\n' in data and b'\n' not in data.replace(b'\r\n', b''), text
    z.extractall(sys.argv[2])
PY
cmp -s "$work/portable/Veldmoor.exe" "$exe" || fail "the zip's Veldmoor.exe is not the build's"
start_veldmoor "$work/portable/Veldmoor.exe"
xdotool key --window "$win" alt+F4 2>/dev/null
wait "$pid"
code=$?
pid=""
[ $code -eq 0 ] || fail "the unpacked Veldmoor ended with $code"
echo "took $(awk -v b="$began" -v n="$(date +%s.%N)" 'BEGIN { printf "%.1f", n - b }') s"
echo "PASS"
