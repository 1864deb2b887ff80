// Nearest-value search in an ascending table of unsigned 16-bit values. Comparisons are unsigned; a value halfway
// between two entries takes the lower one. The binary search only ever reads inside the table, so a table that is
// not ascending gives some entry but never an access outside it.
#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/util.h"

namespace {

int32_t nearest_index(uint16_t v, const uint16_t* t, int32_t len) {
    if (v <= t[0]) return 0;
    const int32_t last = len - 1;
    if (v >= t[last]) return last;
    int32_t base = 0, m = last;
    while (m > 1) {
        const int32_t h = m / 2;
        if (v < t[base + h]) {
            m = h;
        } else {
            base += h;
            m -= h;
        }
    }
    const int32_t above = int32_t{t[base + 1]} - v, below = int32_t{v} - t[base];
    return above < below ? base + 1 : base;
}

void fill_single(const uint16_t* table, uint16_t* entries, int32_t* indices, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        entries[i] = table[0];
        indices[i] = 0;
    }
}

VekStatus check_one(const uint16_t* entry, const int32_t* index, const uint16_t* table, int32_t len) {
    if (entry == nullptr || index == nullptr || table == nullptr) return VEK_ERR_NULL_POINTER;
    if (len <= 0) return VEK_ERR_SIZE;
    return VEK_OK;
}

VekStatus check_vec(const uint16_t* src, const uint16_t* entries, const int32_t* indices, int32_t n,
                    const uint16_t* table, int32_t len) {
    if (src == nullptr || entries == nullptr || indices == nullptr || table == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0 || len <= 0) return VEK_ERR_SIZE;
    return VEK_OK;
}

// The wd, ss and mm forms handle a one-entry table themselves and call the kernel otherwise.
VekStatus find_vec_simd_column(const uint16_t* src, uint16_t* entries, int32_t* indices, int32_t n,
                               const uint16_t* table, int32_t len) {
    if (VekStatus st = check_vec(src, entries, indices, n, table, len); st != VEK_OK) return st;
    if (len == 1) {
        fill_single(table, entries, indices, n);
    } else {
        vek_find_nearest_kernel(src, entries, indices, n, table, len);
    }
    return VEK_OK;
}

}  // namespace

void vek_find_nearest_one_kernel(uint16_t value, uint16_t* entry, int32_t* index, const uint16_t* table,
                                 int32_t len) {
    const int32_t i = nearest_index(value, table, len);
    *entry = table[i];
    *index = i;
}

void vek_find_nearest_kernel(const uint16_t* src, uint16_t* entries, int32_t* indices, int32_t n,
                             const uint16_t* table, int32_t len) {
    for (int32_t k = 0; k < n; ++k) {
        const int32_t i = nearest_index(src[k], table, len);
        entries[k] = table[i];
        indices[k] = i;
    }
}

VekStatus vek_find_nearest_one_gen(uint16_t value, uint16_t* entry, int32_t* index, const uint16_t* table,
                                   int32_t len) {
    if (VekStatus st = check_one(entry, index, table, len); st != VEK_OK) return st;
    const int32_t i = len == 1 ? 0 : nearest_index(value, table, len);
    *entry = table[i];
    *index = i;
    return VEK_OK;
}

VekStatus vek_find_nearest_one_wd(uint16_t value, uint16_t* entry, int32_t* index, const uint16_t* table,
                                  int32_t len) {
    if (VekStatus st = check_one(entry, index, table, len); st != VEK_OK) return st;
    if (len == 1) {
        *entry = table[0];
        *index = 0;
    } else {
        vek_find_nearest_one_kernel(value, entry, index, table, len);
    }
    return VEK_OK;
}

VekStatus vek_find_nearest_gen(const uint16_t* src, uint16_t* entries, int32_t* indices, int32_t n,
                               const uint16_t* table, int32_t len) {
    if (VekStatus st = check_vec(src, entries, indices, n, table, len); st != VEK_OK) return st;
    if (len == 1) {
        fill_single(table, entries, indices, n);
        return VEK_OK;
    }
    for (int32_t k = 0; k < n; ++k) {
        const int32_t i = nearest_index(src[k], table, len);
        entries[k] = table[i];
        indices[k] = i;
    }
    return VEK_OK;
}
VekStatus vek_find_nearest_mm(const uint16_t* s, uint16_t* e, int32_t* x, int32_t n, const uint16_t* t, int32_t len) {
    return find_vec_simd_column(s, e, x, n, t, len);
}
VekStatus vek_find_nearest_ss(const uint16_t* s, uint16_t* e, int32_t* x, int32_t n, const uint16_t* t, int32_t len) {
    return find_vec_simd_column(s, e, x, n, t, len);
}
VekStatus vek_find_nearest_wd(const uint16_t* s, uint16_t* e, int32_t* x, int32_t n, const uint16_t* t, int32_t len) {
    return find_vec_simd_column(s, e, x, n, t, len);
}
