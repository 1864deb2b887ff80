// The dispatch table of the library, its variant rows, the pump entry points, the registration of family
// functions into the rows, and the hooks that reach every column directly.
//
// VekDispatchTable holds one function per slot; until a column is selected it holds the gen column. The data
// pumps call the 58 entry points (slot names without a suffix, e.g. vek_copy_8(...)), each of which calls
// through its slot. The library's own code never calls through the table.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "layer1/vek/core/vek_slot_list.h"
#include "layer1/vek/core/vek_status.h"
#include "layer1/vek/core/vek_types.h"

// A function of any slot, as stored in the table and the rows. Each slot's real type is VekSlotFn<slot>.
using VekAnyFn = void (*)();

// Signature of every slot: VekSig_<name>.
#define VEK_X_SIG(slot, name, ret, params, entry) using VekSig_##name = ret params;
VEK_SLOT_LIST(VEK_X_SIG)
#undef VEK_X_SIG

// Slot numbers by name: VekSlot::vek_copy_8 == 14.
struct VekSlot {
#define VEK_X_ID(slot, name, ret, params, entry) name = slot,
    enum : int { VEK_SLOT_LIST(VEK_X_ID) };
#undef VEK_X_ID
};

// Typed access to a slot's signature.
template <int Slot>
struct VekSlotTraits;
#define VEK_X_TRAITS(slot, name, ret, params, entry)                                                   \
    template <>                                                                                      \
    struct VekSlotTraits<slot> {                                                                     \
        using Sig = VekSig_##name;                                                                   \
    };
VEK_SLOT_LIST(VEK_X_TRAITS)
#undef VEK_X_TRAITS

template <int Slot>
using VekSlotFn = typename VekSlotTraits<Slot>::Sig*;

// The 252 slots. Each slot is written by one atomic store, so a call through a slot during a repeated
// selection always finds a valid function.
struct VekDispatchTable {
    std::atomic<VekAnyFn> slot[VEK_SLOT_COUNT];
};

// One row per slot: the address of its slot, then the gen, mm, ss and wd functions (column index =
// VekCpuType). On 64-bit the row is five pointers, not five 32-bit words.
struct VekVariantRow {
    std::atomic<VekAnyFn>* slot;
    VekAnyFn variant[VEK_COLUMN_COUNT];
};

// The dispatch table (built on first use: gen column) and the variant table with its row count.
VekDispatchTable& vek_dispatch_table();
const VekVariantRow* vek_variant_table();
extern const std::int32_t vek_variant_row_count;

// ---- Entry points -------------------------------------------------------------------------------------

template <int Slot, class Sig>
struct VekEntry;
template <int Slot, class R, class... A>
struct VekEntry<Slot, R(A...)> {
    static R call(A... args)
    {
        const VekAnyFn fn = vek_dispatch_table().slot[Slot].load(std::memory_order_relaxed);
        return reinterpret_cast<R (*)(A...)>(fn)(args...);
    }
};

// The 58 entry points, named after their slots: each calls through its slot with the caller's arguments.
#define VEK_X_ENTRY_E(slot, name) inline constexpr VekSig_##name* name = &VekEntry<slot, VekSig_##name>::call;
#define VEK_X_ENTRY_N(slot, name)
#define VEK_X_ENTRY(slot, name, ret, params, entry) VEK_X_ENTRY_##entry(slot, name)
VEK_SLOT_LIST(VEK_X_ENTRY)
#undef VEK_X_ENTRY
#undef VEK_X_ENTRY_E
#undef VEK_X_ENTRY_N

// ---- Registration of family functions -------------------------------------------------------------------

// Given to each family's registration function while the variant table is built (once, on first use).
// set<VekSlot::name>(gen, mm, ss, wd) fills one row; the functions must have exactly the slot's signature.
class VekRowWriter {
public:
    VekRowWriter(VekVariantRow* rows, const char** owners, const char* family)
        : rows_(rows), owners_(owners), family_(family)
    {
    }

    template <int Slot>
    void set(VekSlotFn<Slot> gen, VekSlotFn<Slot> mm, VekSlotFn<Slot> ss, VekSlotFn<Slot> wd)
    {
        static_assert(Slot >= 0 && Slot < VEK_SLOT_COUNT, "slot out of range");
        put(Slot, reinterpret_cast<VekAnyFn>(gen), reinterpret_cast<VekAnyFn>(mm),
            reinterpret_cast<VekAnyFn>(ss), reinterpret_cast<VekAnyFn>(wd));
    }

    // One function serves all four columns.
    template <int Slot>
    void set_all(VekSlotFn<Slot> fn)
    {
        set<Slot>(fn, fn, fn, fn);
    }

private:
    void put(int slot, VekAnyFn gen, VekAnyFn mm, VekAnyFn ss, VekAnyFn wd);

    VekVariantRow* rows_;
    const char** owners_;
    const char* family_;
};

// Each family folder defines its registration function in its own <family>_slots.cpp. The core calls every
// one of them by name when it builds the variant table, so none can drop out of the link. A family that is
// not built yet leaves its rows holding placeholders that return VEK_ERR_MODE_NOT_SUPPORTED.
#define VEK_FAMILY_LIST(X) X(core) X(fir) X(lms) X(trellis) X(util) X(arith) X(iir) X(fft)
#define VEK_X_FAMILY_DECL(family) void vek_register_##family(VekRowWriter& rows);
VEK_FAMILY_LIST(VEK_X_FAMILY_DECL)
#undef VEK_X_FAMILY_DECL

// ---- Hooks for tests and diagnostics ---------------------------------------------------------------

// The function of one slot in one column, typed. Every column runs on every x86-64 machine.
template <int Slot>
VekSlotFn<Slot> vek_variant(int column)
{
    return reinterpret_cast<VekSlotFn<Slot>>(vek_variant_table()[Slot].variant[column]);
}

// The function the dispatch table holds now for a slot, typed.
template <int Slot>
VekSlotFn<Slot> vek_dispatched()
{
    return reinterpret_cast<VekSlotFn<Slot>>(vek_dispatch_table().slot[Slot].load(std::memory_order_relaxed));
}

// API name of a slot; whether the pumps reach it through an entry point; the family that registered it
// (null while it holds placeholders).
const char* vek_slot_name(int slot);
bool vek_slot_is_entry(int slot);
const char* vek_slot_family(int slot);

// True when a row's entry in a column is still the placeholder of that slot.
bool vek_is_placeholder(int slot, int column);
