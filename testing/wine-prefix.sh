#!/usr/bin/env bash
# Makes a private win32 Wine prefix fit for unattended tests (once per prefix).
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
[ -f "$prefix/.recovery-ready" ] && exit 0
mkdir -p "$prefix"
wineboot -i > /dev/null 2>&1 || true
wineserver -w || true
# A crash must end the test, not wait for somebody to close a dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f > /dev/null 2>&1
fonts="$prefix/drive_c/windows/Fonts"
mkdir -p "$fonts"
cp -n /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
wineserver -w || true
touch "$prefix/.recovery-ready"
