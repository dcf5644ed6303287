#!/usr/bin/env bash
# Builds the Windows programs and runs them for real under Wine on a virtual
# display of our own: setup.exe in scenario directories, its boxes read and
# closed by box_driver.exe, and the guard test inside the real box. The
# 64-bit build carries the breadth; the 32-bit product runs under 32-bit
# Wine (through qemu-i386) in a few runs that cover the most ground.
#   tests/windows/run.sh
# Needs the packages and the qemu-i386 registration that
# scripts/windows-deps.sh provides.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

seconds() { date +%s.%N; }
timings=()
record() { timings+=("$(awk -v name="$1" -v from="$2" -v to="$(seconds)" 'BEGIN { printf "%-58s %6.1f s", name, to - from }')"); }

start=$(seconds)
for preset in win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
record "builds" "$start"

failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
# expect NAME EXPECTED ACTUAL
expect() {
  if [ "$2" == "$3" ]; then
    echo "ok: $1"
  else
    fail "$1"
    diff <(echo "$2") <(echo "$3") | sed 's/^/    /' || true
  fi
}

# The product itself: small, a GUI program, and importing nothing else.
product=build/win32/setup.exe
size=$(stat -c %s "$product")
[ "$size" -le 8192 ] && echo "ok: the 32-bit setup.exe has $size bytes" || fail "the 32-bit setup.exe has $size bytes"
imports=$(i686-w64-mingw32-objdump -p "$product" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
expect "setup.exe imports kernel32, msvcrt and user32 only" "kernel32.dll msvcrt.dll user32.dll " "$imports"
expect "setup.exe is a GUI program" "(Windows GUI)" \
  "$(i686-w64-mingw32-objdump -p "$product" | sed -n 's/^Subsystem\s*[0-9a-f]*\s*//p')"

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINESERVER=/usr/lib/wine/wineserver64
# Without a reserved guest address space qemu-i386 places 32-bit Wine where
# Wine cannot map its shared user data, and every 32-bit process fails.
export QEMU_RESERVED_VA=0xc0000000
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
xvfb_pid=
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    "$WINESERVER" -k 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own, on the first free number.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

# One prefix for both: a 64-bit prefix that also runs 32-bit programs.
start=$(seconds)
mkdir -p "$WINEPREFIX"
"$WINESERVER" -f -p 2>/dev/null &
server_pid=$!
"$wine64" wineboot -i >/dev/null 2>&1
record "prefix (64 and 32 bit)" "$start"

windows_path() { local p=$1; echo "Z:${p//\//\\}"; }

# make_kit ARCH DIR ENTRY...: a fresh scenario directory with the installer
# of that build and one entry per argument: NAME (a file holding its own
# name), NAME=TEXT (a file holding TEXT), or NAME/ (a directory).
make_kit() {
  local arch=$1 dir=$work/$2
  shift 2
  mkdir -p "$dir"
  cp "build/$arch/setup.exe" "$dir/setup.exe"
  local entry
  for entry in "$@"; do
    case $entry in
      */) mkdir -p "$dir/$entry" ;;
      *=*) mkdir -p "$(dirname "$dir/${entry%%=*}")"; printf '%s' "${entry#*=}" >"$dir/${entry%%=*}" ;;
      *) mkdir -p "$(dirname "$dir/$entry")"; printf '%s' "$(basename "$entry")" >"$dir/$entry" ;;
    esac
  done
}

# listing ARCH DIR: every entry under DIR with the text of each file, "ro"
# for a file without write permission, and whether setup.exe is unchanged.
listing() {
  local arch=$1
  (cd "$work/$2" && find . -mindepth 1 | LC_ALL=C sort | while read -r entry; do
    if [ -d "$entry" ]; then
      echo "$entry/"
    elif [ "$entry" = ./setup.exe ]; then
      cmp -s "$entry" "$root/build/$arch/setup.exe" && echo "$entry (unchanged)" || echo "$entry (CHANGED)"
    else
      local mode=
      [ "$(( 0$(stat -c %a "$entry") & 0222 ))" -eq 0 ] && mode=" ro"
      echo "$entry: $(cat "$entry")$mode"
    fi
  done)
}

# drive ARCH DIR [COMMAND_LINE]: runs the installer in DIR through
# box_driver and prints what the boxes showed and the exit code. The driver
# is always the 64-bit one, which starts a 32-bit installer as well and
# saves a slow 32-bit process start.
drive() {
  local arch=$1 dir=$work/$2 loader=$wine64
  local program
  program=$(windows_path "$dir/setup.exe")
  if [ $# -ge 3 ]; then
    BOX_COMMAND_LINE=$3 "$loader" build/win64/tests/windows/box_driver.exe "$program" "$(windows_path "$dir")" 2>&1
  else
    "$loader" build/win64/tests/windows/box_driver.exe "$program" "$(windows_path "$dir")" 2>&1
  fi
}

# box CAPTION TEXT: what box_driver reports for one message box.
box() { printf 'caption: %s\ntext: %s\nbuttons: OK\nowner: none\n' "$1" "$2"; }
confirmation="Korimba successfully installed!"
not_moved="These files could not be moved and are still in the start directory:"
ok_run() { box "${1:-setup.exe}" "$confirmation"; echo "exit code: 0"; }

# scenario ARCH DIR EXPECTED_BOXES EXPECTED_LISTING [COMMAND_LINE]
# (the name in the report is DIR, or $label when set)
scenario() {
  local arch=$1 dir=$2 boxes=$3 files=$4
  shift 4
  local name=${label:-$dir} start
  start=$(seconds)
  expect "$arch $name: boxes" "$boxes" "$(drive "$arch" "$dir" "$@")"
  record "$arch $name" "$start"
  expect "$arch $name: files" "$files" "$(listing "$arch" "$dir")"
}

# --- 64-bit: the breadth -----------------------------------------------------

make_kit win64 road a.h b.h k.lib
road_files='./INCLUDE/
./INCLUDE/a.h: a.h
./INCLUDE/b.h: b.h
./LIB/
./LIB/k.lib: k.lib
./setup.exe (unchanged)'
scenario win64 road "$(ok_run)" "$road_files"
# A second run finds nothing to move and confirms again.
scenario win64 road "$(ok_run)" "$road_files"

make_kit win64 replacement a.h=new INCLUDE/a.h=old k.lib=new LIB/k.lib=old LIB/other.lib=kept
scenario win64 replacement "$(ok_run)" './INCLUDE/
./INCLUDE/a.h: new
./LIB/
./LIB/k.lib: new
./LIB/other.lib: kept
./setup.exe (unchanged)'

make_kit win64 upper-case A.H B.h K.LIB m.Lib
scenario win64 upper-case "$(ok_run)" './INCLUDE/
./INCLUDE/A.H: A.H
./INCLUDE/B.h: B.h
./LIB/
./LIB/K.LIB: K.LIB
./LIB/m.Lib: m.Lib
./setup.exe (unchanged)'

# Nothing here is a header or a library: the subdirectories appear, empty,
# and a directory whose name matches stays where it is.
make_kit win64 untouched readme.txt a.hpp a.h.txt lib.c k.lib.bak x.h/
scenario win64 untouched "$(ok_run)" './INCLUDE/
./LIB/
./a.h.txt: a.h.txt
./a.hpp: a.hpp
./k.lib.bak: k.lib.bak
./lib.c: lib.c
./readme.txt: readme.txt
./setup.exe (unchanged)
./x.h/'

# A plain file named INCLUDE: no header can be moved, and the user is told
# which stayed before the confirmation; the libraries move as usual.
make_kit win64 include-is-a-file INCLUDE=a-plain-file a.h b.h k.lib
scenario win64 include-is-a-file "$(box setup.exe "$not_moved a.h, b.h."; ok_run)" './INCLUDE: a-plain-file
./LIB/
./LIB/k.lib: k.lib
./a.h: a.h
./b.h: b.h
./setup.exe (unchanged)'

# A read-only source is copied but cannot be deleted: it stays, and is named.
make_kit win64 read-only a.h b.h k.lib
chmod a-w "$work/read-only/a.h"
scenario win64 read-only "$(box setup.exe "$not_moved a.h."; ok_run)" './INCLUDE/
./INCLUDE/a.h: a.h ro
./INCLUDE/b.h: b.h
./LIB/
./LIB/k.lib: k.lib
./a.h: a.h ro
./setup.exe (unchanged)'

# Captions from command lines written exactly as a creator may write them.
make_kit win64 captions
captions_dir=$(windows_path "$work/captions")
while IFS='|' read -r what command_line caption; do
  label="captions: $what" scenario win64 captions "$(ok_run "$caption")" './INCLUDE/
./LIB/
./setup.exe (unchanged)' "$command_line"
done <<EOF
quoted path, trailing space|"$captions_dir\\setup.exe" |setup.exe
quoted path and an argument|"$captions_dir\\setup.exe" /s|setup.exe" /s
a backslash in an argument|"$captions_dir\\setup.exe" D:\\tmp\\x|x
a leading number|12setup.exe|setup.exe
EOF

# Our start-up under a probe WinMain: the x87 control word WinMain begins
# with, its arguments, the command-line tail, and the exit code passed on.
mkdir -p "$work/a folder"
cp build/win64/tests/windows/start_probe.exe "$work/a folder/"
probe=$(windows_path "$work/a folder/start_probe.exe")
tab=$'\t'
while IFS='|' read -r what command_line tail; do
  start=$(seconds)
  expect "win64 start-up: $what" \
    "$(box "start probe" "control word 1332, instance this module, previous null, show 10, tail [$tail]"; echo "exit code: 7")" \
    "$(BOX_COMMAND_LINE=$command_line "$wine64" build/win64/tests/windows/box_driver.exe "$probe" "$(windows_path "$work")" 2>&1)"
  record "win64 start-up: $what" "$start"
done <<EOF
quoted path with a blank, arguments|"$probe"  /s  x|/s  x
quoted path, trailing blank|"$probe" |
bare name, tab and blank, quoted argument|start_probe.exe$tab a "b c"|a "b c"
EOF

# The guard around the real box.
# guard ARCH [--skip-pointers]
guard() {
  local arch=$1 loader=$wine64 start output status=0
  [ "$arch" = win32 ] && loader=$wine32
  shift
  start=$(seconds)
  output=$("$loader" "build/$arch/tests/windows/fpu_guard_box_test.exe" "$@" 2>&1) || status=$?
  record "$arch guard test" "$start"
  echo "$output" | sed 's/^/    /'
  [ "$status" -eq 0 ] && echo "ok: $arch guard test" || fail "$arch guard test (exit code $status)"
}
guard win64

# --- 32-bit: the product itself, in one run that covers the most ---------------

make_kit win32 product a.h B.H k.lib LIB/k.lib=old readme.txt
chmod a-w "$work/product/a.h"
scenario win32 product "$(box setup.exe "$not_moved a.h."; ok_run)" './INCLUDE/
./INCLUDE/B.H: B.H
./INCLUDE/a.h: a.h ro
./LIB/
./LIB/k.lib: k.lib
./a.h: a.h ro
./readme.txt: readme.txt
./setup.exe (unchanged)' "\"$(windows_path "$work/product")\\setup.exe\" "
# qemu does not restore the x87 instruction and operand pointers; the
# 64-bit run above checks them on the real processor.
guard win32 --skip-pointers

echo
echo "time taken:"
printf '  %s\n' "${timings[@]}"
if [ "$failures" -ne 0 ]; then
  echo "$failures Windows check(s) failed"
  exit 1
fi
echo "all Windows checks passed"
