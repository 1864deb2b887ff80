// MNP class 5 decoder: reads the codes of one frame's data, mirrors the encoder's table and run-length
// stage, and stops at the flush code or the end of the frame. Output that does not fit waits in the
// context (a run) or in the unread input.
#include "layer2/corecode/ec/mnp5.h"

namespace {

enum Read { kCode, kFlush, kNeedInput };

// Bits are taken from the front of the unread bits, loading octets on demand.
bool need(Mnp5Decoder* d, int count, const uint8_t* in, size_t n, size_t* used)
{
    while (d->nbits < count) {
        if (*used >= n)
            return false;
        d->bits = (d->bits << 8) | in[(*used)++];
        d->nbits += 8;
    }
    return true;
}

uint32_t peek(const Mnp5Decoder* d, int at, int count)
{
    return (d->bits >> (d->nbits - at - count)) & ((1u << count) - 1u);
}

// One code: the entry number, or the flush code. Consumes nothing unless the whole code is there.
Read read_code(Mnp5Decoder* d, const uint8_t* in, size_t n, size_t* used, uint8_t* p)
{
    if (!need(d, 4, in, n, used))
        return kNeedInput;
    int h = static_cast<int>(peek(d, 0, 3));
    int body_bits = h == 0 ? 1 : h;
    int length = 3 + body_bits;
    if (!need(d, length, in, n, used))
        return kNeedInput;
    uint32_t body = peek(d, 3, body_bits);
    Read r = kCode;
    if (h == 0) {
        *p = static_cast<uint8_t>(body);
    } else {
        *p = static_cast<uint8_t>((1u << h) | body);
        if (*p == 255) {
            length = 11;
            if (!need(d, length, in, n, used))
                return kNeedInput;
            if (peek(d, 10, 1) != 0)
                r = kFlush;
        }
    }
    d->nbits -= length;
    d->bits &= (1u << d->nbits) - 1u;
    return r;
}

void end_frame(Mnp5Decoder* d)
{
    d->bits = 0;
    d->nbits = 0;
    d->same = 0;
    d->run_next = false;
}

}  // namespace

int mnp5_decode(Mnp5Decoder* d, const uint8_t* in, size_t n, size_t* used, uint8_t* out, size_t room,
                size_t* made)
{
    *used = 0;
    *made = 0;
    for (;;) {
        while (d->repeat_left > 0 && *made < room) {
            out[(*made)++] = d->last;
            --d->repeat_left;
        }
        if (*made >= room)
            return MNP5_MORE;
        uint8_t p = 0;
        Read r = read_code(d, in, n, used, &p);
        if (r == kNeedInput) {
            // The frame's octets are used up: what is left must be a partial code, never a whole one.
            bool clean = d->nbits == 0;
            bool run_due = d->run_next;
            end_frame(d);
            if (!clean)
                return MNP5_ERR_TRUNCATED;
            return run_due ? MNP5_ERR_RUN : MNP5_OK;
        }
        if (r == kFlush) {
            bool run_due = d->run_next;
            *used = n;  // the rest of the final octet is fill
            end_frame(d);
            return run_due ? MNP5_ERR_RUN : MNP5_OK;
        }
        if (d->run_next) {
            if (p > MNP5_RUN_MAX) {
                end_frame(d);
                return MNP5_ERR_RUN;
            }
            d->repeat_left = p;
            d->run_next = false;
            d->same = 0;
            continue;
        }
        uint8_t ch = mnp5_table_update(&d->table, p);
        if (d->same == 0 || ch != d->last) {
            d->last = ch;
            d->same = 1;
        } else if (++d->same == 3) {
            d->run_next = true;
        }
        out[(*made)++] = ch;
    }
}
