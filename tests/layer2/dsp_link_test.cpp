// The controller's DSP link against a stand-in data pump: packets on the wire, transport results and their
// log lines, the receive dispatch, memory access encodings, the trace ring, the command senders and the
// line-mode table, and two senders racing for the channel.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core_fixture.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_link.h"
#include "support/pump_stand_in.h"

using namespace coretest;

namespace {

using Bytes = std::vector<uint8_t>;

class DspLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pump = std::make_unique<DspIcdPump>();
        link = std::make_unique<DspLink>();
        DspLinkHooks hooks{};
        hooks.ctx = this;
        hooks.print = [](void* c, const char* t) { static_cast<DspLinkTest*>(c)->printed += t; };
        hooks.command_error = [](void* c) { static_cast<DspLinkTest*>(c)->commandErrors++; };
        dsp_link_init(link.get(), &hooks);
        DspIcdPumpInit(pump.get(), [](void* l) { dsp_notify_callback(static_cast<DspLink*>(l)); }, link.get());
        dsp_set_register_window(link.get(), &pump->block, &pump->context);
        dsp_set_port_ready(link.get(), true);
        queue = std::make_unique<DspMessageQueue>();
        dsp_msg_queue_init(queue.get());
        lc = std::make_unique<DspLineControl>();
        dsp_line_control_init(lc.get(), link.get(), queue.get());
    }
    std::vector<IcdLogEntry> Log() { return DspIcdPumpLog(pump.get()); }
    Bytes Wire(const IcdLogEntry& e) { return IcdWireBytes(e); }
    ULONG NowMs()
    {
        LARGE_INTEGER t;
        KeQuerySystemTime(&t);
        return static_cast<ULONG>(t.QuadPart / 10000);
    }

    TempRegistry reg;
    CoreMachine m{reg.Path(), 100000};
    std::unique_ptr<DspIcdPump> pump;
    std::unique_ptr<DspLink> link;
    std::unique_ptr<DspMessageQueue> queue;
    std::unique_ptr<DspLineControl> lc;
    std::string printed;
    int commandErrors = 0;
};

TEST_F(DspLinkTest, SenderBytesOnTheWire)
{
    struct Case {
        const char* name;
        int (*send)(DspLineControl*);
        Bytes wire;  // code, length, payload
    };
    const Case cases[] = {
        {"speaker on, volume 0 taken as 1",
         [](DspLineControl* c) { dsp_set_speaker_volume(c, 0); return dsp_set_speaker(c, true); },
         {0x81, 2, 1, 0}},
        {"speaker off", [](DspLineControl* c) { return dsp_set_speaker(c, false); }, {0x81, 2, 0, 0}},
        {"mode 23 at 40000 goes as 18 at 33600",
         [](DspLineControl* c) { return dsp_start_data_pump(c, 1, 40000, 23); }, {0x6E, 4, 21, 18, 4, 0}},
        {"mode 23 at 31000 goes as 18 at 28800",
         [](DspLineControl* c) { return dsp_start_data_pump(c, 0, 31000, 23); }, {0x6E, 4, 19, 18, 0, 0}},
        {"mode 16 at 14400", [](DspLineControl* c) { return dsp_start_data_pump(c, 2, 14400, 16); },
         {0x6E, 4, 9, 16, 8, 0}},
        {"line bits 2-3 flag 1 on channel 0", [](DspLineControl* c) { return dsp_set_line_field_2_3(c, 1, 0); },
         {0x9C, 6, 0xF3, 0xFF, 0x0C, 0, 0, 0}},
        {"line bits 12-13 value 3 on channel 1", [](DspLineControl* c) { return dsp_set_line_field_12_13(c, 3, 1); },
         {0x9C, 6, 0xFF, 0xCF, 0x00, 0x30, 1, 0}},
        {"odd payload sent one byte longer", [](DspLineControl* c) { return dsp_set_option_6c(c, 7); },
         {0x6C, 2, 7, 0}},
        {"go idle", [](DspLineControl* c) { return dsp_go_idle(c); }, {0x98, 0}},
        {"gain word", [](DspLineControl* c) { return dsp_write_gain_word(c, 0x12); }, {0x0E, 4, 0x34, 0x02, 0, 0x12}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pump->log.clear();
        EXPECT_EQ(c.send(lc.get()), kIcdSent);
        auto log = Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(Wire(log.back()), c.wire);
        EXPECT_EQ(dsp_reg_read(link.get(), kRegCommandCode), 0);
    }
    EXPECT_EQ(lc->connectionState, 3);
}

TEST_F(DspLinkTest, ShowVersionPrintsThePumpsReport)
{
    EXPECT_EQ(dsp_show_version(lc.get()), kIcdSent);
    EXPECT_EQ(printed, "\r\nDSP Software Version : 1.4.4.67");
}

TEST_F(DspLinkTest, TransportFailuresAndTheirLogLines)
{
    // Busy channel: nothing is sent.
    InterlockedExchange(&link->icdFree, 0);
    icd_fill(link.get(), 0x81, nullptr, 0, kReplyAck, IcdAck);
    EXPECT_EQ(dsp_send_packet(link.get()), kIcdBusy);
    EXPECT_EQ(dsp_cp(link.get()), kIcdBusy);
    EXPECT_TRUE(m.LogHas("cp_dsp: Error sending packet 0x81  (DSP ICD in use.)\n"));
    EXPECT_TRUE(m.LogHas("dsp_cp: Error sending packet 0x81  (DSP ICD in use.)\n"));
    EXPECT_TRUE(Log().empty());
    InterlockedExchange(&link->icdFree, 1);

    // A pump that never takes the command: result 2 after a bounded time, packet saved.
    pump->neverTake = true;
    const uint8_t pl[2] = {5, 0};
    icd_fill(link.get(), 0x93, pl, 2, kReplyAck, IcdAck);
    EXPECT_EQ(dsp_send_packet(link.get()), kIcdNoReply);  // left in register 64
    icd_fill(link.get(), 0x93, pl, 2, kReplyAck, IcdAck);
    ULONG t0 = NowMs();
    EXPECT_EQ(dsp_send_packet(link.get()), kIcdNotTaken);
    ULONG took = NowMs() - t0;
    EXPECT_GE(took, 50u * 20u);
    EXPECT_LE(took, 50u * 32u);
    EXPECT_EQ(link->lastFailureLine, 1378u);
    EXPECT_EQ(link->failedLength, 6);
    EXPECT_EQ(link->failedPacket[0], 0x93);
    EXPECT_EQ(link->icdFree, 1);

    // A pump that takes it but never answers: result 3.
    pump->neverTake = false;
    pump->neverReply = true;
    dsp_reg_write(link.get(), kRegCommandCode, 0);
    icd_fill(link.get(), 0x93, pl, 2, kReplyAck, IcdAck);
    t0 = NowMs();
    EXPECT_EQ(dsp_send_packet(link.get()), kIcdNoReply);
    took = NowMs() - t0;
    EXPECT_LE(took, 50u * 32u);
    EXPECT_EQ(link->lastFailureLine, 1448u);

    // Reply mode 2 does not wait.
    icd_fill(link.get(), 0x0D, pl, 2, kReplyNone, 0);
    EXPECT_EQ(dsp_send_packet(link.get()), kIcdSent);
}

TEST_F(DspLinkTest, OverlongPayloadIsRefused)
{
    uint8_t big[40] = {};
    EXPECT_FALSE(icd_fill(link.get(), 0x9C, big, 17, kReplyAck, IcdAck));
    // A length written straight into the buffer is capped at 16 on the wire.
    icd_fill(link.get(), 0x9C, big, 16, kReplyAck, IcdAck);
    link->icd.packet[2] = 200;
    EXPECT_EQ(dsp_send_packet(link.get()), kIcdSent);
    EXPECT_EQ(Log().back().length, 16);
    for (int r = 84; r < 256; ++r) {
        if (r != kRegDoorbell) {
            EXPECT_EQ(pump->block.window.reg[r], 0) << r;
        }
    }
}

TEST_F(DspLinkTest, MemoryAccessEncodings)
{
    struct Case {
        DspValueRequest req;
        Bytes wire;
    };
    const Case reads[] = {
        {{0x10234, 0}, {0x0B, 4, 0x34, 0x02, 0, 0}},
        {{0xFFFF, 0}, {0x0A, 4, 0xFF, 0xFF, 0, 0}},
        {{6158, 1}, {0x09, 4, 0x0E, 0x18, 0, 0}},
        {{0x2180E, 1}, {0x09, 4, 0x0E, 0x98, 0x80, 0}},
    };
    pump->memoryValue = 0x1234;
    for (const Case& c : reads) {
        pump->log.clear();
        EXPECT_EQ(dsp_read_value(link.get(), &c.req), kIcdSent);
        EXPECT_EQ(Wire(Log().back()), c.wire);
        EXPECT_EQ(link->replyData[0], 0x34);
        EXPECT_EQ(link->replyData[1], 0x12);
    }
    // Eight words: seven are sent. Table writes carry six.
    const uint16_t words[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    DspValueRequest mem{0x101D8, 0};
    dsp_write_value(link.get(), &mem, words, 8);
    auto e = Log().back();
    EXPECT_EQ(e.code, 0x0E);
    EXPECT_EQ(e.length, 16);
    EXPECT_EQ(e.payload[14], 7);
    DspValueRequest low{0x92, 0};
    dsp_write_value(link.get(), &low, words, 1);
    EXPECT_EQ(Wire(Log().back()), (Bytes{0x0D, 4, 0x92, 0, 1, 0}));
    DspValueRequest tab{6158, 1};
    dsp_write_value(link.get(), &tab, words, 8);
    e = Log().back();
    EXPECT_EQ(e.code, 0x0C);
    EXPECT_EQ(e.length, 16);
}

TEST_F(DspLinkTest, VoicePathWordsGoAsSevenSevenOne)
{
    lc->voiceSetting = 99;
    dsp_load_voice_path_params(lc.get());
    auto log = Log();
    std::vector<uint32_t> addresses;
    int words = 0;
    for (auto& e : log) {
        if (e.code == 0x0D || e.code == 0x0E) {
            uint32_t a = e.payload[0] | (e.payload[1] << 8) | (e.code == 0x0E ? 0x10000u : 0u);
            addresses.push_back(a);
            if (a >= 0x101D8 && a <= 0x101E6)
                words += e.length / 2 - 1;
        }
    }
    // The two marks go as one 2-word write at 0x92: the data pump has no parameter at 0x93 of its own.
    EXPECT_EQ(addresses, (std::vector<uint32_t>{0x101D8, 0x101DF, 0x101E6, 0x92}));
    EXPECT_EQ(words, 15);
    EXPECT_EQ(log[4].payload[2], 99);
    EXPECT_EQ(Wire(log[5]), (Bytes{0x0D, 6, 0x92, 0x00, '+', 0, '/', 0}));
}

TEST_F(DspLinkTest, LineModeRowZero)
{
    dsp_reg_write(link.get(), kRegGpioData0, 0);
    dsp_apply_line_mode(lc.get(), 0);
    int lineControl = 0;
    for (auto& e : Log())
        lineControl += e.code == 0x9C;
    EXPECT_EQ(lineControl, 8);
    EXPECT_EQ(dsp_msg_queued(queue.get()), 1);  // the on-hook message
    EXPECT_EQ(queue->head->type, 4);
    EXPECT_FALSE(dsp_voice_relay_on(link.get()));
    EXPECT_FALSE(dsp_caller_id_relay_on(link.get()));
    EXPECT_FALSE(dsp_speaker_relay_on(link.get()));
    dsp_apply_line_mode(lc.get(), 20);
    EXPECT_TRUE(dsp_voice_relay_on(link.get()));
    EXPECT_TRUE(dsp_speaker_relay_on(link.get()));
    EXPECT_EQ(lc->lineModeRow, 20);
}

TEST_F(DspLinkTest, ReceiveDispatch)
{
    const uint8_t ch[1] = {'b'};
    DspIcdPumpPost(pump.get(), 0xC4, ch, 1);
    EXPECT_EQ(link->events.lastEventChar.load(), 'b');
    EXPECT_EQ(link->replyReceived.load(), 0);
    EXPECT_EQ(dsp_reg_read(link.get(), 0), 0);

    struct Ev {
        Bytes payload;
        uint16_t conn, flags;
        uint32_t mask;
    };
    link->events.connectionEvents.store(0x100);
    const Ev evs[] = {
        {{}, 0x100, 0, 0},
        {{0, 4}, 0x100, 1, 0},
        {{6, 5}, 0xA00, 1, 0},
        {{3, 3}, 0xA00, 1, 1u << 3},
        {{9, 0}, 0xA00, 1, (1u << 3) | 1u},
    };
    for (const Ev& e : evs) {
        DspIcdPumpPost(pump.get(), 0xD4, e.payload.data(), static_cast<int>(e.payload.size()));
        EXPECT_EQ(link->events.connectionEvents.load(), e.conn);
        EXPECT_EQ(link->events.eventFlags.load(), e.flags);
        EXPECT_EQ(link->events.kindMask.load(), e.mask);
    }
    EXPECT_EQ(link->events.kind0Value.load(), 9);

    // Any other code ends a wait and leaves its payload.
    const uint8_t other[3] = {7, 8, 9};
    DspIcdPumpPost(pump.get(), 0xCC, other, 3);
    EXPECT_EQ(link->replyReceived.load(), 1);
    EXPECT_EQ(link->replyData[2], 9);

    // Cadence samples: the time stamp wraps at 6827.
    link->lastCadenceStamp = 6800;
    const uint8_t d1[6] = {1, 0, 100, 0, 3, 0};
    DspIcdPumpPost(pump.get(), 0xD1, d1, 6);
    CadenceSample s{};
    ASSERT_TRUE(dsp_cadence_take(link.get(), &s));
    EXPECT_EQ(s.duration, 127);
    EXPECT_EQ(s.rate, 23);
    EXPECT_EQ(s.stamp, 100);
    // The queue holds three.
    for (int i = 0; i < 5; ++i) {
        uint8_t p[6] = {1, 0, static_cast<uint8_t>(110 + i), 0, 1, 0};
        DspIcdPumpPost(pump.get(), 0xD1, p, 6);
    }
    int n = 0;
    while (dsp_cadence_take(link.get(), &s))
        ++n;
    EXPECT_EQ(n, 3);
}

TEST_F(DspLinkTest, TraceRingDrainsAndRefusesWhatDoesNotFit)
{
    const uint8_t rec[4] = {0x40, 1, 0x10, 0x00};
    DspIcdPumpPost(pump.get(), 0xD6, rec, 4);
    const uint8_t junk[2] = {0x90, 0xFF};
    DspIcdPumpPost(pump.get(), 0xD6, junk, 2);
    const uint8_t text[3] = {'a', 'b', 'c'};
    DspIcdPumpPost(pump.get(), 0xD5, text, 3);
    EXPECT_EQ(dsp_trace_used(link.get()), 4 + 2 + 5);
    EXPECT_EQ(dsp_go_idle(lc.get()), kIcdSent);  // the drain follows a successful send
    EXPECT_EQ(dsp_trace_used(link.get()), 0);

    uint8_t big[16];
    std::memset(big, 0x11, sizeof big);
    int accepted = 0;
    for (int i = 0; i < 300; ++i)
        accepted += dsp_trace_append(link.get(), big, 16) ? 1 : 0;
    EXPECT_EQ(accepted, (kDspTraceRingSize - 1) / 16);
    EXPECT_GT(link->traceDropped, 0u);
}

TEST_F(DspLinkTest, GpioPins)
{
    dsp_gpio_set(link.get(), 9);
    EXPECT_EQ(dsp_reg_read(link.get(), kRegGpioData1), 0x02);
    EXPECT_EQ(dsp_reg_read(link.get(), kRegGpioEnable1), 0x02);
    EXPECT_EQ(dsp_gpio_read(link.get(), 9), 1);
    EXPECT_EQ(dsp_reg_read(link.get(), kRegGpioEnable1), 0);
    dsp_gpio_clear(link.get(), 3);
    EXPECT_EQ(dsp_gpio_read(link.get(), 3), 0);
    uint8_t before[256];
    std::memcpy(before, pump->block.window.reg, 256);
    dsp_gpio_set(link.get(), 15);
    EXPECT_EQ(commandErrors, 1);
    EXPECT_EQ(std::memcmp(before, pump->block.window.reg, 256), 0);
}

// A DPC-level sender (the line-block service, run from the notification path of a block thread) and a
// command sender race for the channel: each gets its own reply or a busy result, never another's reply.
TEST_F(DspLinkTest, TwoSendersEachGetTheirOwnReply)
{
    struct Shared {
        DspLink* link;
        std::atomic<int> mismatches{0};
        std::atomic<int> ok{0};
        std::atomic<int> busy{0};
    } sh;
    sh.link = link.get();
    // Each sender owns the buffer only while it holds the channel: use the channel-held form.
    auto owned_sender = [&](uint8_t code, bool dpc) {
        platform::ClockThread ct(m.C(), true, dpc ? "dpc" : "task");
        platform::MachineScope scope(m.M());
        for (int i = 0; i < 300; ++i) {
            KIRQL old = PASSIVE_LEVEL;
            if (dpc)
                KeRaiseIrql(DISPATCH_LEVEL, &old);
            uint8_t reply[16] = {};
            const int r = dsp_send_command(sh.link, code, &code, 1, kReplyAck, reply);
            if (r == kIcdBusy)
                ++sh.busy;
            else if (r == kIcdSent && reply[0] == code)
                ++sh.ok;
            else
                ++sh.mismatches;
            if (dpc)
                KeLowerIrql(old);
        }
    };
    std::thread a(owned_sender, uint8_t{0x98}, false);
    std::thread b(owned_sender, uint8_t{0x99}, true);
    a.join();
    b.join();
    EXPECT_EQ(sh.mismatches.load(), 0);
    EXPECT_EQ(sh.ok.load() + sh.busy.load(), 600);
    EXPECT_GT(sh.ok.load(), 0);
}

TEST_F(DspLinkTest, PatchDownloadPacketsAndTheEndOfDownload)
{
    // Upload table, stride 1: id 5 as 8 table words (bank bit 0), id 6 (passed over), id 5 as 9 memory words
    // in a high bank, then the end mark.
    Bytes t;
    auto entry = [&](uint8_t flags, uint8_t id, uint16_t addr, int words) {
        t.insert(t.end(), {flags, id, static_cast<uint8_t>(addr), static_cast<uint8_t>(addr >> 8),
                           static_cast<uint8_t>(words), 0});
        for (int i = 0; i < 2 * words; ++i)
            t.push_back(static_cast<uint8_t>(0x10 + i));
    };
    entry(0x01, 5, 0x0100, 8);
    entry(0x00, 6, 0x0900, 1);
    entry(0x02, 5, 0x0200, 9);
    t.push_back('0');
    link->uploadPatch = DspPatchTable{t.data(), static_cast<uint32_t>(t.size()), 1};

    auto data = [](int from, int n) {
        Bytes b;
        for (int i = 0; i < n; ++i)
            b.push_back(static_cast<uint8_t>(0x10 + from + i));
        return b;
    };
    auto packet = [](uint8_t code, Bytes head, const Bytes& body) {
        Bytes b;
        b.reserve(2 + head.size() + body.size());
        b.push_back(code);
        b.push_back(static_cast<uint8_t>(head.size() + body.size()));
        b.insert(b.end(), head.begin(), head.end());
        b.insert(b.end(), body.begin(), body.end());
        return b;
    };
    EXPECT_EQ(dsp_patch_download(link.get(), 0x20, 5, 0, 0), 1);
    std::vector<Bytes> wire;
    for (auto& e : Log())
        wire.push_back(Wire(e));
    const std::vector<Bytes> expected = {
        packet(0x0C, {0x00, 0x01, 0x00, 0x00}, data(0, 12)), packet(0x0C, {0x06, 0x01, 0x00, 0x00}, data(12, 4)),
        packet(0x0E, {0x00, 0x02}, data(0, 14)), packet(0x0E, {0x07, 0x02}, data(14, 4)), Bytes{0xA3, 2, 5, 0x20},
    };
    EXPECT_EQ(wire, expected);

    // Kind 0x40 (from a trace record after a send) writes at the record's address and bank.
    const uint8_t record[4] = {0x40, 6, 0x00, 0x30};
    dsp_trace_append(link.get(), record, 4);
    const size_t before = Log().size();
    EXPECT_EQ(dsp_go_idle(lc.get()), kIcdSent);
    auto log = Log();
    ASSERT_EQ(log.size(), before + 3);
    EXPECT_EQ(Wire(log[before + 1]), packet(0x0D, {0x00, 0x30}, data(0, 2)));
    EXPECT_EQ(Wire(log[before + 2]), (Bytes{0xA3, 2, 6, 0x40}));
    EXPECT_EQ(dsp_trace_used(link.get()), 0);
}

TEST_F(DspLinkTest, PatchThroughTheWindowAndTablesCutShort)
{
    const Bytes builtin = {0x00, 3, 0x34, 0x12, 2, 0, 0xA1, 0xA2, 0xA3, 0xA4, '0'};
    link->builtinPatch = DspPatchTable{builtin.data(), static_cast<uint32_t>(builtin.size()), 1};
    EXPECT_EQ(dsp_patch_download(link.get(), 0x60, 3, 0, 0), 1);
    EXPECT_EQ(pump->block.window.reg[249], 0x12);
    EXPECT_EQ(pump->block.window.reg[248], 0x34);
    EXPECT_EQ(pump->block.window.reg[250], 0xA4);
    EXPECT_EQ(pump->block.window.reg[252], 9);
    EXPECT_EQ(link->patchLoaded, 1);
    EXPECT_EQ(Log().size(), 1u);  // only the end of download

    // An entry whose words run past the table's end, and a table without its end mark: nothing is read
    // beyond the table and only the end of download goes out.
    const Bytes cut = {0x00, 4, 0x00, 0x10, 100, 0, 1, 2, 3};
    link->uploadPatch = DspPatchTable{cut.data(), static_cast<uint32_t>(cut.size()), 1};
    const size_t before = Log().size();
    EXPECT_EQ(dsp_patch_download(link.get(), 0x20, 4, 0, 0), 1);
    ASSERT_EQ(Log().size(), before + 1);
    EXPECT_EQ(Log().back().code, 0xA3);
}

}  // namespace
