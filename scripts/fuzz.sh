#!/bin/sh
# Fuzzes the box parser under AddressSanitizer and UndefinedBehaviorSanitizer for the
# given number of seconds (default 60), seeded with every fragment of the test
# presentations. Needs clang (installed by scripts/setup.sh).
#   scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKVSSF_FUZZ=ON -DKVSSF_TESTS=OFF -DKVSSF_SANITIZE=address,undefined >/dev/null
cmake --build "$build" --target box_parser_fuzzer

# The seed corpus: the fragments FFmpeg wrote for the tests, one file each.
tests/origin/make-media.sh build/testmedia
corpus="$build/corpus"
rm -rf "$corpus" && mkdir -p "$corpus"
n=0
find build/testmedia -type f -path '*QualityLevels(*)/Fragments(*' | sort | while read -r f; do
    n=$((n + 1))
    cp "$f" "$corpus/seed-$n"
done
echo "fuzz: $(ls "$corpus" | wc -l) seed fragments, $seconds s"

# New inputs and findings stay in the build tree.
mkdir -p "$build/findings" "$build/corpus-work"
status=0
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$build/bin/box_parser_fuzzer" -max_total_time="$seconds" -max_len=262144 \
    -rss_limit_mb=2048 -artifact_prefix="$build/findings/" -print_final_stats=1 \
    "$build/corpus-work" "$corpus" >"$build/fuzz.log" 2>&1 || status=$?
tail -n 30 "$build/fuzz.log"
[ $status -eq 0 ] || echo "fuzz: failed (status $status); inputs in $build/findings/" >&2
exit $status
