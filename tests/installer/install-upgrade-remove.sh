#!/usr/bin/env bash
# install-upgrade-remove.sh [<packages-dir>]
# The installer packages (scripts/build-msi.sh, default build/msi) checked with msiinfo, then the x64
# package walked through install -> major upgrade -> uninstall under Wine's msiexec in a private prefix
# (build/windows/msi-test/wineprefix, made and removed here), asserting as it goes. Last, the
# registration that the package wrote is compared with what the executable's own /Service writes.
# MSI logs stay in build/windows/msi-test/.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
cd "$OVLED_ROOT"

packages=$(cd "${1:-build/msi}" && pwd)
work="$OVLED_ROOT/build/windows/msi-test"
service='Orvex LED Control Service'
clsid='{361DC8C5-F8D3-4CA5-856B-946A98360025}'
# Everything /Service writes, key by key.
registration_keys=(
  'HKCR\AppID\{FAFF09A7-D8EC-4433-8397-431DB616F5BE}'
  'HKCR\OvLedService.LightControl'
  'HKCR\OvLedService.LightControl.1'
  "HKCR\\CLSID\\$clsid"
  'HKCR\TypeLib\{EDBE5A7E-664F-4DD7-9025-6A8DFED813CF}'
  'HKCR\Interface\{F5DA78B4-04C9-4C49-81C8-AAB9BC3189D4}'
  "HKLM\\System\\CurrentControlSet\\Services\\$service"
  "HKLM\\System\\CurrentControlSet\\Services\\EventLog\\Application\\$service"
)

passed=0
pass() { passed=$((passed + 1)); info "ok: $*"; }
check() { # check "what" command...
  local what=$1; shift
  if "$@"; then pass "$what"; else printf '%s passed, 1 failed\n' "$passed"; fail "$what"; fi
}

windows_path() { local p=${1//\//\\}; echo "Z:$p"; }

# --- The packages' tables ---------------------------------------------------------------------------
# table_field <msi> <table> <key> <column number>: one field of the row whose first column is <key>.
table_field() {
  msiinfo export "$1" "$2" | tr -d '\r' | awk -F'\t' -v k="$3" -v c="$4" 'NR > 3 && $1 == k { print $c }'
}
sequence_of() { table_field "$1" InstallExecuteSequence "$2" 3; }
in_order() { # in_order <msi> <action>...: each action is sequenced, each after the one before
  local msi=$1 previous=-1 action n; shift
  for action in "$@"; do
    n=$(sequence_of "$msi" "$action")
    [ -n "$n" ] && [ "$n" -gt "$previous" ] || { info "$action: sequence '${n}' not after $previous"; return 1; }
    previous=$n
  done
}
equals() { [ "$1" = "$2" ] || { info "'$1' is not '$2'"; return 1; }; }

check_tables() {
  local platform=$1 msi="$packages/OvLedService-$1.msi" folder attributes template
  case $platform in
    x64) folder=ProgramFiles64Folder attributes=256 template='x64;1033' ;;
    x86) folder=ProgramFilesFolder attributes=0 template='Intel;1033' ;;
  esac
  step "Package tables: $(basename "$msi")"
  [ -f "$msi" ] || fail "$msi is missing (scripts/build-msi.sh)"
  check "template $template" grep -q "Template: *$template\$" <(msiinfo suminfo "$msi")
  check "installed under $folder\\Orvex\\OvLedService" \
    equals "$(table_field "$msi" Directory INSTALLFOLDER 2)/$(table_field "$msi" Directory CompanyFolder 2)" "CompanyFolder/$folder"
  check "components for the platform" equals "$(table_field "$msi" Component ServiceComponent 4)" "$attributes"
  check "one service, automatic start, own process" \
    equals "$(msiinfo export "$msi" ServiceInstall | tail -n +4 | awk -F'\t' '{ print $4 "/" $5 }')" "16/2"
  check "started on install, stopped and deleted on uninstall, waited for" \
    equals "$(msiinfo export "$msi" ServiceControl | tail -n +4 | awk -F'\t' '{ print $3 "/" $5 }' | tr -d '\r')" "163/1"
  check "type library steps: deferred, rollback, uninstall" equals \
    "$(for a in RegisterTypeLibrary RegisterTypeLibraryRollback UnregisterTypeLibrary UnregisterTypeLibraryRollback; do
         table_field "$msi" CustomAction "$a" 2; done | paste -sd/)" "3090/3410/3154/3410"
  check "install order" in_order "$msi" FindRelatedProducts AppSearch AutomationServerNotRegistered InstallValidate \
    RemoveExistingProducts InstallFiles WriteRegistryValues RegisterTypeLibraryRollback RegisterTypeLibrary \
    InstallServices StartServices InstallFinalize
  check "removal order" in_order "$msi" StopServices DeleteServices UnregisterTypeLibraryRollback \
    UnregisterTypeLibrary RemoveRegistryValues RemoveFiles
  # Wine's installer applies neither table (so the folder's ACL and the recovery are only read back here):
  # the folder is locked before any file goes in, whatever INSTALLFOLDER says, and the recovery restarts.
  check "Windows Installer 5.0 or none: no engine ignores the tables below" \
    grep -q '^Version: 500 ' <(msiinfo suminfo "$msi")
  check "the installation folder's ACL: administrators and SYSTEM write, users read and run" equals \
    "$(msiinfo export "$msi" MsiLockPermissionsEx | tail -n +4 | tr -d '\r' | cut -f2-4)" \
    "$(printf 'INSTALLFOLDER\tCreateFolder\tO:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)')"
  check "the folder is the service component's" equals "$(table_field "$msi" CreateFolder INSTALLFOLDER 2)" ServiceComponent
  check "recovery: restart after 5 s, after 60 s, then nothing; reset after a day" equals \
    "$(msiinfo export "$msi" MsiServiceConfigFailureActions | tail -n +4 | tr -d '\r' | cut -f2-4,7-9)" \
    "$(printf "%s\t5\t86400\t1[~]1[~]0\t5000[~]60000[~]0\tServiceComponent" "$service")"
  check "the recovery is applied before the service starts" in_order "$msi" InstallServices MsiConfigureServices \
    StartServices
  check "the app starts at every logon from the machine's Run key (root 2: HKLM), with /logon" equals \
    "$(msiinfo export "$msi" Registry | tr -d '\r' | awk -F'\t' '$3 == "Software\\Microsoft\\Windows\\CurrentVersion\\Run" { print $2 "/" $4 "/" $5 "/" $6 }')" \
    '2/OvLedLighting/"[#OvLedLighting.exe]" /logon/AppComponent'
  check "the Start menu's shortcut opens the app's window" equals \
    "$(msiinfo export "$msi" Shortcut | tail -n +4 | tr -d '\r' | awk -F'\t' '{ print $2 "/" $5 "/" $6 }')" \
    'AppMenuFolder/[#OvLedLighting.exe]//show'
  check "the class names the installed executable" \
    equals "$(msiinfo export "$msi" Registry | tr -d '\r' | awk -F'\t' -v k="CLSID\\\\$clsid\\\\LocalServer32" '$3 == k { print $5 }')" \
    '"[#OvLedService.exe]"'
}

check_tables x64
check_tables x86

# --- The Wine prefix ----------------------------------------------------------------------------------
wine_env "$work"
stop_prefix() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap stop_prefix EXIT
mkdir -p "$work"
stop_prefix
step "A fresh Wine prefix ($WINEPREFIX)"
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true
wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null

install_dir="$WINEPREFIX/drive_c/Program Files/Orvex/OvLedService"
app_exe='C:\Program Files\Orvex\OvLedService\OvLedLighting.exe'
run_value() { wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v OvLedLighting 2>/dev/null | tr -d '\r'; }
shortcut() { find "$WINEPREFIX/drive_c" -name 'Orvex Lighting.lnk' 2>/dev/null | head -1; }
ovledctl() { wine 'C:\Program Files\Orvex\OvLedService\ovledctl.exe' "$@" 2>/dev/null | tr -d '\r'; }
service_running() { wine sc query "$service" 2>/dev/null | grep -q 'STATE *: *4 *RUNNING'; }
service_exists() { wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$service" >/dev/null 2>&1; }
msiexec() { # msiexec <log name> <arguments>...
  local log=$1; shift
  wine msiexec "$@" /qn /l*v "$(windows_path "$work/$log.log")" >/dev/null 2>&1
}
logged_missing_server() { grep -q '^Property(S): AUTOMATIONSERVERMISSING = ' "$work/$1.log"; }

# The registration: each key's values as "[key] value" lines, sorted (the order of values is the
# writer's); a missing key is one line that says so. The installer engine forms the service's image
# path from the component's key file, and Wine's engine writes it without the double quotes that
# /Service puts around it: those quotes are not compared. Wine's reg has been seen, once in some dozens
# of runs, to fail an export of a key that the installation's log shows written: a failed export is
# tried once more (and said on stderr), and a key is missing only when reg says that it cannot find it.
export_registration() {
  local key file="$work/export.reg" said="$work/export.said"
  exported() { wine reg export "$1" "$(windows_path "$file")" /y >"$said" 2>&1; }
  for key in "${registration_keys[@]}"; do
    if ! exported "$key"; then
      local first
      first=$(tr -d '\r' <"$said" | paste -sd' ')
      if ! exported "$key"; then
        if grep -q 'Unable to find' "$said"; then echo "[missing $key]"; else echo "[unreadable $key]"; fi
        continue
      fi
      info "(reg export '$key' failed once, then read: '$first')" >&2
    fi
    iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r' | sed -e ':a' -e '/\\$/N; s/\\\n *//; ta' |
      awk '/^\[/ { key = $0; print key; next } NF && !/^Windows Registry/ { print key " " $0 }' |
      sed -E 's/^(.* "ImagePath"=)"\\"(.*)\\""$/\1"\2"/'
  done | sort
}

# --- Install ------------------------------------------------------------------------------------------
step "Install: msiexec /i OvLedService-x64.msi /qn"
check "msiexec /i exits 0" msiexec install /i "$(windows_path "$packages/OvLedService-x64.msi")"
check "the log says that the automation server is not registered" logged_missing_server install
check "the service is running" service_running
check "ovledctl list answers through COM" grep -q '^device -1 (onboard): mode ' <(ovledctl list 1)
export_registration >"$work/installed.reg"
check "the app is installed, with its Run entry and its shortcut" eval \
  '[ -f "$install_dir/OvLedLighting.exe" ] && grep -qF "\"$app_exe\" /logon" <(run_value) && [ -n "$(shortcut)" ]'
# A user who turned "Start when I log on" off: the logon start ends at once, showing nothing.
wine reg add 'HKCU\Software\Orvex\OvLedLighting' /v StartAtLogon /t REG_DWORD /d 0 /f >/dev/null 2>&1
check "a logon start that the user turned off ends at once" timeout 30 wine "$app_exe" /logon
wine reg delete 'HKCU\Software\Orvex\OvLedLighting' /f >/dev/null 2>&1

# A user's settings: the service stopped so that nothing rewrites them; the onboard zone set to thermal.
check "the service stops" eval 'wine net stop "$service" >/dev/null 2>&1'
printf '<?xml version="1.0" encoding="UTF-8" standalone="no" ?>\n<root>\n    <mode>2</mode>\n    <isenable>1</isenable>\n</root>\n' \
  >"$install_dir/Lighting.xml"
printf '<?xml version="1.0" encoding="UTF-8" standalone="no" ?>\n<root />\n' >"$install_dir/lightingControl.xml"
cp "$install_dir/Lighting.xml" "$install_dir/lightingControl.xml" "$work/"

# --- Major upgrade ------------------------------------------------------------------------------------
version=$(table_field "$packages/OvLedService-x64.msi" Property ProductVersion 2)
IFS=. read -r major minor build _ <<<"$version"
newer="$major.$minor.$((build + 1))"
step "Upgrade: a newer package ($newer) over $version"
scripts/build-msi.sh --version "$newer" --out "$work/newer" x64 >/dev/null
# With the automation server's class registered, the installation has nothing to say about it.
wine reg add 'HKCR\bivorCom.axdata\CLSID' /ve /d '{00000000-0000-0000-0000-000000000001}' /f >/dev/null 2>&1 ||
  fail "cannot register a class under bivorCom.axdata"
check "msiexec /i of the newer package exits 0" msiexec upgrade /i "$(windows_path "$work/newer/OvLedService-x64.msi")"
check "a registered automation server is not reported missing" eval '! logged_missing_server upgrade'
wine reg delete 'HKCR\bivorCom.axdata' /f >/dev/null 2>&1 || fail "cannot remove bivorCom.axdata"
check "Lighting.xml is kept" cmp -s "$work/Lighting.xml" "$install_dir/Lighting.xml"
check "lightingControl.xml is kept" cmp -s "$work/lightingControl.xml" "$install_dir/lightingControl.xml"
check "the new service serves the kept modes" grep -q '^device -1 (onboard): mode 2 ' <(ovledctl list 0)
check "exactly one service runs the executable" equals \
  "$(wine reg export 'HKLM\System\CurrentControlSet\Services' "$(windows_path "$work/services.reg")" /y >/dev/null 2>&1
     iconv -f UTF-16 -t UTF-8 "$work/services.reg" | grep -ci '^"ImagePath"=.*OvLedService\.exe')" 1
check "exactly one product is installed" equals \
  "$(wine reg export 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' "$(windows_path "$work/products.reg")" /y >/dev/null 2>&1
     iconv -f UTF-16 -t UTF-8 "$work/products.reg" | grep -c '^"DisplayName"="OvLedService"')" 1
check "the registration is the same as before the upgrade" diff <(export_registration) "$work/installed.reg"

# --- Uninstall ----------------------------------------------------------------------------------------
step "Uninstall: msiexec /x ... /qn"
check "msiexec /x exits 0" msiexec uninstall /x "$(windows_path "$work/newer/OvLedService-x64.msi")"
check "no service" eval '! service_exists'
check "no class, ProgID, type library or interface registration" equals \
  "$(export_registration | grep -v -e '^\[missing' -e 'AppID')" ""
check "no LocalService value" eval "! wine reg query '${registration_keys[0]}' /v LocalService >/dev/null 2>&1"
check "the installed files are gone" eval '[ ! -e "$install_dir/OvLedService.exe" ] && [ ! -e "$install_dir/ovledctl.exe" ] && [ ! -e "$install_dir/OvLedLighting.exe" ]'
check "the app's Run entry is gone" eval "! wine reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run' /v OvLedLighting >/dev/null 2>&1"
check "the app's shortcut is gone" eval '[ -z "$(shortcut)" ]'
check "the user's settings stay" cmp -s "$work/Lighting.xml" "$install_dir/Lighting.xml"

# --- The same registration as /Service ----------------------------------------------------------------
step "The package's registration against /Service from the same place"
msiextract -C "$work/extracted" "$packages/OvLedService-x64.msi" >/dev/null
cp "$(find "$work/extracted" -name OvLedService.exe)" "$install_dir/"
service_exe() { OVLED_NO_MESSAGE_BOXES=1 wine 'C:\Program Files\Orvex\OvLedService\OvLedService.exe' "$@" >/dev/null 2>&1; }
check "/Service exits 0" service_exe /Service
check "the registry holds what /Service writes" diff <(export_registration) "$work/installed.reg"
check "/UnregServer exits 0" service_exe /UnregServer

printf '%s passed, 0 failed\n' "$passed"
