#include "line/exchange_pulse.h"

namespace {

void Fault(PulseReceiver* r, const char* why)
{
    if (r->fault == nullptr)
        r->fault = why;
}

}  // namespace

void PulseReceiverInit(PulseReceiver* r, bool closed, const PulseLimits& limits)
{
    *r = PulseReceiver();
    r->limits = limits;
    r->closed = closed;
}

void PulseReceiverReset(PulseReceiver* r, bool closed)
{
    PulseReceiverInit(r, closed, r->limits);
}

bool PulseReceiverActive(const PulseReceiver* r)
{
    return r->pulses > 0 || !r->closed;
}

void PulseReceiverHook(PulseReceiver* r, bool closed, LONGLONG t)
{
    if (closed == r->closed)
        return;
    r->closed = closed;
    const PulseLimits& l = r->limits;
    if (!closed) {
        // A break begins.
        if (r->pulses > 0) {
            // A further pulse of the digit: the period just ended is the last break and this make.
            const LONGLONG period = t - r->breakStart;
            if (period < l.periodMin || period > l.periodMax)
                Fault(r, "pulse period");
            else if (r->lastBreakLength * 100 < period * l.ratioMinPercent ||
                     r->lastBreakLength * 100 > period * l.ratioMaxPercent)
                Fault(r, "break ratio");
        } else if (r->hadDigit && t - r->digitEndTime < l.interdigitMin) {
            Fault(r, "inter-digit pause");
        }
        r->breakStart = t;
        return;
    }
    // The loop closes again: a pulse when the break was one.
    r->lastBreakLength = t - r->breakStart;
    r->lastBreakEnd = t;
    if (r->lastBreakLength < l.lastBreakMin || r->lastBreakLength > l.lastBreakMax)
        Fault(r, "break length");
    ++r->pulses;
}

PulseVerdict PulseReceiverPoll(PulseReceiver* r, LONGLONG t)
{
    PulseVerdict v;
    if (!r->closed || r->pulses == 0 || t - r->lastBreakEnd < r->limits.digitEnd)
        return v;
    v.digit = true;
    v.pulses = r->pulses;
    if (r->pulses > 10)
        Fault(r, "more than ten pulses");
    v.reject = r->fault;
    v.valid = r->fault == nullptr;
    if (v.valid)
        v.key = static_cast<char>('0' + r->pulses % 10);
    r->hadDigit = true;
    r->digitEndTime = r->lastBreakEnd;
    r->pulses = 0;
    r->fault = nullptr;
    return v;
}
