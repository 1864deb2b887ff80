// The quarter-superconstellation and its inverse, both computed at compile time from the lattice.
#include "layer1/modem/v34/v34_constellation.h"

#include <array>

namespace {

constexpr int kPositions = kV34InverseSide * kV34InverseSide;

constexpr int Energy(const V34Point& p) { return p.x * p.x + p.y * p.y; }

constexpr bool Before(const V34Point& a, const V34Point& b)
{
    return Energy(a) != Energy(b) ? Energy(a) < Energy(b) : a.x < b.x;
}

// Every lattice position of the quarter within the inverse table, in index order.
constexpr std::array<V34Point, kPositions> SortedPositions()
{
    std::array<V34Point, kPositions> all{};
    int n = 0;
    for (int row = 0; row < kV34InverseSide; ++row)
        for (int col = 0; col < kV34InverseSide; ++col)
            all[n++] = V34Point{static_cast<int8_t>(4 * col - 43), static_cast<int8_t>(4 * row - 43)};
    for (int i = 1; i < kPositions; ++i) {  // insertion sort: a compile-time table of 529 entries
        const V34Point p = all[i];
        int j = i;
        for (; j > 0 && Before(p, all[j - 1]); --j)
            all[j] = all[j - 1];
        all[j] = p;
    }
    return all;
}

constexpr std::array<V34Point, kPositions> kSorted = SortedPositions();

constexpr std::array<int16_t, kPositions> InverseTable()
{
    std::array<int16_t, kPositions> inv{};
    for (int16_t& v : inv)
        v = kV34NoPoint;
    for (int i = 0; i < kV34QuarterPoints; ++i)
        inv[((kSorted[i].y + 43) / 4) * kV34InverseSide + (kSorted[i].x + 43) / 4] = static_cast<int16_t>(i);
    return inv;
}

constexpr std::array<int16_t, kPositions> kInverse = InverseTable();

// Points outside the table have a coordinate of magnitude 47 or more: none of them belongs to the quarter.
static_assert(Energy(kSorted[kV34QuarterPoints - 1]) < 47 * 47, "no point beyond the table comes earlier");

}  // namespace

const V34Point* V34QuarterConstellation() { return kSorted.data(); }

int16_t V34InverseConstellation(int32_t column, int32_t row)
{
    if (column < 0 || column >= kV34InverseSide || row < 0 || row >= kV34InverseSide)
        return kV34NoPoint;
    return kInverse[row * kV34InverseSide + column];
}
