#!/usr/bin/env bash
# Installs what the build needs on a fresh Debian machine and records the Python interpreter and
# pybind11 for CMake under .deps/. Safe to run again: a second run only checks, without apt or
# the network. --packages-only stops after the Debian packages.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps=$root/.deps
mkdir -p "$deps"

say() { printf 'bootstrap: %s\n' "$*"; }
warn() { printf 'bootstrap: WARNING: %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; elif command -v sudo >/dev/null; then sudo "$@"; else
    warn "not root and no sudo: cannot run $*"; return 1
  fi
}

# 1. Debian packages: apt runs only when one is missing, so a machine that has everything sets
# up offline. Add a package by adding its name to this list.
packages=(
  g++
  clang
  cmake
  ninja-build
  make
  git
  pkg-config
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  zlib1g-dev
  ca-certificates
  iproute2
  mypy
  libmujoco-dev
  gnuplot-nox
  cyclonedds-dev
  cyclonedds-tools
  libpcap-dev
  libssl-dev
  openssl
  tshark
  nlohmann-json3-dev
  libegl-dev
  libglfw3-dev
  ffmpeg
  xvfb
)
# The one clang-format whose layout scripts/check_format.sh checks against.
packages+=("clang-format-$(sed -n 's/^clang_format_version=\([0-9]*\)$/\1/p' "$root/scripts/check_format.sh")")
# The aarch64 cross build and its tests under emulation (scripts/aarch64.sh), from x86-64 hosts.
if [ "$(uname -m)" = x86_64 ]; then
  packages+=(g++-aarch64-linux-gnu gcc-aarch64-linux-gnu qemu-user-static googletest file)
fi
native_arch=$(dpkg --print-architecture)

# Installed for this machine's architecture (or for all)? dpkg-query prints one record per
# installed architecture of a name, so each record is one line and is judged on its own: a
# foreign-architecture copy beside the native one must not hide it. "name:arch" asks for that
# architecture.
installed() {
  local name=${1%%:*} arch=$native_arch
  [[ $1 == *:* ]] && arch=${1#*:}
  dpkg-query -W -f='${Architecture}\t${Status}\n' "$name" 2>/dev/null |
    awk -F'\t' -v arch="$arch" '($1 == arch || $1 == "all") && $2 == "install ok installed" { found = 1 }
                                END { exit !found }'
}

# clang's sanitizer and fuzzer runtimes, for the version of clang installed.
clang_major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
[ -n "$clang_major" ] && packages+=("libclang-rt-$clang_major-dev")

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update -qq
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  # The clang runtimes follow the clang just installed.
  clang_major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
  if [ -n "$clang_major" ] && ! installed "libclang-rt-$clang_major-dev"; then
    say "installing libclang-rt-$clang_major-dev"
    as_root apt-get install -y -qq --no-install-recommends "libclang-rt-$clang_major-dev" >/dev/null
  fi
fi
[ "${1:-}" = "--packages-only" ] && { say "packages present"; exit 0; }

# 2. CPython 3.12 with its headers. The interpreter recorded is the real one (sys.executable),
# not a version-manager shim.
find_python() {
  local candidates=()
  if command -v pyenv >/dev/null 2>&1; then
    local prefix
    prefix=$(pyenv prefix 3.12 2>/dev/null | head -n 1) || true
    [ -n "${prefix:-}" ] && candidates+=("$prefix/bin/python3.12")
  fi
  for d in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.12*; do
    [ -x "$d/bin/python3.12" ] && candidates+=("$d/bin/python3.12")
  done
  command -v python3.12 >/dev/null 2>&1 && candidates+=("$(command -v python3.12)")
  for c in "${candidates[@]}"; do
    if "$c" -c 'import sys; assert sys.version_info[:2] == (3, 12)' 2>/dev/null; then
      "$c" -c 'import sys; print(sys.executable)'
      return 0
    fi
  done
  return 1
}

if ! python=$(find_python); then
  warn "no CPython 3.12 found; falling back to python3 (the module is built for 3.12 only by default)"
  command -v python3 >/dev/null || { export DEBIAN_FRONTEND=noninteractive; as_root apt-get install -y -qq python3 >/dev/null; }
  python=$(python3 -c 'import sys; print(sys.executable)')
fi
include=$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
if [ ! -f "$include/Python.h" ]; then
  if [[ "$python" == /usr/bin/* ]]; then
    say "installing python3-dev for $python"
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get install -y -qq python3-dev >/dev/null
  else
    warn "$python has no development headers ($include/Python.h missing)"
  fi
fi
printf '%s\n' "$python" >"$deps/python"

# 3. pybind11, the one release cmake/TorvanePybind11.cmake names (the module is built with no
# other). Debian's stable package is older, so the next release's header-only package is fetched
# with apt on a private configuration and unpacked under .deps/.
pybind_dir=$deps/pybind11/usr/lib/cmake/pybind11
pybind_version=$(sed -n 's/^set(TORVANE_PYBIND11_VERSION \([0-9.]*\))$/\1/p' "$root/cmake/TorvanePybind11.cmake")
probe_system_pybind11() {
  local probe=$deps/probe
  rm -rf "$probe" && mkdir -p "$probe/src"
  cat >"$probe/src/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(probe NONE)
find_package(pybind11 $pybind_version EXACT CONFIG QUIET)
if(pybind11_FOUND)
  file(WRITE \${CMAKE_BINARY_DIR}/found "\${pybind11_VERSION}")
endif()
CMAKE
  cmake -S "$probe/src" -B "$probe/build" >/dev/null 2>&1 || true
  [ -f "$probe/build/found" ] && cat "$probe/build/found"
}

fetch_pybind11() {
  local apt=$deps/apt
  local mirror
  # The mirror the machine's own apt sources name; nothing else is contacted.
  mirror=$(grep -h -o -E '(URIs:|deb) +https?://[^ ]+/debian/?( |$)' \
             /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
           grep -v -- '-security' | head -n 1 | awk '{print $2}') || true
  [ -n "${mirror:-}" ] || return 1
  mkdir -p "$apt/etc/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/download"
  printf 'deb %s trixie main\n' "$mirror" >"$apt/etc/sources.list"
  local opts=(-o Dir::Etc::sourcelist="$apt/etc/sources.list" -o Dir::Etc::sourceparts="$apt/etc/sources.list.d"
              -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o Debug::NoLocking=1)
  apt-get "${opts[@]}" -qq update >/dev/null 2>&1 || return 1
  (cd "$apt/download" && rm -f ./*.deb && apt-get "${opts[@]}" -qq download pybind11-dev >/dev/null 2>&1) || return 1
  local deb
  deb=$(ls "$apt/download"/pybind11-dev_*_all.deb 2>/dev/null | head -n 1)
  [ -n "$deb" ] || return 1
  rm -rf "$deps/pybind11" && dpkg -x "$deb" "$deps/pybind11"
  [ -f "$pybind_dir/pybind11Config.cmake" ]
}

if [ -f "$pybind_dir/pybind11Config.cmake" ]; then
  :
elif version=$(probe_system_pybind11) && [ -n "$version" ]; then
  say "using installed pybind11 $version"
elif fetch_pybind11; then
  say "pybind11 $(sed -n 's/.*PACKAGE_VERSION "\(.*\)".*/\1/p' "$pybind_dir/pybind11ConfigVersion.cmake") unpacked into .deps/pybind11"
else
  warn "could not fetch pybind11 2.13; falling back to Debian's stable pybind11-dev (2.10, no official Python 3.12 support)"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get install -y -qq pybind11-dev >/dev/null
fi
rm -rf "$deps/probe"
say "ready (python: $python)"
