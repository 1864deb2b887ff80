// Encoding of mapping frames: rings and constellation points, differential quadrants, precoding, the labels of
// the trellis code and its state, with the superframe marker on the parity bit.
#include "layer1/modem/v34/v34_encoder.h"

#include <cstring>

#include "layer1/modem/v34/shell_map.h"
#include "layer1/modem/v34/trellis_code.h"
#include "layer1/modem/v34/v34_constellation.h"

namespace {

// Two-dimensional subset of a point by its coordinates' grid positions modulo 4: rotating a point by 90
// degrees adds 1 to the low two bits of its subset; bit 0 is the lattice's finest split.
constexpr uint8_t kSubset[16] = {0, 7, 4, 3, 5, 2, 1, 6, 4, 3, 0, 7, 1, 6, 5, 2};

// Four-dimensional label w of two subsets (index second + 8 x first).
constexpr uint8_t kFourD[64] = {
    0, 0, 1, 1, 8, 8, 9, 9, 3, 2, 2, 3, 11, 10, 10, 11, 5, 5, 4, 4, 13, 13, 12, 12, 6, 7, 7, 6, 14, 15, 15, 14,
    8, 8, 9, 9, 0, 0, 1, 1, 11, 10, 10, 11, 3, 2, 2, 3, 13, 13, 12, 12, 5, 5, 4, 4, 14, 15, 15, 14, 6, 7, 7, 6,
};

// The superframe marker: 2J bits sent on the parity bit of the first four-dimensional symbol of each half data
// frame, one cyclic position distinguishable from every other (periodic correlation off the peak at most 2
// of 14 and 4 of 16).
constexpr uint16_t kMarker7 = 0x0053;
constexpr uint16_t kMarker8 = 0x0053;

struct Precoded {
    PackedComplex out;
    int32_t u;
    int32_t v;
    int32_t offsetParity;  // bit 0 of (c_re + c_im) / 2
};

// The point of index idx rotated by quadrant z, plus the precoder's lattice offset; the output is the point
// less the precoder's filter output p (over the present history), in 1/128 units, pushed into the history.
Precoded PrecodePoint(V34EncoderState* s, int32_t idx, uint32_t z, PackedComplex p)
{
    const V34Point& q = V34QuarterConstellation()[idx];
    int32_t x = q.x;
    int32_t y = q.y;
    switch (z & 3u) {
    case 1: { const int32_t t = x; x = y; y = -t; break; }
    case 2: x = -x; y = -y; break;
    case 3: { const int32_t t = x; x = -y; y = t; break; }
    default: break;
    }
    const int32_t cr = V34LatticeOffset(RealPart(p), s->frame);
    const int32_t ci = V34LatticeOffset(ImagPart(p), s->frame);
    Precoded r{};
    r.u = x + cr;
    r.v = y + ci;
    r.offsetParity = ((cr + ci) >> 1) & 1;
    r.out = PackComplex(r.u * 128 - RealPart(p), r.v * 128 - ImagPart(p));
    s->history[2] = s->history[1];
    s->history[1] = s->history[0];
    s->history[0] = r.out;
    return r;
}

int32_t PointIndex(const V34EncoderState* s, int32_t ring, uint32_t qBits)
{
    int32_t idx = ring * s->qPoints + static_cast<int32_t>(qBits & static_cast<uint32_t>(s->qPoints - 1));
    return idx < kV34QuarterPoints ? idx : kV34QuarterPoints - 1;
}

}  // namespace

int32_t V34LatticeOffset(int32_t p, const V34FrameParams& f)
{
    const int32_t magnitude = p < 0 ? -p : p;
    const int32_t c = ((magnitude + f.bitMask) >> 7) & f.step;
    return p < 0 ? -c : c;
}

int32_t V34SubsetLabel(int32_t u, int32_t v) { return kSubset[((u >> 1) & 3) + 4 * ((v >> 1) & 3)]; }

int32_t V34FourDimensionalLabel(int32_t first, int32_t second) { return kFourD[(second & 7) + 8 * (first & 7)]; }

uint16_t V34SuperframePattern(int32_t J) { return J == 8 ? kMarker8 : kMarker7; }

int32_t InitV34Encoder(V34EncoderState* s, int32_t trellisStates, int32_t nonlinear, int32_t polynomial)
{
    V34FrameParameters(&s->frame);
    s->trellisStates = trellisStates >= 64 ? 64 : (trellisStates >= 32 ? 32 : 16);
    s->nonlinear = nonlinear;
    s->polynomial = polynomial;
    s->qPoints = 1 << s->frame.q;
    int32_t given = 0;
    for (int32_t i = 0; i < 4; ++i) {
        const int32_t n = s->frame.b >= 12 ? 3 : (s->frame.b - given - i + 3) / (4 - i);
        s->iSplit[i] = static_cast<uint8_t>(n);
        given += n;
    }
    std::memset(s->history, 0, sizeof s->history);
    std::memset(&s->reservoir, 0, sizeof s->reservoir);
    s->quadrant = 0;
    s->trellisState = 0;
    s->superframePattern = V34SuperframePattern(s->frame.J);
    s->patternPosition = 0;
    s->symbolCount = 0;
    s->frameIndex = 0;
    s->dataFrameIndex = 0;
    s->superframeCount = 0;
    s->status = 0;
    return 0;
}

int32_t EncodeFrame(V34EncoderState* s, const MappingFrame* frame, PackedComplex points[8])
{
    uint8_t rings[8] = {};
    if (s->frame.K != 0 && frame->shellIndex != 0)
        ShellMap(frame->shellIndex, &s->frame, rings);
    const int32_t markerBits = 2 * s->frame.J;
    for (int32_t k = 0; k < 4; ++k) {
        const uint32_t in = frame->i[k];
        s->quadrant = static_cast<uint8_t>((s->quadrant + (in >> 1)) & 3u);
        const Precoded first = PrecodePoint(s, PointIndex(s, rings[2 * k], frame->q[k] & 0xFFu), s->quadrant,
                                            PrecoderOutput(s->coefficients, s->history));
        // The second point's offset decides the rotation that gives the pair the parity the trellis asks for.
        const PackedComplex p = PrecoderOutput(s->coefficients, s->history);
        const int32_t secondParity =
            ((V34LatticeOffset(RealPart(p), s->frame) + V34LatticeOffset(ImagPart(p), s->frame)) >> 1) & 1;
        int32_t f = (secondParity ^ first.offsetParity ^ s->trellisState) & 1;
        if (s->symbolCount % static_cast<uint32_t>(2 * s->frame.P) == 0) {
            f ^= (s->superframePattern >> (markerBits - s->patternPosition - 1)) & 1;
            s->patternPosition = (s->patternPosition + 1) % markerBits;
        }
        const uint32_t z2 = static_cast<uint32_t>(s->quadrant + f - 2 * static_cast<int32_t>(in & 1u)) & 3u;
        const Precoded second = PrecodePoint(s, PointIndex(s, rings[2 * k + 1], frame->q[k] >> 8), z2, p);
        const int32_t l1 = V34SubsetLabel(first.u, first.v);
        const int32_t l2 = V34SubsetLabel(second.u, second.v);
        s->trellisState = TrellisNextState(s->trellisState, s->trellisStates,
                                           static_cast<uint32_t>(V34FourDimensionalLabel(l1, l2)));
        s->symbolCount += 1;
        points[2 * k] = first.out;
        points[2 * k + 1] = second.out;
    }
    return s->trellisState;
}
