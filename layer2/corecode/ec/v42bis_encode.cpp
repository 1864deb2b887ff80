// V.42bis set-up and encoder: string matching in both modes, codeword packing with STEPUP, the escape
// character of transparent mode, the compressibility test that moves between the modes, and flush.
#include <cstring>

#include "layer2/corecode/ec/v42bis.h"

namespace {

// Octets the encoder may make for one character in the worst case (three STEPUPs and a 12-bit code, ETM and
// the fill, with seven bits already waiting): the queue takes a character only with this much room.
constexpr uint8_t kWorstOctetsPerChar = 10;

uint8_t codeword_bits_for(uint16_t n2)
{
    uint8_t bits = 9;
    while (bits < 12 && (1u << bits) < n2)
        ++bits;
    return bits;
}

void queue_octet(V42bisEncoder* e, uint8_t octet)
{
    uint8_t at = static_cast<uint8_t>((e->queue_read + e->queue_count) % V42B_OUT_QUEUE);
    e->queue[at] = octet;
    ++e->queue_count;
}

void put_bits(V42bisEncoder* e, uint32_t value, uint8_t bits)
{
    e->bit_acc |= value << e->bit_count;
    e->bit_count = static_cast<uint8_t>(e->bit_count + bits);
    e->bits_since_test += bits;
    while (e->bit_count >= 8) {
        queue_octet(e, static_cast<uint8_t>(e->bit_acc));
        e->bit_acc >>= 8;
        e->bit_count = static_cast<uint8_t>(e->bit_count - 8);
    }
}

void fill_to_octet(V42bisEncoder* e)
{
    if (e->bit_count != 0)
        put_bits(e, 0, static_cast<uint8_t>(8 - e->bit_count));
}

// A string code in compressed mode, preceded by the STEPUPs that make it fit.
void send_code(V42bisContext* ctx, uint16_t code)
{
    V42bisEncoder* e = &ctx->enc;
    while (code >= e->threshold && e->codeword_size < ctx->max_codeword_size) {
        put_bits(e, V42B_STEPUP, e->codeword_size);
        ++e->codeword_size;
        e->threshold = static_cast<uint16_t>(e->threshold << 1);
    }
    put_bits(e, code, e->codeword_size);
    e->flushed = false;
}

// What compressed mode would have spent on a code, counted while the data goes out transparently.
void count_code(V42bisContext* ctx, uint16_t code)
{
    V42bisEncoder* e = &ctx->enc;
    uint8_t bits = e->codeword_size;
    while (bits < ctx->max_codeword_size && code >= (1u << bits))
        ++bits;
    e->bits_since_test += bits;
}

void to_transparent(V42bisContext* ctx)
{
    V42bisEncoder* e = &ctx->enc;
    if (e->match.code != 0 && !e->match.sent)
        send_code(ctx, e->match.code);
    v42b_match_mark_sent(&e->match);
    put_bits(e, V42B_ETM, e->codeword_size);
    fill_to_octet(e);
    e->transparent = true;
    e->test_interval = V42B_FIRST_INTERVAL;
}

void to_compressed(V42bisContext* ctx)
{
    V42bisEncoder* e = &ctx->enc;
    queue_octet(e, e->escape);
    queue_octet(e, V42B_ECM);
    // The characters of the current string went out as they were: it counts as sent.
    v42b_match_mark_sent(&e->match);
    e->transparent = false;
    e->flushed = true;
    e->test_interval = V42B_BACK_INTERVAL;
}

void compressibility_test(V42bisContext* ctx)
{
    V42bisEncoder* e = &ctx->enc;
    if (e->chars_since_test <= e->test_interval)
        return;
    int32_t plain = 8 * static_cast<int32_t>(e->chars_since_test);
    int32_t packed = e->bits_since_test;
    if (!e->transparent && plain < packed - V42B_HYSTERESIS_BITS)
        to_transparent(ctx);
    else if (e->transparent && plain > packed + V42B_HYSTERESIS_BITS)
        to_compressed(ctx);
    e->chars_since_test = 0;
    e->bits_since_test = 0;
}

void encode_char(V42bisContext* ctx, uint8_t c)
{
    V42bisEncoder* e = &ctx->enc;
    ++e->chars_since_test;
    if (e->transparent) {
        queue_octet(e, c);
        if (c == e->escape)
            queue_octet(e, V42B_EID);
    }
    if (c == e->escape)
        e->escape = static_cast<uint8_t>(e->escape + V42B_ESCAPE_STEP);
    uint16_t ended = v42b_match_char(&ctx->dict, &e->tree, &e->match, ctx->n7, c);
    if (ended != 0) {
        if (e->transparent)
            count_code(ctx, ended);
        else
            send_code(ctx, ended);
    }
    compressibility_test(ctx);
}

} // namespace

void v42b_encoder_reset(V42bisContext* ctx)
{
    V42bisEncoder* e = &ctx->enc;
    std::memset(e, 0, sizeof(*e));
    v42b_tree_reset(&ctx->dict, &e->tree, 0, ctx->n2);
    v42b_match_reset(&e->match);
    e->codeword_size = 9;
    e->threshold = 512;
    e->transparent = true;
    e->test_interval = V42B_FIRST_INTERVAL;
    e->flushed = true;
}

int v42b_init(V42bisContext* ctx, uint8_t p0, uint16_t n2, uint8_t n7)
{
    p0 &= V42B_ENCODER | V42B_DECODER;
    uint16_t limit = p0 == (V42B_ENCODER | V42B_DECODER) ? V42B_MAX_N2_BOTH : V42B_ENTRIES;
    if (n2 > limit || n2 < V42B_MIN_N2 || n7 < V42B_MIN_N7 || n7 > V42B_MAX_N7)
        return 0;
    ctx->p0 = p0;
    ctx->n2 = n2;
    ctx->n7 = n7;
    if (p0 == 0)
        return 1;
    ctx->max_codeword_size = codeword_bits_for(n2);
    v42b_encoder_reset(ctx);
    v42b_decoder_reset(ctx);
    return 1;
}

size_t v42b_drain(V42bisContext* ctx, uint8_t* out, size_t room)
{
    V42bisEncoder* e = &ctx->enc;
    size_t moved = 0;
    while (moved < room && e->queue_count != 0) {
        out[moved++] = e->queue[e->queue_read];
        e->queue_read = static_cast<uint8_t>((e->queue_read + 1) % V42B_OUT_QUEUE);
        --e->queue_count;
    }
    return moved;
}

size_t v42b_compress(V42bisContext* ctx, const uint8_t* in, size_t n, uint8_t* out, size_t room, size_t* made)
{
    V42bisEncoder* e = &ctx->enc;
    size_t written = v42b_drain(ctx, out, room);
    size_t taken = 0;
    if (!(ctx->p0 & V42B_ENCODER)) {
        *made = written;
        return 0;
    }
    while (taken < n && written + V42B_FRAME_SLACK < room &&
           static_cast<size_t>(e->queue_count) + kWorstOctetsPerChar <= V42B_OUT_QUEUE) {
        encode_char(ctx, in[taken++]);
        written += v42b_drain(ctx, out + written, room - written);
    }
    *made = written;
    return taken;
}

void v42b_flush(V42bisContext* ctx)
{
    V42bisEncoder* e = &ctx->enc;
    if (!(ctx->p0 & V42B_ENCODER) || e->transparent)
        return;
    bool unsent = e->match.code != 0 && !e->match.sent;
    if (!unsent && e->flushed)
        return;
    if (unsent)
        send_code(ctx, e->match.code);
    v42b_match_mark_sent(&e->match);
    put_bits(e, V42B_FLUSH, e->codeword_size);
    fill_to_octet(e);
    e->flushed = true;
}
