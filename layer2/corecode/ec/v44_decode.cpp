// V.44 decoder. Decoded strings are written into the history and handed out from there, so a string that
// does not fit the room offered waits for the next call; an item is decoded only when everything before
// it was handed out and all of its bits have arrived. Every length and position taken from the line is
// checked against the history and the codeword table before use.
#include <cstring>

#include "layer2/corecode/ec/v44.h"

namespace {

constexpr int kNeedBits = -1;  // the item's bits have not all arrived

// Reads ahead in a copy of the bit accumulator; the decoder takes the copy only once the item is whole.
struct BitPeek {
    uint32_t acc;
    uint8_t count;

    bool take(uint8_t bits, uint32_t* v)
    {
        if (count < bits)
            return false;
        *v = acc & ((1u << bits) - 1u);
        acc = bits < 32 ? acc >> bits : 0;
        count = static_cast<uint8_t>(count - bits);
        return true;
    }
};

void restart(V44Decoder* d)
{
    d->next_code = V44_FIRST_CODEWORD;
    d->codeword_size = V44_FIRST_CODEWORD_SIZE;
    d->ordinal_size = V44_FIRST_ORDINAL_SIZE;
    d->stepup = false;
    d->last = V44LastItem{};
    d->filled = 0;
    d->delivered = 0;
}

void drop_to_octet(V44Decoder* d)
{
    uint8_t extra = d->bit_count % 8;
    d->bit_acc >>= extra;
    d->bit_count = static_cast<uint8_t>(d->bit_count - extra);
}

// The previous codeword or ordinal plus the first character of this one becomes the next codeword.
bool defines(const V44Decoder* d, const V44Context& r)
{
    const V44LastItem& l = d->last;
    return (l.kind == V44_ITEM_ORDINAL || l.kind == V44_ITEM_CODEWORD) && l.length < r.n7 && d->next_code < r.n2;
}

void define(V44Decoder* d, uint32_t pos, uint32_t length)
{
    d->table[2u * d->next_code] = static_cast<uint16_t>(pos);
    d->table[2u * d->next_code + 1] = static_cast<uint16_t>(length);
    ++d->next_code;
}

// Copies forward one character at a time: the source may run into what is being written.
void copy_string(V44Decoder* d, uint32_t from, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i)
        d->history[d->filled + i] = d->history[from + i];
}

int control(V44Decoder* d, uint32_t code)
{
    switch (code) {
    case V44_ETM:
        drop_to_octet(d);
        d->transparent = true;
        d->escape_seen = false;
        return V44_OK;
    case V44_FLUSH: drop_to_octet(d); return V44_OK;
    case V44_STEPUP: d->stepup = true; return V44_OK;
    default: restart(d); return V44_OK;
    }
}

int codeword(V44Engine* eng, uint32_t code)
{
    V44Decoder* d = &eng->dec;
    const V44Context& r = eng->rx;
    if (code < V44_CONTROL_CODEWORDS)
        return control(d, code);
    if (code > d->next_code)
        return V44_ERR_CODEWORD;
    bool defining = defines(d, r);
    uint32_t from;
    uint32_t length;
    if (code == d->next_code) {
        if (!defining)
            return V44_ERR_NEXT_FREE;
        from = d->last.pos;
        length = d->last.length + 1u;
    } else {
        from = d->table[2u * code];
        length = d->table[2u * code + 1];
    }
    if (d->filled + length > r.n8)
        return V44_ERR_HISTORY;
    copy_string(d, from, length);
    if (defining)
        define(d, d->last.pos, d->last.length + 1u);
    d->last = V44LastItem{V44_ITEM_CODEWORD, static_cast<uint8_t>(length), static_cast<uint16_t>(d->filled),
                          static_cast<uint16_t>(code)};
    d->filled += length;
    return V44_OK;
}

int ordinal(V44Engine* eng, uint8_t c)
{
    V44Decoder* d = &eng->dec;
    const V44Context& r = eng->rx;
    if (d->filled + 1u > r.n8)
        return V44_ERR_HISTORY;
    bool defining = defines(d, r);
    d->history[d->filled] = c;
    if (defining)
        define(d, d->last.pos, d->last.length + 1u);
    d->last = V44LastItem{V44_ITEM_ORDINAL, 1, static_cast<uint16_t>(d->filled), 0};
    d->filled += 1;
    return V44_OK;
}

// Characters that followed the previous codeword's string in the history lengthen it.
int extension(V44Engine* eng, uint32_t length)
{
    V44Decoder* d = &eng->dec;
    const V44Context& r = eng->rx;
    V44LastItem& l = d->last;
    if (l.kind != V44_ITEM_CODEWORD || l.length + length > r.n7 || d->next_code >= r.n2)
        return V44_ERR_EXTENSION;
    uint32_t from = static_cast<uint32_t>(d->table[2u * l.code]) + d->table[2u * l.code + 1];
    if (d->filled + length > r.n8)
        return V44_ERR_HISTORY;
    copy_string(d, from, length);
    define(d, l.pos, l.length + length);
    l.kind = V44_ITEM_EXTENSION;
    l.length = static_cast<uint8_t>(l.length + length);
    d->filled += length;
    return V44_OK;
}

// The length code of a string extension (the encoder's send_extension).
bool extension_length(BitPeek* p, uint8_t long_bits, uint32_t* length)
{
    uint32_t v = 0;
    if (!p->take(1, &v))
        return false;
    if (v == 1) {
        *length = 1;
        return true;
    }
    if (!p->take(2, &v))
        return false;
    if (v != 0) {
        *length = v + 1;
        return true;
    }
    if (!p->take(1, &v))
        return false;
    bool long_field = v == 1;
    if (!p->take(long_field ? long_bits : 3, &v))
        return false;
    *length = v + (long_field ? 13u : 5u);
    return true;
}

// One item of compressed mode: V44_OK, an error, or kNeedBits.
int decode_item(V44Engine* eng)
{
    V44Decoder* d = &eng->dec;
    const V44Context& r = eng->rx;
    BitPeek p{d->bit_acc, d->bit_count};
    uint32_t bit = 0;
    if (!p.take(1, &bit))
        return kNeedBits;
    if (bit == 1) {
        uint8_t size = static_cast<uint8_t>(d->codeword_size + (d->stepup ? 1 : 0));
        if (size > r.n1)
            return V44_ERR_STEPUP;
        uint32_t code = 0;
        if (!p.take(size, &code))
            return kNeedBits;
        d->bit_acc = p.acc;
        d->bit_count = p.count;
        d->codeword_size = size;
        d->stepup = false;
        return codeword(eng, code);
    }
    bool is_extension = false;
    if (d->last.kind == V44_ITEM_CODEWORD) {
        if (!p.take(1, &bit))
            return kNeedBits;
        is_extension = bit == 1;
    }
    if (is_extension) {
        if (d->stepup)
            return V44_ERR_EXTENSION;
        uint32_t length = 0;
        if (!extension_length(&p, r.ext_bits, &length))
            return kNeedBits;
        d->bit_acc = p.acc;
        d->bit_count = p.count;
        return extension(eng, length);
    }
    uint8_t size = static_cast<uint8_t>(d->ordinal_size + (d->stepup ? 1 : 0));
    if (size > V44_N3)
        return V44_ERR_ORDINAL;
    uint32_t c = 0;
    if (!p.take(size, &c))
        return kNeedBits;
    d->bit_acc = p.acc;
    d->bit_count = p.count;
    d->ordinal_size = size;
    d->stepup = false;
    return ordinal(eng, static_cast<uint8_t>(c));
}

// One octet of transparent mode; `*w` counts what went to `out` (the caller leaves room for one).
int transparent_octet(V44Decoder* d, uint8_t o, uint8_t* out, size_t* w)
{
    if (!d->escape_seen) {
        if (o == d->escape)
            d->escape_seen = true;
        else
            out[(*w)++] = o;
        return V44_OK;
    }
    d->escape_seen = false;
    switch (o) {
    case V44_ECM:
        d->transparent = false;
        restart(d);
        return V44_OK;
    case V44_EID:
        out[(*w)++] = d->escape;
        d->escape = static_cast<uint8_t>(d->escape + V44_ESCAPE_STEP);
        return V44_OK;
    case V44_RESET: return V44_OK;
    default: return V44_ERR_ESCAPE;
    }
}

// The next octet of transparent mode: what the bit accumulator still holds comes first.
bool next_octet(V44Decoder* d, const uint8_t* in, size_t n, size_t* at, uint8_t* o)
{
    if (d->bit_count >= 8) {
        *o = static_cast<uint8_t>(d->bit_acc);
        d->bit_acc >>= 8;
        d->bit_count = static_cast<uint8_t>(d->bit_count - 8);
        return true;
    }
    if (*at == n)
        return false;
    *o = in[(*at)++];
    return true;
}

} // namespace

void v44_decoder_reset(V44Engine* eng)
{
    V44Decoder* d = &eng->dec;
    restart(d);
    d->bit_acc = 0;
    d->bit_count = 0;
    d->escape = 0;
    d->transparent = false;
    d->escape_seen = false;
    d->status = V44_OK;
}

// Characters decoded and not handed out, or transparent octets still in the bit accumulator. (A whole
// item of compressed mode never waits there: items are decoded into the history even without room.)
bool v44_output_pending(const V44Engine* eng)
{
    const V44Decoder* d = &eng->dec;
    return d->delivered < d->filled || (d->transparent && d->bit_count >= 8);
}

int v44_decompress(V44Engine* eng, const uint8_t* in, size_t n, size_t* used, uint8_t* out, size_t room,
                   size_t* made)
{
    V44Decoder* d = &eng->dec;
    size_t at = 0;
    size_t w = 0;
    *used = 0;
    *made = 0;
    if (!(eng->rx.flags & V44_DECODE))
        return V44_ERR_INACTIVE;
    while (d->status == V44_OK) {
        while (d->delivered < d->filled && w < room)
            out[w++] = d->history[d->delivered++];
        if (d->delivered < d->filled)
            break;
        int r;
        if (d->transparent) {
            uint8_t o = 0;
            if (w == room || !next_octet(d, in, n, &at, &o))
                break;
            r = transparent_octet(d, o, out, &w);
        } else {
            while (d->bit_count <= 24 && at < n) {
                d->bit_acc |= static_cast<uint32_t>(in[at++]) << d->bit_count;
                d->bit_count = static_cast<uint8_t>(d->bit_count + 8);
            }
            r = decode_item(eng);
            if (r == kNeedBits)
                break;
        }
        d->status = r;
    }
    *used = at;
    *made = w;
    return d->status;
}
