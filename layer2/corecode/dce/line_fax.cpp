// The fax path of the line block: page data through the line rings, control frames of at most 100 octets
// (the two frame-check octets the data pump passes on included) one at a time, each sent only when the data
// pump asks for data.
#include "layer2/corecode/dce/line_fax.h"

#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "window/register_map.h"
#include "window/window_access.h"

namespace {

constexpr uint16_t kMinFrame = 3;
constexpr uint16_t kDataStatuses = (1u << 0) | (1u << kRxOverrun);
constexpr uint16_t kFrameStatuses =
    (1u << 0) | (1u << kRxGoodFrame) | (1u << kRxBadFrame) | (1u << kRxAbort) | (1u << kRxOverrun);

void count_bad(LineBlock* lb)
{
    lb->fax.bad_frames++;
    lb->counters.bad_frames++;
    if (lb->host.count_rx_frame != nullptr)
        lb->host.count_rx_frame(lb->host.ctx);
}

FaxFrame* ask_record(LineFax* f, FaxFrame* done)
{
    return f->ops.rx_done != nullptr ? f->ops.rx_done(f->ops.ctx, done) : nullptr;
}

void start_record(LineFax* f, FaxFrame* r)
{
    f->rx_frame = r;
    f->rx_length = 0;
    if (r != nullptr) {
        r->length = 0;
        r->status = 0;
    }
}

// The frame is complete: its length, its verdict and the next record.
void complete_frame(LineBlock* lb, uint8_t status)
{
    LineFax* f = &lb->fax;
    FaxFrame* r = f->rx_frame;
    const bool bad = f->rx_error != 0 || status == kRxBadFrame;
    f->rx_error = 0;
    // Fewer octets than a frame's check octets and one more are line noise (the receiver's flag search on
    // the carrier's last bits), not a frame: counted, the record reused.
    if (f->rx_length < kMinFrame) {
        count_bad(lb);
        start_record(f, r);
        return;
    }
    r->length = f->rx_length;
    r->status = bad ? 1 : 0;
    if (bad)
        count_bad(lb);
    start_record(f, ask_record(f, r));
    if (f->rx_frame == nullptr)
        f->rx_discarding = 1;  // no record: the frames that follow are dropped until one is free
}

void frame_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status)
{
    LineFax* f = &lb->fax;
    const bool frame_end = status == kRxGoodFrame || status == kRxBadFrame;
    if (f->rx_discarding) {
        if (frame_end) {
            f->rx_discarding = 0;
            if (f->rx_frame == nullptr) {
                count_bad(lb);  // this frame had no record
                start_record(f, ask_record(f, nullptr));
            }
        }
        return;
    }
    if (f->rx_frame == nullptr)
        start_record(f, ask_record(f, nullptr));
    if (status == kRxAbort) {
        count_bad(lb);
        f->rx_error = 0;
        start_record(f, f->rx_frame);
        return;
    }
    if (status == kRxOverrun)
        f->rx_error = 1;
    if (f->rx_frame == nullptr) {
        count_bad(lb);
        f->rx_discarding = frame_end ? 0 : 1;
        return;
    }
    if (f->rx_length + count <= FAX_FRAME_OCTETS) {
        for (uint8_t i = 0; i < count; ++i)
            f->rx_frame->data[f->rx_length + i] = bytes[i];
        f->rx_length = static_cast<uint16_t>(f->rx_length + count);
        lb->counters.received += count;
        if (frame_end)
            complete_frame(lb, status);
        return;
    }
    // Longer than a record holds: completed now as a bad frame, the rest of it dropped.
    f->rx_error = 1;
    complete_frame(lb, status);
    if (!frame_end)
        f->rx_discarding = 1;
}

void data_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status)
{
    if (status == kRxOverrun)
        lb->counters.rx_discards++;
    DteLockHold hold(&lb->rx_lock);
    for (uint8_t i = 0; i < count; ++i) {
        if (lb->rx.count > LINE_RX_DROP_ABOVE) {
            lb->counters.rx_discards++;
            lb->fax.overruns++;
            continue;
        }
        ring_put(&lb->rx, bytes[i]);
        lb->counters.received++;
    }
}

void frame_transmit(LineBlock* lb)
{
    LineFax* f = &lb->fax;
    if (f->tx_left == 0) {
        if (f->tx_next.load() == nullptr) {
            f->tx_frame = nullptr;
            return;
        }
        // A new frame goes out only when the data pump has sent everything before it.
        if (!lb_data_wanted(lb)) {
            f->tx_wait = 1;
            return;
        }
        f->tx_wait = 0;
        FaxFrame* next = f->tx_next.load();
        const uint16_t length = next->length <= FAX_FRAME_OCTETS ? next->length : 0;
        f->tx_frame = next;
        f->tx_offset = 0;
        // The octets left are set before the frame counts as taken: the engine reuses the record only when
        // both say it is free.
        f->tx_left = length;
        f->tx_next = nullptr;
        if (length == 0)
            return;  // nothing to send (the engine never hands over an empty or overlong frame)
    }
    const uint16_t left = f->tx_left;
    const uint8_t n = static_cast<uint8_t>(left < kMailboxBytes ? left : kMailboxBytes);
    const uint8_t flags = n == left ? kTxEndOfFrame : 0;
    lb_write_chunk(lb, f->tx_frame->data + f->tx_offset, n, flags);
    lb->counters.sent += n;
    f->tx_offset = static_cast<uint16_t>(f->tx_offset + n);
    f->tx_left = static_cast<uint16_t>(left - n);
}

void reset_frames(LineFax* f)
{
    f->tx_next = nullptr;
    f->tx_frame = nullptr;
    f->tx_offset = 0;
    f->tx_left = 0;
    f->tx_wait = 0;
    f->rx_frame = nullptr;
    f->rx_length = 0;
    f->rx_error = 0;
    f->rx_discarding = 0;
}

}  // namespace

void lb_fax_init(LineFax* f)
{
    f->path = 0;
    f->hdlc = 0;
    f->ops = LineFaxOps{};
    reset_frames(f);
    f->overruns = 0;
    f->bad_frames = 0;
}

void lb_fax_set_mode(LineBlock* lb, uint8_t hdlc, const LineFaxOps* ops)
{
    LineFax* f = &lb->fax;
    lb->active = 0;
    reset_frames(f);
    if (hdlc == 1) {
        f->ops = ops != nullptr ? *ops : LineFaxOps{};
        f->hdlc = 1;
    } else {
        f->hdlc = 0;
        {
            DteLockHold hold(&lb->rx_lock);
            ring_clear(&lb->rx);
        }
        {
            DteLockHold hold(&lb->tx_lock);
            ring_clear(&lb->tx);
        }
        f->overruns = 0;
        lb->tx_kicked = 0;
    }
    f->path = 1;
    lb_send_framing(lb, hdlc == 1 ? LINE_FRAMING_HDLC : LINE_FRAMING_SYNC);
    lb->active = 1;
    lb_kick(lb);
}

void lb_fax_stop(LineBlock* lb)
{
    lb->active = 0;
    lb->fax.path = 0;
    lb->fax.hdlc = 0;
    reset_frames(&lb->fax);
}

uint16_t lb_fax_tx_pending(LineBlock* lb)
{
    const uint16_t count = lb_tx_count(lb);
    if (count != 0)
        return count;
    const LineFax* f = &lb->fax;
    if (f->hdlc.load() && (f->tx_next.load() != nullptr || f->tx_left != 0))
        return 1;
    // A chunk in the mailbox has not reached the data pump yet (its data-wanted bit is from before it).
    const DspInterfaceBlock* w = lb->window.load(std::memory_order_acquire);
    if (w != nullptr && WindowLoadPair(w, kRegTxCount) != 0)
        return 1;
    return lb_data_wanted(lb) ? 0 : 1;
}

bool lb_fax_tx_frame_set(LineBlock* lb, FaxFrame* frame)
{
    FaxFrame* expected = nullptr;
    if (!lb->fax.tx_next.compare_exchange_strong(expected, frame))
        return false;
    lb_kick(lb);
    return true;
}

bool lb_fax_tx_frame_taken(LineBlock* lb) { return lb->fax.tx_next.load() == nullptr && lb->fax.tx_left.load() == 0; }

uint16_t lb_fax_statuses(const LineBlock* lb) { return lb->fax.hdlc.load() ? kFrameStatuses : kDataStatuses; }

void lb_fax_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status)
{
    if (lb->fax.hdlc.load())
        frame_receive(lb, bytes, count, status);
    else
        data_receive(lb, bytes, count, status);
}

void lb_fax_transmit(LineBlock* lb)
{
    if (lb->fax.hdlc.load())
        frame_transmit(lb);
    else
        lb_plain_transmit(lb);
}
