#!/usr/bin/env bash
# Installs what the tests need, builds, and runs the whole test suite.
#   scripts/test.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" cmake g++ make libgtest-dev \
  libsdl2-2.0-0 xvfb x11-utils xdotool xfonts-base

# The fault tests trace and kill runs with strace; the fuzzers need clang.
"$root/scripts/install-deps.sh" strace clang-14 libclang-rt-14-dev

cd "$root"
cmake --preset native
cmake --build --preset native -j"$(nproc)"
ctest --preset native -j"$(nproc)"

# The unit suite and the fault tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then each fuzzer for a minute.
cmake --preset asan
cmake --build --preset asan -j"$(nproc)"
ctest --preset asan -j"$(nproc)"
cmake --preset fuzz
cmake --build --preset fuzz -j"$(nproc)"
ctest --preset fuzz -j"$(nproc)"

# The Windows build, run for real under Wine (64-bit and 32-bit).
"$root/scripts/windows-deps.sh"
tests/windows/run.sh
