// The call-progress signals of a country block in the form the simulated exchange takes.
#pragma once

#include "layer2/corecode/cmd/country_block.h"
#include "line/exchange_tones.h"

namespace linetest {

ExchangeCountry ExchangeCountryOf(const CountryBlock& block);
// The built-in block of a country by its three-letter code (the first block when none has it).
const CountryBlock& BuiltinCountryBlock(const char* iso);

}  // namespace linetest
