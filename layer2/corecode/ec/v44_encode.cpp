// V.44 encoder. Characters taken from the DTE go into the history first; items are coded from the
// history's coding point as soon as the characters after it decide them: the longest dictionary string
// there (a codeword, or an ordinal when none starts with the character), then after a codeword the
// string extension while the input goes on as the history did after that codeword's string. Every item
// defines one new codeword, as the decoder will: a string extension the extended string, an ordinal or a
// codeword the previous item's string plus its own first character.
//
// When the codewords are used up or the history has no room for another string, the mode test runs and
// the dictionary restarts. In transparent mode the same coding runs on without reaching the line: it
// only counts what compressed mode would have sent, while the items' characters go out as they are.
#include <algorithm>
#include <cstring>

#include "layer2/corecode/ec/v44.h"

namespace {

// Where the coding of the next item stands.
enum Phase : uint8_t {
    PHASE_DEFINE = 0,   // a new string starts: the previous item plus its first character becomes a codeword
    PHASE_MATCH = 1,    // the longest dictionary string at the coding point
    PHASE_EXTEND = 2,   // after a codeword: the input may go on as the history after its string
    PHASE_LIMITS = 3,   // between items: codewords used up or history full start the mode test
};

V44Node* node(V44Encoder* e, uint16_t code) { return &e->nodes[code - V44_FIRST_CODEWORD]; }

// Octets one step may queue at most: an item's characters in transparent mode, each with its EID, and
// a few octets of codes, fill and mode change.
size_t worst_step(const V44Context& t) { return 2u * t.n7 + 32u; }

void queue_octet(V44Encoder* e, uint8_t octet)
{
    size_t at = (static_cast<size_t>(e->queue_read) + e->queue_count) % V44_OUT_QUEUE;
    e->queue[at] = octet;
    ++e->queue_count;
}

// Bits of the compressed stream, least significant first. In transparent mode they are only counted.
void put_bits(V44Encoder* e, uint32_t value, uint8_t bits)
{
    e->bit_acc |= value << e->bit_count;
    e->bit_count = static_cast<uint8_t>(e->bit_count + bits);
    while (e->bit_count >= 8) {
        if (!e->transparent)
            queue_octet(e, static_cast<uint8_t>(e->bit_acc));
        ++e->octets_since_test;
        e->bit_acc >>= 8;
        e->bit_count = static_cast<uint8_t>(e->bit_count - 8);
    }
    if (!e->transparent)
        e->flushed = false;
}

void fill_to_octet(V44Encoder* e)
{
    if (e->bit_count != 0)
        put_bits(e, 0, static_cast<uint8_t>(8 - e->bit_count));
}

void send_control(V44Encoder* e, uint16_t code)
{
    put_bits(e, 1, 1);
    put_bits(e, code, e->codeword_size);
}

void send_codeword(V44Encoder* e, uint16_t code)
{
    while (code >= (1u << e->codeword_size)) {
        send_control(e, V44_STEPUP);
        ++e->codeword_size;
    }
    send_control(e, code);
}

// Prefix of an ordinal or a string extension: right after a string codeword it takes two bits.
void send_prefix(V44Encoder* e, bool extension)
{
    if (e->last.kind == V44_ITEM_CODEWORD)
        put_bits(e, extension ? 2u : 0u, 2);
    else
        put_bits(e, 0, 1);
}

void send_ordinal(V44Encoder* e, uint8_t c)
{
    if (c >= (1u << e->ordinal_size)) {
        send_control(e, V44_STEPUP);
        ++e->ordinal_size;
    }
    send_prefix(e, false);
    put_bits(e, c, e->ordinal_size);
}

// Length 1: "1"; 2-4: "0" and two bits of length - 1; 5-12: "0", "00", "0" and three bits of length - 5;
// 13 and more: "0", "00", "1" and the long field of length - 13.
void send_extension(V44Encoder* e, const V44Context& t, uint32_t length)
{
    send_prefix(e, true);
    if (length == 1) {
        put_bits(e, 1, 1);
    } else if (length <= 4) {
        put_bits(e, 0, 1);
        put_bits(e, length - 1, 2);
    } else if (length <= 12) {
        put_bits(e, 0, 4);
        put_bits(e, length - 5, 3);
    } else {
        put_bits(e, 0, 3);
        put_bits(e, 1, 1);
        put_bits(e, length - 13, t.ext_bits);
    }
}

// Transparent mode: the characters of an item go out as they are, the escape character followed by EID
// (the escape character then moves on).
void send_plain(V44Encoder* e, uint32_t pos, uint32_t length)
{
    if (!e->transparent)
        return;
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t c = e->history[pos + i];
        queue_octet(e, c);
        if (c == e->escape) {
            queue_octet(e, V44_EID);
            e->escape = static_cast<uint8_t>(e->escape + V44_ESCAPE_STEP);
        }
    }
}

void define(V44Encoder* e, uint16_t parent, uint8_t root, uint16_t pos, uint8_t length, uint8_t character)
{
    uint16_t code = e->next_code++;
    V44Node* n = node(e, code);
    n->pos = pos;
    n->length = length;
    n->character = character;
    n->child = 0;
    uint16_t* head = parent != 0 ? &node(e, parent)->child : &e->first[root];
    n->sibling = *head;
    *head = code;
}

// A fresh dictionary; the characters taken and not yet coded move to the front of the history.
void restart(V44Encoder* e)
{
    std::memset(e->first, 0, sizeof e->first);
    e->next_code = V44_FIRST_CODEWORD;
    e->codeword_size = V44_FIRST_CODEWORD_SIZE;
    e->ordinal_size = V44_FIRST_ORDINAL_SIZE;
    e->last = V44LastItem{};
    uint32_t waiting = e->filled - e->coded;
    if (waiting != 0 && e->coded != 0)
        std::memmove(e->history, e->history + e->coded, waiting);
    e->coded = 0;
    e->filled = waiting;
    e->phase = PHASE_DEFINE;
}

// The mode test at a dictionary restart. The octet count covers the characters coded since the last one.
void mode_test(V44Encoder* e)
{
    uint32_t chars = e->coded;
    uint32_t octets = e->octets_since_test;
    e->octets_since_test = 0;
    if (e->transparent && octets + V44_COMPRESSED_MARGIN < chars) {
        e->bit_acc = 0;
        e->bit_count = 0;
        e->transparent = false;
        queue_octet(e, e->escape);
        queue_octet(e, V44_ECM);
        e->flushed = true;
        restart(e);
        return;
    }
    if (!e->transparent && octets > chars + V44_TRANSPARENT_MARGIN) {
        send_control(e, V44_ETM);
        fill_to_octet(e);
        e->transparent = true;
    }
    send_control(e, V44_REINIT);
    restart(e);
}

// The longest dictionary string at the coding point: its codeword (0 for none) and length. False when the
// characters taken do not decide it yet.
bool longest_match(V44Encoder* e, bool final, uint16_t* code, uint32_t* length)
{
    const uint8_t* h = e->history;
    uint32_t start = e->coded;
    uint32_t avail = e->filled - start;
    uint16_t best = 0;
    uint32_t m = 1;
    uint16_t child = e->first[h[start]];
    while (child != 0) {
        if (m == avail) {
            if (!final)
                return false;
            break;
        }
        uint8_t next = h[start + m];
        uint16_t found = 0;
        for (uint16_t x = child; x != 0; x = node(e, x)->sibling) {
            const V44Node* n = node(e, x);
            if (n->character != next)
                continue;
            uint32_t end = std::min<uint32_t>(n->length, avail);
            uint32_t j = m + 1;
            while (j < end && h[n->pos + j] == h[start + j])
                ++j;
            // Of the children that match whole, the longest; one that matches as far as the characters
            // go may still match whole.
            if (j == n->length && (found == 0 || n->length > node(e, found)->length))
                found = x;
            else if (j < n->length && j == avail && !final)
                return false;
        }
        if (found == 0)
            break;
        best = found;
        m = node(e, found)->length;
        child = node(e, found)->child;
    }
    *code = best;
    *length = best != 0 ? m : 1;
    return true;
}

bool step_match(V44Encoder* e, const V44Context& t, bool final)
{
    uint16_t code = 0;
    uint32_t length = 0;
    if (!longest_match(e, final, &code, &length))
        return false;
    uint32_t start = e->coded;
    if (code == 0)
        send_ordinal(e, e->history[start]);
    else
        send_codeword(e, code);
    send_plain(e, start, length);
    e->last = V44LastItem{static_cast<uint8_t>(code != 0 ? V44_ITEM_CODEWORD : V44_ITEM_ORDINAL),
                          static_cast<uint8_t>(length), static_cast<uint16_t>(start), code};
    e->coded += length;
    e->phase = code != 0 && e->next_code < t.n2 && length < t.n7 ? PHASE_EXTEND : PHASE_LIMITS;
    return true;
}

bool step_extend(V44Encoder* e, const V44Context& t, bool final)
{
    const uint8_t* h = e->history;
    const V44Node* k = node(e, e->last.code);
    uint32_t from = static_cast<uint32_t>(k->pos) + k->length;
    uint32_t limit = t.n7 - e->last.length;
    uint32_t avail = e->filled - e->coded;
    uint32_t n = 0;
    while (n < limit && n < avail && h[from + n] == h[e->coded + n])
        ++n;
    if (n == avail && n < limit && !final)
        return false;
    if (n != 0) {
        send_extension(e, t, n);
        send_plain(e, e->coded, n);
        define(e, e->last.code, 0, e->last.pos, static_cast<uint8_t>(e->last.length + n),
               h[e->last.pos + e->last.length]);
        e->coded += n;
        e->last.kind = V44_ITEM_EXTENSION;
        e->last.length = static_cast<uint8_t>(e->last.length + n);
    }
    e->phase = PHASE_LIMITS;
    return true;
}

bool step_define(V44Encoder* e, const V44Context& t)
{
    if (e->filled == e->coded)
        return false;
    const V44LastItem& l = e->last;
    bool item = l.kind == V44_ITEM_ORDINAL || l.kind == V44_ITEM_CODEWORD;
    if (item && l.length < t.n7 && e->next_code < t.n2)
        define(e, l.kind == V44_ITEM_CODEWORD ? l.code : 0, e->history[l.pos], l.pos,
               static_cast<uint8_t>(l.length + 1), e->history[e->coded]);
    e->phase = PHASE_MATCH;
    return true;
}

// One step of the coding; false when it waits for characters.
bool step(V44Engine* eng, bool final)
{
    V44Encoder* e = &eng->enc;
    const V44Context& t = eng->tx;
    switch (e->phase) {
    case PHASE_DEFINE: return step_define(e, t);
    case PHASE_MATCH: return step_match(e, t, final);
    case PHASE_EXTEND: return step_extend(e, t, final);
    default:
        if (e->next_code >= t.n2 || e->coded + t.n7 + 1u > t.n8)
            mode_test(e);
        else
            e->phase = PHASE_DEFINE;
        return true;
    }
}

// Codes what the characters taken decide, while the queue has room; true when anything was coded.
bool run(V44Engine* eng, bool final)
{
    bool any = false;
    while (eng->enc.queue_count + worst_step(eng->tx) <= V44_OUT_QUEUE && step(eng, final))
        any = true;
    return any;
}

} // namespace

void v44_encoder_reset(V44Engine* eng)
{
    V44Encoder* e = &eng->enc;
    e->coded = 0;
    e->filled = 0;
    restart(e);
    e->escape = 0;
    e->transparent = false;
    e->flushed = true;
    e->octets_since_test = 0;
    e->bit_acc = 0;
    e->bit_count = 0;
    e->queue_read = 0;
    e->queue_count = 0;
}

size_t v44_drain(V44Engine* eng, uint8_t* out, size_t room)
{
    V44Encoder* e = &eng->enc;
    size_t moved = 0;
    while (moved < room && e->queue_count != 0) {
        out[moved++] = e->queue[e->queue_read];
        e->queue_read = static_cast<uint16_t>((e->queue_read + 1u) % V44_OUT_QUEUE);
        --e->queue_count;
    }
    return moved;
}

size_t v44_queued(const V44Engine* eng) { return eng->enc.queue_count + (eng->enc.filled - eng->enc.coded); }

size_t v44_compress(V44Engine* eng, const uint8_t* in, size_t n, uint8_t* out, size_t room, size_t* made)
{
    V44Encoder* e = &eng->enc;
    const V44Context& t = eng->tx;
    size_t written = v44_drain(eng, out, room);
    size_t taken = 0;
    if (!(t.flags & V44_ENCODE)) {
        *made = written;
        return 0;
    }
    while (written + V44_FRAME_SLACK < room) {
        // Enough characters after the coding point to decide the longest string and its extension.
        uint32_t waiting = e->filled - e->coded;
        size_t want = waiting < t.n7 + 1u ? t.n7 + 1u - waiting : 0;
        want = std::min({want, n - taken, static_cast<size_t>(t.n8 - e->filled)});
        std::memcpy(e->history + e->filled, in + taken, want);
        e->filled += static_cast<uint32_t>(want);
        taken += want;
        bool coded = run(eng, false);
        written += v44_drain(eng, out + written, room - written);
        if (want == 0 && !coded)
            break;
    }
    *made = written;
    return taken;
}

void v44_flush(V44Engine* eng)
{
    V44Encoder* e = &eng->enc;
    if (!(eng->tx.flags & V44_ENCODE))
        return;
    run(eng, true);
    if (e->transparent || e->flushed)
        return;
    send_control(e, V44_FLUSH);
    fill_to_octet(e);
    e->flushed = true;
}
