// Builds the variant table from the families' registrations and the dispatch table from its gen column.
#include "layer1/vek/core/vek_dispatch.h"

#include <cassert>
#include <type_traits>

namespace {

// A placeholder per slot: the function of a slot whose family is not built yet.
template <int Slot, class Sig>
struct VekPlaceholder;
template <int Slot, class R, class... A>
struct VekPlaceholder<Slot, R(A...)> {
    static R call(A...)
    {
        if constexpr (std::is_same_v<R, VekStatus>) {
            return VEK_ERR_MODE_NOT_SUPPORTED;
        } else if constexpr (!std::is_void_v<R>) {
            return R{};
        }
    }
};

#define VEK_X_PLACEHOLDER(slot, name, ret, params, entry) \
    reinterpret_cast<VekAnyFn>(&VekPlaceholder<slot, VekSig_##name>::call),
const VekAnyFn kPlaceholders[VEK_SLOT_COUNT] = {VEK_SLOT_LIST(VEK_X_PLACEHOLDER)};
#undef VEK_X_PLACEHOLDER

#define VEK_X_NAME(slot, name, ret, params, entry) #name,
const char* const kSlotNames[VEK_SLOT_COUNT] = {VEK_SLOT_LIST(VEK_X_NAME)};
#undef VEK_X_NAME

#define VEK_X_IS_ENTRY(slot, name, ret, params, entry) (#entry[0] == 'E'),
const bool kSlotIsEntry[VEK_SLOT_COUNT] = {VEK_SLOT_LIST(VEK_X_IS_ENTRY)};
#undef VEK_X_IS_ENTRY

// Slot numbers in the list must be 0..251 in order.
#define VEK_X_ORDER(slot, name, ret, params, entry) slot,
constexpr int kSlotOrder[VEK_SLOT_COUNT] = {VEK_SLOT_LIST(VEK_X_ORDER)};
#undef VEK_X_ORDER
constexpr bool slots_in_order()
{
    for (int i = 0; i < VEK_SLOT_COUNT; ++i) {
        if (kSlotOrder[i] != i) {
            return false;
        }
    }
    return true;
}
static_assert(slots_in_order(), "the slot list must hold slots 0..251 in order");

struct VekLibrary {
    VekDispatchTable table;
    VekVariantRow rows[VEK_SLOT_COUNT];
    const char* owners[VEK_SLOT_COUNT];
};

VekLibrary* build_library()
{
    static VekLibrary lib;
    for (int i = 0; i < VEK_SLOT_COUNT; ++i) {
        lib.rows[i].slot = &lib.table.slot[i];
        for (int c = 0; c < VEK_COLUMN_COUNT; ++c) {
            lib.rows[i].variant[c] = kPlaceholders[i];
        }
        lib.owners[i] = nullptr;
    }
#define VEK_X_FAMILY_CALL(family)                                 \
    {                                                             \
        VekRowWriter writer(lib.rows, lib.owners, #family);       \
        vek_register_##family(writer);                            \
    }
    VEK_FAMILY_LIST(VEK_X_FAMILY_CALL)
#undef VEK_X_FAMILY_CALL
    // Before any selection every slot holds the gen column.
    for (int i = 0; i < VEK_SLOT_COUNT; ++i) {
        lib.table.slot[i].store(lib.rows[i].variant[VEK_CPU_GEN], std::memory_order_relaxed);
    }
    return &lib;
}

VekLibrary& library()
{
    static VekLibrary* const lib = build_library();
    return *lib;
}

} // namespace

const std::int32_t vek_variant_row_count = VEK_SLOT_COUNT;

void VekRowWriter::put(int slot, VekAnyFn gen, VekAnyFn mm, VekAnyFn ss, VekAnyFn wd)
{
    // A row belongs to one family; a second registration is a mistake in the families' slot files.
    assert(owners_[slot] == nullptr && "slot registered twice");
    owners_[slot] = family_;
    VekVariantRow& row = rows_[slot];
    row.variant[VEK_CPU_GEN] = gen;
    row.variant[VEK_CPU_MM] = mm;
    row.variant[VEK_CPU_SS] = ss;
    row.variant[VEK_CPU_WD] = wd;
}

VekDispatchTable& vek_dispatch_table()
{
    return library().table;
}

const VekVariantRow* vek_variant_table()
{
    return library().rows;
}

const char* vek_slot_name(int slot)
{
    return (slot >= 0 && slot < VEK_SLOT_COUNT) ? kSlotNames[slot] : nullptr;
}

bool vek_slot_is_entry(int slot)
{
    return slot >= 0 && slot < VEK_SLOT_COUNT && kSlotIsEntry[slot];
}

const char* vek_slot_family(int slot)
{
    return (slot >= 0 && slot < VEK_SLOT_COUNT) ? library().owners[slot] : nullptr;
}

bool vek_is_placeholder(int slot, int column)
{
    if (slot < 0 || slot >= VEK_SLOT_COUNT || column < 0 || column >= VEK_COLUMN_COUNT) {
        return false;
    }
    return library().rows[slot].variant[column] == kPlaceholders[slot];
}
