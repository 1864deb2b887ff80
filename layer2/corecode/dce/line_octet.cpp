// The octet-framed MNP path of the line block: frames from error control leave framed by the controller
// (octet_frame.h) in plain chunks, and received chunks run through the octet receiver into error control's
// receive buffers. The current receive buffer is the framed paths' `rx_frame`.
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/ec/ec_frames.h"
#include "window/register_map.h"

namespace {

void take_buffer(LineBlock* lb, FrameNode* node)
{
    lb->rx_frame = node;
    if (node != nullptr) {
        node->length = 0;
        node->bad = 0;
        octet_rx_set_buffer(&lb->octet_rx, node->data, FRAME_BUFFER_OCTETS);
    } else {
        octet_rx_set_buffer(&lb->octet_rx, nullptr, 0);
    }
}

void frame_complete(LineBlock* lb, uint8_t result)
{
    FrameNode* f = lb->rx_frame;
    f->length = lb->octet_rx.length;
    if (result == OCTET_RX_BAD) {
        f->bad = 1;
        lb->counters.bad_frames++;
        if (lb->host.count_rx_frame != nullptr)
            lb->host.count_rx_frame(lb->host.ctx);
    } else {
        lb_plain_options_end(lb);  // the far end runs the link: no fall-back to the plain path any more
    }
    const uint32_t lost = lb->octet_rx.lost_frames;
    take_buffer(lb, lb->frames.rx_done != nullptr ? lb->frames.rx_done(lb->frames.ctx, f) : nullptr);
    lb->octet_rx.lost_frames = lost;
}

}  // namespace

void lb_octet_buffer_set(LineBlock* lb, FrameNode* node)
{
    const uint32_t lost = lb->octet_rx.lost_frames;
    take_buffer(lb, node);
    lb->octet_rx.lost_frames = lost;
}

void lb_octet_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status)
{
    // Without a buffer (error control had none free) ask again before the next frame can start.
    if (lb->rx_frame == nullptr && lb->frames.rx_done != nullptr)
        lb_octet_buffer_set(lb, lb->frames.rx_done(lb->frames.ctx, nullptr));
    if (status == kRxOverrun) {
        lb->counters.rx_discards++;
        octet_rx_mark_error(&lb->octet_rx);
    }
    if (status == kRxBreak)
        lb->counters.breaks++;
    for (uint8_t i = 0; i < count; ++i) {
        lb->counters.received++;
        if (lb_plain_watch(lb, bytes[i], lb->octet_rx.state <= OCTET_RX_DLE))
            continue;
        const uint8_t result = octet_rx_byte(&lb->octet_rx, bytes[i]);
        if (result != OCTET_RX_MORE && lb->rx_frame != nullptr)
            frame_complete(lb, result);
    }
}

void lb_octet_transmit(LineBlock* lb)
{
    if (!lb->tx_active.load())
        return;
    OctetTx* tx = &lb->octet_tx;
    if (tx->frame == nullptr || tx->state == OCTET_TX_DONE) {
        FrameNode* f = lb->frames.tx_next != nullptr ? lb->frames.tx_next(lb->frames.ctx) : nullptr;
        if (f == nullptr) {
            lb->tx_active = 0;
            octet_tx_reset(tx);
            return;
        }
        if (f->length > FRAME_BUFFER_OCTETS) {
            lb->counters.bogus_frames++;  // an impossible length is dropped, not sent
            octet_tx_reset(tx);
            return;
        }
        octet_tx_start(tx, f->data, f->length);
    }
    uint8_t chunk[kMailboxBytes];
    const uint8_t n = octet_tx_fill(tx, chunk, kMailboxBytes);
    if (n == 0)
        return;
    lb_write_chunk(lb, chunk, n, 0);
    lb->counters.sent += n;
}
