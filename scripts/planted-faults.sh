#!/usr/bin/env bash
# Measures how well the test suite finds faults: plants each fault listed in
# tests/planted/faults.txt into a copy of the tree, one at a time, rebuilds,
# runs the suite until its first failure, and restores the file.
#
#   scripts/planted-faults.sh                every fault
#   scripts/planted-faults.sh ID...          only the named faults
#   scripts/planted-faults.sh --list         the faults, with what each stands for
#   scripts/planted-faults.sh --check        only whether each fault still applies
#   scripts/planted-faults.sh --dir DIR      work in DIR (default: build-planted)
#
# The working tree is never touched: the copy lives in DIR/tree, its build in
# DIR/build. The report goes to standard output and DIR/report.txt. Exit code 0
# when the suite caught every fault, 1 when one went unnoticed, 2 when a fault
# no longer applies (its file or expression is stale) or the suite fails
# without any fault.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
faults_file=$root/tests/planted/faults.txt

usage() { sed -n '2,17s/^# \{0,1\}//p' "$0"; }

dir=$root/build-planted
list=false
check=false
selected=()
while [ $# -gt 0 ]; do
  case "$1" in
    --list) list=true ;;
    --check) check=true ;;
    --dir)
      [ $# -ge 2 ] || { echo "planted-faults.sh: --dir needs a folder" >&2; exit 2; }
      dir=$(realpath -m "$2"); shift ;;
    -h|--help) usage; exit 0 ;;
    -*) echo "planted-faults.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) selected+=("$1") ;;
  esac
  shift
done

# The faults file holds blocks of four lines:
#   fault ID
#     why   one sentence: the real mistake the fault stands for
#     file  path/in/the/tree
#     sed   a sed expression that changes exactly one line
ids=() whys=() files=() seds=()
while IFS= read -r line; do
  case "$line" in
    fault\ *) ids+=("${line#fault }") ;;
    "  why "*) whys+=("$(sed 's/^  why *//' <<<"$line")") ;;
    "  file "*) files+=("$(sed 's/^  file *//' <<<"$line")") ;;
    "  sed "*) seds+=("$(sed 's/^  sed *//' <<<"$line")") ;;
    ""|\#*) ;;
    *) echo "planted-faults.sh: cannot read this line of $faults_file: $line" >&2; exit 2 ;;
  esac
done <"$faults_file"
count=${#ids[@]}
if [ ${#whys[@]} -ne "$count" ] || [ ${#files[@]} -ne "$count" ] || [ ${#seds[@]} -ne "$count" ]; then
  echo "planted-faults.sh: every fault needs a why, a file and a sed line" >&2
  exit 2
fi

if $list; then
  for ((i = 0; i < count; i++)); do printf '%-28s %s\n' "${ids[$i]}" "${whys[$i]}"; done
  exit 0
fi

chosen=()
for ((i = 0; i < count; i++)); do
  if [ ${#selected[@]} -eq 0 ] || printf '%s\n' "${selected[@]}" | grep -qxF "${ids[$i]}"; then chosen+=("$i"); fi
done
[ ${#chosen[@]} -gt 0 ] || { echo "planted-faults.sh: no such fault: ${selected[*]}" >&2; exit 2; }

# plant I FILE: applies fault I to FILE; prints why it is stale, if it is.
plant() {
  local before
  before=$(mktemp)
  cp "$2" "$before"
  if ! sed -i -e "${seds[$1]}" "$2" 2>/dev/null; then
    echo "STALE (the sed expression is not valid)"
  elif cmp -s "$2" "$before"; then
    echo "STALE (the expression changes nothing)"
  elif [ "$(diff "$before" "$2" | grep -c '^[<>]')" -ne 2 ]; then
    echo "STALE (the expression changes more than one line)"
  fi
  rm -f "$before"
}

if $check; then
  stale=0
  for i in "${chosen[@]}"; do
    if [ ! -f "${files[$i]}" ]; then
      outcome="STALE (no file ${files[$i]})"
    else
      scratch=$(mktemp)
      cp "${files[$i]}" "$scratch"
      outcome=$(plant "$i" "$scratch")
      rm -f "$scratch"
    fi
    [ -z "$outcome" ] || stale=$((stale + 1))
    printf '%-28s %s\n' "${ids[$i]}" "${outcome:-applies}"
  done
  [ "$stale" -eq 0 ] || exit 2
  exit 0
fi

scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
tree=$dir/tree
build=$dir/build
mkdir -p "$tree"

# A fresh copy of the tracked and untracked (not ignored) files.
echo "== copying the tree to $tree"
find "$tree" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xmf - -C "$tree" # new times: the build must not trust objects of an earlier copy

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
echo "== building the copy in $build"
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null 2>"$dir/configure.log"
cmake --build "$build" -j"$jobs" >/dev/null

# A test that fails once and passes on its second try counts as passed, so
# that a timing test upset by a busy machine is not taken for a caught fault.
# The long random storm runs last, and only when the rest passed: most faults
# are caught in seconds, and the storm would hold a core for each of them.
run_suite() { # log file; exit 0 when every test passed
  local storm=OperatorStorm
  ctest --test-dir "$build" -j"$jobs" --stop-on-failure --repeat until-pass:2 --timeout 300 -E "$storm" >"$1" 2>&1 &&
    ctest --test-dir "$build" -j"$jobs" --stop-on-failure --repeat until-pass:2 --timeout 300 -R "$storm" >>"$1" 2>&1
}

echo "== the suite without any fault"
if ! run_suite "$dir/clean.log"; then
  echo "planted-faults.sh: the suite fails without any fault; see $dir/clean.log" >&2
  exit 2
fi

report=$dir/report.txt
: >"$report"
caught=0 missed=0 stale=0
for i in "${chosen[@]}"; do
  id=${ids[$i]} file=$tree/${files[$i]}
  if [ ! -f "$file" ]; then
    outcome="STALE (no file ${files[$i]})"; stale=$((stale + 1))
  else
    cp -p "$file" "$dir/original"
    outcome=$(plant "$i" "$file")
    if [ -n "$outcome" ]; then
      stale=$((stale + 1))
    elif ! cmake --build "$build" -j"$jobs" >"$dir/$id.build.log" 2>&1; then
      outcome="STALE (does not compile; see $dir/$id.build.log)"; stale=$((stale + 1))
    elif run_suite "$dir/$id.log"; then
      outcome="MISSED"; missed=$((missed + 1))
    else
      first=$(sed -n '/The following tests FAILED:/{n;s/^[[:space:]]*[0-9]* - //;s/ .*//;p;q}' "$dir/$id.log")
      outcome="caught by ${first:-a failing test}"; caught=$((caught + 1))
    fi
    cp -p "$dir/original" "$file"
    touch "$file" # the next build compiles the restored file again
  fi
  printf '%-28s %s\n' "$id" "$outcome" | tee -a "$report"
done

summary="${#chosen[@]} planted faults: $caught caught, $missed missed, $stale stale"
echo "$summary" | tee -a "$report"
[ "$stale" -eq 0 ] || exit 2
[ "$missed" -eq 0 ] || exit 1
