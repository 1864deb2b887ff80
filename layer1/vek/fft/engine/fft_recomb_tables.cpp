// Recombination tables of real records, from the quarter-wave sine table of the record's order:
// forward A = cos/2, B = 1/2 - sin/2; inverse C = cos, D = -sin. Pairs per bin 0..N/4-1 (gen, mm) or
// blocks of four bins 1..N/4 (ss, wd).
#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/engine/fft_engine.h"

namespace {

float* recomb_table(std::int32_t order, const float* sine, bool inverse, bool blocks)
{
    const std::int64_t n = std::int64_t{1} << order;
    const std::int64_t bytes = n / 2 * 4;
    if (bytes > INT32_MAX) {
        return nullptr;
    }
    auto* t = static_cast<float*>(vek_alloc_8(static_cast<std::int32_t>(bytes)));
    if (t == nullptr) {
        return nullptr;
    }
    const std::int64_t q = n / 4;
    auto values = [&](std::int64_t k, float& x, float& y) {
        const float c = sine[q - k];
        const float s = sine[k];
        if (inverse) {
            x = c;
            y = -s;
        } else {
            x = 0.5f * c;
            y = 0.5f - 0.5f * s;
        }
    };
    if (blocks) {
        for (std::int64_t k = 1; k <= q; ++k) {
            const std::int64_t m = (k - 1) / 4;
            const std::int64_t l = (k - 1) % 4;
            values(k, t[8 * m + l], t[8 * m + 4 + l]);
        }
    } else {
        for (std::int64_t k = 0; k < q; ++k) {
            values(k, t[2 * k], t[2 * k + 1]);
        }
    }
    return t;
}

}  // namespace

float* vek_k_fft_real_recomb_table_fwd_gen(std::int32_t o, const float* s) { return recomb_table(o, s, false, false); }
float* vek_k_fft_real_recomb_table_inv_gen(std::int32_t o, const float* s) { return recomb_table(o, s, true, false); }
float* vek_k_fft_real_recomb_table_fwd_mm(std::int32_t o, const float* s) { return recomb_table(o, s, false, false); }
float* vek_k_fft_real_recomb_table_inv_mm(std::int32_t o, const float* s) { return recomb_table(o, s, true, false); }
float* vek_k_fft_real_recomb_table_fwd_ss(std::int32_t o, const float* s) { return recomb_table(o, s, false, true); }
float* vek_k_fft_real_recomb_table_inv_ss(std::int32_t o, const float* s) { return recomb_table(o, s, true, true); }
float* vek_k_fft_real_recomb_table_fwd_wd(std::int32_t o, const float* s) { return recomb_table(o, s, false, true); }
float* vek_k_fft_real_recomb_table_inv_wd(std::int32_t o, const float* s) { return recomb_table(o, s, true, true); }

// One multiplication per float, rounded to single: the x87 product of two floats is exact, so both kernels
// give the same values.
void vek_k_fft_scale_f32(float factor, float* data, std::int32_t n)
{
    for (std::int32_t i = 0; i < n; ++i) {
        data[i] = static_cast<float>(static_cast<long double>(data[i]) * factor);
    }
}

void vek_k_fft_scale_f32_wd(float factor, float* data, std::int32_t n)
{
    for (std::int32_t i = n - 1; i >= 0; --i) {
        data[i] = data[i] * factor;
    }
}
