#!/bin/sh
# Times `quire mkpc` under Wine beside the Linux build, on one generated area
# read by both: a full run (no previous table) and an unchanged rerun (the
# previous table at the path is reused for every item), CSV and dBASE.
#
#   bench/wine-mkpc.sh [MARKERS]      (default 20000 markers, 30 pieces each)
#
# Builds the Linux release preset into build/bench (or $QUIRE_BENCH_BUILD) and
# the windows preset's program and DLLs into build/windows, keeps the store,
# the tables and (unless WINEPREFIX is set) a Wine prefix in a temporary
# directory, and prints the hyperfine table and the Wine / Linux ratios of the
# medians with Wine's own start taken out: the time of `wine cmd /c exit`
# (Wine starting a trivial program) and of `wine quire.exe --version`
# (quire.exe and its DLLs loaded, nothing read) are subtracted from the Wine
# runs, `quire --version` from the Linux runs. A wineserver kept running for
# the whole bench serves every run, as it does for a user's session.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
markers=${1:-20000}
build=${QUIRE_BENCH_BUILD:-$here/build/bench}
windows_build=$here/build/windows
work=$(mktemp -d "${TMPDIR:-/tmp}/quire-wine-bench.XXXXXX")
export WINEPREFIX=${WINEPREFIX:-$work/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

for tool in hyperfine wine wineserver python3; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 2; }
done

cmake --preset release -B "$build" -DQUIRE_TESTS=OFF -DQUIRE_BENCH=OFF >/dev/null
cmake --build "$build" --target quire_cli -j2 >/dev/null
[ -f "$windows_build/build.ninja" ] || cmake --preset windows >/dev/null
cmake --build --preset windows --target quire_cli quire_lib plotbase quire_files -j2 >/dev/null
quire=$build/bin/quire
quire_exe=$windows_build/bin/quire.exe

# A persistent server first (one for every run, as in a session); one that
# runs already in the prefix serves as it is.
wineserver -p 2>/dev/null || true
wineboot -i >/dev/null 2>&1 || true

# One area file for both: Linux writes it, Wine reads it through drive Z:.
store=$work/store
mkdir -p "$store" "$work/linux" "$work/wine"
QUIRE_STORE=$store "$quire" area generate BENCH --markers "$markers" --pieces-per-marker 30 --models 20 \
  --orders 20 --seed 1 >/dev/null
wine_store="Z:$(printf '%s' "$store" | tr / '\\')"

linux="cd '$work/linux' && QUIRE_STORE='$store' '$quire'"
wine="cd '$work/wine' && QUIRE_STORE='$wine_store' wine '$quire_exe'"

# A full run starts without a previous table; an unchanged rerun finds the
# table its warm-up run wrote (and its run record) at the path. Each system
# keeps its tables in a folder of its own: the preambles name the area file
# in the system's own form, so one system's table is no previous table for
# the other.
hyperfine --warmup 1 --runs "${QUIRE_BENCH_RUNS:-10}" --export-json "$work/bench.json" \
  -n "wine start" --prepare true "wine cmd /c exit" \
  -n "wine version" --prepare true "$wine --version" \
  -n "linux version" --prepare true "$linux --version" \
  -n "linux full csv" --prepare "rm -f '$work/linux/full.csv' '$work/linux/OLD.DAT'" \
  "$linux mkpc --no-progress --quiet BENCH full.csv" \
  -n "wine full csv" --prepare "rm -f '$work/wine/full.csv' '$work/wine/OLD.DAT'" \
  "$wine mkpc --no-progress --quiet BENCH full.csv" \
  -n "linux rerun csv" --prepare "rm -f '$work/linux/OLD.DAT'" "$linux mkpc --no-progress --quiet BENCH rerun.csv" \
  -n "wine rerun csv" --prepare "rm -f '$work/wine/OLD.DAT'" "$wine mkpc --no-progress --quiet BENCH rerun.csv" \
  -n "linux full dbf" --prepare "rm -f '$work/linux/full.dbf' '$work/linux/OLD.DAT'" \
  "$linux mkpc --no-progress --quiet BENCH full.dbf" \
  -n "wine full dbf" --prepare "rm -f '$work/wine/full.dbf' '$work/wine/OLD.DAT'" \
  "$wine mkpc --no-progress --quiet BENCH full.dbf" \
  -n "linux rerun dbf" --prepare "rm -f '$work/linux/OLD.DAT'" "$linux mkpc --no-progress --quiet BENCH rerun.dbf" \
  -n "wine rerun dbf" --prepare "rm -f '$work/wine/OLD.DAT'" "$wine mkpc --no-progress --quiet BENCH rerun.dbf"

# The two systems wrote the same rows.
tail -n +2 "$work/linux/full.csv" >"$work/linux.rows"
tail -n +2 "$work/wine/full.csv" >"$work/wine.rows"
cmp -s "$work/linux.rows" "$work/wine.rows" && echo "rows: the same on both" ||
  echo "rows: the Wine table differs from the Linux table" >&2

python3 - "$work/bench.json" <<'PY'
import json, sys
# Medians: a shared machine's other work lands on a few runs.
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
start, version, linux_version = r["wine start"], r["wine version"], r["linux version"]
print("wine start %.0f ms, wine quire.exe --version %.0f ms, linux quire --version %.1f ms"
      % (start * 1e3, version * 1e3, linux_version * 1e3))
for run in ("full csv", "rerun csv", "full dbf", "rerun dbf"):
    w, l = r["wine " + run], r["linux " + run]
    print("%-9s linux %6.0f ms, wine %6.0f ms; wine - start %6.0f ms (%.2fx), wine - version %6.0f ms (%.2fx)"
          " (target <= 2x)" % (run, (l - linux_version) * 1e3, w * 1e3, (w - start) * 1e3,
                               (w - start) / (l - linux_version), (w - version) * 1e3,
                               (w - version) / (l - linux_version)))
PY
