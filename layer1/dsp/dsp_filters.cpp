// The library objects of the pumps: made once, at the first reset, and freed at removal.
#include <cstring>

#include "layer1/dsp/dsp_context.h"
#include "layer1/modem/voice/voice_mode.h"
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/core/vek_select.h"

namespace {

constexpr int kLongTaps = 48;
constexpr int kShortTaps = 16;


FirState* MakeFir(const int32_t* taps, int32_t n)
{
    FirState* s = nullptr;
    if (vek_fir_init_real(&s, taps, n, 0, nullptr) != 0)
        return nullptr;
    return s;
}

LmsState* MakeComplexLms(int32_t taps, int32_t step, int32_t updateDelay)
{
    LmsState* s = nullptr;
    if (vek_lms_init_complex(&s, nullptr, taps, nullptr, 0, step, updateDelay, 0) != 0)
        return nullptr;
    return s;
}

}  // namespace

void CreateDspFilters(DspContext* ctx)
{
    DspFilters& f = ctx->filters;
    vek_init();
    // The V.34 receiver's two rail filters from one table; made here so that no allocation happens while a
    // connection runs.
    int32_t wide[kLongTaps];
    V34RailFilterTaps(wide);
    f.fir48[0] = MakeFir(wide, kLongTaps);
    f.fir48[1] = MakeFir(wide, kLongTaps);
    f.lms72 = MakeComplexLms(72, 2, 6);
    f.lms120 = MakeComplexLms(120, 1, 3);
    f.lmsReal60 = nullptr;
    vek_lms_init_real(&f.lmsReal60, nullptr, 60, nullptr, 0, 1, 2, 0);
    for (auto& group : f.lms48) {
        for (LmsState*& s : group)
            s = MakeComplexLms(48, 1, 1);
    }
    CreatePcmObjects(ctx);
    CreateV32Objects(ctx);
    // The V.34 modulator's branches: the pulse prototype's first phase, its reversal (the third phase) and
    // the middle phase, one filter per rail each.
    int32_t shortA[kShortTaps];
    int32_t shortReversed[kShortTaps];
    int32_t shortB[kShortTaps];
    V34PulseBranch(0, shortA);
    for (int i = 0; i < kShortTaps; ++i)
        shortReversed[i] = shortA[kShortTaps - 1 - i];
    V34PulseBranch(1, shortB);
    f.fir16[0] = MakeFir(shortA, kShortTaps);
    f.fir16[1] = MakeFir(shortA, kShortTaps);
    f.fir16[2] = MakeFir(shortReversed, kShortTaps);
    f.fir16[3] = MakeFir(shortReversed, kShortTaps);
    f.fir16[4] = MakeFir(shortB, kShortTaps);
    f.fir16[5] = MakeFir(shortB, kShortTaps);
    CreateV34Objects(ctx);
    CreatePcmRateFilter(ctx);
    ctx->command.filtersCreated = 1;
}

void DestroyDspFilters(DspContext* ctx)
{
    DspFilters& f = ctx->filters;
    DestroyV32Objects(ctx);
    FreeV34Objects(ctx);
    for (FirState*& s : f.fir48) {
        if (s != nullptr)
            vek_fir_free_real(s);
        s = nullptr;
    }
    for (LmsState** s : {&f.lms72, &f.lms120}) {
        if (*s != nullptr)
            vek_lms_free_complex(*s);
        *s = nullptr;
    }
    if (f.lmsReal60 != nullptr)
        vek_lms_free(f.lmsReal60);
    f.lmsReal60 = nullptr;
    for (auto& group : f.lms48) {
        for (LmsState*& s : group) {
            if (s != nullptr)
                vek_lms_free_complex(s);
            s = nullptr;
        }
    }
    for (FirState*& s : f.fir16) {
        if (s != nullptr)
            vek_fir_free_real(s);
        s = nullptr;
    }
    FreePcmObjects(ctx);
    FreePcmRateFilter(ctx);
    FreeVoiceResamplers(ctx);
    ctx->command.filtersCreated = 0;
}
