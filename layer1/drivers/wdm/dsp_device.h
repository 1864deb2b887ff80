// The data pump's device: its extension, remove lock and the routines of the driver frame.
#pragma once

#include "layer1/dsp/dsp_context.h"
#include "platform/kernel.h"

namespace platform {
class Clock;
struct ClockEventWork;
}  // namespace platform

constexpr ULONG kWdmPoolTag = POOL_TAG('W', 'd', 'm', ' ');
constexpr USHORT kRegistryPathBytes = 256;

enum DspPnpState : LONG {
    DSP_PNP_ADDED = 0,
    DSP_PNP_LOWER_STARTED = 1,  // a START came back from the sample-stream driver
    DSP_PNP_STARTED = 2,        // start finished its set-up
};

struct RemoveLock {
    UCHAR removing;
    volatile LONG count;  // starts at 1
    KEVENT event;         // set when the count reaches 0
};

// One per device. The records the original kept driver-wide (the run flag, the thread-stop event) live here,
// so two modems in one process never share them.
struct DspDeviceExtension {
    PDRIVER_OBJECT driverObject;
    PDEVICE_OBJECT physicalDevice;
    PDEVICE_OBJECT ownDevice;
    PDEVICE_OBJECT lowerDevice;
    UNICODE_STRING deviceName;      // "\Device\MorvaHalvernDsp"
    UNICODE_STRING registryPath;    // the device's own copy: 256-byte paged buffer, tag "Wdm "
    HANDLE registryKey;
    KEVENT blockEvent;              // set by the sample-stream driver once per block
    PKTHREAD blockThread;           // referenced thread object, null when none runs
    platform::ClockEventWork* blockWork;  // virtual time: the clock's event worker runs the blocks
    platform::Clock* blockWorkClock;
    DspInterfaceBlock* interfaceBlock;
    LowerAudioInterface* lowerAudio;
    DspContext dspContext;
    LONG pnpState;
    LONG previousPnpState;
    RemoveLock removeLock;
    volatile LONG blockRunFlag;     // 1 while the block thread may run blocks
    KEVENT threadStopEvent;         // set by the block thread as it ends
    ControllerCallback controllerCallback;
};

namespace pumora {
// The driver's entry routine (each driver of the process has its own).
NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
}  // namespace pumora

NTSTATUS DspAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice);
VOID DspUnload(PDRIVER_OBJECT driver);
NTSTATUS DspCreateCloseDispatch(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DspDeviceControlDispatch(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DspSystemControlDispatch(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DspPowerDispatch(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DspPnpDispatch(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DspStartDevice(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DspRemoveDevice(PDEVICE_OBJECT device, PIRP irp);

NTSTATUS PassIrpDown(DspDeviceExtension* ext, PIRP irp);
NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information);
NTSTATUS ForwardIrpAndWait(DspDeviceExtension* ext, PIRP irp);

void RemoveLockInitialize(RemoveLock* lock);
NTSTATUS RemoveLockAcquire(RemoveLock* lock);
void RemoveLockRelease(RemoveLock* lock);
void RemoveLockReleaseAndWait(RemoveLock* lock);

NTSTATUS DspBlockThreadStart(DspDeviceExtension* ext);
NTSTATUS StopBlockThread(DspDeviceExtension* ext);
void RunBlockWithFpuSaved(DspContext* context);
