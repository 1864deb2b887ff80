// XID: the own proposal from the link settings, and the information field of the frames this link sends.
#include <algorithm>

#include "layer2/corecode/ec/v42bis.h"
#include "layer2/corecode/ec/xid.h"

namespace {

// Appends octets while they fit; `ok` turns false at the first that does not.
struct Writer {
    uint8_t* out;
    size_t room;
    size_t at;
    bool ok;

    void put(uint8_t v)
    {
        if (at < room)
            out[at++] = v;
        else
            ok = false;
    }
    void put16(uint16_t v)
    {
        put(static_cast<uint8_t>(v >> 8));
        put(static_cast<uint8_t>(v));
    }
};

uint8_t octets_for(uint32_t v)
{
    uint8_t n = 0;
    while (v >> (8 * n))
        ++n;
    return n;
}

// PI, PL and the value in the fewest octets, most significant first (PL 0 for the value 0).
void put_minimal(Writer* w, uint8_t pi, uint32_t v)
{
    uint8_t n = octets_for(v);
    w->put(pi);
    w->put(n);
    for (uint8_t i = n; i > 0; --i)
        w->put(static_cast<uint8_t>(v >> (8 * (i - 1))));
}

void put_hdlc_group(Writer* w, const XidValues* v)
{
    uint32_t tx_bits = 8u * v->tx_n401;
    uint32_t rx_bits = 8u * v->rx_n401;
    uint8_t values = static_cast<uint8_t>(octets_for(tx_bits) + octets_for(rx_bits) + octets_for(v->tx_window) +
                                          octets_for(v->rx_window));
    w->put(XID_GROUP_HDLC);
    w->put16(static_cast<uint16_t>(13 + values));
    w->put(XID_PI_OPTIONS);
    w->put(3);
    w->put(v->srej & 3 ? XID_OPT1_SREJ : XID_OPT1_PLAIN);
    w->put(v->test & 1 ? XID_OPT2_TEST : XID_OPT2_PLAIN);
    w->put(v->fcs == 1 || v->fcs == 2 ? XID_OPT3_FCS : XID_OPT3_PLAIN);
    put_minimal(w, XID_PI_TX_N401, tx_bits);
    put_minimal(w, XID_PI_RX_N401, rx_bits);
    put_minimal(w, XID_PI_TX_WINDOW, v->tx_window);
    put_minimal(w, XID_PI_RX_WINDOW, v->rx_window);
}

void put_v42bis_group(Writer* w, const XidValues* v)
{
    const uint8_t head[] = {XID_GROUP_V42BIS, 0x00, 0x0F, XID_PI_V42BIS_NAME, 3, 'V', '4', '2', XID_PI_P0, 1};
    for (uint8_t b : head)
        w->put(b);
    w->put(v->p0);
    w->put(XID_PI_P1);
    w->put(2);
    w->put16(v->p1);
    w->put(XID_PI_P2);
    w->put(1);
    w->put(v->p2);
}

void put_v44_group(Writer* w, const XidV44Values* v)
{
    const uint8_t head[] = {XID_GROUP_V44, XID_V44_PARAMETER, 3, 'V', '4', '4', 'A', 1};
    for (uint8_t b : head)
        w->put(b);
    w->put(v->capability);
    if (v->capability != 0)
        return;
    w->put('B');
    w->put(1);
    w->put(v->direction);
    const uint16_t wide[] = {v->tx_codewords, v->rx_codewords};
    for (int i = 0; i < 2; ++i) {
        w->put(static_cast<uint8_t>('C' + i));
        w->put(2);
        w->put16(wide[i]);
    }
    const uint8_t strings[] = {v->tx_string, v->rx_string};
    for (int i = 0; i < 2; ++i) {
        w->put(static_cast<uint8_t>('E' + i));
        w->put(1);
        w->put(strings[i]);
    }
    const uint16_t history[] = {v->tx_history, v->rx_history};
    for (int i = 0; i < 2; ++i) {
        w->put(static_cast<uint8_t>('G' + i));
        w->put(2);
        w->put16(history[i]);
    }
}

} // namespace

void xid_default_values(XidValues* v)
{
    *v = XidValues{};
    v->tx_window = XID_DEFAULT_WINDOW;
    v->rx_window = XID_DEFAULT_WINDOW;
    v->tx_n401 = XID_DEFAULT_N401;
    v->rx_n401 = XID_DEFAULT_N401;
    v->p1 = XID_MIN_P1;
    v->p2 = XID_MIN_P2;
}

void xid_init(XidState* x, bool answerer, const XidLinkSettings* s)
{
    *x = XidState{};
    x->answerer = answerer;
    xid_default_values(&x->negotiated);
    xid_set_own(&x->own, s);
}

void xid_set_own(XidValues* own, const XidLinkSettings* s)
{
    uint16_t n401 = std::clamp<uint16_t>(s->n401, XID_MIN_N401, XID_DEFAULT_N401);
    own->tx_window = XID_DEFAULT_WINDOW;
    own->rx_window = XID_DEFAULT_WINDOW;
    own->tx_n401 = n401;
    own->rx_n401 = n401;
    own->srej = s->srej_request;
    own->test = s->test_request;
    own->fcs = s->fcs_request;
    own->p0 = std::min<uint8_t>(s->ds_direction, 3);
    own->p1 = std::clamp<uint16_t>(s->ds_dictionary, XID_MIN_P1, XID_MAX_P1);
    own->p2 = std::clamp<uint8_t>(s->ds_string, XID_MIN_P2, XID_MAX_P2);
    own->v44 = s->v44;
}

size_t xid_build_info(const XidState* x, XidKind kind, uint8_t* out, size_t room)
{
    Writer w{out, room, 0, true};
    w.put(XID_FORMAT);
    const XidValues* v = kind == XID_COMMAND ? &x->own : &x->negotiated;
    if (kind != XID_V44_COMMAND) {
        put_hdlc_group(&w, v);
        if (kind == XID_COMMAND || x->v42bis_seen)
            put_v42bis_group(&w, v);
    }
    bool v44 = kind == XID_COMMAND ? x->own.v44.direction != 0 : kind == XID_V44_COMMAND || x->v44_accepted;
    if (v44)
        put_v44_group(&w, &v->v44);
    return w.ok ? w.at : 0;
}

size_t xid_build_frame(const XidState* x, XidKind kind, uint8_t address, bool pf, uint8_t* out, size_t room)
{
    if (room < 2)
        return 0;
    out[0] = address;
    out[1] = static_cast<uint8_t>(XID_CONTROL | (pf ? XID_PF : 0));
    size_t n = xid_build_info(x, kind, out + 2, room - 2);
    return n == 0 ? 0 : n + 2;
}

uint8_t xid_local_p0(const XidState* x)
{
    uint8_t p0 = x->negotiated.p0 & 3;
    if (!x->answerer)
        return p0;
    return static_cast<uint8_t>(((p0 & 1) << 1) | ((p0 >> 1) & 1));
}

int xid_start_v42bis(const XidState* x, V42bisContext* ctx)
{
    return v42b_init(ctx, xid_local_p0(x), x->negotiated.p1, x->negotiated.p2);
}
