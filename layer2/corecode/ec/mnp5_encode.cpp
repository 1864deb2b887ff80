// MNP class 5 encoder: the adaptive frequency table shared in form with the decoder, the run-length stage
// and the bit packer.
#include "layer2/corecode/ec/mnp5.h"

namespace {

void table_reset(Mnp5Table* t)
{
    for (int p = 0; p < MNP5_SYMBOLS; ++p) {
        t->count[p] = 0;
        t->symbol[p] = static_cast<uint8_t>(p);
        t->position[p] = static_cast<uint8_t>(p);
    }
}

void put_bits(Mnp5Encoder* e, uint16_t value, int length, uint8_t* out, size_t* made)
{
    for (int i = length - 1; i >= 0; --i) {
        if ((value >> i) & 1u)
            e->octet = static_cast<uint8_t>(e->octet | e->mask);
        e->mask = static_cast<uint8_t>(e->mask >> 1);
        if (e->mask == 0) {
            out[(*made)++] = e->octet;
            e->octet = 0;
            e->mask = 0x80;
        }
    }
}

void put_entry(Mnp5Encoder* e, uint8_t p, uint8_t* out, size_t* made)
{
    uint16_t value = 0;
    int length = mnp5_code(p, &value);
    put_bits(e, value, length, out, made);
}

void put_character(Mnp5Encoder* e, uint8_t ch, uint8_t* out, size_t* made)
{
    uint8_t p = e->table.position[ch];
    put_entry(e, p, out, made);
    mnp5_table_update(&e->table, p);
}

// The run-length stage for one character.
void take(Mnp5Encoder* e, uint8_t ch, uint8_t* out, size_t* made)
{
    if (e->to_run == MNP5_NO_RUN) {
        e->last = ch;
        e->to_run = 2;
        put_character(e, ch, out, made);
        return;
    }
    if (ch == e->last) {
        if (e->to_run > 0) {
            --e->to_run;
            put_character(e, ch, out, made);
            return;
        }
        if (++e->repeat == MNP5_RUN_MAX) {
            put_entry(e, e->repeat, out, made);
            e->repeat = 0;
            e->to_run = MNP5_NO_RUN;
        }
        return;
    }
    if (e->to_run == 0) {
        put_entry(e, e->repeat, out, made);
        e->repeat = 0;
    }
    e->last = ch;
    e->to_run = 2;
    put_character(e, ch, out, made);
}

}  // namespace

void mnp5_encoder_reset(Mnp5Encoder* e)
{
    table_reset(&e->table);
    e->last = 0;
    e->to_run = MNP5_NO_RUN;
    e->repeat = 0;
    e->octet = 0;
    e->mask = 0x80;
}

void mnp5_decoder_reset(Mnp5Decoder* d)
{
    table_reset(&d->table);
    d->last = 0;
    d->same = 0;
    d->run_next = false;
    d->repeat_left = 0;
    d->bits = 0;
    d->nbits = 0;
}

void mnp5_reset(Mnp5Context* c)
{
    mnp5_encoder_reset(&c->enc);
    mnp5_decoder_reset(&c->dec);
}

int mnp5_code(uint8_t p, uint16_t* value)
{
    if (p < 2) {
        *value = p;  // header 000, body p
        return 4;
    }
    int h = 7;
    while (((p >> h) & 1u) == 0)
        --h;
    uint16_t body = static_cast<uint16_t>(p & ((1u << h) - 1u));
    *value = static_cast<uint16_t>((static_cast<uint16_t>(h) << h) | body);
    if (p == 255) {
        *value = static_cast<uint16_t>(*value << 1);  // the 0 bit that tells entry 255 from the flush code
        return 11;
    }
    return 3 + h;
}

uint8_t mnp5_table_update(Mnp5Table* t, uint8_t p)
{
    uint8_t sym = t->symbol[p];
    uint8_t count = static_cast<uint8_t>(t->count[p] + 1);
    int at = p;
    while (at > 0 && t->count[at - 1] < count) {
        t->count[at] = t->count[at - 1];
        t->symbol[at] = t->symbol[at - 1];
        t->position[t->symbol[at]] = static_cast<uint8_t>(at);
        --at;
    }
    t->count[at] = count;
    t->symbol[at] = sym;
    t->position[sym] = static_cast<uint8_t>(at);
    if (t->count[0] == MNP5_COUNT_LIMIT) {
        for (int i = 0; i < MNP5_SYMBOLS && t->count[i] != 0; ++i)
            t->count[i] = static_cast<uint8_t>(t->count[i] >> 1);
    }
    return sym;
}

size_t mnp5_encode(Mnp5Encoder* e, const uint8_t* in, size_t n, uint8_t* out, size_t room, size_t* made)
{
    *made = 0;
    size_t taken = 0;
    while (taken < n && room >= *made + MNP5_FRAME_RESERVE)
        take(e, in[taken++], out, made);
    return taken;
}

size_t mnp5_end_frame(Mnp5Encoder* e, uint8_t* out, size_t room)
{
    // Up to 7 pending bits, an 11-bit run count and the 11-bit flush code: at most 4 octets.
    uint8_t tail[4];
    size_t made = 0;
    if (e->to_run == 0)
        put_entry(e, e->repeat, tail, &made);
    if (e->mask != 0x80) {
        put_bits(e, MNP5_FLUSH_CODE, MNP5_FLUSH_BITS, tail, &made);
        if (e->mask != 0x80) {
            tail[made++] = static_cast<uint8_t>(e->octet | (e->mask * 2u - 1u));
        }
    }
    e->octet = 0;
    e->mask = 0x80;
    e->to_run = MNP5_NO_RUN;
    e->repeat = 0;
    size_t n = made < room ? made : room;
    for (size_t i = 0; i < n; ++i)
        out[i] = tail[i];
    return n;
}
