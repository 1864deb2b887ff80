// Connection control: the rate tables, the start packet and its fall-back chain, the decoders of the data
// pump's replies, the V.8 menu parse and the connection log as tables of cases; then calls over the
// scripted data pump: the CONNECT report with the read-back rate, the status screen, retrains and bad
// replies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "call_fixture.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/cmd/call_waiting.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_line_check.h"

using calltest::CallRig;

namespace {

// A request with every modulation allowed and the rates of a V.90 row.
ConnRequest FullRequest(uint8_t modulation)
{
    ConnRequest r{};
    r.modulation = modulation;
    r.allowed = 0xFFFFFFu;
    r.tx_min = 300;
    r.tx_max = 33600;
    r.rx_min = 300;
    r.rx_max = 57333;
    return r;
}

TEST(ConnTables, RateCodesOfListedAndUnlistedRates)
{
    const struct {
        uint32_t rate;
        uint8_t code;
    } cases[] = {{75, 3},     {300, 2},    {1200, 3},   {2400, 4},   {14400, 9},  {16800, 10},
                 {33600, 21}, {33333, 32}, {57333, 46}, {56000, 45}, {29333, 9},  {30666, 9},
                 {34666, 9},  {38666, 9},  {40000, 9},  {0, 9},      {123456, 9}};
    for (const auto& c : cases)
        EXPECT_EQ(conn_rate_code_table(c.rate), c.code) << c.rate;
}

TEST(ConnTables, RateChoiceAndFallBackChain)
{
    const struct {
        const char* name;
        uint8_t modulation;
        uint32_t allowed;
        uint32_t tx_max, rx_max;
        uint8_t v32_7200;
        ConnChoice expect;
    } cases[] = {
        {"V.90 automode", 23, 0xFFFFFF, 33600, 57333, 0, {23, 33600}},
        {"V.90 rounded down", 23, 0xFFFFFF, 31000, 57333, 0, {23, 28800}},
        {"V.34 at 2400 maximum", 18, 0xFFFFFF, 2400, 33600, 0, {18, 2400}},
        {"V.32bis capped", 16, 0xFFFFFF, 33600, 33600, 0, {16, 14400}},
        {"V.32bis below the cap", 16, 0xFFFFFF, 9600, 14400, 0, {16, 9600}},
        {"V.32", 12, 0xFFFFFF, 14400, 14400, 0, {12, 9600}},
        {"V.32 with the 7200 rate byte", 12, 0xFFFFFF, 14400, 14400, 1, {12, 4800}},
        {"V.22bis", 7, 0xFFFFFF, 2400, 2400, 0, {7, 2400}},
        {"V.22", 6, 0xFFFFFF, 1200, 1200, 0, {6, 1200}},
        {"Bell 212", 1, 0xFFFFFF, 1200, 1200, 0, {1, 1200}},
        {"V.23", 4, 0xFFFFFF, 1200, 1200, 0, {4, 1200}},
        {"V.21", 2, 0xFFFFFF, 300, 300, 0, {2, 300}},
        {"not allowed: V.32bis next", 18, 1u << 16 | 1u << 7, 33600, 33600, 0, {16, 14400}},
        {"not allowed: V.22bis next", 18, 1u << 7 | 1u << 6, 33600, 33600, 0, {7, 2400}},
        {"not allowed: V.22 next", 18, 1u << 6, 33600, 33600, 0, {6, 1200}},
        {"not allowed: Bell 212 next", 18, 1u << 1, 33600, 33600, 0, {1, 1200}},
        {"not allowed: V.23 next", 18, 1u << 4, 33600, 33600, 0, {4, 1200}},
        {"not allowed: V.21 next", 18, 1u << 2, 33600, 33600, 0, {2, 300}},
        {"nothing allowed: Bell 103", 18, 0, 33600, 33600, 0, {0, 300}},
    };
    for (const auto& c : cases) {
        ConnRequest r = FullRequest(c.modulation);
        r.allowed = c.allowed;
        r.tx_max = c.tx_max;
        r.rx_max = c.rx_max;
        r.v32_rate_7200 = c.v32_7200;
        const ConnChoice got = conn_choose(r);
        EXPECT_EQ(got.modulation, c.expect.modulation) << c.name;
        EXPECT_EQ(got.rate, c.expect.rate) << c.name;
    }
}

TEST(ConnPackets, StartPacketFieldsForTheFactorySettingsAndTheirVariants)
{
    CallRig rig;
    ConnRequest r = conn_request_from_settings(rig.A(), true);
    uint8_t p[kStartPacketLength];
    std::memset(p, 0xEE, sizeof p);
    conn_build_start_packet(r, conn_choose(r), p);
    const std::vector<uint8_t> factory(p, p + kStartPacketLength);
    // V.90 automode at 33600 (code 21) with the factory %E and %G line options in bits 6-7, originating,
    // automode and V.8 procedure flags, the 75 bit/s flag of the originator and %E, byte 8 the base value 2,
    // byte 9 clear.
    EXPECT_EQ(factory, (std::vector<uint8_t>{0x68, 0, 6, 0, 0xD5, 23, 0x1C, 0x0C, 0x02, 0x00}));
    r.line_options = 0;
    r.percent_e = 0;
    r.v8_exchange = 0;

    const struct {
        const char* name;
        void (*change)(ConnRequest*);
        int byte;
        uint8_t value;
    } cases[] = {
        {"answering", [](ConnRequest* q) { q->originate = 0; }, 6, 0x08},
        {"answering: the 75 bit/s flag follows", [](ConnRequest* q) { q->originate = 0; }, 7, 0x00},
        {"first rate value 75", [](ConnRequest* q) { q->originate = 0; q->first_rate_value = 75; }, 7, 0x04},
        {"second rate value 75", [](ConnRequest* q) { q->second_rate_value = 75; }, 7, 0x00},
        {"%E", [](ConnRequest* q) { q->percent_e = 1; }, 7, 0x0C},
        {"V.8 procedure: byte 6 bit 4", [](ConnRequest* q) { q->v8_exchange = 1; }, 6, 0x1C},
        {"V.8 procedure before the exchange chose", [](ConnRequest* q) { q->v8_exchange = 1; }, 7, 0x04},
        {"V.8 continuation originating", [](ConnRequest* q) { q->v8_exchange = q->v8_continue = 1; }, 7, 0x05},
        {"V.8 continuation answering",
         [](ConnRequest* q) { q->v8_exchange = q->v8_continue = 1; q->originate = 0; }, 7, 0x02},
        {"calling tone", [](ConnRequest* q) { q->calling_tone = 1; }, 6, 0x0D},
        {"line options %E and %G", [](ConnRequest* q) { q->line_options = 0x30; }, 4, 0xD5},
        {"no line options", [](ConnRequest*) {}, 4, 21},
        {"option bit 0", [](ConnRequest* q) { q->option_word = 0x0001; }, 8, 0x42},
        {"option bits 7 and 11", [](ConnRequest* q) { q->option_word = 0x0880; }, 8, 0x32},
        {"option bit 9", [](ConnRequest* q) { q->option_word = 0x0200; }, 8, 0x07},
        {"option bit 9 alternate", [](ConnRequest* q) { q->option_word = 0x0200; q->alternate = 1; }, 8, 0x03},
        {"PCM capable, none configured", [](ConnRequest* q) { q->pcm_configured = 0; q->pcm_capable = 1; }, 8, 0x0A},
        {"fax or voice line mode", [](ConnRequest* q) { q->fax_or_voice = 1; }, 4, 11},
    };
    for (const auto& c : cases) {
        ConnRequest q = r;
        c.change(&q);
        std::memset(p, 0xEE, sizeof p);
        conn_build_start_packet(q, conn_choose(q), p);
        EXPECT_EQ(p[c.byte], c.value) << c.name;
        EXPECT_EQ(p[2], 6) << c.name;
        EXPECT_EQ(p[9], 0) << c.name;
    }
}

TEST(ConnPackets, RateMasksCoverTheRangesOfBothDirections)
{
    ConnRequest r = FullRequest(16);
    r.tx_min = 7200;
    r.tx_max = 12000;
    r.rx_min = 4800;
    r.rx_max = 14400;
    uint8_t m[kRateMaskLength];
    conn_build_rate_masks(r, m);
    EXPECT_EQ(m[0], 0x1C) << "transmit 7200, 9600, 12000";
    EXPECT_EQ(m[2], 0x3E) << "receive 4800 to 14400";
    const uint32_t v34 = m[4] | m[5] << 8 | m[6] << 16 | static_cast<uint32_t>(m[7]) << 24;
    EXPECT_EQ(v34, (1u << 3) | (1u << 4) | (1u << 5)) << "7200 to 12000 in steps of 2400";
}

TEST(ConnReplies, RateReadBack)
{
    const struct {
        uint8_t r;
        uint32_t tx, rx;
    } bytes[] = {{0, 1200, 75}, {1, 75, 1200}, {2, 300, 300}, {4, 2400, 2400}, {9, 14400, 14400},
                 {10, 1200, 1200}, {255, 1200, 1200}};
    for (const auto& c : bytes) {
        uint32_t tx = 1;
        uint32_t rx = 1;
        conn_decode_rate_byte(c.r, &tx, &rx);
        EXPECT_EQ(tx, c.tx) << int(c.r);
        EXPECT_EQ(rx, c.rx) << int(c.r);
    }
    // V.34: a = bits 6-9 of bytes 0-1, b = bits 2-5 of byte 0.
    const uint16_t word = static_cast<uint16_t>((14u << 6) | (10u << 2));
    const uint8_t link[8] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
    uint32_t tx = 0;
    uint32_t rx = 0;
    conn_decode_v34_rates(link, true, &tx, &rx);
    EXPECT_EQ(tx, 24000u);
    EXPECT_EQ(rx, 33600u);
    conn_decode_v34_rates(link, false, &tx, &rx);
    EXPECT_EQ(tx, 33600u);
    EXPECT_EQ(rx, 24000u);
    // PCM: byte 2 = 1 is PCM upstream; out-of-range indices read entry 0.
    uint8_t v92 = 9;
    const uint8_t pcm_up[8] = {0, 0, 1, 0, 0, 0, 3, 15};
    conn_decode_pcm_rates(pcm_up, &tx, &rx, &v92);
    EXPECT_EQ(tx, 28000u);
    EXPECT_EQ(rx, 57333u);
    EXPECT_EQ(v92, 1);
    const uint8_t pcm_bad[8] = {0, 0, 0, 0, 0, 0, 14, 200};
    conn_decode_pcm_rates(pcm_bad, &tx, &rx, &v92);
    EXPECT_EQ(tx, 33600u);
    EXPECT_EQ(rx, 33333u);
    EXPECT_EQ(v92, 0);
}

TEST(ConnReplies, ModeReadBackAndLineQuality)
{
    EXPECT_EQ(conn_decode_mode(17, 23, true), 18);
    EXPECT_EQ(conn_decode_mode(16, 23, false), 12);
    EXPECT_EQ(conn_decode_mode(16, 23, true), 16);
    EXPECT_EQ(conn_decode_mode(6, 1, true), 1);
    EXPECT_EQ(conn_decode_mode(6, 7, true), 6);
    const struct {
        uint16_t a, b;
        bool flag;
        uint8_t verdict;
    } q[] = {{10240, 0, false, 2}, {2560, 0, false, 0}, {2561, 0, false, 1}, {0, 5, false, 3},
             {18432, 0, false, 3}, {18432, 9, true, 1}};
    for (const auto& c : q)
        EXPECT_EQ(conn_v34_quality(c.a, c.b, c.flag), c.verdict) << c.a << " " << c.b;
}

TEST(ConnV8, StartOctetsAndTheMenuParse)
{
    ConnV8Allowed a{};
    a.v32bis = a.v22bis = a.v21 = a.v23 = 1;
    a.higher_first = 1;
    a.lapm = 1;
    uint8_t own[kStartOctetsMax] = {};
    const int length = conn_build_start_octets(a, 0xC1, own);
    EXPECT_EQ(std::vector<uint8_t>(own, own + 8), (std::vector<uint8_t>{255, 0xE0, 0xC1, 0x45, 19, 148, 42, 13}));
    EXPECT_EQ(length, 8) << "the marker, the sync octet and six octets: nothing past the 13";

    ConnV8Allowed pcm = a;
    pcm.higher_second = 1;
    uint8_t own_pcm[kStartOctetsMax] = {};
    conn_build_start_octets(pcm, 0xC1, own_pcm);
    EXPECT_EQ(own_pcm[3], 0x65);
    const struct {
        const char* name;
        std::vector<uint8_t> rx;
        bool v32bis;
        uint8_t expect;
        bool own_offers_pcm = false;
    } cases[] = {
        {"too short", {0xE0}, true, MOD_NONE},
        {"V.34 bit", {0xE0, 0xC1, 0x45}, true, MOD_V34},
        {"first extension bit 0 with V.32bis allowed", {0xE0, 0xC1, 0x05, 0x11}, true, MOD_V32BIS},
        {"first extension bit 0 without V.32bis", {0xE0, 0xC1, 0x05, 0x11}, false, MOD_V32},
        {"V.22bis", {0xE0, 0xC1, 0x05, 0x12}, true, MOD_V22BIS},
        {"second extension V.21", {0xE0, 0xC1, 0x05, 0x10, 0x90}, true, MOD_V21},
        {"PCM octet after the PCM modulation bit", {0xE0, 0xC1, 0x65, 0x47}, true, MOD_V90, true},
        {"PCM octet, but this side offers no PCM", {0xE0, 0xC1, 0x65, 0x47}, true, MOD_V34},
        {"PCM octet without the PCM modulation bit", {0xE0, 0xC1, 0x45, 0x47}, true, MOD_V34, true},
        {"PCM octet before the modulation octet", {0xE0, 0x47, 0xC1, 0x65}, true, MOD_V34, true},
        {"no common modulation", {0xE0, 0xC1, 0x05, 0x10}, true, MOD_NONE},
    };
    for (const auto& c : cases) {
        uint8_t mine[kStartOctetsMax];
        std::memcpy(mine, c.own_offers_pcm ? own_pcm : own, sizeof mine);
        const uint8_t got = conn_parse_v8_menu(c.rx.data(), static_cast<int>(c.rx.size()), mine, length, c.v32bis,
                                               true, 0xC1);
        EXPECT_EQ(got, c.expect) << c.name;
    }
    // The modulation octet is narrowed to what both sides have.
    uint8_t mine[kStartOctetsMax];
    std::memcpy(mine, own, sizeof mine);
    const uint8_t rx[] = {0xE0, 0x21, 0x05, 0x12};
    conn_parse_v8_menu(rx, 4, mine, length, true, true, 0xC1);
    EXPECT_EQ(mine[3], 0x05);
    EXPECT_EQ(mine[4], 0x12);
    EXPECT_EQ(mine[2], 0xC1) << "a different call function is replaced by the +A8E byte";
}

std::vector<std::string> PrintedLog(const ConnectionLog& log)
{
    std::vector<std::string> lines;
    connlog_print(&log, [](void* ctx, const char* text, uint8_t mode) {
        auto* out = static_cast<std::vector<std::string>*>(ctx);
        if (mode == 2 || out->empty())
            out->emplace_back();
        out->back() += text;
    }, &lines);
    return lines;
}

TEST(ConnLog, KeepsTheLast19EntriesAndPrintsTheirTimes)
{
    ConnectionLog log{};
    EXPECT_TRUE(PrintedLog(log).empty());
    for (uint32_t k = 0; k < 20; ++k)
        connlog_add(&log, 1000 + 10 * k, 0, 0, ("E" + std::to_string(k)).c_str());
    const auto lines = PrintedLog(log);
    ASSERT_EQ(lines.size(), 19u);
    EXPECT_EQ(lines.front(), "[          ] E1");
    EXPECT_EQ(lines.back(), "[        10] E19");

    ConnectionLog two{};
    connlog_add(&two, 0, 0, 0, "Originate");
    connlog_add(&two, 4321, 2400, 1200, "Connected with a text longer than twenty-nine");
    const auto printed = PrintedLog(two);
    ASSERT_EQ(printed.size(), 2u);
    EXPECT_EQ(printed[0], "[         0] Originate");
    EXPECT_EQ(printed[1], "[      4321] Connected with a text longer  TX=2400 RX=1200");
}

// ---- calls over the scripted data pump ----

void DialAndConnect(CallRig& r)
{
    r.Type("ATD5\r");
    for (int t = 0; t < 5000 && r.IcdCount(IcdStartConnection) == 0; t += 10)
        r.Run(10);
    r.PumpState(2);
    r.Run(300);
}

TEST(ConnCalls, ConnectReportsTheReadBackRate)
{
    const struct {
        uint8_t mode, rate;
        const char* text;
        uint8_t modulation;
    } cases[] = {{7, 4, "CONNECT 2400", MOD_V22BIS}, {6, 3, "CONNECT 1200", MOD_V22}, {2, 2, "CONNECT 300", MOD_V21}};
    for (const auto& c : cases) {
        CallRig r;
        r.A()->sreg[22] &= static_cast<uint8_t>(~0x10);  // blind dialling
        r.pump->modeByte = c.mode;
        r.pump->rateByte = c.rate;
        DialAndConnect(r);
        const std::string out = r.Output();
        EXPECT_NE(out.find(c.text), std::string::npos) << out;
        EXPECT_EQ(r.A()->call_state, CALL_ONLINE);
        EXPECT_EQ(r.A()->conn.modulation, c.modulation);
        EXPECT_EQ(r.A()->conn.state, CONN_CONNECTED);
        EXPECT_EQ(r.A()->conn.connects_first_rate, 1u);
    }
}

TEST(ConnCalls, StatusScreenShowsTheConnectionRetrainsAndTheLog)
{
    CallRig r;
    r.A()->sreg[22] &= static_cast<uint8_t>(~0x10);
    DialAndConnect(r);
    r.Output();
    // The far end retrains: counted as remote, logged, and back to connected.
    r.PumpState(3);
    r.Run(50);
    EXPECT_EQ(r.A()->conn.state, CONN_RETRAINING);
    r.PumpState(2);
    r.Run(50);
    EXPECT_EQ(r.A()->conn.state, CONN_CONNECTED);
    EXPECT_EQ(r.A()->conn.retrains, 1u);
    EXPECT_EQ(r.A()->conn.retrains_own, 0u);
    // The screen ATI20 prints, while the connection is up.
    std::string screen;
    DspConnectionFacts facts;
    conn_status_facts(r.A(), &facts);
    ShowConnectionStatus(
        r.dev.get(), &facts, 0, [](void* ctx, const char* text, uint8_t) { *static_cast<std::string*>(ctx) += text; },
        &screen, nullptr);
    EXPECT_NE(screen.find("Connected V22BIS TX=2400 RX=2400"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Retrains : 1"), std::string::npos) << screen;
    const auto log = PrintedLog(r.A()->conn.log);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_NE(log[0].find("Originate"), std::string::npos);
    EXPECT_NE(log[1].find("Connected TX=2400 RX=2400"), std::string::npos);
    EXPECT_NE(log[2].find("Retrain"), std::string::npos);
    EXPECT_NE(log[3].find("Connected TX=2400 RX=2400"), std::string::npos);
}

TEST(ConnCalls, ARetrainBeforeAnyConnectionChangesNothing)
{
    CallRig r;
    r.A()->sreg[22] &= static_cast<uint8_t>(~0x10);
    r.Type("ATD5\r");
    for (int t = 0; t < 5000 && r.IcdCount(IcdStartConnection) == 0; t += 10)
        r.Run(10);
    r.PumpState(3);
    r.Run(50);
    EXPECT_EQ(r.A()->conn.state, CONN_ORIGINATING);
    EXPECT_EQ(r.A()->conn.retrains, 0u);
}

TEST(ConnCalls, OwnRetrainAndRenegotiationRequests)
{
    CallRig r;
    r.A()->sreg[22] &= static_cast<uint8_t>(~0x10);
    r.pump->modeByte = 16;
    r.pump->rateByte = 9;
    r.A()->ext.ma_selected[7] = 1;  // V.32bis allowed
    DialAndConnect(r);
    EXPECT_EQ(r.A()->conn.modulation, MOD_V32BIS);
    EXPECT_TRUE(conn_request_retrain(r.A()));
    EXPECT_EQ(r.IcdCount(IcdRetrain), 1u);
    r.PumpState(3);
    r.Run(30);
    r.PumpState(2);
    r.Run(30);
    EXPECT_EQ(r.A()->conn.retrains_own, 1u);
    EXPECT_TRUE(conn_request_renegotiation(r.A(), 12000));
    const auto icd = r.Icd();
    ASSERT_EQ(icd.back().code, IcdRenegotiate);
    EXPECT_EQ(icd.back().payload.at(0), 8) << "rate code of 12000";
    r.PumpState(13);
    r.Run(30);
    r.PumpState(2);
    r.Run(30);
    EXPECT_EQ(r.A()->conn.renegotiations_own, 1u);
    EXPECT_EQ(r.A()->conn.renegotiations, 1u) << "the pump's state 13 after our request is the same one";
    // The far end's renegotiation: counted, not as ours.
    r.PumpState(13);
    r.Run(30);
    r.PumpState(2);
    r.Run(30);
    EXPECT_EQ(r.A()->conn.renegotiations, 2u);
    EXPECT_EQ(r.A()->conn.renegotiations_own, 1u);
    // A renegotiation that never comes back ends the connection when its timer runs out.
    EXPECT_TRUE(conn_request_renegotiation(r.A(), 9600));
    r.PumpState(13);
    r.Run(3500);
    EXPECT_EQ(r.A()->conn.disconnect_reason, 63);
}

TEST(ConnCalls, BadRepliesNeverReadOutOfBounds)
{
    for (uint8_t bad : {25, 31, 99, 200, 255}) {
        CallRig r;
        r.A()->sreg[22] &= static_cast<uint8_t>(~0x10);
        r.pump->modeByte = bad;
        r.pump->rateByte = bad;
        DialAndConnect(r);
        EXPECT_EQ(r.A()->call_state, CALL_ONLINE) << int(bad);
        EXPECT_EQ(r.A()->conn.rx_rate, 1200u) << int(bad);
        const std::string out = r.Output();
        EXPECT_NE(out.find("CONNECT"), std::string::npos) << out;
    }
}

}  // namespace

namespace {

// The call-waiting watch follows the connection: on at the connection, off while the far end retrains and
// on again when data resumes, untouched by a renegotiation, off at the clear-down.
TEST(ConnCalls, CallWaitingWatchFollowsTheConnection)
{
    CallRig r;
    r.A()->sreg[22] &= static_cast<uint8_t>(~0x10);
    r.pump->modeByte = 16;
    r.pump->rateByte = 9;
    r.A()->ext.ma_selected[7] = 1;
    DialAndConnect(r);
    AcuContext* acu = r.A();
    auto flags = [&] { return acu->dsp->link.events.eventFlags.load(); };
    EXPECT_EQ(acu->cw.step, CW_WATCH);
    EXPECT_NE(flags() & kEventFlagCallWaiting, 0);
    r.PumpState(3);  // the far end retrains
    r.Run(30);
    EXPECT_EQ(acu->cw.step, CW_OFF);
    EXPECT_EQ(flags(), 0);
    r.PumpState(2);
    r.Run(30);
    EXPECT_EQ(acu->cw.step, CW_WATCH);
    EXPECT_NE(flags() & kEventFlagCallWaiting, 0);
    acu->cw.step = CW_PAUSE;  // a waiting call was just handled
    r.PumpState(13);
    r.Run(30);
    r.PumpState(2);
    r.Run(30);
    EXPECT_EQ(acu->cw.step, CW_PAUSE) << "a renegotiation restarted the watch";
    r.PumpState(4);
    r.Run(30);
    EXPECT_EQ(acu->cw.step, CW_OFF);
    EXPECT_EQ(flags() & kEventFlagCallWaiting, 0);
}

// The end of a synchronous-access transmission hangs up with "NO CARRIER"; with the V.8 answer menu the
// detectors go back to mode 0 first.
TEST(ConnCalls, HangUpNoCarrierResetsTheV8Detectors)
{
    for (uint8_t answer : {5, 1}) {
        SCOPED_TRACE(static_cast<int>(answer));
        CallRig r;
        r.A()->sreg[22] &= static_cast<uint8_t>(~0x10);
        r.pump->modeByte = 7;
        r.pump->rateByte = 4;
        DialAndConnect(r);
        r.Output();
        r.A()->ext.a8e[1] = answer;
        r.A()->dsp->line.detectorMode = 1;
        r.A()->conn.v8_exchange = 1;
        const size_t before = r.IcdCount(IcdConfigDetectors);
        acu_hang_up_no_carrier(r.A());
        EXPECT_EQ(r.A()->conn.v8_exchange, 0);
        EXPECT_EQ(r.A()->dsp->line.detectorMode, answer == 5 ? 0 : 1);
        EXPECT_EQ(r.IcdCount(IcdConfigDetectors), before + (answer == 5 ? 1u : 0u));
        r.Run(100);
        r.PumpState(0);
        r.Run(3000);
        const std::string out = r.Output();
        EXPECT_NE(out.find("NO CARRIER"), std::string::npos) << out;
        EXPECT_NE(r.A()->call_state, CALL_ONLINE);
    }
}

}  // namespace
