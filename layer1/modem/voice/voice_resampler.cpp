// The voice resampler: set-up rows, the low-pass tables and the block run.
#include "layer1/modem/voice/voice_resampler.h"

#include <cmath>
#include <cstring>

#include "layer1/vek/core/vek_dispatch.h"

namespace {

constexpr int kMaxTaps = 128;

constexpr ResamplerRow kRows[] = {
    {RESAMPLE_72, 10, 9, 96, 106, 128},   {RESAMPLE_102, 7, 9, 96, 74, 128},
    {RESAMPLE_4880, 5, 3, 48, 80, 128},   {RESAMPLE_4896, 2, 1, 48, 96, 64},
    {RESAMPLE_7280, 10, 9, 72, 80, 128},  {RESAMPLE_7296, 4, 3, 72, 96, 64},
    {RESAMPLE_8048, 3, 5, 80, 48, 128},   {RESAMPLE_8072, 9, 10, 80, 72, 128},
    {RESAMPLE_8096, 6, 5, 80, 96, 64},    {RESAMPLE_9680, 5, 6, 96, 80, 64},
    {RESAMPLE_11080, 8, 11, 110, 80, 128}, {RESAMPLE_11096, 7, 8, 110, 96, 128},
    {RESAMPLE_80110, 11, 8, 80, 110, 128}, {RESAMPLE_96110, 8, 7, 96, 110, 128},
};
constexpr ResamplerRow kDefaultRow{-1, 5, 6, 96, 80, 64};

// Adds a branch's rounding residue at its tap nearest the middle; a branch that is its own mirror image
// shares it between that tap and its mirror, so the table stays symmetric.
void SettleBranch(int32_t* taps, int32_t n, int32_t up, int32_t branch)
{
    int64_t sum = 0;
    int32_t best = branch;
    for (int32_t i = branch; i < n; i += up) {
        sum += taps[i];
        if (std::abs(2 * i - (n - 1)) < std::abs(2 * best - (n - 1)))
            best = i;
    }
    const int32_t residue = static_cast<int32_t>(32768 - sum);
    const int32_t mirror = n - 1 - best;
    if (mirror != best && mirror % up == branch) {
        taps[best] += residue / 2;
        taps[mirror] += residue / 2;
    } else {
        taps[best] += residue;
    }
}

}  // namespace

ResamplerRow ResamplerRowOf(int32_t code)
{
    for (const ResamplerRow& row : kRows) {
        if (row.code == code)
            return row;
    }
    ResamplerRow row = kDefaultRow;
    row.code = code;
    return row;
}

void ResamplerTaps(const ResamplerRow& row, int32_t* out)
{
    const int32_t n = row.taps;
    const int32_t up = row.up;
    const double cutoff = 1.0 / (2.0 * (row.up > row.down ? row.up : row.down));  // of the up-sampled rate
    const double pi = 3.14159265358979323846;
    double h[kMaxTaps];
    for (int32_t i = 0; i < n; ++i) {
        const double t = i - (n - 1) / 2.0;
        const double sinc = 2.0 * cutoff * (t == 0.0 ? 1.0 : std::sin(2.0 * pi * cutoff * t) / (2.0 * pi * cutoff * t));
        const double window = 0.54 - 0.46 * std::cos(2.0 * pi * i / (n - 1));
        h[i] = sinc * window;
    }
    for (int32_t branch = 0; branch < up; ++branch) {
        double sum = 0.0;
        for (int32_t i = branch; i < n; i += up)
            sum += h[i];
        for (int32_t i = branch; i < n; i += up)
            out[i] = static_cast<int32_t>(std::lround(h[i] * 32768.0 / sum));
    }
    for (int32_t branch = 0; branch < up; ++branch)
        SettleBranch(out, n, up, branch);
}

int32_t SetupResampler(VoiceResampler* r, int32_t code)
{
    std::memset(r->upsampled, 0, sizeof(r->upsampled));
    std::memset(r->filtered, 0, sizeof(r->filtered));
    r->phase = 0;
    const ResamplerRow row = ResamplerRowOf(code);
    r->up = row.up;
    r->down = row.down;
    r->inputCount = row.inputCount;
    r->outputCount = row.outputCount;
    if (r->filter != nullptr && code == r->code)
        return 0;
    FreeResampler(r);
    int32_t taps[kMaxTaps];
    ResamplerTaps(row, taps);
    const int32_t status = vek_fir_init_real(&r->filter, taps, row.taps, 0, nullptr);
    if (status != 0) {
        r->filter = nullptr;
        return status;
    }
    r->code = code;
    return 0;
}

int32_t RunResampler(VoiceResampler* r, const int16_t* source, int16_t* destination, int32_t* phase, int32_t sf)
{
    int32_t upCount = 0;
    int32_t upPhase = 0;
    int32_t status = vek_upsample_16(source, r->inputCount, r->upsampled, &upCount, r->up, &upPhase);
    if (status == 0)
        status = vek_fir_block_real(r->upsampled, r->filtered, upCount, r->filter, sf + 15);
    int32_t made = 0;
    if (status == 0)
        status = vek_downsample_16(r->filtered, upCount, destination, &made, r->down, phase);
    r->outputCount = status == 0 ? made : 0;
    return status;
}

void FreeResampler(VoiceResampler* r)
{
    if (r->filter != nullptr)
        vek_fir_free_real(r->filter);
    r->filter = nullptr;
    r->code = 0;
}
