#!/usr/bin/env bash
# Installs everything kuv needs to build and test: the system libraries (Debian packages), then
# the Python package itself and its test tools. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

install_missing() {  # Debian packages...
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

install_missing g++ clang ninja-build libmodest-dev libicu-dev nlohmann-json3-dev libsimdjson-dev libgtest-dev \
  cargo rustc librust-regex-dev librust-regex+default-dev
# The sanitizer runtimes of the clang just installed (the tests' sanitizer build uses clang).
install_missing "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"

export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
python3 -m pip install --quiet pytest "cmake>=3.26"
python3 -m pip install --quiet .
