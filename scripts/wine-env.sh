# Sourced by the run and test scripts: one Xvfb, one Wine prefix, one warm wineserver.
# Idempotent; safe to source from several shells at once.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="$root/.deps/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

veldmoor_start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then return 0; fi
  local n=${VELDMOOR_DISPLAY:-97}
  export DISPLAY=":$n"
  if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
    Xvfb "$DISPLAY" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
    export VELDMOOR_XVFB_PID=$!
    for _ in $(seq 50); do xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break; sleep 0.1; done
  fi
}

veldmoor_prefix() {
  if [ ! -f "$WINEPREFIX/.veldmoor-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w
    # Chinese UI text: substitute the Windows UI font by an installed CJK font.
    local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
    wine reg add "$key" /v "Microsoft YaHei UI" /t REG_SZ /d "WenQuanYi Micro Hei" /f </dev/null >/dev/null 2>&1
    wine reg add "$key" /v "Microsoft YaHei" /t REG_SZ /d "WenQuanYi Micro Hei" /f </dev/null >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.veldmoor-ready"
  fi
}

veldmoor_warm_wine() {
  veldmoor_start_xvfb
  veldmoor_prefix
  # A persistent server and helpers started detached from any pipe, so that
  # test processes start in milliseconds and ctest's pipes are not held open.
  wineserver -p 2>/dev/null || true  # refuses when one already runs: that one is used
  wine wineboot </dev/null >/dev/null 2>&1 || true
  # No window manager runs on Xvfb: Wine would wait 2 s for one whenever a window
  # with a caption is hidden. The export dialog's tests open and close hundreds of
  # them, so that one test program runs unmanaged; the others keep managed windows,
  # which xdotool can focus and type into.
  # Popup menus draw with Tahoma: link it to the CJK font so Chinese items are not boxes.
  if [ ! -f "$WINEPREFIX/.veldmoor-fontlink" ]; then
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma \
      /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1 &&
      touch "$WINEPREFIX/.veldmoor-fontlink"
  fi
  if [ ! -f "$WINEPREFIX/.veldmoor-unmanaged-dialog" ]; then
    wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\AppDefaults\test_dialog.exe\X11 Driver' /v Managed /t REG_SZ /d N /f \
      </dev/null >/dev/null 2>&1 && touch "$WINEPREFIX/.veldmoor-unmanaged-dialog"
  fi
}
