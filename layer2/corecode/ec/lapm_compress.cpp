// Compression on a LAPM link (lapm_compress.h).
#include "layer2/corecode/ec/lapm_compress.h"

#include <algorithm>
#include <cstring>

#include "layer2/corecode/ec/lapm_internal.h"

namespace {

LapmLink* link_of(void* l) { return static_cast<LapmLink*>(l); }
LapmCompression* comp_of(void* l) { return link_of(l)->compression; }

// The own proposal from the set-up and the link's own frame sizes and windows.
void refresh_own(LapmLink* link, LapmCompression* c)
{
    const LapmSetup& s = link->setup;
    XidLinkSettings settings{s.srej_request, s.test_request, link->proposal.tx_n401, s.fcs_request,
                             s.p0,           s.p1,           s.p2,                    c->v44_request};
    xid_set_own(&c->xid.own, &settings);
    c->xid.own.tx_window = link->proposal.tx_k;
    c->xid.own.rx_window = link->proposal.rx_k;
    c->xid.own.tx_n401 = link->proposal.tx_n401;
    c->xid.own.rx_n401 = link->proposal.rx_n401;
    c->xid.answerer = !link->originator;
}

const CompLinkOps kLapmOps = {
    [](void* l) { return ec_tx_ring_depth(&link_of(l)->tx_ring) < link_of(l)->window; },
    [](void* l) -> CompTxFrame* {
        LapmLink* link = link_of(l);
        if (!link->building)
            return nullptr;
        LapmCompression* c = link->compression;
        c->tx = CompTxFrame{link->building->data + 3, static_cast<uint16_t>(link->building->length - 3), false};
        return &c->tx;
    },
    [](void* l) {
        LapmLink* link = link_of(l);
        link->building->length = static_cast<uint16_t>(3 + link->compression->tx.fill);
        lapm_close_iframe(link);
    },
    [](void* l) -> size_t {
        const LapmHost& h = link_of(l)->host;
        return comp_of(l)->stage_count + h.dte_pending(h.context);
    },
    [](void* l, uint8_t* buf, size_t max) -> size_t {
        LapmCompression* c = comp_of(l);
        const LapmHost& h = link_of(l)->host;
        if (c->stage_count < sizeof(c->stage))
            c->stage_count = static_cast<uint8_t>(
                c->stage_count + h.dte_read(h.context, c->stage + c->stage_count, sizeof(c->stage) - c->stage_count));
        size_t n = std::min<size_t>(max, c->stage_count);
        std::memcpy(buf, c->stage, n);
        return n;
    },
    [](void* l, size_t n) {
        LapmCompression* c = comp_of(l);
        LapmLink* link = link_of(l);
        std::memmove(c->stage, c->stage + n, c->stage_count - n);
        c->stage_count = static_cast<uint8_t>(c->stage_count - n);
        if (link->mode3_waiting)
            link->mode3_count = static_cast<uint16_t>(link->mode3_count - n);
    },
    [](void* l) -> int32_t { return link_of(l)->mode3_waiting ? link_of(l)->mode3_count : -1; },
    [](void* l) { link_of(l)->mode3_waiting = 0; },
    [](void* l) -> CompRxFrame* { return &comp_of(l)->rx; },
    [](void* l, uint8_t) { comp_of(l)->rx_done = true; },
    [](void* l) -> size_t { return link_of(l)->host.dte_room(link_of(l)->host.context); },
    [](void* l, const uint8_t* data, size_t n) {
        const LapmHost& h = link_of(l)->host;
        if (n)
            h.dte_write(h.context, data, static_cast<uint32_t>(n));
    },
    [](void* l) { lapm_request_disconnect_tx(link_of(l)); },
};

uint16_t build(LapmLink* link, bool command, uint8_t* info, uint16_t max)
{
    LapmCompression* c = link->compression;
    if (command)
        refresh_own(link, c);
    return static_cast<uint16_t>(xid_build_info(&c->xid, command ? XID_COMMAND : XID_RESPONSE, info, max));
}

// Directions as encoder (bit 0) and decoder (bit 1) to the report's receive (bit 0) and transmit (bit 1).
uint8_t report_directions(uint8_t d) { return static_cast<uint8_t>(((d & 1u) << 1) | ((d >> 1) & 1u)); }

bool take(LapmLink* link, const uint8_t* info, uint16_t length)
{
    LapmCompression* c = link->compression;
    refresh_own(link, c);
    if (xid_take(&c->xid, info, length, link->status == LAPM_TRANSFER) != XID_OK)
        return false;
    const XidValues& n = c->xid.negotiated;
    LapmValues& neg = link->neg;
    neg.tx_k = n.tx_window;
    neg.rx_k = n.rx_window;
    neg.tx_n401 = n.tx_n401;
    neg.rx_n401 = n.rx_n401;
    neg.srej = n.srej;
    neg.test = n.test;
    neg.fcs = n.fcs;
    neg.p0 = n.p0;
    neg.p1 = n.p1;
    neg.p2 = n.p2;
    ec_set_link_value(link->counters, neg.tx_n401);
    // Every XID exchange restarts the compressors with the values now in force: V.44 when it was agreed
    // in a direction, else V.42bis (which the agreement on V.44 turned off).
    xid_start_v42bis(&c->xid, &c->v42bis);
    XidV44Values v44 = n.v44;
    if (!c->xid.v44_accepted)
        v44.direction = 0;
    c->stage_count = 0;
    if (!v44_start(&c->v44, &v44)) {
        // No dictionary memory: the link cannot carry what was agreed and ends as on a compressor error.
        c->running = false;
        lapm_request_disconnect_tx(link);
        return true;
    }
    if (v44.direction != 0)
        comp_start(&c->comp, &kLapmOps, link, &kV44Engine, &c->v44, neg.tx_n401);
    else
        comp_start(&c->comp, &kLapmOps, link, &kV42bisEngine, &c->v42bis, neg.tx_n401);
    c->running = v44.direction != 0 || c->v42bis.p0 != 0;
    // The event code the connection report reads: 1 compression in the receive direction only, 2 in the
    // transmit direction only, 3 both; V.42bis as is, V.44 raised by 3.
    const uint8_t v42 = v44.direction != 0 ? 0 : report_directions(xid_local_p0(&c->xid));
    ec_set_event_code(link->counters, v42, report_directions(v44.direction), 0);
    return true;
}

bool encoder_on(const LapmLink* link)
{
    const LapmCompression* c = link->compression;
    return c && c->running && c->comp.engine->encoder_active(c->comp.engine_state);
}

} // namespace

const LapmXidOps lapm_xid_compression_ops = {build, take};

void lapm_compression_attach(LapmLink* link, LapmCompression* c, const XidV44Values* v44)
{
    std::memset(static_cast<void*>(c), 0, sizeof(*c));
    c->link = link;
    c->v44_request = *v44;
    xid_default_values(&c->xid.negotiated);
    link->compression = c;
    link->xid = &lapm_xid_compression_ops;
    refresh_own(link, c);
}

void lapm_compression_stop(LapmCompression* c)
{
    v44_free_dictionaries(&c->v44);
    c->running = false;
}

bool lapm_compression_fill(LapmLink* link)
{
    if (!encoder_on(link))
        return false;
    LapmCompression* c = link->compression;
    const LapmHost& h = link->host;
    for (int frames = 0; frames < EC_RING16_SLOTS; ++frames) {
        bool waiting = c->stage_count != 0 || h.dte_pending(h.context) != 0 ||
                       c->comp.engine->queued(c->comp.engine_state) != 0;
        if (!link->building && !waiting)
            return true;
        if (!lapm_open_iframe(link))
            return true;
        comp_encode(&c->comp);
        if (!link->building)
            continue;
        link->building->length = static_cast<uint16_t>(3 + c->tx.fill);
        // Nothing more from the DTE and nothing waiting to be sent: flush and close a frame with data.
        bool dte_empty = c->stage_count == 0 && h.dte_pending(h.context) == 0;
        if (!dte_empty || link->tx_send != link->tx_ring.write)
            return true;
        comp_flush(&c->comp);
        link->building->length = static_cast<uint16_t>(3 + c->tx.fill);
        if (link->building->length > 3)
            lapm_close_iframe(link);
        return true;
    }
    return true;
}

bool lapm_compression_rx_on(const LapmLink* link)
{
    const LapmCompression* c = link->compression;
    return c && c->running && c->comp.engine->decoder_active(c->comp.engine_state);
}

bool lapm_compression_deliver_frame(LapmLink* link, FrameNode* frame)
{
    LapmCompression* c = link->compression;
    const LapmHost& h = link->host;
    c->rx = CompRxFrame{frame->data + 3, static_cast<uint16_t>(frame->length - 3), frame->offset, 0};
    c->rx_done = false;
    size_t headroom = c->comp.engine->rx_headroom(c->comp.engine_state);
    for (;;) {
        if (h.dte_room(h.context) <= headroom)
            break;
        bool moved = comp_decode(&c->comp);
        if (c->rx_done || !moved || c->comp.failed)
            break;
    }
    frame->offset = c->rx.used;
    return c->rx_done;
}
