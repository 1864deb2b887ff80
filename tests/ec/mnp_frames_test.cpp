// MNP frames: exact bytes of every frame type against references built by hand, the header check of
// received frames as a table of malformed cases, the link request's parameters and their negotiation, and
// the octet framing (start, DLE doubling, CRC-16) in both directions.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "layer2/corecode/dce/octet_frame.h"
#include "layer2/corecode/ec/mnp_internal.h"

namespace {

#ifdef MODEM_UNDER_SANITIZER
constexpr int kFuzzRounds = 3000;
#else
constexpr int kFuzzRounds = 30000;
#endif

using Bytes = std::vector<uint8_t>;

struct Link {
    MnpLink link;
    LapmCallValues call{};
    EcCounters counters{};
    explicit Link(std::vector<uint32_t> values = {1, 2})
    {
        call.tx_rate = call.rx_rate = 9600;
        MnpHost host{};
        mnp_init(&link, &host, &call, &counters);
        values.resize(MNP_SETUP_VALUES);
        mnp_setup(&link, values.data(), MNP_SETUP_VALUES);
    }
};

// Set-up values by slot (0-based, the manager's order).
std::vector<uint32_t> values(std::initializer_list<std::pair<int, uint32_t>> set)
{
    std::vector<uint32_t> v(MNP_SETUP_VALUES);
    v[0] = 1;
    v[1] = 2;
    for (auto [slot, value] : set)
        v[slot] = value;
    return v;
}

constexpr int kClass = 1, kC4 = 8, kFixed = 9, kMnp5 = 11, kInfo = 13;

Bytes lr_of(Link& l, uint8_t request)
{
    l.link.request = request;
    Bytes out(64);
    out.resize(mnp_build_lr(&l.link, out.data()));
    return out;
}

TEST(MnpFrames, LinkRequestOfTheOriginator)
{
    Link plain;
    EXPECT_EQ(lr_of(plain, 0), (Bytes{0x17, 1, 2, 1, 6, 1, 0, 0, 0, 0, 0xFF, 2, 1, 2, 3, 1, 19, 4, 2, 0x40, 0,
                                      8, 1, 0x81}));
    Link all(values({{kClass, 3}, {kC4, 1}, {kFixed, 1}, {kMnp5, 1}}));
    EXPECT_EQ(lr_of(all, 0), (Bytes{0x1D, 1, 2, 1, 6, 1, 0, 0, 0, 0, 0xFF, 2, 1, 3, 3, 1, 19, 4, 2, 0x40, 0,
                                    8, 1, 0x83, 9, 1, 1, 0xC4, 1, 1}));
    // A largest LT field of 64 leaves bit 0 of the optimisation octet clear.
    Link small(values({{kInfo, 64}}));
    EXPECT_EQ(lr_of(small, 0).back(), 0x80);
}

TEST(MnpFrames, LinkRequestOfTheAnswererCarriesTheNegotiatedValues)
{
    Link l(values({{kClass, 3}, {kMnp5, 1}, {kFixed, 1}}));
    MnpOffer offer{};
    offer.has_constant = 1;
    offer.level = 1;
    offer.service_class = 2;
    offer.window = 8;
    offer.optimise = MNP_OPT_ORIGINATOR;  // no large LT field, no fixed field
    offer.mnp5 = 1;
    ASSERT_EQ(mnp_negotiate(&l.link, &offer, false), 0);
    EXPECT_EQ(lr_of(l, 1), (Bytes{0x1A, 1, 2, 1, 6, 1, 0, 0, 0, 0, 0xFF, 2, 1, 2, 3, 1, 8, 4, 2, 0x40, 0, 8, 1, 0,
                                  9, 1, 1}));
}

TEST(MnpFrames, ExactBytesOfEveryOtherFrame)
{
    struct Case {
        const char* name;
        Bytes got;
        Bytes want;
    };
    auto build = [](auto f) {
        Bytes b(16);
        b.resize(f(b.data()));
        return b;
    };
    const Case cases[] = {
        {"LD", build([](uint8_t* o) { return mnp_build_ld(4, 0, o); }), {4, 2, 1, 1, 4}},
        {"LD user reason", build([](uint8_t* o) { return mnp_build_ld(255, 9, o); }), {7, 2, 1, 1, 255, 2, 1, 9}},
        {"LT", build([](uint8_t* o) { return mnp_build_lt_header(false, 0x2A, o); }), {4, 4, 1, 1, 0x2A}},
        {"LT fixed", build([](uint8_t* o) { return mnp_build_lt_header(true, 0x2A, o); }), {2, 4, 0x2A}},
        {"LA", build([](uint8_t* o) { return mnp_build_la(false, 7, 10, o); }), {7, 5, 1, 1, 7, 2, 1, 10}},
        {"LA fixed", build([](uint8_t* o) { return mnp_build_la(true, 7, 10, o); }), {3, 5, 7, 10}},
        {"LN", build([](uint8_t* o) { return mnp_build_ln(3, 1, o); }), {7, 6, 1, 1, 3, 2, 1, 1}},
        {"LNA", build([](uint8_t* o) { return mnp_build_lna(3, o); }), {4, 7, 1, 1, 3}},
        {"retransmission request", build([](uint8_t* o) { return mnp_build_rr(0xFF, o); }), {4, 8, 1, 1, 0xFF}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.got, c.want) << c.name;
        MnpFrameView v;
        EXPECT_TRUE(mnp_parse(c.want.data(), static_cast<uint16_t>(c.want.size()), &v)) << c.name;
        EXPECT_EQ(v.type, c.want[1]) << c.name;
    }
}

TEST(MnpFrames, ReadsTheFieldsOfBothForms)
{
    const Bytes lt = {4, 4, 1, 1, 9, 'a', 'b'};
    MnpFrameView v;
    ASSERT_TRUE(mnp_parse(lt.data(), static_cast<uint16_t>(lt.size()), &v));
    EXPECT_EQ(v.a, 9);
    EXPECT_EQ(v.info_length, 2);
    EXPECT_EQ(v.info[0], 'a');
    const Bytes fixed = {2, 4, 9, 'a'};
    ASSERT_TRUE(mnp_parse(fixed.data(), static_cast<uint16_t>(fixed.size()), &v));
    EXPECT_EQ(v.a, 9);
    EXPECT_EQ(v.info_length, 1);
    const Bytes la = {3, 5, 200, 4};
    ASSERT_TRUE(mnp_parse(la.data(), static_cast<uint16_t>(la.size()), &v));
    EXPECT_EQ(v.a, 200);
    EXPECT_EQ(v.b, 4);
    const Bytes ld = {7, 2, 1, 1, 255, 2, 1, 77};
    ASSERT_TRUE(mnp_parse(ld.data(), static_cast<uint16_t>(ld.size()), &v));
    EXPECT_EQ(v.a, 255);
    EXPECT_EQ(v.b, 77);
}

TEST(MnpFrames, MalformedFramesAreRefused)
{
    const struct {
        const char* name;
        Bytes frame;
    } cases[] = {
        {"empty", {}},
        {"one octet", {4}},
        {"LI zero", {0, 4, 1}},
        {"LI reaches past the frame", {4, 4, 1, 1}},
        {"LI far past the frame", {250, 1, 2}},
        {"LT with an odd header", {3, 4, 1, 5}},
        {"LT with a wrong parameter pair", {4, 4, 2, 1, 5, 0}},
        {"LA too short", {2, 5, 1}},
        {"LA with a wrong pair", {7, 5, 1, 1, 3, 3, 1, 4}},
        {"LN with LI 4", {4, 6, 1, 1, 1}},
        {"LNA with LI 7", {7, 7, 1, 1, 1, 2, 1, 1}},
        {"LD too short", {3, 2, 1, 1}},
        {"unknown type", {4, 9, 1, 1, 1}},
        {"type 0", {4, 0, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        MnpFrameView v;
        EXPECT_FALSE(mnp_parse(c.frame.data(), static_cast<uint16_t>(c.frame.size()), &v)) << c.name;
    }
}

// A link request from its parameter octets (after LI, type and the constant octet).
Bytes request(const Bytes& params)
{
    Bytes f = {static_cast<uint8_t>(params.size() + 2), 1, 2};
    f.insert(f.end(), params.begin(), params.end());
    return f;
}

const Bytes kConstant = {1, 6, 1, 0, 0, 0, 0, 0xFF};

Bytes with_constant(const Bytes& more)
{
    Bytes p = kConstant;
    p.insert(p.end(), more.begin(), more.end());
    return p;
}

TEST(MnpFrames, LinkRequestParametersAreCheckedAndNegotiated)
{
    const struct {
        const char* name;
        Bytes params;
        bool originator;
        uint8_t refusal;
        uint8_t window;
        uint8_t threshold;
        uint16_t max_lt;
        uint8_t service_class;
    } cases[] = {
        {"window 25 taken as 19", with_constant({2, 1, 2, 3, 1, 25, 8, 1, 1}), false, 0, 19, 10, 256, 2},
        {"window 8", with_constant({2, 1, 2, 3, 1, 8, 8, 1, 1}), false, 0, 8, 4, 256, 2},
        {"no large LT field", with_constant({2, 1, 2, 3, 1, 4, 8, 1, 0}), false, 0, 4, 2, 64, 2},
        {"lower class taken", with_constant({2, 1, 1, 3, 1, 4, 8, 1, 1}), false, 0, 4, 2, 256, 1},
        {"higher class answered down", with_constant({2, 1, 3, 3, 1, 4, 8, 1, 1}), false, 0, 4, 2, 256, 2},
        {"answer above the request refused", with_constant({2, 1, 3, 3, 1, 4}), true, MNP_REFUSE_CLASS},
        {"answer of a higher level refused", {1, 6, 2, 0, 0, 0, 0, 0xFF, 2, 1, 2}, true, MNP_REFUSE_LEVEL},
        {"no constant parameter", {2, 1, 2, 3, 1, 4}, false, MNP_REFUSE_NO_PI1},
        {"class of two octets", with_constant({2, 2, 2, 0}), false, MNP_REFUSE_LENGTH},
        {"window of no octets", with_constant({3, 0}), false, MNP_REFUSE_LENGTH},
        {"PI 12 of three octets", with_constant({12, 3, 1, 2, 3}), false, MNP_REFUSE_LENGTH},
        {"PI 13 of two octets", with_constant({2, 1, 2, 3, 1, 4, 13, 2, 1, 2}), false, 0, 4, 2, 64, 2},
        {"V.42bis P1 below 512", with_constant({14, 4, 3, 0x00, 0x01, 32}), false, MNP_REFUSE_P1},
        {"V.42bis of three octets", with_constant({14, 3, 3, 0, 8}), false, MNP_REFUSE_LENGTH},
        {"parameter past the end", with_constant({2, 5, 2}), false, MNP_REFUSE_LENGTH},
        {"lone PI at the end", with_constant({2}), false, MNP_REFUSE_LENGTH},
    };
    for (const auto& c : cases) {
        Link l;
        const Bytes f = request(c.params);
        MnpOffer offer;
        uint8_t code = mnp_take_lr(f.data(), static_cast<uint16_t>(f.size()), &offer);
        if (code == 0)
            code = mnp_negotiate(&l.link, &offer, c.originator);
        EXPECT_EQ(code, c.refusal) << c.name;
        if (code != 0 || c.refusal != 0)
            continue;
        EXPECT_EQ(l.link.neg.window, c.window) << c.name;
        EXPECT_EQ(l.link.neg.ack_threshold, c.threshold) << c.name;
        EXPECT_EQ(l.link.neg.max_lt, c.max_lt) << c.name;
        EXPECT_EQ(l.link.neg.service_class, c.service_class) << c.name;
    }
}

TEST(MnpFrames, ClassFiveFixedFieldAndC4NeedBothSides)
{
    const struct {
        uint32_t own_mnp5, own_fixed, own_c4;
        uint8_t peer_mnp5, peer_opt, peer_c4;
        uint8_t mnp5, fixed, c4;
    } cases[] = {
        {1, 1, 1, 1, MNP_OPT_FIXED | MNP_OPT_LARGE_LT, 1, 1, 1, 1},
        {1, 1, 1, 0, MNP_OPT_LARGE_LT, 0, 0, 0, 0},
        {0, 0, 0, 1, MNP_OPT_FIXED, 1, 0, 0, 0},
        {1, 0, 1, 3, MNP_OPT_FIXED, 5, 1, 0, 1},
        {1, 1, 0, 2, MNP_OPT_FIXED, 1, 0, 1, 0},
    };
    for (const auto& c : cases) {
        Link l(values({{kMnp5, c.own_mnp5}, {kFixed, c.own_fixed}, {kC4, c.own_c4}}));
        MnpOffer offer{};
        offer.has_constant = 1;
        offer.service_class = 2;
        offer.window = 19;
        offer.optimise = c.peer_opt;
        offer.mnp5 = c.peer_mnp5;
        offer.c4 = c.peer_c4;
        ASSERT_EQ(mnp_negotiate(&l.link, &offer, false), 0);
        EXPECT_EQ(l.link.neg.mnp5, c.mnp5);
        EXPECT_EQ(l.link.neg.fixed_field, c.fixed);
        EXPECT_EQ(l.link.neg.c4, c.c4);
    }
}

uint16_t crc_of(const Bytes& b)
{
    uint16_t crc = 0;
    for (uint8_t c : b)
        crc = lb_crc16(c, crc);
    return crc;
}

TEST(MnpOctetFraming, CrcCheckValues)
{
    EXPECT_EQ(crc_of({'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xBB3D);
    EXPECT_EQ(crc_of({'a', 'b', 'c'}), 0x9738);
    // The CRC appended low byte first leaves 0.
    EXPECT_EQ(crc_of({'a', 'b', 'c', 0x38, 0x97}), 0);
}

Bytes octet_frame(const Bytes& frame, uint8_t room = 32)
{
    OctetTx tx;
    octet_tx_start(&tx, frame.data(), static_cast<uint16_t>(frame.size()));
    Bytes out;
    for (;;) {
        uint8_t chunk[32];
        const uint8_t n = octet_tx_fill(&tx, chunk, room);
        if (n == 0)
            break;
        EXPECT_LE(n, room);
        out.insert(out.end(), chunk, chunk + n);
    }
    EXPECT_EQ(tx.state, OCTET_TX_DONE);
    return out;
}

TEST(MnpOctetFraming, ExactBytesWithADoubledDle)
{
    // An LD whose reason is 0x10: the DLE goes out twice and counts once into the CRC (0xB965).
    EXPECT_EQ(octet_frame({4, 2, 1, 1, 0x10}),
              (Bytes{0x16, 0x10, 0x02, 4, 2, 1, 1, 0x10, 0x10, 0x10, 0x03, 0x65, 0xB9}));
    EXPECT_EQ(octet_frame({7, 5, 1, 1, 0x10, 2, 1, 10}),
              (Bytes{0x16, 0x10, 0x02, 7, 5, 1, 1, 0x10, 0x10, 2, 1, 10, 0x10, 0x03, 0x20, 0x04}));
}

TEST(MnpOctetFraming, ADoubledDleNeverSplitsAcrossChunks)
{
    Bytes frame(40, 0x10);
    for (uint8_t room : {4, 5, 7, 32}) {
        const Bytes one = octet_frame(frame, 32);
        EXPECT_EQ(octet_frame(frame, room), one) << int(room);
    }
    // With room 4 the first chunk holds SYN DLE STX only: a pair does not fit in the one place left.
    OctetTx tx;
    octet_tx_start(&tx, frame.data(), static_cast<uint16_t>(frame.size()));
    uint8_t chunk[32];
    EXPECT_EQ(octet_tx_fill(&tx, chunk, 4), 3);
    EXPECT_EQ(octet_tx_fill(&tx, chunk, 4), 4);
}

struct Received {
    std::vector<Bytes> good;
    int bad = 0;
};

Received receive(const Bytes& line, size_t capacity = FRAME_BUFFER_OCTETS)
{
    Received r;
    std::vector<uint8_t> buffer(capacity);
    OctetRx rx{};
    octet_rx_set_buffer(&rx, buffer.data(), static_cast<uint16_t>(capacity));
    for (uint8_t c : line) {
        const uint8_t result = octet_rx_byte(&rx, c);
        if (result == OCTET_RX_GOOD)
            r.good.emplace_back(buffer.begin(), buffer.begin() + rx.length);
        else if (result == OCTET_RX_BAD)
            ++r.bad;
    }
    return r;
}

TEST(MnpOctetFraming, ReceiverUndoesTheFramingAndChecksTheCrc)
{
    const Bytes a = {4, 2, 1, 1, 0x10};
    const Bytes b = {3, 5, 0x16, 0x10};
    Bytes line = {0x00, 0x16, 0x16};  // noise and a repeated SYN before the start
    for (const Bytes* f : {&a, &b}) {
        const Bytes framed = octet_frame(*f);
        line.insert(line.end(), framed.begin(), framed.end());
    }
    Received r = receive(line);
    ASSERT_EQ(r.good.size(), 2u);
    EXPECT_EQ(r.good[0], a);
    EXPECT_EQ(r.good[1], b);
    EXPECT_EQ(r.bad, 0);

    Bytes corrupt = octet_frame(a);
    corrupt[4] ^= 0x01;
    r = receive(corrupt);
    EXPECT_TRUE(r.good.empty());
    EXPECT_EQ(r.bad, 1);
}

TEST(MnpOctetFraming, LongestFrameAcceptedOneMoreMarkedBad)
{
    const Bytes longest(266, 'x');
    Received r = receive(octet_frame(longest));
    ASSERT_EQ(r.good.size(), 1u);
    EXPECT_EQ(r.good[0], longest);
    r = receive(octet_frame(Bytes(267, 'x')));
    EXPECT_TRUE(r.good.empty());
    EXPECT_EQ(r.bad, 1);
}

TEST(MnpOctetFraming, AFrameBrokenOffIsLostAndTheNextOneTaken)
{
    const Bytes a = {4, 7, 1, 1, 2};
    const Bytes framed = octet_frame(a);
    // DLE followed by neither DLE, ETX nor STX; and a frame cut off by the next one's start.
    for (const Bytes& broken : {Bytes{0x16, 0x10, 0x02, 1, 2, 0x10, 0x41}, Bytes{0x16, 0x10, 0x02, 1, 2, 3}}) {
        Bytes line = broken;
        line.insert(line.end(), framed.begin(), framed.end());
        Received r = receive(line);
        ASSERT_EQ(r.good.size(), 1u);
        EXPECT_EQ(r.good[0], a);
        EXPECT_EQ(r.bad, 0);
    }
}

// Random parameter walks: every request is read within its frame, and a refusal is one of the codes.
TEST(MnpFrames, BoundedFuzzOfLinkRequests)
{
    std::mt19937 rng(3);
    for (int round = 0; round < kFuzzRounds; ++round) {
        Bytes f(2 + rng() % 60);
        for (uint8_t& o : f)
            o = static_cast<uint8_t>(rng() % 4 == 0 ? rng() % 16 : rng());
        f[1] = MNP_LR;
        if (rng() % 2 == 0)
            f[0] = static_cast<uint8_t>(f.size() - 1);
        Link l;
        MnpOffer offer;
        uint8_t code = mnp_take_lr(f.data(), static_cast<uint16_t>(f.size()), &offer);
        if (code == 0)
            code = mnp_negotiate(&l.link, &offer, rng() % 2 == 0);
        EXPECT_TRUE(code == 0 || code == MNP_REFUSE_LEVEL || code == MNP_REFUSE_NO_PI1 || code == MNP_REFUSE_CLASS ||
                    code == MNP_REFUSE_P1 || code == MNP_REFUSE_LENGTH)
            << int(code);
        if (code == 0) {
            EXPECT_GE(l.link.neg.window, 1);
            EXPECT_LE(l.link.neg.window, MNP_WINDOW_MAX);
            EXPECT_LE(l.link.neg.max_lt, MNP_LT_MAX);
        }
    }
}

// Random line bytes with whole frames among them: nothing but the frames sent comes out as good, whatever
// the noise and wherever a buffer ends.
TEST(MnpOctetFraming, BoundedFuzzOfTheReceiver)
{
    std::mt19937 rng(4);
    std::vector<uint8_t> buffer(FRAME_BUFFER_OCTETS);
    OctetRx rx{};
    octet_rx_set_buffer(&rx, buffer.data(), FRAME_BUFFER_OCTETS);
    std::vector<Bytes> sent;
    std::vector<Bytes> good;
    for (int round = 0; round < kFuzzRounds / 10; ++round) {
        Bytes line;
        for (int k = rng() % 40; k > 0; --k)
            line.push_back(static_cast<uint8_t>(rng() % 3 == 0 ? 0x10 + rng() % 8 : rng()));
        Bytes frame(1 + rng() % 280);
        for (uint8_t& o : frame)
            o = static_cast<uint8_t>(rng() % 5 == 0 ? 0x10 : rng());
        const Bytes framed = octet_frame(frame);
        line.insert(line.end(), framed.begin(), framed.end());
        if (frame.size() <= 266)
            sent.push_back(frame);
        for (uint8_t c : line)
            if (octet_rx_byte(&rx, c) == OCTET_RX_GOOD)
                good.emplace_back(buffer.begin(), buffer.begin() + rx.length);
    }
    // No false frame is ever taken as good, and noise before a frame seldom costs it.
    size_t at = 0;
    for (const Bytes& g : good) {
        while (at < sent.size() && sent[at] != g)
            ++at;
        ASSERT_LT(at, sent.size()) << "a frame that was never sent";
        ++at;
    }
    EXPECT_GE(good.size() * 10, sent.size() * 9);
}

}  // namespace
