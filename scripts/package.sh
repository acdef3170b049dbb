#!/bin/bash
# The release: dist/corvina-<version>-win64.zip holding an optimised,
# stripped corvina.exe, the Japanese guide README-ja.txt (code page 932 with
# CR LF, as Notepad reads it) and SHA256SUMS.
#
# The same commit gives the same zip wherever it is packaged: the exe holds
# no folder path and no link time stamp, and the zip's entries stand in a
# fixed order with the commit's time and fixed attributes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"

if [ "$(id -u)" = 0 ]; then
    "$root/scripts/install-deps.sh"
fi
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$build" -j"$(nproc)" --target corvina >/dev/null
size=$(stat -c %s "$build/corvina.exe")
if [ "$size" -gt 307200 ]; then
    echo "corvina.exe has grown to $size bytes; a release holds at most 300 KB" >&2
    exit 1
fi
version=$(sed -n 's/^#define CORVINA_VERSION "\(.*\)"$/\1/p' "$build/generated/version.h")
# The commit's time, or the source's newest file's outside a clone.
stamp=$(git -C "$root" log -1 --format=%ct 2>/dev/null ||
        find "$root" -path "$root/build" -prune -o -type f -printf '%T@\n' | sort -n | tail -1)

mkdir -p "$root/dist"
python3 - "$build/corvina.exe" "$root/docs/README-ja.txt" "${stamp%.*}" \
          "$root/dist/corvina-$version-win64.zip" <<'PYTHON'
import hashlib, sys, time, zipfile
exe, guide, stamp, target = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
text = open(guide, encoding="utf-8").read()
files = [("corvina.exe", open(exe, "rb").read()),
         ("README-ja.txt", text.replace("\n", "\r\n").encode("cp932"))]
sums = "".join(f"{hashlib.sha256(data).hexdigest()} *{name}\n" for name, data in files)
files.append(("SHA256SUMS", sums.encode()))
when = time.gmtime(max(stamp, 315532800))[:6]  # zip times start in 1980
with zipfile.ZipFile(target + ".part", "w", zipfile.ZIP_DEFLATED) as archive:
    for name, data in files:
        entry = zipfile.ZipInfo(name, when)
        entry.compress_type, entry.create_system, entry.external_attr = zipfile.ZIP_DEFLATED, 0, 0x20
        archive.writestr(entry, data, compresslevel=9)
PYTHON
mv "$root/dist/corvina-$version-win64.zip.part" "$root/dist/corvina-$version-win64.zip"
sha256sum "$root/dist/corvina-$version-win64.zip"
