// Shapes of the three trellis codes and the rules the primitives share.
#pragma once

#include <array>
#include <cstdint>

namespace vek_trellis {

// State count 16: 4 2D subsets, 8 4D subsets, 4 branches per state; 32: 8, 16, 8; any other value: 64
// states with 8, 32, 16.
struct Shape {
  int32_t states;
  int32_t subsets2d;
  int32_t records4d;
  int32_t branches;
};

constexpr Shape ShapeOf(int32_t states) {
  if (states == 16) return Shape{16, 4, 8, 4};
  if (states == 32) return Shape{32, 8, 16, 8};
  return Shape{64, 8, 32, 16};
}

// The pairs (first 2D subset, second 2D subset) whose best sum 4D record i keeps, k = i XOR mask already
// bounded to the record count. Returns the number of pairs (2 or 4), earlier pairs winning ties.
struct Pairs {
  int32_t count;
  int32_t a[4];
  int32_t b[4];
};

constexpr Pairs PairsOf(int32_t states, int32_t i, int32_t k) {
  Pairs p{};
  if (states == 16) {
    const int32_t a0 = k >> 2;
    const int32_t b0 = (k + (k >> 2)) & 3;
    p.count = 2;
    p.a[0] = a0, p.b[0] = b0;
    p.a[1] = (a0 + 2) & 3, p.b[1] = (b0 + 2) & 3;
  } else if (states == 32) {
    const int32_t j = ((i >> 3) & 1) ? k + 16 : k;
    const int32_t a0 = (j ^ 8) >> 2;
    const int32_t b0 = ((j ^ 8) + a0) & 3;
    const int32_t a2 = j >> 2;
    const int32_t b2 = (j + a2) & 3;
    p.count = 4;
    p.a[0] = a0, p.b[0] = b0;
    p.a[1] = (a0 + 4) & 7, p.b[1] = b0 + 4;
    p.a[2] = a2, p.b[2] = b2;
    p.a[3] = (a2 + 4) & 7, p.b[3] = b2 + 4;
  } else {
    const int32_t a0 = k >> 2;
    const int32_t b0 = (k + a0) & 3;
    p.count = 2;
    p.a[0] = a0, p.b[0] = b0;
    p.a[1] = (a0 + 4) & 7, p.b[1] = b0 + 4;
  }
  return p;
}

// Next states of the 32-state code's states 0-3 through branches 0-7 (4D subset (i mod 2) + 2j). A 32-state
// transition table must begin with exactly these rows; the ss and wd columns take them from here.
inline constexpr uint8_t kFixed32[4][8] = {
    {0, 4, 9, 13, 2, 6, 11, 15},
    {16, 20, 25, 29, 18, 22, 27, 31},
    {1, 5, 8, 12, 3, 7, 10, 14},
    {17, 21, 24, 28, 19, 23, 26, 30},
};

inline int32_t Distance(int32_t entry) { return entry & 0xFFFF; }
inline int32_t Code(int32_t entry) { return static_cast<int32_t>(static_cast<uint32_t>(entry) >> 16) & 0xFF; }

}  // namespace vek_trellis
