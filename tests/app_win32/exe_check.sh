#!/usr/bin/env bash
# The shipped .exe as a file, read on the build machine:
#   exe_check.sh PROGRAM.exe OBJDUMP
# 1. a 64-bit program for the GUI subsystem (no console window opens);
# 2. it imports system DLLs only: the C++ runtime, libgcc, winpthread, libpng
#    and zlib are inside it, so it runs on a clean Windows with nothing beside it;
# 3. its resources hold icon group 1 (the window icon), a manifest and the
#    version 1.0.2.
set -uo pipefail
exe=$1 objdump=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

headers=$("$objdump" -p "$exe") || fail "$objdump cannot read $exe"

grep -q '^Magic[[:space:]]*020b' <<<"$headers" || fail "not a 64-bit (PE32+) program"
grep -qE '^Subsystem[[:space:]]+0*2[[:space:]]+\(Windows GUI\)' <<<"$headers" ||
  fail "not a GUI-subsystem program: $(grep '^Subsystem' <<<"$headers")"
echo "ok: 64-bit program for the Windows GUI subsystem"

# DLLs that every Windows x64 installation has in its system folder.
system_dlls=" advapi32.dll comctl32.dll comdlg32.dll dwmapi.dll gdi32.dll kernel32.dll msimg32.dll msvcrt.dll "
system_dlls+="ntdll.dll ole32.dll oleaut32.dll shell32.dll shlwapi.dll user32.dll uxtheme.dll version.dll winmm.dll "
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || fail "no import table found"
for dll in $imports; do
  [[ "$system_dlls" == *" $dll "* ]] || fail "imports $dll, which is not a system DLL (all imports: $(echo $imports))"
done
echo "ok: imports system DLLs only: $(echo $imports)"
# DLLs loaded later (delay-loaded ones, which objdump does not list) are
# named in the program's data as plain strings.
named=$(strings -a "$exe" | grep -xiE '[a-z0-9_.+-]+\.dll' | tr 'A-Z' 'a-z' | sort -u)
for dll in $named; do
  [[ "$system_dlls" == *" $dll "* ]] || fail "names $dll, which is not a system DLL"
done
echo "ok: every DLL named in the program is a system DLL: $(echo $named)"

# The resource directory: type 14 (RT_GROUP_ICON) must name entry 1, and
# types 16 (RT_VERSION) and 24 (RT_MANIFEST) must be present. Second-level
# entries follow their type's line, indented one step further.
resources=$(sed -n '/^The .rsrc Resource Directory section:/,$p' <<<"$headers")
entries_of() {
  awk -v type="$1" '
    /^[0-9a-f]+   Entry: ID: / { sub(/,/, "", $4); intype = ($4 == type); next }
    /^[0-9a-f]+     Entry: ID: / && intype { sub(/,/, "", $4); print $4 }
  ' <<<"$resources"
}
[ "$(entries_of 0x00000e)" = 0x000001 ] || fail "icon group 1 missing (icon groups: $(entries_of 0x00000e))"
[ -n "$(entries_of 0x000010)" ] || fail "no version resource"
[ -n "$(entries_of 0x000018)" ] || fail "no manifest"
echo "ok: resources hold icon group 1, a version and a manifest"

# The version strings, as UTF-16 text in the resource data.
version=$(strings -el "$exe" | grep -A1 -x 'FileVersion' | tail -n1)
[ "$version" = 1.0.2 ] || fail "file version '$version', expected 1.0.2"
echo "ok: file version $version"
