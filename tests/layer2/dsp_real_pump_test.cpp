// The controller's DSP link over the real data pump: the version report through ATI6, the command packets
// exactly as the data pump takes them, every DSP address the controller uses present in the data pump's
// directories, and two senders racing for the channel.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "at_fixture.h"
#include "dsp_real_pump.h"
#include "layer1/dsp/parameter_directory.h"
#include "layer2/corecode/mt/dsp_control.h"

using dsptest::RealPumpModem;
using dsptest::WireCommand;

namespace {

using Bytes = std::vector<uint8_t>;

class DspRealPump : public ::testing::Test {
protected:
    coretest::TempRegistry reg;
    RealPumpModem modem{reg.Path()};
    DspLineControl* Line() { return &modem.Dsp()->line; }
    DspLink* Link() { return &modem.Dsp()->link; }
};

TEST_F(DspRealPump, Ati6PrintsThePumpsVersionReport)
{
    const std::string out = modem.Dialogue("ATI6\r", 600);
    EXPECT_EQ(out, "ATI6\r\r\nDSP Software Version : 1.4.4.67\r\nOK\r\n") << attest::Visible(out);
    bool asked = false;
    for (const WireCommand& c : modem.Log())
        asked = asked || (c.code == 0x94 && c.length == 0);
    EXPECT_TRUE(asked);
}

TEST_F(DspRealPump, Ati20ShowsTheIdleDataPump)
{
    const std::string out = modem.Dialogue("ATI20\r", 600);
    EXPECT_EQ(out, "ATI20\r\r\nConnection Status: Idle\r\nRetrains : 0\r\nRenegs   : 0\r\nOK\r\n")
        << attest::Visible(out);
}

TEST_F(DspRealPump, CommandPacketsAsTheDataPumpTakesThem)
{
    struct Case {
        const char* name;
        int (*send)(DspLineControl*);
        WireCommand wire;
    };
    const Case cases[] = {
        {"speaker on, volume 0 taken as 1",
         [](DspLineControl* c) { c->speakerOn = 1; return dsp_set_speaker_volume(c, 0); }, {0x81, 2, {1, 0}}},
        {"speaker on at 7", [](DspLineControl* c) { c->speakerVolume = 7; return dsp_set_speaker(c, true); },
         {0x81, 2, {7, 0}}},
        {"speaker off", [](DspLineControl* c) { return dsp_set_speaker(c, false); }, {0x81, 2, {0, 0}}},
        {"line bits 2-3 set on channel 0", [](DspLineControl* c) { return dsp_set_line_field_2_3(c, 1, 0); },
         {0x9C, 6, {0xF3, 0xFF, 0x0C, 0x00, 0, 0}}},
        {"line bits 2-3 clear on channel 1", [](DspLineControl* c) { return dsp_set_line_field_2_3(c, 0, 1); },
         {0x9C, 6, {0xF3, 0xFF, 0x00, 0x00, 1, 0}}},
        {"line bits 12-13 := 3 on channel 1", [](DspLineControl* c) { return dsp_set_line_field_12_13(c, 3, 1); },
         {0x9C, 6, {0xFF, 0xCF, 0x00, 0x30, 1, 0}}},
        {"line bits 10-11 := 2", [](DspLineControl* c) { return dsp_set_line_field_10_11(c, 2, 0); },
         {0x9C, 6, {0xFF, 0xF3, 0x00, 0x08, 0, 0}}},
        {"line bits 8-9 := 3", [](DspLineControl* c) { return dsp_set_line_field_8_9(c, 3, 1); },
         {0x9C, 6, {0xFF, 0xFC, 0x00, 0x03, 1, 0}}},
        {"odd payload goes one byte longer", [](DspLineControl* c) { return dsp_set_voice_mode(c, 5); },
         {0x95, 2, {5, 0}}},
        // Mode 23 goes as 18 with the rate floored to a multiple of 2400 (33600 at most).
        {"mode 23 at 40000 as 18 at 33600", [](DspLineControl* c) { return dsp_start_data_pump(c, 1, 40000, 23); },
         {0x6E, 4, {21, 18, 4, 0}}},
        {"mode 23 at 31000 as 18 at 28800", [](DspLineControl* c) { return dsp_start_data_pump(c, 0, 31000, 23); },
         {0x6E, 4, {19, 18, 0, 0}}},
        {"mode 12 keeps its rate", [](DspLineControl* c) { return dsp_start_data_pump(c, 2, 9600, 12); },
         {0x6E, 4, {7, 12, 8, 0}}},
        {"idle", [](DspLineControl* c) { return dsp_go_idle(c); }, {0x98, 0, {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        modem.ClearLog();
        EXPECT_EQ(c.send(Line()), kIcdSent);
        const auto log = modem.Log();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0], c.wire);
        EXPECT_EQ(modem.Block()->window.reg[64], 0);  // taken
    }
    EXPECT_EQ(Line()->connectionState, 3);
}

// Every DSP memory or table location the controller reads or writes must exist in the data pump's
// directories (an absent one is only echoed and the value is lost without a sign).
TEST_F(DspRealPump, EveryAddressTheControllerUsesIsInTheDirectory)
{
    // The data pump builds its directories at its first full reset.
    ASSERT_EQ(dsp_reset_to_idle(modem.Dsp()), kIcdSent);
    modem.ClearLog();
    Line()->voiceSetting = 12;
    EXPECT_EQ(dsp_load_voice_path_params(Line()), kIcdSent);
    EXPECT_EQ(dsp_write_gain_word(Line(), 0x40), kIcdSent);
    DspValueRequest gain{kGainWordAddress, 0};
    uint8_t value[16] = {};
    EXPECT_EQ(dsp_read_value(Link(), &gain, value), kIcdSent);
    EXPECT_EQ(value[0] | (value[1] << 8), 0x4000);

    int checked = 0;
    for (const WireCommand& c : modem.Log()) {
        if (c.code < 0x09 || c.code > 0x0E)
            continue;
        ASSERT_GE(c.payload.size(), 2u);
        const bool table = c.code == 0x09 || c.code == 0x0C;
        uint32_t id = c.payload[0] | ((c.payload[1] & (table ? 0x7F : 0xFF)) << 8);
        if (c.code == 0x0B || c.code == 0x0E)
            id += 0x10000;
        uint32_t bytes = 2;
        if (c.code == 0x0D || c.code == 0x0E)
            bytes = c.length - 2u;
        if (c.code == 0x0C)
            bytes = c.length - 4u;
        const ParameterEntry* e = table ? FindTableParam(modem.Block(), id) : FindMemoryParam(modem.Block(), id);
        ASSERT_NE(e, nullptr) << "DSP address " << id << " (code " << int(c.code) << ")";
        EXPECT_GE(e->size, bytes) << "DSP address " << id;
        ++checked;
    }
    EXPECT_EQ(checked, 6);  // 7 + 7 + 1 voice-path words, the two marks, the gain word and its read-back
    for (uint32_t a : kVoicePathAddress)
        EXPECT_NE(FindMemoryParam(modem.Block(), a), nullptr) << a;
}

// A DPC-level sender and a command sender race for the channel over the real data pump, whose block thread
// takes the device lock every block: each gets its own acknowledgement, a busy result, or (the DPC-level
// one, which may not wait for a running block) a command not taken or not answered yet; never another
// command's reply.
TEST_F(DspRealPump, TwoSendersRacingEachGetTheirOwnReply)
{
    struct Shared {
        DspLink* link;
        std::atomic<int> mismatches{0};
        std::atomic<int> ok{0};
        std::atomic<int> other{0};
    } sh;
    sh.link = Link();
#if defined(MODEM_UNDER_SANITIZER) || defined(MODEM_UNDER_TSAN)
    const int rounds = 60;
#else
    const int rounds = 200;
#endif
    // The test thread waits for the senders through the platform (a plain join would hold the clock).
    KEVENT done[2];
    KeInitializeEvent(&done[0], NotificationEvent, FALSE);
    KeInitializeEvent(&done[1], NotificationEvent, FALSE);
    auto sender = [&](uint8_t code, bool dpc) {
        platform::ClockThread ct(modem.Core().C(), true, dpc ? "dpc" : "task");
        platform::MachineScope scope(modem.M());
        for (int i = 0; i < rounds; ++i) {
            KIRQL old = PASSIVE_LEVEL;
            if (dpc)
                KeRaiseIrql(DISPATCH_LEVEL, &old);
            uint8_t payload[2] = {static_cast<uint8_t>(i), 0};
            uint8_t reply[16] = {};
            const int r = dsp_send_command(sh.link, code, payload, 2, kReplyAck, reply);
            if (r == kIcdSent && reply[0] == code)
                ++sh.ok;
            else if (r == kIcdBusy || (dpc && (r == kIcdNoReply || r == kIcdNotTaken)))
                ++sh.other;
            else {
                ++sh.mismatches;
                ADD_FAILURE() << (dpc ? "dpc" : "task") << " result " << r << " reply " << int(reply[0]);
            }
            if (dpc)
                KeLowerIrql(old);
            if (!dpc)
                platform::SleepMs(1);
        }
        KeSetEvent(&done[dpc ? 1 : 0], IO_NO_INCREMENT, FALSE);
    };
    std::thread a(sender, uint8_t{0x99}, false);
    std::thread b(sender, uint8_t{0x93}, true);
    KeWaitForSingleObject(&done[0], Executive, KernelMode, FALSE, nullptr);
    KeWaitForSingleObject(&done[1], Executive, KernelMode, FALSE, nullptr);
    a.join();
    b.join();
    EXPECT_EQ(sh.mismatches.load(), 0);
    EXPECT_EQ(sh.ok.load() + sh.other.load(), 2 * rounds);
    EXPECT_GT(sh.ok.load(), rounds / 2);
}

}  // namespace
