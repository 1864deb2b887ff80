// The detector bank as the data pump runs it: reset, loading sections 0-2 from the detector coefficient sets
// of parameter memory, and the per-block run with the register-57 report.
#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/detector_reports.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"

namespace {

// A coefficient set holds 15 words: ten stage coefficients, the energy gain, the leak, the result bits in the
// high byte, and the on and off thresholds in sixteenths.
void LoadSection(DetectorBank* bank, int32_t i, const DetectorCoefficientSet& set)
{
    uint16_t w[15];
    for (int k = 0; k < 7; ++k) {
        w[k] = set.first[k];
        w[7 + k] = set.second[k];
    }
    w[14] = set.trigger;
    SectionConfig c{};
    for (int k = 0; k < 10; ++k)
        c.coefficient[k / 5][k % 5] = static_cast<int16_t>(w[k]);
    c.gain = static_cast<int16_t>(w[10]);
    c.leak = static_cast<int16_t>(w[11]);
    c.bits = static_cast<int16_t>(w[12] >> 8);
    c.onThreshold = static_cast<int16_t>(w[13] >> 4);
    c.offThreshold = static_cast<int16_t>(w[14] >> 4);
    c.chainSource = -1;
    c.square = 0;
    ConfigureSection(bank, i, c);
}

}  // namespace

// The bank's result starts again from 0, and so does register 57: the register is written only when the
// result changes, so a value left standing from before the reset would be read as a detector still on.
void ResetDetectorBank(DspContext* ctx)
{
    ResetBank(&ctx->detector.bank);
    ctx->parameters.reloadRequests = 0;
    InitDetectorState(ctx);
    if (ctx->interfaceBlock != nullptr)
        SetRegister(ctx->interfaceBlock, kRegDetector, 0);
}

void RequestSectionReload(DspContext* ctx, int32_t set)
{
    if (set >= 0 && set < kDetectorCoefficientSets)
        ctx->parameters.reloadRequests |= 1u << set;
}

// The full reset's fixed value of section 7: its energy gain.
void SetDetectorSectionLevel(DspContext* ctx, int32_t section, int32_t level)
{
    if (section >= 0 && section < kDetectorSections)
        ctx->detector.bank.section[section].gain = static_cast<int16_t>(level);
}

void RunDetectorBank(DspContext* ctx, const int32_t* x, int32_t n, int32_t talkOff)
{
    DetectorBank* bank = &ctx->detector.bank;
    for (int32_t s = 0; s < kDetectorCoefficientSets; ++s) {
        if (ctx->parameters.reloadRequests & (1u << s)) {
            ctx->parameters.reloadRequests &= ~(1u << s);
            LoadSection(bank, s, ctx->parameters.detectorSet[s]);
        }
    }
    SetTalkOff(bank, talkOff);
    bank->previousResult = bank->result;
    bank->result = RunBankSamples(bank, x, n);
    if (bank->result != bank->previousResult) {
        DspInterfaceBlock* block = ctx->interfaceBlock;
        SetRegister(block, kRegProgress, 0);
        SetRegister(block, kRegDetector, static_cast<uint8_t>(bank->result));
        NotifyController(block);
    }
}
