#!/usr/bin/env bash
# Configures and builds the project into build/ (programs in build/bin/).
#   scripts/build.sh                      everything: programs, tests and benchmarks
#   scripts/build.sh --programs NAME...   only the named programs and the libraries they link
# A new build tree uses Ninja when it is installed (it starts each source as soon as its own
# inputs are ready); an existing tree keeps the generator it was made with.
set -euo pipefail
cd "$(dirname "$0")/.."
generator=()
if [ ! -f build/CMakeCache.txt ] && command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
if [ "${1:-}" = "--programs" ]; then
  shift
  cmake "${generator[@]}" -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=OFF >/dev/null
  cmake --build build -j"$(nproc)" --target "$@"
else
  cmake "${generator[@]}" -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVEL_BUILD_TESTS=ON -DQUORVEL_BUILD_BENCH=ON >/dev/null
  cmake --build build -j"$(nproc)"
fi
