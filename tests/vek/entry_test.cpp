// The 58 pump entry points pass their arguments and result through their slot unchanged.
#include <cstring>
#include <type_traits>
#include <utility>

#include "vek_harness.h"

namespace {

// A distinct, recognisable value for argument i of a slot, whatever its type.
template <class T>
T probe_arg(int slot, int i)
{
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(static_cast<std::uintptr_t>(0x100000 * (slot + 1) + 0x1000 * (i + 1)));
    } else if constexpr (std::is_same_v<T, VekC16>) {
        return VekC16{static_cast<std::int16_t>(slot), static_cast<std::int16_t>(-i - 1)};
    } else {
        return static_cast<T>(slot * 16 + i + 1);
    }
}

template <class T>
bool same_arg(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

template <int Slot, class Sig>
struct Probe;
template <int Slot, class R, class... A>
struct Probe<Slot, R(A...)> {
    static inline bool argumentsArrived = false;

    template <std::size_t... I>
    static bool check(std::index_sequence<I...>, A... args)
    {
        return (same_arg(args, probe_arg<A>(Slot, static_cast<int>(I))) && ...);
    }

    static R call(A... args)
    {
        argumentsArrived = check(std::index_sequence_for<A...>{}, args...);
        return static_cast<R>(7000 + Slot);
    }

    // Puts the probe into the slot, calls the named entry point, restores the slot.
    static bool run(R (*entry)(A...)) { return run_with(entry, std::index_sequence_for<A...>{}); }

    template <std::size_t... I>
    static bool run_with(R (*entry)(A...), std::index_sequence<I...>)
    {
        std::atomic<VekAnyFn>& slot = vek_dispatch_table().slot[Slot];
        const VekAnyFn saved = slot.load();
        slot.store(reinterpret_cast<VekAnyFn>(&call));
        argumentsArrived = false;
        const R result = entry(probe_arg<A>(Slot, static_cast<int>(I))...);
        slot.store(saved);
        return argumentsArrived && result == static_cast<R>(7000 + Slot);
    }
};

TEST(VekEntryPoints, PassArgumentsAndResultUnchanged)
{
    vektest::DispatchTableGuard guard;
    int checked = 0;
#define VEK_X_PROBE_E(slot, name)                                                                        \
    EXPECT_TRUE((Probe<slot, VekSig_##name>::run(name))) << #name;                                       \
    ++checked;
#define VEK_X_PROBE_N(slot, name)
#define VEK_X_PROBE(slot, name, ret, params, entry) VEK_X_PROBE_##entry(slot, name)
    VEK_SLOT_LIST(VEK_X_PROBE)
#undef VEK_X_PROBE
#undef VEK_X_PROBE_E
#undef VEK_X_PROBE_N
    EXPECT_EQ(checked, VEK_ENTRY_COUNT);
}

// Calls a slot's function in one column with recognisable arguments; only used on placeholders, which
// never look at their arguments.
template <int Slot, class R, class... A>
VekStatus call_placeholder(R (*fn)(A...))
{
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        return static_cast<VekStatus>(fn(probe_arg<A>(Slot, static_cast<int>(I))...));
    }(std::index_sequence_for<A...>{});
}

TEST(VekEntryPoints, PlaceholdersAnswerModeNotSupported)
{
    int placeholders = 0;
    for (int column : vektest::kColumns) {
#define VEK_X_PLACEHOLDER(slot, name, ret, params, entry)                                                \
        if constexpr (std::is_same_v<ret, VekStatus>) {                                                   \
            if (vek_is_placeholder(slot, column)) {                                                       \
                ++placeholders;                                                                           \
                EXPECT_EQ(call_placeholder<slot>(vek_variant<slot>(column)), VEK_ERR_MODE_NOT_SUPPORTED)   \
                    << #name << " " << vektest::column_name(column);                                      \
            }                                                                                             \
        }
        VEK_SLOT_LIST(VEK_X_PLACEHOLDER)
#undef VEK_X_PLACEHOLDER
    }
    RecordProperty("placeholder_functions", placeholders);
}

} // namespace
