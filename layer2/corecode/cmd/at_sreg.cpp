#include "layer2/corecode/cmd/at_sreg.h"

#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/cmd/nvram.h"
#include "layer2/corecode/mt/dsp_router.h"

namespace {

constexpr SRegisterDescriptor make_table_entry(uint8_t min, uint8_t max, uint8_t factory)
{
    return SRegisterDescriptor{1, min, max, factory};
}

struct SRegisterTableBuilder {
    SRegisterDescriptor t[S_REGISTER_COUNT];
    constexpr SRegisterTableBuilder() : t{}
    {
        t[0] = make_table_entry(0, 255, 0);
        t[1] = make_table_entry(0, 255, 0);
        t[2] = make_table_entry(0, 127, 43);
        t[3] = make_table_entry(0, 127, 13);
        t[4] = make_table_entry(0, 127, 10);
        t[5] = make_table_entry(0, 127, 8);
        t[6] = make_table_entry(2, 255, 2);
        t[7] = make_table_entry(1, 255, 60);
        t[8] = make_table_entry(0, 255, 2);
        t[9] = make_table_entry(1, 255, 6);
        t[10] = make_table_entry(1, 255, 14);
        t[11] = make_table_entry(50, 255, 70);
        t[12] = make_table_entry(0, 255, 50);
        t[14] = make_table_entry(0, 255, 138);
        t[16] = make_table_entry(0, 255, 0);
        t[18] = make_table_entry(0, 255, 0);
        t[21] = make_table_entry(0, 255, 48);
        t[22] = make_table_entry(0, 255, 118);
        t[23] = make_table_entry(0, 255, 48);
        t[25] = make_table_entry(0, 255, 5);
        t[27] = make_table_entry(0, 255, 64);
        t[30] = make_table_entry(0, 255, 0);
        t[31] = make_table_entry(0, 255, 0);
        t[32] = make_table_entry(0, 32, 32);
        t[33] = make_table_entry(0, 90, 10);
        t[81] = make_table_entry(0, 16, 120);
        t[82] = make_table_entry(0, 16, 90);
        t[83] = make_table_entry(0, 16, 9);
        t[91] = make_table_entry(0, 16, 10);
        t[92] = make_table_entry(0, 16, 10);
        t[93] = make_table_entry(0, 16, 10);
    }
};

constexpr SRegisterTableBuilder kBuilt{};

}  // namespace

const SRegisterDescriptor SRegisterTable[S_REGISTER_COUNT] = {
#define E(n) kBuilt.t[n]
    E(0),   E(1),   E(2),   E(3),   E(4),   E(5),   E(6),   E(7),   E(8),   E(9),   E(10),  E(11),
    E(12),  E(13),  E(14),  E(15),  E(16),  E(17),  E(18),  E(19),  E(20),  E(21),  E(22),  E(23),
    E(24),  E(25),  E(26),  E(27),  E(28),  E(29),  E(30),  E(31),  E(32),  E(33),  E(34),  E(35),
    E(36),  E(37),  E(38),  E(39),  E(40),  E(41),  E(42),  E(43),  E(44),  E(45),  E(46),  E(47),
    E(48),  E(49),  E(50),  E(51),  E(52),  E(53),  E(54),  E(55),  E(56),  E(57),  E(58),  E(59),
    E(60),  E(61),  E(62),  E(63),  E(64),  E(65),  E(66),  E(67),  E(68),  E(69),  E(70),  E(71),
    E(72),  E(73),  E(74),  E(75),  E(76),  E(77),  E(78),  E(79),  E(80),  E(81),  E(82),  E(83),
    E(84),  E(85),  E(86),  E(87),  E(88),  E(89),  E(90),  E(91),  E(92),  E(93),  E(94),  E(95),
    E(96),  E(97),  E(98),  E(99),  E(100), E(101), E(102), E(103), E(104), E(105), E(106), E(107),
    E(108), E(109), E(110), E(111), E(112), E(113), E(114), E(115), E(116), E(117), E(118), E(119),
#undef E
};

void at_sreg_factory(AcuContext* acu)
{
    for (unsigned n = 0; n < S_REGISTER_COUNT; ++n)
        acu->sreg[n] = SRegisterTable[n].exists ? SRegisterTable[n].factory : 0;
}

void at_send_cp_timing(AcuContext* acu)
{
    const bool alternate = (acu->sreg[S_LINE_OPTIONS] & S27_ALTERNATE_TIMING) != 0;
    const uint8_t timing[7] = {
        acu->sreg[S_CARRIER_DETECT_TIME],
        acu->sreg[S_CARRIER_WAIT],
        alternate ? static_cast<uint8_t>(255) : acu->sreg[S_CARRIER_LOSS_TIME],
        acu->set.dial_option,
        alternate ? acu->sreg[S_ALTERNATE_TIMING] : acu->sreg[S_LEVEL_91],
        acu->connection_timing,
        acu->sreg[S_TIMING_108],
    };
    const AcuLineHooks& h = acu->line_hooks;
    if (h.send_cp_timing != nullptr)
        h.send_cp_timing(h.ctx, timing);
    if (alternate && h.speaker_off != nullptr)
        h.speaker_off(h.ctx);
}

void at_apply_auto_answer(AcuContext* acu)
{
    acu->auto_answer = acu->sreg[S_AUTO_ANSWER_RINGS] != 0 ? 1 : 0;
    const AcuLineHooks& h = acu->line_hooks;
    if (h.set_auto_answer != nullptr)
        h.set_auto_answer(h.ctx, acu->auto_answer);
}

namespace {

// The current country's limit for register n: true (and *value limited) when the country has one.
bool country_limit(const AcuContext* acu, uint32_t n, uint32_t value, uint8_t* limited)
{
    if (acu->settings == nullptr)
        return false;
    // The country table is byte-wide: a value above 255 meets the table as 255 (the clamps keep it in range).
    uint8_t v = value > 255 ? static_cast<uint8_t>(255) : static_cast<uint8_t>(value);
    const CountryBlock& b = acu->settings->block;
    if (dsp_apply_s_limit(b.bytes + CB_S_LIMITS, static_cast<uint8_t>(n), &v) == 0)
        return false;
    *limited = v;
    return true;
}

}  // namespace

bool at_sreg_write(AcuContext* acu, uint32_t n, uint32_t value)
{
    if (n >= S_REGISTER_COUNT || !SRegisterTable[n].exists || (n == 30 && value > 255))
        return false;
    const SRegisterDescriptor& d = SRegisterTable[n];
    uint8_t v = 0;
    // A country limit replaces the register's own clamp. The side effects below still follow, so the DSP's
    // timing, the auto-answer option and the non-volatile copies never disagree with the register.
    if (!country_limit(acu, n, value, &v))
        v = value < d.minimum ? d.minimum : value > d.maximum ? d.maximum : static_cast<uint8_t>(value);
    acu->sreg[n] = v;
    if (n == 7 || n == 9 || n == 10)
        at_send_cp_timing(acu);
    if (n == 0)
        at_apply_auto_answer(acu);
    if ((n >= 81 && n <= 83) || (n >= 91 && n <= 93)) {
        const std::size_t offset = n <= 83 ? NV_TX_PARAMS + (n - 81) : NV_TX_LEVELS + (n - 91);
        nv_write(acu->settings, offset, 1, &v);
        const uint8_t sum = nv_checksum(acu->settings);
        nv_write(acu->settings, NV_CHECKSUM, 1, &sum);
    }
    return true;
}

uint8_t at_sreg_read(const AcuContext* acu, uint32_t n)
{
    if (n >= S_REGISTER_COUNT || !SRegisterTable[n].exists)
        return 0;
    return acu->sreg[n];
}
