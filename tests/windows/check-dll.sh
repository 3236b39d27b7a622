#!/usr/bin/env bash
# quillon.dll exports exactly the twelve entry points, undecorated, and imports only DLLs that
# every Windows has.
#   check-dll.sh <objdump> <quillon.dll>
set -euo pipefail
objdump=$1 dll=$2
dump=$("$objdump" -p "$dll")
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort)
expected=$(printf '%s\n' CreateIPCapture CreateIPCaptureEx CreateIPCaptureEx2 CreateIPCaptureEx3 \
  DeleteIPCapture DeleteIPCaptureEx DeleteIPCaptureEx2 DeleteIPCaptureEx3 \
  InitCapabilityQuery StartCapabilityQuery TerminateCapabilityQuery UninitCapabilityQuery | sort)
status=0
if [ "$exports" != "$expected" ]; then
  echo "exports differ from the twelve entry points:"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$exports") || true
  status=1
fi
# System DLLs only: no libgcc, libstdc++ or winpthread DLL, nothing from a toolchain.
allowed='^(kernel32|user32|advapi32|ws2_32|winhttp|version|bcrypt|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+|ntdll|ole32|oleaut32|shell32|crypt32|secur32)\.dll$'
imports=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || { echo "no import table found"; status=1; }
for d in $imports; do
  [[ $d =~ $allowed ]] || { echo "imports a DLL that is not part of Windows: $d"; status=1; }
done
echo "exports: $(echo $exports)"
echo "imports: $(echo $imports)"
exit $status
