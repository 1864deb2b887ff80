// The framed paths (LAPM and MNP framed by the data pump): whole frames leave as chunks of at most 32
// octets, the last one marked as the end of the frame; received chunks fill the current receive buffer until
// the data pump reports the frame's end, bad frames are marked and counted.
#include <cstdio>

#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/ec/ec_frames.h"
#include "platform/kernel.h"
#include "window/register_map.h"

namespace {

void count_bad(LineBlock* lb)
{
    lb->counters.bad_frames++;
    if (lb->host.count_rx_frame != nullptr)
        lb->host.count_rx_frame(lb->host.ctx);
}

void start_buffer(LineBlock* lb, FrameNode* node)
{
    lb->rx_frame = node;
    lb->rx_length = 0;
    if (node != nullptr) {
        node->length = 0;
        node->bad = 0;
    }
}

// The received frame is complete: its length (without the two frame-check octets the data pump passes
// on), its verdict, and the next buffer.
void complete_frame(LineBlock* lb, uint8_t status)
{
    FrameNode* f = lb->rx_frame;
    bool error = lb->rx_error != 0 || status == kRxBadFrame;
    uint16_t length = lb->rx_length;
    if (lb->frame_check_in_data) {
        if (length < 3)
            error = true;
        else
            length = static_cast<uint16_t>(length - 2);
    }
    if (f == nullptr)
        return;
    f->length = length;
    if (error) {
        count_bad(lb);
        f->bad = 1;
        lb->rx_error = 0;
        // On the LAPM path an I-frame's N(S) is kept for a selective reject.
        if (lb->mode.load() == LINE_MODE_LAPM && length >= 2 && (f->data[1] & 1u) == 0)
            lb->last_bad_ns = static_cast<uint8_t>(f->data[1] >> 1);
    }
    FrameNode* next = lb->frames.rx_done != nullptr ? lb->frames.rx_done(lb->frames.ctx, f) : nullptr;
    start_buffer(lb, next);
    if (next == nullptr)
        lb->rx_discarding = 1;  // no buffer: discard until one is set again
}

uint16_t buffer_limit(const LineBlock* lb)
{
    return lb->max_frame < FRAME_BUFFER_OCTETS ? lb->max_frame : FRAME_BUFFER_OCTETS;
}

}  // namespace

void lb_framed_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status)
{
    const bool frame_end = status == kRxGoodFrame || status == kRxBadFrame;
    if (lb->rx_discarding) {
        if (frame_end) {
            lb->rx_discarding = 0;
            if (lb->rx_frame == nullptr && lb->frames.rx_done != nullptr)
                start_buffer(lb, lb->frames.rx_done(lb->frames.ctx, nullptr));
        }
        return;
    }
    // An abort ends its frame: counted bad, the buffer reused, and the next chunk starts the next frame
    // (which is judged on its own, not lost or marked with this one). Bytes lost before a chunk make the
    // frame they belong to bad when it ends.
    if (status == kRxAbort) {
        count_bad(lb);
        lb->rx_error = 0;
        start_buffer(lb, lb->rx_frame);
        return;
    }
    if (status == kRxOverrun)
        lb->rx_error = 1;
    if (lb->rx_frame == nullptr) {
        count_bad(lb);
        if (frame_end && lb->frames.rx_done != nullptr)
            start_buffer(lb, lb->frames.rx_done(lb->frames.ctx, nullptr));
        else
            lb->rx_discarding = 1;
        return;
    }
    if (lb->rx_length + count <= buffer_limit(lb)) {
        for (uint8_t i = 0; i < count; ++i)
            lb->rx_frame->data[lb->rx_length + i] = bytes[i];
        lb->rx_length = static_cast<uint16_t>(lb->rx_length + count);
        lb->counters.received += count;
        if (frame_end)
            complete_frame(lb, status);
        return;
    }
    // Too long: marked bad, completed now, and the rest of it discarded.
    lb->rx_error = 1;
    complete_frame(lb, status);
    if (!frame_end)
        lb->rx_discarding = 1;
}

void lb_framed_transmit(LineBlock* lb)
{
    if (lb->tx_char_count > LINE_TX_BOGUS_COUNT) {
        DbgPrint("%s(%d) Bogus tx_char_count:%d\n", "linebloc", 107, static_cast<int>(lb->tx_char_count));
        // The frame is dropped, so the link is not stalled on it for ever.
        lb->counters.bogus_frames++;
        lb->tx_char_count = 0;
        lb->tx_frame = nullptr;
    }
    if (!lb->tx_active.load())
        return;
    if (lb->tx_char_count == 0) {
        FrameNode* f = lb->frames.tx_next != nullptr ? lb->frames.tx_next(lb->frames.ctx) : nullptr;
        if (f == nullptr) {
            lb->tx_active = 0;
            lb->tx_frame = nullptr;
            return;
        }
        lb->tx_frame = f;
        lb->tx_cursor = f->data;
        lb->tx_char_count = f->length;
        if (lb->tx_char_count > LINE_TX_BOGUS_COUNT)
            return lb_framed_transmit(lb);
    }
    const uint8_t n = static_cast<uint8_t>(lb->tx_char_count < kMailboxBytes ? lb->tx_char_count : kMailboxBytes);
    const uint8_t flags = n == lb->tx_char_count ? kTxEndOfFrame : 0;
    lb_write_chunk(lb, lb->tx_cursor, n, flags);
    lb->counters.sent += n;
    lb->tx_cursor += n;
    lb->tx_char_count = static_cast<uint16_t>(lb->tx_char_count - n);
}

void lb_frame_kick(LineBlock* lb)
{
    lb->tx_active = 1;
    if (lb->host.kick != nullptr)
        lb->host.kick(lb->host.ctx);
    else
        lb_service(lb);
}

void lb_rx_buffer_set(LineBlock* lb, FrameNode* node)
{
    if (lb->mode.load() == LINE_MODE_MNP_OCTET) {
        lb_octet_buffer_set(lb, node);
        return;
    }
    start_buffer(lb, node);
    lb->rx_error = 0;
}
