#!/usr/bin/env bash
# Builds the libFuzzer target of the decision extractor with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer over the schemas library it links) into build-fuzz/ and runs it.
# Usage: scripts/fuzz.sh [SECONDS] [extra libFuzzer options...]   (default 60 seconds)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true

scripts/setup.sh --fuzz
cmake --preset fuzz >/dev/null
cmake --build build-fuzz -j2 --target fuzz_extract_decision
mkdir -p build-fuzz/corpus build-fuzz/artifacts
# New inputs go to build-fuzz/corpus; the reply fixtures seed it.
exec build-fuzz/bin/fuzz_extract_decision -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=4096 \
  -dict=fuzz/decision.dict -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1 "$@" \
  build-fuzz/corpus tests/data/schemas
