# Installs the Debian packages the build and the tests need, when they are missing.
# Sourced by run.sh and test.sh:  kelvane_need_packages pkg...
kelvane_need_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# What every build needs: CMake, Ninja, the native and the Windows (mingw-w64) compilers,
# GoogleTest's sources, Wine, a virtual X display, and the header-only CLI11 and nlohmann-json
# of the command-line client.
KELVANE_BUILD_PACKAGES=(cmake ninja-build g++ make googletest mingw-w64 wine wine64 xvfb x11-utils
    libcli11-dev nlohmann-json3-dev)
# What tools/release.sh needs: the Windows build's part of the above, and zip (unzip for
# tools/check-release.sh).
KELVANE_RELEASE_PACKAGES=(cmake ninja-build mingw-w64 googletest libcli11-dev nlohmann-json3-dev
    git zip unzip)
# The Windows tree built with clang (cmake/clang-mingw-w64-x86_64.cmake): clang and LLVM's linker.
KELVANE_CLANG_WINDOWS_PACKAGES=(clang lld mingw-w64)

# The waveform readers that the tests load the history's VCD export with.
KELVANE_WAVEFORM_PACKAGES=(sigrok-cli gtkwave)
