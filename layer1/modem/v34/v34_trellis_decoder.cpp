// The Viterbi step: two sets of two-dimensional subset metrics, the four-dimensional subset metrics, one
// add-compare-select over the code's transition table, normalisation, the tentative decision from the best
// state's newest branch and the final one by traceback through the ring of survivors.
//
// Four-dimensional subset record r of the library is the parity Y0 = r & 1 with the coded label bits in
// r >> 1 (for 32 states bits 0, 1 and 3 of w), so branch j of state i (record (i & 1) + 2j) is the label j;
// a marked symbol flips the parity, which exchanges each even record with its odd partner.
#include "layer1/modem/v34/v34_trellis_decoder.h"

#include <cstring>

#include "layer1/modem/v34/trellis_code.h"
#include "layer1/modem/v34/v34_encoder.h"
#include "layer1/vek/core/vek_dispatch.h"

namespace {

constexpr uint16_t kBuilding = 0xFFFF;
constexpr uint16_t kMetricCeiling = 0x7FFF;

// Offsets (grid cells) of the library's candidate codes from the cell corner: codes 0-3 the cell's corners,
// 4-11 the farther points of the eight-subset entries (6, 7, 10 and 11 are (c+1, r-1), (c+2, r+1), (c-1, r+1)
// and (c, r-1), the points the library measures those codes' distances to).
constexpr int8_t kCandidateDx[12] = {0, 1, 1, 0, 0, 1, 1, 2, 2, -1, -1, 0};
constexpr int8_t kCandidateDy[12] = {0, 0, 1, 1, 2, 2, -1, 1, 0, 0, 1, -1};

struct LabelMap {
    uint8_t v[16];
};

const LabelMap& Map()
{
    static const LabelMap map = [] {
        // Grid column c holds the points u = 2c + 1 (units of 2 x 128); the library indexes the map by
        // 4 ((r + 2) mod 4) + ((c + 2) mod 4).
        LabelMap m{};
        for (int32_t c = 0; c < 4; ++c)
            for (int32_t r = 0; r < 4; ++r)
                m.v[4 * ((r + 2) & 3) + ((c + 2) & 3)] = static_cast<uint8_t>(V34SubsetLabel(2 * c + 1, 2 * r + 1));
        return m;
    }();
    return map;
}

// The pair decided by a survivor label at a ring position.
void DecidePair(const V34TrellisDecoder* d, int32_t label, int32_t position, PackedComplex out[2])
{
    for (int32_t k = 0; k < 2; ++k) {
        const int32_t code = (label >> (8 * k)) & 0xFF;
        int32_t dx = 0;
        int32_t dy = 0;
        V34CandidateOffset(code, &dx, &dy);
        const uint32_t corner = static_cast<uint32_t>(d->corners[position][k]);
        const int32_t x = static_cast<int16_t>(corner & 0xFFFFu) + 256 * dx;
        const int32_t y = static_cast<int16_t>(corner >> 16) + 256 * dy;
        out[k] = PackComplex(x, y);
    }
}

}  // namespace

const uint8_t* V34TrellisLabelMap() { return Map().v; }

void V34CandidateOffset(int32_t code, int32_t* dx, int32_t* dy)
{
    const int32_t c = code >= 0 && code < 12 ? code : 0;
    *dx = kCandidateDx[c];
    *dy = kCandidateDy[c];
}

void InitV34TrellisDecoder(V34TrellisDecoder* d, int32_t states)
{
    d->states = states >= 64 ? 64 : (states >= 32 ? 32 : 16);
    d->branches = d->states / 4;
    for (int32_t i = 0; i < d->states; ++i) {
        for (int32_t j = 0; j < d->branches; ++j) {
            const uint32_t w = d->states == 32 ? static_cast<uint32_t>((j & 3) | ((j >> 2) << 3)) : static_cast<uint32_t>(j);
            d->next[i * d->branches + j] = TrellisNextState(static_cast<uint8_t>(i), d->states, w);
        }
    }
    Map();
    ResetV34TrellisDecoder(d);
}

void ResetV34TrellisDecoder(V34TrellisDecoder* d)
{
    std::memset(d->metrics, 0, sizeof d->metrics);
    std::memset(d->survivors, 0, sizeof d->survivors);
    std::memset(d->corners, 0, sizeof d->corners);
    d->position = 0;
    d->fill = 0;
    d->best = 0;
}

int32_t TrellisDecode(V34TrellisDecoder* d, const PackedComplex points[2], int32_t invert, PackedComplex final[2],
                      PackedComplex tentative[2])
{
    const int32_t s = d->states;
    const int32_t mask = s - 1;
    d->position = (d->position + 1) & mask;
    if (d->position == 0)
        d->fill = kV34TrellisFilled;
    const int32_t pos = d->position;
    for (int32_t k = 0; k < 2; ++k) {
        const int16_t point[2] = {RealPart(points[k]), ImagPart(points[k])};
        vek_trellis_metric_2d(point, &d->corners[pos][k], d->metrics2d + 8 * k, Map().v, s);
    }
    vek_trellis_metric_4d(d->metrics2d, d->subsets, s, 0);
    if (invert != 0) {
        const int32_t records = s == 16 ? 8 : (s == 32 ? 16 : 32);
        for (int32_t r = 0; r < records; r += 2) {
            const TrellisMetric4d t = d->subsets[r];
            d->subsets[r] = d->subsets[r + 1];
            d->subsets[r + 1] = t;
        }
    }
    for (int32_t i = 0; i < s; ++i)
        d->building[i] = kBuilding;
    vek_trellis_acs(d->metrics, d->next, d->building, d->subsets, d->survivors, s, pos * s);

    int32_t best = 0;
    for (int32_t i = 1; i < s; ++i)
        if (d->building[i] < d->building[best])
            best = i;
    const int32_t low = d->building[best];
    for (int32_t i = 0; i < s; ++i) {
        const int32_t m = d->building[i] - low;
        d->metrics[i] = static_cast<uint16_t>(m > kMetricCeiling ? kMetricCeiling : m);
    }
    d->best = best;
    DecidePair(d, d->survivors[pos * s + best] & 0xFFFF, pos, tentative);

    if (d->fill != 0) {
        int32_t state = best;
        int32_t p = pos;
        for (int32_t n = 1; n < s; ++n) {
            state = (d->survivors[p * s + state] >> 16) & mask;
            p = (p - 1) & mask;
        }
        DecidePair(d, d->survivors[p * s + state] & 0xFFFF, p, final);
    }
    return d->fill & 0xFF;
}

void InitV34MarkerSchedule(V34MarkerSchedule* m, int32_t J, int32_t P)
{
    m->pattern = V34SuperframePattern(J);
    m->bits = 2 * J;
    m->period = 2 * P;
    m->position = 0;
    m->count = 0;
}

int32_t NextMarkerInversion(V34MarkerSchedule* m)
{
    int32_t flag = 0;
    if (m->count == 0 && m->bits > 0) {
        flag = (m->pattern >> (m->bits - 1 - m->position)) & 1;
        m->position = (m->position + 1) % m->bits;
    }
    m->count = m->period > 0 ? (m->count + 1) % m->period : 0;
    return flag;
}
