// The remove lock: counts requests in flight; REMOVE waits for them.
#include "layer1/drivers/wdm/dsp_device.h"

void RemoveLockInitialize(RemoveLock* lock)
{
    lock->removing = 0;
    lock->count = 1;
    KeInitializeEvent(&lock->event, NotificationEvent, FALSE);
}

NTSTATUS RemoveLockAcquire(RemoveLock* lock)
{
    InterlockedIncrement(&lock->count);
    if (__atomic_load_n(&lock->removing, __ATOMIC_ACQUIRE)) {
        if (InterlockedDecrement(&lock->count) == 0)
            KeSetEvent(&lock->event, IO_NO_INCREMENT, FALSE);
        return STATUS_DELETE_PENDING;
    }
    return STATUS_SUCCESS;
}

void RemoveLockRelease(RemoveLock* lock)
{
    if (InterlockedDecrement(&lock->count) == 0)
        KeSetEvent(&lock->event, IO_NO_INCREMENT, FALSE);
}

// REMOVE only: releases the REMOVE request's own acquisition and the initial count, then waits for the rest.
void RemoveLockReleaseAndWait(RemoveLock* lock)
{
    __atomic_store_n(&lock->removing, 1, __ATOMIC_RELEASE);
    RemoveLockRelease(lock);
    RemoveLockRelease(lock);
    KeWaitForSingleObject(&lock->event, Executive, KernelMode, FALSE, nullptr);
}
