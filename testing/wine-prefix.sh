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
cjk=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
link_cjk() {
  # The installer's skin asks for "Microsoft YaHei", which Wine lacks: it is drawn as
  # Tahoma, whose missing Chinese characters come from WenQuanYi Micro Hei (package
  # fonts-wqy-microhei) through font links, as Windows links its own CJK fonts.
  [ -f "$cjk" ] || return 0
  mkdir -p "$fonts"
  cp -n "$cjk" "$fonts/"
  local link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Microsoft YaHei' /t REG_SZ /d Tahoma /f > /dev/null 2>&1
  for face in Tahoma 'Tahoma Bold'; do
    wine reg add "$link" /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f > /dev/null 2>&1
  done
  wineserver -w || true
  touch "$prefix/.recovery-cjk"
}
if [ -f "$prefix/.recovery-ready" ]; then
  # A prefix made before the fonts were installed gets them now.
  [ -f "$fonts/tahoma.ttf" ] || copy_fonts
  [ -f "$prefix/.recovery-cjk" ] || link_cjk
  exit 0
fi
mkdir -p "$prefix"
wineboot -i > /dev/null 2>&1 || true
wineserver -w || true
# A crash must end the test, not wait for somebody to close a dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f > /dev/null 2>&1
copy_fonts
link_cjk
wineserver -w || true
touch "$prefix/.recovery-ready"
