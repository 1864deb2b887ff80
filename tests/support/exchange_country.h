// Country blocks for the exchange tests: a built-in block by country, and (country_exchange_signals) its
// signals in the exchange's record.
#pragma once

#include "layer2/corecode/cmd/country_block.h"
#include "stack/country_exchange.h"

namespace linetest {

// The built-in block of a country by its three-letter code (the first block when none has it).
const CountryBlock& BuiltinCountryBlock(const char* iso);

}  // namespace linetest
