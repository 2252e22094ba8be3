# The Debian packages the project needs; sourced by the scripts, which install them every time.
KV_PACKAGES=(
    cmake ninja-build ccache g++ pkg-config python3
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    clang libclang-rt-14-dev llvm clang-tidy
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
    libncurses-dev nlohmann-json3-dev tmux
)

kv_install_packages() {
    if [ "$(id -u)" = 0 ]; then
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${KV_PACKAGES[@]}" >/dev/null
    else
        echo "not root: skipping apt-get install of ${KV_PACKAGES[*]}" >&2
    fi
}
