#!/usr/bin/env bash
# Builds the fuzzers with clang and runs one of them:
#   bash tests/fuzz/run.sh TARGET [SECONDS] [JOBS] [SEED_FOLDER...]
# TARGET is extract_page, json, query_text, graph_file, price or builder. The corpus starts from the
# target's built-in seeds, its stored regression inputs and any SEED_FOLDER given (for example
# saved product pages; long files are cut to the target's input length). The corpus grows in
# build/fuzz/corpus/TARGET; crashes, timeouts and leaks land in build/fuzz/findings/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/../.."

target=${1:?usage: run.sh TARGET [SECONDS] [JOBS] [SEED_FOLDER...]}
seconds=${2:-600}
jobs=${3:-1}
shift $(( $# < 3 ? $# : 3 ))
seed_folders=()
for folder in "$@"; do seed_folders+=("$(realpath "$folder")"); done

declare -A max_len=([extract_page]=16384 [json]=4096 [query_text]=512 [graph_file]=4096 [price]=1024 [builder]=1024)
[ -n "${max_len[$target]:-}" ] || { echo "unknown target $target" >&2; exit 2; }

build=$PWD/build/fuzz
fuzz_dir=$PWD/tests/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DKUV_FUZZ=ON -DKUV_MODULE=OFF -DKUV_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 4 --target "${target}_fuzzer" write_fuzz_seeds

corpus=$build/corpus/$target
findings=$build/findings/$target
mkdir -p "$corpus" "$findings"
"$build/tests/fuzz/write_fuzz_seeds" "$target" "$corpus"
stored=$fuzz_dir/regressions/$target
if [ -d "$stored" ]; then find "$stored" -type f ! -name '*.expected' -exec cp -t "$corpus" {} +; fi

options=(-max_len="${max_len[$target]}" -timeout=10 -rss_limit_mb=2048 -max_total_time="$seconds"
         -artifact_prefix="$findings/" -print_final_stats=1)
[ -f "$fuzz_dir/$target.dict" ] && options+=(-dict="$fuzz_dir/$target.dict")
[ "$jobs" -gt 1 ] && options+=(-jobs="$jobs" -workers="$jobs")
cd "$findings"  # parallel jobs write their logs here
"$build/tests/fuzz/${target}_fuzzer" "${options[@]}" "$corpus" "${seed_folders[@]}"
