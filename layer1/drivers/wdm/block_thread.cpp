// The block worker thread: one block of the data pump per signal of the block event. In virtual time the
// clock's shared event worker runs the blocks instead (no thread switch per device and block).
#include "layer1/drivers/wdm/dsp_device.h"
#include "platform/clock.h"

namespace {

constexpr KPRIORITY kBlockThreadPriority = 28;
constexpr LONGLONG kStopWait = -50000000LL;  // 5 s, relative

VOID BlockWorkerThread(PVOID context)
{
    auto* ext = static_cast<DspDeviceExtension*>(context);
    KeSetPriorityThread(KeGetCurrentThread(), kBlockThreadPriority);
    for (;;) {
        KeWaitForSingleObject(&ext->blockEvent, Executive, KernelMode, FALSE, nullptr);
        if (InterlockedCompareExchange(&ext->blockRunFlag, 0, 0) == 0)
            break;
        // Reset before the block runs: signals that arrive while it runs leave the event set, so they give one
        // further block (never more: the event does not count).
        KeResetEvent(&ext->blockEvent);
        RunBlockWithFpuSaved(&ext->dspContext);
    }
    KeSetEvent(&ext->threadStopEvent, IO_NO_INCREMENT, FALSE);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

// Run by the clock's event worker once the block event has been reset.
void SharedBlockWork(void* context)
{
    auto* ext = static_cast<DspDeviceExtension*>(context);
    if (InterlockedCompareExchange(&ext->blockRunFlag, 0, 0) != 0)
        RunBlockWithFpuSaved(&ext->dspContext);
}

// Virtual time: hands the blocks to the clock's event worker, whose thread then stands for the block thread.
bool StartSharedBlockWork(DspDeviceExtension* ext)
{
    platform::Clock* clock = platform::CurrentClock();
    if (clock == nullptr || clock->Mode() != platform::ClockMode::Virtual)
        return false;
    ext->blockWork = clock->AddEventWork(&ext->blockEvent, SharedBlockWork, ext, "block");
    if (ext->blockWork == nullptr)
        return false;
    ext->blockWorkClock = clock;
    ext->blockThread = clock->EventWorkerThread();
    ObReferenceObject(ext->blockThread);
    return true;
}

}  // namespace

void RunBlockWithFpuSaved(DspContext* context)
{
    KFLOATING_SAVE save;
    if (!NT_SUCCESS(KeSaveFloatingPointState(&save)))
        return;  // this block is skipped; the thread goes on with the next signal
    context->perBlockEntry(context);
    KeRestoreFloatingPointState(&save);
}

NTSTATUS DspBlockThreadStart(DspDeviceExtension* ext)
{
    KeInitializeEvent(&ext->threadStopEvent, NotificationEvent, FALSE);
    // Set before the thread exists, so a stop issued before it first runs is never lost.
    InterlockedExchange(&ext->blockRunFlag, 1);
    if (StartSharedBlockWork(ext))
        return STATUS_SUCCESS;
    HANDLE handle = nullptr;
    NTSTATUS status =
        PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, BlockWorkerThread, ext);
    if (!NT_SUCCESS(status)) {
        InterlockedExchange(&ext->blockRunFlag, 0);
        return status;
    }
    PVOID object = nullptr;
    status = ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, nullptr, KernelMode, &object, nullptr);
    ZwClose(handle);
    if (!NT_SUCCESS(status)) {
        // The thread runs but cannot be waited on by its object: stop it and wait for its own end signal.
        InterlockedExchange(&ext->blockRunFlag, 0);
        KeSetEvent(&ext->blockEvent, IO_NO_INCREMENT, FALSE);
        KeWaitForSingleObject(&ext->threadStopEvent, Executive, KernelMode, FALSE, nullptr);
        return status;
    }
    ext->blockThread = static_cast<PKTHREAD>(object);
    return STATUS_SUCCESS;
}

NTSTATUS StopBlockThread(DspDeviceExtension* ext)
{
    if (ext->blockThread == nullptr)
        return STATUS_SUCCESS;
    InterlockedExchange(&ext->blockRunFlag, 0);
    if (ext->blockWork != nullptr) {
        ext->blockWorkClock->RemoveEventWork(ext->blockWork);
        ext->blockWork = nullptr;
        ext->blockWorkClock = nullptr;
        ObDereferenceObject(ext->blockThread);
        ext->blockThread = nullptr;
        return STATUS_SUCCESS;
    }
    KeSetEvent(&ext->blockEvent, IO_NO_INCREMENT, FALSE);
    NTSTATUS status;
    if (IoIsWdmVersionAvailable(1, 0x10)) {
        LARGE_INTEGER timeout;
        timeout.QuadPart = kStopWait;
        status = KeWaitForSingleObject(ext->blockThread, Executive, KernelMode, FALSE, &timeout);
        if (status == STATUS_TIMEOUT) {
            // What removal frees is still in use while the thread runs: wait for its real end.
            DbgPrint("StopBlockThread: block thread still running after 5 s, waiting for it\n");
            KeWaitForSingleObject(ext->blockThread, Executive, KernelMode, FALSE, nullptr);
        }
    } else {
        status = KeWaitForSingleObject(&ext->threadStopEvent, Executive, KernelMode, FALSE, nullptr);
    }
    ObDereferenceObject(ext->blockThread);
    ext->blockThread = nullptr;
    return status;
}
