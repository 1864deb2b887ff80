// A controller over the fake data pump on a virtual clock, with the real modem core and command side: AT
// dialogues through the serial device's write and read requests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core_fixture.h"
#include "serial_read.h"
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/modem_core_link.h"
#include "layer2/windows/wdm/serial_ioctl.h"
#include "stack/modem_stack.h"
#include "support/pump_stand_in.h"

namespace attest {

class AtStack {
public:
    explicit AtStack(const std::string& registry_file) : m_(registry_file, 100000)
    {
        platform::Machine& m = m_.M();
        ModemStackConfig config;
        config.portName = "COM9";
        config.pumpEntry = FakePumpDriverEntry;
        config.pumpService = "FakePump";
        config.withLine = false;
        EXPECT_EQ(stack_.Build(config), STATUS_SUCCESS);
        EXPECT_EQ(m.Open(stack_.Stack(), &file_), STATUS_SUCCESS);
        ULONG t[5] = {0xFFFFFFFF, 0, 0, 0, 0};  // reads return at once with what is waiting
        ULONG_PTR info = 0;
        EXPECT_EQ(m.DeviceIoControl(file_, IOCTL_SERIAL_SET_TIMEOUTS, t, sizeof t, nullptr, 0, &info),
                  STATUS_SUCCESS);
    }
    ~AtStack()
    {
        platform::Machine& m = m_.M();
        if (file_ != nullptr)
            m.Close(file_);
        stack_.Remove();
        EXPECT_EQ(m.LiveBlocks(POOL_TAG('W', 'd', 'm', ' ')), 0);
    }

    AcuContext* Acu() { return stack_.Controller()->acu; }
    platform::Machine& M() { return m_.M(); }

    void Send(const std::string& text)
    {
        ULONG_PTR info = 0;
        ASSERT_EQ(m_.M().Write(file_, text.data(), static_cast<ULONG>(text.size()), &info), STATUS_SUCCESS);
        ASSERT_EQ(info, text.size());
    }

    // Everything the modem sends within `ms` of virtual time.
    std::string Read(int ms)
    {
        return serialtest::ReadFor(m_.M(), file_, ms);
    }

    // Sends a line and returns what comes back within `ms`.
    std::string Dialogue(const std::string& text, int ms = 400)
    {
        Send(text);
        return Read(ms);
    }

private:
    coretest::CoreMachine m_;
    ModemStack stack_{m_.M()};
    PFILE_OBJECT file_ = nullptr;
};

// Makes the control characters of a response readable in failure messages.
inline std::string Visible(const std::string& s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c < 32 || c > 126) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

}  // namespace attest
