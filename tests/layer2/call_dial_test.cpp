// Origination over a scripted data pump: the dial steps a dial string produces, the outcomes of a call
// (busy, no carrier, no dial tone, no answer, restrictions, connect), ";" and a fuzz of dial strings.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "call_fixture.h"
#include "window/icd_packet.h"

using calltest::CallRig;
using calltest::DspMsg;

namespace {

constexpr uint8_t kStart = IcdStartConnection;  // the start packet of a call
constexpr uint8_t kIdle = IcdGoIdle;

// Dial steps in short form: "T1" tone digit, "P1" pulse digit, "E" end of tone dialling, "e" end of pulse
// dialling, "F" flash, "p" pulse selected, "t" tone selected.
std::string Steps(const std::vector<DspMsg>& steps)
{
    std::string out;
    for (const DspMsg& m : steps) {
        if (!out.empty())
            out += ' ';
        if (m.msgClass == kMsgToneGen && m.type == 7)
            out += std::string("T") + char(m.data);
        else if (m.msgClass == kMsgToneGen && m.type == 8)
            out += "E";
        else if (m.msgClass == kMsgToneGen && m.type == 6)
            out += "t";
        else if (m.msgClass == kMsgHook && m.type == 6)
            out += std::string("P") + char(m.data);
        else if (m.msgClass == kMsgHook && m.type == 7)
            out += "e";
        else if (m.msgClass == kMsgHook && m.type == 5)
            out += "p";
        else if (m.msgClass == kMsgHook && m.type == 8)
            out += "F";
        else
            out += "?";
    }
    return out;
}

void StoreNumber(CallRig& r, unsigned n, const char* digits)
{
    std::memset(&r.settings->nv.bytes[nv_number_offset(n)], 0, NV_NUMBER_SIZE);
    std::memcpy(&r.settings->nv.bytes[nv_number_offset(n)], digits, std::strlen(digits));
}

// Blind dialling, no comma pauses.
void Blind(CallRig& r)
{
    r.A()->sreg[22] &= static_cast<uint8_t>(~0x10);
    r.A()->sreg[8] = 0;
}

// Starts dialling `dial` from Idle as the dial command does.
void Originate(CallRig& r, const std::string& dial)
{
    std::strncpy(r.A()->dial_string, dial.c_str(), sizeof r.A()->dial_string - 1);
    PostCallEvent(r.A(), EV_ORIGINATE, 0);
}

TEST(CallDialTest, Atdt123DialsBlindThenStartsAsOriginatorAndReportsNoCarrierWhenThePumpGivesUp)
{
    CallRig r;
    Blind(r);
    r.Type("ATDT123\r");
    r.Run(1900);  // blind wait: S6 seconds and 50 ms
    EXPECT_TRUE(r.Saw(kMsgHook, 3)) << "off hook first";
    EXPECT_EQ(Steps(r.DialSteps()), "");
    for (int t = 0; t < 1000; t += 10) {
        r.Run(10);
        if (r.IcdCount(kStart) != 0)
            break;
    }
    EXPECT_EQ(Steps(r.DialSteps()), "t T1 T2 T3 E");
    ASSERT_EQ(r.IcdCount(kStart), 1u);
    for (const IcdLogEntry& e : r.Icd())
        if (e.code == kStart) {
            EXPECT_NE(e.payload.at(2) & 0x04, 0) << "originate bit";
        }
    EXPECT_EQ(r.A()->call_state, CALL_ORIGINATE);
    r.PumpState(1);
    r.Run(50);
    r.PumpState(0);
    ASSERT_TRUE(r.RunUntilSettled(5000));
    EXPECT_EQ(r.Output(), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(r.A()->call_state, CALL_IDLE);
    EXPECT_TRUE(r.Saw(kMsgHook, 4)) << "on hook at the end";
    EXPECT_EQ(r.A()->seq.line_off_hook, 0);
}

// The transmit level of the call's class goes to the pump before the start packet: data takes S91 on the
// country's base (factory 10: -10 dB), and a changed S91 changes it.
TEST(CallDialTest, TheStartPacketFollowsTheDataTransmitLevel)
{
    for (uint8_t s91 : {uint8_t{10}, uint8_t{4}}) {
        CallRig r;
        Blind(r);
        r.A()->sreg[91] = s91;
        r.Type("ATDT1\r");
        r.Run(1900);
        for (int t = 0; t < 1000 && r.IcdCount(kStart) == 0; t += 10)
            r.Run(10);
        ASSERT_EQ(r.IcdCount(kStart), 1u);
        int level = 1;
        for (const IcdLogEntry& e : r.Icd()) {
            if (e.code == IcdSetTxLevel)
                level = IcdTxLevelOfWord(static_cast<uint16_t>(e.payload.at(0) | e.payload.at(1) << 8));
            if (e.code == kStart)
                break;
        }
        EXPECT_EQ(level, -static_cast<int>(s91) - r.settings->block.bytes[0]) << int(s91);
    }
}

TEST(CallDialTest, DialStringsGiveTheirSteps)
{
    struct Case {
        const char* dial;
        bool pulse_allowed;
        bool pulse_default;
        const char* steps;
    };
    const Case cases[] = {
        {"123", true, false, "T1 T2 T3 E"},
        {"P12", true, false, "p P1 P2 e"},
        {"P12", false, false, "T1 T2 E"},              // the country forbids pulse: tone stays
        {"1*#2", true, true, "P1 P2 e"},               // "*" and "#" are passed over in pulse mode
        {"T*#A", true, true, "t T* T# TA E"},
        {"S", true, false, "T5 T5 T5 E"},              // stored number 0
        {"S=2", true, false, "T4 T2 E"},               // stored number 2
        {"S1", true, false, "T1 E"},                   // "S" and a digit: the digit is dialled
        {"S=4", true, false, "T4 E"},                  // "S", "=" consumed; dialling goes on with the 4
        {"1!2", true, false, "T1 F T2 E"},
        {"1,2", true, false, "T1 T2 E"},
        {"9W1", true, false, "T9 E T1 E"},             // "W" ends the digit run and pauses
        {"1-2 (3)x", true, false, "T1 T2 T3 E"},       // other characters are passed over
        {"", true, false, "E"},
    };
    for (const Case& c : cases) {
        CallRig r;
        Blind(r);
        cb_put_u8(r.settings->block, CB_PULSE_ALLOWED, c.pulse_allowed ? 1 : 0);
        if (c.pulse_default)
            r.A()->sreg[14] |= 0x20;
        StoreNumber(r, 0, "555");
        StoreNumber(r, 2, "42");
        Originate(r, c.dial);
        for (int t = 0; t < 4000 && r.IcdCount(kStart) == 0; t += 10)
            r.Run(10);
        EXPECT_EQ(Steps(r.DialSteps()), c.steps) << "dial \"" << c.dial << "\"";
        EXPECT_EQ(r.IcdCount(kStart), 1u) << c.dial;
    }
}

TEST(CallDialTest, CallOutcomes)
{
    struct Case {
        const char* name;
        const char* dial;
        bool detect_dial_tone;
        // Called every 10 ms with the time since the start and whether the start packet went out.
        std::function<void(CallRig&, int, bool)> script;
        const char* result;
        bool starts;  // the start packet goes out
        uint8_t reason;
    };
    const Case cases[] = {
        {"busy after the digits", "5", false,
         [](CallRig& r, int, bool started) { r.tone = started ? 3 : 0; }, "BUSY", true, DISC_BUSY},
        {"dial tone, then busy", "5", true,
         [](CallRig& r, int, bool started) { r.tone = started ? 3 : 1; }, "BUSY", true, DISC_BUSY},
        {"no dial tone", "5", true, [](CallRig& r, int, bool) { r.tone = 0; }, "NO DIALTONE", false,
         DISC_NO_DIALTONE},
        {"no quiet answer", "5@6", false, [](CallRig& r, int, bool) { r.tone = 0; }, "NO ANSWER", false, 0},
        {"busy while waiting for quiet answer", "5@6", false, [](CallRig& r, int, bool) { r.tone = 3; }, "BUSY",
         false, DISC_BUSY},
        {"ringback then quiet", "5@6", false,
         [](CallRig& r, int t, bool started) {
             r.tone = t < 2500 ? 0 : t < 3000 ? 5 : 4;
             if (started)
                 r.PumpState(2);
         },
         "CONNECT", true, 0},
        {"the pump never connects", "5", false, [](CallRig&, int, bool) {}, "NO CARRIER", true,
         DISC_NO_CONNECTION},
        {"connected", "5", false,
         [](CallRig& r, int, bool started) {
             if (started)
                 r.PumpState(2);
         },
         "CONNECT", true, 0},
        {"delayed", "5", false, [](CallRig& r, int, bool) { r.verdict = 2; }, "DELAYED CALL", false, 0},
        {"blacklisted", "5", false, [](CallRig& r, int, bool) { r.verdict = 3; }, "BLACKLISTED", false,
         DISC_BLACKLISTED},
    };
    for (const Case& c : cases) {
        CallRig r;
        Blind(r);
        if (c.detect_dial_tone)
            r.A()->sreg[22] |= 0x10;
        r.A()->sreg[7] = 5;  // quiet-answer and connection waits
        cb_put_u8(r.settings->block, CB_BLACKLIST, 3);  // the country restricts calls
        cb_put_u16(r.settings->block, CB_SILENCE_TIME, 1000);
        c.script(r, 0, false);
        r.Type(std::string("ATD") + c.dial + "\r");
        std::string out;
        for (int t = 0; t < 90000; t += 10) {
            c.script(r, t, r.IcdCount(kStart) != 0);
            r.Run(10);
            out += r.Output();
            if (out.find(c.result) != std::string::npos)
                break;
        }
        r.Run(100);
        out += r.Output();
        if (std::string(c.result) == "CONNECT")  // the connect report may carry the rate
            EXPECT_EQ(out.rfind("\r\nCONNECT", 0), 0u) << c.name << ": " << out;
        else
            EXPECT_EQ(out, std::string("\r\n") + c.result + "\r\n") << c.name;
        EXPECT_EQ(r.IcdCount(kStart) != 0, c.starts) << c.name;
        if (c.reason != 0) {
            EXPECT_EQ(r.A()->seq.disconnect_reason, c.reason) << c.name;
        }
        if (std::string(c.result) == "CONNECT") {
            EXPECT_EQ(r.A()->call_state, CALL_ONLINE) << c.name;
        } else {
            EXPECT_EQ(r.A()->call_state, CALL_IDLE) << c.name;
            EXPECT_EQ(r.A()->seq.line_off_hook, 0) << c.name;
        }
    }
}

TEST(CallDialTest, SemicolonReturnsOkOffHookAndHangUpGivesOneOk)
{
    CallRig r;
    Blind(r);
    r.Type("ATDT1;\r");
    r.Run(3000);
    EXPECT_EQ(r.Output(), "\r\nOK\r\n");
    EXPECT_EQ(Steps(r.DialSteps()), "t T1 E");
    EXPECT_EQ(r.IcdCount(kStart), 0u) << "no connection is started";
    EXPECT_EQ(r.A()->seq.line_off_hook, 1);
    EXPECT_TRUE(r.A()->call_state == CALL_IDLE || r.A()->call_state == CALL_COMMAND);
    r.Type("ATH\r");
    r.Run(2000);
    EXPECT_EQ(r.Output(), "\r\nOK\r\n");
    EXPECT_EQ(r.A()->seq.line_off_hook, 0);
    EXPECT_TRUE(r.Saw(kMsgHook, 4));
}

TEST(CallDialTest, ACharacterFromTheApplicationAbortsDialling)
{
    CallRig r;
    Blind(r);
    r.Type("ATDT12345\r");
    r.Run(1000);
    r.Type("x");
    ASSERT_TRUE(r.RunUntilSettled(5000));
    EXPECT_EQ(r.Output(), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(r.IcdCount(kStart), 0u);
    EXPECT_EQ(r.A()->seq.line_off_hook, 0);
}

// Random dial strings (any bytes) with a randomly behaving pump: every call ends, back in Idle or
// Command, with exactly one result line and the line on hook unless ";" kept it.
TEST(CallDialTest, RandomDialStringsAlwaysEnd)
{
#if defined(MODEM_UNDER_SANITIZER) || defined(MODEM_UNDER_TSAN)
    const int trials = 8;
#else
    const int trials = 40;
#endif
    std::mt19937 rng(20261210);
    const char alphabet[] = "0123456789ABCD#*,!W@PTRSJK;= -x\x01\xff";
    for (int trial = 0; trial < trials; ++trial) {
        CallRig r;
        Blind(r);
        r.A()->sreg[7] = 2;
        if (rng() % 2)
            r.A()->sreg[22] |= 0x10;
        StoreNumber(r, 0, "7");
        StoreNumber(r, 1, "8,9");
        std::string dial;
        unsigned length = rng() % 24;
        for (unsigned k = 0; k < length; ++k)
            dial.push_back(alphabet[rng() % (sizeof alphabet - 1)]);
        Originate(r, dial);
        bool settled = false;
        for (int t = 0; t < 120000 && !settled; t += 10) {
            if (rng() % 50 == 0)
                r.tone = static_cast<uint8_t>(rng() % 16);
            if (rng() % 80 == 0)
                r.PumpState(static_cast<uint8_t>(rng() % 4));
            r.completeSteps = rng() % 8 != 0;
            if (r.completeSteps && r.A()->seq.wait_kind == WAIT_STEP)
                acu_dsp_step_done(r.A());
            r.Run(10);
            uint8_t s = r.A()->call_state;
            settled = (s == CALL_IDLE || s == CALL_COMMAND || s == CALL_ONLINE) && t > 50;
        }
        ASSERT_TRUE(settled) << "dial \"" << dial << "\" state " << int(r.A()->call_state);
        if (r.A()->call_state == CALL_ONLINE || r.A()->seq.line_off_hook) {
            PostCallEvent(r.A(), EV_HANGUP, RC_NO_CARRIER);
            ASSERT_TRUE(r.RunUntilSettled(10000)) << dial;
        }
        EXPECT_EQ(r.A()->seq.line_off_hook, 0) << dial;
        EXPECT_EQ(r.A()->queue.dropped, 0u) << dial;
    }
}

}  // namespace
