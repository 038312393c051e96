#!/usr/bin/env bash
# A server store end to end, on the private primary and standby of
# scripts/pg-server (their connection strings and psql command lines in the
# environment, as DIR/env has them): the example area imported into the
# primary is, once the standby has replayed it, the same area there. Every
# report kind, as CSV, detailed CSV and dBASE, gives the same table on both
# (on the standby a read-only server), and the same table as a SQLite
# store's import of the same file, apart from the preamble's area text.
#
#   replica_test.sh QUIRE SOURCE_DIR
#
# Exit status 77 (skipped) when QUIRE_TEST_ODBC is not set; set but no
# server reachable is a failure.
set -euo pipefail

quire=$1
source_dir=$2
kKinds=(mkhdr mkpc mkmod mkmc mkov mksplice model ordml)
kReplayWait=60  # seconds the standby may take to replay the import

fail() {
  echo "replica_test: $*" >&2
  exit 1
}

[ -n "${QUIRE_TEST_ODBC:-}" ] || { echo "replica_test: QUIRE_TEST_ODBC is not set (scripts/pg-server start DIR writes it); skipped"; exit 77; }
for v in QUIRE_TEST_ODBC_STANDBY QUIRE_TEST_PSQL QUIRE_TEST_PSQL_STANDBY; do
  [ -n "${!v:-}" ] || fail "QUIRE_TEST_ODBC is set but $v is not (source the whole of scripts/pg-server's DIR/env)"
done
read -r -a psql_primary <<<"$QUIRE_TEST_PSQL"
read -r -a psql_standby <<<"$QUIRE_TEST_PSQL_STANDBY"
"${psql_primary[@]}" -c 'SELECT 1' >/dev/null || fail "the primary does not answer: $QUIRE_TEST_PSQL"
[ "$("${psql_standby[@]}" -c 'SELECT pg_is_in_recovery()')" = t ] || fail "the server of QUIRE_TEST_PSQL_STANDBY is not a standby"

work=$(mktemp -d "${TMPDIR:-/tmp}/quire-replica.XXXXXX")
# A database of this test's own, so that tests running beside it on the
# same server never see its area, nor it theirs.
database=quire_replica_$$_$RANDOM
cleanup() {
  "${psql_primary[@]}" -c "DROP DATABASE IF EXISTS $database WITH (FORCE)" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

in_database() {  # CONNECTION_STRING: the same with this test's database
  local s=";$1;"
  [[ "$s" == *";Database="* ]] || fail "the connection string names no Database="
  s=$(sed "s/;Database=[^;]*;/;Database=$database;/" <<<"$s")
  s=${s#;}
  echo "${s%;}"
}
primary=$(in_database "$QUIRE_TEST_ODBC")
standby=$(in_database "$QUIRE_TEST_ODBC_STANDBY")
owner=$(sed -n 's/.*;Username=\([^;]*\);.*/\1/p' <<<";$QUIRE_TEST_ODBC;")
password=$(sed -n 's/.*;Password=\([^;]*\);.*/\1/p' <<<";$QUIRE_TEST_ODBC;")
"${psql_primary[@]}" -c "CREATE DATABASE $database${owner:+ OWNER $owner}" >/dev/null ||
  fail "could not create the database $database on the primary"

# Waits until the standby has replayed everything the primary has written
# so far. The insert position, not the write position: with asynchronous
# commit the last commit may not be written yet when its client returns.
wait_for_replay() {
  local target replayed=f i
  target=$("${psql_primary[@]}" -c 'SELECT pg_current_wal_insert_lsn()')
  for ((i = 0; i < kReplayWait * 10; i++)); do
    replayed=$("${psql_standby[@]}" -c "SELECT pg_last_wal_replay_lsn() >= '$target'::pg_lsn")
    [ "$replayed" = t ] && return 0
    sleep 0.1
  done
  fail "the standby has not replayed the primary's WAL up to $target after ${kReplayWait}s"
}
wait_for_replay
[ "$("${psql_standby[@]}" -c "SELECT count(*) FROM pg_database WHERE datname = '$database'")" = 1 ] ||
  fail "the standby has replayed past the database's creation but has no database $database"

cd "$work"
area_file=$source_dir/examples/shop.json
area=$(sed -n 's/^ *"name": *"\([^"]*\)".*/\1/p' "$area_file" | head -n 1)
[ -n "$area" ] || fail "$area_file names no area"

QUIRE_STORE="odbc:$primary" "$quire" area import "$area_file" >import.out 2>&1 ||
  fail "import into the primary failed: $(tail -n 3 import.out)"
mkdir -p sqlite-store
QUIRE_STORE="$work/sqlite-store" "$quire" area import "$area_file" >/dev/null 2>sqlite-import.err ||
  fail "import into a SQLite store failed: $(cat sqlite-import.err)"
wait_for_replay

# Every kind, as CSV, detailed CSV and dBASE, into a folder per store.
run_reports() {  # STORE FOLDER
  local kind status
  mkdir -p "$2"
  for kind in "${kKinds[@]}"; do
    for form in "$kind.csv" "$kind-detailed.csv" "$kind.dbf"; do
      status=0
      if [ "$form" = "$kind-detailed.csv" ]; then
        QUIRE_STORE=$1 "$quire" "$kind" --detailed --quiet --no-progress "$area" "$2/$form" 2>"$2/$form.err" || status=$?
      else
        QUIRE_STORE=$1 "$quire" "$kind" --quiet --no-progress "$area" "$2/$form" 2>"$2/$form.err" || status=$?
      fi
      [ "$status" -eq 0 ] || fail "quire $kind into $2/$form exited $status: $(head -n 3 "$2/$form.err")"
    done
  done
}
run_reports "odbc:$primary" primary
run_reports "odbc:$standby" standby
run_reports "$work/sqlite-store" sqlite

# A CSV table's first line with its area text (the preamble's fourth value)
# left out; a dBASE table without the date of its writing (bytes 2-4).
comparable() {  # TABLE
  case "$1" in
    *.dbf) head -c 1 "$1"; tail -c +5 "$1" ;;
    *) sed '1s/^\("[^"]*","[^"]*","[^"]*",\).*/\1/' "$1" ;;
  esac
}
failures=0
for table in primary/*.csv primary/*.dbf; do
  name=${table#primary/}
  for other in standby sqlite; do
    if ! cmp -s <(comparable "$table") <(comparable "$other/$name"); then
      echo "replica_test: $name differs between the primary and the $other store" >&2
      diff <(comparable "$table" | head -n 20) <(comparable "$other/$name" | head -n 20) >&2 || true
      failures=$((failures + 1))
    fi
  done
  # The area text of a server store names the server, never the password.
  if [ -n "$password" ] && grep -aqF -- "$password" "$table" "standby/$name"; then
    echo "replica_test: $name carries the server's password" >&2
    failures=$((failures + 1))
  fi
done

# The standby is read-only: an import there fails, saying so without the
# password, and the area stays as the primary has it.
status=0
QUIRE_STORE="odbc:$standby" "$quire" area import "$area_file" >standby-import.out 2>&1 || status=$?
if [ "$status" -eq 0 ]; then
  echo "replica_test: an import into the read-only standby reported success" >&2
  failures=$((failures + 1))
fi
status=0
QUIRE_STORE="odbc:$primary" "$quire" mkpc --quiet --no-progress NO-SUCH-AREA absent.csv >absent.out 2>&1 || status=$?
if [ "$status" -ne 1 ]; then
  echo "replica_test: a report of a missing area exited $status, not 1" >&2
  failures=$((failures + 1))
fi
# Area management on the server: info, export, list and check name the
# server and never the password, nor does a failed login's message; check
# says what it leaves to the server.
status=0
{
  QUIRE_STORE="odbc:$primary" "$quire" area info "$area" &&
    QUIRE_STORE="odbc:$primary" "$quire" area export "$area" exported.json &&
    QUIRE_STORE="odbc:$standby" "$quire" area list &&
    QUIRE_STORE="odbc:$primary" "$quire" area check "$area"
} >manage.out 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  echo "replica_test: area info, export, list or check on the server exited $status: $(tail -n 3 manage.out)" >&2
  failures=$((failures + 1))
fi
grep -q "^$area: not checked here: " manage.out || {
  echo "replica_test: area check on the server does not say what it left to the server" >&2
  failures=$((failures + 1))
}
wrong=${primary/;Password=$password/;Password=${password}x}
for command in "area info $area" "area export $area wrong.json" "area list"; do
  # shellcheck disable=SC2086
  QUIRE_STORE="odbc:$wrong" "$quire" $command >>wrong-login.out 2>&1 && {
    echo "replica_test: quire $command with a wrong password reported success" >&2
    failures=$((failures + 1))
  }
done
# An area whose second marker repeats the first's name in other case: the
# server refuses it with the SQLite store's message, and keeps the area.
sed '0,/"name": "M200"/s//"name": "m100"/' "$area_file" >duplicate.json
for store in "odbc:$primary" "$work/sqlite-store"; do
  QUIRE_STORE=$store "$quire" area import duplicate.json >/dev/null 2>>duplicate.err && {
    echo "replica_test: an import with a duplicate marker name into ${store%%:*} reported success" >&2
    failures=$((failures + 1))
  }
done
if [ "$(sort -u duplicate.err | wc -l)" -ne 1 ] || ! grep -q 'markers\[1\] "m100": name: duplicates markers\[0\] "M100"' duplicate.err; then
  echo "replica_test: a duplicate name is told differently by the server and the SQLite store:" >&2
  cat duplicate.err >&2
  failures=$((failures + 1))
fi
# A model-list row missing on the server is damage, as in an area file, not
# the next row of the list read in its place: the first marker loses its
# first model.
schema=$("${psql_primary[@]}" -d "$database" -c "SELECT schema_name FROM quire_areas WHERE name_key = lower('$area')")
"${psql_primary[@]}" -d "$database" -c "DELETE FROM \"$schema\".order_models WHERE owner = 'marker' AND owner_id = 1 AND position = 0" >/dev/null ||
  fail "could not take a model-list row out of the area on the primary"
status=0
QUIRE_STORE="odbc:$primary" "$quire" mkmod --quiet --no-progress "$area" damaged.csv >damaged.out 2>&1 || status=$?
if [ "$status" -ne 3 ] || ! grep -q "marker M100: model list: model 0 is missing" damaged.out; then
  echo "replica_test: a missing model-list row on the server was not reported as damage (exit $status):" >&2
  cat damaged.out >&2
  failures=$((failures + 1))
fi
for out in import.out standby-import.out absent.out manage.out exported.json wrong-login.out duplicate.err; do
  if [ -n "$password" ] && grep -aqF -- "$password" "$out"; then
    echo "replica_test: the messages in $out carry the server's password" >&2
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] || fail "$failures checks failed"
echo "replica_test: ${#kKinds[@]} kinds x 3 forms: the standby's and the SQLite store's tables equal the primary's"
