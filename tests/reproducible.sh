#!/bin/sh
# The release exe is the same bytes wherever it is built: the source copied
# to another folder and built there again gives the Windows tree's exe.
set -eu
source=$1 exe=$2 work=$3
rm -rf "$work" && mkdir -p "$work/source"
tar -C "$source" --exclude=./build --exclude='./build-*' --exclude=./dist --exclude=./.git -cf - . | tar -C "$work/source" -xf -
cmake -S "$work/source" -B "$work/build" -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DCMAKE_TOOLCHAIN_FILE="$work/source/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$work/build" -j2 --target corvina >/dev/null
cmp "$exe" "$work/build/corvina.exe"
rm -rf "$work"
