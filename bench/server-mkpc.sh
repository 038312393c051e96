#!/usr/bin/env bash
# Times `quire mkpc` on a generated area in a server store against psql
# copying the same rows out of the server as CSV, unchanged reruns of mkpc
# and mkhdr against the same reruns on a SQLite store, and measures peak
# memory.
#
#   bench/server-mkpc.sh [--large]   (20,000 markers of 30 pieces; --large
#                                     adds 200,000 markers)
#
# Uses the server of $QUIRE_TEST_ODBC and the rest of scripts/pg-server's
# DIR/env when set; otherwise starts a private primary with scripts/pg-server
# for the run and stops it at the end. Builds the release preset into
# build/bench (or $QUIRE_BENCH_BUILD); keeps its SQLite store and outputs in
# a temporary directory. Prints the hyperfine table, the ratios and the peak
# memory of each size.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
large=0
case "${1:-}" in
  --large) large=1 ;;
  "") ;;
  *) echo "usage: bench/server-mkpc.sh [--large]" >&2; exit 2 ;;
esac
build=${QUIRE_BENCH_BUILD:-$here/build/bench}
work=$(mktemp -d "${TMPDIR:-/tmp}/quire-server-bench.XXXXXX")
pg_dir=
cleanup() {
  [ -z "$pg_dir" ] || "$here/scripts/pg-server" stop "$pg_dir"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

for tool in hyperfine psql; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time is not installed" >&2; exit 2; }

if [ -z "${QUIRE_TEST_ODBC:-}" ]; then
  # A directory of its own, which pg-server hands to the server's user.
  pg_dir=$(mktemp -d "${TMPDIR:-/tmp}/quire-bench-pg.XXXXXX")
  "$here/scripts/pg-server" start "$pg_dir" >/dev/null
  set -a
  . "$pg_dir/env"
  set +a
fi
for v in QUIRE_TEST_PG_PORT QUIRE_TEST_PG_USER QUIRE_TEST_PG_PASSWORD QUIRE_TEST_PG_DATABASE; do
  [ -n "${!v:-}" ] || { echo "bench: QUIRE_TEST_ODBC is set but $v is not (source all of scripts/pg-server's DIR/env)" >&2; exit 2; }
done

cmake --preset release -B "$build" -DQUIRE_TESTS=OFF -DQUIRE_BENCH=OFF >/dev/null
cmake --build "$build" --target quire_cli -j2 >/dev/null
quire=$build/bin/quire

# The server store, and a SQLite store of the same areas to check the rows
# against and to compare times with.
server_store="odbc:$QUIRE_TEST_ODBC"
sqlite_store="$work/store"
mkdir -p "$sqlite_store"
export QUIRE_STORE=$server_store
# psql as a report machine reaches the server: over TCP as the password user.
export PGPASSWORD=$QUIRE_TEST_PG_PASSWORD
psql_line="psql -X -q -h 127.0.0.1 -p $QUIRE_TEST_PG_PORT -U $QUIRE_TEST_PG_USER -d $QUIRE_TEST_PG_DATABASE"
cd "$work"

generate() {  # NAME MARKERS: the same area in both stores
  local store
  for store in "$server_store" "$sqlite_store"; do
    QUIRE_STORE=$store "$quire" area generate "$1" --markers "$2" --pieces-per-marker 30 --models 20 --orders 20 \
      --seed 1 >/dev/null 2>generate.err || {
      echo "bench: generating $1 into ${store%%;*}... failed: $(head -n 3 generate.err)" >&2
      exit 1
    }
  done
}

# The schema that holds area NAME on the server: the one whose area row
# carries that name.
schema_of() {  # NAME
  local schema
  while IFS= read -r schema; do
    [ "$($psql_line -At -c "SELECT name FROM \"${schema//\"/\"\"}\".area")" = "$1" ] && { echo "$schema"; return 0; }
  done < <($psql_line -At -c "SELECT table_schema FROM information_schema.tables WHERE table_name = 'area'")
  echo "bench: no schema on the server holds area $1" >&2
  exit 1
}

# The plain report's rows with one query: the same nine columns in the same
# order (the report's: markers by id, pieces by position), times as
# lower-case hexadecimal of their 32-bit value (none, -1, written as 0 for the
# creation and previous modification times), user names cut at 43
# characters.
copy_command() {  # SCHEMA
  local query
  query=$(tr '\n' ' ' <<'SQL'
SELECT m.name, p.name, p.category,
       to_hex(m.modified::bigint & 4294967295),
       substr(m.user_last_mod, 1, 43),
       to_hex(CASE WHEN m.created = -1 THEN 0 ELSE m.created::bigint END & 4294967295),
       substr(m.user_created, 1, 43),
       to_hex(CASE WHEN m.prev_modified = -1 THEN 0 ELSE m.prev_modified::bigint END & 4294967295),
       substr(m.user_prev_mod, 1, 43)
FROM markers AS m JOIN marker_pieces AS p ON p.marker_id = m.id
ORDER BY m.id, p.position
SQL
)
  echo "$psql_line -c 'SET search_path = \"${1//\"/\"\"}\"' -c '\\copy ($query) to stdout with csv'"
}

generate BENCH 20000
copy=$(copy_command "$(schema_of BENCH)")

# Warm-up runs, which also leave the outputs the reruns start from.
"$quire" mkpc --no-progress BENCH out.csv
"$quire" mkpc --no-progress BENCH out.dbf
QUIRE_STORE=$sqlite_store "$quire" mkpc --no-progress BENCH sqlite-out.csv
"$quire" mkhdr --no-progress BENCH hdr.csv
QUIRE_STORE=$sqlite_store "$quire" mkhdr --no-progress BENCH sqlite-hdr.csv
eval "$copy" >psql.csv
echo "rows: quire $(($(wc -l <out.csv) - 2)), psql $(wc -l <psql.csv)"
# The same values in the same order (psql quotes a text only when it must),
# and the same table as from the SQLite store after the preamble.
tail -n +3 out.csv | tr -d '\r"' >quire-values.txt
tr -d '"\r' <psql.csv >psql-values.txt
cmp -s quire-values.txt psql-values.txt && echo "rows: same values" || echo "rows: quire's and psql's rows differ" >&2
cmp -s <(tail -n +2 out.csv) <(tail -n +2 sqlite-out.csv) && echo "rows: the same table as from the SQLite store" ||
  echo "rows: the server's table differs from the SQLite store's" >&2

hyperfine --warmup 1 --runs 5 --export-json bench.json \
  -n "quire mkpc csv" --prepare 'rm -f run.csv OLD.DAT' "$quire mkpc --no-progress BENCH run.csv" \
  -n "quire mkpc dbf" --prepare 'rm -f run.dbf OLD.DAT' "$quire mkpc --no-progress BENCH run.dbf" \
  -n "rerun csv" --prepare 'cp out.csv rerun.csv; sync rerun.csv; rm -f OLD.DAT' "$quire mkpc --no-progress BENCH rerun.csv" \
  -n "psql copy csv" --prepare 'true' "$copy >run-psql.csv" \
  -n "quire mkpc csv, SQLite" --prepare 'rm -f run-sqlite.csv OLD.DAT' \
     "QUIRE_STORE='$sqlite_store' $quire mkpc --no-progress BENCH run-sqlite.csv" \
  -n "rerun csv, SQLite" --prepare 'cp sqlite-out.csv rerun-sqlite.csv; sync rerun-sqlite.csv; rm -f OLD.DAT' \
     "QUIRE_STORE='$sqlite_store' $quire mkpc --no-progress BENCH rerun-sqlite.csv" \
  -n "rerun mkhdr" --prepare 'rm -f OLD.DAT' "$quire mkhdr --no-progress BENCH hdr.csv" \
  -n "rerun mkhdr, SQLite" --prepare 'rm -f OLD.DAT' \
     "QUIRE_STORE='$sqlite_store' $quire mkhdr --no-progress BENCH sqlite-hdr.csv"

python3 - bench.json <<'PY'
import json, sys
r = {x["command"]: x["mean"] for x in json.load(open(sys.argv[1]))["results"]}
print("csv / psql copy    : %.2f" % (r["quire mkpc csv"] / r["psql copy csv"]))
print("dbf / psql copy    : %.2f" % (r["quire mkpc dbf"] / r["psql copy csv"]))
print("rerun / full csv   : %.2f" % (r["rerun csv"] / r["quire mkpc csv"]))
print("server / SQLite csv: %.2f" % (r["quire mkpc csv"] / r["quire mkpc csv, SQLite"]))
print("rerun server / SQLite, mkpc : %.2f" % (r["rerun csv"] / r["rerun csv, SQLite"]))
print("rerun server / SQLite, mkhdr: %.2f" % (r["rerun mkhdr"] / r["rerun mkhdr, SQLite"]))
PY

max_rss() {  # COMMAND...: the peak resident set size in kB
  /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p'
}
peak() {  # NAME COPY_COMMAND
  rm -f peak.csv OLD.DAT
  local full rerun copy_rss
  full=$(max_rss "$quire" mkpc --no-progress "$1" peak.csv)
  rerun=$(max_rss "$quire" mkpc --no-progress "$1" peak.csv)
  copy_rss=$(max_rss sh -c "$2")
  echo "peak memory, $3 markers: quire mkpc csv full $full kB, rerun $rerun kB; psql copy $copy_rss kB"
}
peak BENCH "$copy" 20000
if ((large)); then
  generate LARGE 200000
  peak LARGE "$(copy_command "$(schema_of LARGE)")" 200000
fi
