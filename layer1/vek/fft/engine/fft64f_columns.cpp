// Column gather and scatter of a double-precision level (the pattern of the float large orders): four
// columns k0..k0+3 at a time. The gather multiplies every row's four points by the row's level twiddles and
// leaves each column contiguous in the work buffer as interleaved points; the scatter reads the columns in
// the paired layout the SSE2 column transforms leave (layout flag 0) and writes two rows a step. A vector
// holds the real (or imaginary) parts of two columns, so one multiply serves two columns of a row.
#include <emmintrin.h>

#include <cstdint>

#include "layer1/vek/fft/engine/fft64f.h"

namespace {

// (re + i*im) times (a + i*b), or times a - i*b unless direction is 1; two columns per vector.
inline void multiply(__m128d re, __m128d im, __m128d a, __m128d b, bool forward, __m128d& outRe, __m128d& outIm)
{
    if (forward) {
        outRe = _mm_sub_pd(_mm_mul_pd(re, a), _mm_mul_pd(im, b));
        outIm = _mm_add_pd(_mm_mul_pd(im, a), _mm_mul_pd(re, b));
    } else {
        outRe = _mm_add_pd(_mm_mul_pd(re, a), _mm_mul_pd(im, b));
        outIm = _mm_sub_pd(_mm_mul_pd(im, a), _mm_mul_pd(re, b));
    }
}

// Columns 2h and 2h+1 of row j, given as real and imaginary vectors, into the interleaved work columns.
inline void gather_two(double* work, std::int64_t rows, std::int64_t j, int h, __m128d re, __m128d im,
                       const double* row, bool forward)
{
    __m128d r, m;
    multiply(re, im, _mm_load_pd(row + 4 * h), _mm_load_pd(row + 4 * h + 2), forward, r, m);
    _mm_store_pd(work + 2 * (2 * h * rows + j), _mm_unpacklo_pd(r, m));
    _mm_store_pd(work + 2 * ((2 * h + 1) * rows + j), _mm_unpackhi_pd(r, m));
}

}  // namespace

void vek_k_fft64f_gather_columns_complex_wd(const double* data, double* work, const double* rows,
                                            std::int32_t direction, std::int32_t c, std::int32_t r)
{
    const bool forward = direction == 1;
    for (std::int64_t j = 0; j < r; ++j) {
        const double* p = data + 2 * j * c;  // two paired blocks: columns k0, k0+1 then k0+2, k0+3
        for (int h = 0; h < 2; ++h) {
            gather_two(work, r, j, h, _mm_loadu_pd(p + 4 * h), _mm_loadu_pd(p + 4 * h + 2), rows + 8 * j, forward);
        }
    }
}

void vek_k_fft64f_gather_columns_split_wd(const double* re, const double* im, double* work, const double* rows,
                                          std::int32_t direction, std::int32_t c, std::int32_t r)
{
    const bool forward = direction == 1;
    for (std::int64_t j = 0; j < r; ++j) {
        for (int h = 0; h < 2; ++h) {
            gather_two(work, r, j, h, _mm_loadu_pd(re + j * c + 2 * h), _mm_loadu_pd(im + j * c + 2 * h),
                       rows + 8 * j, forward);
        }
    }
}

void vek_k_fft64f_scatter_columns_complex_wd(double* data, const double* work, std::int32_t c, std::int32_t r,
                                             std::int32_t layout)
{
    for (std::int64_t q = 0; q < r; q += 2) {
        double* row0 = data + 2 * q * c;
        double* row1 = data + 2 * (q + 1) * c;
        for (int h = 0; h < 2; ++h) {
            // Points q and q+1 of columns 2h and 2h+1.
            const double* b0 = work + 2 * (2 * h * r + q);
            const double* b1 = work + 2 * ((2 * h + 1) * r + q);
            const __m128d re0 = _mm_load_pd(b0), im0 = _mm_load_pd(b0 + 2);
            const __m128d re1 = _mm_load_pd(b1), im1 = _mm_load_pd(b1 + 2);
            // Row q: column 2h (re0[0], im0[0]), column 2h+1 (re1[0], im1[0]); row q+1 the high lanes.
            const __m128d rq = _mm_unpacklo_pd(re0, re1), iq = _mm_unpacklo_pd(im0, im1);
            const __m128d rq1 = _mm_unpackhi_pd(re0, re1), iq1 = _mm_unpackhi_pd(im0, im1);
            if (layout == 1) {
                _mm_storeu_pd(row0 + 4 * h, _mm_unpacklo_pd(rq, iq));
                _mm_storeu_pd(row0 + 4 * h + 2, _mm_unpackhi_pd(rq, iq));
                _mm_storeu_pd(row1 + 4 * h, _mm_unpacklo_pd(rq1, iq1));
                _mm_storeu_pd(row1 + 4 * h + 2, _mm_unpackhi_pd(rq1, iq1));
            } else {
                _mm_storeu_pd(row0 + 4 * h, rq);
                _mm_storeu_pd(row0 + 4 * h + 2, iq);
                _mm_storeu_pd(row1 + 4 * h, rq1);
                _mm_storeu_pd(row1 + 4 * h + 2, iq1);
            }
        }
    }
}

void vek_k_fft64f_scatter_columns_split_wd(double* re, double* im, const double* work, std::int32_t c,
                                           std::int32_t r)
{
    for (std::int64_t q = 0; q < r; q += 2) {
        for (int h = 0; h < 2; ++h) {
            const double* b0 = work + 2 * (2 * h * r + q);
            const double* b1 = work + 2 * ((2 * h + 1) * r + q);
            const __m128d re0 = _mm_load_pd(b0), im0 = _mm_load_pd(b0 + 2);
            const __m128d re1 = _mm_load_pd(b1), im1 = _mm_load_pd(b1 + 2);
            _mm_storeu_pd(re + q * c + 2 * h, _mm_unpacklo_pd(re0, re1));
            _mm_storeu_pd(im + q * c + 2 * h, _mm_unpacklo_pd(im0, im1));
            _mm_storeu_pd(re + (q + 1) * c + 2 * h, _mm_unpackhi_pd(re0, re1));
            _mm_storeu_pd(im + (q + 1) * c + 2 * h, _mm_unpackhi_pd(im0, im1));
        }
    }
}
