// What the receiver's callers do with a symbol: the training slicer and its descrambled bits, the bit-history
// reader of the MP frames, the S to S-bar reversal detector, the data-mode pair decision with the superframe
// bit, the block intake and the data-mode rate monitor.
#include "layer1/dsp/dsp_context.h"
#include "layer1/modem/v34/v34_framing.h"
#include "layer1/modem/v34/v34_rx.h"
#include "layer1/modem/v34/v34_scrambler.h"

namespace {

constexpr uint8_t kTrainingLabels[16] = {12, 7, 8, 15, 9, 2, 1, 6, 4, 3, 0, 11, 13, 10, 5, 14};
constexpr int32_t kMaxRate[6] = {9, 11, 11, 12, 13, 14};
constexpr int32_t kMinRate[6] = {1, 2, 2, 2, 2, 2};
constexpr int32_t kArmLength = 400;
constexpr int32_t kBadCount = 100;
constexpr int32_t kGoodCount = 1000;

int32_t Level(int32_t v, int32_t low, int32_t high)
{
    const int32_t level = (v + 512) / 256;
    return level < low ? low : (level > high ? high : level);
}

// The nearest point of the odd grid (1/128 units): what a receiver without a decoder decides.
int32_t NearestOdd(int32_t v)
{
    const int32_t k = (v >= 0 ? v : v - 255) / 256;
    return 256 * k + 128;
}

void NearestPair(void*, V34Receiver*, RxSlot* first, RxSlot* second, int32_t)
{
    for (RxSlot* s : {first, second})
        s->decision = PackComplex(NearestOdd(RealPart(s->soft)), NearestOdd(ImagPart(s->soft)));
}

int32_t Bounded(int32_t index) { return index < 0 ? 0 : (index > 5 ? 5 : index); }

}  // namespace

uint32_t SliceTrainingPoint(PackedComplex soft, int32_t fourPoint, uint8_t* quadrant, PackedComplex* decision)
{
    const int32_t f = fourPoint != 0 ? 1 : 0;
    const int32_t top = f != 0 ? 2 : 3;
    const int32_t lx = Level(RealPart(soft), f, top);
    const int32_t ly = Level(ImagPart(soft), f, top);
    *decision = PackComplex(256 * lx - 384, 256 * ly - 384);
    const uint32_t label = kTrainingLabels[lx + 4 * ly];
    const uint32_t bits = ((label - *quadrant) & 3u) | (label & 12u);
    *quadrant = static_cast<uint8_t>(label & 3u);
    return bits;
}

void ReceiveDecision(V34Receiver* rx, int32_t fourPoint)
{
    V34ReceiveSymbol(rx);
    if (rx->skip != 0)
        return;
    RxSlot* slot = CurrentSlot(rx);
    const uint32_t bits = SliceTrainingPoint(slot->soft, fourPoint, &rx->quadrant, &slot->decision);
    const int32_t n = fourPoint != 0 ? 2 : 4;
    const uint32_t out = DescrambleBits(n, rx->polynomial, bits, &rx->descrambler) & 0xFFu;
    rx->bitHistory = (rx->bitHistory >> n) | ((out >> (8 - n)) << (32 - n));
    rx->decisions += 1;
    rx->symbolCount += 1;
}

int32_t ReadHistoryField(V34Receiver* rx, int32_t shift, int32_t position, uint16_t* out, uint16_t* crc)
{
    if (rx->decisions != position)
        return 0;
    *out = static_cast<uint16_t>(rx->bitHistory >> (shift & 31));
    Crc16Bits(crc, *out, 16);
    return 1;
}

int32_t ReversalDetect(V34Receiver* rx)
{
    const int32_t before = rx->reversalSum;
    for (uint32_t k = 3; k >= 1; --k) {
        const uint32_t i = rx->historyIndex - k;
        const PackedComplex s = rx->history[i & (kV34RxHistory - 1)];
        const PackedComplex o = rx->history[(i - 12u) & (kV34RxHistory - 1)];
        const int32_t term = static_cast<int32_t>(
            (int64_t{RealPart(s)} * RealPart(o) + int64_t{ImagPart(s)} * ImagPart(o)) >> 2);
        int32_t& stored = rx->reversalTerms[rx->reversalPosition];
        rx->reversalSum = static_cast<int32_t>(static_cast<int64_t>(rx->reversalSum) - stored + term);
        stored = term;
        rx->reversalPosition = rx->reversalPosition == 2 ? 0 : rx->reversalPosition + 1;
    }
    return (before < 0) != (rx->reversalSum < 0) ? 10000 : 0;
}

void ReceiveDataSymbol(V34Receiver* rx, PairDecider decider, void* owner)
{
    V34ReceiveSymbol(rx);
    if (rx->skip != 0)
        return;
    if ((rx->symbolCount & 1u) != 0) {
        const int32_t frame = rx->framePairs > 0 ? rx->framePairs : 1;
        if (rx->patternBits > 0 && (rx->pairCount == 0 || 2 * rx->pairCount == frame)) {
            rx->patternPosition = rx->patternPosition <= 0 ? rx->patternBits - 1 : rx->patternPosition - 1;
            rx->superframeFlag = (rx->superframePattern >> rx->patternPosition) & 1;
        }
        RxSlot* first = &rx->slot[(rx->symbolCount - 1u) & 1u];
        RxSlot* second = &rx->slot[rx->symbolCount & 1u];
        (decider != nullptr ? decider : NearestPair)(owner, rx, first, second, rx->superframeFlag);
        rx->superframeFlag = 0;
        rx->pairCount = rx->pairCount + 1 >= frame ? 0 : rx->pairCount + 1;
    }
    rx->symbolCount += 1;
}

void TakeReceiveBlock(V34Receiver* rx, const int16_t samples[kV34BlockSamples])
{
    for (int i = 0; i < kV34BlockSamples; ++i)
        rx->block[i] = samples[i];
    RemoveDc(&rx->dc, rx->block, kV34BlockSamples);
    if (rx->echo.estimation.capturing != 0)
        EchoCaptureBlock(&rx->echo, rx->block);
    if (rx->cancel != nullptr)
        rx->cancel(&rx->echo, rx->block);
    rx->readIndex = 0;
    rx->blockLength = kV34BlockSamples;
}

void ReadReceiveBlock(V34Receiver* rx, LowerAudioInterface* lower, int16_t raw[kV34BlockSamples])
{
    if (lower == nullptr || ReadSampleBlock(lower, raw, kV34BlockSamples) < 0) {
        for (int i = 0; i < kV34BlockSamples; ++i)
            raw[i] = 0;
    }
    TakeReceiveBlock(rx, raw);
}

void SetReencodeScale(ReencodeState* r, int32_t gain, int32_t scale)
{
    r->gain = gain;
    r->scale = scale;
    r->reciprocalGain = gain != 0 ? 0x20000000 / gain : 0;
    r->reciprocalScale = scale != 0 ? 0x1000000 / scale : 0;
}

int32_t V34MaxRateIndex(int32_t s) { return kMaxRate[Bounded(s)]; }
int32_t V34MinRateIndex(int32_t s) { return kMinRate[Bounded(s)]; }

int32_t RateMonitorStep(RateMonitor* m)
{
    const int32_t s = Bounded(m->symbolRateIndex);
    if (m->bad > kBadCount) {
        m->current -= 1;
        if (m->current >= kMinRate[s]) {
            m->goodLimit = kV34MonitorGoodLimit;
            m->armLength = kArmLength;
            return -1;
        }
        m->current += 1;
    }
    if (m->armed == 0) {
        m->good = 0;
        m->armCount += 1;
        if (m->armCount >= m->armLength)
            m->armed = 1;
        return 0;
    }
    if (m->good > kGoodCount) {
        m->goodLimit = kV34MonitorGoodLimit;
        m->armLength = kArmLength;
        const int32_t next = m->current + 1;
        if (m->current < kMaxRate[s] && m->current < m->agreedMax && ((m->mask >> (next - 1)) & 1) != 0) {
            m->current = next;
            m->armed = 0;
            m->armCount = 0;
            return 1;
        }
        m->good = 0;
    }
    return 0;
}
