#!/usr/bin/env bash
# Installs what the Windows build and its tests under Wine need, and lets
# this machine run 32-bit Linux programs (32-bit Wine) through qemu-i386.
# Safe to run again: every step is skipped when already done.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo

# 32-bit Wine comes from the i386 architecture; install-deps.sh refreshes
# the package lists when it has anything to install. Of the cross compilers
# only the win32-threads flavour is used (the default i686-w64-mingw32-g++);
# g++-mingw-w64-i686 would add the posix one too, another 470 MB.
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
"$root/scripts/install-deps.sh" cmake make g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 \
  wine wine64 wine32:i386 qemu-user-static xvfb xdotool

# The kernel here runs no 32-bit code natively: hand i386 ELF programs to
# qemu's user-mode emulator.
mountpoint -q /proc/sys/fs/binfmt_misc || $sudo mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $sudo tee /proc/sys/fs/binfmt_misc/register >/dev/null
fi
