// V.44 parameters: the +DS44 checks against the supported maxima, the defaults, and the set-up of the
// engine of a link with its three dictionary blocks from the paged pool.
#include <algorithm>
#include <cstring>

#include "layer2/corecode/ec/v44.h"
#include "platform/ex.h"

namespace {

constexpr ULONG kTagDict = POOL_TAG('D', 'I', 'C', 'T');  // encoder history and codeword nodes
constexpr ULONG kTagDicr = POOL_TAG('D', 'I', 'C', 'R');  // decoder history
constexpr ULONG kTagDics = POOL_TAG('D', 'I', 'C', 'S');  // decoder codeword table

constexpr uint32_t kUnlimited = 0xFFFF;

uint16_t capped(uint32_t v) { return static_cast<uint16_t>(std::min(v, kUnlimited)); }

void give_back(uint8_t** block, ULONG tag)
{
    if (*block != nullptr)
        ExFreePoolWithTag(*block, tag);
    *block = nullptr;
}

void fill_context(V44Context* c, uint16_t codewords, uint8_t string, uint16_t history, uint8_t flag)
{
    c->n2 = codewords;
    c->n1 = v44_codeword_bits(codewords);
    c->n7 = string;
    c->n8 = history;
    c->ext_bits = v44_extension_bits(string);
    c->flags = flag;
}

// The node array after the encoder's history, on an 8-octet boundary: the block keeps 8 octets for each
// of the four control codewords, which need no node, so the alignment always fits.
V44Node* node_array(uint8_t* dict, uint16_t history)
{
    size_t offset = (static_cast<size_t>(history) + 7) & ~static_cast<size_t>(7);
    return reinterpret_cast<V44Node*>(dict + offset);
}

} // namespace

int v44_check_direction(uint32_t v) { return v <= 3; }
int v44_check_negotiation(uint32_t v) { return v <= 1; }
int v44_check_capability(uint32_t v) { return v == 0; }
int v44_check_string_length(uint32_t v) { return v >= V44_MIN_STRING && v <= 255; }
int v44_check_tx_codewords(const V44Settings* s, uint32_t v)
{
    return v >= V44_MIN_CODEWORDS && v <= s->supported.tx_codewords;
}
int v44_check_rx_codewords(const V44Settings* s, uint32_t v)
{
    return v >= V44_MIN_CODEWORDS && v <= s->supported.rx_codewords;
}
int v44_check_tx_history(const V44Settings* s, uint32_t v)
{
    return v >= V44_MIN_HISTORY && v <= s->supported.tx_history;
}
int v44_check_rx_history(const V44Settings* s, uint32_t v)
{
    return v >= V44_MIN_HISTORY && v <= s->supported.rx_history;
}

void v44_get_params(const V44Settings* s, V44Params* out) { std::memcpy(out, &s->request, sizeof *out); }
void v44_set_params(V44Settings* s, const V44Params* in) { std::memcpy(&s->request, in, sizeof *in); }

void v44_supported_maxima(V44Settings* s, uint32_t budget)
{
    V44Params& m = s->supported;
    m = V44Params{};
    bool unlimited = budget == 0;
    m.tx_codewords = unlimited ? kUnlimited : capped(budget / 28);
    m.rx_codewords = unlimited ? kUnlimited : capped(budget / 14);
    m.tx_history = unlimited ? kUnlimited : capped(budget / 7);
    m.rx_history = unlimited ? kUnlimited : capped(static_cast<uint32_t>(2ull * budget / 7));
    m.direction = 3;
    m.tx_string = V44_DEFAULT_STRING;
    m.rx_string = V44_DEFAULT_STRING;
}

void v44_supported_defaults(V44Settings* s) { v44_supported_maxima(s, 0); }

void v44_params_default(V44Settings* s)
{
    const V44Params& m = s->supported;
    V44Params& r = s->request;
    r = V44Params{};
    r.direction = 3;
    r.tx_string = V44_DEFAULT_STRING;
    r.rx_string = V44_DEFAULT_STRING;
    r.tx_codewords = std::min(m.tx_codewords, V44_DEFAULT_CODEWORDS);
    r.rx_codewords = std::min(m.rx_codewords, V44_DEFAULT_CODEWORDS);
    r.tx_history = std::min(m.tx_history, V44_DEFAULT_HISTORY);
    r.rx_history = std::min(m.rx_history, V44_DEFAULT_HISTORY);
}

uint32_t v44_set_negotiation(V44Settings* s, uint32_t v)
{
    if (v44_check_negotiation(v))
        s->request.negotiation = v;
    return s->request.negotiation;
}

XidV44Values v44_xid_request(const V44Settings* s)
{
    const V44Params& r = s->request;
    return XidV44Values{static_cast<uint8_t>(r.capability & 1), r.direction, r.tx_codewords, r.rx_codewords,
                        r.tx_string, r.rx_string, r.tx_history, r.rx_history};
}

uint8_t v44_codeword_bits(uint16_t n2)
{
    uint8_t bits = 1;
    while (bits < 16 && (1u << bits) < n2)
        ++bits;
    return bits;
}

uint8_t v44_extension_bits(uint8_t n7)
{
    if (n7 <= 46)
        return 5;
    if (n7 <= 78)
        return 6;
    if (n7 <= 142)
        return 7;
    return 8;
}

void v44_free_dictionaries(V44Engine* e)
{
    give_back(&e->dict, kTagDict);
    give_back(&e->dicr, kTagDicr);
    give_back(&e->dics, kTagDics);
    e->enc.history = nullptr;
    e->enc.nodes = nullptr;
    e->dec.history = nullptr;
    e->dec.table = nullptr;
    e->tx.flags = 0;
    e->rx.flags = 0;
    e->rx.n2 = 0;
}

bool v44_start(V44Engine* e, const XidV44Values* v)
{
    v44_free_dictionaries(e);
    std::memset(static_cast<void*>(e), 0, sizeof *e);
    uint8_t direction = v->direction & (V44_ENCODE | V44_DECODE);
    if (direction == 0)
        return true;
    // Values below the minima never come out of a negotiation; they are raised rather than trusted.
    if (direction & V44_ENCODE)
        fill_context(&e->tx, std::max(v->tx_codewords, V44_MIN_CODEWORDS), std::max(v->tx_string, V44_MIN_STRING),
                     std::max(v->tx_history, V44_MIN_HISTORY), V44_ENCODE);
    if (direction & V44_DECODE)
        fill_context(&e->rx, std::max(v->rx_codewords, V44_MIN_CODEWORDS), std::max(v->rx_string, V44_MIN_STRING),
                     std::max(v->rx_history, V44_MIN_HISTORY), V44_DECODE);
    bool ok = true;
    if (e->tx.flags) {
        e->dict = static_cast<uint8_t*>(
            ExAllocatePoolWithTag(PagedPool, static_cast<size_t>(e->tx.n8) + 8u * e->tx.n2, kTagDict));
        ok = e->dict != nullptr;
    }
    if (ok && e->rx.flags) {
        e->dicr = static_cast<uint8_t*>(ExAllocatePoolWithTag(PagedPool, e->rx.n8, kTagDicr));
        e->dics = static_cast<uint8_t*>(ExAllocatePoolWithTag(PagedPool, 4u * e->rx.n2, kTagDics));
        ok = e->dicr != nullptr && e->dics != nullptr;
    }
    if (!ok) {
        v44_free_dictionaries(e);
        return false;
    }
    if (e->dict) {
        e->enc.history = e->dict;
        e->enc.nodes = node_array(e->dict, e->tx.n8);
    }
    if (e->dicr) {
        e->dec.history = e->dicr;
        e->dec.table = reinterpret_cast<uint16_t*>(e->dics);
    }
    v44_encoder_reset(e);
    v44_decoder_reset(e);
    return true;
}
