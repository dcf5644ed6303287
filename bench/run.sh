#!/usr/bin/env bash
# Builds the installer and the benchmark, then times the installer against
# coreutils and mv on generated kits and prints the table.
#   bench/run.sh [--reps N] [--dir PARENT] [--quick]
# The kits (up to about 600 MiB at once) are made under PARENT, by default
# $TMPDIR or else /var/tmp: put them on a real disk, not a RAM file system.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" cmake g++ make libgtest-dev coreutils

cd "$root"
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target setup korimba_bench bench_startup >/dev/null
build="$root/build/native"
exec "$build/bench/korimba_bench" --installer "$build/setup" --startup "$build/bench/bench_startup" "$@"
