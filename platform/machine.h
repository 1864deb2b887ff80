// A machine: one kernel instance with its drivers, device stacks, object namespace, registry, pool
// accounting and debug log, driven by a clock that it may share with other machines (host and test API).
//
// Typical use:
//   platform::Clock clock;                      // virtual time
//   platform::ClockThread self(clock);          // the test thread takes part in virtual time
//   platform::Machine m({&clock, "modem1", "/tmp/reg.txt"});
//   PDRIVER_OBJECT line, pump, ctl;
//   m.LoadDriver("Line", LineDriverEntry, &line); ...
//   platform::DeviceStack* s;
//   m.BuildStack({line, pump, ctl}, {}, &s);    // AddDevice bottom to top, then START through the stack
//   PFILE_OBJECT f; m.OpenByName("COM3", &f); m.Write(f, "AT\r", 3, &n); ...
//   m.Close(f); m.RemoveStack(s);
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/kernel.h"

namespace platform {

struct DeviceStack;  // one devnode: a physical device object and the devices attached above it
struct IoRequest;    // a request in flight

struct MachineConfig {
    Clock* clock = nullptr;       // required
    std::string name = "machine";
    std::string registryFile;     // empty: the registry lives in memory only
    bool wdm110Available = true;  // IoIsWdmVersionAvailable(1, 0x10)
};

struct StackConfig {
    std::string instanceId;  // device instance path; default "ROOT\MODEM\000n"
    std::string portName;    // when set, written as "PortName" (REG_SZ) into the device key before AddDevice
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> resources;  // handed over at START (raw and translated)
};

struct PoolTagStats {
    ULONG tag = 0;
    int64_t liveBlocks = 0;
    int64_t liveBytes = 0;
    uint64_t allocations = 0;
};

struct InterfaceInfo {
    std::string name;  // symbolic name handed to the driver
    std::string classGuid;
    bool enabled = false;
};

class Machine {
public:
    explicit Machine(const MachineConfig& config);
    ~Machine();  // deletes what drivers left behind; stacks should have been removed
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Construction status: a registry file that cannot be read or parsed gives STATUS_REGISTRY_CORRUPT (or
    // the open error) and a message naming the file and line; the machine then runs with an empty registry.
    NTSTATUS Status() const;
    const std::string& Error() const;
    Clock& GetClock() const;
    KernelInstance* Kernel() const { return kernel_; }
    const std::string& Name() const;

    // Drivers and device stacks. The service key is "\REGISTRY\MACHINE\SYSTEM\CurrentControlSet\Services\"
    // + serviceName; DriverEntry receives it as its registry path.
    NTSTATUS LoadDriver(const char* serviceName, PDRIVER_INITIALIZE entry, PDRIVER_OBJECT* driver);
    NTSTATUS LoadDriver(const char* serviceName, const std::string& registryPath, PDRIVER_INITIALIZE entry,
                        PDRIVER_OBJECT* driver);
    VOID UnloadDriver(PDRIVER_OBJECT driver);  // calls DriverUnload
    // Creates the physical device and calls AddDevice of each driver, bottom first.
    NTSTATUS AddStack(const std::vector<PDRIVER_OBJECT>& bottomToTop, const StackConfig& config,
                      DeviceStack** stack);
    NTSTATUS StartStack(DeviceStack* stack);  // IRP_MN_START_DEVICE to the top, Information 0
    NTSTATUS BuildStack(const std::vector<PDRIVER_OBJECT>& bottomToTop, const StackConfig& config,
                        DeviceStack** stack);  // AddStack then StartStack
    PDEVICE_OBJECT TopDevice(DeviceStack* stack) const;
    PDEVICE_OBJECT PhysicalDevice(DeviceStack* stack) const;
    // Sends a PnP request to the top of the stack and waits for it; *information gets IoStatus.Information.
    NTSTATUS SendPnp(DeviceStack* stack, UCHAR minor, ULONG_PTR* information = nullptr);
    NTSTATUS QueryCapabilities(DeviceStack* stack, DEVICE_CAPABILITIES* capabilities);
    NTSTATUS SendPower(DeviceStack* stack, UCHAR minor, POWER_STATE_TYPE type, POWER_STATE state);
    // QUERY_REMOVE (or SURPRISE_REMOVAL) then REMOVE; the stack record is freed.
    NTSTATUS RemoveStack(DeviceStack* stack, bool surprise = false);

    // Files and requests. Requests are buffered: the platform owns the system buffer and copies data in and
    // out. Waits are platform waits, so virtual time moves while the caller waits.
    NTSTATUS Open(DeviceStack* stack, PFILE_OBJECT* file);
    NTSTATUS OpenByName(const std::string& name, PFILE_OBJECT* file);  // "COM3", "\DosDevices\COM3", "\Device\X"
    NTSTATUS Close(PFILE_OBJECT file);  // IRP_MJ_CLEANUP then IRP_MJ_CLOSE; frees the file object
    IoRequest* StartRead(PFILE_OBJECT file, ULONG length);
    IoRequest* StartWrite(PFILE_OBJECT file, const void* data, ULONG length);
    IoRequest* StartIoctl(PFILE_OBJECT file, ULONG code, const void* in, ULONG inLength, ULONG outLength,
                          bool internal = false);
    IoRequest* StartRequest(PFILE_OBJECT file, UCHAR major, UCHAR minor);  // flush, cleanup, system control
    // Waits for completion; timeout in 100 ns (negative: relative; null: none). STATUS_TIMEOUT when still
    // pending, else the request's final status.
    NTSTATUS Wait(IoRequest* request, PLARGE_INTEGER timeout = nullptr);
    bool IsDone(IoRequest* request) const;
    BOOLEAN Cancel(IoRequest* request);
    NTSTATUS RequestStatus(IoRequest* request) const;
    ULONG_PTR RequestInformation(IoRequest* request) const;
    std::vector<uint8_t> RequestOutput(IoRequest* request) const;  // Information bytes of the buffer
    PIRP RequestIrp(IoRequest* request) const;
    VOID FreeRequest(IoRequest* request);  // waits for completion first
    NTSTATUS Read(PFILE_OBJECT file, void* buffer, ULONG length, ULONG_PTR* information);
    NTSTATUS Write(PFILE_OBJECT file, const void* data, ULONG length, ULONG_PTR* information);
    NTSTATUS DeviceIoControl(PFILE_OBJECT file, ULONG code, const void* in, ULONG inLength, void* out,
                             ULONG outLength, ULONG_PTR* information, bool internal = false);
    // Sends an IRP the caller built (IoAllocateIrp) to a device and waits for it to complete; the caller
    // frees it afterwards.
    NTSTATUS CallAndWait(PDEVICE_OBJECT device, PIRP irp);

    // Names.
    std::string ResolveLink(const std::string& link) const;  // target of a symbolic link, "" when none
    std::vector<std::pair<std::string, std::string>> SymbolicLinks() const;
    std::vector<InterfaceInfo> Interfaces() const;

    // Registry (paths are absolute, as drivers see them).
    std::string ServiceKeyPath(const char* serviceName) const;
    std::string DeviceKeyPath(DeviceStack* stack) const;  // the device ("hardware") key
    std::string DriverKeyName(DeviceStack* stack) const;  // "{class guid}\000n"
    NTSTATUS RegSetValue(const std::string& keyPath, const std::string& valueName, ULONG type, const void* data,
                         ULONG length);
    NTSTATUS RegSetString(const std::string& keyPath, const std::string& valueName, const std::string& text);
    NTSTATUS RegSetDword(const std::string& keyPath, const std::string& valueName, ULONG value);
    NTSTATUS RegQueryValue(const std::string& keyPath, const std::string& valueName, ULONG* type,
                           std::vector<uint8_t>* data) const;
    NTSTATUS RegQueryString(const std::string& keyPath, const std::string& valueName, std::string* text) const;
    NTSTATUS RegDeleteValue(const std::string& keyPath, const std::string& valueName);
    std::vector<std::string> RegValueNames(const std::string& keyPath) const;

    // Pool accounting and fault injection.
    std::vector<PoolTagStats> PoolStats() const;
    int64_t LiveBlocks(ULONG tag = 0) const;  // tag 0: all tags
    int64_t LiveBytes(ULONG tag = 0) const;
    uint64_t AllocationCount() const;
    void FailAllocation(uint64_t k);  // the k-th allocation from now fails (1 = the next); 0 disarms
    void FailFloatingPointSave(uint64_t k);  // the k-th KeSaveFloatingPointState from now fails

    // Debug output of this machine's drivers.
    std::string DebugText() const;
    std::vector<std::string> DebugLines() const;  // split at line ends
    void ClearDebugLog();

private:
    NTSTATUS RemoveNode(KernelInstance* k, struct ::PlatformDeviceNode* node, bool surprise);
    KernelInstance* kernel_;
};

// Makes a machine current for the calling thread (its drivers' names, registry, pool and log) for the scope's
// lifetime. Machine calls do this themselves; tests need it only to call kernel services directly.
class MachineScope {
public:
    explicit MachineScope(Machine& machine);
    ~MachineScope();
    MachineScope(const MachineScope&) = delete;
    MachineScope& operator=(const MachineScope&) = delete;

private:
    KernelInstance* saved_;
};

}  // namespace platform
