// The modem core under the real driver frame: started and stopped with the device, settings kept across a
// teardown of the whole device stack on one registry file.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core_fixture.h"
#include "layer2/corecode/cmd/country.h"
#include "layer2/corecode/cmd/nvram.h"
#include "layer2/corecode/cmd/reg_access.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/modem_core_link.h"
#include "layer2/windows/wdm/serial_ioctl.h"
#include "stack/modem_stack.h"
#include "support/pump_stand_in.h"

using namespace coretest;

namespace {

// One machine with the fake data pump and the controller, the controller running the modem core.
class CoreStack {
public:
    explicit CoreStack(const std::string& registry_file) : m_(registry_file, 100000)
    {
        ModemStackConfig config;
        config.portName = "COM7";
        config.pumpEntry = FakePumpDriverEntry;
        config.pumpService = "FakePump";
        config.withLine = false;
        config.start = false;
        EXPECT_EQ(stack_.Build(config), STATUS_SUCCESS);
        start_status_ = stack_.Start();
    }
    ~CoreStack()
    {
        if (file_ != nullptr)
            m_.M().Close(file_);
        stack_.Remove();
        EXPECT_EQ(m_.M().LiveBlocks(POOL_TAG('W', 'd', 'm', ' ')), 0) << "everything the core took is freed";
    }
    NTSTATUS StartStatus() const { return start_status_; }
    ModemDeviceExtension* Ext() { return stack_.Controller(); }
    CoreSettings* S() { return Ext()->core != nullptr ? &Ext()->core->settings : nullptr; }
    CoreMachine& Machine() { return m_; }
    PFILE_OBJECT Open()
    {
        EXPECT_EQ(m_.M().Open(stack_.Stack(), &file_), STATUS_SUCCESS);
        return file_;
    }

private:
    CoreMachine m_;
    ModemStack stack_{m_.M()};
    PFILE_OBJECT file_ = nullptr;
    NTSTATUS start_status_ = STATUS_UNSUCCESSFUL;
};

TEST(CoreStackTest, SettingsSurviveATeardownOfTheStack)
{
    TempRegistry reg;
    NvramImage before{};
    {
        CoreStack stack(reg.Path());
        ASSERT_EQ(stack.StartStatus(), STATUS_SUCCESS);
        CoreSettings* s = stack.S();
        ASSERT_NE(s, nullptr);
        EXPECT_TRUE(nv_image_valid(s)) << "a fresh registry gets the factory image";
        EXPECT_STREQ(s->current.iso, "USA");
        const uint8_t number[9] = {'0', '2', '0', '7', '9', '4', '6', 0, 0};
        ASSERT_EQ(nv_write(s, nv_number_offset(0), 9, number), 0);
        uint8_t sum = nv_checksum(s);
        ASSERT_EQ(nv_write(s, NV_CHECKSUM, 1, &sum), 0);
        ASSERT_TRUE(country_choose(s, static_cast<unsigned>(country_find_t35(s, 0xB4))));  // United Kingdom
        ASSERT_EQ(hook_flash_store(s, 1), REG_OK);
        before = s->nv;
    }
    CoreStack stack(reg.Path());
    ASSERT_EQ(stack.StartStatus(), STATUS_SUCCESS);
    CoreSettings* s = stack.S();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::memcmp(s->nv.bytes, before.bytes, NV_SIZE), 0);
    EXPECT_STREQ(s->current.iso, "GBR");
    EXPECT_EQ(std::memcmp(s->block.bytes, country_builtin_block(1).bytes, COUNTRY_BLOCK_SIZE), 0);
    EXPECT_EQ(s->hook_flash_method, 1);
}

TEST(CoreStackTest, OpenPortRunsTheTimersAndTheWorkersServeRequests)
{
    TempRegistry reg;
    CoreStack stack(reg.Path());
    ASSERT_EQ(stack.StartStatus(), STATUS_SUCCESS);
    ModemCore* core = stack.Ext()->core;
    ASSERT_NE(core, nullptr);
    EXPECT_TRUE(core->tick.started);
    EXPECT_FALSE(core->tick_state.running.load());
    PFILE_OBJECT file = stack.Open();
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(core->tick_state.running.load()) << "the timers run while the port is open";
    EXPECT_TRUE(core->task.started.load());
    platform::Machine& m = stack.Machine().M();
    ULONG before = core->tick_state.tick_count.load();
    platform::SleepMs(200);
    EXPECT_GE(core->tick_state.tick_count.load() - before, 18u);
    EXPECT_GE(core->tick_state.bg_count.load(), 18u);

    // A read that returns at once with what is waiting goes through the read worker.
    ULONG t[5] = {0xFFFFFFFF, 0, 0, 0, 0};
    ULONG_PTR info = 0;
    ASSERT_EQ(m.DeviceIoControl(file, IOCTL_SERIAL_SET_TIMEOUTS, t, sizeof t, nullptr, 0, &info), STATUS_SUCCESS);
    uint8_t buffer[8];
    EXPECT_EQ(m.Read(file, buffer, sizeof buffer, &info), STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    // A write is taken by the write worker into the application queue.
    EXPECT_EQ(m.Write(file, "AT\r", 3, &info), STATUS_SUCCESS);
    EXPECT_EQ(info, 3u);
}

}  // namespace
