// The compression dispatch and the rows of the V.42bis and V.44 engines.
#include "layer2/corecode/ec/comp_dispatch.h"

#include <algorithm>

#include "layer2/corecode/ec/v42bis.h"
#include "layer2/corecode/ec/v44.h"

namespace {

constexpr size_t kChunk = 64;        // DTE bytes looked at per encoder call
constexpr size_t kDeliver = 256;     // decoded bytes handed to the to-DTE ring per decoder call
constexpr int kPassesPerStep = 64;   // bound of one dispatch pass

V42bisContext* v42b(void* e) { return static_cast<V42bisContext*>(e); }
const V42bisContext* v42b(const void* e) { return static_cast<const V42bisContext*>(e); }

bool v42b_encoder_on(const void* e) { return v42b(e)->p0 & V42B_ENCODER; }
bool v42b_decoder_on(const void* e) { return v42b(e)->p0 & V42B_DECODER; }
size_t v42b_headroom(const void* e) { return static_cast<size_t>(v42b(e)->n7) + 2; }
size_t v42b_encode_op(void* e, const uint8_t* in, size_t n, uint8_t* out, size_t room, size_t* made)
{
    return v42b_compress(v42b(e), in, n, out, room, made);
}
void v42b_flush_op(void* e) { v42b_flush(v42b(e)); }
size_t v42b_drain_op(void* e, uint8_t* out, size_t room) { return v42b_drain(v42b(e), out, room); }
size_t v42b_queued_op(const void* e) { return v42b_queued(v42b(e)); }
int v42b_decode_op(void* e, const uint8_t* in, size_t n, size_t* used, uint8_t* out, size_t room, size_t* made)
{
    return v42b_decompress(v42b(e), in, n, used, out, room, made);
}
bool v42b_pending_op(const void* e) { return v42b_output_pending(v42b(e)); }

V44Engine* v44(void* e) { return static_cast<V44Engine*>(e); }
const V44Engine* v44(const void* e) { return static_cast<const V44Engine*>(e); }

bool v44_encoder_on(const void* e) { return v44(e)->tx.flags & V44_ENCODE; }
bool v44_decoder_on(const void* e) { return v44(e)->rx.flags & V44_DECODE; }
size_t v44_headroom(const void* e) { return v44(e)->rx.n7; }
size_t v44_encode_op(void* e, const uint8_t* in, size_t n, uint8_t* out, size_t room, size_t* made)
{
    return v44_compress(v44(e), in, n, out, room, made);
}
void v44_flush_op(void* e) { v44_flush(v44(e)); }
size_t v44_drain_op(void* e, uint8_t* out, size_t room) { return v44_drain(v44(e), out, room); }
size_t v44_queued_op(const void* e) { return v44_queued(v44(e)); }
int v44_decode_op(void* e, const uint8_t* in, size_t n, size_t* used, uint8_t* out, size_t room, size_t* made)
{
    return v44_decompress(v44(e), in, n, used, out, room, made);
}
bool v44_pending_op(const void* e) { return v44_output_pending(v44(e)); }

bool frame_full(const CompDispatch* c, const CompTxFrame* f)
{
    return static_cast<size_t>(f->fill) + V42B_FRAME_SLACK >= c->tx_n401;
}

void drain_into(CompDispatch* c, CompTxFrame* f)
{
    size_t room = c->tx_n401 > f->fill ? c->tx_n401 - f->fill : 0;
    f->fill = static_cast<uint16_t>(f->fill + c->engine->drain(c->engine_state, f->info + f->fill, room));
}

} // namespace

const CompEngine kV42bisEngine = {v42b_encoder_on, v42b_decoder_on, v42b_headroom, v42b_encode_op, v42b_flush_op,
                                  v42b_drain_op,   v42b_queued_op,  v42b_decode_op, v42b_pending_op};

const CompEngine kV44Engine = {v44_encoder_on, v44_decoder_on, v44_headroom, v44_encode_op, v44_flush_op,
                               v44_drain_op,   v44_queued_op,  v44_decode_op, v44_pending_op};

void comp_start(CompDispatch* c, const CompLinkOps* ops, void* link, const CompEngine* engine, void* state,
                uint16_t tx_n401)
{
    c->ops = ops;
    c->link = link;
    c->engine = engine;
    c->engine_state = state;
    c->tx_n401 = tx_n401;
    c->failed = false;
}

bool comp_encode(CompDispatch* c)
{
    const CompLinkOps* ops = c->ops;
    CompTxFrame* f = ops->tx_frame(c->link);
    if (f == nullptr || f->ui)
        return false;
    int32_t before_break = ops->break_after(c->link);
    bool moved = false;
    uint8_t chunk[kChunk];
    while (!frame_full(c, f)) {
        size_t waiting = ops->dte_waiting(c->link);
        if (before_break >= 0)
            waiting = std::min(waiting, static_cast<size_t>(before_break));
        size_t n = ops->dte_peek(c->link, chunk, std::min(waiting, kChunk));
        size_t made = 0;
        size_t taken = c->engine->encode(c->engine_state, chunk, n, f->info + f->fill, c->tx_n401 - f->fill, &made);
        f->fill = static_cast<uint16_t>(f->fill + made);
        ops->dte_consume(c->link, taken);
        if (before_break >= 0)
            before_break -= static_cast<int32_t>(taken);
        if (taken == 0 && made == 0)
            break;
        moved = true;
    }
    if (before_break == 0) {
        // Everything before the break is taken: flush it out with this frame.
        c->engine->flush(c->engine_state);
        drain_into(c, f);
        if (f->fill != 0)
            ops->close_tx_frame(c->link);
        ops->break_reached(c->link);
        return true;
    }
    if (frame_full(c, f)) {
        ops->close_tx_frame(c->link);
        moved = true;
    }
    return moved;
}

void comp_flush(CompDispatch* c)
{
    if (c->engine == nullptr || !c->engine->encoder_active(c->engine_state))
        return;
    CompTxFrame* f = c->ops->tx_frame(c->link);
    if (f == nullptr || f->ui)
        return;
    c->engine->flush(c->engine_state);
    drain_into(c, f);
}

bool comp_decode(CompDispatch* c)
{
    const CompLinkOps* ops = c->ops;
    CompRxFrame* f = ops->rx_frame(c->link);
    if (f == nullptr || c->failed)
        return false;
    uint8_t out[kDeliver];
    size_t room = std::min(ops->to_dte_free(c->link), kDeliver);
    size_t used = 0;
    size_t made = 0;
    int status = c->engine->decode(c->engine_state, f->info + f->used, f->length - f->used, &used, out, room, &made);
    ops->to_dte_put(c->link, out, made);
    f->used = static_cast<uint16_t>(f->used + used);
    if (status != 0) {
        c->failed = true;
        ops->request_disconnect(c->link);
        return true;
    }
    if (f->used == f->length && !c->engine->output_pending(c->engine_state)) {
        ops->rx_frame_done(c->link, static_cast<uint8_t>((f->ns + 1) & 0x7F));
        return true;
    }
    return used != 0 || made != 0;
}

bool comp_dispatch(CompDispatch* c)
{
    if (c->engine == nullptr)
        return false;
    const CompLinkOps* ops = c->ops;
    const CompEngine* e = c->engine;
    bool may_start = ops->may_start_frame(c->link);
    bool any = false;
    for (int pass = 0; pass < kPassesPerStep; ++pass) {
        bool ran = false;
        if (e->decoder_active(c->engine_state) && ops->rx_frame(c->link) != nullptr &&
            ops->to_dte_free(c->link) > e->rx_headroom(c->engine_state))
            ran |= comp_decode(c);
        if (e->encoder_active(c->engine_state) &&
            (ops->dte_waiting(c->link) != 0 || e->queued(c->engine_state) != 0))
            ran |= comp_encode(c);
        any |= ran;
        if (!ran || (!may_start && ops->dte_waiting(c->link) != 0))
            break;
    }
    return any;
}
