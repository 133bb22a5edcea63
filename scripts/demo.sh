#!/bin/sh
# Demo of fwdmaps on sample maps: builds the proxy's five maps with sample
# records in a private bpffs (its own mount and network namespaces, so the
# host's /sys/fs/bpf is never touched), then prints each of them.
# Usage: demo.sh <build dir>; needs root and bpftool.
set -eu
build=${1:-build}
tool=$(cd "$build" && pwd)/bin/fwdmaps
[ -x "$tool" ] || { echo "demo: $tool is not built" >&2; exit 1; }
command -v bpftool >/dev/null 2>&1 || PATH=$PATH:/usr/sbin:/sbin
command -v bpftool >/dev/null 2>&1 || { echo "demo: bpftool is not installed (make deps)" >&2; exit 1; }

if [ "${FWD_DEMO_INSIDE:-}" != 1 ]; then
    exec env FWD_DEMO_INSIDE=1 unshare --mount --net --propagation private sh "$0" "$build"
fi

mount -t bpf bpf /sys/fs/bpf
g=/sys/fs/bpf/tc/globals
mkdir -p "$g"
mk() { bpftool map create "$g/$1" type "$2" key "$3" value "$4" entries "$5" name "$1"; }
put() { map=$1; shift; bpftool map update pinned "$g/$map" "$@"; }

mk label_port_map hash 4 2 256
mk worker_port_map hash 2 4 256
mk bpf_fwd_stats percpu_array 4 8 4
mk bpf_fwd_err array 4 8 5
mk bpf_fwd_err_log hash 16 44 1024

# Label 42 -> port 443 and label 0xbeef -> port 8443 (ports in network order).
put label_port_map key 42 0 0 0 value 0x01 0xbb
put label_port_map key 0xef 0xbe 0 0 value 0x20 0xfb
# Worker ports 8080 and 3389.
put worker_port_map key 0x1f 0x90 value 1 0 0 0
put worker_port_map key 0x0d 0x3d value 1 0 0 0
# rx bytes 1500 and tx bytes 640 on every CPU.
put bpf_fwd_stats key 0 0 0 0 value 0xdc 0x05 0 0 0 0 0 0
put bpf_fwd_stats key 2 0 0 0 value 0x80 0x02 0 0 0 0 0 0
# 3 "lookup label" errors, 1 "do check sum".
put bpf_fwd_err key 2 0 0 0 value 3 0 0 0 0 0 0 0
put bpf_fwd_err key 4 0 0 0 value 1 0 0 0 0 0 0 0
# Error log: key time_ns(8) extra_id(4) pad(4); value dip(16) sip(16)
# err(4) ip_ver(2) l4proto(2) sport(2) dport(2).
z12="0 0 0 0 0 0 0 0 0 0 0 0"
put bpf_fwd_err_log key 0xe8 0x03 0 0 0 0 0 0 9 0 0 0 0 0 0 0 \
    value 10 0 0 2 $z12 10 0 0 1 $z12 2 0 0 0 4 0 6 0 0x9c 0x40 0x01 0xbb
put bpf_fwd_err_log key 0x64 0 0 0 0 0 0 0 1 0 0 0 0 0 0 0 \
    value 192 168 1 2 $z12 192 168 1 1 $z12 2 0 0 0 4 0 17 0 0x13 0xe9 0 53
put bpf_fwd_err_log key 5 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 \
    value 0x20 0x01 0x0d 0xb8 0 0 0 0 0 0 0 0 0 0 0 2 \
          0x20 0x01 0x0d 0xb8 0 0 0 0 0 0 0 0 0 0 0 1 \
          3 0 0 0 6 0 17 0 0x14 0xe9 0 53

run() {
    echo "\$ fwdmaps $*"
    status=0
    "$tool" "$@" || status=$?
    echo "(exit status $status)"
    echo
}
run
for map in label_port_map worker_port_map bpf_fwd_stats bpf_fwd_err bpf_fwd_err_log; do
    run "$map"
done
echo "# printing the error log consumed it:"
run bpf_fwd_err_log
