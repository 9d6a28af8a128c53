#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Times maskdiff against cmp and diff on two pairs of large text files:
#   (a) two identical files;
#   (b) a pair in which one line in a thousand differs, and only in a field
#       that maskdiff tolerates (a run time or a version number).
# Each command is timed over whole runs (wall clock, best of N) with the page
# cache warm, and every ratio is taken against baselines measured in this
# same run.
#
# Usage: bench/maskdiff_bench.sh [BUILD_DIR]      (default: build)
# Environment:
#   MASKDIFF_BENCH_MB    size of each file in MiB (default 1024)
#   MASKDIFF_BENCH_RUNS  runs per command, the best counts (default 3)
#   MASKDIFF_BENCH_DIR   scratch folder for the files (default BUILD_DIR/bench-data)
#   MASKDIFF_BENCH_OUT   results file (default BUILD_DIR/bench-results/maskdiff.json)
# The generated files are deleted at the end, also on failure or interrupt.
set -euo pipefail
export LC_ALL=C

build=${1:-build}
size_mb=${MASKDIFF_BENCH_MB:-1024}
runs=${MASKDIFF_BENCH_RUNS:-3}
maskdiff=$build/bin/maskdiff
scratch=${MASKDIFF_BENCH_DIR:-$build/bench-data}
out=${MASKDIFF_BENCH_OUT:-$build/bench-results/maskdiff.json}

die() { echo "maskdiff_bench: $*" >&2; exit 2; }

[[ $size_mb =~ ^[1-9][0-9]*$ ]] || die "MASKDIFF_BENCH_MB must be a positive whole number"
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "MASKDIFF_BENCH_RUNS must be a positive whole number"
[[ -x $maskdiff ]] || die "$maskdiff not found: build first (make build)"
for tool in cmp diff awk; do command -v "$tool" >/dev/null || die "$tool not found"; done

# Three files of SIZE MiB: a1 and a2 identical, b2 equal to a1 but for the
# tolerated fields. Check the room first (plus a margin of 5%).
mkdir -p "$scratch" "$(dirname "$out")"
need_kb=$((size_mb * 1024 * 3 * 105 / 100))
avail_kb=$(df -Pk "$scratch" | awk 'NR == 2 { print $4 }')
((avail_kb > need_kb)) || die "not enough room in $scratch: need $((need_kb / 1024)) MiB, have $((avail_kb / 1024)) MiB"

work=$(mktemp -d "$scratch/maskdiff.XXXXXX")
cleanup() { rm -rf -- "$work"; rmdir -- "$scratch" 2>/dev/null || true; }
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------------------
# One chunk of about 1 MiB, a whole number of blocks of 1000 lines. Within a
# block, line 617 is the one line that differs between chunk A and chunk B,
# each time in a tolerated field of one of the table's line kinds; every
# 25th line is another table-kind line, the same in both chunks; the rest are
# ordinary output lines (compact graph codes, adjacency lists, headers).
# Because each copy of the chunk starts a new block, the concatenated files
# keep exactly one differing line in every thousand.
awk -v outa="$work/chunk.a" -v outb="$work/chunk.b" '
function rnd(n) { return int(rand() * n) }
function t() { return sprintf("%.2f", rand() * 20) }
function code(len,   s, i) {
  s = ""
  for (i = 0; i < len; i++) s = s sprintf("%c", 63 + rnd(63))
  return s
}
function adj(v,   s, k, i) {
  s = sprintf("%3d :", v)
  k = 2 + rnd(6)
  for (i = 0; i < k; i++) s = s " " rnd(30)
  return s ";"
}
# A line of one of the tolerated kinds, identical in both files.
function kindline(k,   n) {
  n = 1 + rnd(5000)
  if (k == 0) return "cpu time = " t() " seconds"
  if (k == 1) return ">Z " n " graphs generated in " t() " sec"
  if (k == 2) return "group time: " t() ", " t() ", " t() ", group order time: " t() ";"
  if (k == 3) return n " graphs altogether; cpu=" t() " sec"
  if (k == 4) return "canupdates=" rnd(9) "; cpu time = " t() " seconds"
  if (k == 5) return "Mode=x" rnd(3) " m=" rnd(4) " n=" 4 + rnd(20) " labelorg=0 edges=" rnd(90) " options=(ac))"
  if (k == 6) return ">Z " n " graphs read from stdin; " rnd(n) " written to stdout; " t() " sec"
  return rnd(40) " cells; code = " rnd(200) "; cpu time = " t() " seconds"
}
BEGIN {
  srand(20240611)
  bytes = 0; block = 0
  while (bytes < 1048576) {
    for (k = 0; k < 1000; k++) {
      if (k == 617) {
        # The one line in a thousand that differs, in a tolerated field only.
        s = block % 6; n = 1 + rnd(90000)
        if (s == 0) { la = "cpu time = 0.12 seconds"; lb = "cpu time = 0.57 seconds" }
        else if (s == 1) { la = ">Z " n " graphs generated in 1.25 sec"; lb = ">Z " n " graphs generated in 3.04 sec" }
        else if (s == 2) { la = "group time: 0.01, 0.02, 0.03, group order time: 0.00;"; lb = "group time: 0.03, 0.01, 0.02, group order time: 0.01;  " }
        else if (s == 3) { la = "Vantarn version 2.8 (64 bits)."; lb = "Vantarn version 2.9 (64 bits)." }
        else if (s == 4) { la = n " graphs altogether from " n + 7 " read; cpu=4.50 sec"; lb = n " graphs altogether from " n + 7 " read; cpu=4.73 sec" }
        else { la = ">A run" block ".1 -c n=10"; lb = ">A run" block ".2 -c n=10" }
      } else if (k % 25 == 3) {
        la = lb = kindline(rnd(8))
      } else if (k % 50 == 10) {
        la = lb = sprintf("Graph %d, order %d.", block * 1000 + k, 4 + rnd(20))
      } else if (k % 3 == 0) {
        la = lb = adj(rnd(30))
      } else {
        la = lb = code(8 + rnd(40))
      }
      print la > outa
      print lb > outb
      bytes += length(la) + 1
    }
    block++
  }
}'

chunk_lines=$(wc -l <"$work/chunk.a")
(( chunk_lines % 1000 == 0 )) || die "chunk has $chunk_lines lines, not a whole number of blocks"
[[ $(wc -l <"$work/chunk.b") == "$chunk_lines" ]] || die "chunks differ in line count"
chunk_diffs=$(diff "$work/chunk.a" "$work/chunk.b" | grep -c '^<' || true)
(( chunk_diffs * 1000 == chunk_lines )) ||
  die "chunk has $chunk_diffs differing lines in $chunk_lines, not one in a thousand"
chunk_bytes=$(wc -c <"$work/chunk.a")
[[ $(wc -c <"$work/chunk.b") -gt 0 ]] || die "empty chunk"

# Concatenate copies: about SIZE MiB per file.
copies=$(((size_mb * 1048576 + chunk_bytes - 1) / chunk_bytes))
copies_a=() copies_b=()
for ((i = 0; i < copies; i++)); do
  copies_a+=("$work/chunk.a")
  copies_b+=("$work/chunk.b")
done
echo "Generating 3 files of $copies chunks ($chunk_lines lines, $chunk_bytes bytes each) in $work ..."
cat "${copies_a[@]}" >"$work/a1.txt"
cat "${copies_a[@]}" >"$work/a2.txt"
cat "${copies_b[@]}" >"$work/b2.txt"
rm -f "$work/chunk.a" "$work/chunk.b"
file_bytes=$(wc -c <"$work/a1.txt")
file_b_bytes=$(wc -c <"$work/b2.txt")
file_lines=$((copies * chunk_lines))
differing_lines=$((copies * chunk_diffs))

# ---------------------------------------------------------------------------
# Verdicts: maskdiff must say "OK" with status 0 on both pairs; cmp and diff
# must see pair (a) equal and pair (b) different. These runs also warm the
# page cache, after a first plain read of all three files.
cat "$work/a1.txt" "$work/a2.txt" "$work/b2.txt" >/dev/null

"$maskdiff" "$work/a1.txt" "$work/a2.txt" >"$work/verdict.a" && va=0 || va=$?
"$maskdiff" "$work/a1.txt" "$work/b2.txt" >"$work/verdict.b" && vb=0 || vb=$?
for p in a b; do
  st=va; [[ $p == b ]] && st=vb
  if [[ ${!st} != 0 || $(head -c 100 "$work/verdict.$p") != OK ]]; then
    echo "maskdiff on pair ($p): status ${!st}, output:" >&2
    head -c 2000 "$work/verdict.$p" >&2
    die "maskdiff's verdict on pair ($p) is not \"OK\" with status 0"
  fi
done
cmp -s "$work/a1.txt" "$work/a2.txt" || die "cmp: pair (a) not identical"
if cmp -s "$work/a1.txt" "$work/b2.txt"; then die "cmp: pair (b) identical"; fi
echo "Verdicts: maskdiff says OK (status 0) on pair (a) and on pair (b)"

# ---------------------------------------------------------------------------
# Timing: best of $runs wall-clock runs of each command, output discarded.
now() { date +%s.%N; }
best_time() { # command...; prints the best wall time in seconds
  local best="" t0 t1 dt i
  for ((i = 0; i < runs; i++)); do
    t0=$(now)
    "$@" >/dev/null 2>&1 || true
    t1=$(now)
    dt=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')
    if [[ -z $best ]] || awk -v x="$dt" -v y="$best" 'BEGIN { exit !(x < y) }'; then best=$dt; fi
  done
  echo "$best"
}

declare -A T
for pair in a b; do
  f1=$work/a1.txt
  f2=$work/a2.txt
  [[ $pair == b ]] && f2=$work/b2.txt
  echo "Timing pair ($pair), best of $runs ..."
  T[maskdiff_$pair]=$(best_time "$maskdiff" "$f1" "$f2")
  T[cmp_$pair]=$(best_time cmp "$f1" "$f2")
  T[diff_$pair]=$(best_time diff "$f1" "$f2")
done

# ---------------------------------------------------------------------------
# Table and results file.
mib=$(awk -v b="$file_bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
echo
echo "maskdiff against cmp and diff: files of $mib MiB, $file_lines lines; best of $runs wall-clock runs"
echo "(a) identical files   (b) $differing_lines lines differing in a tolerated field (one in 1000)"
printf '%-5s %12s %12s %12s %14s %14s %12s\n' pair maskdiff_s cmp_s diff_s maskdiff/cmp maskdiff/diff maskdiff_MiB/s
for pair in a b; do
  awk -v p="$pair" -v m="${T[maskdiff_$pair]}" -v c="${T[cmp_$pair]}" -v d="${T[diff_$pair]}" -v b="$file_bytes" \
    'BEGIN { printf "(%s)   %12.3f %12.3f %12.3f %14.2f %14.3f %12.0f\n", p, m, c, d, m / c, m / d, b / 1048576 / m }'
done
echo "Note: cmp stops at the first differing byte, so on pair (b) it reads only the first"
echo "      thousand lines or so and is not a full-read baseline; only pair (a) compares full reads."

awk -v ma="${T[maskdiff_a]}" -v ca="${T[cmp_a]}" -v da="${T[diff_a]}" \
    -v mb="${T[maskdiff_b]}" -v cb="${T[cmp_b]}" -v db="${T[diff_b]}" \
    -v bytes="$file_bytes" -v bbytes="$file_b_bytes" -v lines="$file_lines" -v dl="$differing_lines" \
    -v runs="$runs" -v mb_req="$size_mb" '
function pair(name, desc, m, c, d, note) {
  printf "    \"%s\": {\"description\": \"%s\", \"maskdiff_s\": %.6f, \"cmp_s\": %.6f, \"diff_s\": %.6f,", name, desc, m, c, d
  printf " \"maskdiff_over_cmp\": %.4f, \"maskdiff_over_diff\": %.4f, \"maskdiff_verdict\": \"OK\", \"maskdiff_status\": 0,", m / c, m / d
  printf " \"cmp_full_read\": %s}", note
}
BEGIN {
  printf "{\n  \"tool\": \"maskdiff\",\n  \"size_mib_requested\": %d,\n  \"file_bytes\": %d,\n  \"file_b_bytes\": %d,\n", mb_req, bytes, bbytes
  printf "  \"lines\": %d,\n  \"differing_lines_pair_b\": %d,\n  \"runs\": %d,\n  \"timing\": \"best wall-clock time of the runs, page cache warm\",\n", lines, dl, runs
  printf "  \"pairs\": {\n"
  pair("a", "identical files", ma, ca, da, "true"); printf ",\n"
  pair("b", "one line in 1000 differs in a tolerated field", mb, cb, db, "false"); printf "\n"
  printf "  }\n}\n"
}' >"$out"
echo "Results written to $out"
