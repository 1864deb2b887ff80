// The library objects of the pumps: made once, at the first reset, and freed at removal.
#include <cstring>

#include "layer1/dsp/dsp_context.h"
#include "layer1/modem/voice/voice_mode.h"
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/core/vek_select.h"

namespace {

constexpr int kLongTaps = 48;
constexpr int kShortTaps = 16;

// Coefficient tables of the V.34 pump's filters. They are loaded with the pump's own coefficients when it
// starts; the objects are made here so that no allocation happens while a connection runs.
constexpr int16_t kLongTable[kLongTaps] = {};
constexpr int16_t kShortTableA[kShortTaps] = {};
constexpr int16_t kShortTableB[kShortTaps] = {};

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

void Widen(const int16_t* in, int32_t* out, int n)
{
    for (int i = 0; i < n; ++i)
        out[i] = in[i];
}

}  // namespace

void CreateDspFilters(DspContext* ctx)
{
    DspFilters& f = ctx->filters;
    vek_init();
    int32_t wide[kLongTaps];
    Widen(kLongTable, wide, kLongTaps);
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
    int32_t shortA[kShortTaps];
    int32_t shortReversed[kShortTaps];
    int32_t shortB[kShortTaps];
    Widen(kShortTableA, shortA, kShortTaps);
    for (int i = 0; i < kShortTaps; ++i)
        shortReversed[i] = shortA[kShortTaps - 1 - i];
    Widen(kShortTableB, shortB, kShortTaps);
    f.fir16[0] = MakeFir(shortA, kShortTaps);
    f.fir16[1] = MakeFir(shortA, kShortTaps);
    f.fir16[2] = MakeFir(shortReversed, kShortTaps);
    f.fir16[3] = MakeFir(shortReversed, kShortTaps);
    f.fir16[4] = MakeFir(shortB, kShortTaps);
    f.fir16[5] = MakeFir(shortB, kShortTaps);
    CreatePcmRateFilter(ctx);
    ctx->command.filtersCreated = 1;
}

void DestroyDspFilters(DspContext* ctx)
{
    DspFilters& f = ctx->filters;
    DestroyV32Objects(ctx);
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
