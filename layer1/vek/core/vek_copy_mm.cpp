// mm copy, zero and fill kernels.
#include "layer1/vek/core/vek_copy.h"

void vek_k_copy_mm(const void* src, void* dst, std::size_t bytes) { vek_k_copy_gen(src, dst, bytes); }
void vek_k_zero_mm(void* dst, std::size_t bytes) { vek_k_zero_gen(dst, bytes); }
void vek_k_fill8_mm(std::uint8_t value, void* dst, std::size_t bytes) { vek_k_fill8_gen(value, dst, bytes); }
void vek_k_fill32_mm(std::int32_t value, std::int32_t* dst, std::size_t count) { vek_k_fill32_gen(value, dst, count); }
