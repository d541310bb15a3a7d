#!/bin/sh
# Installs the Debian packages named on the command line that are missing,
# when run as root; as another user it does nothing (a missing tool then
# shows up where it is used).
#
#   sh tools/install-packages.sh PACKAGE...
set -eu
[ "$(id -u)" = 0 ] || exit 0
missing=""
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
[ -n "$missing" ] || exit 0
echo "== installing:$missing"
apt-get update -q
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
