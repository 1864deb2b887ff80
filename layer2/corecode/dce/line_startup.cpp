// The start-up path of a connection's set-up: the block the data pump sends (once, or over and over until
// connection control changes it), and the receiver that picks the far end's message out of the characters the
// data pump receives meanwhile. A message runs from one 0xE0 octet to the next and counts only when the same
// bytes arrive twice in a row, so a character lost to the line never makes a wrong message.
#include <cstring>

#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "window/register_map.h"
#include "window/window_access.h"

namespace {

constexpr uint8_t kMessageStart = 0xE0;
constexpr uint8_t kCategoryMask = 0x1F;
constexpr uint8_t kCategoryCallFunction = 0x01;
constexpr uint8_t kClosingZeros = 3;

// A message shorter than this (the start octet and one more) is no message.
constexpr uint8_t kShortest = 3;

void start_message(LineStartup& s)
{
    s.collected[0] = kMessageStart;
    s.position = 1;
    s.state = LINE_STARTUP_COLLECT;
}

void accept(LineStartup& s)
{
    std::memcpy(s.message, s.collected, s.candidate);
    s.message[s.candidate] = 0;
    s.message_length = s.candidate;
    s.state = LINE_STARTUP_ACCEPTED;
}

// A start octet ends the message being collected: a long enough one becomes the candidate the next copy is
// compared with.
void end_collected(LineStartup& s)
{
    if (s.position >= kShortest) {
        s.candidate = s.position;
        s.position = 1;
        s.state = LINE_STARTUP_COMPARE;
    } else {
        start_message(s);
    }
}

void collect(LineStartup& s, uint8_t c)
{
    if (s.position >= LINE_STARTUP_MESSAGE_MAX) {
        s.state = LINE_STARTUP_WAIT;  // too long for any menu: dropped, the next start octet begins again
        return;
    }
    s.collected[s.position++] = c;
}

// One received byte; false when the rest of the chunk is to be dropped.
bool receive_byte(LineStartup& s, uint8_t c)
{
    switch (s.state) {
    case LINE_STARTUP_WAIT:
    case LINE_STARTUP_AFTER_ZERO:
        if (c == kMessageStart) {
            start_message(s);
        } else if (c == 0) {
            s.state = LINE_STARTUP_AFTER_ZERO;
        } else {
            if (s.state == LINE_STARTUP_AFTER_ZERO && (c & kCategoryMask) == kCategoryCallFunction &&
                s.indicators < 255)
                ++s.indicators;
            s.state = LINE_STARTUP_WAIT;
        }
        return true;
    case LINE_STARTUP_COLLECT:
        if (c == kMessageStart)
            end_collected(s);
        else
            collect(s, c);
        return true;
    case LINE_STARTUP_COMPARE:
        if (c == kMessageStart) {
            if (s.position == s.candidate) {
                accept(s);
                return false;
            }
            // A shorter copy: it becomes the candidate.
            end_collected(s);
            return true;
        }
        if (s.position < s.candidate && s.collected[s.position] == c) {
            ++s.position;
            return true;
        }
        // A different copy: what matched so far and this byte are the message now being collected.
        s.state = LINE_STARTUP_COLLECT;
        collect(s, c);
        return true;
    case LINE_STARTUP_ZEROS:
        s.zeros = c == 0 ? static_cast<uint8_t>(s.zeros + 1) : 0;
        if (s.zeros >= kClosingZeros)
            s.state = LINE_STARTUP_DONE;
        return true;
    default:
        return false;
    }
}

}  // namespace

void lb_startup_begin(LineBlock* lb)
{
    lb->active = 0;
    lb_reset_frame_state(lb);
    lb->fax.path = 0;
    {
        DteLockHold hold(&lb->detect.lock);
        lb->detect.active = 0;
    }
    lb_plain_reset(lb);
    lb->framed = 0;
    lb->mode = LINE_MODE_STARTUP;
    lb_send_block_clear(lb);
    lb_rx_msg_reset(lb);
    lb->active = 1;
}

bool lb_send_block(LineBlock* lb, const uint8_t* bytes, uint8_t length, bool repeat)
{
    if (length > LINE_STARTUP_BLOCK_MAX || (length != 0 && bytes == nullptr))
        return false;
    {
        DteLockHold hold(&lb->tx_lock);
        LineStartup& s = lb->startup;
        s.repeat = repeat ? 1 : 0;
        s.length = length;
        if (length != 0)
            std::memcpy(s.block, bytes, length);
        // A copy of the previous block still waiting in the chunk is withdrawn: the new one goes next.
        lb_tx_chunk_forget(lb);
    }
    lb_kick(lb);
    return true;
}

void lb_send_block_clear(LineBlock* lb)
{
    DteLockHold hold(&lb->tx_lock);
    lb->startup.repeat = 0;
    lb->startup.length = 0;
    // On the start-up path a copy still waiting in the chunk is part of the block: it goes too, or the data
    // pump would send it as the first data of the connection.
    if (lb->mode.load() == LINE_MODE_STARTUP)
        lb_tx_chunk_forget(lb);
}

void lb_startup_transmit(LineBlock* lb)
{
    uint8_t bytes[LINE_STARTUP_BLOCK_MAX];
    uint8_t n = 0;
    {
        DteLockHold hold(&lb->tx_lock);
        LineStartup& s = lb->startup;
        n = s.length;
        std::memcpy(bytes, s.block, n);
        if (!s.repeat)
            s.length = 0;
        if (n == 0)
            lb->tx_kicked = 0;
    }
    if (n != 0)
        lb_write_chunk(lb, bytes, n, 0);
}

void lb_startup_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count)
{
    DteLockHold hold(&lb->rx_lock);
    for (uint8_t i = 0; i < count; ++i)
        if (!receive_byte(lb->startup, bytes[i]))
            break;
}

void lb_rx_msg_reset(LineBlock* lb)
{
    DteLockHold hold(&lb->rx_lock);
    LineStartup& s = lb->startup;
    s.state = LINE_STARTUP_WAIT;
    s.position = 0;
    s.candidate = 0;
    s.zeros = 0;
    s.indicators = 0;
    s.message_length = 0;
    s.message[0] = 0;
}

void lb_rx_msg_count_zeros(LineBlock* lb)
{
    DteLockHold hold(&lb->rx_lock);
    lb->startup.state = LINE_STARTUP_ZEROS;
    lb->startup.zeros = 0;
}

uint8_t lb_rx_msg_get(LineBlock* lb, uint8_t* out)
{
    DteLockHold hold(&lb->rx_lock);
    const LineStartup& s = lb->startup;
    if (s.message_length == 0)
        return 0;
    std::memcpy(out, s.message, s.message_length + 1u);
    return s.message_length;
}

uint8_t lb_rx_msg_indicators(LineBlock* lb)
{
    DteLockHold hold(&lb->rx_lock);
    return lb->startup.indicators;
}

void lb_rx_msg_clear_indicators(LineBlock* lb)
{
    DteLockHold hold(&lb->rx_lock);
    lb->startup.indicators = 0;
}

uint8_t lb_rx_msg_zeros(LineBlock* lb)
{
    DteLockHold hold(&lb->rx_lock);
    return lb->startup.zeros;
}
