#!/usr/bin/python3
"""The indicator status of bench_screen's BM_StatusOnly, written the usual pandas way, as a peer to
compare the C++ figure with.

For each instrument of the benchmark universe (the store bench_screen generates: 5,000 synthetic
A-share instruments x 500 daily bars) it computes what quorvel::indicators::get_stock_status
computes, each indicator over the whole series with pandas' own ewm and rolling functions:
EMA 5/10/20/60/120, MACD 12/26/9, RSI 12 and 6/12/24 (Wilder smoothing), Bollinger 20/2, the
5-day volume mean and volume ratio, ATR 14 and the 20-day volatility of returns; then it takes the
last values, as the status does. --with-kdj adds KDJ 9/3/3 (the C++ status does not compute it).

What it measures: the computation alone, on one core (one process, one thread), over frames already
in memory; reading the store is timed apart and not counted. The figure to compare is
instruments_per_s_per_core against BM_StatusOnly's items_per_second (also one core, tables in
memory).

Run from the directory bench_screen ran in (the store is $QUORVEL_BENCH_STORE, else
bench-universe.sqlite there; run bench_screen once first to generate it), with Debian's
python3-pandas (apt-get install -y python3-pandas):

  /usr/bin/python3 bench/technical/pandas_status.py [--instruments 500] [--repeat 3] [--with-kdj]
"""
import argparse
import os
import sqlite3
import sys
import time

# One core: no library may spread its work over threads.
for var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS", "NUMEXPR_NUM_THREADS"):
    os.environ[var] = "1"

import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

UNIVERSE = 5000


def code_of(i):
    return f"sz.{100000 + i:06d}"


def read_frames(store, count):
    """The bars of the first `count` instruments of the universe, one DataFrame each."""
    if not os.path.exists(store):
        sys.exit(f"{store} not found: run build/bin/bench_screen once to generate the universe")
    codes = [code_of(i) for i in range(count)]
    db = sqlite3.connect(f"file:{store}?mode=ro", uri=True)
    frames = {}
    for code in codes:
        rows = db.execute(
            "SELECT day, open, high, low, close, volume, amount FROM bars WHERE code = ? ORDER BY day", (code,)
        ).fetchall()
        if not rows:
            sys.exit(f"{store} has no bars for {code}: not the benchmark universe")
        a = np.array(rows, dtype=float)
        frames[code] = pd.DataFrame(
            a[:, 1:],
            columns=["open", "high", "low", "close", "volume", "amount"],
            index=pd.to_datetime(a[:, 0], unit="D"),
        )
    db.close()
    return frames


def wilder(series, period):
    return series.ewm(alpha=1.0 / period, adjust=False).mean()


def rsi(close, period):
    change = close.diff()
    gain = wilder(change.clip(lower=0), period)
    loss = wilder(-change.clip(upper=0), period)
    return 100 - 100 / (1 + gain / loss)


def stock_status(df, with_kdj):
    df = df.copy()  # the status works on a copy, as the C++ one does
    close, high, low, volume = df["close"], df["high"], df["low"], df["volume"]

    ema12 = close.ewm(span=12, adjust=False).mean()
    ema26 = close.ewm(span=26, adjust=False).mean()
    df["MACD"] = ema12 - ema26
    df["MACD_signal"] = df["MACD"].ewm(span=9, adjust=False).mean()
    df["MACD_hist"] = df["MACD"] - df["MACD_signal"]

    df["RSI"] = rsi(close, 12)
    for p in (6, 12, 24):
        df[f"RSI_{p}"] = rsi(close, p)

    mid = close.rolling(20).mean()
    std = close.rolling(20).std(ddof=0)
    df["upper_band"], df["middle_band"], df["lower_band"] = mid + 2 * std, mid, mid - 2 * std

    df["Volume_MA"] = volume.rolling(5).mean()
    df["Volume_Ratio"] = volume / volume.rolling(5).mean().shift(1)
    prev_close = close.shift(1)
    true_range = pd.concat([high - low, (high - prev_close).abs(), (low - prev_close).abs()], axis=1).max(axis=1)
    df["ATR"] = wilder(true_range, 14)
    df["Volatility"] = close.pct_change().rolling(20).std() * 100

    for span in (5, 10, 20, 60, 120):
        df[f"EMA_{span}"] = close.ewm(span=span, adjust=False).mean()

    if with_kdj:
        hh = high.rolling(9, min_periods=1).max()
        ll = low.rolling(9, min_periods=1).min()
        rsv = ((close - ll) / (hh - ll) * 100).where(hh > ll, 50.0)
        df["K"] = rsv.ewm(alpha=1 / 3, adjust=False).mean()
        df["D"] = df["K"].ewm(alpha=1 / 3, adjust=False).mean()
        df["J"] = 3 * df["K"] - 2 * df["D"]

    last = df.iloc[-1]
    columns = ["MACD", "MACD_signal", "MACD_hist", "RSI", "upper_band", "middle_band", "lower_band", "Volume_MA",
               "Volume_Ratio", "ATR", "Volatility", "close"]
    if with_kdj:
        columns += ["K", "D", "J"]
    return {c: float(last[c]) for c in columns}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--store", default=os.environ.get("QUORVEL_BENCH_STORE", "bench-universe.sqlite"))
    parser.add_argument("--instruments", type=int, default=500, help="instruments of the universe to use (<= 5000)")
    parser.add_argument("--repeat", type=int, default=3, help="passes over them; the fastest counts")
    parser.add_argument("--with-kdj", action="store_true", help="also compute KDJ 9/3/3")
    args = parser.parse_args()
    count = max(1, min(args.instruments, UNIVERSE))

    started = time.perf_counter()
    frames = read_frames(args.store, count)
    read_s = time.perf_counter() - started
    rows = sum(len(f) for f in frames.values())

    best = float("inf")
    for _ in range(max(1, args.repeat)):
        started = time.perf_counter()
        for df in frames.values():
            stock_status(df, args.with_kdj)
        best = min(best, time.perf_counter() - started)

    print(f"pandas {pd.__version__}, numpy {np.__version__}, python {sys.version.split()[0]}")
    kdj = "yes" if args.with_kdj else "no"
    print(f"instruments={count} bars={rows} kdj={kdj} (store read {read_s:.2f} s, not counted)")
    print(f"status_us_per_instrument={best / count * 1e6:.0f}")
    print(f"instruments_per_s_per_core={count / best:.0f}")


if __name__ == "__main__":
    main()
