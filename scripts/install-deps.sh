#!/usr/bin/env bash
# Installs what building, running and testing the tool need on Debian, and
# nothing when all of it is already there. Needs root (or sudo) only when
# something is missing. The same list on every host: where the kernel runs
# no 32-bit code, wine32:i386 installs but cannot start, and the x86_64
# compilers and wine64 run the x64 twin instead (scripts/wine-env.sh).
set -euo pipefail

packages=(
    cmake make g++ python3 git
    googletest libgmock-dev libgtest-dev libbenchmark-dev
    clang libclang-rt-14-dev lld llvm
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine32:i386 wine64
    xvfb xauth fonts-wqy-microhei imagemagick
    zip shellcheck
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_i386=1
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$package")
    fi
done

if [ "$need_i386" -eq 0 ] && [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps: everything is installed"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$need_i386" -eq 1 ]; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
echo "install-deps: done"
