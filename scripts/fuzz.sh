#!/bin/sh
# Fuzzes the parsers under AddressSanitizer and UndefinedBehaviorSanitizer, each for the
# given number of seconds (default 60): the box parser seeded with every fragment of the
# test presentations, the manifest parse with their manifests and the fixtures, the
# H.264 parameter-set reader with their codec data, and the HTTP client's handling of
# responses served on a local socket. Each also starts from its kept corpus,
# tests/fuzz/corpus/<name>/. Needs clang (scripts/setup.sh).
#   [KVSSF_FUZZERS="name ..."] [KVSSF_FUZZ_KEEP=1] scripts/fuzz.sh [SECONDS]
# KVSSF_FUZZ_KEEP=1 merges what the run found into the kept corpora, minimised.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build/fuzz
fuzzers=${KVSSF_FUZZERS:-"box_parser_fuzzer manifest_fuzzer sps_reader_fuzzer http_response_fuzzer"}
kept=tests/fuzz/corpus
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKVSSF_FUZZ=ON -DKVSSF_TESTS=OFF -DKVSSF_SANITIZE=address,undefined >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" --target $fuzzers

# Seed corpora from the media the tests make, one file per input.
tests/origin/make-media.sh build/testmedia
seeds="$build/seeds"
rm -rf "$seeds" && mkdir -p "$seeds/box_parser_fuzzer" "$seeds/manifest_fuzzer" \
    "$seeds/sps_reader_fuzzer" "$seeds/http_response_fuzzer"
python3 - "$seeds" <<'PY'
import pathlib, sys, xml.etree.ElementTree as ET
seeds = pathlib.Path(sys.argv[1])
media = pathlib.Path("build/testmedia")
fragments = sorted(p for p in media.rglob("Fragments(*") if p.parent.name.startswith("QualityLevels("))
for n, path in enumerate(fragments):
    (seeds / "box_parser_fuzzer" / ("fragment-%d" % n)).write_bytes(path.read_bytes())
manifests = sorted(media.glob("*/pres.ism/Manifest")) + sorted(pathlib.Path("tests/fixtures").rglob("Manifest"))
codec_data = set()
for n, path in enumerate(manifests):
    body = path.read_bytes()
    (seeds / "manifest_fuzzer" / ("manifest-%d" % n)).write_bytes(body)
    for level in ET.fromstring(body).iter("QualityLevel"):
        data = level.get("CodecPrivateData", "")
        if data.startswith("00000001"):
            codec_data.add(bytes.fromhex(data))
for n, data in enumerate(sorted(codec_data)):
    (seeds / "sps_reader_fuzzer" / ("codec-data-%d" % n)).write_bytes(data)
PY

# New inputs and findings stay in the build tree.
status=0
for fuzzer in $fuzzers; do
    work="$build/corpus/$fuzzer"
    findings="$build/findings/$fuzzer"
    mkdir -p "$work" "$findings" "$kept/$fuzzer"
    echo "fuzz: $fuzzer, $(($(ls "$seeds/$fuzzer" | wc -l) + $(ls "$kept/$fuzzer" | wc -l))) seeds, $seconds s"
    if UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$build/bin/$fuzzer" -max_total_time="$seconds" -max_len=262144 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/" -print_final_stats=1 "$work" "$seeds/$fuzzer" \
        "$kept/$fuzzer" >"$build/$fuzzer.log" 2>&1; then
        grep -E "^Done|stat::(number_of_executed_units|new_units_added|peak_rss_mb)" \
            "$build/$fuzzer.log"
        grep -Eo "cov: [0-9]+ ft: [0-9]+" "$build/$fuzzer.log" | tail -n 1
        if [ "${KVSSF_FUZZ_KEEP:-0}" = 1 ]; then
            merged="$build/merged/$fuzzer"
            rm -rf "$merged" && mkdir -p "$merged"
            "$build/bin/$fuzzer" -merge=1 -max_len=262144 "$merged" "$kept/$fuzzer" "$work" \
                >"$build/$fuzzer.merge.log" 2>&1
            rm -rf "${kept:?}/$fuzzer" && mv "$merged" "$kept/$fuzzer"
            echo "fuzz: $fuzzer keeps $(ls "$kept/$fuzzer" | wc -l) inputs"
        fi
    else
        tail -n 40 "$build/$fuzzer.log"
        echo "fuzz: $fuzzer failed; inputs in $findings/" >&2
        status=1
    fi
done
exit $status
