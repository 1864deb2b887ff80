// Executive pool with per-tag accounting and fault injection.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/internal.h"

namespace platform {

struct PoolTagCounts {
    int64_t liveBlocks = 0;
    int64_t liveBytes = 0;
    uint64_t allocations = 0;
};

struct PoolAccount {
    std::mutex mu;
    std::map<ULONG, PoolTagCounts> tags;
    uint64_t allocations = 0;  // attempts, including failed ones
    uint64_t failAt = 0;       // attempt number that fails (0: none)
    int64_t refs = 1;          // the owner plus one per live block
};

namespace {

constexpr uint32_t kMagic = 0x4C4F4F50;  // "POOL"
constexpr uint32_t kFreed = 0x45455246;  // "FREE"

struct alignas(16) BlockHeader {
    uint32_t magic;
    ULONG tag;
    uint64_t size;
    PoolAccount* account;
    uint64_t spare;
};
static_assert(sizeof(BlockHeader) == 32, "block header keeps 16-byte alignment");

// Every live block, so a bad or repeated free is caught before the block's memory is touched.
std::mutex& LiveLock()
{
    static auto* m = new std::mutex();
    return *m;
}
std::set<const void*>& LiveBlocksSet()
{
    static auto* s = new std::set<const void*>();
    return *s;
}

PoolAccount* ProcessAccount()
{
    static PoolAccount* a = new PoolAccount();
    return a;
}

PoolAccount* CurrentAccount()
{
    KernelInstance* k = CurrentKernel();
    return k != nullptr && k->pool != nullptr ? k->pool : ProcessAccount();
}

[[noreturn]] void PoolFault(const char* what, PVOID p)
{
    std::fprintf(stderr, "platform: pool: %s (block %p)\n", what, p);
    std::fflush(stderr);
    std::abort();
}

void Unref(PoolAccount* a, std::unique_lock<std::mutex>& lk)
{
    if (--a->refs == 0) {
        lk.unlock();
        delete a;
    }
}

}  // namespace

PoolAccount* NewPoolAccount() { return new PoolAccount(); }

void ReleasePoolAccount(PoolAccount* a)
{
    std::unique_lock<std::mutex> lk(a->mu);
    Unref(a, lk);
}

std::vector<PoolTagStats> PoolAccountStats(PoolAccount* a)
{
    std::lock_guard<std::mutex> lk(a->mu);
    std::vector<PoolTagStats> out;
    for (auto& [tag, c] : a->tags) {
        PoolTagStats s;
        s.tag = tag;
        s.liveBlocks = c.liveBlocks;
        s.liveBytes = c.liveBytes;
        s.allocations = c.allocations;
        out.push_back(s);
    }
    return out;
}

uint64_t PoolAccountAllocations(PoolAccount* a)
{
    std::lock_guard<std::mutex> lk(a->mu);
    return a->allocations;
}

void PoolAccountFailAt(PoolAccount* a, uint64_t k)
{
    std::lock_guard<std::mutex> lk(a->mu);
    a->failAt = k == 0 ? 0 : a->allocations + k;
}

}  // namespace platform

using namespace platform;

PVOID ExAllocatePoolWithTag(POOL_TYPE, SIZE_T NumberOfBytes, ULONG Tag)
{
    PoolAccount* a = CurrentAccount();
    {
        std::lock_guard<std::mutex> lk(a->mu);
        a->allocations++;
        if (a->failAt != 0 && a->allocations == a->failAt) {
            a->failAt = 0;
            return nullptr;
        }
    }
    if (NumberOfBytes == 0 || NumberOfBytes > (SIZE_T(1) << 40)) return nullptr;
    void* raw = ::operator new(sizeof(BlockHeader) + NumberOfBytes, std::align_val_t(16), std::nothrow);
    if (raw == nullptr) return nullptr;
    auto* h = static_cast<BlockHeader*>(raw);
    h->magic = kMagic;
    h->tag = Tag;
    h->size = NumberOfBytes;
    h->account = a;
    h->spare = 0;
    {
        std::lock_guard<std::mutex> lk(LiveLock());
        LiveBlocksSet().insert(h + 1);
    }
    {
        std::lock_guard<std::mutex> lk(a->mu);
        PoolTagCounts& c = a->tags[Tag];
        c.liveBlocks++;
        c.liveBytes += static_cast<int64_t>(NumberOfBytes);
        c.allocations++;
        a->refs++;
    }
    return h + 1;
}

PVOID ExAllocatePool(POOL_TYPE PoolType, SIZE_T NumberOfBytes)
{
    return ExAllocatePoolWithTag(PoolType, NumberOfBytes, POOL_TAG('N', 'o', 'n', 'e'));
}

VOID ExFreePoolWithTag(PVOID P, ULONG Tag)
{
    if (P == nullptr) PoolFault("free of a null pointer", P);
    {
        std::lock_guard<std::mutex> lk(LiveLock());
        if (LiveBlocksSet().count(P) == 0) {
            PoolFault("free of a block that is not allocated (freed twice, or not from the pool)", P);
        }
    }
    auto* h = static_cast<BlockHeader*>(P) - 1;
    if (h->magic != kMagic) PoolFault("block header overwritten", P);
    if (Tag != 0 && Tag != h->tag) PoolFault("free with a tag other than the allocation's", P);
    {
        std::lock_guard<std::mutex> lk(LiveLock());
        LiveBlocksSet().erase(P);
    }
    PoolAccount* a = h->account;
    {
        std::unique_lock<std::mutex> lk(a->mu);
        PoolTagCounts& c = a->tags[h->tag];
        c.liveBlocks--;
        c.liveBytes -= static_cast<int64_t>(h->size);
        Unref(a, lk);
    }
    h->magic = kFreed;
    ::operator delete(h, std::align_val_t(16));
}

VOID ExFreePool(PVOID P) { ExFreePoolWithTag(P, 0); }
