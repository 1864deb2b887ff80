// The transmitter's handshake: one symbol per call, chosen by the state; counts are in symbols. The
// receiver moves the waiting states on through the modem's flags (aaEnded, delayMeasured, detectFlag,
// progress).
//
// Caller:   1 AA, 2 CC, 3 silence, 4 S, 5 S-bar, 6 TRN (2 points), 7 TRN (4 points), 12 R2, 13 E, 9 data;
//           10 and 11 its renegotiation signal; 14 silence after giving up.
// Answerer: 32 silence, 33 AC, 34 CA, 35 AC, 36 silence, 37-40 S, S-bar, TRN, 41 R1, 42 silence,
//           43-46 S, S-bar, TRN, 12 R3, 13 E, 9 data; 48 AC at a retrain; 49 and 50 its renegotiation signal.
#include "layer1/modem/v32/v32.h"

namespace {

constexpr int32_t kGroupSymbols = 8;
constexpr int32_t kWordGroups = 8;
constexpr int32_t kOnesSymbols = 128;
constexpr int32_t kAcBeforeReversal = 128;
// Groups a renegotiating transmitter repeats its word for while the far word does not come (2 s), before it
// retrains.
constexpr int32_t kRenegotiateGroups = 600;

enum Points : int32_t { A = 0, B = 1, C = 2, D = 3 };

void Enter(V32Tx& t, int32_t state, int32_t count)
{

    t.state = state;
    t.count = count;
    t.symbols = 0;
}

V32Point Pt(int32_t index) { return V32TrainingPoint(index); }

// S (C, D) and S-bar (A, B) alternate by the parity of the count: C or A on odd.
V32Point Alternation(const V32Tx& t, int32_t odd, int32_t even) { return Pt((t.count & 1) ? odd : even); }

V32Point Trn2(V32Modem* m)
{
    const uint32_t bit = V32Scramble(&m->tx.scrambler, 1, 1, !m->answering);
    return Pt(bit ? C : A);
}

V32Point Trn4(V32Modem* m)
{
    return Pt(static_cast<int32_t>(V32Scramble(&m->tx.scrambler, 3, 2, !m->answering)));
}

// The echo canceller learns while its own side trains and the far end is silent: fast at first (a step of
// 16 is a fifth of the normalised step, settling in about 250 symbols), halving three times towards the end
// of the segment so that the taps come to rest 40 dB and more below the echo, held afterwards.
void EchoSchedule(V32Modem* m, int32_t state, int32_t left)
{
    V32Echo& e = m->echo;
    if (state == 6 || state == 39 || left > 6000)
        e.mu = 16;
    else if (left > 3000)
        e.mu = 8;
    else if (left > 1000)
        e.mu = 4;
    else if (left > 1)
        e.mu = 2;
    else
        e.mu = 0;
}

V32Point WordSymbol(V32Modem* m)
{
    V32Tx& t = m->tx;
    const int32_t at = t.symbols % kGroupSymbols;
    const uint32_t dibit = (t.word >> (2 * at)) & 3u;
    return Pt(static_cast<int32_t>(V32Scramble(&t.scrambler, dibit, 2, !m->answering)));
}

// Called at the end of a group of the rate word: whether the exchange moves on to E.
void WordGroupEnd(V32Modem* m)
{
    V32Tx& t = m->tx;
    t.wordGroups += 1;
    if (t.wordGroups < kWordGroups)
        return;
    bool go = false;
    switch (t.exchangeType) {
    case 2:
        if (m->progress >= V32_PROGRESS_SECOND_WORD) {
            // E: the best rate of the far word that ours offers too. After a handshake the far word (R3) is
            // already within ours; after a direct start each end sent its own best rate, and without the
            // mask two ends with different options would each send at the other's rate.
            t.word = V32PickRate(static_cast<uint16_t>(m->received[1] & t.word));
            go = true;
        }
        break;
    case 3: go = m->progress == V32_PROGRESS_E; break;
    default:
        // Renegotiation: E carries the best rate both words offer once the far word is in.
        if (m->progress >= V32_PROGRESS_RENEGOTIATE_WORD) {
            t.word = V32PickRate(static_cast<uint16_t>(m->received[1] & t.word));
            go = true;
        } else if (t.wordGroups >= kRenegotiateGroups) {
            V32ModemRetrain(m);
            return;
        }
        break;
    }
    if (!go)
        return;
    if ((t.word & kV32WordRates) == 0)
        t.word = static_cast<uint16_t>(t.word & ~kV32WordMarker);
    m->agreed = t.word;
    t.renegotiateMark = 0;
    Enter(t, 13, (t.word & kV32WordRates) ? kGroupSymbols : kWordGroups * kGroupSymbols);
}

V32Point DataSymbol(V32Modem* m)
{
    V32Tx& t = m->tx;
    uint32_t bits = t.dataMask;
    if (t.startCount < kOnesSymbols) {
        t.startCount += 1;
    } else {
        t.startDone = 1;
        const int32_t got = m->port.getBits ? m->port.getBits(m->port.owner, t.bitsPerSymbol) : -1;
        if (got >= 0)
            bits = static_cast<uint32_t>(got) & t.dataMask;
    }
    return V32EncodeData(&t, bits, !m->answering);
}

// The symbol's kind by the state that chose it (the state may have moved on since).
int32_t KindOf(int32_t state)
{
    switch (state) {
    case 1:
    case 2:
    case 10:
    case 11: return V32_SYMBOL_TONE;
    case 33:
    case 34:
    case 35:
    case 48:
    case 49:
    case 50: return V32_SYMBOL_ALTERNATION;
    default: return V32_SYMBOL_PULSE;
    }
}

void GiveUp(V32Modem* m)
{
    Enter(m->tx, 14, -1);
    m->gaveUp = 1;
    m->echo.mu = 0;
    if (m->port.status)
        m->port.status(m->port.owner, 4, 1);
}

}  // namespace

void V32RateExchange(V32Modem* m, int32_t type)
{
    V32Tx& t = m->tx;
    t.exchangeType = type;
    t.wordGroups = 0;
    switch (type) {
    case 2:
        t.word = static_cast<uint16_t>(m->capability & m->received[0]);
        break;
    case 3:
        t.word = V32PickRate(static_cast<uint16_t>(V32QualityMask(m->rx.errorMeasure >> 16) & m->received[1] & m->capability));
        if ((t.word & kV32WordRates) == 0)
            m->progress = V32_PROGRESS_E;
        break;
    default:
        t.renegotiateMark = type == 4;
        break;
    }
    if ((t.word & kV32WordRates) == 0)
        t.word = static_cast<uint16_t>(t.word & ~kV32WordMarker);
    Enter(t, 12, -1);
}

void V32TxStart(V32Modem* m)
{
    V32Tx& t = m->tx;
    const int32_t gain = t.gain;
    t = V32Tx{};
    t.gain = gain;
    t.historyPos = 0;
    switch (m->startType) {
    case V32_START_CALLER: Enter(t, 1, 32001); break;
    case V32_START_ANSWERER: Enter(t, 32, 1920); break;
    default: Enter(t, 4, 1512); break;
    }
}

void V32TxSymbol(V32Modem* m, V32Point* p, int32_t* kind)
{
    V32Tx& t = m->tx;
    int32_t silentFlag = 0;
    int32_t* silent = &silentFlag;
    const int32_t state = t.state;
    t.symbols += 1;
    const bool ended = t.count > 0 && --t.count == 0;
    switch (t.state) {
    // --- caller ---
    case 0:
        *silent = 1;
        if (ended)
            Enter(t, 1, 32001);
        break;
    case 1:
        *p = Pt(A);
        if (m->aaEnded || ended) {
            Enter(t, 2, -1);
            m->rx.count = 0;
        }
        break;
    case 2:
        *p = Pt(C);
        if (m->delayMeasured)
            Enter(t, 3, -1);
        break;
    case 3:
        *silent = 1;
        t.silentSymbols += 1;
        if (m->detectFlag) {
            m->detectFlag = 0;
            const int32_t n = (m->echoDelay - 300) / 3 + 255;
            Enter(t, 4, n < 0 ? 255 : (n | 1));
        }
        break;
    case 4:
    case 37:
    case 43:
        *p = Alternation(t, C, D);
        if (ended)
            Enter(t, t.state + 1, 16);
        break;
    case 5:
    case 38:
    case 44:
        *p = Alternation(t, A, B);
        if (ended) {
            Enter(t, t.state + 1, 256);
            t.scrambler = 0;
        }
        break;
    case 6:
    case 39:
    case 45:
        *p = Trn2(m);
        if (t.state != 45)
            EchoSchedule(m, t.state, t.count);
        if (ended)
            Enter(t, t.state + 1, t.state == 6 ? 8164 : 8192);
        break;
    case 7:
    case 40:
    case 46:
        *p = Trn4(m);
        if (t.state != 46)
            EchoSchedule(m, t.state, t.count);
        if (ended) {
            if (t.state == 7) {
                V32RateExchange(m, 2);
            } else if (t.state == 40) {
                Enter(t, 41, -1);
                t.word = m->capability;
            } else {
                V32RateExchange(m, 3);
            }
        }
        break;
    case 9:
        *p = DataSymbol(m);
        if (m->renegotiate || m->progress == V32_PROGRESS_RENEGOTIATE) {
            // Our own request, or the answer to the far end's: the signal, then the word of the line quality
            // within our options.
            t.renegotiateMark = m->renegotiate ? 0 : 1;
            if (m->renegotiate)
                m->progress = V32_PROGRESS_NONE;
            m->renegotiate = 0;
            m->dataRunning = 0;
            t.word = static_cast<uint16_t>(V32QualityMask(m->rx.errorMeasure >> 16) & m->capability);
            Enter(t, m->answering ? 49 : 10, 56);
        }
        break;
    case 10:
    case 11:
        *p = Pt(t.state == 10 ? A : C);
        if (ended) {
            if (t.state == 10)
                Enter(t, 11, 8);
            else
                V32RateExchange(m, t.renegotiateMark ? 5 : 4);
        }
        break;
    case 12:
        *p = WordSymbol(m);
        if (t.symbols % kGroupSymbols == 0)
            WordGroupEnd(m);
        break;
    case 13: {
        const uint16_t e = static_cast<uint16_t>(t.word | kV32WordE);
        const int32_t at = (t.symbols - 1) % kGroupSymbols;
        *p = Pt(static_cast<int32_t>(V32Scramble(&t.scrambler, (e >> (2 * at)) & 3u, 2, !m->answering)));
        if (ended) {
            if ((t.word & kV32WordRates) == 0) {
                GiveUp(m);
            } else {
                V32TxApplyRate(m, t.word);
                Enter(t, 9, -1);
            }
        }
        break;
    }
    case 14:
        *silent = 1;
        break;
    // --- answerer ---
    case 32:
        *silent = 1;
        if (m->detectFlag) {
            m->detectFlag = 0;
            Enter(t, 33, kAcBeforeReversal);
        } else if (ended) {
            if (m->procedureKind == 1 && m->port.answerFallback)
                m->port.answerFallback(m->port.owner);
            else
                GiveUp(m);
        }
        break;
    case 33:
        *p = Pt(A);
        if (ended) {
            Enter(t, 34, -1);
            m->rx.count = 0;
        }
        break;
    case 48:
        *p = Pt(A);
        if (m->detectFlag) {
            m->detectFlag = 0;
            Enter(t, 33, kAcBeforeReversal);
        }
        break;
    case 34:
        *p = Pt(C);
        if (m->delayMeasured) {
            const int32_t n = m->echoDelay / 3;
            Enter(t, 35, n < 16 ? 16 : n);
        }
        break;
    case 35:
        *p = Pt(A);
        if (ended)
            Enter(t, 36, 15);
        break;
    case 36:
        *silent = 1;
        if (ended)
            Enter(t, 37, 255);
        break;
    case 41:
        *p = WordSymbol(m);
        if (t.symbols % kGroupSymbols == 0 && m->detectFlag) {
            m->detectFlag = 0;
            Enter(t, 42, -1);
        }
        break;
    case 42:
        *silent = 1;
        if (m->progress >= V32_PROGRESS_SECOND_WORD)
            Enter(t, 43, 255);
        break;
    case 49:
    case 50:
        *p = Pt(t.state == 50 ? C : A);
        if (ended) {
            if (t.state == 49)
                Enter(t, 50, 8);
            else
                V32RateExchange(m, t.renegotiateMark ? 5 : 4);
        }
        break;
    default:
        *silent = 1;
        break;
    }
    *kind = silentFlag ? V32_SYMBOL_SILENT : KindOf(state);
}
