#!/bin/sh
# Installs the build into a temporary prefix, checks what landed there and
# builds C programs against it: through find_package(VarnQ27 CONFIG) (shared
# and static library), through pkg-config (shared), and by hand (static).
# Each program round-trips data and must print its OK line.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR. Exits 77 (skipped) when a
# tool it needs is missing.
set -eu
build=$1
source=$2
for tool in cmake cc pkg-config nm; do
  command -v "$tool" >/dev/null || { echo "install test skipped: $tool not found"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
for f in bin/varn-q27 lib/libvarnq27.a lib/libvarnq27.so include/varnq27.h \
         lib/cmake/VarnQ27/VarnQ27Config.cmake lib/pkgconfig/varnq27.pc share/man/man1/varn-q27.1; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; cat "$work/install.log"; exit 1; }
done
"$prefix/bin/varn-q27" >/dev/null

# The shared library exports the C interface and nothing else.
others=$(nm -D --defined-only "$prefix/lib/libvarnq27.so" | awk '{print $3}' | grep -v '^varnq27_' || true)
[ -z "$others" ] || { echo "unexpected exports:"; echo "$others"; exit 1; }

consumer=$source/tests/api/consumer
cmake -S "$consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >"$work/cmake.log" ||
  { cat "$work/cmake.log"; exit 1; }
cmake --build "$work/cmake" >>"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; exit 1; }
"$work/cmake/consumer_shared"
"$work/cmake/consumer_static"
"$work/cmake/example"

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
flags=$(pkg-config --cflags varnq27)
cc -Wall -Wextra -Werror $flags "$consumer/consumer.c" $(pkg-config --libs varnq27) -o "$work/pc_shared"
LD_LIBRARY_PATH=$prefix/lib "$work/pc_shared"
cc -Wall -Wextra -Werror $flags "$consumer/consumer.c" "$prefix/lib/libvarnq27.a" \
   $(pkg-config --static --libs varnq27 | sed 's/-lvarnq27//') -o "$work/pc_static"
# The README's example, built as the README says.
cc -std=c99 -Wall -Wextra -Werror "$source/tests/api/example.c" $(pkg-config --cflags --libs varnq27) -o "$work/example"
LD_LIBRARY_PATH=$prefix/lib "$work/example" | grep -q '^28 bytes -> [0-9]* compressed -> 28 back$'
"$work/pc_static"
# The README's example, built as the README says.
cc -std=c99 -Wall -Wextra -Werror "$source/tests/api/example.c" $(pkg-config --cflags --libs varnq27) -o "$work/example"
LD_LIBRARY_PATH=$prefix/lib "$work/example" | grep -q '^28 bytes -> [0-9]* compressed -> 28 back$'
echo "install test OK"
