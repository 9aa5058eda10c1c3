#!/usr/bin/env bash
# The manager started headless on an empty data root: the directory tree, the first-run and
# default files byte for byte, no rewrite on the second run, the help text, SIGTERM.
set -euo pipefail
BIN="$1"
WORK="$(mktemp -d)"
PID=""
# Whatever ends the script, no velmar is left behind.
cleanup() {
  if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then kill -KILL "$PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
ROOT="$WORK/root"
fail() { echo "FAIL: $*" >&2; exit 1; }

# Waits up to 10 s for a line in velmar's output; fails the test when it does not come.
wait_for_output() {
  for _ in $(seq 1 200); do
    grep -q "$1" "$WORK/out.txt" 2>/dev/null && return 0
    sleep 0.05
  done
  fail "no \"$1\" in the output: $(cat "$WORK/out.txt")"
}

# Starts velmar in the background; waits until the log says it started.
start() {
  "$BIN/velmar" --headless --root "$ROOT" "$@" >"$WORK/out.txt" 2>"$WORK/err.txt" &
  PID=$!
  for _ in $(seq 1 200); do
    grep -q "Velmar Manager started" "$WORK/out.txt" 2>/dev/null && return 0
    kill -0 "$PID" 2>/dev/null || fail "velmar exited early: $(cat "$WORK/err.txt")"
    sleep 0.05
  done
  fail "velmar did not start"
}

# Sends SIGTERM and checks that velmar ends within 10 s with exit code 0.
stop() {
  kill -TERM "$PID"
  for _ in $(seq 1 200); do
    if ! kill -0 "$PID" 2>/dev/null; then
      wait "$PID" || fail "exit code $?"
      PID=""
      return 0
    fi
    sleep 0.05
  done
  fail "velmar did not stop within 10 s of SIGTERM"
}

expect_file() {  # relative name, expected bytes (printf format)
  printf "$2" >"$WORK/expected"
  cmp -s "$WORK/expected" "$ROOT/$1" || { od -c "$ROOT/$1" | head; fail "content of $1"; }
}

start /offline /nd
stop

for d in logs AllEvents emails emailstcp emails/schedule db batch "extern events" logs/status \
  support logs/Alarm logs/Active logs/Warning logs/Monitoring logs/SensorSet logs/ActiveSet \
  logs/MonitoringSet logs/AlarmSet logs/WarningSet logs/InputSet logs/InputClear \
  "audio to play" backup-logs aliases aliases/all smsout smsin rxbuff txbuff emailsout; do
  [ -d "$ROOT/$d" ] || fail "directory $d missing"
done

expect_file preinstalled.txt '1\r\n'
expect_file charset.cfg 'windows-1250\r\nPL\r\n'
expect_file logsize.cfg '100000\r\n'
expect_file bin/tcpevent.cfg 'PushEvent.exe\r\n/EventsOnly\r\n'
# The other first-run files are checked byte for byte by the unit tests.
head -c 60 "$ROOT/autoquery.cfg" | grep -q '^;Altering this file' || fail "autoquery.cfg"
[ "$(wc -l <"$ROOT/autoquery.cfg")" -eq 21 ] || fail "autoquery.cfg is not 21 lines"

# Log lines: stamp, separator, text, CR LF; the ".log" copy equals the ".logs" file.
grep -qaP '^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d :    Velmar Manager started, data root .*\r$' \
  "$ROOT/logs/all.logs" || fail "log line format"
cmp -s "$ROOT/logs/all.logs" "$ROOT/logs/all.log" || fail "all.log differs from all.logs"

# Second run: nothing rewritten; a deleted first-run file stays deleted.
find "$ROOT" -type f ! -path "*/logs/*" -printf '%p %T@ %s\n' | sort >"$WORK/before"
rm "$ROOT/exec/sms.runs"
grep -v "exec/sms.runs" "$WORK/before" >"$WORK/before2"
sleep 1.1  # modification times have 1 s resolution on some file systems
start /offline /nd
stop
find "$ROOT" -type f ! -path "*/logs/*" -printf '%p %T@ %s\n' | sort >"$WORK/after"
diff "$WORK/before2" "$WORK/after" || fail "files rewritten on the second run"

# Help: exactly the switch list, before anything else; "/help" prints nothing of it.
start /h /offline /nd
stop
printf 'Params:\r\n/adl\tGenerate Event Names for recording application - "Audiograbber", (notifications of events for "Soundbox.exe")\r\n/ne\tDo not update Events to devices\r\n/nd\tDo not delay on start\r\n/nr\tDo not reset devices on start\r\n/offline\tUse for remote controll when no hardware is locally connected\r\n/debug\tWerbose mode for detection of problems\r\n/cdr\tGenerate input files for CorelDraw (creating visualisation objects for Panorama.exe)\r\n/e\tUpdate Events to all devices on start\r\n/t\tSet Time in all devices on start\r\n/r\tRestart all devices on start\r\n/mobile\tGenerate Files for mobile or PDA Remote Controller\r\n/cancel\tDo nothing on start\r\n\r\n\r\n' >"$WORK/help"
head -c "$(stat -c %s "$WORK/help")" "$WORK/out.txt" | cmp -s - "$WORK/help" || fail "help text"
for sw in /H '/?'; do
  start "$sw" /offline /nd
  stop
  head -c "$(stat -c %s "$WORK/help")" "$WORK/out.txt" | cmp -s - "$WORK/help" || fail "help text for $sw"
done
start /help /offline /nd
stop
grep -q "Params:" "$WORK/out.txt" && fail "/help printed the switch list"
# Rotation: a 150 kB "all.logs" over the 100000-byte limit moves into "backup-logs" with the
# next line after the check was armed (the countdown activates the main window).
head -c 150000 /dev/zero | tr '\0' 'x' >"$ROOT/logs/all.logs"
rm -f "$ROOT"/backup-logs/*
start /offline /nd /debug
wait_for_output ":    tm1"
stop
ls "$ROOT/backup-logs" | grep -qE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}_[0-9]{2}_[0-9]{2}-all\.logs$' ||
  fail "no rotated all.logs in backup-logs: $(ls "$ROOT/backup-logs")"
[ "$(stat -c %s "$ROOT/logs/all.logs")" -lt 1000 ] || fail "all.logs not rotated"
grep -q "Velmar Manager shut down" "$ROOT/logs/all.logs" || fail "line after rotation missing"

# "/adl" as the first switch writes the audio name lists; as the second it does nothing.
rm -f "$ROOT/audios.nam"
start /offline /adl /nd
stop
[ -e "$ROOT/audios.nam" ] && fail "/adl as the second switch wrote audios.nam"
start /adl /offline /nd
stop
expect_file audios.nam '[NAMES]\r\n'

# "/cdr" as the first switch ends the program at the first countdown tick; the layer files
# are not built yet, which it says.
"$BIN/velmar" --headless --root "$ROOT" /cdr /offline >"$WORK/out.txt" 2>&1 &
PID=$!
for _ in $(seq 1 200); do kill -0 "$PID" 2>/dev/null || break; sleep 0.05; done
kill -0 "$PID" 2>/dev/null && fail "/cdr did not end the program"
wait "$PID" || fail "/cdr exit code $?"
PID=""
grep -q ":    Layer generation not available: /cdr" "$WORK/out.txt" ||
  fail "/cdr did not say that the layer files are not built: $(cat "$WORK/out.txt")"

# "/mobile": the exports at "Run" are not built yet, which it says.
start /mobile /offline /nd
wait_for_output ":    Mobile export not available: /mobile"
stop

# SIGINT runs the same shutdown.
start /offline /nd
kill -INT "$PID"
wait "$PID" || fail "SIGINT exit code $?"
PID=""
echo "startup e2e: ok"
