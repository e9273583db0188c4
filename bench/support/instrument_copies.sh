# Sourced by the timing scripts: make_copies N WORK ROOT BIN [MARKET] loads N instruments into the
# local store of $TARNEL_CENTER (a quarter each of A-shares, funds, Hong Kong and US stocks, or all
# of MARKET: A, ETF, HK or US; copies of bundled real bars under codes of their own) and writes their
# codes to WORK/watchlist.txt.
make_copies() {
  local n=$1 work=$2 root=$3 bin=$4 market=${5:-}
  local per=$(( (n + 3) / 4 ))
  [ -z "$market" ] || per=$n
  mkdir -p "$work/bars"
  cp "$root/data/bars/a/sh.600519.csv" "$root/data/bars/etf/510050.csv" "$root/data/bars/hk/00700.csv" \
    "$root/data/bars/us/AAPL.csv" "$work/bars/"
  {
    echo "code,name,market,kind,file"
    for i in $(seq 1 "$per"); do
      printf 'sh.601%03d,基准A%02d,A,stock,bars/sh.600519.csv\n' "$i" "$i"
      printf '512%03d,基准ETF%02d,ETF,etf,bars/510050.csv\n' "$i" "$i"
      printf 'hk.08%03d,基准港股%02d,HK,stock,bars/00700.csv\n' "$i" "$i"
      printf 'us.BQ%s,基准美股%02d,US,stock,bars/AAPL.csv\n' "$(printf '%03d' "$i" | tr 0-9 A-J)" "$i"
    done | { [ -z "$market" ] && cat || awk -F, -v m="$market" '$3 == m'; }
  } > "$work/instruments.csv"
  "$bin/tarnel-import" --instruments "$work/instruments.csv" >/dev/null
  tail -n +2 "$work/instruments.csv" | cut -d, -f1 | head -n "$n" > "$work/watchlist.txt"
}
