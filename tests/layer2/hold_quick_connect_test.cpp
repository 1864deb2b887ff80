// Modem on hold and quick connect over the stand-in pump: the hold sequencer as a table of cases (messages
// and data-pump events in, the packets it sends and the state it ends in), the hold-time and reversal tables,
// the quick-connect sequencer's arming conditions and its steps, and the quick-connect area kept in the
// settings store and bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "at_fixture.h"
#include "call_fixture.h"
#include "layer2/corecode/cmd/at_ext.h"
#include "layer2/corecode/cmd/country.h"
#include "layer2/corecode/cmd/modem_hold.h"
#include "window/icd_packet.h"

using calltest::CallRig;

namespace {

struct Step {
    uint8_t kind;   // data-pump event kind (0: a hold message with code `value`); 255: none
    uint8_t value;
    int run_ms;     // call control runs this long afterwards
};

struct Packet {
    uint8_t code;
    std::vector<uint8_t> payload;
    bool operator==(const Packet& o) const { return code == o.code && payload == o.payload; }
};

std::ostream& operator<<(std::ostream& os, const Packet& p)
{
    os << std::hex << int(p.code) << "{";
    for (uint8_t b : p.payload)
        os << int(b) << " ";
    return os << "}" << std::dec;
}

// The hold-related packets the controller sent since `from`.
std::vector<Packet> HoldPackets(CallRig& r, size_t from)
{
    std::vector<Packet> out;
    const std::vector<IcdLogEntry> log = r.Icd();
    for (size_t k = from; k < log.size(); ++k) {
        const uint8_t c = log[k].code;
        if (c == IcdReset || c == IcdConfigDetectors || c == IcdRestartPhase2 || c == IcdPcmControl ||
            c == IcdStartConnection)
            out.push_back({c, c == IcdStartConnection ? std::vector<uint8_t>{} : log[k].payload});
    }
    return out;
}

void Event(CallRig& r, uint8_t kind, uint8_t value)
{
    uint8_t payload[kIcdEventLength];
    IcdEncode(IcdEventPayload{value, kind}, payload);
    ASSERT_TRUE(DspIcdPumpPost(r.pump.get(), IcdEvent, payload, kIcdEventLength));
}

const Packet kLightReset{IcdReset, {1, 0}};
const Packet kDetectors2{IcdConfigDetectors, {2, 0}};
const Packet kDetectors0{IcdConfigDetectors, {0, 0}};
const Packet kStart{IcdStartConnection, {}};
Packet Send(uint8_t code) { return {IcdRestartPhase2, {code, 0}}; }
const Packet kEnd{IcdPcmControl, {8, 0}};

TEST(ModemOnHold, SequencesAsATableOfCases)
{
    const struct {
        const char* name;
        uint8_t pmht;
        uint8_t request;   // "!M=" code
        std::vector<Step> steps;
        std::vector<Packet> sent;
        uint8_t state;
        uint16_t hold_time;
        uint8_t last_index;
    } cases[] = {
        {"grant with argument 8 holds 10 s", 0, 0, {{0, 0x8A, 100}},
         {kLightReset, kDetectors2}, 9, 10, 1},
        {"grant with argument 11 holds without limit", 0, 0, {{0, 0xBA, 100}},
         {kLightReset, kDetectors2}, 9, 0, 13},
        {"query while +PMHT is 0 answers 238", 0, 0, {{0, 0x0C, 100}},
         {Send(238)}, 1, 0, 0},
        {"query answers the local hold time, and a grant enters the hold", 3, 0, {{0, 0x0C, 100}, {1, 0, 100}},
         {Send(0xCA), kLightReset, kDetectors0, kStart}, 8, 30, 0},
        {"the hold ends when its time runs out", 1, 0, {{0, 0x0C, 100}, {1, 0, 100}, {255, 0, 11000}},
         {Send(0x8A), kLightReset, kDetectors0, kStart}, 1, 10, 0},
        {"a request is answered with 221 and a clear-down", 0, 0, {{0, 0x59, 100}, {2, 0, 100}},
         {Send(221)}, 1, 0, 0},
        {"a refusal is answered with 187, then data-pump event 3 reconnects", 0, 0, {{0, 0x0E, 100}, {3, 0, 100}},
         {Send(187), kLightReset, kDetectors0, kStart}, 1, 0, 0},
        {"a clear message ends the call", 0, 0, {{0, 0x0D, 100}}, {}, 1, 0, 0},
        {"an unknown message type does nothing", 0, 0, {{0, 0x05, 100}}, {}, 1, 0, 0},
        {"a request code from !M= is sent, and unanswered for 15 s it ends", 0, 0xDD, {{255, 0, 16000}},
         {Send(0xDD), kEnd}, 1, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CallRig r;
        r.A()->ext.pmht = c.pmht;
        r.Run(50);
        const size_t from = r.Icd().size();
        r.A()->set.pending_request = c.request;
        for (const Step& s : c.steps) {
            if (s.kind != 255)
                Event(r, s.kind, s.value);
            r.Run(s.run_ms);
        }
        EXPECT_EQ(HoldPackets(r, from), c.sent);
        EXPECT_EQ(r.A()->moh.state, c.state);
        EXPECT_EQ(r.A()->moh.hold_time, c.hold_time);
        EXPECT_EQ(r.A()->moh.last_index, c.last_index);
    }
}

// A granted hold (state 9) waits for the application's return: O marks it and the modem reconnects.
TEST(ModemOnHold, ReturnWithOReconnectsAGrantedHold)
{
    CallRig r;
    r.Run(50);
    const size_t from = r.Icd().size();
    Event(r, 0, 0x8A);
    r.Run(300);
    ASSERT_EQ(r.A()->moh.state, 9);
    EXPECT_NE(moh_flags(r.A()) & kHoldInForce, 0u);
    r.Run(1000);
    EXPECT_EQ(r.A()->moh.state, 9);  // nothing moves it on but the return
    r.A()->online = 1;  // the connection is held in command mode
    r.Type("ATO\r");
    r.Run(300);
    EXPECT_EQ(r.A()->moh.state, 1);
    EXPECT_EQ(moh_flags(r.A()) & (kHoldInForce | kHoldReturnAsked), 0u);
    // The grant's reset and detectors, then (after whatever O itself starts) the reconnection's.
    const std::vector<Packet> sent = HoldPackets(r, from);
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(std::vector<Packet>(sent.begin(), sent.begin() + 2), (std::vector<Packet>{kLightReset, kDetectors2}));
    const std::vector<Packet> tail{kLightReset, kDetectors0, kStart};
    EXPECT_NE(std::search(sent.begin() + 2, sent.end(), tail.begin(), tail.end()), sent.end());
}

TEST(ModemOnHold, BangMSendsTheCodeTypedAsHexadecimal)
{
    CallRig r;
    r.Run(50);
    const size_t from = r.Icd().size();
    r.Type("AT!M=DD\r");
    r.Run(500);
    EXPECT_EQ(HoldPackets(r, from), (std::vector<Packet>{Send(0xDD)}));
}

TEST(ModemOnHold, HoldTimesAndTheReversal)
{
    const uint16_t times[16] = {0, 10, 20, 30, 40, 60, 120, 180, 240, 360, 480, 720, 960, 0, 0, 0};
    const uint8_t reversed[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    for (uint8_t i = 0; i < 16; ++i) {
        EXPECT_EQ(kHoldTimes[i], times[i]);
        EXPECT_EQ(hold_reverse4(i), reversed[i]);
        EXPECT_EQ(hold_reverse4(hold_reverse4(i)), i);
    }
}

// ---- quick connect ----

void MakeArmable(CallRig& r)
{
    AcuContext* a = r.A();
    a->ext.ms_row = static_cast<uint8_t>(ms_row_of_code(MOD_V90));
    a->ext.v92_mark = 1;
    a->ext.pqc = 0;
    a->ext.pss = 0;
    a->qc.area[10] = 0x42;
    qc_arm(a, 0);
}

TEST(QuickConnect, ArmsOnlyWhenEveryConditionHolds)
{
    const struct {
        const char* name;
        void (*change)(AcuContext*);
        uint8_t mode;
        bool armed;
        uint8_t state;
    } cases[] = {
        {"answering", [](AcuContext*) {}, 32, true, 4},
        {"originating", [](AcuContext*) {}, 64, true, 2},
        {"+PQC=3", [](AcuContext* a) { a->ext.pqc = 3; }, 64, false, 0},
        {"+PSS=2", [](AcuContext* a) { a->ext.pss = 2; }, 64, false, 0},
        {"no V.92 mark", [](AcuContext* a) { a->ext.v92_mark = 0; }, 64, false, 0},
        {"V.34 configured", [](AcuContext* a) { a->ext.ms_row = static_cast<uint8_t>(ms_row_of_code(MOD_V34)); },
         64, false, 0},
        {"area of only 0 and 255", [](AcuContext* a) { a->qc.area[10] = 0; a->qc.area[11] = 255; }, 64, false, 0},
        {"data in byte 100 only", [](AcuContext* a) { a->qc.area[10] = 255; a->qc.area[100] = 7; }, 64, false, 0},
        {"stored data not usable", [](AcuContext* a) { a->qc.flags = 0; }, 64, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CallRig r;
        MakeArmable(r);
        c.change(r.A());
        r.A()->qc.state = 0;
        qc_arm(r.A(), c.mode);
        EXPECT_EQ((r.A()->qc.flags & kQcArmed) != 0, c.armed);
        EXPECT_EQ(r.A()->qc.state, c.state);
        if (c.armed) {
            EXPECT_NE(r.A()->qc.flags & (c.mode == 32 ? kQcAnswer : kQcOriginate), 0);
        }
    }
}

// The steps: originate and answer with a status byte choosing V.34 or PCM, through the detector handshake to
// the start packet.
TEST(QuickConnect, StepsToTheStartPacket)
{
    const struct {
        const char* name;
        uint8_t mode;
        uint8_t status;
        uint8_t modulation;
        std::vector<Packet> sent;
    } cases[] = {
        {"originate, V.34", 64, 0x04, MOD_V34,
         {{IcdSetWord86, {5, 0}}, kLightReset, kDetectors2, {IcdPcmControl, {0, 0}}, {IcdPcmControl, {2, 0}}, kStart}},
        {"originate, PCM", 64, 0xC1, MOD_V90,
         {{IcdSetWord86, {5, 0}}, {IcdPcmControl, {6, 0, 3, 0}}, kLightReset, kDetectors2, {IcdPcmControl, {0, 0}},
          {IcdPcmControl, {2, 0}}, kStart}},
        {"answer, V.34", 32, 0x00, MOD_V34,
         {{IcdSetWord86, {5, 0}}, kLightReset, kDetectors2, {IcdPcmControl, {0, 0}}, {IcdPcmControl, {2, 0}}, kStart}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CallRig r;
        std::vector<std::vector<uint8_t>> blocks;
        r.A()->qc.send_ctx = &blocks;
        r.A()->qc.send_block = [](void* ctx, const uint8_t* b, int n) {
            static_cast<std::vector<std::vector<uint8_t>>*>(ctx)->emplace_back(b, b + n);
        };
        MakeArmable(r);
        r.Run(50);
        const size_t from = r.Icd().size();
        qc_arm(r.A(), c.mode);
        r.Run(100);
        if (c.mode == 64) {
            EXPECT_EQ(r.A()->qc.start_octets, kQcOriginateBlock);
            r.A()->qc.flags &= static_cast<uint16_t>(~kQcPrepared);  // the start-octet exchange took the block
            r.Run(50);
        }
        EXPECT_NE(r.A()->qc.flags & kQcAwaitStatus, 0);
        qc_status_received(r.A(), c.status);
        r.Run(400);  // the answerer's 230 ms wait
        EXPECT_EQ(r.A()->qc.modulation, c.modulation);
        EXPECT_EQ(qc_short_start(r.A()), (c.status & 4) != 0);
        if (c.modulation == MOD_V90)
            r.Run(1600);  // the PCM step's countdown
        dsp_reg_write(&r.dev->link, kRegDetector, 1);
        r.Run(50);
        dsp_reg_write(&r.dev->link, kRegDetector, 0);
        r.Run(50);
        std::vector<Packet> got;
        const std::vector<IcdLogEntry> log = r.Icd();
        for (size_t k = from; k < log.size(); ++k) {
            const IcdLogEntry& e = log[k];
            if (e.code == IcdSetWord86 || e.code == IcdPcmControl || e.code == IcdReset ||
                e.code == IcdConfigDetectors || e.code == IcdStartConnection)
                got.push_back({e.code, e.code == IcdStartConnection ? std::vector<uint8_t>{} : e.payload});
        }
        EXPECT_EQ(got, c.sent);
        EXPECT_EQ(r.A()->qc.flags & kQcArmed, 0);
        if (c.mode == 32) {
            EXPECT_EQ(blocks, (std::vector<std::vector<uint8_t>>{{0xFF, 0x55, 0x86, 0xFF, 0x55, 0x86}}));
        }
        // The voice-path words went to the voice-path addresses (7 + 7 + 1) and the two single words.
        size_t writes = 0;
        for (const IcdLogEntry& e : r.Icd())
            writes += e.code == IcdWriteMemoryHigh;
        EXPECT_EQ(writes, 5u);
    }
}

TEST(QuickConnect, AreaIsKeptInTheSettingsStoreAndBounded)
{
    attest::AtStack s("");
    s.Dialogue("AT\r");  // the controller has started and loaded its area
    AcuContext* a = s.Acu();
    qc_data_init(a);
    EXPECT_FALSE(qc_data_present(a));
    for (uint8_t b : a->qc.area)
        ASSERT_EQ(b, kQcEmpty);
    std::vector<uint8_t> data(QC_DATA_SIZE);
    for (size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<uint8_t>(k * 7 + 1);
    qc_data_save(a, data.data(), QC_DATA_SIZE);
    EXPECT_TRUE(qc_data_present(a));
    // A fresh start loads what was stored.
    std::memset(a->qc.area, 0, sizeof a->qc.area);
    qc_data_init(a);
    EXPECT_EQ(std::vector<uint8_t>(a->qc.area, a->qc.area + QC_DATA_SIZE), data);
    // Longer than the area: ignored, nothing stored or copied.
    std::vector<uint8_t> longer(QC_DATA_SIZE + 1, 0x33);
    qc_data_save(a, longer.data(), static_cast<unsigned>(longer.size()));
    EXPECT_EQ(std::vector<uint8_t>(a->qc.area, a->qc.area + QC_DATA_SIZE), data);
    qc_data_init(a);
    EXPECT_EQ(std::vector<uint8_t>(a->qc.area, a->qc.area + QC_DATA_SIZE), data);
    // Cleared: 255 throughout, stored as such.
    qc_data_clear(a);
    std::memset(a->qc.area, 0, sizeof a->qc.area);
    qc_data_init(a);
    EXPECT_FALSE(qc_data_present(a));
    EXPECT_EQ(a->qc.area[QC_DATA_SIZE - 1], kQcEmpty);
}

}  // namespace
