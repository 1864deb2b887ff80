// 2D branch metrics: the distance from a received point to the nearest candidate point of every 2D subset.
//
// Constellation points lie on the odd multiples of 128 in both coordinates. The received point falls in the
// cell whose lower-left corner is the grid point at or below it; the label map (16 bytes, a 4 x 4 period of
// the grid) names the subset of each grid position. Codes 0-3 are the cell's four corners. With 8 subsets,
// each of the other four entries is the nearer of two points of that entry's subset: the subsets repeat with
// the differences (2, 2) and (2, -2) in columns and rows, so the two candidates of an entry differ by one of
// these and both differ from the entry's label position by one too. Codes 6, 7, 10 and 11 name the points
// (c+1, r-1), (c+2, r+1), (c-1, r+1) and (c, r-1), the offsets the decoder adds back for these codes.
#include "layer1/vek/trellis/trellis.h"

namespace vek_trellis {
namespace {

// Each term is a square shifted right by 4 on its own (truncating).
constexpr int32_t Term(int32_t d) { return (d * d) >> 4; }

struct Cell {
  const uint8_t* map;
  int32_t c, r, mask;
  int32_t* out;

  int32_t Subset(int32_t dc, int32_t dr) const { return map[4 * ((r + dr) & 3) + ((c + dc) & 3)] & mask; }
  void Put(int32_t dc, int32_t dr, int32_t code, int32_t dist) const { out[Subset(dc, dr)] = dist + code * 65536; }
  // The first candidate is taken only when strictly nearer.
  void PutNearer(int32_t dc, int32_t dr, int32_t code1, int32_t dist1, int32_t code2, int32_t dist2) const {
    if (dist1 < dist2) {
      Put(dc, dr, code1, dist1);
    } else {
      Put(dc, dr, code2, dist2);
    }
  }
};

}  // namespace
}  // namespace vek_trellis

VekStatus vek_trellis_metric_2d_gen(const int16_t* point, int32_t* corner, int32_t* metrics2d,
                                    const uint8_t* labelMap, int32_t states) {
  using vek_trellis::Term;
  if (point == nullptr || corner == nullptr || metrics2d == nullptr || labelMap == nullptr) {
    return VEK_ERR_NULL_POINTER;
  }
  const int32_t x = point[0];
  const int32_t y = point[1];
  const int32_t fx = (x & 255) ^ 128;  // offset from the grid point at or below, 0..255
  const int32_t fy = (y & 255) ^ 128;
  const int32_t cornerX = x - fx;
  const int32_t cornerY = y - fy;
  *corner = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(cornerX)) |
                                 (static_cast<uint32_t>(static_cast<uint16_t>(cornerY)) << 16));
  const vek_trellis::Cell cell{labelMap, (((cornerX - 128) >> 8) + 2) & 3, (((cornerY - 128) >> 8) + 2) & 3,
                               states == 16 ? 3 : 7, metrics2d};
  cell.Put(0, 0, 0, Term(fx) + Term(fy));
  cell.Put(1, 0, 1, Term(256 - fx) + Term(fy));
  cell.Put(1, 1, 2, Term(256 - fx) + Term(256 - fy));
  cell.Put(0, 1, 3, Term(fx) + Term(256 - fy));
  if (states == 16) return VEK_OK;
  cell.PutNearer(0, 2, 4, Term(fx) + Term(512 - fy), 8, Term(512 - fx) + Term(fy));
  cell.PutNearer(1, 2, 5, Term(256 - fx) + Term(512 - fy), 9, Term(256 + fx) + Term(fy));
  cell.PutNearer(1, 3, 6, Term(256 - fx) + Term(256 + fy), 10, Term(256 + fx) + Term(256 - fy));
  cell.PutNearer(0, 3, 7, Term(512 - fx) + Term(256 - fy), 11, Term(fx) + Term(256 + fy));
  return VEK_OK;
}
