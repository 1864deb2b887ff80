// Call control over a scripted data pump, driven pass by pass from the test thread on a virtual clock:
// the command side (AT interpreter and call control) with its DTE rings, the DSP link to the stand-in pump
// (which logs every command packet), and recording handlers for the line-side DSP messages that complete
// dial steps and give the call-restriction verdict the test asks for. The test scripts the pump's
// connection state (register 54) and the call-progress code the tone detectors report.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_context.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_link.h"
#include "layer2/corecode/mt/dsp_router.h"
#include "support/pump_stand_in.h"

namespace calltest {

struct DspMsg {
    uint8_t msgClass;
    uint8_t type;
    uint8_t data;
    bool operator==(const DspMsg& o) const { return msgClass == o.msgClass && type == o.type && data == o.data; }
};

inline std::ostream& operator<<(std::ostream& os, const DspMsg& m)
{
    return os << "{" << int(m.msgClass) << "," << int(m.type) << "," << int(m.data) << "}";
}

class CallRig {
public:
    CallRig()
    {
        DspLinkHooks hooks{};
        DspIcdPumpBindDevice(pump.get(), dev.get(), &hooks);
        DspLineControl* lc = &dev->line;
        lc->toneCtx = this;
        lc->take_tone_result = [](void* c) { return static_cast<CallRig*>(c)->tone; };
        for (uint8_t k : {kMsgHook, kMsgToneDetect, kMsgToneGen, kMsgCountry}) {
            DspHandlerRequest r{k, &CallRig::OnMessage, this};
            EXPECT_EQ(dsp_msg_register_handler(&dev->queue, &r), 0);
        }
        dte_init(dte.get(), nullptr);
        settings_init(settings.get(), nullptr, "", FALSE);
        settings->block = country_builtin_block(0);
        AcuInit(acu.get(), dte.get(), settings.get(), nullptr);
        acu->dsp = dev.get();
        CallControlTick(acu.get());  // initialisation pass
        acu->sreg[14] &= static_cast<uint8_t>(~0x02);  // no echo: the output holds results only
    }

    AcuContext* A() { return acu.get(); }

    void Type(const std::string& text)
    {
        for (char c : text)
            dte_cmd_in_put(dte.get(), static_cast<uint8_t>(c));
    }

    // Runs call control for `ms` of virtual time, one pass per 10 ms.
    void Run(int ms)
    {
        for (int t = 0; t < ms; t += 10) {
            CallControlTick(acu.get());
            platform::SleepMs(10);
        }
    }

    // Runs until the machine is back in Idle or Command with no sequence running (or `limit_ms` passed).
    bool RunUntilSettled(int limit_ms)
    {
        for (int t = 0; t < limit_ms; t += 10) {
            Run(10);
            uint8_t s = acu->call_state;
            if ((s == CALL_IDLE || s == CALL_COMMAND) && acu->seq.test_kind == TEST_NONE && t > 100)
                return true;
        }
        return false;
    }

    // Everything written towards the application since the last call.
    std::string Output()
    {
        std::string out;
        DteContext* d = dte.get();
        while (d->cmd_out.count != 0)
            out.push_back(static_cast<char>(ring_get(&d->cmd_out)));
        return out;
    }

    void PumpState(uint8_t state) { dsp_reg_write(&dev->link, kRegStatus, state); }

    std::vector<IcdLogEntry> Icd() { return DspIcdPumpLog(pump.get()); }
    size_t IcdCount(uint8_t code)
    {
        size_t n = 0;
        for (const IcdLogEntry& e : Icd())
            n += e.code == code;
        return n;
    }

    // Digits and steps the dial executor sent (classes 3 and 6), in order.
    std::vector<DspMsg> DialSteps() const
    {
        std::vector<DspMsg> out;
        for (const DspMsg& m : messages)
            if ((m.msgClass == kMsgHook && m.type >= 5) || m.msgClass == kMsgToneGen)
                out.push_back(m);
        return out;
    }
    bool Saw(uint8_t msg_class, uint8_t type) const
    {
        for (const DspMsg& m : messages)
            if (m.msgClass == msg_class && m.type == type)
                return true;
        return false;
    }

    coretest::CoreMachine machine{"", 100000};
    std::unique_ptr<DspIcdPump> pump = std::make_unique<DspIcdPump>();
    std::unique_ptr<DspDevice> dev = std::make_unique<DspDevice>();
    std::unique_ptr<DteContext> dte = std::make_unique<DteContext>();
    std::unique_ptr<CoreSettings> settings = std::make_unique<CoreSettings>();
    std::unique_ptr<AcuContext> acu = std::make_unique<AcuContext>();

    uint8_t tone = 0;             // call-progress code the detectors report
    uint8_t verdict = 1;          // answer to the number check
    bool completeSteps = true;    // the pump finishes each dial step
    std::vector<DspMsg> messages;

private:
    static void OnMessage(DspMessageNode* node, void* user)
    {
        CallRig* r = static_cast<CallRig*>(user);
        r->messages.push_back({node->msgClass, node->type, node->payload[0]});
        bool step = (node->msgClass == kMsgToneGen && node->type == 7) ||
                    (node->msgClass == kMsgHook && (node->type == 6 || node->type == 8));
        if (step && r->completeSteps)
            acu_dsp_step_done(r->acu.get());
        if (node->msgClass == kMsgCountry && node->type == 3)
            acu_restriction_verdict(r->acu.get(), r->verdict);
    }
};

}  // namespace calltest
