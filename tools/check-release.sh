#!/usr/bin/env bash
# Checks a release zip made by tools/release.sh (test.sh runs both forms as tests):
#   tools/check-release.sh --same ZIP OTHER   # two builds gave the same bytes
#   tools/check-release.sh ZIP                # what a Windows user unpacks, and its programs
# The second form unpacks the zip and runs kelvane-cli.exe --version and kelvane-sim.exe --help
# from there under Wine (tools/wine-exec.sh). SOURCE_DATE_EPOCH is taken as release.sh takes it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
fail() {
    echo "check-release: $*" >&2
    exit 1
}

if [ "${1:-}" = --same ]; then
    sha256sum "$2" "$3"
    cmp "$2" "$3" && exit 0
    # Which entries differ, to start looking (objdump -p and xxd on those entries next).
    diff <(unzip -Z -v "$2" | grep -E '^  (file last modified|32-bit CRC|compressed size)|^Central') \
        <(unzip -Z -v "$3" | grep -E '^  (file last modified|32-bit CRC|compressed size)|^Central') || true
    fail "the two builds differ"
fi

zip=$(realpath "$1")
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
version=$(sed -n 's/^project(Kelvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

entries=$(unzip -Z -1 "$zip" | tr '\n' ' ')
[ "$entries" = "kelvane.exe kelvane-cli.exe kelvane-sim.exe README.txt " ] ||
    fail "the entries are: $entries"
# zip keeps times to 2 s and rounds an odd second up.
expected=$(TZ=UTC0 date -d "@$(((epoch + 1) / 2 * 2))" +%Y%m%d.%H%M%S)
times=$(unzip -Z -T "$zip" | awk '$1 ~ /^-/ {print $(NF - 1)}' | sort -u | tr '\n' ' ')
[ "$times" = "$expected " ] || fail "the entries are dated $times, not $expected"
readme=$(unzip -p "$zip" README.txt)
grep -q -v $'\r$' <<<"$readme" && fail "README.txt has a line without CRLF"

unpacked=$(mktemp -d "$root/build/release-check.XXXXXX")
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked"
cd "$unpacked"
line=$("$root/tools/wine-exec.sh" ./kelvane-cli.exe --version | tr -d '\r') ||
    fail "kelvane-cli.exe --version failed"
stamp=$(TZ=UTC0 date -d "@$epoch" +%y%m%e%H)
[ "$line" = "Kelvane Version $version Build $stamp" ] || fail "kelvane-cli.exe --version: $line"
help=$("$root/tools/wine-exec.sh" ./kelvane-sim.exe --help | tr -d '\r') ||
    fail "kelvane-sim.exe --help failed"
grep -q -e '--port' <<<"$help" || fail "kelvane-sim.exe --help: $help"
# The About box takes its build date as kelvane-cli does.
grep -q -a "$(TZ=UTC0 date -d "@$epoch" '+%b %e %Y')" kelvane.exe ||
    fail "kelvane.exe does not carry the build date"
echo "$zip: entries, times, README.txt and the programs are as they should be"
