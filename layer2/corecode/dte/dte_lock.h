// Scoped hold of one DTE spin lock.
#pragma once

#include "platform/kernel.h"

class DteLockHold {
public:
    explicit DteLockHold(KSPIN_LOCK* lock) : lock_(lock) { KeAcquireSpinLock(lock_, &old_); }
    ~DteLockHold() { KeReleaseSpinLock(lock_, old_); }
    DteLockHold(const DteLockHold&) = delete;
    DteLockHold& operator=(const DteLockHold&) = delete;

private:
    KSPIN_LOCK* lock_;
    KIRQL old_;
};
