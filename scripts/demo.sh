#!/bin/sh
# The live demo: the example agent attaches the test proxy to one end of a
# veth pair with BpfProxyInit and supervises its worker, the other end sends
# TCP and UDP traffic, and fwdmaps shows what the proxy's maps saw; a killed
# worker comes back, SIGTERM detaches, and a deliberate panic dumps core.
#
# Everything happens in private mount and network namespaces that vanish
# with their last process: no interface, pin or file outlives the run.
#
#    sh scripts/demo.sh [build directory]      (make demo)
set -eu

if [ "${FWD_DEMO_INSIDE:-}" != 1 ]; then
    build=$(cd "${1:-build}" && pwd)
    for prog in fwdmaps fwd_agent fwd_worker; do
        [ -x "$build/bin/$prog" ] || { echo "demo: $build/bin/$prog is missing; run make build" >&2; exit 1; }
    done
    for tool in clang tc ip nsenter unshare bash; do
        command -v "$tool" >/dev/null 2>&1 || { echo "demo: $tool is not installed (make deps)" >&2; exit 1; }
    done
    [ "$(id -u)" -eq 0 ] || { echo "demo: needs root for namespaces and tc" >&2; exit 1; }
    FWD_DEMO_INSIDE=1 exec unshare --mount --net --propagation private sh "$0" "$build"
fi

build=$1
src=$(cd "$(dirname "$0")/.." && pwd)
start=$(date +%s%N)
work=$(mktemp -d /tmp/fwd-demo.XXXXXX)
agent=
peer=
cleanup() {
    [ -n "$agent" ] && kill "$agent" 2>/dev/null
    [ -n "$peer" ] && kill "$peer" 2>/dev/null
    umount -l /etc /var "$work/sys" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

step() { printf '\n== %s\n' "$*"; }
# Shows a command as typed, then runs it with its output indented.
show() {
    printf '$ %s\n' "$*"
    status=0
    out=$("$@" 2>&1) || status=$?
    if [ -n "$out" ]; then printf '%s\n' "$out" | sed 's/^/    /'; else echo "    (nothing)"; fi
    [ "$status" -eq 0 ] || echo "    (exit status $status)"
}
inpeer() { nsenter -t "$peer" -n "$@"; }

# Only this mount namespace sees the bpffs the proxy pins its maps in.
mount -t bpf bpf /sys/fs/bpf
ip link set lo up
# The agent's configuration, desktop identity and log: /etc and /var are
# overlays whose writes land in a tmpfs of this namespace only.
mkdir "$work/sys"
mount -t tmpfs tmpfs "$work/sys"
for dir in /etc /var; do
    mkdir -p "$work/sys$dir/upper" "$work/sys$dir/work"
    mount -t overlay overlay -o "lowerdir=$dir,upperdir=$work/sys$dir/upper,workdir=$work/sys$dir/work" "$dir"
done
mkdir -p /etc/keltria /var/log/keltria
echo 'fwd_agent.log.filename = "/var/log/keltria/fwd_agent-$PID.log"' >/etc/keltria/config
# Waits until the log file $1 holds $2 lines matching $3.
await_log() {
    i=0
    until [ "$(grep -c "$3" "$1" 2>/dev/null || :)" -ge "$2" ] 2>/dev/null; do
        i=$((i + 1))
        if [ "$i" -gt 300 ] || ! kill -0 "$agent" 2>/dev/null; then
            echo "demo: the agent's log never showed \"$3\":" >&2
            cat "$1" "$work/agent.out" "$work/agent.err" >&2
            exit 1
        fi
        sleep 0.01
    done
}
registered='fwd_agent: worker port 8080 registered in worker_port_map: ok'

step "1. Build the test proxy for the bpf target"
sh "$src/tests/bpf/build.sh" "$work/fwdTestProxy.bpf.o"
echo "compiled tests/bpf/fwdTestProxy.bpf.c -> fwdTestProxy.bpf.o ($(wc -c <"$work/fwdTestProxy.bpf.o") bytes)"

step "2. A veth pair: fwd0 here, fwd0p in a peer namespace"
unshare --net sleep 60 &
peer=$!
sleep 0.1
ip link add fwd0 type veth peer name fwd0p netns "/proc/$peer/ns/net"
ip addr add 10.0.0.1/24 dev fwd0
ip -6 addr add fd00::1/64 dev fwd0 nodad
ip link set fwd0 up
inpeer ip addr add 10.0.0.2/24 dev fwd0p
inpeer ip -6 addr add fd00::2/64 dev fwd0p nodad
inpeer ip link set fwd0p up
echo "fwd0  10.0.0.1  fd00::1   (the agent's side)"
echo "fwd0p 10.0.0.2  fd00::2   (the peer)"

step "3. The agent attaches the proxy, starts its worker and registers the port it reports; label 42 -> 443"
echo "/etc/keltria/config names the agent's log file:"
sed 's/^/    /' /etc/keltria/config
echo "\$ fwd_agent fwdTestProxy.bpf.o 10.0.0.1 8080 42=443 &"
"$build/bin/fwd_agent" "$work/fwdTestProxy.bpf.o" 10.0.0.1 8080 42=443 >"$work/agent.out" 2>"$work/agent.err" &
agent=$!
log=/var/log/keltria/fwd_agent-$agent.log
await_log "$log" 1 "$registered"
echo "Its log file: the header; then the agent's lines (the worker's start, its message with the"
echo "password masked, the port registered, the counters once a second) and what the worker"
echo "prints, through the log redirection:"
show head -n 5 "$log"
show grep -e fwd_agent: -e Child.Process "$log"
show tc filter show dev fwd0 egress
show tc filter show dev fwd0 ingress
show ls /sys/fs/bpf/tc/globals

step "4. Traffic from the peer"
echo "TCP to the worker port 10.0.0.1:8080, echoed by the worker:"
inpeer timeout 5 bash -c 'exec 3<>/dev/tcp/10.0.0.1/8080; echo "hello over tcp" >&3; read -r l <&3; echo "    reply: $l"'
echo "UDP to the worker port 10.0.0.1:8080, echoed by the worker:"
inpeer timeout 5 bash -c 'exec 3<>/dev/udp/10.0.0.1/8080; echo "hello over udp" >&3; echo "    reply: $(timeout 2 head -n 1 <&3)"'
echo "UDP to 10.0.0.1:9999, a port with neither worker nor label (an IPv4 error record):"
inpeer bash -c 'echo lost >/dev/udp/10.0.0.1/9999' && echo "    sent"
echo "TCP to 10.0.0.1:7000, nobody listens (another IPv4 error record):"
inpeer timeout 5 bash -c 'exec 3<>/dev/tcp/10.0.0.1/7000' 2>/dev/null || echo "    connection refused"
echo "UDP to [fd00::1]:9999 (an IPv6 error record):"
inpeer bash -c 'echo lost >/dev/udp/fd00::1/9999' && echo "    sent"
sleep 0.2

step "5. What the maps hold, shown by fwdmaps"
echo "The test proxy counts every byte under rx/tx bytes and the worker port's under rx/tx end"
echo "bytes; a packet arriving for a port with neither worker nor label counts a \"lookup label\""
echo "error and leaves a record in the error log."
PATH=$build/bin:$PATH
show fwdmaps
for map in label_port_map worker_port_map bpf_fwd_stats bpf_fwd_err bpf_fwd_err_log; do
    show fwdmaps "$map"
done
echo "Printing the error log consumed it; a second run lists nothing:"
show fwdmaps bpf_fwd_err_log
echo "Live rates while the peer sends a datagram to the worker port every 0.1 s: fwdmaps --watch,"
echo "three samples a second apart (piped here, so a header and one time-stamped line each):"
inpeer bash -c 'for i in $(seq 25); do echo tick >/dev/udp/10.0.0.1/8080; sleep 0.1; done' &
ticker=$!
show fwdmaps --watch --count=3 bpf_fwd_stats
wait "$ticker" || true

step "6. kill -9 of the worker: the agent removes its port, restarts it and registers the port again"
worker=$(sed -n 's/.*fwd_agent: worker fwd_worker started, pid \([0-9]*\).*/\1/p' "$log")
seen=$(wc -l <"$log")
echo "\$ kill -9 $worker"
kill -9 "$worker"
await_log "$log" 2 "$registered"
echo "The agent's log since then:"
tail -n +"$((seen + 1))" "$log" | grep -v 'since the last line' | sed 's/^/    /'
echo "TCP to the worker port 10.0.0.1:8080 again, echoed by the new worker:"
inpeer timeout 5 bash -c 'exec 3<>/dev/tcp/10.0.0.1/8080; echo "hello again" >&3; read -r l <&3; echo "    reply: $l"'

step "7. SIGTERM: the proxy's callback jumps to the agent's jump point; it stops executor, worker, proxy and log"
echo "\$ kill -TERM \$agent"
kill -TERM "$agent"
status=0
wait "$agent" || status=$?
agent=
echo "    (exit status $status)"
sed -n '/fwd_agent: SIGTERM: stopping/,$s/^/    /p' "$log"
show tc filter show dev fwd0 egress
show tc filter show dev fwd0 ingress
show ls /sys/fs/bpf/tc/globals
echo "tc's complaints on the agent's standard error, from clearing up before attaching, when"
echo "there was nothing to remove yet:"
sed 's/^/    /' "$work/agent.err"

step "8. A deliberate fatal path: a VERIFY fails on the agent's executor thread"
mkdir "$work/panic"
echo "\$ ulimit -c unlimited; fwd_agent fwdTestProxy.bpf.o 10.0.0.1 8080 --fail-verify"
status=0
(cd "$work/panic" && ulimit -c unlimited &&
    exec "$build/bin/fwd_agent" "$work/fwdTestProxy.bpf.o" 10.0.0.1 8080 --fail-verify \
    >"$work/panic.out" 2>&1) || status=$?
echo "    (exit status $status)"
plog=$(ls -t /var/log/keltria/fwd_agent-*.log | head -n 1)
echo "Its log file's panic lines (the backtrace shortened, the message to the user left out):"
grep -E 'PANIC|Backtrace\[[0-2]\]|Core dumped|core file|Exiting' "$plog" | sed 's/^/    /'
core=$(sed -n 's/.*A core file is available in "\(.*\)"$/\1/p' "$plog")
[ -n "$core" ] && show stat -c '%n %s bytes' "$core"
echo "A panic leaves the proxy attached; the namespace takes it away."

step "Done in $((($(date +%s%N) - start) / 1000000)) ms; the namespaces, the veth pair and the pins end with this process."
