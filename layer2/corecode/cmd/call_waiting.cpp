// The call-waiting sequence during a data connection.
#include "layer2/corecode/cmd/call_waiting.h"

#include <cstring>

#include "layer2/corecode/cmd/at_output.h"

namespace {

constexpr uint8_t kMatchCallerIdFollows = 1;  // the pattern's flag: a caller-ID message follows the tone

void ring(const CwOps& ops)
{
    ops.print(ops.ctx, "RING", PRINT_END_TEXT_END);
}

// The caller (if any) reported between two "RING"s, then the hold or clear-down.
void finish(CwSequence* s, uint8_t cid_mode, const CwOps& ops)
{
    if (s->step == CW_CALLER_ID)
        ops.receiver(ops.ctx, false);
    if (s->message.count != 0 && cid_parse_call_waiting(s->message, cid_mode, &s->fields) == 0)
        cid_report(&s->fields, cid_mode, CidPrinter{ops.ctx, ops.print});
    ring(ops);
    ops.answer(ops.ctx);
    ++s->announced;
    cid_message_clear(&s->message);
    std::memset(&s->fields, 0, sizeof s->fields);
    s->step = CW_PAUSE;
    s->countdown = kCwPauseTicks;
}

// The bursts measured: a call-waiting tone of the country gives the first "RING" and, when a message follows
// and formatted caller ID is on, the wait for it.
void evaluate(CwSequence* s, const CountryBlock& block, uint8_t cid_mode, const CwOps& ops)
{
    const uint8_t match = cw_tone_match(block, kCwKindTone, s->bursts, s->count);
    s->count = 0;
    s->ticks = 0;
    if (match == 0) {
        s->step = CW_WATCH;
        return;
    }
    ring(ops);
    if (match == kMatchCallerIdFollows && cid_mode == CID_FORMATTED) {
        cid_message_clear(&s->message);
        ops.receiver(ops.ctx, true);
        s->step = CW_CALLER_ID;
        s->countdown = kCwCallerIdTicks;
        return;
    }
    finish(s, cid_mode, ops);
}

}  // namespace

void cw_reset(CwSequence* s, uint8_t step)
{
    const uint32_t announced = s->announced;
    std::memset(s, 0, sizeof *s);
    s->announced = announced;
    s->step = step;
}

void cw_step(CwSequence* s, const CountryBlock& block, uint8_t cid_mode, bool tone, const uint8_t* bytes,
             int count, const CwOps& ops)
{
    switch (s->step) {
    case CW_WATCH:
        if (tone) {
            s->step = CW_BURST;
            s->ticks = 1;
        }
        return;
    case CW_BURST:
        if (tone) {
            if (s->ticks < 255)
                ++s->ticks;
            return;
        }
        s->bursts[s->count++] = static_cast<uint8_t>(s->ticks);
        s->ticks = 0;
        s->step = CW_GAP;
        if (s->count == kCwMaxBursts)
            evaluate(s, block, cid_mode, ops);
        return;
    case CW_GAP:
        if (tone) {
            s->step = CW_BURST;
            s->ticks = 1;
        } else if (++s->ticks >= kCwGapEndTicks) {
            evaluate(s, block, cid_mode, ops);
        }
        return;
    case CW_CALLER_ID: {
        bool complete = false;
        for (int i = 0; i < count && !complete; ++i)
            complete = cid_message_put(&s->message, bytes[i]);
        if (complete || --s->countdown == 0)
            finish(s, cid_mode, ops);
        return;
    }
    case CW_PAUSE:
        if (--s->countdown == 0)
            s->step = CW_WATCH;
        return;
    default:
        return;
    }
}
