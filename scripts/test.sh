#!/usr/bin/env bash
# Sets everything up, then runs every test: the C++ unit tests (built by g++, then by clang under
# ASan+UBSan, so both compilers' warnings stop the run) and the Python tests against the installed
# module.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# The CMake that setup.sh installed with pip, whatever else PATH holds.
PATH="$(python3 -c 'import cmake; print(cmake.CMAKE_BIN_DIR)'):$PATH"

jobs=$(nproc)
run_cpp_tests() {  # build dir, extra cmake flags...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DKUV_MODULE=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}
run_cpp_tests build/tests
CC=clang CXX=clang++ ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_cpp_tests build/sanitize -DKUV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug

status=0
python3 -m pytest -q tests/py || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 5 ] || exit "$status"
