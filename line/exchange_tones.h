// The signals an exchange sends down a subscriber line: call-progress tones (dial tone, busy, congestion,
// ringback) and the ringing signal, each with its cadence. The values come from the selected country's
// description; the host or the test copies them into an ExchangeCountry, so the line needs nothing of the
// controller's settings.
#pragma once

#include <cstddef>
#include <cstdint>

enum ExchangeSignalKind : int {
    EXS_DIAL_TONE = 0,
    EXS_BUSY = 1,
    EXS_CONGESTION = 2,
    EXS_RINGBACK = 3,
    EXS_RINGING = 4,  // f1 is the ringing frequency
    EXS_COUNT = 5,
};

struct ExchangeSignal {
    uint16_t f1 = 0;         // Hz
    uint16_t f2 = 0;         // Hz, 0: a single frequency
    bool modulated = false;  // f1 amplitude-modulated by f2 instead of the two added
    uint8_t level = 0;       // dB below 0 dBm0, per frequency
    uint8_t pairs = 0;       // on/off pairs of the cadence, 0: continuous
    uint16_t onMs[4] = {};
    uint16_t offMs[4] = {};
};

struct ExchangeCountry {
    ExchangeSignal signal[EXS_COUNT];
    ExchangeSignal callWaiting;  // the tone that announces a second caller (f1 0: none)
    uint16_t flashMaxMs = 0;     // the longest hook flash the country's subscribers make (0: none)
};

// Plays one signal from its start, sample by sample at 8000 Hz, continuing across frames.
struct ExchangeTonePlayer {
    const ExchangeSignal* signal = nullptr;  // null: silence
    uint64_t sample = 0;                      // samples since the signal started
};

void ExchangeToneStart(ExchangeTonePlayer* player, const ExchangeSignal* signal);
void ExchangeToneRender(ExchangeTonePlayer* player, int16_t* out, size_t n);
// Whether the cadence is in an on period at sample s of the signal (true throughout for a continuous one).
bool ExchangeSignalOnAt(const ExchangeSignal& signal, uint64_t s);
// Length of one cadence cycle in samples (0 for a continuous signal).
uint64_t ExchangeSignalCycle(const ExchangeSignal& signal);
