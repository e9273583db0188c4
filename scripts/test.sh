#!/usr/bin/env bash
# Installs the dependencies, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests --browser
scripts/build.sh
# No test reaches a real market-data host (the online tests use their own hosts on 127.0.0.1).
export TARNEL_ONLINE=0
# The page tests fail, rather than skip, when the headless browser is missing.
export QUORVEL_REQUIRE_BROWSER=1
ctest --test-dir build --output-on-failure -j"$(nproc)"
