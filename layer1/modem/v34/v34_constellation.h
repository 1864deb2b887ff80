// The V.34 superconstellation: its quarter (the points whose coordinates are both 1 mod 4, in units where the
// grid spacing is 2) in index order, and the inverse table from a point's position to its index. The other
// three quarters are the quarter rotated by 90, 180 and 270 degrees.
#pragma once

#include <cstdint>

constexpr int kV34QuarterPoints = 416;   // the largest constellation: 13 rings of 32 points
constexpr int kV34InverseSide = 23;      // coordinates -43 ... 45 in steps of 4
constexpr int16_t kV34NoPoint = 999;

struct V34Point {
    int8_t x;
    int8_t y;
};

// Point i of the quarter: ordered by energy x^2 + y^2, points of equal energy by x.
const V34Point* V34QuarterConstellation();
// The index of the quarter point at column (x + 43) / 4 and row (y + 43) / 4, or kV34NoPoint.
int16_t V34InverseConstellation(int32_t column, int32_t row);
