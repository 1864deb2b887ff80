// What the arithmetic and utility families take from the library core: status codes, complex element records
// and each column's copy and zero primitives.
#pragma once

#include <cstdint>
#include <cstring>

using VekStatus = int32_t;
inline constexpr VekStatus VEK_OK = 0;
inline constexpr VekStatus VEK_ERR_SIZE = -6;
inline constexpr VekStatus VEK_ERR_NULL_POINTER = -8;
inline constexpr VekStatus VEK_ERR_DIV_BY_ZERO = -10;
inline constexpr VekStatus VEK_ERR_SAMPLE_PHASE = -30;
inline constexpr VekStatus VEK_ERR_SAMPLE_FACTOR = -31;

struct VekComplex16 {
  int16_t re;
  int16_t im;
};
struct VekComplex32 {
  int32_t re;
  int32_t im;
};

namespace vek::core_link {

enum Column { kGen = 0, kMm = 1, kSs = 2, kWd = 3 };

template <Column>
inline VekStatus zero16(int16_t* dst, int32_t n) {
  std::memset(dst, 0, static_cast<size_t>(n) * 2);
  return VEK_OK;
}
template <Column>
inline VekStatus zero32(int32_t* dst, int32_t n) {
  std::memset(dst, 0, static_cast<size_t>(n) * 4);
  return VEK_OK;
}
template <Column>
inline VekStatus copy16(const int16_t* src, int16_t* dst, int32_t n) {
  std::memcpy(dst, src, static_cast<size_t>(n) * 2);
  return VEK_OK;
}

}  // namespace vek::core_link

namespace vek::core_link {

// The x87 control word: read it, and load a new one.
inline uint16_t x87_control() {
  uint16_t cw;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  return cw;
}
inline void x87_load_control(uint16_t cw) { __asm__ __volatile__("fldcw %0" : : "m"(cw)); }

}  // namespace vek::core_link
