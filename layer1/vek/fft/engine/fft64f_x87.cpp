// The x87 double-precision radix-4 FFT: the passes of the gen and mm float columns (fft_radix.h) on doubles
// and an entry-layout table of doubles. Sums and products stay in extended precision; each value is rounded
// to double when stored. In place on bit-reversed data; N < 4 leaves the data as it is.
#include "layer1/vek/fft/engine/fft64f.h"
#include "layer1/vek/fft/engine/fft_radix.h"

namespace {

template <bool Inv, class D>
void passes(const D& data, std::int32_t n, const double* table)
{
    vekfft::radix4_all<long double, Inv>(data, n, vekfft::EntryTwiddlesOf<double>{table, n});
}

}  // namespace

void vek_k_fft64f_radix4_fwd_complex_ss(double* data, std::int32_t n, const double* t)
{
    passes<false>(vekfft::InterleavedOf<double>{data}, n, t);
}
void vek_k_fft64f_radix4_inv_complex_ss(double* data, std::int32_t n, const double* t)
{
    passes<true>(vekfft::InterleavedOf<double>{data}, n, t);
}
void vek_k_fft64f_radix4_fwd_split_ss(double* re, double* im, std::int32_t n, const double* t)
{
    passes<false>(vekfft::SplitOf<double>{re, im}, n, t);
}
void vek_k_fft64f_radix4_inv_split_ss(double* re, double* im, std::int32_t n, const double* t)
{
    passes<true>(vekfft::SplitOf<double>{re, im}, n, t);
}
