// Silent blocks through recursive stages. A line in silence settles the detectors' integer filters to a fixed
// state or to a short limit cycle (a notch whose output rounds to -1, -3, ... and back every 8 samples). A
// stage runs the first kSilentPeriod samples of a block of zeros as usual; when its state has come back to
// where it started, every further period repeats the first exactly (the same input from the same state), so
// the rest of the block is a copy of the first period's outputs and the state stays. Otherwise the stage goes
// on with the rest of the block as usual: the result is the same either way.
#pragma once

#include <cstdint>
#include <cstring>

// Recognises cycles of 1, 2, 3, 4, 6, 8, 12 and 24 samples in blocks of a multiple of 24 (96 at 9600 Hz).
constexpr int32_t kSilentPeriod = 24;

// Whether n samples are zero and span more than one whole number of periods.
template <class T>
inline bool SilentBlock(const T* x, int32_t n)
{
    if (n <= kSilentPeriod || n % kSilentPeriod != 0)
        return false;
    T any = 0;
    for (int32_t i = 0; i < n; ++i)
        any |= x[i];
    return any == 0;
}

// A byte copy of a stage's state before its first period.
template <class State>
struct StateBefore {
    State saved;
    explicit StateBefore(const State& state) { std::memcpy(&saved, &state, sizeof(State)); }
    bool CameBack(const State& state) const { return std::memcmp(&saved, &state, sizeof(State)) == 0; }
};

// The outputs of the first period repeated over the rest of the n.
template <class T>
inline void RepeatFirstPeriod(T* out, int32_t n)
{
    for (int32_t i = kSilentPeriod; i < n; ++i)
        out[i] = out[i - kSilentPeriod];
}
