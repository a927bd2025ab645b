#!/bin/sh
# `make panel`: the control panel under Wine with the virtual DAC, for a person to try, in
# its own prefix. The driver is registered and asiohost streams through it for a while
# (PCM, then native DSD64) so that the ASIO page has something to show.
#   panel.sh WIN64_BUILD_DIR
# With a display (DISPLAY set) the panel stays until it is ended from its tray menu ("Exit").
# Without one it runs under Xvfb and screenshots are written to WIN64_BUILD_DIR/panel-try-*.png.
#
# Wine reports Windows 10 to the panel, which finds the device among the virtual DAC's audio
# endpoints; the package key switches every page on (playback, record, ASIO, remote control).
set -e
win64=$(cd "$1" && pwd)
tools=$(cd "$(dirname "$0")" && pwd)
prefix="$win64/panel-prefix"
panel="$win64/panel/TessalineUsbAudioDevice2ACPLUI.exe"
dll="$win64/asiodriver/TessalineUsbAudioDevice2ASIO.dll"
host="$win64/asiohost/asiohost.exe"
for f in "$panel" "$dll" "$host"; do
  [ -f "$f" ] || { echo "panel: $f is not built" >&2; exit 1; }
done

if [ -z "$DISPLAY" ]; then
  PANEL_HEADLESS=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

"$tools/wine/init.sh" "$prefix"
trap '"$tools/wine/stop.sh" "$prefix"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" TESSALINE_VIRTUAL_DEVICE=1
wine reg add 'HKCU\Software\Wine\AppDefaults\TessalineUsbAudioDevice2ACPLUI.exe' /v Version /d win10 /f >/dev/null
wine reg add 'HKLM\SOFTWARE\Tessaline\Tessaline USB 2' /v PlayRecPP /t REG_DWORD /d 1 /f >/dev/null
wine reg add 'HKLM\SOFTWARE\Tessaline\Tessaline USB 2' /v RmtCtrlPP /t REG_DWORD /d 1 /f >/dev/null
wine reg add 'HKCU\Software\ASIO\Tessaline USB 2' /v BitsPerSample /t REG_DWORD /d 24 /f >/dev/null
wine reg add 'HKCU\Software\ASIO\Tessaline USB 2' /v BufferSize /t REG_DWORD /d 100 /f >/dev/null
wine regsvr32 /s "$(winepath -w "$dll")"

echo "== control panel: $panel"
wine "$panel" &
panelpid=$!
sleep 4
shot() { command -v import >/dev/null && import -window root "$win64/panel-try-$1.png" && echo "screenshot: $win64/panel-try-$1.png"; }
shot idle || true
echo "== asiohost streams PCM 48000 Hz for 12 s, then native DSD64 for 12 s"
wine "$host" play -d "Tessaline USB 2" -r 48000 --buffer-ms 10 -t 12 -q >/dev/null 2>&1 &
hostpid=$!
sleep 5; shot pcm || true
wait $hostpid || true
wine "$host" play -d "Tessaline USB 2" -r 2822400 --buffer-ms 10 -t 12 -q >/dev/null 2>&1 &
hostpid=$!
sleep 5; shot dsd64 || true
wait $hostpid || true

if [ -n "$PANEL_HEADLESS" ]; then
  echo "no display: the panel ends now"
else
  echo "the panel stays until Exit in its tray menu"
  wait $panelpid || true
fi
wine regsvr32 /u /s "$(winepath -w "$dll")" || true
