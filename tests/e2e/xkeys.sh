# Sourced by the end-to-end scripts: finding windows, comparing colours, keys.
#
# A key sent just as a window appears can be
# lost (it has not taken the focus yet), so keys are pressed until their effect
# shows: key_until WINDOW KEY COMMAND... gives WINDOW the focus, presses KEY and
# waits up to 3 s for COMMAND to succeed; three tries.
key_until() {
  local win=$1 key=$2
  shift 2
  for _ in 1 2 3; do
    timeout 2 xdotool windowfocus --sync "$win" >/dev/null 2>&1 ||
      timeout 2 xdotool windowactivate --sync "$win" >/dev/null 2>&1
    xdotool key --window "$win" "$key" 2>/dev/null
    for _ in $(seq 15); do
      "$@" && return 0
      sleep 0.2
    done
  done
  return 1
}

window_titled() { xdotool search --name "^$1\$" >/dev/null 2>&1; }
no_window_titled() { ! window_titled "$1"; }

# find_window TITLE-REGEX: prints the id of the window with that whole title, waiting up to 20 s.
find_window() {
  for _ in $(seq 100); do
    xdotool search --name "^$1\$" 2>/dev/null | head -1 | grep . && return 0
    sleep 0.2
  done
  echo "FAIL: no window titled '$1'" >&2
  return 1
}

# near "r g b" "r g b" TOLERANCE: every channel within the tolerance.
near() {
  local a=($1) b=($2)
  for i in 0 1 2; do
    local d=$((a[i] - b[i])); [ $d -lt 0 ] && d=$((-d))
    [ $d -le $3 ] || return 1
  done
}
