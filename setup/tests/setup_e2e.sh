#!/bin/sh
# End-to-end test of Setup.exe, the way a user runs it, in a fresh private Wine prefix:
# silent install, what it wrote, a host streaming through the installed driver, silent
# uninstall, nothing left behind, a second uninstall, an install over a leftover key.
#   setup_e2e.sh SETUP_DIR WIN64_BUILD CERT
set -u
setupdir=$(cd "$1" && pwd) win64=$(cd "$2" && pwd) cert=$3
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
prefix="$setupdir/e2e-prefix"
rm -rf "$prefix"
"$tools/wine/init.sh" "$prefix" || { echo "FAIL: cannot create the Wine prefix"; exit 1; }
trap '"$tools/wine/stop.sh" "$prefix"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# As Windows 7, where the co-installer registers the kernel-streaming variant.
wine winecfg -v win7 >/dev/null 2>&1

failed=0 passed=0
check() {  # check "what" command...
  what=$1; shift
  if "$@" >/dev/null 2>&1; then passed=$((passed + 1)); echo "  ok    $what"
  else failed=$((failed + 1)); echo "  FAIL  $what"; fi
}
# regval KEY NAME [/reg:32]: the value's data as reg.exe prints it, or nothing.
regval() {
  wine reg query "$1" /v "$2" ${3:-} 2>/dev/null | tr -d '\r' |
    awk -v n="$2" 'index($0, "    " n "    REG_") == 1 {
      sub(/^    /, ""); $0 = substr($0, length(n) + 5); sub(/^REG_[A-Z_]+    /, ""); print; exit }'
}
is() { [ "$(regval "$1" "$2" ${4:-})" = "$3" ]; }
nokey() { ! wine reg query "$1" ${2:-} >/dev/null 2>&1; }
novalue() { [ -z "$(regval "$1" "$2" ${3:-})" ]; }
hasvalue() { [ -n "$(regval "$1" "$2" ${3:-})" ]; }
# waitfor SECONDS command...: polls until the command succeeds.
waitfor() {
  limit=$1; shift; i=0
  while ! "$@" >/dev/null 2>&1; do
    i=$((i + 1)); [ "$i" -gt $((limit * 4)) ] && return 1; sleep 0.25
  done
}
now_ms() { date +%s%3N; }

pkey='HKLM\SOFTWARE\Tessaline\Tessaline USB 2'
ukey='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaline USB 2'
asiokey='HKLM\Software\ASIO\Tessaline USB 2'
runkey='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
ucpl='HKCU\Software\ASIO\Tessaline USB 2'
winroot="C:\\Program Files\\Tessaline\\Tessaline USB 2"
root="$prefix/drive_c/Program Files/Tessaline/Tessaline USB 2"
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tessaline USB 2"
thumb=$(openssl x509 -in "$cert" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
trusted() { wine reg query "HKLM\\Software\\Microsoft\\SystemCertificates\\$1\\Certificates\\$thumb" >/dev/null 2>&1; }
asiohost="$win64/asiohost/asiohost.exe"

echo "== Setup.exe /S ($(stat -c %s "$setupdir/Setup.exe") bytes)"
t0=$(now_ms); wine "$setupdir/Setup.exe" /S; rc=$?; t1=$(now_ms)
echo "  install took $((t1 - t0)) ms, exit status $rc"
check "setup exits 0" [ "$rc" -eq 0 ]
missing=$(cd "$setupdir/setup-files" && find . -type f | while read -r f; do [ -f "$root/$f" ] || echo "$f"; done)
check "every package file is installed${missing:+ (missing: $missing)}" [ -z "$missing" ]
check "uninstaller installed" [ -f "$root/Uninstall.exe" ]
check "the uninstaller is signed with the package certificate" osslsigncode verify -CAfile "$cert" -in "$root/Uninstall.exe"
for view in "" /reg:32; do
  check "package key InstallPath $view" is "$pkey" InstallPath "$winroot\\" "$view"
  check "package key CoInstallFlags (no restart when silent) $view" is "$pkey" CoInstallFlags 0xf "$view"
  check "package key AsioDllFileName $view" is "$pkey" AsioDllFileName TessalineUsbAudioDevice2ASIO.dll "$view"
  check "package key AsioWDllFileName $view" is "$pkey" AsioWDllFileName TessalineUsbAudioDevice2ASIOW.dll "$view"
  check "package key AcplExecFileName $view" is "$pkey" AcplExecFileName TessalineUsbAudioDevice2ACPLUI.exe "$view"
  for pp in PlayRecPP AsioDrvPP RmtCtrlPP; do check "package key $pp $view" is "$pkey" $pp 0x1 "$view"; done
done
check "CoInstallStatus is 80" is "$pkey" CoInstallStatus 0x50
check "ASIOCPL is the package folder" is "$ucpl" ASIOCPL "$winroot\\"
check "uninstall entry names the product" is "$ukey" DisplayName "Tessaline USB 2"
check "uninstall entry has the quiet uninstall command" is "$ukey" QuietUninstallString "\"$winroot\\Uninstall.exe\" /S"
check "Start-menu entry" [ -f "$shortcut/Tessaline USB 2 Control Panel.lnk" ]
check "autostart runs the installed control panel" waitfor 30 is "$runkey" "Tessaline USB 2 Control Panel" "$winroot\\TessalineUsbAudioDevice2ACPLUI.exe"
check "certificate trusted in the machine root store" waitfor 30 trusted ROOT
check "certificate trusted in the machine trusted-publisher store" waitfor 30 trusted TrustedPublisher
check "the ASIO driver is registered" waitfor 30 hasvalue "$asiokey" CLSID
check "asiohost list finds the installed driver" sh -c "wine '$asiohost' list | grep -q 'Tessaline USB 2'"
check "the registered server is the installed x64 driver" sh -c \
  "wine reg query 'HKCR\\CLSID\\$(regval "$asiokey" CLSID)\\InprocServer32' /ve | tr -d '\r' | grep -qiF 'Tessaline USB 2\\x64\\TessalineUsbAudioDevice2ASIO'"
echo "== asiohost check through the installed driver, virtual DAC"
TESSALINE_VIRTUAL_DEVICE=1 wine "$asiohost" check -d "Tessaline USB 2" > "$setupdir/e2e-check.txt" 2>&1
rc=$?; tr -d '\r' < "$setupdir/e2e-check.txt" | tail -1
check "asiohost check passes through the installed driver" [ "$rc" -eq 0 ]
if [ -f "$root/TessalineUsbAudioDevice2ACPLUI.exe" ]; then
  TESSALINE_VIRTUAL_DEVICE=1 wine "$root/x64/TessalineUsbAudioDevice2ACPLUI.exe" >/dev/null 2>&1 &
  panel=$!
  check "the installed control panel shows its window" waitfor 60 \
    xdotool search --onlyvisible --name "Tessaline USB Audio Control Panel2"
  kill "$panel" 2>/dev/null
fi

# A copy of the uninstaller in a folder of the user's, beside a file of theirs.
scratch="$setupdir/e2e-scratch"
rm -rf "$scratch"; mkdir -p "$scratch"
cp "$root/Uninstall.exe" "$scratch/Uninstall.exe"
echo "the user's own file" > "$scratch/notes.txt"
echo "== Uninstall.exe /S"
t0=$(now_ms); wine "$root/Uninstall.exe" /S; rc=$?
# The uninstaller runs from a temporary copy; it is done when its entry is gone.
waitfor 180 nokey "$ukey"; gone=$?; t1=$(now_ms)
echo "  uninstall took $((t1 - t0)) ms, exit status $rc"
check "uninstall finishes" [ "$gone" -eq 0 ]
check "no installed file remains" [ ! -e "$root" ]
check "no Tessaline folder remains" [ ! -e "$prefix/drive_c/Program Files/Tessaline" ]
check "package key removed (64-bit view)" nokey 'HKLM\SOFTWARE\Tessaline'
check "package key removed (32-bit view)" nokey 'HKLM\SOFTWARE\Tessaline' /reg:32
check "ASIOCPL removed" novalue "$ucpl" ASIOCPL
check "ASIO registration removed" nokey "$asiokey"
check "autostart value removed" novalue "$runkey" "Tessaline USB 2 Control Panel"
check "Start-menu entry removed" [ ! -e "$shortcut" ]

echo "== a second uninstall, from a copy of the uninstaller in another folder"
wine "$scratch/Uninstall.exe" /S; rc=$?
check "a second uninstall exits 0" [ "$rc" -eq 0 ]
check "it deletes nothing that it did not install" waitfor 30 sh -c \
  "[ ! -e '$scratch/Uninstall.exe' ] && [ -f '$scratch/notes.txt' ]"
check "and leaves no package key" nokey 'HKLM\SOFTWARE\Tessaline'

echo "== install over a leftover package key"
wine reg add "$pkey" /v CoInstallStatus /t REG_DWORD /d 80 /f >/dev/null 2>&1
wine reg add "$pkey" /v InstallPath /t REG_SZ /d 'C:\nowhere\' /f >/dev/null 2>&1
wine "$setupdir/Setup.exe" /S; rc=$?
check "setup over a leftover key exits 0" [ "$rc" -eq 0 ]
check "InstallPath rewritten" is "$pkey" InstallPath "$winroot\\"
check "CoInstallStatus is 80 again" is "$pkey" CoInstallStatus 0x50
check "the driver is registered again" waitfor 30 hasvalue "$asiokey" CLSID
wine "$root/Uninstall.exe" /S; waitfor 180 nokey "$ukey"

echo "== as Windows 10: the Core Audio variant"
wine winecfg -v win10 >/dev/null 2>&1
wine "$setupdir/Setup.exe" /S; rc=$?
check "setup as Windows 10 exits 0" [ "$rc" -eq 0 ]
check "the driver is registered" waitfor 30 hasvalue "$asiokey" CLSID
check "the registered server is the installed x64 Core Audio driver" sh -c \
  "wine reg query 'HKCR\\CLSID\\$(regval "$asiokey" CLSID)\\InprocServer32' /ve | tr -d '\r' | grep -qiF 'Tessaline USB 2\\x64\\TessalineUsbAudioDevice2ASIOW.dll'"
TESSALINE_VIRTUAL_DEVICE=1 wine "$asiohost" check -d "Tessaline USB 2" > "$setupdir/e2e-check-w.txt" 2>&1
rc=$?; tr -d '\r' < "$setupdir/e2e-check-w.txt" | tail -1
check "asiohost check passes through the installed Core Audio driver" [ "$rc" -eq 0 ]
wine "$root/Uninstall.exe" /S; waitfor 180 nokey "$ukey"; gone=$?
check "uninstall as Windows 10 finishes" [ "$gone" -eq 0 ]
check "ASIO registration removed" nokey "$asiokey"

echo "setup end-to-end: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
