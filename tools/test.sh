#!/usr/bin/env bash
# Builds everything and runs every test: the portable code natively, again under
# AddressSanitizer and UndefinedBehaviorSanitizer with a short fuzzing run, and the Windows
# program and its tests cross-built with mingw-w64 and run under Wine on a virtual display.
# Also builds the release zip twice, in two folders, and the Windows tree with clang (built,
# not run). Ends with one ctest summary of all three builds and the release zip's checks;
# exits non-zero when a build or any test fails.
# Arguments go to that ctest run: tools/test.sh -R 'win\.TrafficLog' --repeat until-fail:5
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
source tools/packages.sh
kelvane_need_packages "${KELVANE_BUILD_PACKAGES[@]}" "${KELVANE_RELEASE_PACKAGES[@]}" \
    "${KELVANE_CLANG_WINDOWS_PACKAGES[@]}" "${KELVANE_WAVEFORM_PACKAGES[@]}" clang \
    libclang-rt-14-dev libgtest-dev libbenchmark-dev

jobs=$(nproc)
echo "== native build"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_BENCH=ON \
    -DKELVANE_TEST_PREFIX=native. >/dev/null
cmake --build build/native -j "$jobs"
echo "== sanitizer and fuzzing build"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DKELVANE_SANITIZE=ON -DKELVANE_FUZZ=ON \
    -DKELVANE_TEST_PREFIX=asan. >/dev/null
cmake --build build/asan -j "$jobs"
echo "== Windows build"
cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DKELVANE_BENCH=ON -DKELVANE_TEST_PREFIX=win. >/dev/null
cmake --build build/win -j "$jobs"
# The release zip twice, the second time from a copy of the sources in another folder, built
# in another folder, time zone and umask: the tests below compare the two and run the programs
# of the first.
echo "== release zip"
tools/release.sh build/release
echo "== release zip again, from a copy of the sources"
again=$root/build/release-again
mkdir -p "$again/src"
git ls-files -z --cached --others --exclude-standard |
    tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$again/src"
(
    SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
    export SOURCE_DATE_EPOCH TZ=Pacific/Kiritimati
    umask 077
    "$again/src/tools/release.sh" "$again"
)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/win/CMakeCache.txt)
release_zip=kelvane-$version-win64.zip
# The Windows tree with clang, for its warnings, built but not run. Unoptimised: every inline
# function then gets its own copy, so one that clashes with the libraries built by g++ shows
# at link time instead of hiding behind inlining.
echo "== Windows build with clang"
cmake -S . -B build/clang-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/clang-mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE= -DKELVANE_BENCH=ON >/dev/null
cmake --build build/clang-win -j "$jobs"

# A virtual display of our own for the Windows tests, and Wine's server kept up meanwhile.
display=:${KELVANE_TEST_DISPLAY_NUMBER:-88}
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export KELVANE_DISPLAY=$display
stop() {
    WINEPREFIX=$root/build/wine-prefix wineserver -k 2>/dev/null || true
    for logpixels in "${dpi_prefixes[@]}"; do
        WINEPREFIX=$root/build/wine-prefix-dpi$logpixels wineserver -k 2>/dev/null || true
    done
    kill "$xvfb" 2>/dev/null || true
}
# The screen DPIs of the extra prefixes the DPI tests run in (tests/CMakeLists.txt).
dpi_prefixes=(144 192)
trap stop EXIT
for _ in $(seq 1 100); do
    xdpyinfo -display "$display" >/dev/null 2>&1 && break
    sleep 0.05
done

# The Wine prefix is made once (the first time takes a while); later runs reuse it. Then one
# Wine server is kept up for the whole run, with Wine's background services started here, away
# from ctest: a service started by a test would hold that test's output pipe open, and tests
# started side by side would race to start the server.
echo "== Wine prefix"
export WINEPREFIX=$root/build/wine-prefix
tools/wine-exec.sh build/win/tests/kelvane_portable_tests.exe --gtest_list_tests >/dev/null 2>&1
wineserver -k 2>/dev/null || true
wineserver -p
# Wine's desktop process (explorer.exe /desktop) ends about a second after its last client
# leaves, and the next program with a window starts a new one, which inherits that program's
# output: under ctest the test's output pipe, so ctest counts the test as running until the
# desktop process ends (25-50 s while other tests keep it busy). An idle client (cmd.exe
# waiting on a pipe nobody writes) keeps the desktop up for the whole run, and the desktop is
# started just below, with its output going nowhere.
keep_desktop_up() { # the keeper for the prefix in $WINEPREFIX
    local keeper=$WINEPREFIX.desktop-keeper
    rm -f "$keeper" && mkfifo "$keeper"
    tools/wine-exec.sh cmd.exe <>"$keeper" >/dev/null 2>&1 &
}
keep_desktop_up
# The first window in a new prefix also builds Wine's font cache, which takes a while: done
# here too, so it never counts against a test's time.
tools/wine-exec.sh build/win/tests/kelvane_win32_tests.exe \
    --gtest_filter=MainDialog.WindowAndDragIconsAreTheApplicationIcon >/dev/null 2>&1 || true

# The same for the prefixes whose screens run at 150 % and 200 %: each made with its DPI, kept
# up by a server of its own, and its font cache built, before any test starts.
for logpixels in "${dpi_prefixes[@]}"; do
    (
        export KELVANE_WINE_LOGPIXELS=$logpixels WINEPREFIX=$root/build/wine-prefix-dpi$logpixels
        tools/wine-exec.sh build/win/tests/kelvane_portable_tests.exe --gtest_list_tests \
            >/dev/null 2>&1
        wineserver -k 2>/dev/null || true
        wineserver -p
        keep_desktop_up
        tools/wine-exec.sh build/win/tests/kelvane_win32_tests.exe \
            --gtest_filter=MainDialog.WindowAndDragIconsAreTheApplicationIcon >/dev/null 2>&1 || true
    )
done

# One ctest run over the three builds and the release zip, so one summary covers every test.
mkdir -p build/all
cat >build/all/CTestTestfile.cmake <<CTEST
subdirs("$root/build/native")
subdirs("$root/build/asan")
subdirs("$root/build/win")
add_test(release.SameBytesFromTwoFolders "$root/tools/check-release.sh" --same
         "$root/build/release/$release_zip" "$root/build/release-again/$release_zip")
add_test(release.UnpackedProgramsRun "$root/tools/check-release.sh"
         "$root/build/release/$release_zip")
set_tests_properties(release.UnpackedProgramsRun PROPERTIES TIMEOUT 120)
CTEST
echo "== tests"
ctest --test-dir build/all --output-on-failure -j "$jobs" --timeout 300 "$@"
