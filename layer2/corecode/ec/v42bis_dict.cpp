// V.42bis dictionary trees and the string matcher that the encoder and the decoder share.
#include "layer2/corecode/ec/v42bis.h"

namespace {

constexpr uint16_t kLow12 = 0x0FFF;

inline void set_first_child(V42bisDictionary* d, const V42bisTree* t, uint16_t code, uint16_t child)
{
    uint16_t& f = d->child_parent_hi[t->base + code];
    f = static_cast<uint16_t>((f & ~kLow12) | (child & kLow12));
}

inline void set_parent(V42bisDictionary* d, const V42bisTree* t, uint16_t code, uint16_t parent)
{
    uint16_t& f = d->child_parent_hi[t->base + code];
    f = static_cast<uint16_t>((f & kLow12) | ((parent >> 8) << 12));
    d->parent_lo[t->base + code] = static_cast<uint8_t>(parent);
}

inline uint16_t sibling_of(const V42bisDictionary* d, const V42bisTree* t, uint16_t code)
{
    return d->sibling[t->base + code];
}

// Takes `code` out of its parent's list of children.
void unlink(V42bisDictionary* d, const V42bisTree* t, uint16_t code)
{
    uint16_t parent = v42b_parent(d, t, code);
    uint16_t next = sibling_of(d, t, code);
    uint16_t at = v42b_first_child(d, t, parent);
    if (at == code) {
        set_first_child(d, t, parent, next);
        return;
    }
    for (uint16_t guard = 0; at != 0 && guard < t->n2; ++guard) {
        uint16_t after = sibling_of(d, t, at);
        if (after == code) {
            d->sibling[t->base + at] = next;
            return;
        }
        at = after;
    }
}

// Makes ready the code the next new string takes: the next free entry while the dictionary fills; once it
// is full, the next leaf above the last code given out (wrapping to the first string code), which leaves
// its parent's list at once, so it can no longer be matched or named. A full tree of at least 253 learnt
// entries whose strings are at most 250 characters long always holds a leaf; the bound only keeps a
// damaged tree from looping.
void prepare_next_code(V42bisDictionary* d, V42bisTree* t)
{
    uint16_t code = t->next_free;
    for (uint16_t tries = 0; tries < t->n2; ++tries) {
        code = static_cast<uint16_t>(code + 1);
        if (code >= t->n2) {
            code = V42B_FIRST_STRING;
            t->full = true;
        }
        if (!t->full) {
            t->next_free = code;
            return;
        }
        if (v42b_first_child(d, t, code) == 0) {
            unlink(d, t, code);
            t->next_free = code;
            return;
        }
    }
    t->next_free = 0;
}

} // namespace

uint16_t v42b_parent(const V42bisDictionary* d, const V42bisTree* t, uint16_t code)
{
    uint16_t at = static_cast<uint16_t>(t->base + code);
    return static_cast<uint16_t>(((d->child_parent_hi[at] >> 12) << 8) | d->parent_lo[at]);
}

uint16_t v42b_first_child(const V42bisDictionary* d, const V42bisTree* t, uint16_t code)
{
    return static_cast<uint16_t>(d->child_parent_hi[t->base + code] & kLow12);
}

void v42b_tree_reset(V42bisDictionary* d, V42bisTree* t, uint16_t base, uint16_t n2)
{
    t->base = base;
    t->n2 = n2;
    t->next_free = V42B_FIRST_STRING;
    t->last_added = 0;
    t->full = false;
    for (uint16_t c = 0; c < 256; ++c) {
        uint16_t at = static_cast<uint16_t>(base + c + V42B_CONTROL_CODES);
        d->child_parent_hi[at] = 0;
        d->sibling[at] = 0;
        d->character[at] = static_cast<uint8_t>(c);
        d->parent_lo[at] = 0;
    }
}

uint16_t v42b_find_child_at(const V42bisDictionary* d, const V42bisTree* t, uint16_t parent, uint8_t c,
                            uint16_t* before)
{
    uint16_t prev = 0;
    uint16_t at = v42b_first_child(d, t, parent);
    while (at != 0) {
        uint8_t here = d->character[t->base + at];
        if (here == c)
            return at;
        if (here > c)
            break;
        prev = at;
        at = d->sibling[t->base + at];
    }
    *before = prev;
    return 0;
}

uint16_t v42b_find_child(const V42bisDictionary* d, const V42bisTree* t, uint16_t parent, uint8_t c)
{
    uint16_t before = 0;
    return v42b_find_child_at(d, t, parent, c, &before);
}

uint16_t v42b_add_string_at(V42bisDictionary* d, V42bisTree* t, uint16_t parent, uint16_t before, uint8_t c)
{
    uint16_t code = t->next_free;
    if (code == 0)
        return 0;
    uint16_t at = static_cast<uint16_t>(t->base + code);
    d->character[at] = c;
    d->child_parent_hi[at] = 0;
    set_parent(d, t, code, parent);
    if (before == 0) {
        d->sibling[at] = v42b_first_child(d, t, parent);
        set_first_child(d, t, parent, code);
    } else {
        d->sibling[at] = d->sibling[t->base + before];
        d->sibling[t->base + before] = code;
    }
    t->last_added = code;
    prepare_next_code(d, t);
    return code;
}

uint16_t v42b_add_string(V42bisDictionary* d, V42bisTree* t, uint16_t parent, uint8_t c)
{
    uint16_t before = 0;
    if (v42b_find_child_at(d, t, parent, c, &before) != 0)
        return 0;
    return v42b_add_string_at(d, t, parent, before, c);
}

void v42b_match_reset(V42bisMatcher* m)
{
    m->code = 0;
    m->length = 0;
    m->refused = 0;
    m->sent = false;
}

uint16_t v42b_match_char(V42bisDictionary* d, V42bisTree* t, V42bisMatcher* m, uint8_t n7, uint8_t c)
{
    uint16_t single = static_cast<uint16_t>(c + V42B_CONTROL_CODES);
    if (m->code == 0) {
        m->code = single;
        m->length = 1;
        return 0;
    }
    uint16_t before = 0;
    uint16_t child = v42b_find_child_at(d, t, m->code, c, &before);
    if (child != 0 && !m->sent && child != m->refused && m->length < n7) {
        m->code = child;
        ++m->length;
        return 0;
    }
    uint16_t ended = m->sent ? 0 : m->code;
    uint16_t added = 0;
    if (child == 0 && m->length < n7)
        added = v42b_add_string_at(d, t, m->code, before, c);
    m->refused = added;
    m->sent = false;
    m->code = single;
    m->length = 1;
    return ended;
}
