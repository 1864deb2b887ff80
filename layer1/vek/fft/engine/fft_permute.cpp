// Permutations into bit-reversed order driven by the swap list of an order. Each list entry stands for the
// four elements 2k, 2k+1, N/2+2k, N/2+2k+1 (k the middle bits), so the list covers the middle bits only.
// Elements move through memcpy, so any alignment of the data is accepted.
#include <cstddef>
#include <cstring>

#include "layer1/vek/fft/engine/fft_engine.h"

namespace {

template <std::size_t E>
struct Elem {
    unsigned char b[E];
};

template <std::size_t E>
inline void swap_el(unsigned char* d, std::int64_t i, std::int64_t j)
{
    Elem<E> a;
    Elem<E> b;
    std::memcpy(&a, d + i * E, E);
    std::memcpy(&b, d + j * E, E);
    std::memcpy(d + i * E, &b, E);
    std::memcpy(d + j * E, &a, E);
}

template <std::size_t E>
inline void copy_el(const unsigned char* s, unsigned char* d, std::int64_t to, std::int64_t from)
{
    std::memcpy(d + to * E, s + from * E, E);
}

template <std::size_t E>
void permute_inplace(void* data, std::int32_t n, const std::int32_t* pairs)
{
    if (n < 4) {
        return;
    }
    auto* d = static_cast<unsigned char*>(data);
    const std::int64_t h = n / 2;
    std::int32_t i = 0;
    for (; pairs[i] > 0; i += 2) {
        const std::int64_t a = pairs[i] / 2;
        const std::int64_t b = pairs[i + 1] / 2;
        swap_el<E>(d, a, b);
        swap_el<E>(d, a + 1, h + b);
        swap_el<E>(d, h + a, b + 1);
        swap_el<E>(d, h + a + 1, h + b + 1);
    }
    // The 0 that ends the pairs stands for k = 0; self-reversed middles follow up to the final 0.
    std::int64_t k2 = 0;
    for (;;) {
        swap_el<E>(d, k2 + 1, h + k2);
        ++i;
        if (pairs[i] <= 0) {
            break;
        }
        k2 = pairs[i] / 2;
    }
}

template <std::size_t E>
void permute_copy(const void* src, void* dst, std::int32_t n, const std::int32_t* pairs)
{
    const auto* s = static_cast<const unsigned char*>(src);
    auto* d = static_cast<unsigned char*>(dst);
    if (n < 8) {
        copy_el<E>(s, d, 0, 0);
        copy_el<E>(s, d, n - 1, n - 1);
        if (n == 4) {
            copy_el<E>(s, d, 1, 2);
            copy_el<E>(s, d, 2, 1);
        }
        return;
    }
    const std::int64_t h = n / 2;
    auto quad = [&](std::int64_t a, std::int64_t b) {
        copy_el<E>(s, d, b, a);
        copy_el<E>(s, d, b + 1, h + a);
        copy_el<E>(s, d, h + b, a + 1);
        copy_el<E>(s, d, h + b + 1, h + a + 1);
    };
    std::int32_t i = 0;
    for (; pairs[i] > 0; i += 2) {
        const std::int64_t a = pairs[i] / 2;
        const std::int64_t b = pairs[i + 1] / 2;
        quad(a, b);
        quad(b, a);
    }
    std::int64_t k2 = 0;
    for (;;) {
        quad(k2, k2);
        ++i;
        if (pairs[i] <= 0) {
            break;
        }
        k2 = pairs[i] / 2;
    }
}

}  // namespace

void vek_k_fft_permute_inplace_gen(void* d, std::int32_t n, const std::int32_t* p) { permute_inplace<8>(d, n, p); }
void vek_k_fft_permute_inplace_ss(void* d, std::int32_t n, const std::int32_t* p) { permute_inplace<8>(d, n, p); }
void vek_k_fft_permute_inplace_wd(void* d, std::int32_t n, const std::int32_t* p) { permute_inplace<8>(d, n, p); }
void vek_k_fft_permute_split_inplace_gen(void* d, std::int32_t n, const std::int32_t* p)
{
    permute_inplace<4>(d, n, p);
}
void vek_k_fft_permute_split_inplace_mm(void* d, std::int32_t n, const std::int32_t* p)
{
    permute_inplace<4>(d, n, p);
}
void vek_k_fft_permute_split_inplace_ss(void* d, std::int32_t n, const std::int32_t* p)
{
    permute_inplace<4>(d, n, p);
}
void vek_k_fft_permute_split_inplace_wd(void* d, std::int32_t n, const std::int32_t* p)
{
    permute_inplace<4>(d, n, p);
}
void vek_k_fft_permute_e16_inplace_wd(void* d, std::int32_t n, const std::int32_t* p)
{
    permute_inplace<16>(d, n, p);
}

void vek_k_fft_permute_copy_gen(const void* s, void* d, std::int32_t n, const std::int32_t* p)
{
    permute_copy<8>(s, d, n, p);
}
void vek_permute_copy(const void* s, void* d, std::int32_t n, const std::int32_t* p) { permute_copy<8>(s, d, n, p); }
void vek_k_fft_permute_split_copy_gen(const void* s, void* d, std::int32_t n, const std::int32_t* p)
{
    permute_copy<4>(s, d, n, p);
}
void vek_k_fft_permute_split_copy_wd(const void* s, void* d, std::int32_t n, const std::int32_t* p)
{
    permute_copy<4>(s, d, n, p);
}
void vek_k_fft_permute_e16_copy_wd(const void* s, void* d, std::int32_t n, const std::int32_t* p)
{
    permute_copy<16>(s, d, n, p);
}
