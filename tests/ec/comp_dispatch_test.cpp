// The compression dispatch between two ends of a stand-in link: LAPM's frame builder and line are played by
// a small fixture, so frames, windows, the to-DTE room, breaks in sequence and decoder errors can be set.
#include <gtest/gtest.h>

#include <deque>

#include "ec/v42bis_support.h"
#include "layer2/corecode/ec/comp_dispatch.h"
#include "layer2/corecode/ec/mnp5.h"

namespace {

using v42bis_test::Bytes;

struct End {
    V42bisContext ctx;
    Mnp5Engine mnp5;
    CompDispatch comp;
    std::deque<uint8_t> from_dte;
    Bytes to_dte;
    size_t to_dte_capacity = 300;
    size_t to_dte_used = 0;  // bytes in the to-DTE ring not yet read by the application
    uint16_t n401 = 128;
    bool frame_open = false;
    uint8_t frame_buf[256];
    CompTxFrame frame{};
    std::deque<Bytes> tx_ring;  // closed frames not yet on the line
    size_t window = 7;
    std::deque<Bytes> rx_frames;
    CompRxFrame rx{};
    bool rx_loaded = false;
    uint8_t ns_out = 0;
    uint8_t ns_in = 0;
    std::vector<uint8_t> delivered_ns;
    int32_t break_at = -1;  // bytes of from_dte before a break in sequence
    std::vector<size_t> break_frames;  // tx frame count when the break was reached
    size_t frames_sent = 0;
    int disconnects = 0;
};

End* end_of(void* link) { return static_cast<End*>(link); }

const CompLinkOps kOps = {
    [](void* l) { return end_of(l)->tx_ring.size() < end_of(l)->window; },
    [](void* l) -> CompTxFrame* { return end_of(l)->frame_open ? &end_of(l)->frame : nullptr; },
    [](void* l) {
        End* e = end_of(l);
        e->tx_ring.push_back(Bytes(e->frame.info, e->frame.info + e->frame.fill));
        e->frame_open = false;
        ++e->frames_sent;
    },
    [](void* l) { return end_of(l)->from_dte.size(); },
    [](void* l, uint8_t* buf, size_t max) {
        End* e = end_of(l);
        size_t n = std::min(max, e->from_dte.size());
        std::copy(e->from_dte.begin(), e->from_dte.begin() + static_cast<long>(n), buf);
        return n;
    },
    [](void* l, size_t n) {
        End* e = end_of(l);
        e->from_dte.erase(e->from_dte.begin(), e->from_dte.begin() + static_cast<long>(n));
        if (e->break_at >= 0)
            e->break_at -= static_cast<int32_t>(n);
    },
    [](void* l) { return end_of(l)->break_at; },
    [](void* l) {
        End* e = end_of(l);
        e->break_at = -1;
        e->break_frames.push_back(e->frames_sent);
    },
    [](void* l) -> CompRxFrame* {
        End* e = end_of(l);
        if (!e->rx_loaded && !e->rx_frames.empty()) {
            e->rx = CompRxFrame{e->rx_frames.front().data(), static_cast<uint16_t>(e->rx_frames.front().size()), 0,
                                e->ns_in};
            e->rx_loaded = true;
        }
        return e->rx_loaded ? &e->rx : nullptr;
    },
    [](void* l, uint8_t next_ns) {
        End* e = end_of(l);
        e->delivered_ns.push_back(next_ns);
        e->rx_frames.pop_front();
        e->rx_loaded = false;
        e->ns_in = next_ns;
    },
    [](void* l) { return end_of(l)->to_dte_capacity - end_of(l)->to_dte_used; },
    [](void* l, const uint8_t* d, size_t n) {
        End* e = end_of(l);
        e->to_dte.insert(e->to_dte.end(), d, d + n);
        e->to_dte_used += n;
        ASSERT_LE(e->to_dte_used, e->to_dte_capacity);
    },
    [](void* l) { ++end_of(l)->disconnects; },
};

// One LAPM step of an end: open a frame when one may start, run the dispatch, close a partly filled frame
// after a flush when the DTE has nothing more and no frame waits, then the application reads a little.
void step(End* e, size_t read_per_step)
{
    if (!e->frame_open && e->tx_ring.size() < e->window) {
        e->frame = CompTxFrame{e->frame_buf, 0, false};
        e->frame_open = true;
    }
    comp_dispatch(&e->comp);
    if (e->frame_open && e->from_dte.empty() && e->tx_ring.empty() &&
        (e->frame.fill != 0 || e->comp.engine->queued(e->comp.engine_state) != 0)) {
        comp_flush(&e->comp);
        if (e->frame.fill != 0)
            kOps.close_tx_frame(e);
    }
    e->to_dte_used -= std::min(e->to_dte_used, read_per_step);
}

// The line: every frame waiting goes to the far end.
void carry(End* from, End* to)
{
    while (!from->tx_ring.empty()) {
        EXPECT_LE(from->tx_ring.front().size(), from->n401);
        to->rx_frames.push_back(from->tx_ring.front());
        from->tx_ring.pop_front();
    }
}

void set_up(End* e, uint8_t p0)
{
    ASSERT_EQ(v42b_init(&e->ctx, p0, 2048, 32), 1);
    comp_start(&e->comp, &kOps, e, &kV42bisEngine, &e->ctx, e->n401);
}

// MNP class 5 in the same seat: every frame ends its own coded data, whatever closes it.
void set_up_mnp5(End* e, uint8_t p0)
{
    mnp5_engine_start(&e->mnp5, (p0 & 1) != 0, (p0 & 2) != 0);
    comp_start(&e->comp, &kOps, e, &kMnp5Engine, &e->mnp5, e->n401);
}

using SetUp = void (*)(End*, uint8_t);

void both_ways(SetUp set_up)
{
    static End a;
    static End b;
    a = End{};
    b = End{};
    set_up(&a, 3);
    set_up(&b, 3);
#if MODEM_UNDER_SANITIZER
    constexpr size_t kSize = 60000;
#else
    constexpr size_t kSize = 300000;
#endif
    Bytes ab = v42bis_test::make_mixed(kSize, 1);
    Bytes ba = v42bis_test::make_text(kSize, 2);
    a.from_dte.assign(ab.begin(), ab.end());
    b.from_dte.assign(ba.begin(), ba.end());
    for (int i = 0; i < 200000 && (b.to_dte.size() < ab.size() || a.to_dte.size() < ba.size()); ++i) {
        step(&a, 90);
        step(&b, 40);
        carry(&a, &b);
        carry(&b, &a);
    }
    EXPECT_TRUE(b.to_dte == ab);
    EXPECT_TRUE(a.to_dte == ba);
    EXPECT_EQ(a.disconnects + b.disconnects, 0);
    // Received frames are released in order with N(S) + 1.
    ASSERT_FALSE(b.delivered_ns.empty());
    for (size_t i = 0; i < b.delivered_ns.size(); ++i)
        EXPECT_EQ(b.delivered_ns[i], (i + 1) & 0x7F);
    // Compressible data fills frames to within the slack of N401.
    EXPECT_LT(a.frames_sent, ab.size() / 100);
}

TEST(CompDispatch, BothWaysByteExactWithASlowReader) { both_ways(set_up); }
TEST(CompDispatch, Mnp5BothWaysByteExactWithASlowReader) { both_ways(set_up_mnp5); }

void break_in_sequence(SetUp set_up)
{
    static End a;
    static End b;
    a = End{};
    b = End{};
    set_up(&a, 1);
    set_up(&b, 2);
    Bytes data = v42bis_test::make_text(5000, 4);
    a.from_dte.assign(data.begin(), data.end());
    a.break_at = 3000;
    // The far end decodes only the frames sent up to the break: exactly the 3000 bytes before it.
    for (int i = 0; i < 1000 && a.break_frames.empty(); ++i) {
        step(&a, 0);
        carry(&a, &b);
    }
    ASSERT_EQ(a.break_frames.size(), 1u);
    b.to_dte_capacity = 100000;
    for (int i = 0; i < 1000; ++i)
        step(&b, 0);
    EXPECT_TRUE(b.to_dte == Bytes(data.begin(), data.begin() + 3000));
    // The rest follows.
    for (int i = 0; i < 1000; ++i) {
        step(&a, 0);
        carry(&a, &b);
        step(&b, 0);
    }
    EXPECT_TRUE(b.to_dte == data);
}

TEST(CompDispatch, BreakInSequenceClosesTheFrameAfterItsBytes) { break_in_sequence(set_up); }
TEST(CompDispatch, Mnp5BreakInSequenceClosesTheFrameAfterItsBytes) { break_in_sequence(set_up_mnp5); }

TEST(CompDispatch, DecoderErrorAsksOnceForTheDisconnect)
{
    static End b;
    b = End{};
    set_up(&b, 3);
    // Escape 0 and ECM, then code 300: not learnt.
    b.rx_frames.push_back(Bytes{0x41, 0x00, 0x00, 0x2C, 0x01});
    b.rx_frames.push_back(Bytes{0x42});
    for (int i = 0; i < 5; ++i)
        step(&b, 0);
    EXPECT_EQ(b.disconnects, 1);
    EXPECT_EQ(b.to_dte, Bytes{0x41});
    EXPECT_TRUE(b.delivered_ns.empty());
}

} // namespace
