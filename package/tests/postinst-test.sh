#!/usr/bin/env bash
# Checks when the package's postinst applies the udev rule: on configure with
# udev running, never without udev, in another root (DPKG_ROOT) or on other
# actions. /run is replaced by an empty tmpfs in a private mount namespace,
# so the machine's own udev is neither seen nor touched. The test removes
# /run/udev as root, so it runs only once that /run is known to be its own:
# where no namespace can be made (no root, no unshare), or the mount is
# refused or not private (a security module, a partly privileged
# container), it is skipped (77) before anything is removed.
#   postinst-test.sh PATH/TO/postinst
set -u
postinst=$1
skip() { echo "$*: skipped"; exit 77; }
if [ "${KYVO_IN_NAMESPACE:-}" != 1 ]; then
  unshare -m --propagation private true 2>/dev/null || skip "no private mount namespace here"
  exec env KYVO_IN_NAMESPACE=1 KYVO_OUTER_MOUNTS="$(readlink /proc/self/ns/mnt)" \
    unshare -m --propagation private bash "$0" "$@"
fi
[ "$(readlink /proc/self/ns/mnt)" != "${KYVO_OUTER_MOUNTS:-}" ] ||
  skip "not in a mount namespace of its own"

stub=$(mktemp -d)
trap 'rm -rf "$stub"' EXIT
printf '#!/bin/sh\necho "$*" >>"%s/calls"\n' "$stub" >"$stub/udevadm"
chmod +x "$stub/udevadm"
outer_run=$(stat -c %d /run)
mount -t tmpfs none /run || skip "/run cannot be mounted here"
# Mounted, private, and a file system of its own that is empty: anything
# else means the machine's /run is still in reach.
[ "$(stat -c %d /run)" != "$outer_run" ] || skip "/run is still the machine's after mounting"
if [ -n "$(ls -A /run)" ] ||
   [ "$(findmnt -n -o FSTYPE,PROPAGATION --mountpoint /run | tail -n 1 | tr -s ' ')" != "tmpfs private" ]; then
  umount /run 2>/dev/null
  skip "/run is not a private empty tmpfs after mounting"
fi

failures=0
# expect <udev running: yes|no> <DPKG_ROOT> <postinst argument> <expected number of udevadm calls>
expect() {
  rm -f "$stub/calls"
  rm -rf /run/udev
  [ "$1" = yes ] && mkdir /run/udev
  local rc=0
  PATH="$stub:$PATH" DPKG_ROOT=$2 sh "$postinst" "$3" || rc=$?
  local calls=0
  [ -f "$stub/calls" ] && calls=$(wc -l <"$stub/calls")
  if [ "$rc" -ne 0 ] || [ "$calls" -ne "$4" ]; then
    echo "FAIL: udev $1, DPKG_ROOT '$2', $3: exit $rc, $calls udevadm calls (want 0, $4)"
    [ -f "$stub/calls" ] && sed 's/^/    udevadm /' "$stub/calls"
    failures=$((failures + 1))
  fi
}

expect yes "" configure 3
grep -qsx 'control --reload-rules' "$stub/calls" || { echo "FAIL: rules not reloaded"; failures=$((failures + 1)); }
grep -qs 'trigger .*--subsystem-match=tty' "$stub/calls" || { echo "FAIL: tty devices not triggered"; failures=$((failures + 1)); }
expect no "" configure 0
expect yes /some/root configure 0
expect yes "" abort-upgrade 0

if ((failures > 0)); then
  echo "$failures postinst case(s) failed"
  exit 1
fi
echo "postinst: all cases passed"
