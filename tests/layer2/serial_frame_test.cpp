// The device frame: start with the pointer exchange, names, create and close, removal, power.
#include <atomic>
#include <cstring>
#include <thread>

#include "layer2/corecode/dte/dte.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/port_irql.h"
#include "layer2/windows/wdm/power_map.h"
#include "serial_fixture.h"
#include "support/counted_thread.h"

namespace {

using SerialFrame = SerialDevice;

TEST_F(SerialFrame, StartExchangesPointersWithThePump)
{
    ASSERT_EQ(AddStack(), STATUS_SUCCESS);
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    EXPECT_EQ(Pump()->controller_callback, SerialTestCoreHooks()->dsp_event_routine);
    EXPECT_EQ(Ext()->dsp_context, &Pump()->context);
    EXPECT_EQ(Ext()->dsp_block, &Pump()->block);
    EXPECT_EQ(Ext()->register_window, Pump()->block.window.reg);
    EXPECT_EQ(Ext()->pnp_state, ULONG{PNP_STARTED});
}

TEST_F(SerialFrame, StartWithoutAnInterfaceFailsAndLaterRequestsAreRefused)
{
    ASSERT_EQ(AddStack(), STATUS_SUCCESS);
    Pump()->answer_null_context = true;
    EXPECT_EQ(Start(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(Ext()->started.load());
    PFILE_OBJECT file = nullptr;
    EXPECT_EQ(machine_->Open(stack_, &file), STATUS_UNSUCCESSFUL);
}

TEST_F(SerialFrame, StartWithoutARegisterWindowLogsAndFails)
{
    ASSERT_EQ(AddStack(), STATUS_SUCCESS);
    Pump()->answer_null_block = true;
    EXPECT_EQ(Start(), STATUS_NO_MEMORY);
    EXPECT_NE(machine_->DebugText().find("MmMapIoSpace() failed. layer2\\windows\\wdm\\pnp(1746)\n"),
              std::string::npos);
    EXPECT_FALSE(Ext()->started.load());
}

TEST_F(SerialFrame, AddDevicePublishesTheDosNameAndSerialcomm)
{
    ASSERT_EQ(AddStack("COM5"), STATUS_SUCCESS);
    std::string target = machine_->ResolveLink("\\DosDevices\\COM5");
    EXPECT_FALSE(target.empty());
    const std::string map = "\\REGISTRY\\MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
    std::vector<std::string> names = machine_->RegValueNames(map);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], target);
    std::string data;
    ASSERT_EQ(machine_->RegQueryString(map, names[0], &data), STATUS_SUCCESS);
    EXPECT_EQ(data, "COM5");
    bool enabled = false;
    for (const platform::InterfaceInfo& i : machine_->Interfaces())
        if (i.name == target)
            enabled = i.enabled;
    EXPECT_TRUE(enabled);
}

TEST_F(SerialFrame, AddDeviceWithoutPortNameStillSucceeds)
{
    ASSERT_EQ(AddStack(nullptr), STATUS_SUCCESS);
    EXPECT_EQ(Ext()->dos_name.Buffer, nullptr);
    EXPECT_TRUE(machine_->RegValueNames("\\REGISTRY\\MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM").empty());
    ASSERT_EQ(Start(), STATUS_SUCCESS);
}

TEST_F(SerialFrame, NullPhysicalDeviceIsRefused)
{
    EXPECT_EQ(ModemAddDevice(ctl_driver_, nullptr), STATUS_NO_MORE_ENTRIES);
}

TEST_F(SerialFrame, SecondCreateIsRefusedAndOpenCountStaysOne)
{
    BuildAndOpen();
    PFILE_OBJECT second = nullptr;
    EXPECT_NE(machine_->OpenByName("COM5", &second), STATUS_SUCCESS);
    EXPECT_EQ(Ext()->open_count, 1);
    EXPECT_EQ(Ext()->port_record.open_marker.load(), PORT_OPEN_MARKER);
    EXPECT_EQ(Pump()->creates, 1);
    ASSERT_EQ(machine_->Close(file_), STATUS_SUCCESS);
    file_ = nullptr;
    EXPECT_EQ(Ext()->open_count, 0);
    EXPECT_EQ(Ext()->port_record.open_marker.load(), 0);
    // And the port opens again.
    ASSERT_EQ(machine_->OpenByName("COM5", &file_), STATUS_SUCCESS);
}

TEST_F(SerialFrame, OpenResetsTheLinesAndClampsTheDteSide)
{
    BuildAndOpen();
    DteContext* d = &Ext()->dte;
    EXPECT_EQ(d->line.dtr.load(), 1);
    EXPECT_EQ(d->line.rts.load(), 1);
    EXPECT_EQ(d->mode.load(), DTE_MODE_COMMAND);
    EXPECT_EQ(d->flow.clamp.load(), 1);
    // Bytes written while clamped reach the command input ring.
    ULONG_PTR n = 0;
    ASSERT_EQ(machine_->Write(file_, "AT\r", 3, &n), STATUS_SUCCESS);
    EXPECT_EQ(n, 3u);
    ASSERT_EQ(dte_cmd_in_count(d), 3);
    EXPECT_EQ(dte_cmd_in_get(d), 'A');
    EXPECT_EQ(dte_cmd_in_get(d), 'T');
    EXPECT_EQ(dte_cmd_in_get(d), '\r');
}

TEST_F(SerialFrame, RemoveWaitsForOutstandingRequestsAndRemovesTheNames)
{
    BuildAndOpen();
    SetTimeouts(0, 0, 0);
    // A read that waits for all its bytes.
    platform::IoRequest* read = machine_->StartRead(file_, 8);
    Sleep(5);
    ASSERT_FALSE(machine_->IsDone(read));
    std::atomic<bool> removed{false};
    std::thread remover = testsupport::StartCountedThread(*clock_, "remover", [&] {
        EXPECT_EQ(machine_->RemoveStack(stack_), STATUS_SUCCESS);
        removed = true;
    });
    Sleep(50);
    EXPECT_FALSE(removed.load());
    DteContext* d = &Ext()->dte;
    for (int i = 0; i < 8; i++)
        dte_app_rx_put(d, static_cast<uint8_t>('0' + i));
    EXPECT_EQ(machine_->Wait(read), STATUS_SUCCESS);
    EXPECT_EQ(machine_->RequestOutput(read), (std::vector<uint8_t>{'0', '1', '2', '3', '4', '5', '6', '7'}));
    machine_->FreeRequest(read);
    while (!removed.load())
        Sleep(1);
    remover.join();
    removed_ = true;
    EXPECT_TRUE(removed.load());
    EXPECT_TRUE(machine_->ResolveLink("\\DosDevices\\COM5").empty());
    EXPECT_TRUE(machine_->RegValueNames("\\REGISTRY\\MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM").empty());
    for (const platform::InterfaceInfo& i : machine_->Interfaces())
        EXPECT_FALSE(i.enabled);
}

TEST_F(SerialFrame, HeldRequestsCompleteWithDeletePendingAtRemoval)
{
    BuildAndOpen();
    ASSERT_EQ(machine_->SendPnp(stack_, IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    platform::IoRequest* held = machine_->StartRequest(file_, IRP_MJ_SYSTEM_CONTROL, 0);
    Sleep(1);
    EXPECT_FALSE(machine_->IsDone(held));
    ASSERT_EQ(machine_->RemoveStack(stack_), STATUS_SUCCESS);
    removed_ = true;
    EXPECT_EQ(machine_->Wait(held), STATUS_DELETE_PENDING);
    machine_->FreeRequest(held);
}

TEST_F(SerialFrame, NestedIrqlSectionLowersAtTheLastLeave)
{
    BuildAndOpen();
    ModemDeviceExtension* ext = Ext();
    ASSERT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    port_irql_enter(ext);
    port_irql_enter(ext);
    port_irql_enter(ext);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    port_irql_leave(ext);
    port_irql_leave(ext);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    port_irql_leave(ext);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    port_irql_leave(ext);  // no section open: nothing happens
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST_F(SerialFrame, DevicePowerQueryRefusesD1)
{
    BuildAndOpen();
    POWER_STATE state;
    state.DeviceState = PowerDeviceD1;
    EXPECT_EQ(machine_->SendPower(stack_, IRP_MN_QUERY_POWER, DevicePowerState, state), STATUS_POWER_STATE_INVALID);
    state.DeviceState = PowerDeviceD3;
    EXPECT_EQ(machine_->SendPower(stack_, IRP_MN_QUERY_POWER, DevicePowerState, state), STATUS_SUCCESS);
}

TEST_F(SerialFrame, DevicePowerStepsSetTheMarkers)
{
    BuildAndOpen();
    POWER_STATE state;
    state.DeviceState = PowerDeviceD3;
    ASSERT_EQ(machine_->SendPower(stack_, IRP_MN_SET_POWER, DevicePowerState, state), STATUS_SUCCESS);
    EXPECT_EQ(Ext()->power_marker.load(), 5);
    Pump()->block.window.reg[247] = 0;
    state.DeviceState = PowerDeviceD0;
    ASSERT_EQ(machine_->SendPower(stack_, IRP_MN_SET_POWER, DevicePowerState, state), STATUS_SUCCESS);
    EXPECT_EQ(Ext()->power_marker.load(), 2);
    EXPECT_EQ(Pump()->block.window.reg[247] & 0x02, 0x02);
}

TEST_F(SerialFrame, SystemToDeviceStateMap)
{
    DEVICE_CAPABILITIES caps{};
    caps.DeviceState[PowerSystemWorking] = PowerDeviceD0;
    caps.DeviceState[PowerSystemSleeping1] = PowerDeviceD1;
    caps.DeviceState[PowerSystemSleeping3] = PowerDeviceD3;
    caps.DeviceState[PowerSystemHibernate] = PowerDeviceD3;
    struct Case {
        int system;
        DEVICE_POWER_STATE device;
    };
    const Case cases[] = {{-1, PowerDeviceD0},           {PowerSystemUnspecified, PowerDeviceD0},
                          {PowerSystemWorking, PowerDeviceD0}, {PowerSystemSleeping1, PowerDeviceD2},
                          {PowerSystemSleeping2, PowerDeviceD2}, {PowerSystemSleeping3, PowerDeviceD3},
                          {PowerSystemHibernate, PowerDeviceD3}, {PowerSystemMaximum, PowerDeviceD0}};
    for (const Case& c : cases)
        EXPECT_EQ(ModemSystemToDeviceState(&caps, c.system), c.device) << c.system;
}

TEST_F(SerialFrame, CapabilitiesLoseWakeFromD0)
{
    ASSERT_EQ(AddStack(), STATUS_SUCCESS);
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    DEVICE_CAPABILITIES caps{};
    ASSERT_EQ(machine_->QueryCapabilities(stack_, &caps), STATUS_SUCCESS);
    EXPECT_EQ(caps.WakeFromD0, 0u);
    EXPECT_EQ(Ext()->capabilities.WakeFromD0, 0u);
}

TEST_F(SerialFrame, TwoModemsKeepTheirOwnState)
{
    BuildAndOpen();
    platform::DeviceStack* second = nullptr;
    platform::StackConfig config;
    config.portName = "COM6";
    ASSERT_EQ(machine_->AddStack({pump_driver_, ctl_driver_}, config, &second), STATUS_SUCCESS);
    ModemDeviceExtension* ext2 = ModemExtension(machine_->TopDevice(second));
    ext2->core_hooks = SerialTestCoreHooks();
    ASSERT_EQ(machine_->StartStack(second), STATUS_SUCCESS);
    PFILE_OBJECT f2 = nullptr;
    ASSERT_EQ(machine_->OpenByName("COM6", &f2), STATUS_SUCCESS);
    ULONG_PTR n = 0;
    ASSERT_EQ(machine_->Write(f2, "ATZ\r", 4, &n), STATUS_SUCCESS);
    EXPECT_EQ(dte_cmd_in_count(&ext2->dte), 4);
    EXPECT_EQ(dte_cmd_in_count(&Ext()->dte), 0);
    ASSERT_EQ(machine_->Close(f2), STATUS_SUCCESS);
    ASSERT_EQ(machine_->RemoveStack(second), STATUS_SUCCESS);
}

}  // namespace
