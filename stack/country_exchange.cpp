#include "stack/country_exchange.h"

static_assert(static_cast<int>(CS_DIAL_TONE) == EXS_DIAL_TONE && static_cast<int>(CS_BUSY) == EXS_BUSY &&
              static_cast<int>(CS_CONGESTION) == EXS_CONGESTION && static_cast<int>(CS_RINGBACK) == EXS_RINGBACK &&
              static_cast<int>(CS_RINGING) == EXS_RINGING);

ExchangeCountry country_exchange_signals(const CountryBlock& block)
{
    ExchangeCountry c;
    for (int k = 0; k < EXS_COUNT; ++k) {
        CountrySignal s{};
        if (!cb_signal(block, static_cast<CountrySignalKind>(k), &s))
            continue;
        ExchangeSignal& e = c.signal[k];
        e.f1 = s.f1;
        e.f2 = s.f2;
        e.modulated = s.modulated != 0;
        e.level = s.level;
        e.pairs = s.pairs;
        for (int j = 0; j < 4; ++j) {
            e.onMs[j] = s.on_ms[j];
            e.offMs[j] = s.off_ms[j];
        }
    }
    return c;
}
