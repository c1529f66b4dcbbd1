#!/usr/bin/env bash
# Builds the Debian package and checks it the way a user meets it: lintian (fails on errors),
# desktop-file-validate, "apt-get install ./varnel_*.deb", the installed programs against the
# installed simulator on 127.0.0.1, the monitor's per-user settings, the man pages, the systemd
# unit and its user, then the purge. Needs root or sudo: it installs and purges the package
# varnel on this machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

step() { printf '\n== %s ==\n' "$*"; }
fail() {
  echo "package check: $*" >&2
  exit 1
}

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || fail "run as root or install sudo"
  sudo=(sudo)
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-package.XXXXXX")
chmod 755 "$work"
sim_pid=""
installed=""
xvfb_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  [ -n "$installed" ] && "${sudo[@]}" apt-get purge -y -q varnel >/dev/null 2>&1
  [ -d "$work/user" ] && "${sudo[@]}" rm -rf "$work/user"
  rm -rf "$work"
}
trap cleanup EXIT

step "package: build"
scripts/package.sh | tee "$work/package.out"
deb=$(tail -n 1 "$work/package.out")
[ -f "$deb" ] || fail "scripts/package.sh made no $deb"
cp "$deb" "$work/"
deb_path="$work/$deb"
echo "$deb_path"

step "package: lintian"
# lintian warns when it runs as root; an unprivileged user reads the package just as well.
lint=(lintian --fail-on error --display-info --pedantic --tag-display-limit 0)
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  lint=(setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$work" "${lint[@]}")
fi
"${lint[@]}" "$deb_path" || fail "lintian reports errors"
echo "lintian: no errors"

step "package: contents"
dpkg-deb -c "$deb_path" | awk '{ print $1, $2, $6 }'
mkdir "$work/unpacked"
dpkg-deb -x "$deb_path" "$work/unpacked"
for path in usr/bin/varnel usr/bin/varnel-sim usr/bin/varnel-logger usr/bin/varnel-view \
  usr/share/man/man1/varnel.1.gz usr/share/man/man1/varnel-sim.1.gz \
  usr/share/man/man1/varnel-logger.1.gz usr/share/man/man1/varnel-view.1.gz \
  lib/systemd/system/varnel-logger@.service usr/lib/sysusers.d/varnel.conf \
  usr/share/applications/varnel.desktop usr/share/icons/hicolor/32x32/apps/varnel.png \
  usr/share/icons/hicolor/scalable/apps/varnel.svg usr/share/doc/varnel/copyright \
  usr/share/doc/varnel/examples/line1.ini; do
  [ -e "$work/unpacked/$path" ] || fail "the package lacks /$path"
done
for binary in "$work"/unpacked/usr/bin/*; do
  file "$binary" | grep -q ', stripped' || fail "$binary is not stripped"
done

step "package: desktop entries"
desktops=("$work"/unpacked/usr/share/applications/*.desktop)
desktop-file-validate "${desktops[@]}" || fail "a desktop entry does not validate"
printf '%s: valid\n' "${desktops[@]##*/}"

step "package: install"
# Debian's container images keep man pages and most documentation out of every package; let
# ours in so that "man -w" and the example config below check what a user's system gets.
dpkg_options=()
excluding=$(grep -lsE '^path-exclude[= ]+/usr/share/(man|doc)' /etc/dpkg/dpkg.cfg.d/* || true)
if [ -n "$excluding" ]; then
  echo "dpkg leaves out /usr/share/man or /usr/share/doc here ($(echo "$excluding" | tr '\n' ' '));" \
    "including varnel's for this install"
  for pattern in /usr/share/man/man1 '/usr/share/man/man1/varnel*' /usr/share/doc/varnel \
    '/usr/share/doc/varnel/*'; do
    dpkg_options+=(-o "DPkg::Options::=--path-include=$pattern")
  done
fi
installed=yes
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${dpkg_options[@]}" "$deb_path"
for program in varnel varnel-sim varnel-logger varnel-view; do
  [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not /usr/bin/$program"
done

step "installed: the user and group varnel"
if command -v systemd-sysusers >/dev/null; then
  getent passwd varnel || fail "postinst made no user varnel"
  getent group varnel || fail "postinst made no group varnel"
else
  echo "no systemd-sysusers here: postinst made no user (nothing to check)"
fi

step "installed: varnel without a display"
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM varnel --help >"$work/nodisplay.out" \
  2>"$work/nodisplay.err" || status=$?
cat "$work/nodisplay.err"
[ "$status" -eq 1 ] || fail "varnel without a display exited with status $status, not 1"
[ "$(wc -l <"$work/nodisplay.err")" -eq 1 ] && grep -q '^varnel: needs a graphical session' \
  "$work/nodisplay.err" || fail "varnel without a display did not print its one line"
[ ! -s "$work/nodisplay.out" ] || fail "varnel without a display printed to stdout"

step "installed: varnel-sim --help"
varnel-sim --help >"$work/sim-help.txt" || fail "varnel-sim --help failed"
grep -q '^Usage: varnel-sim' "$work/sim-help.txt" || fail "varnel-sim --help printed no usage"
head -n 2 "$work/sim-help.txt"
varnel-logger --version

step "installed: varnel-logger --cycles 3 against varnel-sim on 127.0.0.1"
varnel-sim --bind 127.0.0.1 --port 0 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^varnel-sim listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/sim.out")
  [ -n "$port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || fail "the simulator did not start: $(cat "$work/sim.err")"
echo "simulator on 127.0.0.1:$port"
start=100
count=20
printf '[Setup]\r\nIPAddress=127.0.0.1\r\nPortNo=%s\r\nInterval=1\r\nTimeOut=100\r\nDeviceName=0\r\nDeviceStart=%s\r\nDeviceNum=%s\r\nUnsigned=0\r\n' \
  "$port" "$start" "$count" >"$work/line1.ini"
status=0
timeout 60 varnel-logger --config "$work/line1.ini" --output "$work/logs" --cycles 3 \
  --rotate none 2>"$work/logger.err" || status=$?
cat "$work/logger.err"
[ "$status" -eq 0 ] || fail "varnel-logger exited with status $status"
logs=("$work"/logs/*.csv)
if [ ${#logs[@]} -ne 1 ] || [ ! -f "${logs[0]}" ]; then fail "expected one log, found: ${logs[*]}"; fi
[[ ${logs[0]##*/} =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}-[0-9]{2}-[0-9]{2}\.csv$ ]] ||
  fail "unexpected log name ${logs[0]##*/}"
cat "${logs[0]}"
# One header naming DM00100..DM00119 and three rows of the simulator's values for exactly those
# devices: (device * 4099) mod 65536 as signed 16-bit numbers. Every line ends in CR LF. (The
# patterns spell out each digit: Debian 12's mawk has no interval expressions such as {4}.)
awk -v start="$start" -v count="$count" '
  BEGIN { FS = ","; header = "YYYY-MM-DD,HH:MM:SS"; bad = 0
          for (d = start; d < start + count; d++) header = header sprintf(",DM%05d", d) }
  !/\r$/ { print "line " NR " does not end in CR LF"; bad = 1 }
  { sub(/\r$/, "") }
  NR == 1 { if ($0 != header) { print "bad header: " $0; bad = 1 }; next }
  {
    if (NF != count + 2 || $1 !~ /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$/ || $2 !~ /^[0-9][0-9]:[0-9][0-9]:[0-9][0-9]$/) {
      print "bad row " NR ": " $0; bad = 1; next
    }
    for (i = 3; i <= NF; i++) {
      v = ((start + i - 3) * 4099) % 65536; if (v >= 32768) v -= 65536
      if ($i "" != v "") { print "row " NR ": DM" (start + i - 3) " is " $i ", not " v; bad = 1 }
    }
  }
  END { if (NR != 4) { print NR " lines, not a header and 3 rows"; bad = 1 }; exit bad }
' "${logs[0]}" || fail "the log is wrong"
echo "log: one header and 3 rows of $count values, each the simulator's"

step "installed: the example config"
example=/usr/share/doc/varnel/examples/line1.ini
grep -q '^IPAddress=127\.0\.0\.1' "$example" || fail "$example does not point at 127.0.0.1"
sed "s/^PortNo=.*/PortNo=$port/" "$example" >"$work/example.ini"
timeout 60 varnel-logger --config "$work/example.ini" --output "$work/example-logs" --cycles 1 \
  --rotate none 2>>"$work/logger.err" || fail "varnel-logger refused the example config"
echo "$example: accepted, one row logged"

step "installed: the monitor keeps a user's settings per user"
# As root the monitor writes /usr/bin/varnel.ini, which no package owns: make one here (the
# purge below must remove it), with a loopback address so that nothing is ever sent elsewhere.
printf '[Setup]\nIPAddress=127.0.0.1\nPortNo=%s\n' "$port" | "${sudo[@]}" tee /usr/bin/varnel.ini >/dev/null
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v setpriv >/dev/null; then
  mkdir -p "$work/user/run"
  "${sudo[@]}" chown -R nobody:nogroup "$work/user"
  display=":$((300 + RANDOM % 100))"
  Xvfb "$display" -noreset -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  (cd "$work/user/run" && exec "${sudo[@]}" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i PATH=/usr/bin:/bin DISPLAY="$display" HOME="$work/user" /usr/bin/varnel) &
  monitor_pid=$!
  main=""
  for _ in $(seq 100); do
    # xdotool fails until the window is there.
    main=$(DISPLAY=$display xdotool search --onlyvisible --name '^Varnel Ver' 2>/dev/null | head -1 || true)
    [ -n "$main" ] && break
    sleep 0.1
  done
  [ -n "$main" ] || fail "the installed monitor showed no window"
  # 終了 (Exit) writes the settings and ends the program.
  DISPLAY=$display xdotool mousemove --window "$main" 46 97 click 1
  for _ in $(seq 100); do kill -0 "$monitor_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$monitor_pid" 2>/dev/null && fail "the installed monitor did not end at Exit"
  wait "$monitor_pid" || fail "the installed monitor exited with a failure"
  kill "$xvfb_pid" && wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
  user_ini="$work/user/.config/varnel/varnel.ini"
  grep -q '^IPAddress=127\.0\.0\.1$' "$user_ini" 2>/dev/null ||
    fail "the monitor run by nobody kept no settings in $user_ini"
  grep -q '^DeviceNum=' /usr/bin/varnel.ini && fail "the monitor run by nobody wrote /usr/bin/varnel.ini"
  echo "$user_ini: written; /usr/bin/varnel.ini: untouched"
else
  echo "no Xvfb, xdotool or setpriv: skipped"
fi

step "installed: man pages"
for page in varnel varnel-sim varnel-logger varnel-view; do
  where=$(man -w "$page") || fail "man -w $page finds nothing"
  [ "$where" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page gives $where"
  echo "$where"
done

step "installed: systemd unit"
unit=/lib/systemd/system/varnel-logger@.service
grep -q '^ExecStart=/usr/bin/varnel-logger ' "$unit" || fail "$unit does not start /usr/bin/varnel-logger"
grep -q '^User=varnel$' "$unit" && grep -q '^StateDirectoryMode=0750$' "$unit" &&
  grep -q '^UMask=0027$' "$unit" || fail "$unit does not keep group-readable logs for varnel"
systemd-analyze verify "$unit" || fail "systemd-analyze verify $unit"
echo "$unit: verified"
# The sandbox must not get weaker than the dynamic-user unit before it (exposure 1.4).
exposure=$(systemd-analyze security --offline=true "$unit" 2>/dev/null |
  sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
echo "systemd-analyze security: exposure ${exposure:-unknown}"
[ -n "$exposure" ] && awk -v e="$exposure" 'BEGIN { exit !(e <= 1.4) }' ||
  fail "the unit's exposure ${exposure:-unknown} is above 1.4"

step "installed: desktop entries"
desktop-file-validate /usr/share/applications/varnel*.desktop || fail "an installed desktop entry does not validate"
echo "valid"

step "package: remove"
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q varnel
installed=""
for path in /usr/bin/varnel /usr/bin/varnel-sim /usr/bin/varnel-logger /usr/bin/varnel-view \
  /usr/bin/varnel.ini "$unit" /usr/lib/sysusers.d/varnel.conf /usr/share/man/man1/varnel.1.gz \
  /usr/share/applications/varnel.desktop /usr/share/doc/varnel; do
  [ ! -e "$path" ] || fail "$path is still there after the purge"
done
if dpkg-query -W -f='${Status}' varnel 2>/dev/null | grep -q 'ok installed'; then
  fail "dpkg still lists varnel as installed"
fi
echo "removed: programs, a left /usr/bin/varnel.ini, man pages, unit, desktop entry and documentation are gone"
