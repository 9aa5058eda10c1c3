#!/usr/bin/env bash
# cmake --install of the current build into a temporary prefix: exactly the programs, the unit,
# the service account and the demo data root; the programs run from there; the unit names the
# installed program and carries every service setting; systemd-analyze accepts it. Then the
# same install staged with DESTDIR for /usr, as the package does it.
set -euo pipefail
CMAKE="$1"
BUILD="$2"
SOURCE="$3"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
unset DESTDIR

PREFIX="$WORK/prefix"
"$CMAKE" --install "$BUILD" --prefix "$PREFIX" >"$WORK/install.txt" 2>&1 ||
  fail "cmake --install failed: $(cat "$WORK/install.txt")"

# The tree, file by file: nothing missing, nothing extra (no libraries, no tests).
{
  echo bin/velmar
  echo bin/velmar-sim
  echo lib/systemd/system/velmar.service
  echo lib/sysusers.d/velmar.conf
  (cd "$SOURCE/demo/root" && find . -type f | sed 's|^\./|share/velmar/demo-root/|')
} | LC_ALL=C sort >"$WORK/expected-tree.txt"
(cd "$PREFIX" && find . -type f -o -type l) | sed 's|^\./||' | LC_ALL=C sort >"$WORK/tree.txt"
diff -u "$WORK/expected-tree.txt" "$WORK/tree.txt" >&2 || fail "installed tree differs (above)"
diff -r "$SOURCE/demo/root" "$PREFIX/share/velmar/demo-root" >&2 ||
  fail "demo root differs from demo/root"

# The programs run from the prefix with the system's libraries only.
for prog in velmar velmar-sim; do
  [ -x "$PREFIX/bin/$prog" ] || fail "bin/$prog is not executable"
  if ldd "$PREFIX/bin/$prog" | grep -E 'not found|libvelmar' >&2; then
    fail "bin/$prog needs libraries that are not installed"
  fi
done
(cd / && env -i PATH=/usr/bin:/bin "$PREFIX/bin/velmar" --help >"$WORK/help.txt" 2>&1) ||
  fail "velmar --help from the prefix exited with $?: $(cat "$WORK/help.txt")"
grep -q '^Usage: velmar \[--headless\] \[--root DIR\]' "$WORK/help.txt" ||
  fail "velmar --help printed: $(cat "$WORK/help.txt")"
(cd / && env -i PATH=/usr/bin:/bin "$PREFIX/bin/velmar-sim" --help >"$WORK/simhelp.txt" 2>&1) ||
  fail "velmar-sim --help from the prefix exited with $?: $(cat "$WORK/simhelp.txt")"
grep -q '^usage: velmar-sim' "$WORK/simhelp.txt" ||
  fail "velmar-sim --help printed: $(cat "$WORK/simhelp.txt")"

# Every "Section/Key=value" of a unit, comments and blank lines dropped.
unit_settings() {
  awk '/^[ \t]*(#|;|$)/ { next } /^\[/ { section = substr($0, 2, length($0) - 2); next }
       { print section "/" $0 }' "$1"
}

# The settings the service needs, each in its section, for the program under prefix $2.
check_unit() {
  local unit="$1" prefix="$2"
  [ -f "$unit" ] || fail "no unit at $unit"
  unit_settings "$unit" >"$WORK/settings.txt"
  while IFS= read -r want; do
    grep -Fxq -- "$want" "$WORK/settings.txt" || fail "$unit lacks \"$want\": $(cat "$unit")"
  done <<EOF
Service/ExecStart=$prefix/bin/velmar --headless --root /var/lib/velmar /nd
Service/User=velmar
Service/Group=velmar
Service/SupplementaryGroups=dialout
Service/StateDirectory=velmar
Service/Restart=on-failure
Service/NoNewPrivileges=yes
Service/ProtectSystem=strict
Service/ProtectHome=yes
Service/PrivateTmp=yes
Service/KillSignal=SIGTERM
Install/WantedBy=multi-user.target
EOF
  [ "$(grep -c '^Service/ExecStart=' "$WORK/settings.txt")" -eq 1 ] || fail "$unit: not one ExecStart"
}
check_unit "$PREFIX/lib/systemd/system/velmar.service" "$PREFIX"
grep -Fxq "$PREFIX/lib/systemd/system/velmar.service" "$BUILD/install_manifest.txt" ||
  fail "the unit is not in install_manifest.txt"

printf '%s\n' 'u velmar - "Velmar Manager" /var/lib/velmar' 'm velmar dialout' >"$WORK/sysusers.txt"
grep -Ev '^[ \t]*(#|$)' "$PREFIX/lib/sysusers.d/velmar.conf" | diff -u "$WORK/sysusers.txt" - >&2 ||
  fail "sysusers.d/velmar.conf differs (above)"

# systemd-analyze verify on a copy of the unit (it names the installed program, which exists).
# Lines about other units of the host are only shown; a line about this unit, or a failure
# exit, fails. A copy with a misspelt setting must fail, or the check proves nothing.
verify_unit() {
  local dir="$WORK/verify-$1" out status=0
  mkdir -p "$dir"
  cp "$2" "$dir/velmar.service"
  out="$(systemd-analyze verify "$dir/velmar.service" 2>&1)" || status=$?
  if [ -n "$out" ]; then printf 'systemd-analyze (%s): %s\n' "$1" "$out" >&2; fi
  [ "$status" -eq 0 ] && ! grep -q 'velmar\.service' <<<"$out"
}
if command -v systemd-analyze >/dev/null; then
  unit="$PREFIX/lib/systemd/system/velmar.service"
  verify_unit installed "$unit" || fail "systemd-analyze verify rejects the unit"
  sed 's/^ProtectHome=/ProtectHom=/' "$unit" >"$WORK/broken.service"
  if verify_unit broken "$WORK/broken.service" 2>/dev/null; then
    fail "systemd-analyze verify accepts a misspelt setting: the check is blind"
  fi
else
  echo "note: no systemd-analyze, the unit is not verified" >&2
fi

# Staged for /usr, as the package installs it: the unit names /usr/bin/velmar.
STAGE="$WORK/stage"
DESTDIR="$STAGE" "$CMAKE" --install "$BUILD" --prefix /usr >"$WORK/stage.txt" 2>&1 ||
  fail "staged install failed: $(cat "$WORK/stage.txt")"
[ -x "$STAGE/usr/bin/velmar" ] || fail "staged install has no usr/bin/velmar"
[ -f "$STAGE/usr/lib/sysusers.d/velmar.conf" ] || fail "staged install has no sysusers file"
check_unit "$STAGE/usr/lib/systemd/system/velmar.service" /usr
echo "install tree ok"
