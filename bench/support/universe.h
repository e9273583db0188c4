#pragma once
// The benchmark universe: 5,000 instruments x 500 daily bars in a local store, generated once from
// the statistics of the bundled real bars (daily returns, intraday ranges and volumes resampled
// from real A-share stocks and ETFs) and kept in $QUORVEL_BENCH_STORE (default:
// bench-universe.sqlite in the working directory).
#include <filesystem>
#include <string>

namespace quorvel::bench {

inline constexpr int INSTRUMENTS = 5000;
inline constexpr int BARS = 500;

// Code of the i-th instrument of the universe.
std::string code_of(int i);

// The store file, generated first when missing or incomplete.
std::filesystem::path universe_store();

}  // namespace quorvel::bench
