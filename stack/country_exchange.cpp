#include "stack/country_exchange.h"

#include <algorithm>

namespace {

constexpr uint8_t kCwKindTone = 1;  // call-waiting pattern of tone bursts
constexpr uint16_t kCwBurstGapMs = 200;

}  // namespace

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
    // The call-waiting tone: bursts of the country's call-waiting pattern (the middle of each interval's
    // bounds) 200 ms apart, at the ringback tone's frequency and level.
    for (unsigned k = 0; k < cb_cw_count(block); ++k) {
        CountryCwPattern p{};
        if (!cb_cw_pattern(block, k, &p) || p.kind != kCwKindTone || p.count == 0)
            continue;
        ExchangeSignal& w = c.callWaiting;
        w.f1 = c.signal[EXS_RINGBACK].f1;
        w.level = c.signal[EXS_RINGBACK].level;
        w.pairs = p.count;
        for (unsigned j = 0; j < p.count; ++j) {
            w.onMs[j] = static_cast<uint16_t>((p.min_ms[j] + p.max_ms[j]) / 2);
            w.offMs[j] = kCwBurstGapMs;
        }
        break;
    }
    // A hook flash as long as the longest of every profile's flash methods.
    for (unsigned k = 0; k < cb_profile_count(block); ++k) {
        CountryLineProfile p{};
        if (!cb_line_profile(block, k, &p))
            continue;
        for (uint16_t ms : p.flash_ms)
            c.flashMaxMs = std::max(c.flashMaxMs, ms);
    }
    return c;
}
