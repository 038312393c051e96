#!/bin/sh
# Times `quire mkpc` on a generated area against a plain SQLite export of the
# same rows and against copying its outputs, and measures peak memory.
#
#   bench/mkpc.sh [MARKERS]      (default 20000 markers, 30 pieces each)
#
# Builds the release preset into build/bench (or $QUIRE_BENCH_BUILD), keeps
# its store and outputs in a temporary directory, and prints the hyperfine
# table, the ratios and the peak memory at 1,000, MARKERS and 100,000 markers.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
markers=${1:-20000}
build=${QUIRE_BENCH_BUILD:-$here/build/bench}
work=$(mktemp -d "${TMPDIR:-/tmp}/quire-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

for tool in hyperfine sqlite3; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time is not installed" >&2; exit 2; }

cmake --preset release -B "$build" -DQUIRE_TESTS=OFF -DQUIRE_BENCH=OFF >/dev/null
cmake --build "$build" --target quire_cli -j2 >/dev/null
quire=$build/bin/quire

export QUIRE_STORE="$work/store"
mkdir -p "$QUIRE_STORE"
cd "$work"

generate() {  # NAME MARKERS
  "$quire" area generate "$1" --markers "$2" --pieces-per-marker 30 --models 20 --orders 20 \
    --seed 1 >/dev/null
}

generate BENCH "$markers"

# The plain report's rows, straight from the area's database with one query:
# the same nine columns in the same order, times as lower-case hexadecimal of
# their 32-bit value (none, -1, written as 0 for the creation and previous
# modification times), user names cut at 43 characters.
query=$(cat <<'SQL'
SELECT m.name, p.name, p.category,
       printf('%x', m.modified & 4294967295),
       substr(m.user_last_mod, 1, 43),
       printf('%x', CASE WHEN m.created = -1 THEN 0 ELSE m.created END & 4294967295),
       substr(m.user_created, 1, 43),
       printf('%x', CASE WHEN m.prev_modified = -1 THEN 0 ELSE m.prev_modified END & 4294967295),
       substr(m.user_prev_mod, 1, 43)
FROM markers AS m JOIN marker_pieces AS p ON p.marker_id = m.id
ORDER BY m.name COLLATE NOCASE, p.position;
SQL
)

# Warm-up runs also leave the outputs that cp copies.
"$quire" mkpc --no-progress BENCH out.csv
"$quire" mkpc --no-progress BENCH out.dbf
db=$(head -n 1 out.csv | cut -d '"' -f 8)  # the area's file, from the preamble
sqlite3 -csv "$db" "$query" >sqlite.csv
echo "rows: quire $(($(wc -l <out.csv) - 2)), sqlite3 $(wc -l <sqlite.csv)"
# The same values in the same order (sqlite3 quotes a text only when it must).
tail -n +3 out.csv | tr -d '\r"' >quire-values.txt
tr -d '"\r' <sqlite.csv >sqlite-values.txt
cmp -s quire-values.txt sqlite-values.txt && echo "rows: same values" ||
  echo "rows: the two exports differ" >&2

# A full run starts without a previous output, so nothing is reused; an
# unchanged rerun finds the full output at its path and reuses every item
# by the run record its warm-up run left beside it (.rerun.csv.quire-run).
# The restored output is synced as the run that wrote it would have synced
# it; otherwise the rerun's directory sync waits for the copy's data.
hyperfine --warmup 1 --runs 5 --export-json bench.json \
  -n "quire mkpc csv" --prepare 'rm -f run.csv OLD.DAT' "$quire mkpc --no-progress BENCH run.csv" \
  -n "quire mkpc dbf" --prepare 'rm -f run.dbf OLD.DAT' "$quire mkpc --no-progress BENCH run.dbf" \
  -n "rerun csv" --prepare 'cp out.csv rerun.csv; sync rerun.csv; rm -f OLD.DAT' "$quire mkpc --no-progress BENCH rerun.csv" \
  -n "rerun dbf" --prepare 'cp out.dbf rerun.dbf; sync rerun.dbf; rm -f OLD.DAT' "$quire mkpc --no-progress BENCH rerun.dbf" \
  -n "sqlite3 -csv" --prepare 'true' "sqlite3 -csv '$db' \"$query\" >run-sqlite.csv" \
  -n "cp csv" --prepare 'rm -f copy.csv' "cp out.csv copy.csv" \
  -n "cp dbf" --prepare 'rm -f copy.dbf' "cp out.dbf copy.dbf"

python3 - bench.json <<'PY'
import json, sys
r = {x["command"]: x["mean"] for x in json.load(open(sys.argv[1]))["results"]}
print("csv / sqlite3 -csv : %.2f (target <= 0.4)" % (r["quire mkpc csv"] / r["sqlite3 -csv"]))
print("dbf / cp dbf       : %.2f (target <= 4)" % (r["quire mkpc dbf"] / r["cp dbf"]))
print("csv / cp csv       : %.2f" % (r["quire mkpc csv"] / r["cp csv"]))
print("rerun / full csv   : %.2f" % (r["rerun csv"] / r["quire mkpc csv"]))
print("rerun / full dbf   : %.2f" % (r["rerun dbf"] / r["quire mkpc dbf"]))
print("rerun csv / cp csv : %.2f (target <= 1.5)" % (r["rerun csv"] / r["cp csv"]))
print("rerun dbf / cp dbf : %.2f (target <= 1.0)" % (r["rerun dbf"] / r["cp dbf"]))
PY

peak() {  # NAME OUTPUT: a full run, then an unchanged rerun
  rm -f "$2" OLD.DAT
  for run in full rerun; do
    /usr/bin/time -v "$quire" mkpc --no-progress "$1" "$2" 2>&1 >/dev/null |
      sed -n 's/.*Maximum resident set size (kbytes): //p'
  done | paste -sd/ -
}
for n in 1000 "$markers" 100000; do
  if [ "$n" != "$markers" ]; then generate "PEAK$n" "$n"; name=PEAK$n; else name=BENCH; fi
  echo "peak memory (full/rerun), $n markers: csv $(peak "$name" peak.csv) kB, dbf $(peak "$name" peak.dbf) kB"
done
