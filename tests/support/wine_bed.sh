#!/usr/bin/env bash
# Runs a Windows program under Wine with simulated serial devices as its COM
# ports, sealed off from this machine's own serial devices:
#
#   wine_bed.sh --devsim PROGRAM --template DIR [--file NAME=BYTES]...
#               [--port COMn=SIMULATOR-ARGS]... [--link NAME=TARGET]...
#               -- WINDOWS-PROGRAM [ARG]...
#   wine_bed.sh ... --host -- COMMAND [ARG]...
#
#   --devsim    the device simulator, built for this machine
#   --template  a booted Wine prefix, created here (once, under a lock) when
#               missing; every run works on a copy of its own
#   --file      a file of BYTES random bytes in the run's work folder
#   --port      COMn is a new simulator started with the given arguments
#               (split at spaces; "{work}" stands for the work folder)
#   --link      the device NAME (any name; "\\.\NAME" opens it) leads to
#               TARGET: "port:COMn" for that port's line, else a path
#               ("{work}" allowed)
#   --host      COMMAND is a program of this machine that drives the session
#               itself (starts Windows programs with wine, reads the
#               simulators' messages in $FWU_BED_DIR/sim-COMn.out.log); its
#               output is passed on as it comes
#
# The program sees the work folder as FWU_BED_WORK (a Windows path; a --host
# command also gets it as FWU_BED_DIR, and WINEPREFIX). Wine maps
# every serial device it finds in /dev to a COM port at each session start,
# so the whole session (wineserver included) runs in new mount and process
# namespaces whose /dev holds no serial device and a pseudo-terminal instance
# of its own; when the run ends, every process in it ends with it.
#
# Exit status: the program's; 1 when a simulator saw the protocol broken;
# 77 when no private namespace can be made here (the test is skipped).
set -euo pipefail

if [ -z "${FWU_BED_INSIDE:-}" ]; then
  export FWU_BED_INSIDE=1
  flags=(--mount --pid --fork --kill-child --mount-proc)
  if [ "$(id -u)" -eq 0 ] && unshare "${flags[@]}" true 2>/dev/null; then
    exec unshare "${flags[@]}" "$0" "$@"
  elif unshare --map-root-user "${flags[@]}" true 2>/dev/null; then
    exec unshare --map-root-user "${flags[@]}" "$0" "$@"
  fi
  echo "wine_bed: no private mount namespace can be made here; skipped" >&2
  exit 77
fi

devsim="" template="" host=""
files=() ports=() links=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  case $1 in
    --devsim) devsim=$2; shift 2 ;;
    --template) template=$2; shift 2 ;;
    --file) files+=("$2"); shift 2 ;;
    --port) ports+=("$2"); shift 2 ;;
    --link) links+=("$2"); shift 2 ;;
    --host) host=1; shift ;;
    *) echo "wine_bed: unknown option $1" >&2; exit 2 ;;
  esac
done
[ "${1:-}" = "--" ] && [ $# -ge 2 ] && [ -n "$devsim" ] && [ -n "$template" ] ||
  { echo "usage: see the head of $0" >&2; exit 2; }
shift

# --- A /dev without serial devices (this namespace only) ---
mount --make-rprivate /
real=$(mktemp -d /tmp/fwu-bed-dev.XXXXXX)
mount --rbind /dev "$real"
mount -t tmpfs -o mode=0755,size=1m fwu-bed-dev /dev
for node in null zero full random urandom tty; do
  if [ -c "$real/$node" ]; then
    touch "/dev/$node"
    mount --bind "$real/$node" "/dev/$node"
  fi
done
if [ -d "$real/shm" ]; then
  mkdir /dev/shm
  mount --rbind "$real/shm" /dev/shm
fi
# A pseudo-terminal instance of our own: the simulators' lines live here.
mkdir /dev/pts
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 fwu-bed-pts /dev/pts
ln -s pts/ptmx /dev/ptmx
ln -s /proc/self/fd /dev/fd
ln -s /proc/self/fd/0 /dev/stdin
ln -s /proc/self/fd/1 /dev/stdout
ln -s /proc/self/fd/2 /dev/stderr
umount -l "$real"
rmdir "$real"

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# --- The template prefix, booted in a namespace like this one ---
mkdir -p "$template"
template=$(cd "$template" && pwd)
(
  flock 9
  if [ ! -f "$template/.ready" ]; then
    rm -rf "${template:?}"/*
    WINEPREFIX=$template wineboot -i >/dev/null 2>&1
    # Wine draws its own frames and handles focus without a window manager.
    WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    WINEPREFIX=$template wineserver -w
    touch "$template/.ready"
  fi
) 9>"$template.lock"

work=$(mktemp -d /tmp/fwu-bed.XXXXXX)
# The run's files live in memory, in this namespace only: they go with it,
# however the run ends.
mount -t tmpfs -o mode=0700,size=2g fwu-bed-work "$work"
sims=()
finish() {
  local status=$? pid
  WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1 || true
  for pid in "${sims[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  umount -R "$work" 2>/dev/null || true
  rmdir "$work" 2>/dev/null || rm -rf "$work"
  exit "$status"
}
trap finish EXIT

export WINEPREFIX=$work/prefix
mkdir "$WINEPREFIX" "$work/.changes" "$work/.overlay"
# The prefix is the template seen through an overlay (the template holds
# some 700 MB, nearly all of it only ever read); a plain copy where no
# overlay can be mounted.
if ! mount -t overlay -o "lowerdir=$template,upperdir=$work/.changes,workdir=$work/.overlay" fwu-bed-prefix \
     "$WINEPREFIX" 2>/dev/null; then
  cp -a "$template/." "$WINEPREFIX/"
fi
# The template's "wineserver" names its session: each run has its own.
rm -f "$WINEPREFIX"/dosdevices/com* "$WINEPREFIX/.ready" "$WINEPREFIX/wineserver"

for entry in "${files[@]}"; do
  head -c "${entry#*=}" /dev/urandom >"$work/${entry%%=*}"
done

# --- One simulator per port; its first line of output names its line ---
declare -A line_of
made=()
sim_logs=()
for entry in "${ports[@]}"; do
  name=${entry%%=*}
  args=${entry#*=}
  args=${args//\{work\}/$work}
  out="$work/sim-$name.out"
  # shellcheck disable=SC2086
  "$devsim" $args >"$out" 2>"$out.log" &
  sims+=($!)
  sim_logs+=("$name:$out.log")
  for _ in $(seq 200); do
    [ -s "$out" ] && break
    kill -0 "${sims[-1]}" 2>/dev/null || break
    sleep 0.05
  done
  [ -s "$out" ] || { echo "wine_bed: the simulator for $name did not start: $(cat "$out.log")" >&2; exit 1; }
  line_of[$name]=$(head -n1 "$out")
  ln -s "${line_of[$name]}" "$WINEPREFIX/dosdevices/${name,,}"
  made+=("${name,,}")
done
for entry in "${links[@]}"; do
  name=${entry%%=*}
  target=${entry#*=}
  case $target in
    port:*) target=${line_of[${target#port:}]} ;;
    *) target=${target//\{work\}/$work} ;;
  esac
  ln -s "$target" "$WINEPREFIX/dosdevices/${name,,}"
  made+=("${name,,}")
done

export FWU_BED_WORK="Z:${work//\//\\}"
export FWU_BED_DIR=$work

status=0
if [ -n "$host" ]; then
  "$@" || status=$?
else
  # A console program started in a freshly copied prefix has been seen to end
  # at once without any output; such a run is tried once more.
  for attempt in 1 2; do
    status=0
    wine "$@" >"$work/program.out" 2>&1 || status=$?
    [ -s "$work/program.out" ] && break
  done
  cat "$work/program.out"
fi

WINEPREFIX=$WINEPREFIX wineserver -k >/dev/null 2>&1 || true
WINEPREFIX=$WINEPREFIX wineserver -w >/dev/null 2>&1 || true

# Wine links every serial device it finds to a COM port: any port but ours
# is one of this machine's, and the session was not sealed.
for entry in "$WINEPREFIX"/dosdevices/com*; do
  [ -L "$entry" ] || continue
  case " ${made[*]} " in *" ${entry##*/} "*) continue ;; esac
  echo "wine_bed: the session saw a serial device of this machine: ${entry##*/} -> $(readlink "$entry")" >&2
  status=1
done

# A simulator that saw the protocol broken ends with a non-zero status.
for i in "${!sims[@]}"; do
  pid=${sims[$i]}
  kill -TERM "$pid" 2>/dev/null || true
  sim_status=0
  wait "$pid" || sim_status=$?
  if [ "$sim_status" -ne 0 ]; then
    log=${sim_logs[$i]#*:}
    echo "wine_bed: the simulator for ${sim_logs[$i]%%:*} ended with status $sim_status:" >&2
    cat "$log" >&2
    [ "$status" -ne 0 ] || status=1
  fi
done
sims=()
exit "$status"
