// What the LMS family takes from the library core: status codes and the aligned allocation of each column.
// Stand-in until the core lands; every use in the family goes through these names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

using VekStatus = int32_t;
inline constexpr VekStatus VEK_OK = 0;
inline constexpr VekStatus VEK_ERR_BAD_ARG = -5;
inline constexpr VekStatus VEK_ERR_SIZE = -6;
inline constexpr VekStatus VEK_ERR_NULL_POINTER = -8;
inline constexpr VekStatus VEK_ERR_NO_MEMORY = -9;
inline constexpr VekStatus VEK_ERR_CONTEXT_MISMATCH = -17;
inline constexpr VekStatus VEK_ERR_DELAY_INDEX = -24;

namespace vek_lms_link {

inline void* Alloc(int /*column*/, std::size_t bytes) {
  return ::operator new(bytes, std::align_val_t{32}, std::nothrow);
}
inline void Free(void* p) { ::operator delete(p, std::align_val_t{32}); }

}  // namespace vek_lms_link
