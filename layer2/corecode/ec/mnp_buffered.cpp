// Buffered mode: the MNP engine without error control. DTE bytes go to the line transmit ring while it has
// room and line bytes to the DTE while the DTE ring has room, unchanged, so a full ring holds its producer
// back instead of losing a byte.
#include <algorithm>

#include "layer2/corecode/ec/mnp_internal.h"

namespace {

constexpr uint32_t kBatch = 64;  // bytes moved per ring call

uint32_t to_line(MnpLink* link)
{
    const MnpHost& h = link->host;
    if (h.dte_read == nullptr || h.line_tx_write == nullptr || h.line_tx_free == nullptr)
        return 0;
    int32_t& before_break = link->attn.in_sequence;
    uint32_t moved = 0;
    for (;;) {
        uint32_t n = std::min(h.line_tx_free(h.context), kBatch);
        if (h.dte_pending != nullptr)
            n = std::min(n, h.dte_pending(h.context));  // nothing moves while the DTE side holds it
        if (before_break >= 0)
            n = std::min(n, static_cast<uint32_t>(before_break));
        uint8_t bytes[kBatch];
        n = n != 0 ? h.dte_read(h.context, bytes, n) : 0;
        if (n != 0)
            h.line_tx_write(h.context, bytes, n);  // the room was checked: every byte fits
        moved += n;
        if (before_break >= 0) {
            before_break -= static_cast<int32_t>(n);
            if (before_break == 0) {
                before_break = -1;
                if (h.line_break != nullptr)
                    h.line_break(h.context, link->setup.break_mode);
            }
        }
        if (n == 0)
            return moved;
    }
}

uint32_t to_dte(MnpLink* link)
{
    const MnpHost& h = link->host;
    if (h.line_rx_take == nullptr || h.dte_room == nullptr || h.dte_write == nullptr)
        return 0;
    uint32_t moved = 0;
    for (;;) {
        const uint32_t room = std::min(h.dte_room(h.context), kBatch);
        uint8_t bytes[kBatch];
        const uint32_t n = room != 0 ? h.line_rx_take(h.context, bytes, room) : 0;
        if (n == 0)
            return moved;
        h.dte_write(h.context, bytes, n);
        moved += n;
    }
}

}  // namespace

void mnp_buffered_step(MnpLink* link)
{
    const MnpHost& h = link->host;
    if (h.line_break_taken != nullptr && h.line_break_taken(h.context) && h.dte_break != nullptr)
        h.dte_break(h.context, link->setup.break_mode, 0);
    if (to_line(link) + to_dte(link) != 0)
        mnp_inactivity_restart(link);
}
