// Executive pool. Each block is counted per tag (live blocks and bytes) in the accounting of the machine
// that allocated it, so tests can check that nothing leaks; a machine can make the k-th allocation fail.
#pragma once

#include "platform/ntdef.h"

enum POOL_TYPE {
    NonPagedPool = 0,
    PagedPool = 1,
    NonPagedPoolMustSucceed = 2,
    NonPagedPoolCacheAligned = 4,
    PagedPoolCacheAligned = 5,
    NonPagedPoolNx = 512,
};

// Tags are four characters, first character in the low byte: POOL_TAG('W','d','m',' ').
constexpr ULONG POOL_TAG(char a, char b, char c, char d)
{
    return static_cast<ULONG>(static_cast<UCHAR>(a)) | (static_cast<ULONG>(static_cast<UCHAR>(b)) << 8) |
           (static_cast<ULONG>(static_cast<UCHAR>(c)) << 16) | (static_cast<ULONG>(static_cast<UCHAR>(d)) << 24);
}

// Blocks are aligned to 16 bytes and not zeroed. Null when the size is 0, memory is short or a fault was
// injected.
PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
PVOID ExAllocatePool(POOL_TYPE PoolType, SIZE_T NumberOfBytes);
VOID ExFreePool(PVOID P);
VOID ExFreePoolWithTag(PVOID P, ULONG Tag);
