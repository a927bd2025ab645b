#!/bin/sh
# sign.sh CERT KEY FILE: Authenticode-signs FILE in place with the package's code-signing
# certificate (no time stamp: the build has no network).
set -e
cert=$1 key=$2 file=$3
osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "Tessaline USB 2" \
  -i "https://tessaline.example/usb2" -in "$file" -out "$file.signed" >/dev/null
mv "$file.signed" "$file"
