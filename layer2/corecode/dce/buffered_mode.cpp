#include "layer2/corecode/dce/buffered_mode.h"

#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte.h"

namespace {

constexpr uint16_t kBatch = 64;  // bytes moved under one take of a ring's lock

uint32_t move_to_line(DteContext* d, LineBlock* lb)
{
    uint32_t moved = 0;
    for (;;) {
        uint16_t n = dte_from_count(d);
        const uint16_t room = lb_tx_free(lb);
        if (n > room)
            n = room;
        if (n > kBatch)
            n = kBatch;
        if (n == 0)
            return moved;
        uint8_t bytes[kBatch];
        for (uint16_t i = 0; i < n; ++i)
            bytes[i] = dte_from_char(d);
        lb_tx_write(lb, bytes, n);  // room was checked: every byte fits
        moved += n;
    }
}

uint32_t move_to_dte(DteContext* d, LineBlock* lb)
{
    uint32_t moved = 0;
    for (;;) {
        uint16_t room = dte_to_free(d);
        if (room > kBatch)
            room = kBatch;
        if (room == 0 || lb_rx_count(lb) == 0)
            break;
        uint8_t bytes[kBatch];
        const uint16_t n = lb_rx_take(lb, bytes, room);
        for (uint16_t i = 0; i < n; ++i)
            dte_to_put(d, bytes[i]);
        moved += n;
    }
    if (moved != 0)
        dte_to_drain(d);
    return moved;
}

}  // namespace

BufferedMoveCounts buffered_mode_poll(DteContext* d, LineBlock* lb)
{
    BufferedMoveCounts c{0, 0};
    if (d->flow.clamp.load() || lb == nullptr)
        return c;
    if (lb_take_line_break(lb))
        dte_to_break(d, 3);  // in sequence: after the bytes that came before it
    c.to_line = move_to_line(d, lb);
    c.to_dte = move_to_dte(d, lb);
    return c;
}
