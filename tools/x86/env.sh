# Sourced by the x86 lane's scripts: where the private i386 root lives.
# The cache survives `make clean`; TESS_X86_CACHE chooses another place.
X86_CACHE=${TESS_X86_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/tessaline-x86}
X86_ROOT=$X86_CACHE/root
X86_QEMU=$X86_CACHE/qemu/qemu-i386
X86_READY=$X86_CACHE/ready
X86_TOOLS=$(cd "$(dirname "$0")" && pwd)
X86_SOURCE=$(cd "$X86_TOOLS/../.." && pwd)

x86_fail() {
  echo "x86 lane: $*" >&2
  exit 1
}
