// Trellis branch metrics: for each of the 8 subsets the nearest point to the received point and its
// distance, found without measuring all 16 to 128 points.
//
// Per trellis rate a grid of unit cells covers the constellation with a margin; each cell lists, per subset,
// the points that can be nearest anywhere in the cell: those no farther from the cell's centre than the
// nearest one plus the cell's diagonal (a point nearer somewhere in the cell than the centre's nearest cannot
// be farther from the centre than that). The lists hold labels in rising order, so ties fall to the lowest
// label as in a search of every point. Outside the grid every point is searched.
#include "layer1/modem/common/trellis_qam.h"
#include "layer1/modem/v32/v32.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

constexpr int32_t kMargin = 3;       // cells beyond the outermost point
constexpr double kDiagonal = 1.4143;  // of a unit cell, rounded up

struct Grid {
    int32_t half = 0;                        // the grid spans -half .. half units on each axis
    int32_t side = 0;                        // cells per axis
    std::vector<uint16_t> first;             // per cell and subset: index into labels
    std::vector<uint8_t> count;              // per cell and subset: labels listed
    std::vector<uint8_t> labels;
};

Grid Build(int32_t dataBits)
{
    Grid g;
    const TrellisPoint* c = TrellisQamConstellation(dataBits);
    const int32_t n = TrellisQamPoints(dataBits);
    int32_t extent = 0;
    for (int32_t k = 0; k < n; ++k)
        extent = std::max({extent, std::abs(static_cast<int32_t>(c[k].re)), std::abs(static_cast<int32_t>(c[k].im))});
    g.half = extent + kMargin;
    g.side = 2 * g.half;
    const size_t cells = static_cast<size_t>(g.side) * static_cast<size_t>(g.side);
    g.first.resize(cells * 8);
    g.count.resize(cells * 8);
    for (int32_t row = 0; row < g.side; ++row) {
        for (int32_t col = 0; col < g.side; ++col) {
            const double cx = col - g.half + 0.5, cy = row - g.half + 0.5;
            for (int32_t s = 0; s < 8; ++s) {
                double nearest = 1e30;
                for (int32_t k = s; k < n; k += 8)
                    nearest = std::min(nearest, std::hypot(c[k].re - cx, c[k].im - cy));
                const size_t at = (static_cast<size_t>(row) * static_cast<size_t>(g.side) + static_cast<size_t>(col)) * 8 +
                                  static_cast<size_t>(s);
                g.first[at] = static_cast<uint16_t>(g.labels.size());
                for (int32_t k = s; k < n; k += 8) {
                    if (std::hypot(c[k].re - cx, c[k].im - cy) <= nearest + kDiagonal) {
                        g.labels.push_back(static_cast<uint8_t>(k));
                        g.count[at] += 1;
                    }
                }
            }
        }
    }
    return g;
}

const Grid& GridOf(int32_t dataBits)
{
    static const std::array<Grid, 4> grids = {Build(3), Build(4), Build(5), Build(6)};
    return grids[static_cast<size_t>(dataBits - 3)];
}

// As the fax decoder measures: squared distance in 1024ths of a unit, >> 8.
int32_t Distance(V32Point p, TrellisPoint q)
{
    const int64_t dr = static_cast<int64_t>(p.re) - q.re * kV32Unit;
    const int64_t di = static_cast<int64_t>(p.im) - q.im * kV32Unit;
    const int64_t d = (dr * dr + di * di) >> 8;
    return d > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(d);
}

}  // namespace

void V32SubsetMetrics(int32_t dataBits, V32Point p, int32_t* best, int32_t* label)
{
    const TrellisPoint* c = TrellisQamConstellation(dataBits);
    for (int32_t s = 0; s < 8; ++s)
        best[s] = 0x7FFFFFFF, label[s] = s;
    const Grid& g = GridOf(dataBits);
    // Cell of the point: floor division by the unit, shifted to the grid's corner.
    const int64_t col = (static_cast<int64_t>(p.re) >> 10) + g.half;
    const int64_t row = (static_cast<int64_t>(p.im) >> 10) + g.half;
    if (col < 0 || row < 0 || col >= g.side || row >= g.side) {
        for (int32_t k = 0; k < TrellisQamPoints(dataBits); ++k) {
            const int32_t d = Distance(p, c[k]);
            if (d < best[k & 7]) {
                best[k & 7] = d;
                label[k & 7] = k;
            }
        }
        return;
    }
    const size_t at = (static_cast<size_t>(row) * static_cast<size_t>(g.side) + static_cast<size_t>(col)) * 8;
    for (int32_t s = 0; s < 8; ++s) {
        const uint8_t* list = &g.labels[g.first[at + static_cast<size_t>(s)]];
        for (int32_t j = 0; j < g.count[at + static_cast<size_t>(s)]; ++j) {
            const int32_t d = Distance(p, c[list[j]]);
            if (d < best[s]) {
                best[s] = d;
                label[s] = list[j];
            }
        }
    }
}
