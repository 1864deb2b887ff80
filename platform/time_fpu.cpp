// Time queries and the floating-point state.
#include "platform/internal.h"

using namespace platform;

VOID KeQuerySystemTime(PLARGE_INTEGER CurrentTime)
{
    ClockImpl* c = CurrentClockImpl();
    std::lock_guard<std::mutex> lk(c->mu);
    CurrentTime->QuadPart = c->SystemTimeLocked();
}

VOID KeQueryTickCount(PLARGE_INTEGER TickCount)
{
    ClockImpl* c = CurrentClockImpl();
    std::lock_guard<std::mutex> lk(c->mu);
    TickCount->QuadPart = c->NowLocked() / static_cast<LONGLONG>(c->config.timeIncrement ? c->config.timeIncrement : 1);
}

ULONG KeQueryTimeIncrement() { return CurrentClockImpl()->config.timeIncrement; }

ULONGLONG KeQueryInterruptTime()
{
    ClockImpl* c = CurrentClockImpl();
    std::lock_guard<std::mutex> lk(c->mu);
    return static_cast<ULONGLONG>(c->NowLocked());
}

// ---------------------------------------------------------------------------------------------------------
// Floating-point state: the x87 control word and MXCSR.

NTSTATUS KeSaveFloatingPointState(PKFLOATING_SAVE FloatSave)
{
    KernelInstance* k = CurrentKernel();
    if (k != nullptr) {
        uint64_t n = ++k->fpSaveCount;
        uint64_t failAt = k->fpFailAt.load();
        if (failAt != 0 && n == failAt) {
            FloatSave->Valid = 0;
            return STATUS_INSUFFICIENT_RESOURCES;
        }
    }
#if defined(__x86_64__) || defined(__i386__)
    unsigned short cw = 0;
    unsigned int mxcsr = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    __asm__ __volatile__("stmxcsr %0" : "=m"(mxcsr));
    FloatSave->ControlWord = cw;
    FloatSave->MxCsr = mxcsr;
#else
    FloatSave->ControlWord = 0;
    FloatSave->MxCsr = 0;
#endif
    FloatSave->Valid = 1;
    return STATUS_SUCCESS;
}

NTSTATUS KeRestoreFloatingPointState(PKFLOATING_SAVE FloatSave)
{
    if (FloatSave->Valid != 1) return STATUS_INVALID_PARAMETER;
#if defined(__x86_64__) || defined(__i386__)
    unsigned short cw = static_cast<unsigned short>(FloatSave->ControlWord);
    unsigned int mxcsr = FloatSave->MxCsr;
    __asm__ __volatile__("fldcw %0" : : "m"(cw));
    __asm__ __volatile__("ldmxcsr %0" : : "m"(mxcsr));
#endif
    FloatSave->Valid = 0;
    return STATUS_SUCCESS;
}
