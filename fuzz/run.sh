#!/bin/sh
# Runs one fuzz target for SECONDS over its seeds (fuzz/corpus) and the inputs of past findings
# (fuzz/regressions), which must all pass first:
#   fuzz/run.sh FUZZ_BUILD_DIR TARGET SECONDS
# New corpus entries go to FUZZ_BUILD_DIR/work, crashing inputs to FUZZ_BUILD_DIR/findings;
# a crashing input is kept by copying it into fuzz/regressions/TARGET.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
dir=$1 target=$2 seconds=$3
mkdir -p "$dir/work/$target" "$dir/findings"
set -- "$here/corpus/$target"
[ -d "$here/regressions/$target" ] && set -- "$@" "$here/regressions/$target"
exec "$dir/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
     -artifact_prefix="$dir/findings/$target-" "$dir/work/$target" "$@"
