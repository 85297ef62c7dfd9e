#!/usr/bin/env bash
# Runs a command (a zeroconf test) beside a system D-Bus and an Avahi daemon that serve the
# loopback interface only, so no announcement leaves the machine. Stops the services it started,
# also when the command fails, and exits with the command's status. Copies run one at a time.
#
# When the daemon is the script's own, the command finds its configuration in
# REMOTE_AVAHI_CONFIG and may stop and restart it.
set -u

state=/run/remote-zeroconf-test
mkdir -p "$state"
exec 9>"$state/lock"
flock 9

config="$state/avahi-daemon.conf"
cat >"$config" <<'EOF'
[server]
allow-interfaces=lo
use-ipv4=yes
use-ipv6=no
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-aaaa-on-ipv4=no
publish-hinfo=no
publish-workstation=no
EOF

bus_running() {
    dbus-send --system --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetId >/dev/null 2>&1
}

# avahi-daemon -c only looks at the pid file; the daemon answers on the bus once it serves.
avahi_answers() {
    avahi-daemon -c && dbus-send --system --print-reply --dest=org.freedesktop.Avahi / \
        org.freedesktop.Avahi.Server.GetState >/dev/null 2>&1
}

# Up to five seconds.
wait_for() {
    for _ in $(seq 50); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# A daemon's parent is the init process, which may take its time to reap it: a zombie is gone.
alive() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

dead() {
    ! alive "$1"
}

stop_pid() {
    local pid
    pid=$(cat "$1" 2>/dev/null)
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait_for dead "$pid"
    rm -f "$1"
}

# Every daemon starts without the lock's descriptor, which would otherwise hold the lock for as
# long as the daemon lives. The bus is started only when none answers, so a pid file left behind
# is stale.
start_bus() {
    rm -f /run/dbus/pid
    mkdir -p /run/dbus
    touch "$state/bus.ours"
    dbus-daemon --system --fork 9>&- && wait_for bus_running
}

stop_bus() {
    stop_pid /run/dbus/pid
    rm -f "$state/bus.ours"
}

start_avahi() {
    touch "$state/avahi.ours"
    avahi-daemon -D --no-chroot -f "$config" 9>&- && wait_for avahi_answers
}

stop_avahi() {
    stop_pid /run/avahi-daemon/pid
    rm -f "$state/avahi.ours"
}

# Avahi leaves out interfaces without multicast, and the loopback interface often has it off.
lo_multicast() {
    ip link show lo | grep -q MULTICAST
}

cleanup() {
    [ -e "$state/avahi.ours" ] && stop_avahi
    [ -e "$state/bus.ours" ] && stop_bus
    [ -e "$state/lo.ours" ] && ip link set lo multicast off && rm -f "$state/lo.ours"
}
trap cleanup EXIT

# The marks tell what this script started, also what a killed copy left behind; a copy that
# finds an Avahi daemon of its own starts it anew, with the configuration above.
[ -e "$state/avahi.ours" ] && stop_avahi
if ! lo_multicast; then
    ip link set lo multicast on || exit 1
    touch "$state/lo.ours"
fi
if ! bus_running; then
    start_bus || { echo "with-avahi: no system D-Bus" >&2; exit 1; }
fi
if ! avahi_answers; then
    start_avahi || { echo "with-avahi: avahi-daemon does not answer" >&2; exit 1; }
    export REMOTE_AVAHI_CONFIG="$config"
fi

"$@" 9>&- &
child=$!
trap 'kill -TERM $child 2>/dev/null' INT TERM
wait $child
status=$?
while kill -0 $child 2>/dev/null; do
    wait $child
    status=$?
done
exit $status
