// Demapping of one mapping frame: precoder offset, quadrant and point, differential decoding, the shell index
// and the frame's bits in the transmitter's order (one distribution, no auxiliary channel: a frame whose
// switching-pattern bit is 0 lacks the last shell bit (b >= 13), bit 2 of the fourth I field (b = 12) or bit
// 2 of the first (b = 9)).
#include "layer1/modem/v34/v34_demapper.h"

#include <cstring>

#include "layer1/modem/v34/v34_constellation.h"
#include "layer1/modem/v34/v34_encoder.h"

namespace {

constexpr int32_t kLevelLimit = 45;

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The nearest quarter point of index below the valid count to the first-quadrant level (x, y).
int32_t NearestValid(const V34Demapper* d, int32_t x, int32_t y)
{
    const V34Point* q = V34QuarterConstellation();
    int32_t best = 0;
    int32_t bestDistance = 0x7FFFFFFF;
    for (int32_t i = 0; i < d->validPoints; ++i) {
        const int32_t dx = q[i].x - x;
        const int32_t dy = q[i].y - y;
        const int32_t distance = dx * dx + dy * dy;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

struct PointIndex {
    int32_t quadrant;
    int32_t index;   // ring x 2^q + uncoded bits
};

// One decided point (1/128 grid units) to its quadrant and quarter index; removes the precoder's offset.
PointIndex Demap(V34Demapper* d, PackedComplex decision)
{
    const PackedComplex p = PrecoderOutput(d->coefficients, d->history);
    d->history[2] = d->history[1];
    d->history[1] = d->history[0];
    d->history[0] = PackComplex(RealPart(decision) - RealPart(p), ImagPart(decision) - ImagPart(p));
    int32_t x = Clamp(RealPart(decision) / 128 - V34LatticeOffset(RealPart(p), d->frame), -kLevelLimit, kLevelLimit);
    int32_t y = Clamp(ImagPart(decision) / 128 - V34LatticeOffset(ImagPart(p), d->frame), -kLevelLimit, kLevelLimit);
    const int32_t c = (43 + x) & 2;
    const int32_t e = (((43 + y) ^ (43 + x)) >> 1) & 1;
    if (e != 0) {
        const int32_t t = x;
        x = -y;
        y = t;
    }
    if (c != 0) {
        x = -x;
        y = -y;
    }
    const int32_t column = Clamp((x + 43) / 4, 0, kV34InverseSide - 1);
    const int32_t row = Clamp((y + 43) / 4, 0, kV34InverseSide - 1);
    int32_t index = V34InverseConstellation(column, row);
    if (index == kV34NoPoint || index >= d->validPoints) {
        index = NearestValid(d, x, y);
        d->erasures += 1;
    }
    return PointIndex{c | e, index};
}

// The rank of a ring pair within its sum s.
uint64_t PairRemainder(int32_t a, int32_t b, int32_t m)
{
    return static_cast<uint64_t>(a + b < m ? a : m - 1 - b);
}

// The rank of four rings (two pairs) within their sum.
uint64_t HalfRemainder(const uint8_t* r, const V34FrameParams* t)
{
    const int32_t m = t->M;
    const int32_t top = 2 * (m - 1);
    const int32_t s01 = r[0] + r[1];
    const int32_t h = s01 + r[2] + r[3];
    uint64_t v = PairRemainder(r[2], r[3], m) * t->g2[s01] + PairRemainder(r[0], r[1], m);
    for (int32_t p = h > top ? h - top : 0; p < s01; ++p)
        v += static_cast<uint64_t>(t->g2[p]) * t->g2[h - p];
    return v;
}

struct Frame {
    uint8_t i[4];
    uint32_t q[8];
    uint64_t shell;
};

// Appends the frame's fields; false when the buffer cannot take them (nothing of the frame is kept).
bool AppendFrameBits(V34Demapper* d, const Frame& f, bool longFrame, int32_t* appended)
{
    const V34FrameParams& p = d->frame;
    V34RxBitBuffer saved = d->bits;
    BitPacker packer{d->bits.words, kV34RxBitWords - 1u, d->bits.position, d->bits.count};
    int32_t failed = 0;
    const uint32_t extra = longFrame ? 1u : 0u;
    if (p.b >= 13) {
        failed |= PackBits(&packer, static_cast<uint32_t>(f.shell), p.K - 1);
        if (longFrame)
            failed |= PackBits(&packer, static_cast<uint32_t>(f.shell >> (p.K - 1)), 1);
        for (int32_t k = 0; k < 4; ++k) {
            failed |= PackBits(&packer, f.i[k], 3);
            failed |= PackBits(&packer, f.q[2 * k], p.q);
            failed |= PackBits(&packer, f.q[2 * k + 1], p.q);
        }
    } else if (p.b == 12) {
        for (int32_t k = 0; k < 3; ++k)
            failed |= PackBits(&packer, f.i[k], 3);
        failed |= PackBits(&packer, f.i[3], 2 + static_cast<int32_t>(extra));
    } else if (p.b == 9) {
        failed |= PackBits(&packer, f.i[0], 2 + static_cast<int32_t>(extra));
        for (int32_t k = 1; k < 4; ++k)
            failed |= PackBits(&packer, f.i[k], 2);
    } else {
        for (int32_t k = 0; k < 4; ++k)
            failed |= PackBits(&packer, f.i[k], 2);
    }
    if (failed != 0) {
        d->bits = saved;
        return false;
    }
    *appended = static_cast<int32_t>(packer.count - d->bits.count);
    d->bits.position = packer.position;
    d->bits.count = packer.count;
    return true;
}

}  // namespace

void InitV34Demapper(V34Demapper* d, const PackedComplex coefficients[3])
{
    V34FrameParameters(&d->frame);
    d->qPoints = 1 << d->frame.q;
    const int32_t rings = d->frame.K > 0 && d->frame.M > 0 ? d->frame.M : 1;
    d->validPoints = rings * d->qPoints < kV34QuarterPoints ? rings * d->qPoints : kV34QuarterPoints;
    for (int32_t k = 0; k < 3; ++k)
        d->coefficients[k] = coefficients[k];
    std::memset(d->history, 0, sizeof d->history);
    d->quadrant = 0;
    d->frameIndex = 0;
    d->erasures = 0;
    d->errors = 0;
    ClearV34RxBits(&d->bits);
}

uint64_t ShellDemapper(const uint8_t r[8], const V34FrameParams* t)
{
    const int32_t m = t->M;
    if (m <= 1)
        return 0;
    const int32_t top = 4 * (m - 1);
    const int32_t h1 = r[0] + r[1] + r[2] + r[3];
    const int32_t total = h1 + r[4] + r[5] + r[6] + r[7];
    uint64_t index = t->z8[total] + HalfRemainder(r, t) + HalfRemainder(r + 4, t) * t->g4[h1];
    for (int32_t j = total > top ? total - top : 0; j < h1; ++j)
        index += static_cast<uint64_t>(t->g4[j]) * t->g4[total - j];
    return index;
}

int32_t DemapFrame(V34Demapper* d, const PackedComplex decisions[8])
{
    const V34FrameParams& p = d->frame;
    Frame f{};
    uint8_t rings[8] = {};
    for (int32_t k = 0; k < 4; ++k) {
        const PointIndex first = Demap(d, decisions[2 * k]);
        const PointIndex second = Demap(d, decisions[2 * k + 1]);
        const int32_t q1 = first.quadrant;
        const int32_t turn = (second.quadrant - q1) & 3;
        f.i[k] = static_cast<uint8_t>((((q1 - d->quadrant) << 1) & 6) | ((turn >> 1) & 1));
        d->quadrant = static_cast<uint8_t>(q1);
        rings[2 * k] = static_cast<uint8_t>(first.index >> p.q);
        rings[2 * k + 1] = static_cast<uint8_t>(second.index >> p.q);
        f.q[2 * k] = static_cast<uint32_t>(first.index & (d->qPoints - 1));
        f.q[2 * k + 1] = static_cast<uint32_t>(second.index & (d->qPoints - 1));
    }
    if (p.K > 0)
        f.shell = ShellDemapper(rings, &p);
    const bool longFrame = ((p.switchingPattern >> (p.P - 1 - d->frameIndex)) & 1u) != 0;
    d->frameIndex = d->frameIndex + 1 >= p.P ? 0 : d->frameIndex + 1;
    int32_t appended = 0;
    if (!AppendFrameBits(d, f, longFrame, &appended))
        d->errors |= 1;
    return appended;
}
