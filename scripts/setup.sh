#!/usr/bin/env bash
# Installs everything kuv needs to build and test: the system libraries (Debian packages), then
# the Python package itself and its test tools. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ ninja-build pkg-config libmodest-dev libre2-dev libicu-dev nlohmann-json3-dev libgtest-dev libsimdjson-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
python3 -m pip install --quiet pytest "cmake>=3.26"
python3 -m pip install --quiet .
