#!/usr/bin/env bash
# scripts/pg-server, which the server store's tests and benchmarks stand on:
# a started primary and standby answer as DIR/env says, only as it says, and
# the standby replays the primary read-only; a second start into the same
# directory, or a stop of a directory it did not make, touches nothing; a
# stop leaves no server and no directory.
#
#   pg_server_test.sh SOURCE_DIR
#
# Exit status 77 (skipped) when the PostgreSQL server is not installed.
set -euo pipefail

pg_server=$1/scripts/pg-server
ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || { echo "pg_server_test: PostgreSQL is not installed; skipped"; exit 77; }

failures=0
check() {  # WHAT COMMAND...: the command must succeed
  local what=$1
  shift
  if ! "$@" >/dev/null 2>&1; then
    echo "pg_server_test: $what" >&2
    failures=$((failures + 1))
  fi
}
refused() {  # WHAT COMMAND...: the command must fail
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then
    echo "pg_server_test: $what" >&2
    failures=$((failures + 1))
  fi
}

parent=$(mktemp -d "${TMPDIR:-/tmp}/quire-pg-test.XXXXXX")
chmod 755 "$parent"  # the server's user reaches the directory inside
dir=$parent/server  # not there yet: start makes it
trap '"$pg_server" stop "$dir" >/dev/null 2>&1 || true; rm -rf "$parent"' EXIT
"$pg_server" start "$dir" >/dev/null || { echo "pg_server_test: start failed" >&2; exit 1; }
# shellcheck disable=SC1091
. "$dir/env"
read -r -a psql_primary <<<"$QUIRE_TEST_PSQL"
read -r -a psql_standby <<<"$QUIRE_TEST_PSQL_STANDBY"
primary_pid=$(head -n 1 "$dir/primary/postmaster.pid")
standby_pid=$(head -n 1 "$dir/standby/postmaster.pid")

# The connection strings name the ports, the password and a driver that is there.
driver=$(sed -n 's/^Driver=\([^;]*\);.*/\1/p' <<<"$QUIRE_TEST_ODBC")
check "the driver $driver is not there" test -f "$driver"
for field in "Servername=127.0.0.1" "Port=$QUIRE_TEST_PG_PORT" "Password=$QUIRE_TEST_PG_PASSWORD" "UseDeclareFetch=1"; do
  check "QUIRE_TEST_ODBC has no $field" grep -qF ";$field;" <<<";$QUIRE_TEST_ODBC;"
done
check "QUIRE_TEST_ODBC_STANDBY is not on the standby's port" grep -qF ";Port=$QUIRE_TEST_PG_STANDBY_PORT;" <<<";$QUIRE_TEST_ODBC_STANDBY;"

# The password user over TCP on both; nobody without the password, and
# never the superuser over TCP.
login() {  # PORT USER PASSWORD
  PGPASSWORD=$3 psql -X -q -At -w -h 127.0.0.1 -p "$1" -U "$2" -d "$QUIRE_TEST_PG_DATABASE" -c 'SELECT 1'
}
for port in "$QUIRE_TEST_PG_PORT" "$QUIRE_TEST_PG_STANDBY_PORT"; do
  check "the password user cannot log in on port $port" login "$port" "$QUIRE_TEST_PG_USER" "$QUIRE_TEST_PG_PASSWORD"
  refused "a wrong password logs in on port $port" login "$port" "$QUIRE_TEST_PG_USER" wrong
  refused "the superuser logs in over TCP on port $port" login "$port" postgres ""
done

# What the primary writes, the standby replays, and refuses writes itself.
"${psql_primary[@]}" -c 'CREATE TABLE replayed AS SELECT generate_series(1, 1000) AS n' >/dev/null
target=$("${psql_primary[@]}" -c 'SELECT pg_current_wal_insert_lsn()')
replayed=f
for ((i = 0; i < 600; i++)); do
  replayed=$("${psql_standby[@]}" -c "SELECT pg_last_wal_replay_lsn() >= '$target'::pg_lsn")
  [ "$replayed" = t ] && break
  sleep 0.1
done
check "the standby has not replayed up to $target" test "$replayed" = t
check "the standby does not have the primary's rows" \
  test "$("${psql_standby[@]}" -c 'SELECT sum(n) FROM replayed' 2>/dev/null)" = 500500
refused "the standby takes a write" "${psql_standby[@]}" -c 'INSERT INTO replayed VALUES (1)'

# A second start into the running servers' directory is refused and
# leaves them running; a stop of a directory it did not make leaves it.
refused "a second start into $dir went ahead" "$pg_server" start "$dir"
check "a refused start stopped the primary" kill -0 "$primary_pid"
mkdir "$parent/other"
touch "$parent/other/keep"
refused "stop of a directory pg-server did not make went ahead" "$pg_server" stop "$parent/other"
check "stop removed a file of a directory pg-server did not make" test -f "$parent/other/keep"

# Stop: both servers gone, and the directory.
# (A server's process may take a moment to be gone after its pid file:
# at most ten seconds.)
gone() {  # PID
  local stat i
  for ((i = 0; i < 100; i++)); do
    stat=$(ps -o stat= -p "$1" 2>/dev/null) || return 0
    [[ "$stat" == Z* ]] && return 0
    sleep 0.1
  done
  return 1
}
check "stop failed" "$pg_server" stop "$dir"
check "the primary still runs after stop" gone "$primary_pid"
check "the standby still runs after stop" gone "$standby_pid"
refused "stop left $dir" test -e "$dir"

[ "$failures" -eq 0 ] || { echo "pg_server_test: $failures checks failed" >&2; exit 1; }
echo "pg_server_test: passed"
