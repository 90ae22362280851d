#!/usr/bin/env bash
# One real-stack case as a test of its own: shows what the guest logged for it
# and passes when the run found it passed.
# Usage: result.sh RUN_DIR NAME
results=$1/results
cat "$results/$2.log" 2>/dev/null
if [ ! -f "$results/$2.result" ]; then
  echo "no result: the real-stack run did not reach this case (see $1/console.log)"
  exit 1
fi
[ "$(head -1 "$results/$2.result")" = pass ]
