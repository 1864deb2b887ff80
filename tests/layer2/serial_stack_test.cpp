// The controller on the whole device stack: the line's lower driver, the data pump, then the controller.
#include "layer2/corecode/dte/dte.h"
#include "line/line_network.h"
#include "serial_fixture.h"
#include "stack/modem_stack.h"

namespace {

TEST(SerialStack, ControllerBindsToTheDataPumpAtStart)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    LineNetwork* network = LineNetworkCreate();
    LinePortConfig port_config;
    port_config.name = "modem1";
    LinePort* port = LineNetworkAddPort(network, port_config);
    {
        platform::MachineConfig config;
        config.clock = &clock;
        config.name = "modem1";
        platform::Machine machine(config);
        ModemStack stack(machine);
        ModemStackConfig stack_config;
        stack_config.port = port;
        stack_config.portName = "COM7";
        stack_config.coreHooks = SerialTestCoreHooks();
        ASSERT_EQ(stack.Build(stack_config), STATUS_SUCCESS);
        ModemDeviceExtension* ext = stack.Controller();
        ASSERT_NE(ext->dsp_context, nullptr);
        EXPECT_EQ(ext->dsp_block, ext->dsp_context->interfaceBlock);
        ASSERT_NE(ext->dsp_block, nullptr);
        EXPECT_EQ(ext->register_window, ext->dsp_block->window.reg);
        EXPECT_EQ(ext->dsp_block->controllerCallback, SerialTestCoreHooks()->dsp_event_routine);

        PFILE_OBJECT file = nullptr;
        ASSERT_EQ(machine.OpenByName("COM7", &file), STATUS_SUCCESS);
        ULONG_PTR n = 0;
        ASSERT_EQ(machine.Write(file, "AT\r", 3, &n), STATUS_SUCCESS);
        EXPECT_EQ(n, 3u);
        EXPECT_EQ(dte_cmd_in_count(&ext->dte), 3);
        ASSERT_EQ(machine.Close(file), STATUS_SUCCESS);
        ASSERT_EQ(stack.Remove(), STATUS_SUCCESS);
        EXPECT_EQ(machine.LiveBlocks(POOL_TAG('W', 'd', 'm', ' ')), 0);
    }
    LineNetworkDestroy(network);
}

}  // namespace
