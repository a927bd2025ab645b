#!/bin/sh
# build.sh PACKAGE CERT KEY OUTDIR: signs the release files of the staged package and
# builds OUTDIR/Setup.exe from them, signed too; verifies every signature.
set -e
here=$(cd "$(dirname "$0")" && pwd)
package=$(cd "$1" && pwd) out=$4
for f in "$2" "$3"; do
  [ -f "$f" ] || { echo "setup: $f is missing (the co-installer's build makes it)" >&2; exit 1; }
done
# Absolute: makensis runs the uninstaller's signing command from the script's folder.
cert=$(realpath "$2") key=$(realpath "$3")
version=$(tr -d ' \r\n' < "$here/../VERSION")
mkdir -p "$out"
out=$(cd "$out" && pwd)
stage="$out/setup-files"
rm -rf "$stage"
cp -r "$package" "$stage"
# Test programs and the virtual DAC stay out of what a user installs.
find "$stage" \( -iname 'asiohost.exe' -o -iname 'asioprobe.exe' -o -iname 'asiostatus.exe' \
  -o -iname '*virtualdac*' -o -iname '*.debug' \) -exec rm -f {} +
# The uninstaller deletes exactly these files and folders, never a folder by wildcard:
# a copy of it run elsewhere must not empty that folder.
{
  (cd "$stage" && find . -type f | sort) | sed 's|^\./||; s|/|\\|g; s|.*|  Delete "$INSTDIR\\&"|'
  (cd "$stage" && find . -mindepth 1 -type d | sort -r) | sed 's|^\./||; s|/|\\|g; s|.*|  RMDir "$INSTDIR\\&"|'
} > "$out/installed-files.nsh"
signed=""
for f in $(find "$stage" -type f \( -iname '*.exe' -o -iname '*.dll' \) | sort); do
  sh "$here/sign.sh" "$cert" "$key" "$f"
  signed="$signed $f"
done
for target in amd64-unicode:Setup.exe x86-unicode:Setup-x86.exe; do
  makensis -V2 -DTARGET="${target%%:*}" -DVERSION="$version" -DPACKAGE_DIR="$stage" \
    -DOUT_FILE="$out/${target#*:}" -DFILES_NSH="$out/installed-files.nsh" -DSIGN_CMD="sh $here/sign.sh $cert $key" "$here/Setup.nsi"
  sh "$here/sign.sh" "$cert" "$key" "$out/${target#*:}"
done
for f in $signed "$out/Setup.exe" "$out/Setup-x86.exe"; do
  osslsigncode verify -CAfile "$cert" -in "$f" > "$out/verify.log" 2>&1 ||
    { cat "$out/verify.log" >&2; echo "setup: signature of $f does not verify" >&2; exit 1; }
  echo "signed and verified: ${f#$out/}"
done
echo "setup: $out/Setup.exe ($(stat -c %s "$out/Setup.exe") bytes), $out/Setup-x86.exe ($(stat -c %s "$out/Setup-x86.exe") bytes), version $version"
