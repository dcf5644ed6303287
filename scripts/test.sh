#!/usr/bin/env bash
# Installs what the tests need, builds, and runs the whole test suite.
#   scripts/test.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" cmake g++ make libgtest-dev \
  libsdl2-2.0-0 xvfb x11-utils xdotool xfonts-base

cd "$root"
cmake --preset native
cmake --build --preset native -j"$(nproc)"
ctest --preset native -j"$(nproc)"

# The Windows build, run for real under Wine (64-bit and 32-bit).
"$root/scripts/windows-deps.sh"
tests/windows/run.sh
