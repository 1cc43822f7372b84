#!/usr/bin/env bash
# The Debian package through its life on this machine: lintian, install,
# the installed layout and units, a real run of the installed program as the
# postrix user against local servers, log rotation, remove, reinstall,
# upgrade and purge.
#
#   tests/package/package_test.sh [DEB]   (without DEB: built by scripts/package)
#
# Needs root, and a machine without postrix installed; it leaves the machine
# as it found it (a trap purges the package, also when a check fails).
set -uo pipefail

repo="$(cd "$(dirname "$0")/../.." && pwd)"
python=/usr/bin/python3 # Debian's python3-aiosmtpd is installed for this interpreter only
state=/var/lib/postrix
home=$state/home
database=$state/qx_data/system33.mdb
units=(postrix.service postrix.timer postrix-daily.service postrix-daily.timer)

if [[ $(id -u) -ne 0 ]]; then
  echo "package test: skipped: it installs and purges the package, which needs root"
  echo "package: 0 passed, 0 failed, 1 skipped"
  exit 0
fi
if dpkg-query -W -f='${Status}' postrix 2>/dev/null | grep -qv "not-installed" ||
  getent passwd postrix >/dev/null || [[ -e $state ]]; then
  echo "package test: postrix (package, user or $state) is already on this machine;" \
    "the test would purge it, so it does not run" >&2
  echo "package: 0 passed, 1 failed"
  exit 1
fi

work="$(mktemp -d -t postrix-package-test.XXXXXX)"
passed=0 failed=0
peer_pids=()

cleanup() {
  local pid
  for pid in "${peer_pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  if dpkg-query -W -f='${Status}' postrix 2>/dev/null | grep -qv "not-installed"; then
    dpkg -P postrix >"$work/cleanup.log" 2>&1 || cat "$work/cleanup.log" >&2
  fi
  rm -rf -- "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# check NAME COMMAND...: runs COMMAND, counts and prints the outcome.
check() {
  local name="$1"
  shift
  if "$@" >"$work/check.out" 2>&1; then
    passed=$((passed + 1))
    echo "ok - $name"
  else
    failed=$((failed + 1))
    echo "FAIL - $name"
    sed 's/^/    /' "$work/check.out" | tail -n 30
  fi
}

# same WANT COMMAND...: COMMAND's output, its lines joined by blanks, must be WANT.
same() {
  local want="$1" got
  shift
  got="$("$@" 2>&1 | tr -s ' \n' ' ' | sed 's/ $//')"
  [[ "$got" == "$want" ]] && return
  echo "got '$got', want '$want'"
  return 1
}

as_postrix() { runuser -u postrix -- "$@"; }
sql() { as_postrix sqlite3 -bail "$database" "$1"; }

# --- Build and lint -------------------------------------------------------------
deb="${1:-}"
if [[ -z "$deb" ]]; then
  if ! "$repo/scripts/package" "$work/deb" >"$work/package.out" 2>&1; then
    cat "$work/package.out" >&2
    echo "package: 0 passed, 1 failed"
    exit 1
  fi
  deb="$(sed -n 's/^package: \(\/.*\.deb\)$/\1/p' "$work/package.out")"
fi
[[ -f "$deb" ]] || { echo "package test: no package at '$deb'" >&2; exit 1; }
version="$(sed -n 's/^project(postrix VERSION \([^ )]*\).*/\1/p' "$repo/CMakeLists.txt")"
check "the package is named for the project version" \
  test "$(basename "$deb")" == "postrix_${version}_$(dpkg --print-architecture).deb"

lint() {
  TMPDIR="$work" lintian --fail-on error "$deb" >"$work/lintian.out" 2>&1
  local status=$?
  grep -v "running with root privileges" "$work/lintian.out"
  return $status
}
check "lintian finds no errors" lint
sed -n 's/^/    lintian: /p' "$work/lintian.out" | grep -v "root privileges"

# Each library the programs link comes from a package the control file names.
depends_cover_linked_libraries() {
  local depends lib path package missing=0
  depends="$(dpkg-deb -f "$deb" Depends | tr ',|' '\n' | sed 's/(.*//; s/ //g')"
  dpkg-deb -x "$deb" "$work/contents"
  local programs=("$work/contents/usr/bin/postrix" "$work/contents/usr/lib/postrix/generatepdf")
  for lib in $(readelf -d "${programs[@]}" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u); do
    # The file the loader picks, and the package that installed it.
    path="$(ldd "${programs[@]}" | awk -v lib="$lib" '$1 == lib { print $3; exit }')"
    # dpkg knows it by one of its names: the loader's or (after /usr merged) the real one.
    package="$(dpkg -S "$path" "$(readlink -f "$path")" 2>/dev/null | head -n1 | sed 's/[:,].*//')"
    if [[ -z "$package" ]] || ! grep -qxF "$package" <<<"$depends"; then
      echo "$lib (package '${package:-?}') is not in Depends: $(tr '\n' ' ' <<<"$depends")"
      missing=1
    fi
  done
  return $missing
}
check "Depends names the packages of every linked library" depends_cover_linked_libraries

# --- Install --------------------------------------------------------------------
check "dpkg -i installs it (no systemd running)" dpkg -i "$deb"
check "postrix is a system user with no login, home $state" \
  same "$state /usr/sbin/nologin system" \
  bash -c 'IFS=: read -r _ _ uid _ _ dir shell < <(getent passwd postrix)
           echo "$dir $shell $( ((uid < 1000)) && echo system || echo "uid $uid")"'
check "the state folders are postrix's, mode 0750" \
  same "postrix:postrix 750 postrix:postrix 750 postrix:postrix 750" \
  stat -c '%U:%G %a' "$state" "$home" "$state/qx_data"
check "postinst made the database with initdb, owner only" \
  same "postrix:postrix 600 1" bash -c "stat -c '%U:%G %a' $database &&
    sqlite3 $database 'SELECT count(*) FROM System'"
check "the program finds its converter in its folder" \
  test -x "$home/GeneratePDF/generatepdf" -a "$(readlink -f "$home/GeneratePDF/generatepdf")" \
  == /usr/lib/postrix/generatepdf
check "program, manual, schema, initdb, logrotate and docs are in place" \
  ls /usr/bin/postrix /usr/share/man/man1/postrix.1.gz /usr/share/postrix/schema/system.sql \
  /usr/share/postrix/scripts/initdb /etc/logrotate.d/postrix
check "man postrix finds the manual page" same /usr/share/man/man1/postrix.1.gz man -w postrix

unit_paths=("${units[@]/#//lib/systemd/system/}")
check "systemd-analyze verify passes on the installed units" \
  same "" systemd-analyze verify "${unit_paths[@]}"
exposure_at_most_3() {
  local unit="$1" score
  score="$(systemd-analyze security --offline=true "/lib/systemd/system/$unit" 2>&1 |
    sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p')"
  echo "$unit: exposure ${score:-unknown}"
  [[ -n "$score" ]] && awk -v s="$score" 'BEGIN { exit !(s <= 3.0) }'
}
for unit in postrix.service postrix-daily.service; do
  check "$unit is rated 3.0 or lower by systemd-analyze security" exposure_at_most_3 "$unit"
  sed 's/^/    /' "$work/check.out"
done

# --- A run of the installed program ---------------------------------------------
# A mail catcher and a web application on free ports of 127.0.0.1; each stops
# by itself after its lifetime or once this script is gone.
mkdir -p "$work/mail" "$work/web"
"$python" "$repo/tests/peers/smtp_server.py" --port-file "$work/mail/port" \
  --mail-dir "$work/mail" --lifetime 300 2>"$work/mail/server.log" &
peer_pids+=($!)
"$python" "$repo/tests/peers/web_app.py" --port-file "$work/web/port" \
  --requests "$work/web/requests.log" --lifetime 300 2>"$work/web/server.log" &
peer_pids+=($!)
for _ in $(seq 100); do
  [[ -s "$work/mail/port" && -s "$work/web/port" ]] && break
  sleep 0.2
done
mail_port="$(cat "$work/mail/port" 2>/dev/null)"
web_port="$(cat "$work/web/port" 2>/dev/null)"
check "the mail catcher and the web application listen" test -n "$mail_port" -a -n "$web_port"

# Two favourites that are due today: an HTML body and a PDF made by the
# packaged converter (-generatepdf), both from the web application's page.
sql "UPDATE System SET urlorvanta = 'http://127.0.0.1:$web_port/', smtpserver = '127.0.0.1',
       smtpport = ${mail_port:-0}, emailsource = 'reports@quarvex.example';
     INSERT INTO UserReports (report_id, mapping_id, reporttitle, reporturl, format, email,
                              schedule_details, sendreport)
     VALUES (1, 1, 'Daily sales', 'analysis.asp?page=sales', 'html', 'sales@example.com',
             'daily', 'on'),
            (2, 1, 'Sales as PDF', 'analysis.asp?page=sales', 'pdfp', 'pdf@example.com',
             'daily', 'on');" >"$work/seed.out" 2>&1 || cat "$work/seed.out" >&2

# As the timer would start it, but without systemd: the postrix user, a clean
# environment without POSTRIX_HOME, so the program folder is the built-in one.
run_installed() {
  (cd / && runuser -u postrix -- env -i PATH=/usr/bin:/bin HOME=$state \
    postrix -dsn relativemdb -emaillog -laststatus -savemessage -generatepdf)
}
check "the installed program runs as postrix and ends with status 0" run_installed

arrived() { find "$work/mail" -name '*.eml' | wc -l; }
check "both favourites arrived at the mail server" same 2 arrived
has_pdf_attachment() {
  "$python" - "$work/mail" <<'PY'
import email, email.policy, pathlib, sys
for eml in sorted(pathlib.Path(sys.argv[1]).glob("*.eml")):
    message = email.message_from_bytes(eml.read_bytes(), policy=email.policy.default)
    for part in message.iter_attachments():
        if part.get_content_type() == "application/pdf" and part.get_content().startswith(b"%PDF"):
            sys.exit(0)
sys.exit("no message has a PDF attachment")
PY
}
check "the PDF favourite carries a PDF made by generatepdf" has_pdf_attachment
check "the run log is in the program folder, 0640 postrix" \
  same "postrix:postrix 640" stat -c '%U:%G %a' "$home/postrix.log"
check "the run logged both sends and saved both messages in Sent/" \
  same "2 2" bash -c "echo \$(sqlite3 $database 'SELECT count(*) FROM Email_Log') \
    \$(ls $home/Sent | wc -l)"

# Rotation as cron's daily logrotate would do it, forced, with a state file of our own.
rotate() {
  logrotate --force --state "$work/logrotate.state" /etc/logrotate.d/postrix &&
    same "postrix:postrix 640 postrix:postrix 640" \
      stat -c '%U:%G %a' "$home/postrix.log" "$home/postrix.log.1"
}
check "logrotate rotates the run log and makes a new one, 0640 postrix" rotate

# --- Remove, reinstall, upgrade, purge --------------------------------------------
sql "INSERT INTO UserReports (report_id, reporttitle, sendreport)
     VALUES (99, 'kept across reinstallation', 'off');" >/dev/null
# The inserted row, the saved messages and the database's owner and mode.
kept() {
  same "1 2 postrix:postrix 600" bash -c "echo \$(sqlite3 $database \
    'SELECT count(*) FROM UserReports WHERE report_id = 99') \$(ls $home/Sent | wc -l) \
    \$(stat -c '%U:%G %a' $database)"
}
removed() { dpkg -r postrix && ! test -e /usr/bin/postrix; }
check "dpkg -r removes the program" removed
kept_with_user() { kept && getent passwd postrix; }
check "... and keeps the database, Sent/ and the user" kept_with_user
install_logged() { dpkg -i "$deb" >"$work/install.out" 2>&1 || { cat "$work/install.out"; false; }; }
check "dpkg -i again installs it" install_logged
kept_not_remade() { kept && ! grep 'initdb: created' "$work/install.out"; }
check "... keeps the database and makes no new one" kept_not_remade
check "dpkg -i over the installed package (upgrade) succeeds" install_logged
check "... and keeps the database and Sent/" kept
purged() {
  dpkg -P postrix || return
  local left=()
  [[ -e $state ]] && left+=("$state")
  [[ -e /etc/logrotate.d/postrix ]] && left+=(/etc/logrotate.d/postrix)
  getent passwd postrix >/dev/null && left+=("user postrix")
  getent group postrix >/dev/null && left+=("group postrix")
  dpkg-query -W -f='${Status}' postrix 2>/dev/null | grep -qv "not-installed" && left+=(package)
  ((${#left[@]} == 0)) || { echo "left behind: ${left[*]}"; return 1; }
}
check "dpkg -P purges the state folder, the logrotate file, the user and group" purged

echo "package: $passed passed, $failed failed"
((failed == 0))
