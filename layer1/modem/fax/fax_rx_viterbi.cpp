// The V.17 Viterbi decoder: per symbol the distance to the nearest point of each of the 8 subsets (Y0 Y1 Y2)
// is the branch metric of the branches that carry that subset; the library's add-compare-select runs the
// 8-state code (padded to its 16-state shape: states 8-15 are never reached), survivors keep the winning
// label and the predecessor, and the traceback from the best state delivers the label of the oldest symbol
// in the path memory (kFaxViterbiDepth - 1 symbols before the newest).
#include "layer1/modem/common/trellis_qam.h"
#include "layer1/modem/fax/fax_rx.h"
#include "layer1/vek/core/vek_dispatch.h"

namespace {

constexpr uint16_t kUnreached = 65535;
constexpr int32_t kMetricCap = 4095;

// Next states of the 16-state shape: rows 0-7 the code's, rows 8-15 lead among themselves (never taken).
const uint8_t* NextStates()
{
    static const auto table = [] {
        struct T {
            uint8_t v[kFaxViterbiStates * 4];
        } t{};
        const uint8_t* code = TrellisNextStateTable();
        for (int32_t s = 0; s < kFaxViterbiStates; ++s)
            for (int32_t j = 0; j < 4; ++j)
                t.v[s * 4 + j] = s < kTrellisStates ? code[s * 4 + j] : static_cast<uint8_t>(8 + ((s + j) & 7));
        return t;
    }();
    return table.v;
}

}  // namespace

void FaxViterbiReset(FaxRxViterbi* v)
{
    *v = FaxRxViterbi{};
    for (int32_t s = 0; s < kFaxViterbiStates; ++s)
        v->metrics[s] = s < kTrellisStates ? 0 : kUnreached;
    NextStates();
}

int32_t FaxViterbiStep(FaxRxViterbi* v, FaxPoint p, int32_t dataBits, int32_t* nearest)
{
    // Branch metrics: nearest point of each subset.
    const TrellisPoint* c = TrellisQamConstellation(dataBits);
    int32_t best[8];
    int32_t label[8];
    for (int32_t s = 0; s < 8; ++s)
        best[s] = 0x7FFFFFFF, label[s] = s;
    for (int32_t k = 0; k < TrellisQamPoints(dataBits); ++k) {
        const FaxPoint q{c[k].re * kFaxV17Unit, c[k].im * kFaxV17Unit};
        const int32_t d = FaxDistance(p, q);
        if (d < best[k & 7]) {
            best[k & 7] = d;
            label[k & 7] = k;
        }
    }
    return FaxViterbiSubsets(v, best, label, nearest);
}

int32_t FaxViterbiSubsets(FaxRxViterbi* v, const int32_t* best, const int32_t* label, int32_t* nearest)
{
    int32_t overall = 0;
    for (int32_t s = 1; s < 8; ++s)
        if (best[s] < best[overall])
            overall = s;
    *nearest = label[overall];
    for (int32_t s = 0; s < 8; ++s) {
        const int32_t m = best[s] >> 4;
        v->branch[s].metric = static_cast<uint16_t>(m > kMetricCap ? kMetricCap : m);
        v->branch[s].label = static_cast<uint16_t>(label[s]);
    }
    v->newest = (v->newest + 1) % kFaxViterbiDepth;
    for (int32_t s = 0; s < kFaxViterbiStates; ++s)
        v->next[s] = kUnreached;
    vek_trellis_acs(v->metrics, NextStates(), v->next, v->branch, v->survivors, kFaxViterbiStates,
                    v->newest * kFaxViterbiStates);
    // Renormalise and find the best state.
    uint16_t low = kUnreached;
    int32_t state = 0;
    for (int32_t s = 0; s < kTrellisStates; ++s) {
        if (v->next[s] < low) {
            low = v->next[s];
            state = s;
        }
    }
    for (int32_t s = 0; s < kFaxViterbiStates; ++s)
        v->metrics[s] = s < kTrellisStates ? static_cast<uint16_t>(v->next[s] - low) : kUnreached;
    // The first symbol comes out once the path memory is full (with the newest, the memory holds
    // kFaxViterbiDepth symbols): no symbol is lost, so the data's octets keep their alignment to the start of
    // the data phase.
    if (v->filled < kFaxViterbiDepth - 1) {
        v->filled += 1;
        return -1;
    }
    // Trace back to the oldest symbol in the path memory.
    int32_t slot = v->newest;
    int32_t entry = 0;
    for (int32_t k = 0; k < kFaxViterbiDepth; ++k) {
        entry = v->survivors[slot * kFaxViterbiStates + state];
        state = (entry >> 16) & 0xFF;
        slot = (slot + kFaxViterbiDepth - 1) % kFaxViterbiDepth;
    }
    return entry & 0xFFFF;
}

int32_t FaxViterbiFlush(FaxRxViterbi* v, int32_t* labels)
{
    const int32_t count = v->filled;
    int32_t state = 0;
    for (int32_t s = 1; s < kTrellisStates; ++s)
        if (v->metrics[s] < v->metrics[state])
            state = s;
    int32_t slot = v->newest;
    for (int32_t k = 0; k < count; ++k) {
        const int32_t entry = v->survivors[slot * kFaxViterbiStates + state];
        labels[count - 1 - k] = entry & 0xFFFF;
        state = (entry >> 16) & 0xFF;
        slot = (slot + kFaxViterbiDepth - 1) % kFaxViterbiDepth;
    }
    v->filled = 0;
    return count;
}
