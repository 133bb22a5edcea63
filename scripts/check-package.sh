#!/bin/sh
# Installs the fwdmaps .deb as on a clean machine and checks the installed
# tool, without changing the host: dpkg runs in a private mount namespace in
# which /usr, /etc and /var are overlays whose writable layer is a tmpfs, so
# the package's files and dpkg's database changes vanish with the namespace.
# Debian's own tools judge what it installs: lintian, mandoc, promtool and
# systemd-analyze (scripts/packages.txt installs them).
# Usage: check-package.sh <build dir>   (after `make package`)
set -eu
build=${1:-build}
src=$(cd "$(dirname "$0")/.." && pwd)
for tool in lintian mandoc promtool systemd-analyze bpftool; do
    command -v "$tool" >/dev/null ||
        { echo "package check: no $tool; scripts/deps.sh installs it" >&2; exit 1; }
done
deb=$(ls "$build"/package/fwdmaps_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "package check: no .deb in $build/package; run make package" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "package check: needs root for the private namespace" >&2; exit 1; }
deb=$(readlink -f "$deb")

version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
echo "package check: $(basename "$deb"), Depends: $depends"
case "$depends" in
*libc6*) ;;
*) echo "package check: Depends was not filled in from the shared libraries" >&2; exit 1 ;;
esac
case "$depends" in
*libicu[0-9]*) ;;
*) echo "package check: Depends does not name ICU, which the tool opens at run time" >&2; exit 1 ;;
esac

# Errors and warnings fail; an override in the package says why beside it.
lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$build/package/lintian.log" 2>&1 ||
    { cat "$build/package/lintian.log" >&2; echo "package check: lintian found faults" >&2; exit 1; }
echo "package check: lintian: no error or warning ($(grep -c '^[IPX]: ' "$build/package/lintian.log") other findings)"

host_status=$(md5sum /var/lib/dpkg/status)
was_installed=no
dpkg-query -W fwdmaps >/dev/null 2>&1 && was_installed=yes

scratch=$(mktemp -d)
trap 'rmdir "$scratch"' EXIT
unshare -m -n sh -eu -c '
    deb=$1 version=$2 scratch=$3 src=$4
    mount --make-rprivate /
    mount -t tmpfs fwdmaps-package-check "$scratch"
    for dir in usr etc var; do
        mkdir "$scratch/$dir.upper" "$scratch/$dir.work"
        mount -t overlay overlay \
            -o "lowerdir=/$dir,upperdir=$scratch/$dir.upper,workdir=$scratch/$dir.work" "/$dir"
    done

    fail() { echo "package check: $*" >&2; exit 1; }
    DEBIAN_FRONTEND=noninteractive dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 ||
        { cat "$scratch/dpkg.log" >&2; fail "dpkg -i failed"; }
    dpkg-query -W -f="\${Status}\n" fwdmaps | grep -qx "install ok installed" ||
        fail "dpkg does not list fwdmaps as installed"

    [ "$(command -v fwdmaps)" = /usr/bin/fwdmaps ] || fail "fwdmaps is not /usr/bin/fwdmaps"
    [ "$(fwdmaps --version)" = "fwdmaps $version" ] || fail "--version is not $version"
    fwdmaps --help | grep -q "^  bpf_fwd_err_log " || fail "--help lacks the maps"
    # The tool loads only what it calls: the agent side libraries stay out.
    ! readelf -d /usr/bin/fwdmaps | grep -E "NEEDED.*(crypto|ssl|boost|icu)" ||
        fail "fwdmaps needs a library of the agent side"
    printf "list all maps: label_port_map\tworker_port_map\tbpf_fwd_stats\tbpf_fwd_err\tbpf_fwd_err_log\t\n" \
        >"$scratch/list.expected"
    fwdmaps >"$scratch/list.out" || fail "fwdmaps without a map failed"
    cmp -s "$scratch/list.out" "$scratch/list.expected" || fail "the list line differs"
    fwdmaps --json | grep -q "\"maps\"" || fail "fwdmaps --json failed"

    # A configuration file in ISO-8859-1 is converted through ICU: the path
    # it names comes out in UTF-8 (caf\303\251), where no bpffs is mounted.
    mkdir -p /etc/keltria
    printf ".encoding = \"ISO-8859-1\"\nBpfProxy.FsPath = \"/nonexistent/caf\351\"\n" >/etc/keltria/config
    printf "fwdmaps: /nonexistent/caf\303\251/tc/globals/label_port_map: No such file or directory\n" \
        >"$scratch/latin1.expected"
    status=0
    fwdmaps bpf_fwd_err >"$scratch/latin1.out" 2>"$scratch/latin1.err" || status=$?
    [ "$status" -eq 255 ] || fail "fwdmaps with an ISO-8859-1 configuration exited with $status"
    cmp -s "$scratch/latin1.err" "$scratch/latin1.expected" ||
        { cat "$scratch/latin1.err" >&2; fail "the ISO-8859-1 configuration was not read"; }
    rm /etc/keltria/config

    man=/usr/share/man/man1/fwdmaps.1.gz
    [ -f "$man" ] || fail "no compressed man page at $man"
    zcat "$man" | groff -man -ww -z 2>"$scratch/groff.err" || fail "man page does not render"
    [ ! -s "$scratch/groff.err" ] || { cat "$scratch/groff.err" >&2; fail "man page warnings"; }
    mandoc -T lint "$man" >"$scratch/mandoc.log" 2>&1 || true
    [ ! -s "$scratch/mandoc.log" ] || { cat "$scratch/mandoc.log" >&2; fail "mandoc -T lint findings"; }

    # The alert rules: valid, the ones the repository tests, and their unit
    # tests pass.
    rules=/usr/share/fwdmaps
    for file in fwdmaps.rules.yml fwdmaps-no-traffic.rules.yml; do
        cmp -s "$rules/$file" "$src/tool/prometheus/$file" || fail "$rules/$file is not the tested one"
    done
    promtool check rules "$rules"/*.rules.yml >"$scratch/promtool.log" 2>&1 ||
        { cat "$scratch/promtool.log" >&2; fail "promtool check rules failed"; }
    promtool test rules "$src/tests/tool/prometheus/fwdmaps.rules.test.yml" >"$scratch/promtool.log" 2>&1 ||
        { cat "$scratch/promtool.log" >&2; fail "promtool test rules failed"; }

    # The metrics of live maps: the five pinned as the proxy declares them, on
    # a private bpffs, with some counts.
    mount -t bpf bpf /sys/fs/bpf
    pins=/sys/fs/bpf/tc/globals
    mkdir -p "$pins"
    pin() { bpftool map create "$pins/$1" type "$2" key "$3" value "$4" entries "$5" name "$1" ||
        fail "bpftool could not create $1"; }
    pin label_port_map hash 4 2 256
    pin worker_port_map hash 2 4 256
    pin bpf_fwd_stats percpu_array 4 8 4
    pin bpf_fwd_err array 4 8 5
    pin bpf_fwd_err_log hash 16 44 1024
    bpftool map update pinned "$pins/bpf_fwd_err" key 2 0 0 0 value 3 0 0 0 0 0 0 0
    bpftool map update pinned "$pins/bpf_fwd_stats" key 0 0 0 0 value 0xe8 3 0 0 0 0 0 0
    fwdmaps --prometheus -o "$scratch/fwdmaps.prom" || fail "fwdmaps --prometheus on live maps failed"
    grep -qxF "bpf_fwd_err_total{code=\"2\",error=\"lookup label\"} 3" "$scratch/fwdmaps.prom" ||
        fail "the live metrics lack the error count"
    promtool check metrics <"$scratch/fwdmaps.prom" >"$scratch/promtool.log" 2>&1 ||
        { cat "$scratch/promtool.log" >&2; fail "promtool check metrics findings"; }
    umount /sys/fs/bpf
    echo "package check: mandoc -T lint, promtool check rules, test rules and check metrics: clean"

    completion=/usr/share/bash-completion/completions/fwdmaps
    [ -f "$completion" ] || fail "no completion at $completion"
    got=$(bash --norc -c ". $completion; COMP_WORDS=(fwdmaps bpf_fwd_e); COMP_CWORD=1; _fwdmaps; echo \"\${COMPREPLY[*]}\"")
    [ "$got" = "bpf_fwd_err bpf_fwd_err_log" ] || fail "completion gave \"$got\""

    # The metrics service and timer: installed, not enabled, and valid where
    # systemd can check them.
    units=/usr/lib/systemd/system
    for unit in fwdmaps-metrics.service fwdmaps-metrics.timer; do
        [ -f "$units/$unit" ] || fail "no $unit in $units"
    done
    ! ls /etc/systemd/system/*.wants/fwdmaps-metrics.* >/dev/null 2>&1 ||
        fail "the package enabled its metrics units"
    systemd-analyze verify "$units/fwdmaps-metrics.service" "$units/fwdmaps-metrics.timer" \
        >"$scratch/verify.log" 2>&1 || { cat "$scratch/verify.log" >&2; fail "systemd-analyze verify failed"; }
    [ ! -s "$scratch/verify.log" ] || { cat "$scratch/verify.log" >&2; fail "systemd-analyze verify warnings"; }
    # The sandbox: an exposure of 2.0 or lower (the threshold counts tenths).
    systemd-analyze security --offline=true --threshold=20 "$units/fwdmaps-metrics.service" \
        >"$scratch/security.log" 2>&1 || { cat "$scratch/security.log" >&2; fail "the service is exposed above 2.0"; }
    echo "package check: $(grep "Overall exposure" "$scratch/security.log")"

    dpkg -r fwdmaps >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log" >&2; fail "dpkg -r failed"; }
    [ ! -e /usr/bin/fwdmaps ] || fail "dpkg -r left /usr/bin/fwdmaps"
    [ ! -e "$units/fwdmaps-metrics.timer" ] || fail "dpkg -r left the timer"
    echo "package check: installed, ran and removed fwdmaps $version in a private namespace"
' check-package "$deb" "$version" "$scratch" "$src"

# The host saw none of it.
[ "$(md5sum /var/lib/dpkg/status)" = "$host_status" ] || { echo "package check: host dpkg database changed" >&2; exit 1; }
if [ "$was_installed" = no ]; then
    if dpkg-query -W fwdmaps >/dev/null 2>&1 || [ -e /usr/bin/fwdmaps ]; then
        echo "package check: fwdmaps leaked onto the host" >&2
        exit 1
    fi
fi
