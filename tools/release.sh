#!/usr/bin/env bash
# Builds the Windows release: kelvane.exe, kelvane-cli.exe and kelvane-sim.exe in Release, with
# a README.txt for Windows users, in one zip beside its SHA-256:
#   tools/release.sh [FOLDER]   # FOLDER/kelvane-VERSION-win64.zip(.sha256); FOLDER: build/release
# The build tree is FOLDER/win. One commit gives the same bytes in any folder at any time: the
# build time is the commit's (SOURCE_DATE_EPOCH, unless it is set already), the executables
# carry neither a link time nor a folder, and the zip's entries have a fixed order, time and
# attributes.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$(realpath -m "${1:-$root/build/release}")
cd "$root"
source tools/packages.sh
kelvane_need_packages "${KELVANE_RELEASE_PACKAGES[@]}"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) ||
        { echo "release: no commit to take the time from; set SOURCE_DATE_EPOCH" >&2; exit 2; }
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    echo "release: the tree has uncommitted changes; the zip is not that of its commit" >&2
fi

cmake -S . -B "$out/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out/win" -j "$(nproc)" --target kelvane kelvane-cli kelvane-sim
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/win/CMakeCache.txt")
name=kelvane-$version-win64.zip

# The entries as Windows users get them: README.txt with CRLF line ends, the programs
# executable, everything dated SOURCE_DATE_EPOCH. zip keeps the times in local time, so it
# runs in UTC, and -X leaves out the owners and the extra time fields.
stage=$out/zip-stage
rm -rf "$stage" "$out/$name" "$out/$name.sha256"
mkdir -p "$stage"
cp "$out/win/kelvane.exe" "$out/win/cli/kelvane-cli.exe" "$out/win/tools/kelvane-sim.exe" "$stage/"
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' docs/readme-windows.txt >"$stage/README.txt"
chmod 0755 "$stage"/*.exe
chmod 0644 "$stage/README.txt"
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*
(cd "$stage" && TZ=UTC0 zip -X -9 -q "$out/$name" kelvane.exe kelvane-cli.exe kelvane-sim.exe \
    README.txt)
(cd "$out" && sha256sum "$name" >"$name.sha256")
echo "$out/$name"
cat "$out/$name.sha256"
