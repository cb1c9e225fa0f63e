#!/usr/bin/env bash
# The Windows packages tried as a user would, under Wine in an installation of its own: the
# zip unpacked somewhere and its programs started from there; the installer run silently,
# the installed programs started (zelkctl also by name alone, through the PATH), the
# uninstaller listed and run, and nothing of the program left in Program Files, the Start
# menu, the registry or the PATH.
#
#   scripts/windows-package-check.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: scripts/windows-package-check.sh BUILD_DIR}" && pwd)
source "$here/wine-prefix.sh"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
zip_file=$build/ZelkConfig-$version-win64.zip
installer=$build/ZelkConfig-$version-setup.exe
for file in "$zip_file" "$installer"; do
    [ -f "$file" ] || { echo "windows-package-check: no $file (make windows-package)" >&2; exit 1; }
done

fail() {
    echo "windows-package-check: $*" >&2
    exit 1
}
trap wine_prefix_end EXIT
wine_prefix_start "$build"
drive=$WINEPREFIX/drive_c
environment='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZelkConfig'
start_menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/ZelkConfig"

# Runs a Windows command line; its stdout without CR in $said, its status checked.
run() {
    local status=0
    said=$("$WINE" "$@" 2>&1 | tr -d '\r') || status=$?
    [ "$status" -eq 0 ] || fail "$* ended with status $status: $said"
}
system_path() {
    "$WINE" reg query "$environment" /v Path 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_EXPAND_SZ *//p'
}

# --- The zip: one folder that runs where it is unpacked. --------------------------------
unpacked="$drive/users/Public/Downloads"
mkdir -p "$unpacked"
unzip -q "$zip_file" -d "$unpacked"
folder="C:\\users\\Public\\Downloads\\ZelkConfig-$version-win64"
run "$folder\\ZelkConfig.exe" --version
[ "$said" = "ZelkConfig $version" ] || fail "the unpacked ZelkConfig.exe --version said: $said"
run "$folder\\zelkctl.exe" help
[[ "$said" == "Usage: zelkctl COMMAND"* ]] || fail "the unpacked zelkctl.exe help said: $said"
echo "windows-package-check: the zip's programs start where it is unpacked"

# --- The installer, silently. ----------------------------------------------------------
path_before=$(system_path)
programs_before=$(ls "$drive/Program Files")
run "$installer" /S
installed="C:\\Program Files\\ZelkConfig"
[ -f "$drive/Program Files/ZelkConfig/ZelkConfig.exe" ] || fail "nothing in $installed"
run "$installed\\ZelkConfig.exe" --version
[ "$said" = "ZelkConfig $version" ] || fail "the installed ZelkConfig.exe --version said: $said"
run "$installed\\zelkctl.exe" help
[[ "$said" == "Usage: zelkctl COMMAND"* ]] || fail "the installed zelkctl.exe help said: $said"
# A console started now finds zelkctl by its name.
run cmd /c "cd /d C:\\users && zelkctl help"
[[ "$said" == "Usage: zelkctl COMMAND"* ]] || fail "zelkctl on the PATH said: $said"
[[ "$(system_path)" == "$path_before;$installed" ]] || fail "the PATH is now $(system_path)"
for entry in ZelkConfig.lnk "zelkctl command prompt.lnk" "Uninstall ZelkConfig.lnk"; do
    [ -f "$start_menu/$entry" ] || fail "no Start menu entry $entry"
done
run reg query "$uninstall_key" /v UninstallString
[[ "$said" == *"$installed\\Uninstall.exe"* ]] || fail "no uninstaller among the installed programs: $said"
echo "windows-package-check: installed, started, zelkctl on the PATH, in the Start menu," \
     "its uninstaller listed"

# --- The uninstaller, silently: it runs on from a copy of itself, so wait for Wine. ----
run "$installed\\Uninstall.exe" /S
wineserver -w
[ "$(ls "$drive/Program Files")" = "$programs_before" ] ||
    fail "left in Program Files: $(ls -R "$drive/Program Files/ZelkConfig" 2>/dev/null)"
[ ! -e "$start_menu" ] || fail "left in the Start menu: $(ls "$start_menu")"
! "$WINE" reg query "$uninstall_key" >/dev/null 2>&1 || fail "the uninstaller is still listed"
[ "$(system_path)" = "$path_before" ] || fail "the PATH is now $(system_path)"
echo "windows-package-check: uninstalled, nothing left behind"
