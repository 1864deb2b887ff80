// The V.42 detection phase on the line: the originator's ODP, the answerer's ADP, the decision on two equal
// ADP pairs, HDLC flags heard instead, the time-out and the pacing of the transmit turns.
#include <cstring>

#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "window/icd_codes.h"
#include "window/register_map.h"

namespace {

constexpr uint8_t kOdp = 0x11;
constexpr uint8_t kBit7 = 0x80;
constexpr uint8_t kOdpInARow = 4;
constexpr uint8_t kFlagsInARow = 4;
constexpr uint8_t kAdpE = 'E';
constexpr uint8_t kAnswerChar[3] = {'C', 'M', 0x00};
constexpr uint8_t kPairs = 10;
constexpr uint8_t kPairsMnpFirst = 5;  // 'M' pairs an answerer started with answer code 1 sends first
constexpr uint8_t kPairsPerTurn = 16;
constexpr uint8_t kNoPair = 255;
constexpr uint8_t kNoResult = 255;

enum DetectReason : uint8_t { kDecided = 0, kTimedOut = 1, kFlagsHeard = 2, kMnpFrame = 3 };

bool is_flag_octet(uint8_t c) { return c == 0x3F || c == 0x7E || c == 0xBF; }

uint16_t pacing_for(uint16_t rate)
{
    if (rate <= 1)
        return 64;
    if (rate <= 300)
        return 12;
    if (rate <= 1200)
        return 4;
    return 2;
}

void kick(LineBlock* lb)
{
    if (lb->host.kick != nullptr)
        lb->host.kick(lb->host.ctx);
    else
        lb_service(lb);
}

// Ends detection with a result for error control (under the detection lock).
void finish(LineDetect* d, uint8_t result, uint8_t reason)
{
    d->result = result;
    d->reason = reason;
    d->result_ready = 1;
    d->active = 0;
}

// Originator: an ADP character. Two equal pairs in a row decide.
bool originator_byte(LineDetect* d, uint8_t c)
{
    if (!d->e_seen) {
        if (c == kAdpE)
            d->e_seen = 1;
        else
            d->last_pair = kNoPair;
        return false;
    }
    d->e_seen = 0;
    if (c != d->last_pair) {
        d->last_pair = c;
        return false;
    }
    if (c == 'C') {
        finish(d, 0, kDecided);
    } else if (c == 'M') {
        // MNP is offered as an answer only to an originator that asked for it; otherwise no decision, and the
        // time-out decides.
        if (d->started_code != 1)
            return false;
        finish(d, 1, kDecided);
    } else if (c == 0x00) {
        finish(d, 2, kDecided);
    } else if ((c & 1u) != 0) {
        finish(d, kNoResult, kDecided);
    } else {
        return false;
    }
    return true;
}

// Answerer: four ODP characters in a row (bit 7 alternating) start the ADP pairs.
bool answerer_byte(LineDetect* d, uint8_t c)
{
    if (d->odp_seen)
        return false;
    if (c != d->odp_char) {
        d->odp_countdown = kOdpInARow;
        return false;
    }
    d->odp_char ^= kBit7;
    if (--d->odp_countdown != 0)
        return false;
    d->odp_seen = 1;
    d->pairs_to_send = d->started_code == 1 ? kPairsMnpFirst : kPairs;
    d->tx_pending = 1;
    return true;  // a transmit turn is due now
}

void reset_detect(LineDetect* d)
{
    d->active = 0;
    d->odp_seen = 0;
    d->pairs_to_send = 0;
    d->pairs_sent = 0;
    d->pacing = 0;
    d->drain = 0;
    d->e_seen = 0;
    d->error_mark = 0;
    d->reason = 0;
    d->result_ready = 0;
    octet_rx_reset(&d->mnp_rx);
    octet_rx_set_buffer(&d->mnp_rx, d->mnp_frame, sizeof d->mnp_frame);
}

}  // namespace

void lb_detect_start(LineBlock* lb, uint8_t role, uint8_t answer_code, uint16_t timeout, uint16_t line_rate)
{
    LineDetect* d = &lb->detect;
    if (role == 0xFF) {
        DteLockHold hold(&d->lock);
        d->active = 0;
        return;
    }
    lb_set_mode(lb, LINE_MODE_PLAIN);
    {
        DteLockHold hold(&d->lock);
        reset_detect(d);
        d->originator = role == 0 ? 1 : 0;
        d->answer_code = answer_code <= 2 ? answer_code : 2;
        d->started_code = d->answer_code;
        d->timeout = timeout;
        d->odp_char = kOdp;
        d->odp_countdown = kOdpInARow;
        d->flag_countdown = kFlagsInARow;
        d->last_pair = kNoPair;
        d->result = kNoResult;
        d->line_rate = line_rate;
        d->pacing_ticks = pacing_for(line_rate);
        d->tx_pending = d->originator;
        d->active = 1;
    }
    // Register 60 bit 3 off and the data pump's framer to detection characters.
    const LineBlockHost& h = lb->host;
    if (h.reg_read != nullptr && h.reg_write != nullptr)
        h.reg_write(h.ctx, kRegFramingOptions, static_cast<uint8_t>(h.reg_read(h.ctx, kRegFramingOptions) & ~kFramingHdlc));
    const uint8_t kind = LINE_FRAMING_DETECT;
    if (h.send_packet != nullptr)
        h.send_packet(h.ctx, IcdSetFraming, &kind, 1);
    kick(lb);
}

bool lb_detect_active(LineBlock* lb)
{
    DteLockHold hold(&lb->detect.lock);
    return lb->detect.active != 0;
}

bool lb_detect_take_result(LineBlock* lb, uint8_t* reason, uint8_t* result)
{
    LineDetect* d = &lb->detect;
    DteLockHold hold(&d->lock);
    if (!d->result_ready)
        return false;
    d->result_ready = 0;
    *reason = d->reason;
    *result = d->result;
    return true;
}

void lb_detect_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status)
{
    LineDetect* d = &lb->detect;
    bool turn = false;
    {
        DteLockHold hold(&d->lock);
        if (status == kRxOverrun) {
            d->error_mark = 1;
            octet_rx_mark_error(&d->mnp_rx);
        }
        if (status == kRxBreakEnd)
            octet_rx_reset(&d->mnp_rx);
        for (uint8_t i = 0; i < count && d->active; ++i) {
            const uint8_t c = bytes[i];
            if (octet_rx_byte(&d->mnp_rx, c) == OCTET_RX_GOOD) {
                finish(d, kNoResult, kMnpFrame);
                break;
            }
            if (is_flag_octet(c)) {
                if (--d->flag_countdown == 0) {
                    finish(d, kNoResult, kFlagsHeard);
                    break;
                }
            } else {
                d->flag_countdown = kFlagsInARow;
            }
            if (d->originator) {
                if (originator_byte(d, c))
                    break;  // decided: the rest of the chunk is dropped
            } else {
                turn = answerer_byte(d, c) || turn;
            }
        }
    }
    if (turn)
        kick(lb);
}

void lb_detect_transmit(LineBlock* lb)
{
    LineDetect* d = &lb->detect;
    uint8_t out[kMailboxBytes];
    uint8_t n = 0;
    {
        DteLockHold hold(&d->lock);
        if (!d->active || !d->tx_pending)
            return;
        d->tx_pending = 0;
        d->pacing = d->pacing_ticks;
        if (d->originator) {
            out[n++] = d->odp_char;
            out[n++] = static_cast<uint8_t>(d->odp_char ^ kBit7);
        } else if (d->pairs_to_send != 0) {
            const uint8_t pairs = d->pairs_to_send < kPairsPerTurn ? d->pairs_to_send : kPairsPerTurn;
            for (uint8_t k = 0; k < pairs; ++k) {
                out[n++] = kAdpE;
                out[n++] = kAnswerChar[d->answer_code];
            }
            d->pairs_to_send = static_cast<uint8_t>(d->pairs_to_send - pairs);
            d->pairs_sent = static_cast<uint8_t>(d->pairs_sent + pairs);
            if (d->pairs_to_send == 0) {
                if (d->answer_code == 1) {
                    d->answer_code = 0;
                    d->pairs_to_send = kPairs;
                } else if (d->started_code != 1) {
                    // Detection ends once the last pair has had time to leave the data pump: switching its
                    // framer at once would cut the pairs still waiting there off the line.
                    const uint32_t rate = d->line_rate > 1 ? d->line_rate : 75;
                    d->drain = static_cast<uint16_t>((d->pairs_sent * 2u * 1000u + rate - 1) / rate + 2);
                }
            }
        }
    }
    if (n != 0)
        lb_write_chunk(lb, out, n, 0);
}

void lb_line_tick(LineBlock* lb)
{
    lb_plain_tick(lb);
    LineDetect* d = &lb->detect;
    bool turn = false;
    {
        DteLockHold hold(&d->lock);
        if (!d->active)
            return;
        if (d->drain != 0 && --d->drain == 0) {
            finish(d, d->answer_code, kDecided);
            return;
        }
        if (d->timeout != 0) {
            --d->timeout;
        } else if (d->originator || !d->odp_seen) {
            d->result = kNoResult;
            d->reason = kTimedOut;
            d->result_ready = 1;
            if (d->originator) {
                d->active = 0;
                return;
            }
            return;  // the answerer goes on detecting, without a transmit turn this tick
        }
        if (d->pacing != 0 && --d->pacing == 0) {
            d->tx_pending = 1;
            turn = true;
        }
    }
    if (turn)
        kick(lb);
}
