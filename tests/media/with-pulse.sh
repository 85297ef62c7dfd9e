#!/usr/bin/env bash
# Runs a command against a private PulseAudio server with known sound on it, so media tests hear
# and record real audio on a machine without a sound card:
#   default output "speakers", a null sink whose monitor the tests record to prove playback;
#   default input  "tone.monitor", a steady 1 kHz sine at half scale;
#   "drain", a null sink fed from both monitors by two loopbacks asking for 20 ms: a null sink
#   renders in blocks as long as its clients allow, up to two seconds, and a recorder would get
#   blocks that long.
# Wrapped commands take turns (flock): their timing checks (a region's stop, a three-second
# recording) need the machine more than they need to overlap. The command's exit code is the
# script's; the daemon's log follows a failure.
#   with-pulse.sh <command> [arguments...]
set -uo pipefail

[ $# -gt 0 ] || { echo "usage: $0 <command> [arguments...]" >&2; exit 2; }

exec 9>"${TMPDIR:-/tmp}/remote-with-pulse.lock"
flock 9

work=$(mktemp -d "${TMPDIR:-/tmp}/with-pulse.XXXXXX")
daemon=""
cleanup() {
    if [ -n "$daemon" ]; then
        kill "$daemon" 2>/dev/null
        wait "$daemon" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -m 700 -p "$work/run" "$work/home"
export XDG_RUNTIME_DIR="$work/run" HOME="$work/home" PULSE_SERVER="unix:$work/run/native"
unset PULSE_SINK PULSE_SOURCE

# The defaults come before the streams: PulseAudio moves the streams of the old default device
# to a new default, and the loopback from speakers.monitor would end up on tone.monitor.
cat > "$work/server.pa" <<PA
load-module module-native-protocol-unix socket=$work/run/native auth-anonymous=1
load-module module-null-sink sink_name=speakers rate=44100
load-module module-null-sink sink_name=tone rate=44100 channels=1
load-module module-null-sink sink_name=drain rate=44100
set-default-sink speakers
set-default-source tone.monitor
load-module module-sine sink=tone frequency=1000
load-module module-loopback source=speakers.monitor sink=drain latency_msec=20
load-module module-loopback source=tone.monitor sink=drain latency_msec=20
PA

pulseaudio --daemonize=no --exit-idle-time=-1 --system=false -n -F "$work/server.pa" \
    --use-pid-file=false --log-target=stderr 2> "$work/pulse.log" 9>&- &
daemon=$!

for _ in $(seq 100); do
    pactl info > /dev/null 2>&1 && break
    kill -0 "$daemon" 2>/dev/null || break
    sleep 0.1
done
if ! pactl info > /dev/null 2>&1; then
    echo "with-pulse: the PulseAudio server did not start" >&2
    cat "$work/pulse.log" >&2
    exit 1
fi

# A fresh server's first capture gets a fraction of its sound (0.15 to 0.4 s of 2 s here): capture
# once, so the command's first recording starts on a settled server.
timeout 2 parec --raw --format=s16le --rate=44100 --channels=1 > /dev/null 2>&1

# The lock stays with this script: a process the command leaves behind must not hold it.
"$@" 9>&-
status=$?
[ $status -eq 0 ] || cat "$work/pulse.log" >&2
exit $status
