#!/usr/bin/env bash
# Installs the dependencies, builds, loads the bundled real data into the local store and runs the
# main job on it: the indicator status of bundled instruments on 2023-02-10.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
echo "== 本地行情库: 首次使用时自动载入 data/ 中的内置数据"
build/bin/tarnel-bars sh.600000 --start 2023-02-06 --end 2023-02-10
for code in sh.600000 510050 hk.00700; do
  echo "== 指标状态: ${code} @ 2023-02-10"
  build/bin/quorvel-indicators-selftest --code "${code}" --end 2023-02-10
done
echo "== 指标状态: us.AAPL @ 2022-12-30"
build/bin/quorvel-indicators-selftest --code us.AAPL --end 2022-12-30
