// Showing the caller and the second call: caller ID between the first and second ring, the call-waiting
// tone with caller ID to a line in conversation, and the hook flash that takes the waiting call (and the
// next one that goes back to the held party).
#include <algorithm>
#include <cstdio>

#include "line/exchange_internal.h"

namespace {

constexpr LONGLONG kTicksPerMs = 10000;
constexpr LONGLONG kTicksPerMinute = 60000LL * kTicksPerMs;
// During a call the message follows the tone after a pause and a mark signal alone.
constexpr uint16_t kWaitingPauseMs = 200;
constexpr int kWaitingMarkBits = 120;

// "MMDDhhmm" of the exchange's calendar at time t (a year without 29 February).
std::string DateTimeAt(const Exchange* ex, LONGLONG t)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const std::string& s = ex->dateTime;
    auto field = [&](size_t at) {
        return s.size() >= at + 2 ? (s[at] - '0') * 10 + (s[at + 1] - '0') : 0;
    };
    int month = std::clamp(field(0), 1, 12);
    int day = std::clamp(field(2), 1, kDays[month - 1]);
    long long minutes = std::clamp(field(4), 0, 23) * 60LL + std::clamp(field(6), 0, 59);
    if (t > ex->dateTimeSetAt)
        minutes += (t - ex->dateTimeSetAt) / kTicksPerMinute;
    for (; minutes >= 24 * 60; minutes -= 24 * 60) {
        if (++day > kDays[month - 1]) {
            day = 1;
            month = month % 12 + 1;
        }
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02d%02d%02d%02d", month, day, static_cast<int>(minutes / 60),
                  static_cast<int>(minutes % 60));
    return text;
}

std::vector<uint8_t> MessageOf(const Exchange* ex, int caller, LONGLONG t)
{
    const ExchangeLine& c = *ex->lines[caller];
    const CallerIdFields f{DateTimeAt(ex, t), c.number, c.name};
    return ex->cidSingleFormat ? CallerIdSingleMessage(f) : CallerIdMultipleMessage(f);
}

void Render(Exchange* ex, const std::vector<uint8_t>& message, bool duringCall, std::vector<int16_t>* out)
{
    if (ex->cidRenderer != nullptr) {
        ex->cidRenderer(ex->cidRendererCtx, message, duringCall, out);
        return;
    }
    CallerIdFskOptions o;
    if (duringCall) {
        o.seizureBits = 0;
        o.markBits = kWaitingMarkBits;
    }
    CallerIdFskRender(message, o, out);
}

// Where caller ID starts after the ringing started: the delay after the end of the first ring (the last on
// period of the first cadence cycle); -1 for a continuous ringing signal, which leaves no gap.
LONGLONG CallerIdStart(const ExchangeSignal& ringing)
{
    const unsigned pairs = std::min<unsigned>(ringing.pairs, 4);
    if (pairs == 0)
        return -1;
    LONGLONG ms = 0;
    for (unsigned k = 0; k < pairs; ++k)
        ms += ringing.onMs[k] + (k + 1 < pairs ? ringing.offMs[k] : 0);
    return ms * kTicksPerMs + kExchangeCallerIdDelay;
}

void LetGo(Exchange* ex, int line, LONGLONG t)
{
    ex->lines[line]->partner = -1;
    ExchangeSetState(ex, line, EXL_BUSY, t);
}

}  // namespace

LONGLONG ExchangeClearTime(const ExchangeCountry& country)
{
    const LONGLONG flash = static_cast<LONGLONG>(country.flashMaxMs) * kTicksPerMs;
    return std::max(kExchangeClearTime, flash + flash / 2);
}

void ExchangeRingingStarted(Exchange* ex, int line)
{
    ExchangeLine& l = *ex->lines[line];
    l.cidSent = !l.callerId || l.partner < 0 || CallerIdStart(ex->country.signal[EXS_RINGING]) < 0;
}

void ExchangeRingingTick(Exchange* ex, int line, LONGLONG now)
{
    ExchangeLine& l = *ex->lines[line];
    if (l.cidSent || now - l.since < CallerIdStart(ex->country.signal[EXS_RINGING]))
        return;
    l.cidSent = true;
    l.cid = CallerIdSender{};
    Render(ex, MessageOf(ex, l.partner, now), false, &l.cid.samples);
    ExchangeNote(ex, line, now, "caller ID of " + ex->lines[l.partner]->number);
}

bool ExchangeOfferWaiting(Exchange* ex, int caller, int called, LONGLONG t)
{
    ExchangeLine& c = *ex->lines[called];
    if (!c.callWaiting || c.waiting >= 0 || c.held >= 0 || c.partner < 0)
        return false;
    c.waiting = caller;
    ex->lines[caller]->partner = called;
    ExchangeNote(ex, caller, t, "calling " + c.number + ", which is in a call: waiting");
    ExchangeSetState(ex, caller, EXL_RINGBACK, t);
    ExchangeNote(ex, called, t, "call waiting from " + ex->lines[caller]->number);
    // The call-waiting tone, then (with caller ID) the caller's message.
    c.cid = CallerIdSender{};
    const ExchangeSignal& tone = ex->country.callWaiting;
    uint16_t onOff[8] = {};
    const size_t pairs = std::min<size_t>(tone.pairs, 4);
    for (size_t k = 0; k < pairs; ++k) {
        onOff[2 * k] = tone.onMs[k];
        onOff[2 * k + 1] = tone.offMs[k];
    }
    // The bursts with the gaps between them (the pause below follows the last).
    if (tone.f1 != 0 && pairs != 0)
        CallerIdToneRender(tone.f1, -static_cast<double>(tone.level), onOff, 2 * pairs - 1, &c.cid.samples);
    if (c.callerId) {
        const uint16_t pause[2] = {0, kWaitingPauseMs};
        CallerIdToneRender(0, 0.0, pause, 2, &c.cid.samples);
        Render(ex, MessageOf(ex, caller, t), true, &c.cid.samples);
    }
    return true;
}

void ExchangeFlash(Exchange* ex, int line, LONGLONG t)
{
    ExchangeLine& l = *ex->lines[line];
    ExchangeNote(ex, line, t, "hook flash");
    int other = l.waiting >= 0 ? l.waiting : l.held;
    if (other < 0)
        return;
    // The partner is held and the other party (the waiting caller, or the one held before) is taken.
    const bool waiting = l.waiting >= 0;
    l.cid = CallerIdSender{};
    l.waiting = -1;
    l.held = l.partner;
    l.partner = other;
    ExchangeNote(ex, line, t, "talks to " + ex->lines[other]->number + ", holds " +
                                   (l.held >= 0 ? ex->lines[l.held]->number : std::string("nobody")));
    if (waiting)
        ExchangeSetState(ex, other, EXL_CONNECTED, t);
}

void ExchangeReleaseOthers(Exchange* ex, int line, LONGLONG t)
{
    ExchangeLine& l = *ex->lines[line];
    const int waiting = l.waiting;
    const int held = l.held;
    l.waiting = -1;
    l.held = -1;
    if (waiting >= 0)
        LetGo(ex, waiting, t);
    if (held >= 0)
        LetGo(ex, held, t);
    for (size_t j = 0; j < ex->lines.size(); ++j) {
        ExchangeLine& o = *ex->lines[j];
        if (o.waiting == line) {
            o.waiting = -1;
            o.cid = CallerIdSender{};
            ExchangeNote(ex, static_cast<int>(j), t, "the waiting caller " + l.number + " hung up");
        }
        if (o.held == line) {
            o.held = -1;
            ExchangeNote(ex, static_cast<int>(j), t, "the held party " + l.number + " hung up");
        }
    }
}
