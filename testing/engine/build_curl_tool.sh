#!/usr/bin/env bash
# Cross-builds the curl command-line tool for 32-bit Windows from Debian's curl sources,
# with the same options as the product's libcurl, for the download benchmark only.
#   build_curl_tool.sh OUT_DIR      -> OUT_DIR/curl.exe
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
[ -x "$out/curl.exe" ] && exit 0
work=$(mktemp -d "${TMPDIR:-/tmp}/curl-tool.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
apt-get source -q --download-only curl > source.log 2>&1 || { cat source.log; exit 1; }
dpkg-source --no-check -x curl_*.dsc > /dev/null
cd curl-*/ && mkdir -p _b && cd _b
cmake -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$here/../../cmake/toolchain-i686-mingw.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=ON -DBUILD_TESTING=OFF \
  -DENABLE_MANUAL=OFF -DHTTP_ONLY=ON -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=OFF \
  -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DCURL_USE_LIBPSL=OFF \
  -DCURL_USE_LIBSSH2=OFF -DCURL_DISABLE_LDAP=ON -DENABLE_UNIX_SOCKETS=OFF -DCURL_STATICLIB=ON \
  .. > cmake.log 2>&1 || { tail -40 cmake.log; exit 1; }
make -j"$(nproc)" curl > build.log 2>&1 || { tail -40 build.log; exit 1; }
cp src/curl.exe "$out/curl.exe"
echo "curl tool: $out/curl.exe"
