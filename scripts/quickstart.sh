#!/usr/bin/env bash
# Installs the dependencies, builds the programs it runs, loads the bundled real data into the local
# store and runs the main jobs on it: the AI analysis of one bundled instrument of each market (with
# the market AI brief it needs), the market briefs and the indicator status of bundled instruments.
# Without a configured LLM client the offline rule-based client writes the analyses and briefs (no
# network). scripts/build.sh builds the other programs, scripts/test.sh the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh --programs pelion tessaly tarnel-bars quorvel-indicators-selftest
export LLM_CLIENT_TYPE="${LLM_CLIENT_TYPE:-offline}"

echo "== 本地行情库: 首次使用时自动载入 data/ 中的内置数据"
build/bin/tarnel-bars sh.600000 --start 2023-02-06 --end 2023-02-10

echo "== 个股 AI 分析 (LLM_CLIENT_TYPE=${LLM_CLIENT_TYPE})"
build/bin/pelion -s sh.600519 -t 2023-02-10 --force
build/bin/pelion -s 510050 -t 2023-02-10 --force
build/bin/pelion -s hk.00700 -t 2023-11-07 --force
build/bin/pelion -s us.AAPL -t 2022-12-30 --force

echo "== 大盘 AI 简报 (LLM_CLIENT_TYPE=${LLM_CLIENT_TYPE})"
build/bin/tessaly -m A -t 2023-02-10 --force
build/bin/tessaly -m HK -t 2023-11-07 --force
build/bin/tessaly -m US -t 2022-12-30 --force

for code in sh.600000 510050 hk.00700; do
  echo "== 指标状态: ${code} @ 2023-02-10"
  build/bin/quorvel-indicators-selftest --code "${code}" --end 2023-02-10
done

echo "== 报告页面: 在浏览器中打开 $(pwd)/report/index.html (REPORT_DIR 另设时在该目录下)"
