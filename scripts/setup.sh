#!/usr/bin/env bash
# Installs the Debian packages the product needs and builds TA-Lib 0.6 from the C sources shipped in
# the npm package talib@2.0.5. Idempotent: a second run installs and builds nothing.
#   --tests    also what only the tests and benchmarks need: GoogleTest, Google Benchmark, the HTTP
#              server library of the fake services, and the Redis and PostgreSQL servers the tests
#              start themselves
#   --browser  also Chromium and CJK fonts for the page tests (tests/browser)
#   --fuzz     also clang and its sanitizer runtimes for scripts/fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

PACKAGES=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  libasio-dev nlohmann-json3-dev rapidjson-dev libpcre2-dev libicu-dev libspdlog-dev libfmt-dev
  libcli11-dev libcurl4-openssl-dev libssl-dev libsqlite3-dev sqlite3 libhiredis-dev libpq-dev
  libhowardhinnant-date-dev tzdata libyaml-cpp-dev libmd4c-dev libmd4c-html0-dev
)
for option in "$@"; do
  case "$option" in
    --tests)
      PACKAGES+=(libgtest-dev libgmock-dev googletest libbenchmark-dev libcpp-httplib-dev redis-server postgresql) ;;
    --browser) PACKAGES+=(chromium fonts-noto-cjk) ;;
    --fuzz) PACKAGES+=(clang libclang-rt-14-dev) ;;
    *) echo "setup: unknown option $option (use --tests, --browser, --fuzz)" >&2; exit 2 ;;
  esac
done

missing=()
# npm fetches the TA-Lib sources; a machine that already has a Node.js toolchain keeps its own.
command -v npm >/dev/null 2>&1 || PACKAGES+=(npm)
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# TA-Lib: C sources from the npm package, built once into third_party/ta-lib (git-ignored).
TA_DIR="$ROOT/third_party/ta-lib"
if [ ! -f "$TA_DIR/lib/libta-lib.a" ]; then
  echo "setup: building TA-Lib from talib@2.0.5 sources"
  work="$ROOT/third_party/ta-lib-src"
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && npm pack --silent talib@2.0.5 >/dev/null && tar xzf talib-2.0.5.tgz)
  src="$work/package/src/lib"
  mkdir -p "$TA_DIR/lib" "$TA_DIR/include/ta-lib" "$work/obj"
  cp "$src"/include/*.h "$TA_DIR/include/ta-lib/"
  mapfile -t sources < <(find "$src/src/ta_common" "$src/src/ta_func" -name '*.c' | sort)
  printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -I{} sh -c \
    'gcc -O2 -fPIC -w -I"$1/include" -I"$1/src/ta_common" -c "$2" -o "$3/obj/$(basename "$2" .c).o"' \
    _ "$src" {} "$work"
  ar rcs "$TA_DIR/lib/libta-lib.a" "$work"/obj/*.o
  rm -rf "$work"
fi
echo "setup: dependencies ready"
