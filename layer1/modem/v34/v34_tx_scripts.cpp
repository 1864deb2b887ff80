// The four transmit scripts (counts in symbols) and the block fill that ticks them.
#include <initializer_list>

#include "layer1/modem/v34/v34_tx_steps.h"

namespace {

// Time-out instances by their place in TxTimeoutStep.
enum : int32_t { kT6_800, kT6_3000, kT4_200, kT7_2800_3, kT7_3200, kT3_800, kT7_2800_2, kTKept_2800 };

#define V34_S_AND_SBAR {{TxSFirst}, 1}, {{TxSNext}, 127}, {{TxSBarFirst}, 1}, {{TxSNext}, 15}
#define V34_MP_TO_DATA                                                                                    \
    {{TxMpFirst}, 1}, {{TxMp}, -1}, {{TxMpPrimeFirst}, 1}, {{TxMp}, -1}, {{TxEFirst}, 1}, {{TxE}, 5},      \
        {{TxE}, 4}, {{TxDataStart}, 1}, {{TxDataFirstFrame}, -1}, {{TxData}, -1}

const StepEntry kCallerScript[] = {
    {{nullptr}, 1},  // TxTimeout (7, 3200, 2), set in TimeoutsFilled
    {{TxZeroSymbol}, -1},
    V34_S_AND_SBAR,
    {{TxEchoTrainingStart}, 1}, {{TxEchoTraining}, -1},
    V34_S_AND_SBAR,
    {{TxPpFirst}, 1}, {{TxPpNext}, 287},
    {{TxTrnFirst}, 1}, {{TxTrn}, 511}, {{TxTrn}, -1},
    {{nullptr}, 1},  // TxTimeout (3, 800, 1)
    {{TxJFirst}, 1}, {{TxJ}, -1},
    {{TxJPrimeFirst}, 1}, {{TxJPrime}, 7},
    {{nullptr}, 1},  // TxTimeout (7, 2800, 2)
    {{TxTrnFirst}, 1}, {{TxTrn}, 511}, {{TxTrn}, -1},
    V34_MP_TO_DATA,
    kStepEnd,
};

const StepEntry kAnswererScript[] = {
    {{TxZeroSymbol}, 161},
    V34_S_AND_SBAR,
    {{TxEchoTrainingStart}, 1}, {{TxEchoTraining}, -1},
    V34_S_AND_SBAR,
    {{TxPpFirst}, 1}, {{TxPpNext}, 287},
    {{TxTrnFirst}, 1}, {{TxTrn}, 511}, {{TxTrn}, -1},
    {{nullptr}, 1},  // TxTimeout (6, 800, 1)
    {{TxJFirst}, 1}, {{TxJ}, -1},
    {{nullptr}, 1},  // TxTimeout (6, 3000, 2)
    {{TxZeroSymbol}, -1},
    {{TxSFirst}, 1}, {{TxSNext}, 127},
    {{nullptr}, 1},  // TxTimeout (4, 200, 1)
    {{TxSBarFirst}, 1}, {{TxSNext}, 15},
    {{nullptr}, 1},  // TxTimeout (7, 2800, 3)
    {{TxTrnFirst}, 1}, {{TxTrn}, 511}, {{TxTrn}, -1},
    V34_MP_TO_DATA,
    kStepEnd,
};

const StepEntry kRenegotiationScript[] = {
    {{nullptr}, 1},  // TxTimeout (code kept, 2800, 3)
    V34_S_AND_SBAR,
    {{TxTrnFirst}, 1}, {{TxTrn}, -1},
    V34_MP_TO_DATA,
    kStepEnd,
};

const StepEntry kPresetScript[] = {
    {{TxZeroSymbol}, 1}, {{TxZeroSymbol}, 1}, {{TxZeroSymbol}, 1}, {{TxZeroSymbol}, 1}, {{TxZeroSymbol}, 1},
    {{TxZeroSymbol}, 999},
    V34_S_AND_SBAR,
    {{TxPpFirst}, 1}, {{TxPpNext}, 287},
    {{TxTrnFirst}, 1}, {{TxTrn}, 511},
    {{TxJFirst}, 1}, {{TxJ}, 1000},
    {{TxJPrimeFirst}, 1}, {{TxJPrime}, 7},
    {{TxTrnFirst}, 1}, {{TxTrn}, 511}, {{TxTrn}, -1},
    V34_MP_TO_DATA,
    kStepEnd,
};

#undef V34_S_AND_SBAR
#undef V34_MP_TO_DATA

// The time-out setters are template instances; the tables above hold their places, filled here once.
struct Scripts {
    StepEntry caller[sizeof kCallerScript / sizeof(StepEntry)];
    StepEntry answerer[sizeof kAnswererScript / sizeof(StepEntry)];
    StepEntry renegotiation[sizeof kRenegotiationScript / sizeof(StepEntry)];
    StepEntry preset[sizeof kPresetScript / sizeof(StepEntry)];
    Scripts()
    {
        Copy(kCallerScript, caller, {kT7_3200, kT3_800, kT7_2800_2});
        Copy(kAnswererScript, answerer, {kT6_800, kT6_3000, kT4_200, kT7_2800_3});
        Copy(kRenegotiationScript, renegotiation, {kTKept_2800});
        Copy(kPresetScript, preset, {});
    }
    template <size_t N>
    static void Copy(const StepEntry (&from)[N], StepEntry (&to)[N], std::initializer_list<int32_t> timeouts)
    {
        auto next = timeouts.begin();
        for (size_t i = 0; i < N; ++i) {
            to[i] = from[i];
            if (from[i].handler == nullptr && from[i].count == 1 && next != timeouts.end())
                to[i].handler = TxTimeoutStep(*next++);
        }
    }
};

const Scripts& AllScripts()
{
    static const Scripts scripts;
    return scripts;
}

}  // namespace

const StepEntry* V34TransmitScript(int32_t script)
{
    const Scripts& s = AllScripts();
    switch (script) {
    case kV34ScriptAnswerer: return s.answerer;
    case kV34ScriptRenegotiation: return s.renegotiation;
    case kV34ScriptPreset: return s.preset;
    default: return s.caller;
    }
}

void StartV34TransmitScript(V34Pump* pump, int32_t script)
{
    V34Transmitter& t = pump->tx;
    t.zeroCountSet = 0;
    if (script == kV34ScriptRenegotiation)
        t.fourPoint = 1;  // a renegotiation runs four-point both ways
    ControlSequencer(&t.sequencer, SEQ_START_AT, V34TransmitScript(script), 0);
}

void FillV34TransmitBlock(V34Pump* pump)
{
    V34Transmitter& t = pump->tx;
    t.count = 0;
    // Time-out setters append nothing; an ended script appends nothing at all and the block is filled with 0.
    for (int ticks = 0; t.count < kV34BlockSymbols && ticks < 4 * kV34BlockSymbols; ++ticks)
        RunStep(pump, &t.sequencer);
    while (t.count < kV34BlockSymbols)
        t.symbols[t.count++] = 0;
}
