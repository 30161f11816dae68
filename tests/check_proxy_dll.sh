#!/usr/bin/env bash
# Checks a counter-server proxy/stub DLL as built: the architecture its name
# promises, exactly the five entry points COM and regsvr32 look up,
# undecorated, and no run-time DLL that a user's machine would lack.
# usage: check_proxy_dll.sh OBJDUMP DLL
set -euo pipefail
objdump=$1 dll=$2

case "$(basename "$dll")" in
  kestrelps32.dll) format=pei-i386 ;;
  kestrelps64.dll) format=pei-x86-64 ;;
  *) echo "FAIL unexpected name $dll"; exit 1 ;;
esac
header=$($objdump -p "$dll")
case "$($objdump -f "$dll")" in
  *"file format $format"*) ;;
  *) echo "FAIL $dll is not $format"; exit 1 ;;
esac

expected=$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllRegisterServer \
  DllUnregisterServer GetProxyDllInfo)
actual=$(awk '
  /\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
  NF == 0 { inside = 0 }
  inside { print $NF }' <<<"$header" | sort)
if [ "$actual" != "$expected" ]; then
  echo "FAIL $dll exports:"; echo "$actual"; echo "expected exactly:"; echo "$expected"
  exit 1
fi

imports=$(awk '/DLL Name:/ { print toupper($3) }' <<<"$header" | sort -u)
for import in $imports; do
  case "$import" in
    KERNEL32.DLL | MSVCRT.DLL | RPCRT4.DLL | OLE32.DLL | OLEAUT32.DLL | ADVAPI32.DLL) ;;
    *) echo "FAIL $dll needs $import"; exit 1 ;;
  esac
done
echo "ok   $dll ($format) exports exactly: $(echo $actual); imports: $(echo $imports)"
