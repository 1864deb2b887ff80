// V.42bis decoder: codewords of compressed mode, the escape commands of transparent mode, and the string
// matching that keeps the dictionary in step with the far encoder while data comes transparently. Output is
// resumable: a string that does not fit stays on the stack for the next call.
#include <cstring>

#include "layer2/corecode/ec/v42bis.h"

namespace {

struct Sink {
    uint8_t* out;
    size_t room;
    size_t made;
};

int fail(V42bisDecoder* d, int status)
{
    d->status = status;
    return status;
}

// Hands one character on, moving the escape character along when the data holds it.
void deliver(V42bisDecoder* d, Sink* s, uint8_t c)
{
    s->out[s->made++] = c;
    if (c == d->escape)
        d->escape = static_cast<uint8_t>(d->escape + V42B_ESCAPE_STEP);
}

// A transparent character: delivered and run through the matcher as the encoder did.
void deliver_plain(V42bisContext* ctx, Sink* s, uint8_t c)
{
    V42bisDecoder* d = &ctx->dec;
    deliver(d, s, c);
    v42b_match_char(&ctx->dict, &d->tree, &d->match, ctx->n7, c);
}

void drain_stack(V42bisDecoder* d, Sink* s)
{
    while (d->stack_count != 0 && s->made < s->room)
        deliver(d, s, d->stack[--d->stack_count]);
}

// Puts the string of `code` on the stack (last character first); returns its length, 0 when broken.
uint8_t stack_string(V42bisContext* ctx, uint16_t code)
{
    V42bisDecoder* d = &ctx->dec;
    uint8_t count = 0;
    while (code >= V42B_FIRST_STRING) {
        if (count >= ctx->n7)
            return 0;
        d->stack[count++] = v42b_character(&ctx->dict, &d->tree, code);
        code = v42b_parent(&ctx->dict, &d->tree, code);
    }
    if (code < V42B_CONTROL_CODES || count >= ctx->n7)
        return 0;
    d->stack[count++] = static_cast<uint8_t>(code - V42B_CONTROL_CODES);
    d->stack_count = count;
    return count;
}

int take_string(V42bisContext* ctx, uint16_t code)
{
    V42bisDecoder* d = &ctx->dec;
    if (code >= ctx->n2)
        return fail(d, V42B_ERR_CODE_RANGE);
    if (!v42b_code_defined(&d->tree, code))
        return fail(d, V42B_ERR_EMPTY_CODE);
    uint8_t length = stack_string(ctx, code);
    if (length == 0)
        return fail(d, V42B_ERR_STRING);
    if (d->previous != 0 && d->previous_length < ctx->n7) {
        v42b_add_string(&ctx->dict, &d->tree, d->previous, d->stack[length - 1]);
    }
    d->previous = code;
    d->previous_length = length;
    return V42B_OK;
}

int take_codeword(V42bisContext* ctx, uint16_t code)
{
    V42bisDecoder* d = &ctx->dec;
    switch (code) {
    case V42B_ETM:
        d->bit_acc = 0;
        d->bit_count = 0;
        d->transparent = true;
        d->escape_seen = false;
        // Matching goes on from the last string, as the encoder's does after it sent ETM.
        d->match.code = d->previous;
        d->match.length = d->previous_length;
        d->match.refused = 0;
        d->match.sent = d->previous != 0;
        return V42B_OK;
    case V42B_FLUSH:
        d->bit_acc = 0;
        d->bit_count = 0;
        return V42B_OK;
    case V42B_STEPUP:
        if (d->codeword_size >= ctx->max_codeword_size)
            return fail(d, V42B_ERR_STEPUP);
        ++d->codeword_size;
        return V42B_OK;
    default:
        return take_string(ctx, code);
    }
}

int take_escape_command(V42bisContext* ctx, Sink* s, uint8_t command)
{
    V42bisDecoder* d = &ctx->dec;
    switch (command) {
    case V42B_ECM:
        // The string the matcher holds went out as plain characters: the next codeword adds to it.
        d->transparent = false;
        d->bit_acc = 0;
        d->bit_count = 0;
        d->previous = d->match.code;
        d->previous_length = d->match.length;
        return V42B_OK;
    case V42B_EID:
        deliver_plain(ctx, s, d->escape);
        return V42B_OK;
    case V42B_RESET:
        v42b_decoder_reset(ctx);
        return V42B_OK;
    default:
        return fail(d, V42B_ERR_ESCAPE);
    }
}

int take_octet(V42bisContext* ctx, Sink* s, uint8_t octet)
{
    V42bisDecoder* d = &ctx->dec;
    if (d->transparent) {
        if (d->escape_seen) {
            d->escape_seen = false;
            return take_escape_command(ctx, s, octet);
        }
        if (octet == d->escape)
            d->escape_seen = true;
        else
            deliver_plain(ctx, s, octet);
        return V42B_OK;
    }
    d->bit_acc |= static_cast<uint32_t>(octet) << d->bit_count;
    d->bit_count = static_cast<uint8_t>(d->bit_count + 8);
    while (!d->transparent && d->stack_count == 0 && d->bit_count >= d->codeword_size) {
        uint16_t code = static_cast<uint16_t>(d->bit_acc & ((1u << d->codeword_size) - 1));
        d->bit_acc >>= d->codeword_size;
        d->bit_count = static_cast<uint8_t>(d->bit_count - d->codeword_size);
        int status = take_codeword(ctx, code);
        if (status != V42B_OK)
            return status;
        drain_stack(d, s);
    }
    return V42B_OK;
}

} // namespace

void v42b_decoder_reset(V42bisContext* ctx)
{
    V42bisDecoder* d = &ctx->dec;
    std::memset(d, 0, sizeof(*d));
    uint16_t base = ctx->p0 == (V42B_ENCODER | V42B_DECODER) ? ctx->n2 : 0;
    v42b_tree_reset(&ctx->dict, &d->tree, base, ctx->n2);
    v42b_match_reset(&d->match);
    d->codeword_size = 9;
    d->transparent = true;
}

int v42b_decompress(V42bisContext* ctx, const uint8_t* in, size_t n, size_t* used, uint8_t* out, size_t room,
                    size_t* made)
{
    V42bisDecoder* d = &ctx->dec;
    Sink sink{out, room, 0};
    size_t taken = 0;
    int status = d->status;
    if (!(ctx->p0 & V42B_DECODER))
        status = V42B_ERR_INACTIVE;
    if (status == V42B_OK)
        drain_stack(d, &sink);
    // One octet makes at most one plain character, or codewords whose strings may wait on the stack.
    while (status == V42B_OK && taken < n && d->stack_count == 0 && sink.made < room) {
        status = take_octet(ctx, &sink, in[taken++]);
    }
    *used = taken;
    *made = sink.made;
    return status;
}
