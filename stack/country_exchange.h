// The call-progress and ringing signals of a country block in the record the simulated exchange of the line
// takes (the host and the tests hand the selected country to the exchange this way).
#pragma once

#include "layer2/corecode/cmd/country_block.h"
#include "line/exchange_tones.h"

ExchangeCountry country_exchange_signals(const CountryBlock& block);
