// The error-control manager: the choice of protocol, the detection outcomes, the fall-backs and the link
// status, with a recording line side and MNP engine.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "lapm_pair.h"
#include "layer2/corecode/ec/ec_manager.h"
#include "platform/machine.h"

namespace {

struct Recorder {
    std::string calls;
    uint8_t mnp_status = 3;
    uint32_t setup_values[28] = {};
    uint16_t timeout = 0;
    uint8_t detect_mode = 0xFF;
    void note(const std::string& s) { calls += s + ";"; }
};

Recorder* rec(void* c) { return static_cast<Recorder*>(c); }

EcMnpOps recording_mnp(Recorder* r)
{
    EcMnpOps ops{};
    ops.context = r;
    ops.stop = [](void* c) { rec(c)->note("mnp_stop"); };
    ops.setup = [](void* c, const uint32_t* v, uint32_t n) {
        rec(c)->note("mnp_setup");
        for (uint32_t i = 0; i < n && i < 28; ++i)
            rec(c)->setup_values[i] = v[i];
    };
    ops.start = [](void* c, uint8_t r) { rec(c)->note("mnp_start" + std::to_string(r)); };
    ops.poll = [](void* c) { return rec(c)->mnp_status; };
    ops.hold = [](void* c) -> uint8_t { rec(c)->note("mnp_hold"); return 0; };
    ops.disconnect = [](void* c, uint8_t) -> uint8_t { rec(c)->note("mnp_disconnect"); return 0; };
    ops.send_break = [](void* c, uint8_t, uint16_t) { rec(c)->note("mnp_break"); return true; };
    ops.set_link_params = [](void*, uint8_t, uint8_t, uint16_t, uint8_t, uint16_t) -> uint8_t { return 0; };
    ops.line_abort = [](void* c, uint8_t) { rec(c)->note("mnp_abort"); };
    ops.notify = [](void* c, uint8_t) { rec(c)->note("mnp_notify"); };
    ops.pending_bits = [](void*) -> uint8_t { return 2; };
    return ops;
}

EcLineOps recording_line(Recorder* r)
{
    EcLineOps ops{};
    ops.context = r;
    ops.detect_start = [](void* c, uint8_t, uint8_t mode, uint16_t timeout) {
        rec(c)->note("detect_start");
        rec(c)->detect_mode = mode;
        rec(c)->timeout = timeout;
    };
    ops.detect_continue = [](void*) {};
    ops.detect_stop = [](void* c, uint8_t) { rec(c)->note("detect_stop"); };
    ops.resume = [](void* c) { rec(c)->note("resume"); };
    ops.empty_rings = [](void* c) { rec(c)->note("empty_rings"); };
    ops.break_to_dte = [](void* c, uint8_t type, uint16_t after) {
        rec(c)->note("break" + std::to_string(type) + "/" + std::to_string(after));
    };
    ops.from_dte_pending = [](void*) { return false; };
    return ops;
}

struct ManagerFixture {
    Recorder r;
    LapmDte dte;
    LapmCallValues call{};
    EcManager m;
    explicit ManagerFixture(const EcParams& p)
    {
        EcMnpOps mnp = recording_mnp(&r);
        EcLineOps line = recording_line(&r);
        LapmHost host = lapm_test_host(&dte);
        call.tx_rate = call.rx_rate = 2400;
        call.connection_mode = 2;
        ec_init(&m, &mnp, &line, &host, &call);
        ec_set_params(&m, &p);
    }
};

// \N-style choices: LAPM, MNP and buffered fall-back on or off, detection on or off.
EcParams params(uint8_t lapm, uint8_t mnp, uint8_t buffered, uint8_t detect)
{
    EcParams p{};
    p.lapm_enabled = lapm;
    p.mnp_request = mnp;
    p.buffered_allowed = buffered;
    p.detection_enabled = detect;
    p.break_mode = 2;
    p.retry_count = 12;
    p.info_size = 128;
    p.pass_break = 1;
    p.v42bis_p1 = 2048;
    p.v42bis_p2 = 32;
    p.mnp_tune16[3] = 77;
    return p;
}

struct StartCase {
    const char* name;
    EcParams p;
    uint8_t result;
    uint8_t state;
    const char* calls;
    uint8_t detect_mode;
};

class EcStartTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(EcStartTest, ChoosesTheProtocol)
{
    const StartCase& c = GetParam();
    ManagerFixture f(c.p);
    EXPECT_EQ(ec_start(&f.m, 0), c.result);
    EXPECT_EQ(f.m.state, c.state);
    EXPECT_EQ(f.r.calls, c.calls);
    if (c.state == EC_DETECTING) {
        EXPECT_EQ(f.r.detect_mode, c.detect_mode);
        EXPECT_EQ(f.r.timeout, 300);
        EXPECT_EQ(f.m.idle, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, EcStartTest,
    ::testing::Values(StartCase{"AllOff", params(0, 0, 0, 0), 1, EC_IDLE, "", 0},
                      StartCase{"LapmOnly", params(1, 0, 0, 0), 0, EC_LAPM, "", 0},
                      StartCase{"LapmBeforeMnp", params(1, 1, 1, 0), 0, EC_LAPM, "", 0},
                      StartCase{"MnpOnly", params(0, 1, 0, 0), 0, EC_MNP, "mnp_stop;mnp_setup;mnp_start0;", 0},
                      StartCase{"BufferedOnly", params(0, 0, 1, 0), 0, EC_BUFFERED, "mnp_stop;mnp_setup;mnp_start0;", 0},
                      StartCase{"DetectForLapm", params(1, 1, 1, 1), 0, EC_DETECTING, "mnp_setup;detect_start;", 0},
                      StartCase{"DetectForBuffered", params(0, 1, 1, 1), 0, EC_DETECTING, "mnp_setup;detect_start;", 2},
                      StartCase{"DetectWithNothingToRun", params(0, 1, 0, 1), 1, EC_IDLE, "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EcManagerTest, BufferedModeGetsOnlyItsValues)
{
    ManagerFixture f(params(0, 0, 1, 0));
    ec_start(&f.m, 0);
    const uint32_t* v = f.r.setup_values;
    EXPECT_EQ(v[0], 0u);
    EXPECT_EQ(v[3], 2u);   // break mode
    EXPECT_EQ(v[7], 1u);   // buffered allowed
    EXPECT_EQ(v[12], 1u);  // default break type
    EXPECT_EQ(v[17], 2048u);
    EXPECT_EQ(v[18], 32u);
    EXPECT_EQ(v[26], 77u);
    EXPECT_EQ(v[13], 0u);
}

TEST(EcManagerTest, MnpOffTakesTheMnpDefaults)
{
    EcParams p = params(1, 0, 0, 0);
    p.mnp_class = 3;
    p.mnp_fixed_field = 9;
    p.mnp5_request = 1;
    p.detection_option = 1;
    ManagerFixture f(p);
    EXPECT_EQ(f.m.params.mnp_class, 2);
    EXPECT_EQ(f.m.params.mnp_fixed_field, 0);
    EXPECT_EQ(f.m.params.mnp5_request, 0);
    EXPECT_EQ(f.m.params.detection_option, 0);  // the capability hook answers 2
    EXPECT_EQ(f.m.lapm_option, 0);
    EXPECT_EQ(f.m.params_word, 7u);
}

TEST(EcManagerTest, StartRequestsWhileALinkRuns)
{
    ManagerFixture f(params(1, 0, 0, 0));
    ASSERT_EQ(ec_start(&f.m, 1), 0);
    EXPECT_EQ(ec_start(&f.m, 0), 2);
    EXPECT_EQ(ec_start(&f.m, 2), 0);  // no resume pending: nothing happens, still 0
    ec_stop(&f.m);
    EXPECT_EQ(ec_start(&f.m, 2), 1);
    EXPECT_EQ(f.m.state, EC_IDLE);
    EXPECT_EQ(f.m.connect_failure, 255);
}

struct DetectCase {
    const char* name;
    EcParams p;
    uint8_t request;
    uint8_t type, kind;
    uint8_t poll, state, failure;
    const char* calls_after;  // calls from the result on
};

class EcDetectionTest : public ::testing::TestWithParam<DetectCase> {};

TEST_P(EcDetectionTest, ActsOnTheResult)
{
    const DetectCase& c = GetParam();
    ManagerFixture f(c.p);
    ASSERT_EQ(ec_start(&f.m, c.request), 0);
    EXPECT_EQ(ec_poll(&f.m), 1);  // no result yet
    f.r.calls.clear();
    f.m.connect_failure = 99;
    ec_detection_result(&f.m, c.type, c.kind);
    EXPECT_EQ(ec_poll(&f.m), c.poll);
    EXPECT_EQ(f.m.state, c.state);
    if (c.state == EC_IDLE) {
        EXPECT_EQ(f.m.connect_failure, c.failure);
    }
    EXPECT_EQ(f.r.calls, c.calls_after);
}

INSTANTIATE_TEST_SUITE_P(
    Results, EcDetectionTest,
    ::testing::Values(
        DetectCase{"LapmPeer", params(1, 1, 1, 1), 0, 0, 0, 1, EC_LAPM, 0, "detect_stop;"},
        DetectCase{"LapmPeerLapmOff", params(0, 1, 1, 1), 0, 0, 0, 0, EC_IDLE, 0, "detect_stop;"},
        DetectCase{"MnpPeer", params(1, 1, 1, 1), 0, 0, 1, 1, EC_MNP, 0, "detect_stop;mnp_stop;mnp_setup;mnp_start0;"},
        DetectCase{"MnpPeerMnpOff", params(1, 0, 1, 1), 0, 0, 1, 1, EC_LAPM, 0, "detect_stop;"},
        DetectCase{"BufferedPeer", params(1, 1, 1, 1), 0, 0, 2, 1, EC_BUFFERED, 0,
                   "detect_stop;mnp_stop;mnp_setup;mnp_start0;"},
        DetectCase{"BufferedPeerNotAllowed", params(1, 1, 0, 1), 0, 0, 2, 0, EC_IDLE, 0, "detect_stop;"},
        DetectCase{"NothingFound", params(1, 1, 1, 1), 0, 0, 9, 0, EC_IDLE, 0, "detect_stop;"},
        // The originator then starts MNP (set up only for detection, the engine would report an idle link).
        DetectCase{"NoAnswerOriginatingWithMnp", params(1, 1, 1, 1), 0, 1, 0, 1, EC_MNP, 0,
                   "mnp_stop;mnp_setup;mnp_start0;"},
        DetectCase{"NoAnswerAnswering", params(1, 1, 1, 1), 1, 1, 0, 1, EC_BUFFERED, 0,
                   "detect_stop;mnp_notify;resume;"},
        DetectCase{"NoAnswerNoBuffered", params(1, 0, 0, 1), 0, 1, 0, 0, EC_IDLE, 1, "detect_stop;"},
        DetectCase{"LapmAfterTheDetectionOption", params(1, 1, 1, 1), 0, 2, 0, 1, EC_LAPM, 0, "detect_stop;"},
        // An MNP frame heard during detection: MNP starts (it was only set up for detection).
        DetectCase{"TypeThreeWithMnp", params(1, 1, 1, 1), 0, 3, 0, 1, EC_MNP, 0, "mnp_stop;mnp_setup;mnp_start0;"},
        DetectCase{"TypeThreeWithMnpAnswering", params(1, 1, 1, 1), 1, 3, 0, 1, EC_MNP, 0,
                   "mnp_stop;mnp_setup;mnp_start1;"},
        DetectCase{"TypeThreeBuffered", params(1, 0, 1, 1), 0, 3, 0, 1, EC_BUFFERED, 0,
                   "detect_stop;mnp_notify;resume;"},
        DetectCase{"TypeThreeNothing", params(1, 0, 0, 1), 0, 3, 0, 0, EC_IDLE, 0, "detect_stop;"},
        DetectCase{"UnknownType", params(1, 1, 1, 1), 0, 7, 0, 0, EC_IDLE, 0, "detect_stop;"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EcManagerTest, DisconnectDuringDetectionMarksTheFailure)
{
    ManagerFixture f(params(1, 1, 0, 1));
    ec_start(&f.m, 0);
    EXPECT_EQ(ec_disconnect(&f.m, 0), 0);
    EXPECT_EQ(f.m.connect_failure, 255);
    EXPECT_EQ(f.m.params.buffered_allowed, 1);
}

TEST(EcManagerTest, LineAbortFallsBackToBufferedOrFails)
{
    ManagerFixture f(params(1, 0, 1, 0));
    ec_start(&f.m, 0);
    f.r.calls.clear();
    ec_line_abort(&f.m, 1);
    EXPECT_EQ(f.m.state, EC_BUFFERED);
    EXPECT_EQ(f.r.calls, "mnp_abort;mnp_stop;mnp_setup;mnp_start0;");
    ManagerFixture g(params(1, 0, 0, 1));
    ec_start(&g.m, 0);
    ec_line_abort(&g.m, 1);
    EXPECT_EQ(g.m.state, EC_IDLE);
    EXPECT_EQ(g.m.connect_failure, 0);
}

TEST(EcManagerTest, MnpSetupFailureFallsBackToBuffered)
{
    ManagerFixture f(params(0, 1, 1, 0));
    ec_start(&f.m, 0);
    f.r.mnp_status = 5;
    EXPECT_EQ(ec_poll(&f.m), 5);
    EXPECT_EQ(f.m.state, EC_BUFFERED);
    ManagerFixture g(params(0, 1, 0, 0));
    ec_start(&g.m, 0);
    g.r.mnp_status = 5;
    ec_poll(&g.m);
    EXPECT_EQ(g.m.state, EC_MNP);
}

TEST(EcManagerTest, MnpLinkRequestDuringLapmEstablishmentHandsTheLinkToMnp)
{
    ManagerFixture f(params(1, 1, 1, 0));
    f.m.lapm_option = 1;  // the fall-back enable as detection would set it
    ec_start(&f.m, 0);
    ec_poll(&f.m);
    const uint8_t lr[] = {4, 1, 2, 1, 6};  // first octet + 1 = length
    lapm_rx_frame(&f.m.lapm, lr, sizeof lr, false);
    f.r.calls.clear();
    EXPECT_EQ(ec_poll(&f.m), 1);
    EXPECT_EQ(f.m.state, EC_MNP);
    EXPECT_EQ(f.m.fallback_length, sizeof lr);
    EXPECT_EQ(0, std::memcmp(f.m.fallback, lr, sizeof lr));
    EXPECT_EQ(f.r.calls, "mnp_setup;");
}

TEST(EcManagerTest, BreaksFromTheLineInBufferedModeFollowTheBreakMode)
{
    for (uint8_t mode : {1, 2, 3}) {
        EcParams p = params(0, 0, 1, 0);
        p.break_mode = mode;
        ManagerFixture f(p);
        ec_start(&f.m, 0);
        f.r.calls.clear();
        ec_request_line_break(&f.m, 0, 40);
        ec_poll(&f.m);
        std::string want = mode == 3 ? "break1/40;" : "break1/0;";
        if (mode == 1)
            want += "empty_rings;";
        EXPECT_EQ(f.r.calls, want) << int(mode);
    }
}

TEST(EcManagerTest, LinkStatusCountersSaturateAndClear)
{
    ManagerFixture f(params(1, 0, 0, 0));
    for (int i = 0; i < 300; ++i) {
        ec_count_error(&f.m.counters);
        ec_count_bad_frame(&f.m.counters);
    }
    ec_count_good_frame(&f.m.counters);
    uint8_t s[EC_LINK_STATUS_SIZE];
    ec_get_and_clear_link_status(&f.m, s);
    EXPECT_EQ(s[4], 255);
    EXPECT_EQ(s[5], static_cast<uint8_t>(301));
    EXPECT_EQ(s[6], static_cast<uint8_t>(300));
    ec_get_link_status(&f.m, s);
    EXPECT_EQ(s[4], 0);
    EXPECT_EQ(s[5], 0);
    EXPECT_EQ(s[6], 0);
    ec_set_event_code(&f.m.counters, 0, 2, 0);
    ec_get_link_status(&f.m, s);
    EXPECT_EQ(s[1], 5);
}

// Two managers whose LAPM links meet on a line: passes of both until `done` holds; the last poll results.
std::pair<uint8_t, uint8_t> run_managers(ManagerFixture& a, ManagerFixture& b, int passes,
                                         const std::function<bool(uint8_t, uint8_t)>& done)
{
    uint8_t sa = 0, sb = 0;
    for (int i = 0; i < passes && !done(sa, sb); ++i) {
        if (i % 10 == 0) {
            lapm_tick(&a.m.lapm);
            lapm_tick(&b.m.lapm);
        }
        while (FrameNode* fr = lapm_tx_next(&a.m.lapm))
            lapm_rx_frame(&b.m.lapm, fr->data, fr->length, false);
        while (FrameNode* fr = lapm_tx_next(&b.m.lapm))
            lapm_rx_frame(&a.m.lapm, fr->data, fr->length, false);
        a.dte.room = b.dte.room = 4096;
        sa = ec_poll(&a.m);
        sb = ec_poll(&b.m);
    }
    return {sa, sb};
}

// The link comes up as LAPM and reports it.
TEST(EcManagerTest, TwoManagersComeUpWithLapm)
{
    ManagerFixture a(params(1, 1, 1, 0));
    ManagerFixture b(params(1, 1, 1, 0));
    ASSERT_EQ(ec_start(&a.m, 0), 0);
    ASSERT_EQ(ec_start(&b.m, 1), 0);
    a.dte.input = {'A', 'T'};
    auto [sa, sb] = run_managers(a, b, 500, [&](uint8_t x, uint8_t y) {
        return x == LAPM_TRANSFER && y == LAPM_TRANSFER && b.dte.output.size() == 2;
    });
    EXPECT_EQ(sa, LAPM_TRANSFER);
    EXPECT_EQ(sb, LAPM_TRANSFER);
    EXPECT_EQ(b.dte.output, (std::vector<uint8_t>{'A', 'T'}));
    uint8_t s[EC_LINK_STATUS_SIZE];
    ec_get_link_status(&a.m, s);
    EXPECT_EQ(s[8], EC_PROTOCOL_LAPM);
    EXPECT_EQ(s[11], EC_LAPM);
    EXPECT_EQ(s[2] | s[3] << 8, 128);
}

// With a V.42bis direction in the parameters the XID exchange agrees on it and the data goes compressed.
TEST(EcManagerTest, TwoManagersAgreeOnV42bis)
{
    EcParams pa = params(1, 0, 1, 0);
    EcParams pb = params(1, 0, 1, 0);
    pa.v42bis_p0 = 3;
    pb.v42bis_p0 = 1;
    pb.v42bis_p1 = 1024;
    auto a = std::make_unique<ManagerFixture>(pa);
    auto b = std::make_unique<ManagerFixture>(pb);
    ASSERT_EQ(ec_start(&a->m, 0), 0);
    ASSERT_EQ(ec_start(&b->m, 1), 0);
    std::string text;
    while (text.size() < 20000)
        text += "the modem compresses the text that the application writes. ";
    b->dte.input.assign(text.begin(), text.end());
    run_managers(*a, *b, 20000, [&](uint8_t, uint8_t) { return a->dte.output.size() >= text.size(); });
    EXPECT_EQ(std::string(a->dte.output.begin(), a->dte.output.end()), text);
    // Answerer's own direction 1 (transmit) meets the originator's 3: responder to initiator only.
    EXPECT_EQ(a->m.lapm.neg.p0, 2);
    EXPECT_EQ(a->m.lapm.neg.p1, 1024);
    EXPECT_EQ(a->m.compression.v42bis.p0, V42B_DECODER);
    EXPECT_EQ(b->m.compression.v42bis.p0, V42B_ENCODER);
}

// With the +DS44 defaults on both sides the XID exchange agrees on V.44 (which turns V.42bis off); the
// dictionaries come from the pool and go back when the manager stops.
TEST(EcManagerTest, TwoManagersAgreeOnV44AndGiveTheDictionariesBack)
{
    platform::Clock clock;
    platform::Machine machine({&clock, "ec-v44", ""});
    platform::MachineScope scope(machine);
    EcParams p = params(1, 0, 1, 0);
    p.v42bis_p0 = 3;
    auto a = std::make_unique<ManagerFixture>(p);
    auto b = std::make_unique<ManagerFixture>(p);
    for (ManagerFixture* f : {a.get(), b.get()}) {
        v44_supported_defaults(&f->m.v44);
        v44_params_default(&f->m.v44);
    }
    ASSERT_EQ(ec_start(&a->m, 0), 0);
    ASSERT_EQ(ec_start(&b->m, 1), 0);
    std::string text;
    while (text.size() < 20000)
        text += "the modem compresses the text that the application writes. ";
    a->dte.input.assign(text.begin(), text.end());
    b->dte.input.assign(text.begin(), text.end());
    run_managers(*a, *b, 20000, [&](uint8_t, uint8_t) {
        return a->dte.output.size() >= text.size() && b->dte.output.size() >= text.size();
    });
    EXPECT_EQ(std::string(a->dte.output.begin(), a->dte.output.end()), text);
    EXPECT_EQ(std::string(b->dte.output.begin(), b->dte.output.end()), text);
    for (ManagerFixture* f : {a.get(), b.get()}) {
        EXPECT_EQ(f->m.compression.comp.engine, &kV44Engine);
        EXPECT_EQ(f->m.compression.v44.tx.flags | f->m.compression.v44.rx.flags, V44_ENCODE | V44_DECODE);
        EXPECT_EQ(f->m.compression.v42bis.p0, 0);
    }
    EXPECT_EQ(machine.LiveBlocks(POOL_TAG('D', 'I', 'C', 'T')), 2);
    ec_stop(&a->m);
    ec_stop(&b->m);
    EXPECT_EQ(machine.LiveBlocks(), 0);
}

}  // namespace
