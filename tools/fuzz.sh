#!/usr/bin/env bash
# Runs every fuzz target of a PRESSEL_FUZZ build for a bounded time, two at a
# time, each starting from its replayed corpus (new inputs go to a scratch
# corpus, never into the source tree). Fails when a target finds a crash, a
# leak, a timeout or an out-of-memory, and shows the input that found it so
# that it can be added to the target's corpus once the fault is mended.
#
#   tools/fuzz.sh BUILD_DIR [SECONDS] [TARGET...]
#
# Environment: PRESSEL_FUZZ_MANIFEST (lines "name program corpus", default
# BUILD_DIR/fuzz/targets.txt), PRESSEL_FUZZ_WORK (scratch directory, default
# BUILD_DIR/fuzz/run), PRESSEL_FUZZ_JOBS (2), PRESSEL_FUZZ_TIMEOUT (seconds
# one input may take, 20), PRESSEL_FUZZ_RSS_MB (2048).
set -uo pipefail

build=$(cd "${1:?usage: tools/fuzz.sh BUILD_DIR [SECONDS] [TARGET...]}" && pwd) || exit 2
seconds=${2:-30}
shift $(($# < 2 ? $# : 2))
manifest=${PRESSEL_FUZZ_MANIFEST:-$build/fuzz/targets.txt}
work=${PRESSEL_FUZZ_WORK:-$build/fuzz/run}
jobs=${PRESSEL_FUZZ_JOBS:-2}
timeout=${PRESSEL_FUZZ_TIMEOUT:-20}
rss=${PRESSEL_FUZZ_RSS_MB:-2048}
[ -f "$manifest" ] || { echo "fuzz: no target list $manifest (configure with -DPRESSEL_FUZZ=ON)" >&2; exit 2; }

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# run_target NAME PROGRAM CORPUS: one bounded run; leaves status, log and
# artifacts in $work/NAME.
run_target() {
  local name=$1 program=$2 corpus=$3 dir=$work/$1
  rm -rf "$dir"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  "$program" "$dir/corpus" "$corpus" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb="$rss" \
    -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" >"$dir/log" 2>&1
  echo $? >"$dir/status"
}

# One line per target: executions, coverage (edges and features) and corpus.
summary() {
  local log=$1 runs cov
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[^ ]+' "$log" | tail -1)
  echo "${runs:-?} executions, ${cov:-no coverage reported}"
}

selected=("$@")
names=()
mkdir -p "$work"
while read -r name program corpus; do
  [ -n "$name" ] || continue
  if [ ${#selected[@]} -gt 0 ] && [[ ! " ${selected[*]} " == *" $name "* ]]; then continue; fi
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_target "$name" "$program" "$corpus" &
  names+=("$name")
done <"$manifest"
wait

passed=0 failed=0
for name in "${names[@]}"; do
  dir=$work/$name
  if [ "$(cat "$dir/status")" = 0 ]; then
    passed=$((passed + 1))
    echo "fuzz $name: ok, $(summary "$dir/log")"
    continue
  fi
  failed=$((failed + 1))
  echo "fuzz $name: FAILED (exit $(cat "$dir/status")), $(summary "$dir/log")"
  grep -E '^(==[0-9]+==ERROR|SUMMARY:|.*runtime error:|==[0-9]+== ERROR: libFuzzer)' "$dir/log" | head -5 | sed 's/^/  /'
  echo "  log: $dir/log"
  for input in "$dir"/artifacts/*; do
    [ -f "$input" ] || continue
    echo "  input that found it: $input ($(stat -c %s "$input") bytes); add it to $(awk -v n="$name" '$1 == n {print $3}' "$manifest") once mended"
    [ "$(stat -c %s "$input")" -le 4096 ] && base64 -w 76 "$input" | sed 's/^/    /'
  done
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
