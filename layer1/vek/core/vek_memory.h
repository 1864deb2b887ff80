// Aligned allocation of the library (slots 2-13) over the library's pool.
#pragma once

#include <cstddef>
#include <cstdint>

// Pool tag of every library block: the bytes "Wdm ".
inline constexpr std::uint32_t VEK_POOL_TAG = 0x206D6457u;

// The pool under the allocation functions: the non-paged system pool with the library's tag. Counts the
// blocks it has handed out and not taken back.
void* vek_pool_alloc(std::size_t bytes, std::uint32_t tag);
void vek_pool_free(void* raw);
std::int64_t vek_pool_outstanding();
std::int64_t vek_pool_requests();

// Test hook: the n-th pool request from now (1 = the next one) on this thread fails; 0 turns it off.
void vek_pool_fail_at(int n);

// Allocation of n elements of 1, 2, 4, 8 or 16 bytes: a 32-byte aligned block; the 8 bytes just before it
// hold the raw pool address (a pointer, so 8 bytes here where a 32-bit build kept 4). n <= 0, a request
// that does not fit, or an empty pool give null; n <= 0 does not touch the pool. Contents are not cleared.
void* vek_alloc_8(std::int32_t n);
void* vek_alloc_16(std::int32_t n);
void* vek_alloc_32(std::int32_t n);
void* vek_alloc_64(std::int32_t n);
void* vek_alloc_128(std::int32_t n);

// The 32-, 64- and 128-bit sizes have a wd function of their own; the gen function serves gen, mm and ss.
void* vek_alloc_32_gen(std::int32_t n);
void* vek_alloc_32_wd(std::int32_t n);
void* vek_alloc_64_gen(std::int32_t n);
void* vek_alloc_64_wd(std::int32_t n);
void* vek_alloc_128_gen(std::int32_t n);
void* vek_alloc_128_wd(std::int32_t n);

// Returns a block of the allocation functions to the pool; null does nothing.
void vek_free(void* block);

// The raw pool address stored in front of a block (for tests).
void* vek_block_raw(const void* block);
