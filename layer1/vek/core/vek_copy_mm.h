// MMX-tier copy and fill pieces, shared by the mm and ss kernels. None of them clears the MMX state; the
// kernel that calls them does.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vekcopy {

// Copy tail: by 16, 8 and 4 bytes, then single bytes.
void mm_copy_tail(const unsigned char* s, unsigned char* d, std::size_t n);
// 64-byte rounds of 8-byte moves; returns the bytes done (a multiple of 64).
std::size_t mm_copy_rounds(const unsigned char* s, unsigned char* d, std::size_t n);
// Fill with a pattern that repeats every 4 bytes (byte value or 32-bit word), relative to d: from 64 bytes
// one unaligned 8-byte store, 8-byte aligned 64-byte rounds (non-temporal and fenced when asked), then a
// tail by 32, 16, 8 and single bytes.
void mm_fill(unsigned char* d, std::uint64_t pattern, std::size_t n, bool nonTemporal);

} // namespace vekcopy
