#!/bin/sh
# Installs the build into a scratch DESTDIR and checks what an operator gets:
# every file in place, the binary runs, the manual page renders without a
# warning, and the service unit passes systemd-analyze where it exists.
# usage: check_install.sh BUILD_DIR VERSION PROMTOOL
set -eu
build=$1
version=$2
promtool=$3
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
for file in usr/bin/tempswitch usr/share/man/man1/tempswitch.1 \
            usr/lib/udev/rules.d/60-tempswitch.rules usr/lib/systemd/system/tempswitch@.service \
            usr/lib/sysusers.d/tempswitch.conf usr/share/tempswitch/prometheus/tempswitch-alerts.yml; do
    [ -f "$stage/$file" ] || fail "$file not installed"
done
[ -x "$stage/usr/bin/tempswitch" ] || fail "tempswitch not executable"
[ "$("$stage/usr/bin/tempswitch" --version)" = "tempswitch $version" ] || fail "--version"

# The prefix given at install time reaches the unit.
other=$(mktemp -d)
DESTDIR="$other" cmake --install "$build" --prefix /opt/tempswitch >/dev/null
grep -qx 'ExecStart=/opt/tempswitch/bin/tempswitch --utf8 $TEMPSWITCH_OPTIONS $TEMPSWITCH_LIMIT' "$other/opt/tempswitch/lib/systemd/system/tempswitch@.service" &&
    grep -qx 'ExecStopPost=-/opt/tempswitch/bin/tempswitch --after-end $TEMPSWITCH_OPTIONS $TEMPSWITCH_LIMIT' "$other/opt/tempswitch/lib/systemd/system/tempswitch@.service" &&
    grep -qx 'EnvironmentFile=-/opt/tempswitch/etc/tempswitch/%i.conf' "$other/opt/tempswitch/lib/systemd/system/tempswitch@.service" ||
    { rm -rf "$other"; fail "unit does not follow the prefix"; }
[ -x "$other/opt/tempswitch/bin/tempswitch" ] || { rm -rf "$other"; fail "prefix not honoured"; }
rm -rf "$other"

[ -x "$promtool" ] || fail "no promtool ($promtool): run scripts/install-promtool"
report=$("$promtool" check rules "$stage/usr/share/tempswitch/prometheus/tempswitch-alerts.yml" 2>&1) ||
    fail "promtool check rules: $report"

page="$stage/usr/share/man/man1/tempswitch.1"
warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || fail "groff: $warnings"
if command -v man >/dev/null; then
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man: $warnings"
fi

unit="$stage/usr/lib/systemd/system/tempswitch@.service"
grep -qx 'ExecStart=/usr/bin/tempswitch --utf8 $TEMPSWITCH_OPTIONS $TEMPSWITCH_LIMIT' "$unit" || fail "unit does not start /usr/bin/tempswitch"
grep -qx 'ExecStopPost=-/usr/bin/tempswitch --after-end $TEMPSWITCH_OPTIONS $TEMPSWITCH_LIMIT' "$unit" &&
    grep -qx 'TimeoutStopSec=15' "$unit" || fail "no fail-safe level after a hard end"
grep -qx 'EnvironmentFile=-/etc/tempswitch/%i.conf' "$unit" && [ -d "$stage/etc/tempswitch" ] ||
    fail "named instances' settings are not in /etc/tempswitch"
if command -v systemd-analyze >/dev/null; then
    # An instance of the template, pointing at the staged binary so that it can be checked.
    mkdir "$stage/verify"
    sed "s|/usr/bin/tempswitch|$stage/usr/bin/tempswitch|" "$unit" > "$stage/verify/tempswitch@25.service"
    report=$(systemd-analyze verify --man=no "$stage/verify/tempswitch@25.service" 2>&1) || fail "systemd-analyze: $report"
    [ -z "$report" ] || fail "systemd-analyze: $report"
else
    echo "systemd-analyze not available: unit not verified"
fi

# The user and group that the unit runs as and the rule names.
sysusers="$stage/usr/lib/sysusers.d/tempswitch.conf"
grep -q '^u tempswitch ' "$sysusers" || fail "no user tempswitch in sysusers.d"
grep -qx 'User=tempswitch' "$unit" && grep -qx 'Group=tempswitch' "$unit" || fail "unit does not run as tempswitch"
if command -v systemd-sysusers >/dev/null; then
    report=$(systemd-sysusers --dry-run --root="$stage" "$sysusers" 2>&1) || fail "systemd-sysusers: $report"
    echo "$report" | grep -q "tempswitch" || fail "systemd-sysusers creates no tempswitch: $report"
fi

rule="$stage/usr/lib/udev/rules.d/60-tempswitch.rules"
grep -q 'ATTR{idVendor}=="1384", ATTR{idProduct}=="8888"' "$rule" || fail "udev rule does not match the sensor"
grep -q 'TAG+="uaccess"' "$rule" || fail "udev rule has no uaccess"
grep -q 'GROUP="tempswitch"' "$rule" || fail "udev rule gives the sensor to another group"
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
    udevadm verify "$rule" >/dev/null || fail "udevadm verify"
fi
echo "install checks passed"
