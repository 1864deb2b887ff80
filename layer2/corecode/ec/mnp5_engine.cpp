// MNP class 5 as an engine of the compression dispatch: the dispatch's frame filling, flush and decode
// calls mapped onto the per-frame coder. A frame that can take no more characters is ended in the same
// call, so every frame carries its own end of data whatever closes it.
#include "layer2/corecode/ec/comp_dispatch.h"
#include "layer2/corecode/ec/mnp5.h"
#include "layer2/corecode/ec/v42bis.h"

namespace {

Mnp5Engine* eng(void* e) { return static_cast<Mnp5Engine*>(e); }
const Mnp5Engine* eng(const void* e) { return static_cast<const Mnp5Engine*>(e); }

bool encoder_on(const void* e) { return eng(e)->encode_on; }
bool decoder_on(const void* e) { return eng(e)->decode_on; }
size_t headroom(const void*) { return MNP5_RX_HEADROOM; }

size_t encode_op(void* e, const uint8_t* in, size_t n, uint8_t* out, size_t room, size_t* made)
{
    Mnp5Engine* m = eng(e);
    size_t taken = mnp5_encode(&m->ctx.enc, in, n, out, room, made);
    // The dispatch closes a frame this close to its end without a flush: end the coded data now.
    if (room <= *made + V42B_FRAME_SLACK)
        *made += mnp5_end_frame(&m->ctx.enc, out + *made, room - *made);
    return taken;
}

void flush_op(void* e)
{
    Mnp5Engine* m = eng(e);
    m->tail_length = static_cast<uint8_t>(mnp5_end_frame(&m->ctx.enc, m->tail, sizeof m->tail));
}

size_t drain_op(void* e, uint8_t* out, size_t room)
{
    Mnp5Engine* m = eng(e);
    size_t n = m->tail_length < room ? m->tail_length : room;
    for (size_t i = 0; i < n; ++i)
        out[i] = m->tail[i];
    for (size_t i = n; i < m->tail_length; ++i)
        m->tail[i - n] = m->tail[i];
    m->tail_length = static_cast<uint8_t>(m->tail_length - n);
    return n;
}

size_t queued_op(const void* e) { return eng(e)->tail_length; }

int decode_op(void* e, const uint8_t* in, size_t n, size_t* used, uint8_t* out, size_t room, size_t* made)
{
    Mnp5Engine* m = eng(e);
    int status = mnp5_decode(&m->ctx.dec, in, n, used, out, room, made);
    m->rx_open = status == MNP5_MORE;
    return status == MNP5_MORE ? MNP5_OK : status;
}

bool pending_op(const void* e) { return eng(e)->rx_open; }

}  // namespace

void mnp5_engine_start(Mnp5Engine* m, bool encode, bool decode)
{
    mnp5_reset(&m->ctx);
    m->encode_on = encode;
    m->decode_on = decode;
    m->tail_length = 0;
    m->rx_open = false;
}

const CompEngine kMnp5Engine = {encoder_on, decoder_on, headroom, encode_op, flush_op,
                                drain_op,   queued_op,  decode_op, pending_op};
