#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each one on a
# fresh copy of its seed corpus (fuzz/corpus/<target>).
#
#   scripts/fuzz.sh                 every target for 600 s
#   scripts/fuzz.sh --short         every target for 20 s (what CI runs)
#   scripts/fuzz.sh --seconds N     every target for N seconds
#   scripts/fuzz.sh ... TARGET...   only the named targets
#
# Exits non-zero when a target finds a crash, a leak or a hang, and prints the
# path of the input that reproduces it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

usage() { sed -n '2,11s/^# \{0,1\}//p' "$0"; }

seconds=600
selected=()
while [ $# -gt 0 ]; do
  case "$1" in
    --short) seconds=20 ;;
    --seconds)
      [ $# -ge 2 ] && [[ "$2" =~ ^[1-9][0-9]*$ ]] || { echo "fuzz.sh: --seconds needs a whole number above 0" >&2; exit 2; }
      seconds=$2; shift ;;
    -h|--help) usage; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) selected+=("$1") ;;
  esac
  shift
done

all_targets=(fuzz_reply_value fuzz_sim_command_parser fuzz_decimal_entry fuzz_hex_entry fuzz_routine_file
             fuzz_socket_request fuzz_journal_reader)
targets=("${all_targets[@]}")
if [ ${#selected[@]} -gt 0 ]; then targets=("${selected[@]}"); fi
for target in "${targets[@]}"; do
  [ -d "fuzz/corpus/$target" ] || { echo "fuzz.sh: no such fuzz target: $target" >&2; exit 2; }
done

scripts/install-deps.sh

build=${VALVE_FUZZ_BUILD_DIR:-$root/build-fuzz}
cache=$build/CMakeCache.txt
# A cache made by another compiler or for another checkout cannot be reused.
if [ -f "$cache" ] && { ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' "$cache" ||
                        ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$root" "$cache"; }; then
  rm -rf "$cache" "$build/CMakeFiles"
fi

started=$SECONDS
mkdir -p "$build"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVALVE_FUZZ=ON -DVALVE_BUILD_TESTS=OFF >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log" >&2; exit 1; }
if ! cmake --build "$build" --target help | grep '^valve_fuzz:' >/dev/null; then
  echo "fuzz.sh: the fuzz targets are not part of the build; the top-level CMakeLists.txt needs" >&2
  echo "    if(VALVE_FUZZ) add_subdirectory(fuzz) endif()" >&2
  exit 1
fi
cmake --build "$build" --target "${targets[@]}" -j"${VALVE_FUZZ_JOBS:-2}"
echo "fuzz.sh: built in $((SECONDS - started)) s; fuzzing each target for $seconds s"

failed=()
for target in "${targets[@]}"; do
  run=$build/fuzz-run/$target
  rm -rf "$run"
  mkdir -p "$run/corpus" "$run/artifacts"
  cp fuzz/corpus/"$target"/* "$run/corpus/"
  echo "== $target"
  status=0
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$run/artifacts/" "$run/corpus" >"$run/log" 2>&1 || status=$?
  grep -E '^(stat::number_of_executed_units|stat::new_units_added):' "$run/log" | sed 's/^/   /' || true
  if [ "$status" -ne 0 ]; then
    # The report from the first sign of trouble on, or the end of the log.
    report=$(sed -n '/check failed\|ERROR: \|runtime error\|ALARM: \|out-of-memory/,$p' "$run/log" | head -n 40)
    if [ -n "$report" ]; then echo "$report"; else tail -n 40 "$run/log"; fi
    echo "fuzz.sh: $target FAILED (exit $status); full log: $run/log" >&2
    for reproducer in "$run"/artifacts/*; do
      [ -e "$reproducer" ] || continue
      echo "  reproducer: $reproducer" >&2
      echo "  re-run it:  $build/fuzz/$target $reproducer" >&2
    done
    failed+=("$target")
  fi
done

echo "fuzz.sh: finished in $((SECONDS - started)) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: failures in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: no failures"
