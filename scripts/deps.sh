#!/bin/sh
# Installs the Debian packages the project needs; silent when all are present.
set -eu
here=$(dirname "$0")
missing=""
for pkg in $(grep -v '^[[:space:]]*#' "$here/packages.txt" | tr -s ' \n' ' '); do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing="$missing $pkg"
    fi
done
[ -z "$missing" ] && exit 0
echo "deps: installing$missing"
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
