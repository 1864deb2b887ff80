// MNP link procedures on one link driven frame by frame: establishment as answerer, LT numbering across
// the 255 -> 0 wrap, credit and resends, the retransmission request, attention, disconnect, inactivity,
// malformed frames in data transfer, and a bounded fuzz of everything a peer can send.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/ec/mnp_internal.h"

namespace {

#ifdef MODEM_UNDER_SANITIZER
constexpr int kFuzzFrames = 20000;
#else
constexpr int kFuzzFrames = 40000;
#endif

using Bytes = std::vector<uint8_t>;

struct Driver {
    MnpLink link;
    LapmCallValues call{};
    EcCounters counters{};
    std::deque<uint8_t> input;
    Bytes output;
    uint32_t room = 1 << 20;
    std::vector<std::pair<uint8_t, uint8_t>> breaks;
    int discards = 0;
    std::vector<uint8_t> modes;
    std::vector<Bytes> sent;
    FrameNode* buffer = nullptr;

    explicit Driver(std::vector<uint32_t> values = {})
    {
        call.tx_rate = call.rx_rate = 14400;
        MnpHost h{};
        h.context = this;
        h.dte_pending = [](void* c) { return static_cast<uint32_t>(self(c)->input.size()); };
        h.dte_read = [](void* c, uint8_t* out, uint32_t max) {
            Driver* d = self(c);
            uint32_t n = 0;
            while (n < max && !d->input.empty()) {
                out[n++] = d->input.front();
                d->input.pop_front();
            }
            return n;
        };
        h.dte_room = [](void* c) { return self(c)->room; };
        h.dte_write = [](void* c, const uint8_t* in, uint32_t n) { self(c)->output.insert(self(c)->output.end(), in, in + n); };
        h.dte_break = [](void* c, uint8_t type, uint8_t length) { self(c)->breaks.emplace_back(type, length); };
        h.dte_discard = [](void* c) {
            self(c)->input.clear();
            ++self(c)->discards;
        };
        h.line_mode = [](void* c, uint8_t mode, FrameNode* rx) {
            self(c)->modes.push_back(mode);
            self(c)->buffer = rx;
        };
        mnp_init(&link, &h, &call, &counters);
        if (values.empty())
            values = {1, 2, 0, 2, 5};
        values.resize(MNP_SETUP_VALUES);
        mnp_setup(&link, values.data(), MNP_SETUP_VALUES);
    }
    static Driver* self(void* c) { return static_cast<Driver*>(c); }

    // The line block completes a frame in its buffer.
    void inject(const Bytes& f, bool bad = false)
    {
        if (buffer == nullptr)
            buffer = mnp_rx_done(&link, nullptr);
        ASSERT_NE(buffer, nullptr);
        std::copy(f.begin(), f.end(), buffer->data);
        buffer->length = static_cast<uint16_t>(f.size());
        buffer->bad = bad ? 1 : 0;
        buffer = mnp_rx_done(&link, buffer);
    }
    // The line block sends everything it is given.
    void pull()
    {
        while (FrameNode* f = mnp_tx_next(&link))
            sent.emplace_back(f->data, f->data + f->length);
    }
    uint8_t poll(int passes = 1)
    {
        uint8_t s = 0;
        for (int i = 0; i < passes; ++i) {
            pull();
            s = mnp_poll(&link);
            pull();
        }
        return s;
    }
    void seconds(int n)
    {
        for (int i = 0; i < n * 10; ++i) {
            mnp_tick(&link);
            poll();
        }
    }
    std::vector<Bytes> take_sent()
    {
        std::vector<Bytes> s;
        s.swap(sent);
        return s;
    }
    // Sent frames of one type.
    std::vector<Bytes> of_type(uint8_t type)
    {
        std::vector<Bytes> out;
        for (const Bytes& f : sent)
            if (f.size() > 1 && f[1] == type)
                out.push_back(f);
        return out;
    }
};

const Bytes kOriginatorLr = {0x17, 1, 2, 1, 6, 1, 0, 0, 0, 0, 0xFF, 2, 1, 2, 3, 1, 19, 4, 2, 0x40, 0, 8, 1, 0x81};

Bytes la(uint8_t nr, uint8_t credit) { return {7, 5, 1, 1, nr, 2, 1, credit}; }
Bytes lt(uint8_t ns, const Bytes& data)
{
    Bytes f = {4, 4, 1, 1, ns};
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

// Answers an originator's LR and takes its first LA: data transfer with the given credit.
void establish(Driver* d, uint8_t credit, const Bytes& request = kOriginatorLr)
{
    mnp_start(&d->link, 1);
    EXPECT_EQ(d->poll(), MNP_STATUS_ESTABLISHING);
    d->inject(request);
    d->poll();
    ASSERT_EQ(d->of_type(MNP_LR).size(), 1u);
    d->inject(la(0, credit));
    for (int i = 0; i < 4 && d->link.status != MNP_STATUS_CONNECTED; ++i)
        d->poll();
    ASSERT_EQ(d->link.status, MNP_STATUS_CONNECTED);
    d->poll();
    d->take_sent();
}

TEST(MnpProcedure, AnswererConnectsAndSendsWithinTheCredit)
{
    Driver d;
    establish(&d, 3);
    EXPECT_EQ(d.modes, (std::vector<uint8_t>{LINE_MODE_MNP_OCTET}));
    EXPECT_EQ(d.link.tx.credit, 3);
    d.input.assign(3000, 'x');
    d.poll(10);
    const std::vector<Bytes> lts = d.of_type(MNP_LT);
    ASSERT_EQ(lts.size(), 3u);  // the credit, no more
    for (uint8_t i = 0; i < 3; ++i) {
        EXPECT_EQ(lts[i][4], i + 1);
        EXPECT_EQ(lts[i].size(), 5u + 256u);
    }
    d.take_sent();
    // Credit 0 with everything acknowledged: still nothing more goes out.
    d.inject(la(3, 0));
    d.poll(10);
    EXPECT_TRUE(d.of_type(MNP_LT).empty());
    d.inject(la(3, 2));
    d.poll(10);
    EXPECT_EQ(d.of_type(MNP_LT).size(), 2u);
}

TEST(MnpProcedure, LtNumbersWrapFrom255To0)
{
    Driver d;
    establish(&d, 19);
    // Received LTs 1..300 in sequence: the receive side follows across the wrap and acknowledges 0.
    Bytes expect;
    for (int k = 1; k <= 300; ++k) {
        const Bytes data = {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8)};
        d.inject(lt(static_cast<uint8_t>(k), data));
        expect.insert(expect.end(), data.begin(), data.end());
        d.poll();
        if (k == 255)
            EXPECT_EQ(d.link.rx.last_ns, 255);
        if (k == 256)
            EXPECT_EQ(d.link.rx.last_ns, 0);
    }
    EXPECT_EQ(d.output, expect);
    EXPECT_EQ(d.sent.back(), la(300 & 0xFF, 10));
    // The transmit side numbers its LTs across the wrap too.
    d.take_sent();
    for (int k = 1; k <= 260; ++k) {
        d.input.push_back(static_cast<uint8_t>(k));
        d.poll();
        const std::vector<Bytes> lts = d.of_type(MNP_LT);
        ASSERT_EQ(lts.size(), 1u) << k;
        EXPECT_EQ(lts[0][4], static_cast<uint8_t>(k));
        d.take_sent();
        d.inject(la(static_cast<uint8_t>(k), 19));
    }
}

TEST(MnpProcedure, OutOfSequenceLtIsDroppedAndAcknowledgedOnce)
{
    Driver d;
    establish(&d, 19);
    d.inject(lt(1, {'a'}));
    d.poll();
    EXPECT_EQ(d.of_type(MNP_LA).back(), la(1, 10));
    d.take_sent();
    d.inject(lt(3, {'c'}));  // LT 2 lost
    d.inject(lt(4, {'d'}));
    d.poll(3);
    EXPECT_EQ(d.of_type(MNP_LA), (std::vector<Bytes>{la(1, 10)}));
    EXPECT_TRUE(d.of_type(MNP_RR).empty());  // no 0xC4 option
    d.inject(lt(2, {'b'}));
    d.inject(lt(3, {'c'}));
    d.inject(lt(1, {'a'}));  // a repeat: dropped
    d.poll();
    EXPECT_EQ(d.output, (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(d.counters.errors, 2);
}

TEST(MnpProcedure, RetransmissionRequestWithTheC4Option)
{
    Bytes request = kOriginatorLr;
    request[0] = static_cast<uint8_t>(request[0] + 3);
    request.insert(request.end(), {0xC4, 1, 1});
    Driver d({1, 2, 0, 2, 5, 0, 0, 0, 1});
    establish(&d, 19, request);
    EXPECT_EQ(d.link.neg.c4, 1);
    d.inject(lt(2, {'b'}));
    d.poll();
    EXPECT_EQ(d.of_type(MNP_RR), (std::vector<Bytes>{{4, 8, 1, 1, 1}}));
    // A request from the peer sends again from the N(S) it names.
    d.poll(2);
    d.take_sent();
    d.input.assign(600, 'y');
    d.poll(5);
    ASSERT_EQ(d.of_type(MNP_LT).size(), 3u);
    d.take_sent();
    d.inject({4, 8, 1, 1, 2});
    d.poll(3);
    const std::vector<Bytes> again = d.of_type(MNP_LT);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0][4], 2);
    EXPECT_EQ(again[1][4], 3);
}

// The sender goes back after a gap and the LT it resends is lost again: the N(S) seen falls back, and the
// gap is reported afresh (LA, and with the 0xC4 option a retransmission request) instead of waiting for the
// sender's acknowledgement timer.
TEST(MnpProcedure, ALostResendIsReportedAgain)
{
    for (const bool c4 : {false, true}) {
        SCOPED_TRACE(c4 ? "0xC4 option" : "no 0xC4 option");
        Bytes request = kOriginatorLr;
        if (c4) {
            request[0] = static_cast<uint8_t>(request[0] + 3);
            request.insert(request.end(), {0xC4, 1, 1});
        }
        Driver d({1, 2, 0, 2, 5, 0, 0, 0, c4 ? 1u : 0u});
        establish(&d, 19, request);
        const size_t reports = c4 ? 2 : 1;  // frames per report: LA, and the request with the option
        for (const uint8_t ns : {2, 3, 4}) {  // LT 1 lost: one report
            d.inject(lt(ns, {ns}));
            d.poll();
        }
        EXPECT_EQ(d.take_sent().size(), reports);
        for (const uint8_t ns : {2, 3}) {  // the resent LT 1 lost too: reported once more
            d.inject(lt(ns, {ns}));
            d.poll();
        }
        const std::vector<Bytes> again = d.take_sent();
        ASSERT_EQ(again.size(), reports);
        EXPECT_EQ(again.front(), c4 ? Bytes({4, 8, 1, 1, 1}) : la(0, 10));
        EXPECT_EQ(again.back(), la(0, 10));
        for (const uint8_t ns : {1, 2, 3})
            d.inject(lt(ns, {ns}));
        d.poll();
        EXPECT_EQ(d.output, (Bytes{1, 2, 3}));
    }
}

TEST(MnpProcedure, RepeatedLaResendsFromTheOldestUnacknowledgedAndShrinksTheLt)
{
    Driver d;
    establish(&d, 19);
    d.input.assign(7 * 256, 'z');
    d.poll(8);
    ASSERT_EQ(d.of_type(MNP_LT).size(), 7u);
    d.take_sent();
    d.inject(la(2, 10));  // LTs 1 and 2 taken: the size grows back to 256
    d.poll();
    d.inject(la(2, 10));  // the same again: LT 3 was lost
    d.poll(2);
    const std::vector<Bytes> again = d.of_type(MNP_LT);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0][4], 3);
    EXPECT_EQ(d.link.tx.lt_size, 128);
    EXPECT_GT(d.link.lt_resent, 0u);
}

// The line block has not yet taken the LT waiting in the hand-over when an acknowledgement falls due: the
// LA goes first and the same LT follows it.
TEST(MnpProcedure, AcknowledgementOvertakesAWaitingLt)
{
    Driver d;
    establish(&d, 19);
    d.input.assign(600, 'r');
    mnp_poll(&d.link);  // LT 1 waits in the hand-over; nothing pulls it
    d.inject(lt(1, {'s'}));
    mnp_poll(&d.link);
    d.pull();
    ASSERT_GE(d.sent.size(), 1u);
    EXPECT_EQ(d.sent[0], la(1, 10));
    d.poll(2);
    const std::vector<Bytes> lts = d.of_type(MNP_LT);
    ASSERT_EQ(lts.size(), 2u);
    EXPECT_EQ(lts[0][4], 1);
    EXPECT_EQ(lts[1][4], 2);
    EXPECT_EQ(d.link.lt_resent, 0u);
}

TEST(MnpProcedure, AlternateFramingAdaptsTheLtSizeItsOwnWay)
{
    Driver d({1, 2, 0, 2, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    establish(&d, 19);
    // 32 at the start, + (1024 - 4 x 32) / 256 = 3 for the first LA's credit.
    EXPECT_EQ(d.link.tx.lt_size, 35);
    d.input.assign(100, 'a');
    d.poll(2);
    d.inject(la(1, 10));  // progress: + (1024 - 140) / 256 = 3
    d.poll();
    EXPECT_EQ(d.link.tx.lt_size, 38);
    d.inject(la(1, 10));  // a repeat with LTs outstanding: loses 45/256
    d.poll();
    EXPECT_EQ(d.link.tx.lt_size, 38 - 38 * 45 / 256);
}

TEST(MnpProcedure, AcknowledgementWaitResendsUntilTheRetriesAreSpent)
{
    Driver d({1, 2, 0, 2, 3});
    establish(&d, 19);
    d.input.assign(10, 'q');
    d.poll();
    ASSERT_EQ(d.of_type(MNP_LT).size(), 1u);
    d.take_sent();
    d.seconds(5);  // timer 1 is 2 s at 14400 bit/s
    EXPECT_GE(d.of_type(MNP_LT).size(), 1u);
    EXPECT_EQ(d.link.status, MNP_STATUS_CONNECTED);
    d.seconds(10);
    EXPECT_EQ(d.link.reason, MNP_REASON_RETRIES);
    EXPECT_EQ(d.of_type(MNP_LD).front(), (Bytes{4, 2, 1, 1, MNP_REASON_RETRIES}));
    EXPECT_EQ(d.link.status, MNP_STATUS_IDLE);  // buffered fall-back not allowed
}

TEST(MnpProcedure, AttentionTypesAndTheirAcknowledgement)
{
    Driver d;
    establish(&d, 19);
    d.inject(lt(1, {'a', 'b'}));
    d.poll();
    // Expedited: a break for the DTE, the data stays.
    d.inject({7, 6, 1, 1, 5, 2, 1, 2});
    d.poll();
    EXPECT_EQ(d.of_type(MNP_LNA).back(), (Bytes{4, 7, 1, 1, 5}));
    EXPECT_EQ(d.breaks, (std::vector<std::pair<uint8_t, uint8_t>>{{2, 0}}));
    // The same LN again (our LNA was lost): answered, nothing more.
    d.inject({7, 6, 1, 1, 5, 2, 1, 2});
    d.poll();
    EXPECT_EQ(d.of_type(MNP_LNA).size(), 2u);
    EXPECT_EQ(d.breaks.size(), 1u);
    // Destructive: MNP class 5 and the buffers restart, numbering starts again at 1.
    d.input.assign(100, 'w');
    d.inject({7, 6, 1, 1, 6, 2, 1, 1});
    d.poll();
    EXPECT_EQ(d.breaks.back(), (std::pair<uint8_t, uint8_t>{1, 0}));
    EXPECT_EQ(d.discards, 1);
    EXPECT_EQ(d.link.rx.last_ns, 0);
    d.inject(lt(1, {'n'}));
    d.poll();
    EXPECT_EQ(d.output, (Bytes{'a', 'b', 'n'}));
    // Other types: acknowledged only.
    d.inject({7, 6, 1, 1, 7, 2, 1, 3});
    d.poll();
    EXPECT_EQ(d.breaks.size(), 2u);
    EXPECT_EQ(d.of_type(MNP_LNA).back(), (Bytes{4, 7, 1, 1, 7}));
}

TEST(MnpProcedure, OwnBreakSendsLnAndWaitsForLna)
{
    Driver d({1, 2, 0, 1, 5});  // break mode 1: destructive
    establish(&d, 19);
    d.input.assign(100, 'v');
    ASSERT_TRUE(mnp_send_break(&d.link, 0, 0));
    EXPECT_EQ(d.discards, 1);
    d.poll(3);
    EXPECT_EQ(d.of_type(MNP_LN), (std::vector<Bytes>{{7, 6, 1, 1, 1, 2, 1, 1}}));
    EXPECT_TRUE(d.of_type(MNP_LT).empty());
    EXPECT_FALSE(mnp_send_break(&d.link, 0, 0));  // one attention at a time
    d.inject(lt(9, {'o'}));  // sent by the peer before it took the LN: old
    d.inject({4, 7, 1, 1, 1});
    d.poll();
    EXPECT_TRUE(d.output.empty());
    d.input.assign(5, 'u');
    d.poll(2);
    ASSERT_EQ(d.of_type(MNP_LT).size(), 1u);
    EXPECT_EQ(d.of_type(MNP_LT)[0][4], 1);
}

TEST(MnpProcedure, InSequenceBreakFollowsItsBytes)
{
    Driver d({1, 2, 0, 3, 5});  // break mode 3
    establish(&d, 19);
    d.input.assign(1000, 'p');
    ASSERT_TRUE(mnp_send_break(&d.link, 0, 300));
    d.poll(6);
    size_t before = 0;
    for (const Bytes& f : d.sent) {
        if (f[1] == MNP_LN)
            break;
        if (f[1] == MNP_LT)
            before += f.size() - 5;
    }
    EXPECT_EQ(before, 300u);
    EXPECT_EQ(d.of_type(MNP_LN), (std::vector<Bytes>{{7, 6, 1, 1, 1, 2, 1, 2}}));
}

TEST(MnpProcedure, PeerDisconnectIsAnsweredAndReported)
{
    Driver d;
    establish(&d, 19);
    d.inject({7, 2, 1, 1, 255, 2, 1, 42});
    d.poll(5);
    EXPECT_EQ(d.link.peer_reason, 255);
    EXPECT_EQ(d.of_type(MNP_LD).size(), 2u);  // sent, then once more
    EXPECT_EQ(d.link.status, MNP_STATUS_IDLE);
}

TEST(MnpProcedure, LocalDisconnectCarriesTheUserReasonAndFallsBackWhenAllowed)
{
    Driver d;
    establish(&d, 19);
    mnp_disconnect(&d.link, 0);  // reason 0 also allows buffered fall-back
    d.poll(4);
    EXPECT_EQ(d.of_type(MNP_LD).front(), (Bytes{7, 2, 1, 1, 255, 2, 1, 0}));
    EXPECT_EQ(d.link.status, MNP_STATUS_BUFFERED);
    EXPECT_EQ(d.modes.back(), LINE_MODE_PLAIN);
}

TEST(MnpProcedure, InactivityDisconnectsWithReason24)
{
    Driver d({1, 2, 0, 2, 5, 3});  // 3 s
    establish(&d, 19);
    d.seconds(2);
    EXPECT_EQ(d.link.status, MNP_STATUS_CONNECTED);
    d.seconds(2);
    EXPECT_EQ(d.link.reason, MNP_REASON_INACTIVITY);
    EXPECT_EQ(d.of_type(MNP_LD).front(), (Bytes{4, 2, 1, 1, 24}));
}

TEST(MnpProcedure, RefusedSetUpAndModeZero)
{
    Driver refused({3, 2});  // MNP mode above 2
    mnp_start(&refused.link, 0);
    EXPECT_EQ(refused.poll(2), MNP_STATUS_IDLE);
    Driver buffered({0, 2, 0, 0, 0, 0, 0, 1});
    mnp_start(&buffered.link, 0);
    EXPECT_EQ(buffered.poll(), MNP_STATUS_BUFFERED);
    EXPECT_EQ(buffered.modes, (std::vector<uint8_t>{LINE_MODE_PLAIN}));
}

TEST(MnpProcedure, MalformedFramesInDataTransferAreDroppedAndCounted)
{
    Driver d;
    establish(&d, 19);
    const Bytes cases[] = {{}, {1}, {9, 4, 1, 1, 1}, {4, 4, 2, 2, 1, 'x'}, {3, 5, 1}, {4, 0x55, 1, 1, 1},
                           {7, 6, 1, 1, 1, 3, 1, 1}};
    for (const Bytes& f : cases)
        d.inject(f);
    d.inject(lt(1, {'k'}), true);  // bad frame check
    d.poll();
    EXPECT_EQ(d.link.malformed, std::size(cases));
    EXPECT_EQ(d.counters.bad_frames, 1);
    EXPECT_TRUE(d.output.empty());
    d.inject(lt(1, {'k'}));
    d.poll();
    EXPECT_EQ(d.output, (Bytes{'k'}));
    EXPECT_EQ(d.link.status, MNP_STATUS_CONNECTED);
}

// Whatever a peer sends, in any state, the link neither reads nor writes out of bounds, keeps its buffers,
// and stays within its states. A link that ends (an LD, a refused LR) is set up again.
TEST(MnpProcedure, BoundedFuzzOfReceivedFrames)
{
    std::mt19937 rng(5);
    static const Bytes kHeads[] = {{4, 4, 1, 1}, {2, 4}, {7, 5, 1, 1}, {7, 6, 1, 1}, {4, 7, 1, 1},
                                   {4, 2, 1, 1}, {4, 8, 1, 1}, {3, 5}, {0, 1, 2}};
    int frames = 0;
    int links = 0;
    int connected = 0;
    while (frames < kFuzzFrames) {
        const int kind = links++ % 4;
        Driver d({1, static_cast<uint32_t>(2 + kind % 2), 0, 2, 5, 0, 0, 1, 1, 1, 0, 1});
        if (kind < 2)
            establish(&d, 19);
        else
            mnp_start(&d.link, static_cast<uint8_t>(kind - 2));
        for (int i = 0; i < 2000 && frames < kFuzzFrames; ++i, ++frames) {
            Bytes f(rng() % (FRAME_BUFFER_OCTETS + 1));
            for (uint8_t& o : f)
                o = static_cast<uint8_t>(rng());
            // Mostly well-formed headers, so the fuzz reaches past the header check; LDs seldom.
            const Bytes& head = kHeads[rng() % std::size(kHeads)];
            if (head[1] == MNP_LD && rng() % 8 != 0)
                continue;
            if (rng() % 4 != 0 && f.size() >= head.size() + 4) {
                std::copy(head.begin(), head.end(), f.begin());
                if (head.size() == 3)
                    f[0] = static_cast<uint8_t>(std::min<size_t>(f.size() - 1, rng() % 64));
            }
            d.inject(f, rng() % 16 == 0);
            if (rng() % 3 == 0)
                d.input.push_back(static_cast<uint8_t>(rng()));
            if (rng() % 7 == 0)
                mnp_tick(&d.link);
            d.poll();
            d.sent.clear();
            ASSERT_LE(d.link.state, MS_IDLE);
            connected += d.link.state == MS_DATA;
            if (d.link.state == MS_IDLE || d.link.state == MS_BUFFERED)
                break;
        }
    }
    std::printf("%d frames over %d links, %d passes in data transfer\n", frames, links, connected);
    EXPECT_GT(connected, kFuzzFrames / 4);
}

}  // namespace
