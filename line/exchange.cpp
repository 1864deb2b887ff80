#include "line/exchange.h"

#include "line/exchange_internal.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kExchangeEventsKept = 1024;

}  // namespace

void ExchangeNote(Exchange* ex, int i, LONGLONG t, const std::string& text)
{
    // The oldest events go when nobody takes them (a host that runs for days).
    if (ex->events.size() >= kExchangeEventsKept)
        ex->events.erase(ex->events.begin(), ex->events.begin() + kExchangeEventsKept / 2);
    ex->events.push_back(ExchangeEvent{t, i, text});
    DbgPrint("exchange: line %s: %s\n", ex->lines[i]->number.c_str(), text.c_str());
}

void ExchangeSetState(Exchange* ex, int i, ExchangeLineState state, LONGLONG t)
{
    ExchangeLine& l = *ex->lines[i];
    l.state = state;
    l.since = t;
    const ExchangeSignal* signal = nullptr;
    switch (state) {
    case EXL_DIALLING:
        signal = &ex->country.signal[EXS_DIAL_TONE];
        break;
    case EXL_RINGBACK:
        signal = &ex->country.signal[EXS_RINGBACK];
        break;
    case EXL_RINGING:
        signal = &ex->country.signal[EXS_RINGING];
        break;
    case EXL_BUSY:
        signal = &ex->country.signal[EXS_BUSY];
        break;
    case EXL_CONGESTION:
        signal = &ex->country.signal[EXS_CONGESTION];
        break;
    default:
        break;
    }
    ExchangeToneStart(&l.tone, signal);
    // Whatever was being sent to show a caller ends with the state it belonged to.
    l.cid = CallerIdSender{};
    l.cidSent = false;
    ExchangeNote(ex, i, t, ExchangeLineStateName(state));
    if (state == EXL_RINGING)
        ExchangeRingingStarted(ex, i);
}

namespace {

void Note(Exchange* ex, int i, LONGLONG t, const std::string& text)
{
    ExchangeNote(ex, i, t, text);
}

void SetState(Exchange* ex, int i, ExchangeLineState state, LONGLONG t)
{
    ExchangeSetState(ex, i, state, t);
}

// The line hung up (or its loop stayed open long enough): its call ends; a partner in conversation hears
// busy tone until it hangs up too, a line being rung stops ringing.
void Release(Exchange* ex, int i, LONGLONG t)
{
    ExchangeReleaseOthers(ex, i, t);
    ExchangeLine& l = *ex->lines[i];
    const int p = l.partner;
    // A line whose partner is no longer this one (this one waited or was held) has been told already.
    if (p >= 0 && ex->lines[p]->partner == i) {
        ExchangeLine& q = *ex->lines[p];
        q.partner = -1;
        if (q.state == EXL_RINGING)
            SetState(ex, p, EXL_IDLE, t);
        else if (q.state == EXL_CONNECTED)
            SetState(ex, p, EXL_BUSY, t);
    }
    l.partner = -1;
    l.dialled.clear();
    SetState(ex, i, EXL_IDLE, t);
}

void Seize(Exchange* ex, int i, LONGLONG t)
{
    ExchangeLine& l = *ex->lines[i];
    PulseReceiverReset(&l.pulse, true);
    DtmfReceiverInit(&l.dtmf);
    l.dialStarted = false;
    l.dialled.clear();
    l.lastDigit = t;
    SetState(ex, i, EXL_DIALLING, t);
}

void Fail(Exchange* ex, int i, LONGLONG t, const std::string& why)
{
    Note(ex, i, t, why);
    SetState(ex, i, EXL_CONGESTION, t);
}

// Routes the number dialled so far: to the line whose number it is once no longer number could still follow
// (or the caller stopped dialling), to congestion when no number starts with it.
void Route(Exchange* ex, int i, LONGLONG t, bool timedOut)
{
    ExchangeLine& l = *ex->lines[i];
    int exact = -1;
    bool longer = false;
    for (size_t j = 0; j < ex->lines.size(); ++j) {
        const std::string& n = ex->lines[j]->number;
        if (n == l.dialled)
            exact = static_cast<int>(j);
        else if (n.size() > l.dialled.size() && n.compare(0, l.dialled.size(), l.dialled) == 0)
            longer = true;
    }
    if (exact < 0) {
        if (!longer || timedOut)
            Fail(ex, i, t, "no line has the number " + l.dialled);
        return;
    }
    if (longer && !timedOut)
        return;
    ExchangeLine& called = *ex->lines[exact];
    if (called.state == EXL_CONNECTED && ExchangeOfferWaiting(ex, i, exact, t))
        return;
    if (called.state != EXL_IDLE || called.closed) {
        Note(ex, i, t, "the line " + called.number + " is busy");
        SetState(ex, i, EXL_BUSY, t);
        return;
    }
    l.partner = exact;
    called.partner = i;
    Note(ex, i, t, "calling " + called.number);
    SetState(ex, exact, EXL_RINGING, t);
    SetState(ex, i, EXL_RINGBACK, t);
}

void Digit(Exchange* ex, int i, LONGLONG t, char key, const char* how)
{
    ExchangeLine& l = *ex->lines[i];
    l.dialStarted = true;
    l.dialled += key;
    l.lastDigit = t;
    Note(ex, i, t, std::string(how) + " digit " + key);
    Route(ex, i, t, false);
}

// Timers of one line up to time t.
void Advance(Exchange* ex, int i, LONGLONG t)
{
    ExchangeLine& l = *ex->lines[i];
    const LONGLONG clear = ExchangeClearTime(ex->country);
    if (!l.closed && l.state != EXL_IDLE && l.state != EXL_RINGING && t - l.openedAt >= clear) {
        Note(ex, i, l.openedAt + clear, "on hook");
        Release(ex, i, l.openedAt + clear);
        return;
    }
    if (l.state != EXL_DIALLING)
        return;
    const PulseVerdict v = PulseReceiverPoll(&l.pulse, t);
    if (v.digit) {
        if (!v.valid) {
            Fail(ex, i, t, std::string("pulse digit rejected: ") + v.reject);
            return;
        }
        Digit(ex, i, t, v.key, "pulse");
        if (l.state != EXL_DIALLING)
            return;
    }
    if (!l.dialled.empty() && !PulseReceiverActive(&l.pulse) && !DtmfReceiverActive(&l.dtmf) &&
        t - l.lastDigit >= kExchangeDiallingTimeout)
        Route(ex, i, t, true);
}

// A line in conversation hears its partner; a line held by its partner (who talks to another) hears nothing.
void ConnectedFrame(Exchange* ex, int i)
{
    ExchangeLine& l = *ex->lines[i];
    if (l.partner >= 0 && ex->lines[l.partner]->partner == i)
        std::memcpy(l.out, ex->lines[l.partner]->in, sizeof l.out);
    else
        std::memset(l.out, 0, sizeof l.out);
}

bool ValidLine(Exchange* ex, int line)
{
    return line >= 0 && static_cast<size_t>(line) < ex->lines.size();
}

}  // namespace

bool ExchangeNumberValid(const std::string& number)
{
    if (number.empty() || number.size() > 32)
        return false;
    return std::all_of(number.begin(), number.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'D') || c == '*' || c == '#';
    });
}

const char* ExchangeLineStateName(ExchangeLineState state)
{
    switch (state) {
    case EXL_IDLE:
        return "idle";
    case EXL_DIALLING:
        return "dial tone";
    case EXL_RINGBACK:
        return "ringback";
    case EXL_RINGING:
        return "ringing";
    case EXL_CONNECTED:
        return "connected";
    case EXL_BUSY:
        return "busy";
    case EXL_CONGESTION:
        return "congestion";
    }
    return "?";
}

Exchange* ExchangeCreate(const ExchangeCountry& country)
{
    auto* ex = new Exchange();
    ex->country = country;
    return ex;
}

void ExchangeDestroy(Exchange* exchange)
{
    delete exchange;
}

int ExchangeAddLine(Exchange* ex, const std::string& number, std::string* error)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    if (!ExchangeNumberValid(number)) {
        *error = "bad telephone number '" + number + "' (1 to 32 of the digits 0-9, A-D, * and #)";
        return -1;
    }
    for (const auto& l : ex->lines) {
        if (l->number == number) {
            *error = "the number " + number + " is given twice";
            return -1;
        }
    }
    auto l = std::make_unique<ExchangeLine>();
    l->number = number;
    PulseReceiverInit(&l->pulse, false);
    DtmfReceiverInit(&l->dtmf);
    ex->lines.push_back(std::move(l));
    return static_cast<int>(ex->lines.size() - 1);
}

void ExchangeHook(Exchange* ex, int i, bool closed, LONGLONG t)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    if (!ValidLine(ex, i))
        return;
    Advance(ex, i, t);
    ExchangeLine& l = *ex->lines[i];
    if (closed == l.closed)
        return;
    l.closed = closed;
    if (!closed)
        l.openedAt = t;
    switch (l.state) {
    case EXL_IDLE:
        if (closed) {
            Note(ex, i, t, "off hook");
            Seize(ex, i, t);
        }
        break;
    case EXL_RINGING:
        if (closed) {
            const int p = l.partner;
            Note(ex, i, t, "answered");
            SetState(ex, i, EXL_CONNECTED, t);
            if (p >= 0)
                SetState(ex, p, EXL_CONNECTED, t);
        }
        break;
    case EXL_DIALLING:
        PulseReceiverHook(&l.pulse, closed, t);
        if (!closed)
            l.dialStarted = true;
        break;
    case EXL_CONNECTED:
        // A break shorter than a hang-up (Advance above cleared a longer one) is a hook flash.
        if (closed)
            ExchangeFlash(ex, i, t);
        break;
    default:
        break;  // a break shorter than a hang-up changes nothing
    }
}

void ExchangeTick(Exchange* ex, LONGLONG now)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    ex->now = now;
    const int n = static_cast<int>(ex->lines.size());
    for (int i = 0; i < n; ++i)
        Advance(ex, i, now);
    // Digits keyed in the frames received.
    for (int i = 0; i < n; ++i) {
        ExchangeLine& l = *ex->lines[i];
        if (l.state != EXL_DIALLING)
            continue;
        DtmfReceiverRun(&l.dtmf, l.in, kLineFrameSamples);
        if (DtmfReceiverActive(&l.dtmf))
            l.dialStarted = true;
        const int count = l.dtmf.verdictCount;
        l.dtmf.verdictCount = 0;
        for (int k = 0; k < count && l.state == EXL_DIALLING; ++k) {
            const DtmfVerdict& v = l.dtmf.verdicts[k];
            if (v.digit != 0)
                Digit(ex, i, now, v.digit, "DTMF");
            else
                Note(ex, i, now, std::string("DTMF signal rejected: ") + v.reject);
        }
    }
    // What each line hears in this frame.
    for (int i = 0; i < n; ++i) {
        ExchangeLine& l = *ex->lines[i];
        if (l.state == EXL_CONNECTED && CallerIdSenderActive(l.cid)) {
            // The partner is not heard while a waiting caller is announced.
            std::memset(l.out, 0, sizeof l.out);
            CallerIdSenderMix(&l.cid, l.out, kLineFrameSamples);
            continue;
        }
        if (l.state == EXL_RINGING)
            ExchangeRingingTick(ex, i, now);
        if (l.state == EXL_CONNECTED)
            ConnectedFrame(ex, i);
        else if (l.state == EXL_DIALLING && l.dialStarted)
            std::memset(l.out, 0, sizeof l.out);
        else
            ExchangeToneRender(&l.tone, l.out, kLineFrameSamples);
        CallerIdSenderMix(&l.cid, l.out, kLineFrameSamples);
    }
    // A line that sends nothing in this frame is silent.
    for (int i = 0; i < n; ++i)
        std::memset(ex->lines[i]->in, 0, sizeof ex->lines[i]->in);
}

void ExchangeGet(Exchange* ex, int i, int16_t* samples)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    if (ValidLine(ex, i))
        std::memcpy(samples, ex->lines[i]->out, sizeof ex->lines[i]->out);
    else
        std::memset(samples, 0, kLineFrameSamples * sizeof(int16_t));
}

void ExchangePut(Exchange* ex, int i, const int16_t* samples)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    if (ValidLine(ex, i))
        std::memcpy(ex->lines[i]->in, samples, sizeof ex->lines[i]->in);
}

ExchangeLineState ExchangeGetState(Exchange* ex, int i)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    return ValidLine(ex, i) ? ex->lines[i]->state : EXL_IDLE;
}

int ExchangeGetPartner(Exchange* ex, int i)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    return ValidLine(ex, i) ? ex->lines[i]->partner : -1;
}

int ExchangeGetWaiting(Exchange* ex, int i)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    return ValidLine(ex, i) ? ex->lines[i]->waiting : -1;
}

int ExchangeGetHeld(Exchange* ex, int i)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    return ValidLine(ex, i) ? ex->lines[i]->held : -1;
}

void ExchangeSetSubscriber(Exchange* ex, int i, const ExchangeSubscriber& options)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    if (!ValidLine(ex, i))
        return;
    ExchangeLine& l = *ex->lines[i];
    l.name = options.name;
    l.callerId = options.callerId;
    l.callWaiting = options.callWaiting;
}

void ExchangeSetDateTime(Exchange* ex, const std::string& mmddhhmm, LONGLONG t)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    ex->dateTime = mmddhhmm;
    ex->dateTimeSetAt = t;
}

void ExchangeSetCallerIdRenderer(Exchange* ex, ExchangeCallerIdRenderer renderer, void* ctx)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    ex->cidRenderer = renderer;
    ex->cidRendererCtx = ctx;
}

void ExchangeSetCallerIdSingleFormat(Exchange* ex, bool single)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    ex->cidSingleFormat = single;
}

std::string ExchangeGetDialled(Exchange* ex, int i)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    return ValidLine(ex, i) ? ex->lines[i]->dialled : std::string();
}

std::vector<ExchangeEvent> ExchangeTakeEvents(Exchange* ex)
{
    std::lock_guard<std::mutex> hold(ex->lock);
    std::vector<ExchangeEvent> out;
    out.swap(ex->events);
    return out;
}
