#!/bin/bash
# Installs, as root on Debian 12 or 13, what building and testing corvina
# needs and is not there yet. Safe to run again: it does nothing when all is
# present.
set -euo pipefail

# The fuzz tree's clang is the release's own: 14 on Debian 12, 19 on 13.
. /etc/os-release
clang=$([ "${VERSION_CODENAME:-}" = bookworm ] && echo 14 || echo 19)

packages=(
    cmake make g++ googletest          # native build and unit tests
    "clang-$clang" "libclang-rt-$clang-dev" # the fuzz tree: libFuzzer and sanitizers for clang
    libbenchmark-dev                   # the benchmarks (scripts/bench.sh)
    g++-mingw-w64-x86-64               # the Windows build
    wine64 wine                        # running Windows programs and tests
    locales                            # ja_JP.UTF-8, so Wine's ANSI code page is 932
    xvfb xdotool x11-utils imagemagick # a display for end-to-end tests, input, screenshots
    fonts-ipafont-gothic               # Japanese glyphs for Wine's dialogs
    dovecot-pop3d                      # the real POP3 server of the end-to-end tests
    iproute2                           # the end-to-end layer's own network namespace
    iptables                           # an address that drops packets, inside that namespace
    icoutils                           # listing the program's resources
    librsvg2-2 libcairo2               # rendering the icons' drawings (res/icons/make_icons.py)
    python3 python3-cryptography       # test servers, the end-to-end harness, its certificates
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

if ! locale -a | grep -qx 'ja_JP.utf8'; then
    sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen
fi
