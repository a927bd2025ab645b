#!/bin/sh
# Prepares the x86 lane on first use, in a cache folder that survives `make clean`:
# QEMU 10 user-mode emulation (qemu-user of the release's backports; the release's own
# QEMU ignores MAP_FIXED_NOREPLACE and each Wine start then spends minutes reserving
# memory) and Debian's Wine for both architectures (wine32 and libwine for i386, wine64
# and libwine for amd64, and their closure), downloaded with a private apt configuration
# (own state, cache and sources; the machine's mirrors) and unpacked with dpkg-deb into a
# private root. There Wine is whole, as on 64-bit Windows: the wineserver and the x64
# side run natively, only i386 code goes through QEMU. Nothing is installed
# system-wide, no foreign architecture is added, /usr/bin/wine stays the machine's.
# Later calls find the root ready and do nothing.
set -e
. "$(dirname "$0")/env.sh"

# Bump when what goes into the root changes; a ready root of another layout is rebuilt.
LAYOUT="tessaline-x86 2: wine32 libwine wine64:amd64 libwine:amd64, qemu-user from backports, zlib1.dll beside Wine's DLLs"
WINE_PACKAGES="wine32 libwine wine64:amd64 libwine:amd64"

[ -f "$X86_READY" ] && [ "$(cat "$X86_READY")" = "$LAYOUT" ] && exit 0

mkdir -p "$X86_CACHE" || x86_fail "cannot create the cache folder $X86_CACHE"
exec 9>"$X86_CACHE/lock"
flock 9
[ -f "$X86_READY" ] && [ "$(cat "$X86_READY")" = "$LAYOUT" ] && exit 0
echo "x86 lane: preparing the private Wine root in $X86_CACHE (first use: ~360 MB download, ~1.8 GB on disk)"

# What the lane needs from this machine.
[ "$(uname -m)" = x86_64 ] || x86_fail "needs an x86_64 machine (this is $(uname -m))"
for tool in apt-get apt-cache dpkg-deb tar unshare mount flock awk; do
  command -v "$tool" >/dev/null 2>&1 || x86_fail "needs '$tool' on the PATH"
done
if ! unshare --user --map-root-user --mount sh -c \
    'd=$(mktemp -d) && mount -t binfmt_misc binfmt_misc "$d" && umount "$d"; r=$?; rmdir "$d"; exit $r' 2>/dev/null; then
  x86_fail "this kernel ($(uname -r)) cannot mount binfmt_misc inside a user namespace;
  the lane needs Linux >= 6.7 (a binfmt_misc instance per user namespace) and user namespaces enabled"
fi
. /etc/os-release
codename=${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}

# Private apt configuration: i386 by default, amd64 for QEMU; empty dpkg status so the
# whole closure is fetched; nothing of the machine's apt state is read or written.
apt=$X86_CACHE/apt
mkdir -p "$apt/state/lists/partial" "$apt/cache/archives/partial" "$apt/etc/sources.list.d" \
  "$apt/etc/preferences.d" "$apt/etc/apt.conf.d" "$X86_CACHE/qemu"
: > "$apt/state/status"
cat > "$apt/apt.conf" <<CONF
Dir::State "$apt/state";
Dir::State::status "$apt/state/status";
Dir::Cache "$apt/cache";
Dir::Etc::SourceList "$apt/etc/sources.list";
Dir::Etc::SourceParts "$apt/etc/sources.list.d";
Dir::Etc::Preferences "$apt/etc/preferences";
Dir::Etc::PreferencesParts "$apt/etc/preferences.d";
Dir::Etc::Parts "$apt/etc/apt.conf.d";
APT::Architecture "i386";
APT::Architectures { "i386"; "amd64"; };
APT::Install-Recommends "false";
Acquire::Languages "none";
Debug::NoLocking "true";
APT::Sandbox::User "root";
CONF
sources=""
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && sources="$sources $f"
done
# shellcheck disable=SC2086
[ -n "$sources" ] && awk -v codename="$codename" -f "$X86_TOOLS/sources.awk" $sources > "$apt/etc/sources.list"
if ! grep -q " $codename-backports " "$apt/etc/sources.list" 2>/dev/null; then
  echo "x86 lane: no Debian mirror for '$codename' in the apt sources; using deb.debian.org"
  key=/usr/share/keyrings/debian-archive-keyring.gpg
  printf 'deb [signed-by=%s] http://deb.debian.org/debian %s main\n' "$key" "$codename" "$key" "$codename-backports" \
    > "$apt/etc/sources.list"
fi
export APT_CONFIG="$apt/apt.conf"
apt-get update -qq || x86_fail "apt-get update with the private sources ($apt/etc/sources.list) failed"

# Debian's Wine for both architectures and its closure.
# shellcheck disable=SC2086
apt-get install -d -y -qq $WINE_PACKAGES >/dev/null || x86_fail "downloading $WINE_PACKAGES (i386) failed"
# shellcheck disable=SC2086
debs=$(apt-get -s install -qq $WINE_PACKAGES | awk '/^Inst / && match($0, /\[(i386|amd64|all)\]/) {
  a=substr($0, RSTART + 1, RLENGTH - 2); v=$3; sub(/^\(/, "", v); sub(/:/, "%3a", v); n=$2; sub(/:.*/, "", n)
  print n "_" v "_" a ".deb"}')
[ -n "$debs" ] || x86_fail "apt found nothing to unpack for $WINE_PACKAGES"

# QEMU user-mode from backports: only its statically linked qemu-i386 is used.
qemudir=$X86_CACHE/qemu
rm -f "$qemudir"/qemu-user_*.deb
(cd "$qemudir" && apt-get download -qq "qemu-user:amd64/$codename-backports") \
  || x86_fail "downloading qemu-user from $codename-backports failed"
rm -rf "$qemudir/unpack" && mkdir "$qemudir/unpack"
dpkg-deb --fsys-tarfile "$qemudir"/qemu-user_*.deb | tar -x -C "$qemudir/unpack" ./usr/bin/qemu-i386 \
  || x86_fail "qemu-user carries no usr/bin/qemu-i386"
mv "$qemudir/unpack/usr/bin/qemu-i386" "$X86_QEMU" && rm -rf "$qemudir/unpack" "$qemudir"/qemu-user_*.deb
qemu_major=$("$X86_QEMU" --version | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
[ "${qemu_major:-0}" -ge 9 ] || x86_fail "qemu-i386 from backports is version ${qemu_major:-?}; the lane needs 9 or later"

# The root, built aside and moved into place whole.
new=$X86_CACHE/root.new
rm -rf "$new" && mkdir -p "$new"
for deb in $debs; do
  dpkg-deb -x "$apt/cache/archives/$deb" "$new" || x86_fail "unpacking $deb failed"
done
# Debian's user32.dll imports zlib1.dll, which is not on Wine's DLL path.
for arch in i386:i686 x86_64:x86_64; do
  windlls=$new/usr/lib/${arch%%:*}-linux-gnu/wine/${arch%%:*}-windows
  [ -d "$windlls" ] || x86_fail "the unpacked root has no ${arch%%:*} Wine"
  cp "$new/usr/${arch#*:}-w64-mingw32/lib/zlib1.dll" "$windlls/" || x86_fail "no ${arch#*:} MinGW zlib1.dll in the root"
done
[ -x "$new/usr/lib/wine/wine" ] && [ -x "$new/usr/lib/wine/wine64" ] && [ -x "$new/usr/lib/wine/wineserver64" ] \
  || x86_fail "the unpacked root lacks Wine's loaders or its wineserver"
mkdir -p "$new/proc" "$new/dev" "$new/tmp" "$new/root" "$new/work"
rm -rf "$X86_ROOT" && mv "$new" "$X86_ROOT"
# The downloaded packages stay for a later rebuild of the root; the indexes are fetched anew then.
rm -rf "$apt/state/lists" "$apt/cache/"*.bin
echo "$LAYOUT" > "$X86_READY"
echo "x86 lane: root ready ($(du -sh "$X86_ROOT" | cut -f1), qemu-i386 $("$X86_QEMU" --version | head -1 | awk '{print $3}'))"
