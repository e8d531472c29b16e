#!/bin/sh
# check-dll-interface.sh OBJDUMP DLL EXPECTED-EXPORTS
# Fails unless the DLL exports exactly the expected names (undecorated) and imports
# only DLLs that every Windows system has.
set -eu
objdump=$1 dll=$2 expected=$3
dump=$("$objdump" -p "$dll")
# Export names: the lines after "[Ordinal/Name Pointer] Table" look like "[   0] Name".
names=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]\{1,\}\([^[:space:]]\{1,\}\)$/\1/p' | LC_ALL=C sort)
want=$(LC_ALL=C sort "$expected")
if [ "$names" != "$want" ]; then
  echo "export names differ from $expected:"
  printf '%s\n' "$names" > /tmp/exports.$$; printf '%s\n' "$want" > /tmp/want.$$
  diff /tmp/want.$$ /tmp/exports.$$ || true
  rm -f /tmp/exports.$$ /tmp/want.$$
  exit 1
fi
echo "exports: $(printf '%s\n' "$names" | wc -l) names"
status=0
for lib in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
  case $(printf '%s' "$lib" | tr 'A-Z' 'a-z') in
    kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|msvcrt.dll|shell32.dll|ole32.dll|oleaut32.dll|\
    ws2_32.dll|shlwapi.dll|version.dll|ntdll.dll|crypt32.dll|bcrypt.dll|secur32.dll|comctl32.dll|\
    normaliz.dll|wldap32.dll|userenv.dll|api-ms-win-*.dll)
      echo "import: $lib" ;;
    *) echo "import of a non-system DLL: $lib"; status=1 ;;
  esac
done
[ $status -eq 0 ] && echo "ALL CHECKS PASSED"
exit $status
