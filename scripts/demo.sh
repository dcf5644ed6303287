#!/usr/bin/env bash
# Builds the installer and runs it on a kit directory, showing the tree
# before and after. Without an argument it runs on a fresh copy of the
# sample kit in kit/, so the repository itself never changes.
#   scripts/demo.sh [KIT_DIRECTORY]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" cmake g++ make libsdl2-2.0-0 tree

cd "$root"
cmake --preset native >/dev/null
cmake --build --preset native --target setup >/dev/null

if [ $# -ge 1 ]; then
  kit=$(cd "$1" && pwd)
else
  kit=$(mktemp -d)/kit
  cp -r "$root/kit" "$kit"
  cp "$root/build/native/setup" "$kit/setup"
fi
installer=$kit/setup
[ -x "$installer" ] || installer=$root/build/native/setup

echo "== before: $kit"
tree -a --noreport "$kit"
echo "== running $installer"
status=0
(cd "$kit" && "$installer") || status=$?
echo "== after (exit code $status)"
tree -a --noreport "$kit"
