#pragma once
// The decimals an instrument's prices are quoted in, read off its bars. Pure; thread-safe.
#include "contracts/bar_table.h"

namespace quorvel {

// The fewest of 2, 3 or 4 decimals that write every finite open/high/low/close of the rows exactly,
// allowing for single-precision noise in the source (383.3999938964844 counts as 383.4); 4 when
// none does, 2 for a table without prices.
int price_decimals(const tarnel::BarTable& rows);

}  // namespace quorvel
