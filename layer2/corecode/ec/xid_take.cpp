// XID: taking a received information field. Every group, parameter and value length is checked against
// the end of the field before it is read; a field that runs short fails the negotiation.
#include <algorithm>
#include <cstring>

#include "layer2/corecode/ec/xid.h"

namespace {

struct Reader {
    const uint8_t* p;
    size_t end;
    size_t at;

    size_t left() const { return end - at; }
};

// A value of `len` octets, most significant first; false when wider than 32 bits.
bool read_value(const uint8_t* p, size_t len, uint32_t* v)
{
    if (len > 4)
        return false;
    uint32_t value = 0;
    for (size_t i = 0; i < len; ++i)
        value = (value << 8) | p[i];
    *v = value;
    return true;
}

uint8_t swap_directions(uint8_t d)
{
    return static_cast<uint8_t>(((d & 1) << 1) | ((d >> 1) & 1));
}

XidResult take_options(XidState* x, const uint8_t* v)
{
    XidValues* n = &x->negotiated;
    const XidValues* own = &x->own;
    n->srej = (v[0] & XID_OPT1_SREJ_BIT) && (own->srej & 3) ? 1 : 0;
    n->test = (v[1] & XID_OPT2_TEST_BIT) && (own->test & 1) ? 1 : 0;
    n->fcs = (v[2] & 3) == 3 && (own->fcs == 1 || own->fcs == 2) ? 1 : 0;
    if (own->fcs == 2 && !n->fcs)
        return XID_FAIL_FCS;
    return XID_OK;
}

XidResult take_hdlc_parameter(XidState* x, uint8_t pi, const uint8_t* v, size_t len)
{
    XidValues* n = &x->negotiated;
    const XidValues* own = &x->own;
    if (pi == XID_PI_OPTIONS)
        return len == 3 ? take_options(x, v) : XID_FAIL_MALFORMED;
    if (pi < XID_PI_TX_N401 || pi > XID_PI_RX_WINDOW)
        return XID_OK;
    uint32_t value = 0;
    if (!read_value(v, len, &value))
        return XID_FAIL_MALFORMED;
    // The peer's transmit values are our receive values and the reverse.
    switch (pi) {
    case XID_PI_TX_N401:
        if (value < 8)
            return XID_FAIL_ZERO;
        n->rx_n401 = static_cast<uint16_t>(std::min<uint32_t>(value / 8, own->rx_n401));
        return XID_OK;
    case XID_PI_RX_N401:
        if (value < 8)
            return XID_FAIL_ZERO;
        n->tx_n401 = static_cast<uint16_t>(std::min<uint32_t>(value / 8, own->tx_n401));
        return XID_OK;
    case XID_PI_TX_WINDOW:
        if (value == 0)
            return XID_FAIL_ZERO;
        n->rx_window = static_cast<uint16_t>(std::min<uint32_t>(value, own->rx_window));
        return XID_OK;
    default:
        if (value == 0)
            return XID_FAIL_ZERO;
        n->tx_window = static_cast<uint16_t>(std::min<uint32_t>(value, own->tx_window));
        return XID_OK;
    }
}

XidResult take_v42bis_parameter(XidState* x, uint8_t pi, const uint8_t* v, size_t len, bool renegotiating)
{
    XidValues* n = &x->negotiated;
    const XidValues* own = &x->own;
    if (pi == XID_PI_P0 && len != 0) {
        if (!renegotiating)
            x->v42bis_seen = true;
        uint8_t mine = x->answerer ? swap_directions(own->p0) : own->p0;
        n->p0 = static_cast<uint8_t>(v[len - 1] & mine & 3);
        return XID_OK;
    }
    if ((pi != XID_PI_P1 && pi != XID_PI_P2) || len == 0)
        return XID_OK;
    uint32_t value = 0;
    if (!read_value(v, len, &value))
        return XID_FAIL_MALFORMED;
    if (pi == XID_PI_P1) {
        if (value < XID_MIN_P1)
            return XID_FAIL_P1;
        n->p1 = static_cast<uint16_t>(std::min<uint32_t>(value, own->p1));
        return XID_OK;
    }
    if (value < XID_MIN_P2 || value > XID_MAX_P2)
        return XID_FAIL_P2;
    n->p2 = static_cast<uint8_t>(std::min<uint32_t>(value, own->p2));
    return XID_OK;
}

// Runs `take` over the PI/PL/value triples of a group body; false when one runs past the body.
template <typename Take>
XidResult for_each_parameter(const uint8_t* body, size_t len, Take take)
{
    size_t at = 0;
    while (at < len) {
        if (len - at < 2)
            return XID_FAIL_MALFORMED;
        uint8_t pi = body[at];
        uint8_t pl = body[at + 1];
        at += 2;
        if (pl > len - at)
            return XID_FAIL_MALFORMED;
        XidResult r = take(pi, body + at, pl);
        if (r != XID_OK)
            return r;
        at += pl;
    }
    return XID_OK;
}

XidResult take_groups(XidState* x, Reader* r, bool renegotiating)
{
    while (r->left() >= 1) {
        uint8_t id = r->p[r->at];
        if (id != XID_GROUP_HDLC && id != XID_GROUP_V42BIS)
            return XID_OK;
        if (r->left() < 3)
            return XID_FAIL_MALFORMED;
        size_t len = static_cast<size_t>(r->p[r->at + 1]) << 8 | r->p[r->at + 2];
        r->at += 3;
        if (len > r->left())
            return XID_FAIL_MALFORMED;
        const uint8_t* body = r->p + r->at;
        r->at += len;
        XidResult res = XID_OK;
        if (id == XID_GROUP_HDLC) {
            res = for_each_parameter(body, len, [x](uint8_t pi, const uint8_t* v, size_t pl) {
                return take_hdlc_parameter(x, pi, v, pl);
            });
        } else if (len >= 5 && body[0] == XID_PI_V42BIS_NAME && body[1] == 3 && std::memcmp(body + 2, "V42", 3) == 0) {
            if (renegotiating)
                x->v42bis_seen = true;
            res = for_each_parameter(body + 5, len - 5, [x, renegotiating](uint8_t pi, const uint8_t* v, size_t pl) {
                return take_v42bis_parameter(x, pi, v, pl, renegotiating);
            });
        }
        if (res != XID_OK)
            return res;
    }
    return XID_OK;
}

XidResult take_v44_capability(XidState* x, uint8_t peer)
{
    XidV44Values* n = &x->negotiated.v44;
    bool mine = x->own.v44.capability & 1;
    peer &= 1;
    if (x->answerer) {
        bool first = x->v44_offers++ == 0;
        n->capability = first && mine ? peer : 0;
        if (first && !mine && peer)
            x->v44_offer_remembered = true;
        return XID_OK;
    }
    if (mine) {
        n->capability = peer;
        if (!peer)
            x->v44_answer_needed = true;
        return XID_OK;
    }
    if (peer)
        return XID_FAIL_V44_CAPABILITY;
    n->capability = 0;
    return XID_OK;
}

// One V.44 value, named by its letter. The peer's transmit values meet our receive values.
XidResult take_v44_letter(XidState* x, uint8_t letter, const uint8_t* v, size_t len)
{
    XidV44Values* n = &x->negotiated.v44;
    const XidV44Values* own = &x->own.v44;
    if (letter < 'A' || letter > 'H')
        return XID_FAIL_V44_LETTER;
    uint32_t value = 0;
    if (!read_value(v, len, &value))
        return XID_FAIL_MALFORMED;
    switch (letter) {
    case 'A':
        return take_v44_capability(x, static_cast<uint8_t>(value));
    case 'B':
        n->direction = static_cast<uint8_t>(swap_directions(static_cast<uint8_t>(value)) & own->direction);
        return XID_OK;
    case 'C':
    case 'D': {
        if (value < XID_V44_MIN_CODEWORDS || value > 0xFFFF)
            return XID_FAIL_V44_VALUE;
        uint16_t* mine = letter == 'C' ? &n->rx_codewords : &n->tx_codewords;
        *mine = static_cast<uint16_t>(std::min<uint32_t>(value, letter == 'C' ? own->rx_codewords : own->tx_codewords));
        return XID_OK;
    }
    case 'E':
    case 'F': {
        if (value < XID_V44_MIN_STRING || value > 255)
            return XID_FAIL_V44_VALUE;
        uint8_t* mine = letter == 'E' ? &n->rx_string : &n->tx_string;
        *mine = static_cast<uint8_t>(std::min<uint32_t>(value, letter == 'E' ? own->rx_string : own->tx_string));
        return XID_OK;
    }
    default: {
        if (value < XID_V44_MIN_HISTORY || value > 0xFFFF)
            return XID_FAIL_V44_VALUE;
        uint16_t* mine = letter == 'G' ? &n->rx_history : &n->tx_history;
        *mine = static_cast<uint16_t>(std::min<uint32_t>(value, letter == 'G' ? own->rx_history : own->tx_history));
        return XID_OK;
    }
    }
}

XidResult take_v44_group(XidState* x, Reader* r)
{
    if (r->left() == 0 || r->p[r->at] != XID_GROUP_V44)
        return XID_OK;
    ++r->at;
    // Identifier 0x40 parameters until the one that names V.44.
    for (;;) {
        if (r->left() < 2 || r->p[r->at] != XID_V44_PARAMETER)
            return XID_OK;
        size_t len = r->p[r->at + 1];
        r->at += 2;
        if (len > r->left())
            return XID_FAIL_MALFORMED;
        bool named = len == 3 && std::memcmp(r->p + r->at, "V44", 3) == 0;
        r->at += len;
        if (named)
            break;
    }
    x->v44_seen = true;
    // Letter, length and value up to the end of the field.
    while (r->left() > 0) {
        if (r->left() < 2)
            return XID_FAIL_MALFORMED;
        uint8_t letter = r->p[r->at];
        size_t len = r->p[r->at + 1];
        r->at += 2;
        if (len > r->left())
            return XID_FAIL_MALFORMED;
        const uint8_t* v = r->p + r->at;
        r->at += len;
        if (len == 0)
            continue;
        XidResult res = take_v44_letter(x, letter, v, len);
        if (res != XID_OK)
            return res;
    }
    return XID_OK;
}

void finish_compression(XidState* x)
{
    XidValues* n = &x->negotiated;
    if (x->answerer) {
        if (x->v44_seen && x->own.v44.direction != 0) {
            n->p0 = 0;
            x->v44_accepted = true;
            x->v42bis_seen = false;
        } else {
            x->v44_accepted = false;
            n->v44 = XidV44Values{};
        }
        return;
    }
    if (x->v44_seen) {
        n->p0 = 0;
        x->v44_accepted = true;
    } else {
        x->v44_accepted = false;
        n->v44 = XidV44Values{};
    }
}

} // namespace

XidResult xid_take(XidState* x, const uint8_t* info, size_t n, bool renegotiating)
{
    x->negotiated.v44.direction = 0;
    x->negotiated.v44.capability = 0;
    x->v44_seen = false;
    x->v44_accepted = false;
    x->v44_answer_needed = false;
    if (n == 0 || info[0] != XID_FORMAT)
        return XID_OK;
    Reader r{info, n, 1};
    XidResult res = take_groups(x, &r, renegotiating);
    if (res == XID_OK)
        res = take_v44_group(x, &r);
    if (res != XID_OK)
        return res;
    finish_compression(x);
    return XID_OK;
}
