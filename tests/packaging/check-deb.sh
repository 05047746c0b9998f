#!/bin/sh
# Builds the Debian package from a build tree and checks what it installs:
# paths, modes, the dependency list from dpkg-shlibdeps and the systemd unit,
# with its sandbox's exposure rating.
# Usage: check-deb.sh <build-dir> <source-dir>
set -eu
BUILD=$1
SOURCE=$2
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

(cd "$BUILD" && cpack -G DEB -B "$OUT" >"$OUT/cpack.log" 2>&1) || { cat "$OUT/cpack.log"; fail "cpack"; }
DEB=$(ls "$OUT"/*.deb | head -n 1)
[ -f "$DEB" ] || fail "no package"
dpkg-deb -x "$DEB" "$OUT/root"
dpkg-deb -e "$DEB" "$OUT/control"

mode() { stat -c %a "$OUT/root$1"; }
expect_file() {
    [ -f "$OUT/root$1" ] || fail "missing $1"
    [ "$(mode "$1")" = "$2" ] || fail "$1 has mode $(mode "$1"), expected $2"
}

expect_file /usr/bin/rararoz 755
if [ -n "$(ls "$BUILD"/rararoz-peer 2>/dev/null)" ]; then
    expect_file /usr/bin/rararoz-peer 755
fi
expect_file /opt/talvo/configurations/Messages/Unhandled.conf 644
expect_file /lib/systemd/system/rararoz.service 644
cmp -s "$SOURCE/config/Messages/Unhandled.conf" "$OUT/root/opt/talvo/configurations/Messages/Unhandled.conf" \
    || fail "shipped configuration differs from config/"

# Nothing else than the binaries, the configuration and the unit.
extra=$(cd "$OUT/root" && find . -type f | grep -v -E '^\./usr/bin/rararoz(-peer)?$|^\./opt/talvo/configurations/|^\./lib/systemd/system/rararoz\.service$' || true)
[ -z "$extra" ] || fail "unexpected files: $extra"

depends=$(sed -n 's/^Depends: //p' "$OUT/control/control")
echo "Depends: $depends"
for lib in libqt5core5a libqt5serialbus5 libqt5scxml5 libc6 libqt5serialbus5-plugins libsystemd0; do
    echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib"
done
for script in postinst prerm postrm; do
    [ -x "$OUT/control/$script" ] || fail "no $script"
done

unit="$OUT/root/lib/systemd/system/rararoz.service"
grep -q '^ExecStart=/usr/bin/rararoz -A can0$' "$unit" || fail "unit does not start the service on can0"
grep -q '^Restart=on-failure$' "$unit" || fail "unit does not restart on failure"
grep -q '^KillSignal=SIGTERM$' "$unit" || fail "unit does not stop with SIGTERM"
grep -q '^After=.*sys-subsystem-net-devices-can0.device' "$unit" || fail "unit does not wait for can0"
grep -q '^Type=notify$' "$unit" || fail "unit does not wait for the service's readiness"
grep -q '^WatchdogSec=[1-9]' "$unit" || fail "unit has no watchdog"

# Both checks read the unit file alone (no running systemd or D-Bus), with
# the packaged binary's path inside the extracted tree.
command -v systemd-analyze >/dev/null 2>&1 || fail "no systemd-analyze (Debian package systemd; scripts/install-deps)"
sed "s|/usr/bin/rararoz|$OUT/root/usr/bin/rararoz|" "$unit" > "$OUT/rararoz.service"
systemd-analyze verify "$OUT/rararoz.service" 2>"$OUT/verify.log" || true
if grep -v -E 'sys-subsystem-net-devices-can0|Failed to|is not executable|bpf|cgroup' "$OUT/verify.log" | grep -q .; then
    cat "$OUT/verify.log"
    fail "systemd-analyze verify"
fi
systemd-analyze security --offline=true "$OUT/rararoz.service" >"$OUT/security.log" 2>&1 \
    || { cat "$OUT/security.log"; fail "systemd-analyze security could not rate the unit"; }
exposure=$(sed -n 's/.*Overall exposure level for .*: \([0-9][0-9.]*\) .*/\1/p' "$OUT/security.log")
[ -n "$exposure" ] || { cat "$OUT/security.log"; fail "systemd-analyze security gave no overall exposure level"; }
echo "Exposure: $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.5) }' \
    || { grep -v '✓' "$OUT/security.log"; fail "unit's exposure $exposure is above 2.5"; }
echo "1 passed, 0 failed"
