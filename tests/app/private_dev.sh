#!/usr/bin/env bash
# Runs a command with a private /dev in which chosen paths stand for serial
# ports:   private_dev.sh [NAME=TARGET]... -- COMMAND [ARG]...
# e.g.     private_dev.sh ttyUSB0=/dev/pts/7 -- fwupdater
# It must run inside a new mount namespace (unshare -m as root, or
# unshare -Urm without root); the real /dev is never touched: a tmpfs goes
# over /dev in this namespace only, the few device nodes programs need are
# bound back into it, and each NAME becomes a bind mount of its TARGET
# (a simulator's pseudo-terminal).
set -euo pipefail

links=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do links+=("$1"); shift; done
[ "${1:-}" = "--" ] || { echo "usage: $0 [NAME=TARGET]... -- COMMAND..." >&2; exit 2; }
shift

# Nothing mounted here may leak back into the parent namespace.
mount --make-rprivate /

real=$(mktemp -d /tmp/fwu-realdev.XXXXXX)
mount --rbind /dev "$real"
mount -t tmpfs -o mode=0755,size=1m fwu-dev /dev

for node in null zero full random urandom tty ptmx; do
  if [ -e "$real/$node" ] && [ ! -L "$real/$node" ]; then
    touch "/dev/$node"
    mount --bind "$real/$node" "/dev/$node"
  fi
done
[ -e /dev/ptmx ] || ln -s pts/ptmx /dev/ptmx
for dir in pts shm mqueue; do
  if [ -d "$real/$dir" ]; then
    mkdir "/dev/$dir"
    mount --rbind "$real/$dir" "/dev/$dir"
  fi
done
ln -s /proc/self/fd /dev/fd
ln -s /proc/self/fd/0 /dev/stdin
ln -s /proc/self/fd/1 /dev/stdout
ln -s /proc/self/fd/2 /dev/stderr

for link in "${links[@]}"; do
  name=${link%%=*}
  target=${link#*=}
  # A target under /dev is reached through the real /dev kept aside.
  case $target in /dev/*) target="$real/${target#/dev/}" ;; esac
  touch "/dev/$name"
  mount --bind "$target" "/dev/$name"
done

# The real /dev stays reachable through the bound nodes only.
umount -l "$real" 2>/dev/null || true
rmdir "$real" 2>/dev/null || true
exec "$@"
