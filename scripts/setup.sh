#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing this project
# (run as root; idempotent), then cross-builds the source dependencies into the cache.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(
  # cross compilers (posix thread model) and build tools
  gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  cmake make pkg-config dpkg-dev tcl xz-utils ca-certificates
  # Windows programs under Wine, windows under Xvfb
  wine wine32:i386 xvfb xcompmgr x11-utils xdotool imagemagick
  # CJK text in the UI gallery and the installer's Chinese windows (linked to Tahoma)
  fonts-wqy-microhei
  # Debian-packaged dependencies
  libz-mingw-w64-dev libstb-dev googletest
  # Wine's own fonts (Tahoma and the rest), copied into each test prefix
  fonts-wine
  # fixture tools: file-system images, cross-checks, archives, test HTTP servers
  ntfs-3g dosfstools mtools exfatprogs sleuthkit testdisk fdisk gdisk p7zip-full zip
  python3 nginx-light 7zip attr
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Some kernels here cannot run 32-bit x86 code natively (no IA-32 emulation in the
# guest): run Wine's 32-bit side through qemu's user-mode emulation, registered for
# i386 ELF programs with binfmt_misc. qemu before 8 does not honour
# MAP_FIXED_NOREPLACE, which makes every Wine process spend a minute probing its
# address space, so the emulator comes from the distribution's backports.
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] || ! /usr/lib/wine/wineserver32 --version > /dev/null 2>&1; then
  qemu_major() { qemu-i386-static --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\).*/\1/p'; }
  if [ "$(qemu_major)" = "" ] || [ "$(qemu_major)" -lt 8 ]; then
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    bpo=/etc/apt/sources.list.d/recovery-backports
    if [ ! -f "$bpo.sources" ] && [ ! -f "$bpo.list" ]; then
      # Derived from the machine's own entries: same archive, the backports suite.
      if ls /etc/apt/sources.list.d/*.sources > /dev/null 2>&1; then
        for f in /etc/apt/sources.list.d/*.sources; do
          case "$f" in *recovery-*) continue ;; esac
          awk -v suite="$codename-backports" 'BEGIN { RS = ""; ORS = "\n\n" }
            /(^|\n)Types:[^\n]*deb/ && /(^|\n)Suites:[^\n]*[[:space:]]'"$codename"'([[:space:]]|$)/ {
              gsub(/(^|\n)Types:[^\n]*/, "\nTypes: deb"); gsub(/(^|\n)Suites:[^\n]*/, "\nSuites: " suite);
              sub(/^\n/, ""); print }' "$f" >> "$bpo.sources"
        done
      fi
      if [ -f /etc/apt/sources.list ]; then
        awk -v c="$codename" '$1 == "deb" && $3 == c { $3 = c "-backports"; print }' /etc/apt/sources.list > "$bpo.list"
      fi
    fi
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -t "$codename-backports" qemu-user-static
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  # Re-register, so that the entry holds the emulator installed now (flag F keeps it open).
  [ -e "$binfmt/qemu-i386" ] && echo -1 > "$binfmt/qemu-i386"
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    > "$binfmt/register"
  /usr/lib/wine/wineserver32 --version > /dev/null 2>&1 || { echo "setup: cannot run 32-bit Wine on this machine" >&2; exit 1; }
fi

# nginx is started by the tests that need it, never as a system service.
if command -v systemctl >/dev/null 2>&1; then systemctl disable --now nginx >/dev/null 2>&1 || true; fi
pkill -x nginx >/dev/null 2>&1 || true

"$here/deps.sh"
