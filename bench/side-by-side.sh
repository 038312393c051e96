#!/bin/sh
# Times two builds of quire side by side in one hyperfine run, on the same
# generated area: a full `quire mkpc` run into a new table, an unchanged
# rerun (CSV and dBASE) and `quire area generate`, with each build's peak
# memory. For changes that must keep the speed.
#
#   bench/side-by-side.sh OLD_BIN NEW_BIN [MARKERS]    (default 20000, 30 pieces each)
set -eu

[ $# -ge 2 ] || { echo "usage: bench/side-by-side.sh OLD_BIN NEW_BIN [MARKERS]" >&2; exit 2; }
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
markers=${3:-20000}
command -v hyperfine >/dev/null || { echo "bench: hyperfine is not installed" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/quire-side.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
cd "$work"
export QUIRE_STORE="$work/store"
mkdir -p store old new

"$old/quire" area generate BENCH --markers "$markers" --pieces-per-marker 30 --models 20 --orders 20 \
  --seed 1 >/dev/null
for b in old new; do
  eval "bin=\$$b"
  "$bin/quire" mkpc --no-progress --quiet BENCH "$b/rerun.csv"
  "$bin/quire" mkpc --no-progress --quiet BENCH "$b/rerun.dbf"
done

hyperfine --warmup 1 --runs "${RUNS:-10}" -N \
  -n "old mkpc first run" "$old/quire mkpc --no-progress --quiet BENCH -" \
  -n "new mkpc first run" "$new/quire mkpc --no-progress --quiet BENCH -" \
  -n "old mkpc rerun csv" "$old/quire mkpc --no-progress --quiet BENCH old/rerun.csv" \
  -n "new mkpc rerun csv" "$new/quire mkpc --no-progress --quiet BENCH new/rerun.csv" \
  -n "old mkpc rerun dbf" "$old/quire mkpc --no-progress --quiet BENCH old/rerun.dbf" \
  -n "new mkpc rerun dbf" "$new/quire mkpc --no-progress --quiet BENCH new/rerun.dbf"

hyperfine --runs 3 \
  -n "old area generate" "QUIRE_STORE=$work/gen-old $old/quire area generate G --markers $markers --pieces-per-marker 30 --seed 2" \
  -n "new area generate" "QUIRE_STORE=$work/gen-new $new/quire area generate G --markers $markers --pieces-per-marker 30 --seed 2" \
  --prepare "mkdir -p $work/gen-old $work/gen-new; rm -f $work/gen-old/* $work/gen-new/*"

for b in old new; do
  eval "bin=\$$b"
  /usr/bin/time -f "$b mkpc peak memory: %M KB" "$bin/quire" mkpc --no-progress --quiet BENCH "$b/mem.csv"
done
