// The receiver's handshake, one call per sample. Tone and reversal stages work on the pattern detectors;
// from the reversal that ends S the equaliser takes over (v32_rx_symbol.cpp) and moves the states on by the
// rate words it finds.
//
// Counts: a pattern must hold 96 samples (AC, AA) or 48 samples (S) before it counts; a reversal within the
// first 24 samples of a delay measurement is the local echo, not the far end's answer.
#include "layer1/modem/v32/v32_rx_internal.h"

namespace {

constexpr int32_t kToneSamples = 64;
constexpr int32_t kSSamples = 48;
constexpr int32_t kDelayGuard = 24;
constexpr int32_t kCallerGuard = 2400;      // samples before the caller listens for other modulations
constexpr int32_t kRetrainSamples = 256;    // a steady tone or alternation in data asks for a retrain
// A tone or alternation this long in data is the far end's renegotiation signal (56 symbols, then a
// reversal) or the start of its retrain (no reversal before kRetrainSamples).
constexpr int32_t kFarSignalSamples = 96;
// A renegotiation that has not reached data again after this long gives way to a retrain.
constexpr int32_t kRenegotiateSamples = 3 * kV32SampleRate;

bool Renegotiating(const V32Modem* m)
{
    return m->progress == V32_PROGRESS_RENEGOTIATE || m->progress == V32_PROGRESS_RENEGOTIATE_WORD;
}

bool Holds(V32Rx& r, V32Pattern want, int32_t samples)
{
    r.steady = V32Classify(&r) == want ? r.steady + 1 : 0;
    return r.steady >= samples;
}

void DelayMeasured(V32Modem* m, int32_t count)
{
    m->echoDelay = count;
    m->delayMeasured = 1;
    V32EchoReset(&m->echo, count);
}

void StartSegment(V32Rx& r, int32_t state)
{
    V32RxEnter(&r, state);
    r.inDip = 0;
}

}  // namespace

void V32RxEnter(V32Rx* r, int32_t state)
{
    r->state = state;
    r->steady = 0;
}

void V32RxHandshake(V32Modem* m, int32_t x)
{
    V32Rx& r = m->rx;
    r.count += 1;
    switch (r.state) {
    case V32_RX_WAIT_AC:
        if (r.guard > 0) {
            r.guard -= 1;
        } else if (!r.noFallback && m->port.fallbackDetect && m->port.fallbackDetect(m->port.owner, x)) {
            V32RxEnter(&r, V32_RX_IDLE);
            return;
        }
        if (Holds(r, V32_PATTERN_ALTERNATION, kToneSamples))
            StartSegment(r, V32_RX_WAIT_AC_REVERSAL);
        break;
    case V32_RX_WAIT_AC_REVERSAL:
        if (V32ReversalSeen(&r)) {
            m->aaEnded = 1;
            StartSegment(r, V32_RX_MEASURE_DELAY);
            r.count = 0;
        }
        break;
    case V32_RX_MEASURE_DELAY:
        if (r.count < kDelayGuard) {
            r.inDip = 0;
            break;
        }
        if (V32ReversalSeen(&r)) {
            DelayMeasured(m, r.count);
            V32RxEnter(&r, V32_RX_WAIT_S);
        }
        break;
    case V32_RX_WAIT_S:
    case V32_RX_WAIT_S2:
    case V32_RX_WAIT_CALLER_S:
        if (Holds(r, V32_PATTERN_S, kSSamples)) {
            V32RxSetGain(&r);
            if (r.state == V32_RX_WAIT_CALLER_S)
                m->detectFlag = 1;
            StartSegment(r, r.state + 1);
        }
        break;
    case V32_RX_WAIT_S_BAR:
    case V32_RX_WAIT_S_BAR2:
    case V32_RX_WAIT_CALLER_S_BAR:
        if (V32ReversalSeen(&r)) {
            V32RxStartTraining(m, r.dipAt);
            V32RxEnter(&r, r.state == V32_RX_WAIT_S_BAR ? V32_RX_TRAIN
                                                       : (r.state == V32_RX_WAIT_S_BAR2 ? V32_RX_TRAIN2 : V32_RX_TRAIN_CALLER));
        }
        break;
    case V32_RX_WAIT_OWN_TRAINING:
        if (m->tx.state == 12)
            StartSegment(r, V32_RX_WAIT_S2);
        break;
    case V32_RX_DATA: {
        const V32Pattern p = V32Classify(&r);
        r.steady = (p == V32_PATTERN_TONE || p == V32_PATTERN_ALTERNATION) ? r.steady + 1 : 0;
        if (r.steady >= kFarSignalSamples) {
            StartSegment(r, V32_RX_FAR_SIGNAL);
            r.count = kFarSignalSamples;
        }
        break;
    }
    case V32_RX_FAR_SIGNAL:
        if (V32ReversalSeen(&r)) {
            // Renegotiation: the far end's word follows. Our transmitter answers with its own signal unless
            // it started the renegotiation itself.
            V32RxStartWords(&r);
            m->dataRunning = 0;
            m->progress = V32_PROGRESS_RENEGOTIATE;
            V32RxEnter(&r, V32_RX_RENEGOTIATE_WORD);
            r.count = 0;
        } else if (r.count >= kRetrainSamples) {
            V32ModemRetrain(m);
        }
        break;
    case V32_RX_RENEGOTIATE_WORD:
    case V32_RX_WAIT_E:
        if (r.count >= kRenegotiateSamples && Renegotiating(m))
            V32ModemRetrain(m);
        break;
    case V32_RX_WAIT_AA:
        if (Holds(r, V32_PATTERN_TONE, kToneSamples)) {
            m->detectFlag = 1;
            StartSegment(r, V32_RX_WAIT_CC_REVERSAL);
        }
        break;
    case V32_RX_WAIT_CC_REVERSAL:
        if (m->tx.state != 34 || r.count < kDelayGuard) {
            r.inDip = 0;
            break;
        }
        if (V32ReversalSeen(&r)) {
            DelayMeasured(m, r.count);
            V32RxEnter(&r, V32_RX_WAIT_OWN_R1);
        }
        break;
    case V32_RX_WAIT_OWN_R1:
        if (m->tx.state == 41)
            StartSegment(r, V32_RX_WAIT_CALLER_S);
        break;
    default:
        break;
    }
}

void V32RxStart(V32Modem* m)
{
    V32Rx& r = m->rx;
    LmsState* eq = r.eq;
    r = V32Rx{};
    r.eq = eq;
    r.agc = 4096;
    r.guard = kCallerGuard;
    V32TimingReset(&r);
    FaxViterbiReset(&r.viterbi);
    switch (m->startType) {
    case V32_START_CALLER: V32RxEnter(&r, V32_RX_WAIT_AC); break;
    case V32_START_ANSWERER: V32RxEnter(&r, V32_RX_WAIT_AA); break;
    default: V32RxEnter(&r, V32_RX_WAIT_S); break;
    }
}
