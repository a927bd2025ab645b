#!/bin/sh
# Makes the package's signing certificate once: make-certificate.sh DIR
#   DIR/package-signing.key   RSA 2048 private key (PEM, mode 600): never packaged
#   DIR/package-signing.pem   the self-signed certificate (PEM), for signing tools
#   DIR/NewCert.cer           the same certificate (DER), embedded in DrvPkgInst.exe
# A certificate that exists is kept, so every build of the tree embeds the same one.
set -eu
dir=$1
mkdir -p "$dir"
exec 9>"$dir/.lock"
flock 9
if [ -s "$dir/package-signing.key" ] && [ -s "$dir/package-signing.pem" ] && [ -s "$dir/NewCert.cer" ]; then
  exit 0
fi
tmp=$(mktemp -d "$dir/.new.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
cat >"$tmp/openssl.cnf" <<'CNF'
[req]
distinguished_name = dn
x509_extensions = codesign
prompt = no
[dn]
CN = Tessaline USB 2 Driver Package
O = Tessaline
[codesign]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, codeSigning
subjectKeyIdentifier = hash
CNF
umask 077
openssl req -x509 -new -newkey rsa:2048 -nodes -sha256 -days 3650 -config "$tmp/openssl.cnf" \
  -keyout "$tmp/package-signing.key" -out "$tmp/package-signing.pem" 2>/dev/null
umask 022
openssl x509 -in "$tmp/package-signing.pem" -outform DER -out "$tmp/NewCert.cer"
chmod 644 "$tmp/package-signing.pem" "$tmp/NewCert.cer"
mv "$tmp/package-signing.key" "$tmp/package-signing.pem" "$tmp/NewCert.cer" "$dir/"
