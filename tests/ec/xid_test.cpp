// XID: the frames this link builds, the negotiation rules with their failures, bounded parsing of damaged
// fields, and a negotiation between two links that then carry V.42bis data each way.
#include <gtest/gtest.h>

#include <memory>

#include "ec/v42bis_support.h"
#include "layer2/corecode/ec/xid.h"

namespace {

using Bytes = std::vector<uint8_t>;

XidV44Values v44_defaults()
{
    return XidV44Values{0, 3, 2048, 2048, 140, 140, 8192, 8192};
}

XidLinkSettings settings(uint8_t direction, uint16_t dictionary, uint8_t string)
{
    XidLinkSettings s{};
    s.srej_request = 1;
    s.test_request = 0;
    s.n401 = 128;
    s.fcs_request = 0;
    s.ds_direction = direction;
    s.ds_dictionary = dictionary;
    s.ds_string = string;
    s.v44 = v44_defaults();
    return s;
}

Bytes build(const XidState& x, XidKind kind)
{
    uint8_t buf[XID_MAX_INFO];
    size_t n = xid_build_info(&x, kind, buf, sizeof(buf));
    return Bytes(buf, buf + n);
}

// Takes a field from a heap block of exactly its size, so that a read past the end is caught.
XidResult take(XidState* x, const Bytes& field, bool renegotiating = false)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[field.size() + 1]);
    std::copy(field.begin(), field.end(), copy.get());
    return xid_take(x, copy.get(), field.size(), renegotiating);
}

TEST(XidBuild, OriginatorCommandIsExact)
{
    XidState x;
    XidLinkSettings s = settings(3, 2048, 32);
    xid_init(&x, false, &s);
    uint8_t frame[100];
    size_t n = xid_build_frame(&x, XID_COMMAND, 0x03, false, frame, sizeof(frame));
    const Bytes expected = {
        0x03, 0xAF, 0x82, 0x80, 0x00, 0x13, 0x03, 0x03, 0x8E, 0x89, 0x00, 0x05, 0x02, 0x04, 0x00, 0x06,
        0x02, 0x04, 0x00, 0x07, 0x01, 0x0F, 0x08, 0x01, 0x0F, 0xF0, 0x00, 0x0F, 0x00, 0x03, 0x56, 0x34,
        0x32, 0x01, 0x01, 0x03, 0x02, 0x02, 0x08, 0x00, 0x03, 0x01, 0x20, 0xFF, 0x40, 0x03, 0x56, 0x34,
        0x34, 0x41, 0x01, 0x00, 0x42, 0x01, 0x03, 0x43, 0x02, 0x08, 0x00, 0x44, 0x02, 0x08, 0x00, 0x45,
        0x01, 0x8C, 0x46, 0x01, 0x8C, 0x47, 0x02, 0x20, 0x00, 0x48, 0x02, 0x20, 0x00};
    ASSERT_EQ(n, 77u);
    EXPECT_EQ(Bytes(frame, frame + n), expected);
    // The P/F bit, and a room too small for the field.
    EXPECT_EQ(xid_build_frame(&x, XID_COMMAND, 0x01, true, frame, sizeof(frame)), 77u);
    EXPECT_EQ(frame[1], 0xBF);
    EXPECT_EQ(xid_build_frame(&x, XID_COMMAND, 0x01, true, frame, 76), 0u);
}

TEST(XidBuild, SettingsAreClampedAndValuesUseTheFewestOctets)
{
    XidState x;
    XidLinkSettings s = settings(7, 4096, 255);
    s.n401 = 10;
    s.test_request = 1;
    s.fcs_request = 2;
    s.v44.direction = 0;
    xid_init(&x, false, &s);
    EXPECT_EQ(x.own.p0, 3);
    EXPECT_EQ(x.own.p1, 2048);
    EXPECT_EQ(x.own.p2, 250);
    EXPECT_EQ(x.own.tx_n401, 20);
    // N401 20 octets = 160 bits: one octet; no V.44 group with direction 0.
    const Bytes expected = {0x82, 0x80, 0x00, 0x11, 0x03, 0x03, 0x8E, 0xA9, 0x03, 0x05, 0x01, 0xA0, 0x06, 0x01,
                            0xA0, 0x07, 0x01, 0x0F, 0x08, 0x01, 0x0F, 0xF0, 0x00, 0x0F, 0x00, 0x03, 'V', '4',
                            '2', 0x01, 0x01, 0x03, 0x02, 0x02, 0x08, 0x00, 0x03, 0x01, 0xFA};
    EXPECT_EQ(build(x, XID_COMMAND), expected);
}

// A peer's field built from parts: the HDLC group body, the V.42bis parameters after the name, and the
// V.44 letters after the name (each part left out when empty).
Bytes field(const Bytes& hdlc, const Bytes& v42bis, const Bytes& v44)
{
    Bytes f = {0x82};
    if (!hdlc.empty()) {
        f.insert(f.end(), {0x80, 0x00, static_cast<uint8_t>(hdlc.size())});
        f.insert(f.end(), hdlc.begin(), hdlc.end());
    }
    if (!v42bis.empty()) {
        f.insert(f.end(), {0xF0, 0x00, static_cast<uint8_t>(v42bis.size() + 5), 0x00, 0x03, 'V', '4', '2'});
        f.insert(f.end(), v42bis.begin(), v42bis.end());
    }
    if (!v44.empty()) {
        f.insert(f.end(), {0xFF, 0x40, 0x03, 'V', '4', '4'});
        f.insert(f.end(), v44.begin(), v44.end());
    }
    return f;
}

const Bytes kPlainOptions = {0x03, 0x03, 0x8A, 0x89, 0x00};
const Bytes kV42bis3 = {0x01, 0x01, 0x03, 0x02, 0x02, 0x08, 0x00, 0x03, 0x01, 0x20};

TEST(XidTake, NegotiationRules)
{
    struct Row {
        const char* what;
        bool answerer;
        uint8_t own_p0;
        Bytes field;
        XidResult result;
        uint16_t rx_n401, tx_n401, rx_window, tx_window;
        uint8_t p0;
        uint16_t p1;
        uint8_t p2;
    };
    const Row rows[] = {
        {"peer N401 of 256 octets leaves ours", true, 3, field({0x05, 0x02, 0x40, 0x00, 0x06, 0x02, 0x40, 0x00}, {}, {}),
         XID_OK, 128, 128, 15, 15, 0, 512, 6},
        {"smaller frames and windows win", true, 3, field({0x05, 0x01, 0xA0, 0x06, 0x02, 0x02, 0x00, 0x07, 0x01, 0x03, 0x08, 0x01, 0x07}, {}, {}),
         XID_OK, 20, 64, 3, 7, 0, 512, 6},
        {"answerer swaps its own P0 first", true, 1, field(kPlainOptions, kV42bis3, {}), XID_OK, 128, 128, 15, 15, 2, 2048, 32},
        {"originator takes P0 as it is", false, 1, field(kPlainOptions, kV42bis3, {}), XID_OK, 128, 128, 15, 15, 1, 2048, 32},
        {"P1 of 511 fails", true, 3, field({}, {0x01, 0x01, 0x03, 0x02, 0x02, 0x01, 0xFF}, {}), XID_FAIL_P1, 128, 128, 15, 15, 3, 512, 6},
        {"P1 of length 0 is passed over", true, 3, field({}, {0x01, 0x01, 0x03, 0x02, 0x00, 0x03, 0x01, 0x06}, {}), XID_OK, 128, 128, 15, 15, 3, 512, 6},
        {"P2 of 5 fails", true, 3, field({}, {0x03, 0x01, 0x05}, {}), XID_FAIL_P2, 128, 128, 15, 15, 0, 512, 6},
        {"P2 of 251 fails", true, 3, field({}, {0x03, 0x01, 0xFB}, {}), XID_FAIL_P2, 128, 128, 15, 15, 0, 512, 6},
        {"window of 0 fails", true, 3, field({0x07, 0x00}, {}, {}), XID_FAIL_ZERO, 128, 128, 15, 15, 0, 512, 6},
        {"frame size below one octet fails", true, 3, field({0x06, 0x01, 0x07}, {}, {}), XID_FAIL_ZERO, 128, 128, 15, 15, 0, 512, 6},
        {"value wider than 32 bits fails", true, 3, field({0x05, 0x05, 0, 0, 0, 4, 0}, {}, {}), XID_FAIL_MALFORMED, 128, 128, 15, 15, 0, 512, 6},
        {"other format identifier changes nothing", true, 3, Bytes{0x81, 0x80, 0x00, 0x03, 0x07, 0x01, 0x01}, XID_OK, 128, 128, 15, 15, 0, 512, 6},
        {"unknown PI passed over", true, 3, field({0x09, 0x02, 0xAA, 0xBB, 0x07, 0x01, 0x05}, {}, {}), XID_OK, 128, 128, 5, 15, 0, 512, 6},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        XidState x;
        XidLinkSettings s = settings(r.own_p0, 2048, 32);
        xid_init(&x, r.answerer, &s);
        EXPECT_EQ(take(&x, r.field), r.result);
        if (r.result != XID_OK)
            continue;
        EXPECT_EQ(x.negotiated.rx_n401, r.rx_n401);
        EXPECT_EQ(x.negotiated.tx_n401, r.tx_n401);
        EXPECT_EQ(x.negotiated.rx_window, r.rx_window);
        EXPECT_EQ(x.negotiated.tx_window, r.tx_window);
        EXPECT_EQ(x.negotiated.p0, r.p0);
        EXPECT_EQ(x.negotiated.p1, r.p1);
        EXPECT_EQ(x.negotiated.p2, r.p2);
    }
}

TEST(XidTake, OptionalFunctions)
{
    struct Row {
        uint8_t srej_req, test_req, fcs_req;
        uint8_t o1, o2, o3;
        XidResult result;
        uint8_t srej, test, fcs;
    };
    const Row rows[] = {
        {1, 1, 1, 0x8E, 0xA9, 0x03, XID_OK, 1, 1, 1},   {2, 0, 0, 0x8E, 0xA9, 0x03, XID_OK, 1, 0, 0},
        {0, 1, 1, 0x8E, 0x89, 0x01, XID_OK, 0, 0, 0},   {3, 1, 2, 0x8A, 0xA9, 0x03, XID_OK, 0, 1, 1},
        {1, 1, 2, 0x8E, 0xA9, 0x00, XID_FAIL_FCS, 0, 0, 0},
    };
    for (const Row& r : rows) {
        XidState x;
        XidLinkSettings s = settings(3, 2048, 32);
        s.srej_request = r.srej_req;
        s.test_request = r.test_req;
        s.fcs_request = r.fcs_req;
        xid_init(&x, true, &s);
        ASSERT_EQ(take(&x, field({0x03, 0x03, r.o1, r.o2, r.o3}, {}, {})), r.result);
        if (r.result != XID_OK)
            continue;
        EXPECT_EQ(x.negotiated.srej, r.srej);
        EXPECT_EQ(x.negotiated.test, r.test);
        EXPECT_EQ(x.negotiated.fcs, r.fcs);
    }
}

const Bytes kV44Offer = {'A', 1, 0, 'B', 1, 1, 'C', 2, 0x04, 0x00, 'D', 2, 0x08, 0x00,
                         'E', 1, 0x40, 'F', 1, 0xFF, 'G', 2, 0x10, 0x00, 'H', 2, 0x40, 0x00};

TEST(XidTake, V44GroupTurnsV42bisOffAtTheAnswerer)
{
    XidState x;
    XidLinkSettings s = settings(3, 2048, 32);
    xid_init(&x, true, &s);
    ASSERT_EQ(take(&x, field(kPlainOptions, kV42bis3, kV44Offer)), XID_OK);
    EXPECT_TRUE(x.v44_seen);
    EXPECT_TRUE(x.v44_accepted);
    EXPECT_EQ(x.negotiated.p0, 0);
    const XidV44Values& v = x.negotiated.v44;
    // The peer transmits only (1): for us that is receive (2).
    EXPECT_EQ(v.direction, 2);
    EXPECT_EQ(v.rx_codewords, 1024);   // peer's transmit 1024 against our receive 2048
    EXPECT_EQ(v.tx_codewords, 2048);
    EXPECT_EQ(v.rx_string, 64);
    EXPECT_EQ(v.tx_string, 140);
    EXPECT_EQ(v.rx_history, 4096);
    EXPECT_EQ(v.tx_history, 8192);
    // The response carries the V.44 group and no V.42bis group.
    Bytes response = build(x, XID_RESPONSE);
    Bytes v44_tail(response.end() - 34, response.end());
    EXPECT_EQ(v44_tail[0], 0xFF);
    EXPECT_EQ(std::search(response.begin(), response.end(), kV42bis3.begin(), kV42bis3.end()), response.end());

    // Without V.44 of its own the answerer clears V.44 and sends the V.42bis group back.
    s.v44.direction = 0;
    xid_init(&x, true, &s);
    ASSERT_EQ(take(&x, field(kPlainOptions, kV42bis3, kV44Offer)), XID_OK);
    EXPECT_FALSE(x.v44_accepted);
    EXPECT_EQ(x.negotiated.p0, 3);
    EXPECT_EQ(x.negotiated.v44.direction, 0);
    Bytes plain = build(x, XID_RESPONSE);
    EXPECT_EQ(plain.size(), 1u + 22u + 18u);
}

TEST(XidTake, V44ValuesOutOfRangeFail)
{
    const struct {
        Bytes letters;
        XidResult result;
    } rows[] = {
        {{'Z', 1, 0}, XID_FAIL_V44_LETTER},      {{'C', 2, 0x00, 0xFF}, XID_FAIL_V44_VALUE},
        {{'E', 1, 31}, XID_FAIL_V44_VALUE},      {{'H', 2, 0x01, 0xFF}, XID_FAIL_V44_VALUE},
        {{'A', 1, 1}, XID_FAIL_V44_CAPABILITY},  {{'B', 0, 'C', 2, 0x01, 0x00}, XID_OK},
        {{'C', 5, 1}, XID_FAIL_MALFORMED},
    };
    for (const auto& r : rows) {
        XidState x;
        XidLinkSettings s = settings(3, 2048, 32);
        xid_init(&x, false, &s);
        EXPECT_EQ(take(&x, field({}, {}, r.letters)), r.result);
    }
}

TEST(XidTake, OriginatorWithCapabilityAsksForAV44Answer)
{
    XidState x;
    XidLinkSettings s = settings(3, 2048, 32);
    s.v44.capability = 1;
    xid_init(&x, false, &s);
    ASSERT_EQ(take(&x, field(kPlainOptions, kV42bis3, {'A', 1, 0, 'B', 1, 3})), XID_OK);
    EXPECT_TRUE(x.v44_answer_needed);
    EXPECT_EQ(x.negotiated.p0, 0);
    // The V.44-only command: the format identifier and the V.44 group of the negotiated values.
    Bytes cmd = build(x, XID_V44_COMMAND);
    ASSERT_GE(cmd.size(), 7u);
    EXPECT_EQ(cmd[0], 0x82);
    EXPECT_EQ(cmd[1], 0xFF);
    EXPECT_EQ(cmd.size(), 1u + 34u);
}

TEST(XidTake, AnswererTakesOnlyTheFirstCapabilityOffer)
{
    XidState x;
    XidLinkSettings s = settings(3, 2048, 32);
    s.v44.capability = 1;
    xid_init(&x, true, &s);
    ASSERT_EQ(take(&x, field({}, {}, {'A', 1, 1})), XID_OK);
    EXPECT_EQ(x.negotiated.v44.capability, 1);
    ASSERT_EQ(take(&x, field({}, {}, {'A', 1, 1})), XID_OK);
    EXPECT_EQ(x.negotiated.v44.capability, 0);
    s.v44.capability = 0;
    xid_init(&x, true, &s);
    ASSERT_EQ(take(&x, field({}, {}, {'A', 1, 1})), XID_OK);
    EXPECT_TRUE(x.v44_offer_remembered);
    EXPECT_EQ(x.negotiated.v44.capability, 0);
}

TEST(XidTake, RenegotiationMarksTheV42bisGroupWithoutP0)
{
    XidState x;
    XidLinkSettings s = settings(3, 2048, 32);
    xid_init(&x, true, &s);
    const Bytes no_p0 = {0x02, 0x02, 0x04, 0x00};
    ASSERT_EQ(take(&x, field({}, no_p0, {})), XID_OK);
    EXPECT_FALSE(x.v42bis_seen);
    ASSERT_EQ(take(&x, field({}, no_p0, {}), true), XID_OK);
    EXPECT_TRUE(x.v42bis_seen);
    EXPECT_EQ(x.negotiated.p1, 1024);
}

TEST(XidTake, TruncatedAndDamagedFieldsNeverReadPastTheEnd)
{
    XidState origin;
    XidLinkSettings s = settings(3, 2048, 32);
    xid_init(&origin, false, &s);
    Bytes full = build(origin, XID_COMMAND);
    for (size_t n = 0; n <= full.size(); ++n) {
        XidState x;
        xid_init(&x, true, &s);
        XidResult r = take(&x, Bytes(full.begin(), full.begin() + static_cast<long>(n)));
        EXPECT_TRUE(r == XID_OK || r == XID_FAIL_MALFORMED) << n;
    }
    uint32_t rng = 99;
#if MODEM_UNDER_SANITIZER
    constexpr int kRounds = 3000;
#else
    constexpr int kRounds = 20000;
#endif
    for (int round = 0; round < kRounds; ++round) {
        Bytes f = full;
        int edits = 1 + static_cast<int>(v42bis_test::next_random(&rng) % 6);
        for (int k = 0; k < edits; ++k) {
            size_t at = v42bis_test::next_random(&rng) % f.size();
            uint8_t v = static_cast<uint8_t>(v42bis_test::next_random(&rng));
            if (k % 3 == 2 && f.size() > 2)
                f.erase(f.begin() + static_cast<long>(at));
            else
                f[at] = v;
        }
        if (round % 4 == 0)
            f = v42bis_test::make_random(1 + round % 90, static_cast<uint32_t>(round));
        XidState x;
        xid_init(&x, round % 2 == 0, &s);
        XidResult r = take(&x, f, round % 8 == 0);
        EXPECT_LE(static_cast<int>(r), static_cast<int>(XID_FAIL_ZERO));
        // Whatever was taken stays within the own proposal.
        EXPECT_LE(x.negotiated.tx_n401, 128);
        EXPECT_GE(x.negotiated.p1, 512);
        EXPECT_LE(x.negotiated.p1, 2048);
    }
}

// Originator command, answerer response, both sides start V.42bis and carry data each way.
TEST(XidNegotiation, DifferingSettingsLandOnTheCommonSubset)
{
    struct Row {
        uint8_t orig_dir, ans_dir;
        uint16_t orig_dict, ans_dict;
        uint8_t orig_str, ans_str;
        uint8_t p0;  // line terms
        uint8_t orig_local, ans_local;
    };
    const Row rows[] = {
        {3, 3, 2048, 1024, 32, 250, 3, 3, 3}, {3, 1, 1024, 2048, 6, 32, 2, 2, 1},
        {1, 3, 512, 2048, 250, 100, 1, 1, 2}, {2, 2, 2048, 2048, 32, 32, 0, 0, 0},
        {3, 0, 2048, 2048, 32, 32, 0, 0, 0},
    };
    static V42bisContext orig_ctx;
    static V42bisContext ans_ctx;
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.orig_dir) + "/" + std::to_string(r.ans_dir));
        XidState orig;
        XidState ans;
        XidLinkSettings so = settings(r.orig_dir, r.orig_dict, r.orig_str);
        XidLinkSettings sa = settings(r.ans_dir, r.ans_dict, r.ans_str);
        so.v44.direction = 0;
        sa.v44.direction = 0;
        xid_init(&orig, false, &so);
        xid_init(&ans, true, &sa);
        ASSERT_EQ(take(&ans, build(orig, XID_COMMAND)), XID_OK);
        ASSERT_EQ(take(&orig, build(ans, XID_RESPONSE)), XID_OK);
        for (const XidState* x : {&orig, &ans}) {
            EXPECT_EQ(x->negotiated.p0, r.p0);
            EXPECT_EQ(x->negotiated.p1, std::min(r.orig_dict, r.ans_dict));
            EXPECT_EQ(x->negotiated.p2, std::min(r.orig_str, r.ans_str));
        }
        EXPECT_EQ(xid_local_p0(&orig), r.orig_local);
        EXPECT_EQ(xid_local_p0(&ans), r.ans_local);
        ASSERT_EQ(xid_start_v42bis(&orig, &orig_ctx), 1);
        ASSERT_EQ(xid_start_v42bis(&ans, &ans_ctx), 1);
        // Each side's encoder feeds the other's decoder wherever the direction was agreed.
        const std::pair<V42bisContext*, V42bisContext*> ways[] = {{&orig_ctx, &ans_ctx}, {&ans_ctx, &orig_ctx}};
        for (auto [tx, rx] : ways) {
            bool on = tx->p0 & V42B_ENCODER;
            EXPECT_EQ(on, (rx->p0 & V42B_DECODER) != 0);
            if (!on)
                continue;
            v42bis_test::Bytes data = v42bis_test::make_mixed(20000, 3);
            v42bis_test::Bytes code = v42bis_test::compress_all(tx, data, 500, 128, 0);
            v42bis_test::Bytes out;
            ASSERT_EQ(v42bis_test::decompress_all(rx, code, 500, 128, &out), V42B_OK);
            EXPECT_TRUE(out == data);
        }
    }
}

} // namespace
