#!/usr/bin/env bash
# tools/fuzz.sh against a target with a planted fault: the step fails, says
# what was found and keeps the input that found it; without a fault it passes.
#   fuzz_step_test.sh FUZZ_SH PLANTED_PROGRAM BUILD_DIR
set -u
fuzz_sh=$1 program=$2 build=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/corpus"
printf 'seed' >"$scratch/corpus/seed"
echo "planted $program $scratch/corpus" >"$scratch/targets.txt"
export PRESSEL_FUZZ_MANIFEST=$scratch/targets.txt PRESSEL_FUZZ_WORK=$scratch/run

failures=0
# expect FAULT STATUS MESSAGE ARTIFACT: the step's exit status, a line of its
# report and the kind of input it keeps ("" for none). One input may take 3
# seconds when a timeout is planted, 60 otherwise (the machine may be busy).
expect() {
  local out status
  out=$(PLANTED_FAULT=$1 PRESSEL_FUZZ_TIMEOUT=$([ "$1" = timeout ] && echo 3 || echo 60) bash "$fuzz_sh" "$build" 3 2>&1)
  status=$?
  local problem=""
  [ "$status" -eq "$2" ] || problem="exit status $status, expected $2"
  grep -qF -- "$3" <<<"$out" || problem="$problem; no '$3' in the report"
  if [ -n "$4" ]; then
    compgen -G "$scratch/run/planted/artifacts/$4*" >/dev/null || problem="$problem; no $4 input kept"
    grep -qF "input that found it: $scratch/run/planted/artifacts/$4" <<<"$out" || problem="$problem; input not shown"
  fi
  if [ -n "$problem" ]; then
    echo "planted $1: $problem"
    echo "$out" | sed 's/^/    /'
    failures=$((failures + 1))
  else
    echo "planted $1: $(grep -F -- "$3" <<<"$out" | head -1 | sed 's/^ *//')"
  fi
}
expect crash 1 "ERROR: AddressSanitizer: heap-buffer-overflow" crash-
expect leak 1 "ERROR: LeakSanitizer: detected memory leaks" leak-
expect timeout 1 "ERROR: libFuzzer: timeout" timeout-
expect oom 1 "ERROR: libFuzzer: out-of-memory" oom-
expect ub 1 "runtime error: signed integer overflow" crash-
expect none 0 "fuzz: 1 passed, 0 failed" ""
exit $((failures > 0))
