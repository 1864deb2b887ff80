// Aligned blocks with the raw pool address in a header just before them.
#include "layer1/vek/core/vek_memory.h"

#include <atomic>
#include <cstring>

#include "platform/ex.h"

namespace {

std::atomic<std::int64_t> g_outstanding{0};
std::atomic<std::int64_t> g_requests{0};
thread_local int t_fail_countdown = 0;

constexpr std::uintptr_t kAlign = 32;
constexpr std::uintptr_t kHeader = sizeof(void*);
// Room for the header plus the worst alignment step: raw + header + 31 rounded down to 32.
constexpr std::uint64_t kExtra = kHeader + kAlign - 1;
// Pool requests stay within 32 bits, as the pool's size argument is a 32-bit count.
constexpr std::uint64_t kMaxRequest = 0xFFFFFFFFu;

void* aligned_alloc_elements(std::int32_t n, std::uint32_t elementSize)
{
    if (n <= 0) {
        return nullptr;
    }
    const std::uint64_t bytes = static_cast<std::uint64_t>(n) * elementSize + kExtra;
    if (bytes > kMaxRequest) {
        return nullptr;
    }
    void* raw = vek_pool_alloc(static_cast<std::size_t>(bytes), VEK_POOL_TAG);
    if (raw == nullptr) {
        return nullptr;
    }
    const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (base + kHeader + kAlign - 1) & ~(kAlign - 1);
    unsigned char* block = reinterpret_cast<unsigned char*>(aligned);
    std::memcpy(block - kHeader, &raw, sizeof raw);
    return block;
}

} // namespace

void* vek_pool_alloc(std::size_t bytes, std::uint32_t tag)
{
    g_requests.fetch_add(1, std::memory_order_relaxed);
    if (t_fail_countdown > 0 && --t_fail_countdown == 0) {
        return nullptr;
    }
    void* raw = ExAllocatePoolWithTag(NonPagedPool, bytes, tag);
    if (raw != nullptr) {
        g_outstanding.fetch_add(1, std::memory_order_relaxed);
    }
    return raw;
}

void vek_pool_free(void* raw)
{
    if (raw != nullptr) {
        g_outstanding.fetch_sub(1, std::memory_order_relaxed);
        ExFreePool(raw);
    }
}

std::int64_t vek_pool_outstanding() { return g_outstanding.load(std::memory_order_relaxed); }
std::int64_t vek_pool_requests() { return g_requests.load(std::memory_order_relaxed); }
void vek_pool_fail_at(int n) { t_fail_countdown = n > 0 ? n : 0; }

void* vek_alloc_8(std::int32_t n) { return aligned_alloc_elements(n, 1); }
void* vek_alloc_16(std::int32_t n) { return aligned_alloc_elements(n, 2); }
void* vek_alloc_32_gen(std::int32_t n) { return aligned_alloc_elements(n, 4); }
void* vek_alloc_32_wd(std::int32_t n) { return aligned_alloc_elements(n, 4); }
void* vek_alloc_64_gen(std::int32_t n) { return aligned_alloc_elements(n, 8); }
void* vek_alloc_64_wd(std::int32_t n) { return aligned_alloc_elements(n, 8); }
void* vek_alloc_128_gen(std::int32_t n) { return aligned_alloc_elements(n, 16); }
void* vek_alloc_128_wd(std::int32_t n) { return aligned_alloc_elements(n, 16); }
void* vek_alloc_32(std::int32_t n) { return vek_alloc_32_gen(n); }
void* vek_alloc_64(std::int32_t n) { return vek_alloc_64_gen(n); }
void* vek_alloc_128(std::int32_t n) { return vek_alloc_128_gen(n); }

void* vek_block_raw(const void* block)
{
    void* raw = nullptr;
    std::memcpy(&raw, static_cast<const unsigned char*>(block) - kHeader, sizeof raw);
    return raw;
}

void vek_free(void* block)
{
    if (block == nullptr) {
        return;
    }
    vek_pool_free(vek_block_raw(block));
}
