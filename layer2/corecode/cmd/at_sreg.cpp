#include "layer2/corecode/cmd/at_sreg.h"

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

bool at_sreg_write(AcuContext* acu, uint32_t n, uint32_t value)
{
    if (n >= S_REGISTER_COUNT || !SRegisterTable[n].exists || (n == 30 && value > 255))
        return false;
    const SRegisterDescriptor& d = SRegisterTable[n];
    uint8_t v = value < d.minimum ? d.minimum : value > d.maximum ? d.maximum : static_cast<uint8_t>(value);
    acu->sreg[n] = v;
    // Seams for the rest of the write: the call-progress timing resent to the DSP for S7, S9 and S10, the
    // auto-answer option for S0 and the non-volatile copies of S81-S83 and S91-S93 come with the DSP link
    // and the stored profiles.
    return true;
}

uint8_t at_sreg_read(const AcuContext* acu, uint32_t n)
{
    if (n >= S_REGISTER_COUNT || !SRegisterTable[n].exists)
        return 0;
    return acu->sreg[n];
}
