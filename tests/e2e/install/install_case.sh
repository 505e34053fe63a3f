#!/usr/bin/env bash
# The installer of the build's architecture (ORVANTIS_BITS) under Wine, in a
# pristine copy of the test run's prefix:
# a silent install into Program Files with a Start-menu entry and an
# Add/Remove Programs entry; the program started through that entry lists the
# served stations; the silent uninstall leaves the drive as it found it.
#
# usage: install_case.sh WORK_DIR SETUP STAGE DRIVER
#   SETUP  the installer; STAGE  the installed layout it packs
set -euo pipefail
work=$1 setup=$2 stage=$3 driver=$4
tag=e2e-install
bits=${ORVANTIS_BITS:?ORVANTIS_BITS names the architecture, 64 or 32}
# The run's display, before WINEPREFIX names our own prefix.
main_prefix=${WINEPREFIX:?WINEPREFIX names the test run prefix}
export DISPLAY=${DISPLAY:-:$(cat "$main_prefix.session/display")}
prefix=$work/prefix
rm -rf "$prefix"
mkdir -p "$work"
cp -a --reflink=auto "$main_prefix" "$prefix"
export WINEPREFIX=$prefix

drive=$prefix/drive_c
folder="$drive/Program Files/Orvantis"
installed_exe="C:\\Program Files\\Orvantis\\Orvantis$bits.exe"
process=${installed_exe#C:}
shortcut_file="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Orvantis ($bits Bit).lnk"
key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvantis$bits"
# The program finds what it needs beside itself, nothing from the build.
export ORVANTIS_DIST=$folder
source "$(dirname "$0")/../e2e_common.sh"
install=$folder

end_prefix() {
    cleanup
    /usr/lib/wine/wineserver -k 2>/dev/null || true
}
trap end_prefix EXIT

# Every path on the C: drive, but NSIS's copy of the uninstaller, which it
# leaves in the temporary folder for the next restart to remove.
drive_listing() {
    (cd "$drive" && find . | grep -v '^\./users/[^/]*/Temp/~nsu[0-9]*\.tmp' | sort)
}

registry() { "$wine_exec" reg query "$key" 2>/dev/null | tr -d '\r'; }
has_value() {
    grep -qxF "    $1    REG_SZ    $2" <<<"$values" || fail "registry $1 is not $2:"$'\n'"$values"
}

before=$(drive_listing)

"$wine_exec" "$setup" /S || fail "installer exit code $?"
want=$(cd "$stage" && find . -type f | sort; echo ./uninstall.exe)
got=$(cd "$folder" 2>/dev/null && find . -type f | sort) || true
[ "$got" = "$(sort <<<"$want")" ] || fail "installed files:"$'\n'"$got"
for file in "Orvantis$bits.exe" "Mivo$bits.dll" bass.dll lang/1031.dll lang/1033.dll; do
    cmp -s "$stage/$file" "$folder/$file" || fail "$file is not the packed one"
done
grep -qaF "$installed_exe" "$shortcut_file" 2>/dev/null || fail "no Start-menu entry for it"
values=$(registry) || fail "no Add/Remove Programs entry"
has_value DisplayName "Orvantis ($bits Bit)"
has_value DisplayVersion "$ORVANTIS_VERSION"
has_value InstallLocation 'C:\Program Files\Orvantis'
has_value UninstallString '"C:\Program Files\Orvantis\uninstall.exe"'

start_dirserver
exe=$installed_exe
start_program
check_list || true
[ -f "$folder/orvantis.ini" ] || fail "the program wrote no orvantis.ini"

"$wine_exec" 'C:\Program Files\Orvantis\uninstall.exe' /S || fail "uninstaller exit code $?"
# The uninstaller runs on from a copy of itself: wait for the folder to go.
deadline=$((SECONDS + 30))
while [ -e "$folder" ] && ((SECONDS < deadline)); do sleep 0.1; done
[ ! -e "$folder" ] || fail "left behind:"$'\n'"$(cd "$folder" && find .)"
[ ! -e "$shortcut_file" ] || fail "Start-menu entry left"
! registry >/dev/null || fail "Add/Remove Programs entry left"
after=$(drive_listing)
[ "$before" = "$after" ] || fail "the drive changed:"$'\n'"$(diff <(echo "$before") \
    <(echo "$after") | head -n 20)"

if ((failures)); then exit 1; fi
rm -rf "$prefix"
echo "install: ok"
