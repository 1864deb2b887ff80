// The modem core's allocation tracker: every block is recorded in a fixed table of 10 addresses.
#include <cstring>

#include "layer2/windows/wdm/modem_core.h"

namespace {
const ULONG kTag = POOL_TAG('W', 'd', 'm', ' ');
}

PVOID AddressAllocate(ModemCore* core, SIZE_T size, ULONG flags)
{
    if ((flags & 0x100) != 0 || (flags & 0x400) != 0 || size == 0)
        return nullptr;
    POOL_TYPE pool = (flags & 0x200) != 0 ? PagedPool : NonPagedPool;
    PVOID p = ExAllocatePoolWithTag(pool, size, kTag);
    if (p == nullptr)
        return nullptr;
    if (flags & 1)
        std::memset(p, 0, size);
    KIRQL irql;
    KeAcquireSpinLock(&core->allocated_lock, &irql);
    bool tracked = false;
    for (unsigned i = 0; i < ALLOCATED_SLOTS; ++i) {
        if (core->allocated[i] == nullptr) {
            core->allocated[i] = p;
            tracked = true;
            break;
        }
    }
    KeReleaseSpinLock(&core->allocated_lock, irql);
    if (!tracked)
        DbgPrint("AddressAllocate(0x%08X) ERROR: Out of space in Allocated[].\n",
                 static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
    return p;
}

VOID AddressFree(ModemCore* core, PVOID address)
{
    KIRQL irql;
    KeAcquireSpinLock(&core->allocated_lock, &irql);
    bool found = false;
    for (unsigned i = 0; i < ALLOCATED_SLOTS && address != nullptr; ++i) {
        if (core->allocated[i] == address) {
            core->allocated[i] = nullptr;
            found = true;
            break;
        }
    }
    KeReleaseSpinLock(&core->allocated_lock, irql);
    if (!found) {
        DbgPrint("AddressFree(0x%08X) ERROR: Bad address.\n",
                 static_cast<unsigned>(reinterpret_cast<uintptr_t>(address)));
        return;
    }
    ExFreePoolWithTag(address, kTag);
}
