#!/usr/bin/env bash
# Reads the DLL's export and import tables with objdump: the module must export
# IDL_Load alone and import exactly the host's five operations from idl.dll;
# beyond those it may import only from the system (kernel32.dll, msvcrt.dll).
# Usage: check_dll_tables.sh OBJDUMP DLL
set -euo pipefail
objdump=$1 dll=$2
tables=$("$objdump" -p "$dll")

# Export names: the lines "[ n] NAME" after "[Ordinal/Name Pointer] Table".
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
               on && /^\t\[ *[0-9]+\]/ { print $NF; next }
               on { on = 0 }' <<<"$tables")
# Imports as "DLL NAME" pairs: the member lines after each "DLL Name:".
imports=$(awk '/DLL Name:/ { dll = tolower($3); next }
               /^\tvma:/ { next }
               dll != "" && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print dll, $3; next }
               dll != "" && /^$/ { dll = "" }' <<<"$tables")

status=0
fail() {
  echo "FAIL: $*"
  status=1
}

[ "$exports" = IDL_Load ] || fail "exports are: $(echo $exports)"

expected_host="IDL_BasicTypeConversion IDL_MessageDefineBlock IDL_MessageFromBlock IDL_SysRtnAdd IDL_VarGetData"
host=$(awk '$1 == "idl.dll" { print $2 }' <<<"$imports" | sort | tr '\n' ' ' | sed 's/ $//')
[ "$host" = "$expected_host" ] || fail "imports from idl.dll are: $host"

dlls=$(awk '{ print $1 }' <<<"$imports" | sort -u | tr '\n' ' ' | sed 's/ $//')
[ "$dlls" = "idl.dll kernel32.dll msvcrt.dll" ] || fail "imports from: $dlls"

if [ $status -eq 0 ]; then
  echo "exports: $exports; imports from idl.dll: $host; imports from: $dlls"
fi
exit $status
