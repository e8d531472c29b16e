#!/usr/bin/env bash
# Cross-builds libcurl (Schannel), jsoncpp, SQLite and the 7z/LZMA C decoder from
# Debian's source packages into a prefix keyed by their versions, once.
# Prints nothing but progress; the prefix path is written to $DEPS_CACHE/current.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${DEPS_CACHE:-/var/cache/quorv-recovery-deps}
triple=i686-w64-mingw32
jobs=$(nproc)

ensure_deb_src() {
  # apt-get source needs deb-src entries: derive them from the machine's own deb entries.
  if apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx Sources; then return; fi
  local out=/etc/apt/sources.list.d/recovery-deps-src
  if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
    for f in /etc/apt/sources.list.d/*.sources; do
      # Our own backports entry (for the emulator) is not a source of dependencies.
      case "$f" in *recovery-*) continue ;; esac
      grep -q '^Types:.*\bdeb\b' "$f" || continue
      sed -e 's/^Types:.*/Types: deb-src/' "$f" >> "$out.sources"
      echo >> "$out.sources"
    done
  fi
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > "$out.list" || true
  fi
  apt-get update -q
}

src_version() {
  # The release's own version: backports' sources are not always kept on the mirror.
  apt-cache showsrc "$1" | awk '/^Version:/ {print $2}' | grep -v '~bpo' | sort -V | tail -n1
}

ensure_deb_src
v_curl=$(src_version curl)
v_json=$(src_version libjsoncpp)
v_sql=$(src_version sqlite3)
v_7z=$(src_version 7zip)
v_cc=$($triple-gcc-posix -dumpfullversion)
script_sum=$(sha256sum "$0" | cut -c1-12)
key=$(echo "curl=$v_curl json=$v_json sqlite=$v_sql 7zip=$v_7z gcc=$v_cc script=$script_sum" | sha256sum | cut -c1-16)
prefix=$cache/$key

if [ -f "$prefix/.complete" ]; then
  echo "dependencies: cached in $prefix"
  mkdir -p "$cache"; echo "$prefix" > "$cache/current"
  exit 0
fi

echo "dependencies: building into $prefix (curl $v_curl, jsoncpp $v_json, sqlite3 $v_sql, 7zip $v_7z)"
work=$(mktemp -d "${TMPDIR:-/tmp}/recovery-deps.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$prefix"; mkdir -p "$prefix/lib" "$prefix/include"
cd "$work"
apt-get source -q --download-only "curl=$v_curl" "libjsoncpp=$v_json" "sqlite3=$v_sql" "7zip=$v_7z" > "$work/source.log" 2>&1 \
  || { cat "$work/source.log"; exit 1; }
for dsc in *.dsc; do dpkg-source --no-check -x "$dsc" > /dev/null; done

toolchain=$here/../cmake/toolchain-i686-mingw.cmake
cmake_cross() {
  cmake -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" "$@" > "$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; exit 1; }
}

# libcurl: HTTP and HTTPS only, TLS through Schannel, static.
(
  cd curl-*/ && mkdir -p _b && cd _b
  cmake_cross .. -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DHTTP_ONLY=ON -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF \
    -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DCURL_USE_LIBPSL=OFF -DCURL_USE_LIBSSH2=OFF \
    -DCURL_DISABLE_LDAP=ON -DENABLE_UNIX_SOCKETS=OFF -DCURL_STATICLIB=ON
  make -j"$jobs" > build.log 2>&1 || { tail -50 build.log; exit 1; }
  make install > /dev/null
)
# jsoncpp: static library only.
(
  cd libjsoncpp-*/ && mkdir -p _b && cd _b
  cmake_cross .. -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF \
    -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF \
    -DJSONCPP_WITH_CMAKE_PACKAGE=OFF
  make -j"$jobs" > build.log 2>&1 || { tail -50 build.log; exit 1; }
  make install > /dev/null
)
# SQLite: the amalgamation, generated from the source tree when the package ships none.
(
  cd sqlite3-*/
  if [ ! -f sqlite3.c ]; then
    mkdir -p _gen && cd _gen
    ../configure --disable-tcl > ../gen.log 2>&1 || { tail -30 ../gen.log; exit 1; }
    make sqlite3.c > ../gen.log 2>&1 || { tail -30 ../gen.log; exit 1; }
    cp sqlite3.c sqlite3.h ..; cd ..
  fi
  $triple-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -DSQLITE_DEFAULT_FOREIGN_KEYS=0 \
    -c sqlite3.c -o sqlite3.o
  $triple-ar rcs "$prefix/lib/libsqlite3.a" sqlite3.o
  cp sqlite3.h "$prefix/include/"
)
# 7z/LZMA C decoder: the C sources of the 7zip package that reading a 7z archive needs.
(
  cd 7zip-*/C
  mkdir -p "$prefix/include/lzma7z"
  srcs="7zArcIn.c 7zDec.c LzmaDec.c Lzma2Dec.c Bcj2.c Bra86.c Bra.c 7zCrc.c 7zCrcOpt.c 7zStream.c 7zBuf.c 7zAlloc.c CpuArch.c 7zFile.c"
  for extra in BraIA64.c Delta.c 7zBuf2.c; do [ -f "$extra" ] && srcs="$srcs $extra"; done
  objs=""
  for s in $srcs; do
    $triple-gcc-posix -O2 -c "$s" -o "${s%.c}.o"
    objs="$objs ${s%.c}.o"
  done
  $triple-ar rcs "$prefix/lib/liblzma7z.a" $objs
  cp ./*.h "$prefix/include/lzma7z/"
)

{
  echo "curl $v_curl"; echo "libjsoncpp $v_json"; echo "sqlite3 $v_sql"; echo "7zip $v_7z"; echo "gcc $v_cc"
} > "$prefix/VERSIONS"
touch "$prefix/.complete"
echo "$prefix" > "$cache/current"
echo "dependencies: done"
