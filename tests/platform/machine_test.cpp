// The machine's I/O manager services: names, device interfaces, device keys and properties, the device map,
// exclusive opens, power requests, debug output, and two machines side by side on one clock.
#include <gtest/gtest.h>

#include <string>

#include "platform/machine.h"

namespace {

const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// A function driver shaped like a serial port: unnamed exclusive device, ports interface, a DOS link from the
// device key's "PortName", published under SERIALCOMM.
struct PortExt {
    PDEVICE_OBJECT lower;
    PDEVICE_OBJECT pdo;
    UNICODE_STRING interfaceName;
    WCHAR linkBuffer[64];
    UNICODE_STRING linkName;
    LONG powerCompletions;
    POWER_STATE lastPowerState;
    PIRP waitWake;
    NTSTATUS waitWakeStatus;
};

NTSTATUS PassDown(PDEVICE_OBJECT d, PIRP Irp)
{
    IoSkipCurrentIrpStackLocation(Irp);
    return IoCallDriver(static_cast<PortExt*>(d->DeviceExtension)->lower, Irp);
}

NTSTATUS CompleteOk(PDEVICE_OBJECT, PIRP Irp)
{
    Irp->IoStatus.Status = STATUS_SUCCESS;
    Irp->IoStatus.Information = 0;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS PortPnp(PDEVICE_OBJECT d, PIRP Irp)
{
    auto* e = static_cast<PortExt*>(d->DeviceExtension);
    if (IoGetCurrentIrpStackLocation(Irp)->MinorFunction != IRP_MN_REMOVE_DEVICE) return PassDown(d, Irp);
    if (e->linkName.Length) {
        IoDeleteSymbolicLink(&e->linkName);
        RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, u"SERIALCOMM", e->interfaceName.Buffer);
    }
    IoSetDeviceInterfaceState(&e->interfaceName, FALSE);
    RtlFreeUnicodeString(&e->interfaceName);
    PDEVICE_OBJECT lower = e->lower;
    IoSkipCurrentIrpStackLocation(Irp);
    NTSTATUS status = IoCallDriver(lower, Irp);
    IoDetachDevice(lower);
    IoDeleteDevice(d);
    return status;
}

VOID PowerDone(PDEVICE_OBJECT d, UCHAR, POWER_STATE state, PVOID context, PIO_STATUS_BLOCK status)
{
    auto* e = static_cast<PortExt*>(context);
    EXPECT_EQ(d, e->pdo);  // the device the request was made for
    e->powerCompletions++;
    e->lastPowerState = state;
    e->waitWakeStatus = status->Status;
}

NTSTATUS PortAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT d;
    NTSTATUS status = IoCreateDevice(driver, sizeof(PortExt), nullptr, FILE_DEVICE_SERIAL_PORT,
                                     FILE_DEVICE_SECURE_OPEN, TRUE, &d);
    if (!NT_SUCCESS(status)) return status;
    auto* e = static_cast<PortExt*>(d->DeviceExtension);
    e->pdo = pdo;
    e->lower = IoAttachDeviceToDeviceStack(d, pdo);
    status = IoRegisterDeviceInterface(pdo, &kPortsClass, nullptr, &e->interfaceName);
    if (!NT_SUCCESS(status)) return status;
    IoSetDeviceInterfaceState(&e->interfaceName, TRUE);
    HANDLE key;
    status = IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key);
    if (NT_SUCCESS(status)) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, u"PortName");
        alignas(8) UCHAR buffer[offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) + 64];
        ULONG result;
        if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer, sizeof(buffer), &result))) {
            auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
            e->linkName.Buffer = e->linkBuffer;
            e->linkName.MaximumLength = sizeof(e->linkBuffer);
            RtlAppendUnicodeToString(&e->linkName, u"\\DosDevices\\");
            UNICODE_STRING port{static_cast<USHORT>(info->DataLength - 2), static_cast<USHORT>(info->DataLength),
                                reinterpret_cast<PWSTR>(info->Data)};
            RtlAppendUnicodeStringToString(&e->linkName, &port);
            if (NT_SUCCESS(IoCreateSymbolicLink(&e->linkName, &e->interfaceName))) {
                RtlWriteRegistryValue(RTL_REGISTRY_DEVICEMAP, u"SERIALCOMM", e->interfaceName.Buffer, REG_SZ,
                                      info->Data, info->DataLength);
            }
        }
        ZwClose(key);
    }
    DbgPrint("PortAddDevice: %s\n", e->linkName.Length ? "linked" : "no PortName");
    d->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    d->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS PortEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (auto& f : driver->MajorFunction) f = PassDown;
    driver->MajorFunction[IRP_MJ_CREATE] = CompleteOk;
    driver->MajorFunction[IRP_MJ_CLOSE] = CompleteOk;
    driver->MajorFunction[IRP_MJ_CLEANUP] = CompleteOk;
    driver->MajorFunction[IRP_MJ_PNP] = PortPnp;
    driver->DriverExtension->AddDevice = PortAddDevice;
    return STATUS_SUCCESS;
}

// A lower filter with a fixed device name and link, as the data pump has.
struct FilterExt {
    PDEVICE_OBJECT lower;
    UNICODE_STRING link;
};

NTSTATUS FilterPass(PDEVICE_OBJECT d, PIRP Irp)
{
    auto* e = static_cast<FilterExt*>(d->DeviceExtension);
    PIO_STACK_LOCATION s = IoGetCurrentIrpStackLocation(Irp);
    bool remove = s->MajorFunction == IRP_MJ_PNP && s->MinorFunction == IRP_MN_REMOVE_DEVICE;
    if (remove) IoDeleteSymbolicLink(&e->link);
    PDEVICE_OBJECT lower = e->lower;
    IoSkipCurrentIrpStackLocation(Irp);
    NTSTATUS status = IoCallDriver(lower, Irp);
    if (remove) {
        IoDetachDevice(lower);
        IoDeleteDevice(d);
    }
    return status;
}

NTSTATUS FilterAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\TestDsp");
    PDEVICE_OBJECT d;
    NTSTATUS status = IoCreateDevice(driver, sizeof(FilterExt), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &d);
    if (!NT_SUCCESS(status)) return status;
    auto* e = static_cast<FilterExt*>(d->DeviceExtension);
    e->lower = IoAttachDeviceToDeviceStack(d, pdo);
    RtlInitUnicodeString(&e->link, u"\\DosDevices\\TestDsp");
    status = IoCreateSymbolicLink(&e->link, &name);
    d->Flags &= ~DO_DEVICE_INITIALIZING;
    return status;
}

NTSTATUS FilterEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (auto& f : driver->MajorFunction) f = FilterPass;
    driver->DriverExtension->AddDevice = FilterAddDevice;
    return STATUS_SUCCESS;
}

class MachineTest : public ::testing::Test {
protected:
    void Build(platform::Machine& m, platform::DeviceStack** stack, const char* port)
    {
        PDRIVER_OBJECT filter, fdo;
        ASSERT_EQ(m.LoadDriver("TestDsp", FilterEntry, &filter), STATUS_SUCCESS);
        ASSERT_EQ(m.LoadDriver("Port", PortEntry, &fdo), STATUS_SUCCESS);
        platform::StackConfig config;
        if (port) config.portName = port;
        ASSERT_EQ(m.BuildStack({filter, fdo}, config, stack), STATUS_SUCCESS);
    }
    PortExt* Port(platform::Machine& m, platform::DeviceStack* s)
    {
        return static_cast<PortExt*>(m.TopDevice(s)->DeviceExtension);
    }

    platform::Clock clock;
    platform::ClockThread self{clock};
};

TEST_F(MachineTest, PortNameLinkInterfaceAndDeviceMap)
{
    platform::Machine m({&clock, "m", ""});
    platform::DeviceStack* s;
    Build(m, &s, "COM3");
    auto interfaces = m.Interfaces();
    ASSERT_EQ(interfaces.size(), 1u);
    EXPECT_TRUE(interfaces[0].enabled);
    EXPECT_EQ(interfaces[0].classGuid, "{4d36e978-e325-11ce-bfc1-08002be10318}");
    EXPECT_EQ(m.ResolveLink("\\DosDevices\\COM3"), interfaces[0].name);
    EXPECT_EQ(m.ResolveLink("\\??\\com3"), interfaces[0].name);
    std::string port;
    EXPECT_EQ(m.RegQueryString("\\REGISTRY\\MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM", interfaces[0].name, &port),
              STATUS_SUCCESS);
    EXPECT_EQ(port, "COM3");
    EXPECT_EQ(m.DebugText(), "PortAddDevice: linked\n");

    // Opening by the DOS name reaches the top of the stack; the device is exclusive.
    PFILE_OBJECT f1, f2;
    ASSERT_EQ(m.OpenByName("COM3", &f1), STATUS_SUCCESS);
    EXPECT_EQ(f1->DeviceObject, m.TopDevice(s));
    EXPECT_EQ(m.OpenByName("\\DosDevices\\COM3", &f2), STATUS_ACCESS_DENIED);
    EXPECT_EQ(m.OpenByName("\\Device\\TestDsp", &f2), STATUS_ACCESS_DENIED);  // same stack
    EXPECT_EQ(m.Close(f1), STATUS_SUCCESS);
    ASSERT_EQ(m.OpenByName("\\Device\\TestDsp", &f2), STATUS_SUCCESS);
    EXPECT_EQ(f2->DeviceObject, m.TopDevice(s));
    EXPECT_EQ(m.Close(f2), STATUS_SUCCESS);
    EXPECT_EQ(m.OpenByName("COM4", &f2), STATUS_OBJECT_NAME_NOT_FOUND);

    EXPECT_EQ(m.RemoveStack(s), STATUS_SUCCESS);
    EXPECT_EQ(m.ResolveLink("\\DosDevices\\COM3"), "");
    EXPECT_EQ(m.ResolveLink("\\DosDevices\\TestDsp"), "");
    EXPECT_TRUE(m.RegValueNames("\\REGISTRY\\MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM").empty());
    EXPECT_EQ(m.OpenByName("COM3", &f1), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(m.LiveBlocks(), 0);  // the interface name went back to the pool
}

TEST_F(MachineTest, WithoutPortNameTheDeviceHasNoLink)
{
    platform::Machine m({&clock, "m", ""});
    platform::DeviceStack* s;
    Build(m, &s, nullptr);
    EXPECT_EQ(m.DebugText(), "PortAddDevice: no PortName\n");
    EXPECT_EQ(m.ResolveLink("\\DosDevices\\COM3"), "");
    EXPECT_EQ(m.RemoveStack(s), STATUS_SUCCESS);
}

TEST_F(MachineTest, TwoMachinesOnOneClockHaveTheirOwnNames)
{
    platform::Machine a({&clock, "a", ""});
    platform::Machine b({&clock, "b", ""});
    platform::DeviceStack *sa, *sb;
    Build(a, &sa, "COM3");
    Build(b, &sb, "COM3");  // the same device name and port name in the second machine
    PFILE_OBJECT fa, fb;
    ASSERT_EQ(a.OpenByName("COM3", &fa), STATUS_SUCCESS);
    ASSERT_EQ(b.OpenByName("COM3", &fb), STATUS_SUCCESS);
    EXPECT_NE(fa->DeviceObject, fb->DeviceObject);
    a.Close(fa);
    b.Close(fb);
    EXPECT_EQ(a.DebugText(), "PortAddDevice: linked\n");
    EXPECT_EQ(b.DebugText(), "PortAddDevice: linked\n");
    EXPECT_EQ(a.RemoveStack(sa), STATUS_SUCCESS);
    EXPECT_EQ(b.RemoveStack(sb), STATUS_SUCCESS);
}

TEST_F(MachineTest, SecondNamedDeviceInOneMachineCollides)
{
    platform::Machine m({&clock, "m", ""});
    platform::DeviceStack *s1, *s2;
    Build(m, &s1, nullptr);
    PDRIVER_OBJECT filter, fdo;
    ASSERT_EQ(m.LoadDriver("TestDsp2", FilterEntry, &filter), STATUS_SUCCESS);
    ASSERT_EQ(m.LoadDriver("Port2", PortEntry, &fdo), STATUS_SUCCESS);
    EXPECT_EQ(m.AddStack({filter, fdo}, {}, &s2), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(m.RemoveStack(s1), STATUS_SUCCESS);
}

TEST_F(MachineTest, DevicePropertiesAndKeys)
{
    platform::Machine m({&clock, "m", ""});
    platform::DeviceStack* s;
    Build(m, &s, "COM7");
    platform::MachineScope scope(m);
    PDEVICE_OBJECT pdo = m.PhysicalDevice(s);
    ULONG needed = 0;
    EXPECT_EQ(IoGetDeviceProperty(pdo, DevicePropertyDriverKeyName, 0, nullptr, &needed), STATUS_BUFFER_TOO_SMALL);
    std::string expected = m.DriverKeyName(s);
    EXPECT_EQ(needed, (expected.size() + 1) * 2);
    std::u16string buffer(needed / 2, u'?');
    EXPECT_EQ(IoGetDeviceProperty(pdo, DevicePropertyDriverKeyName, needed, buffer.data(), &needed), STATUS_SUCCESS);
    EXPECT_EQ(buffer.back(), u'\0');
    EXPECT_EQ(std::string(buffer.begin(), buffer.end() - 1), expected);
    EXPECT_EQ(expected.rfind("{4d36e96d-e325-11ce-bfc1-08002be10318}\\", 0), 0u);
    std::string port;
    EXPECT_EQ(m.RegQueryString(m.DeviceKeyPath(s), "PortName", &port), STATUS_SUCCESS);
    EXPECT_EQ(port, "COM7");
    EXPECT_TRUE(IoIsWdmVersionAvailable(1, 0x10));
    EXPECT_EQ(m.RemoveStack(s), STATUS_SUCCESS);
}

TEST_F(MachineTest, OlderKernelReportsNoWdm110)
{
    platform::MachineConfig config{&clock, "old", ""};
    config.wdm110Available = false;
    platform::Machine m(config);
    platform::MachineScope scope(m);
    EXPECT_FALSE(IoIsWdmVersionAvailable(1, 0x10));
    EXPECT_TRUE(IoIsWdmVersionAvailable(1, 0x00));
}

TEST_F(MachineTest, PowerRequestsReachThePhysicalDeviceAndComplete)
{
    platform::Machine m({&clock, "m", ""});
    platform::DeviceStack* s;
    Build(m, &s, nullptr);
    PortExt* e = Port(m, s);
    DEVICE_CAPABILITIES caps;
    EXPECT_EQ(m.QueryCapabilities(s, &caps), STATUS_SUCCESS);
    EXPECT_EQ(caps.DeviceState[PowerSystemWorking], PowerDeviceD0);
    EXPECT_EQ(caps.DeviceState[PowerSystemHibernate], PowerDeviceD3);
    {
        platform::MachineScope scope(m);
        POWER_STATE d3;
        d3.DeviceState = PowerDeviceD3;
        EXPECT_EQ(PoRequestPowerIrp(e->pdo, IRP_MN_SET_POWER, d3, PowerDone, e, nullptr), STATUS_PENDING);
        EXPECT_EQ(e->powerCompletions, 1);
        EXPECT_EQ(e->lastPowerState.DeviceState, PowerDeviceD3);
        EXPECT_EQ(m.PhysicalDevice(s)->PlatformPowerState, PowerDeviceD3);
        // Wait-wake stays pending at the physical device until cancelled.
        POWER_STATE wake;
        wake.SystemState = PowerSystemSleeping3;
        EXPECT_EQ(PoRequestPowerIrp(e->pdo, IRP_MN_WAIT_WAKE, wake, PowerDone, e, &e->waitWake), STATUS_PENDING);
        EXPECT_EQ(e->powerCompletions, 1);
        EXPECT_TRUE(IoCancelIrp(e->waitWake));
        EXPECT_EQ(e->powerCompletions, 2);
        EXPECT_EQ(e->waitWakeStatus, STATUS_CANCELLED);
    }
    POWER_STATE d0;
    d0.DeviceState = PowerDeviceD0;
    EXPECT_EQ(m.SendPower(s, IRP_MN_SET_POWER, DevicePowerState, d0), STATUS_SUCCESS);
    EXPECT_EQ(m.PhysicalDevice(s)->PlatformPowerState, PowerDeviceD0);
    EXPECT_EQ(m.RemoveStack(s), STATUS_SUCCESS);
}

struct DpcSeen {
    PDEVICE_OBJECT device = nullptr;
    PVOID context = nullptr;
    KIRQL irql = 0xFF;
    KEVENT done;
};
DpcSeen g_dpcSeen;

VOID DeviceDpcRoutine(PKDPC, PDEVICE_OBJECT DeviceObject, PIRP, PVOID Context)
{
    g_dpcSeen.device = DeviceObject;
    g_dpcSeen.context = Context;
    g_dpcSeen.irql = KeGetCurrentIrql();
    KeSetEvent(&g_dpcSeen.done, 0, FALSE);
}

TEST_F(MachineTest, DeviceDpcRunsWithItsDeviceAndContext)
{
    platform::Machine m({&clock, "m", ""});
    platform::DeviceStack* s;
    Build(m, &s, nullptr);
    PDEVICE_OBJECT top = m.TopDevice(s);
    {
        platform::MachineScope scope(m);
        KeInitializeEvent(&g_dpcSeen.done, NotificationEvent, FALSE);
        IoInitializeDpcRequest(top, DeviceDpcRoutine);
        int context = 0;
        IoRequestDpc(top, nullptr, &context);
        KeWaitForSingleObject(&g_dpcSeen.done, Executive, KernelMode, FALSE, nullptr);
        EXPECT_EQ(g_dpcSeen.device, top);
        EXPECT_EQ(g_dpcSeen.context, &context);
        EXPECT_EQ(g_dpcSeen.irql, DISPATCH_LEVEL);
    }
    EXPECT_EQ(m.RemoveStack(s), STATUS_SUCCESS);
}

NTSTATUS FailingAddDevice(PDRIVER_OBJECT, PDEVICE_OBJECT) { return STATUS_INSUFFICIENT_RESOURCES; }

NTSTATUS FailingEntry(PDRIVER_OBJECT driver, PUNICODE_STRING path)
{
    DbgPrint("DriverEntry %.*s\n", path->Length / 2, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx");
    driver->DriverExtension->AddDevice = FailingAddDevice;
    return STATUS_SUCCESS;
}

TEST_F(MachineTest, FailedAddDeviceRemovesWhatWasBuilt)
{
    platform::Machine m({&clock, "m", ""});
    PDRIVER_OBJECT filter, failing;
    ASSERT_EQ(m.LoadDriver("TestDsp", FilterEntry, &filter), STATUS_SUCCESS);
    ASSERT_EQ(m.LoadDriver("Failing", FailingEntry, &failing), STATUS_SUCCESS);
    platform::DeviceStack* s = nullptr;
    EXPECT_EQ(m.AddStack({filter, failing}, {}, &s), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(filter->DeviceObject, nullptr);  // the filter got REMOVE and deleted its device
    EXPECT_EQ(m.ResolveLink("\\DosDevices\\TestDsp"), "");
}

}  // namespace
