#!/usr/bin/env bash
# Makes a private win32 Wine prefix fit for unattended tests (once per prefix).
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
fonts="$prefix/drive_c/windows/Fonts"
copy_fonts() {
  # Wine's own fonts (package fonts-wine): text is measured and drawn with Tahoma.
  mkdir -p "$fonts"
  cp -n /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
}
if [ -f "$prefix/.recovery-ready" ]; then
  # A prefix made before the fonts were installed gets them now.
  [ -f "$fonts/tahoma.ttf" ] || copy_fonts
  exit 0
fi
mkdir -p "$prefix"
wineboot -i > /dev/null 2>&1 || true
wineserver -w || true
# A crash must end the test, not wait for somebody to close a dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f > /dev/null 2>&1
copy_fonts
wineserver -w || true
touch "$prefix/.recovery-ready"
