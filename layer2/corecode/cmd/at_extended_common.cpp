// The modulation table of +MS, the factory values of the extended settings, the V.8/V.80 reset and the
// unsolicited V.8 indications.
#include <cstring>

#include "layer2/corecode/cmd/at_ext.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/dte/dte.h"

// clang-format off
const MsModulationRow MsModulation[MS_ROWS] = {
    {"BELL103", 0, 300, 300, 300, 300},
    {"V21", 2, 300, 300, 300, 300},
    {"V23C", 4, 75, 1200, 75, 1200},
    {"BELL212", 1, 1200, 1200, 1200, 1200},
    {"V22", 6, 1200, 1200, 1200, 1200},
    {"V22B", 7, 2400, 2400, 2400, 2400},
    {"V32", 12, 4800, 9600, 4800, 9600},
    {"V32B", 16, 4800, 14400, 4800, 14400},
    {"V34", 18, 2400, 33600, 2400, 33600},
    {"V90", 23, 2400, 33600, 28000, 57333},
};
// clang-format on

int ms_row_of_code(uint8_t code)
{
    for (unsigned k = 0; k < MS_ROWS; ++k)
        if (MsModulation[k].code == code)
            return static_cast<int>(k);
    return -1;
}

void at_v8_v80_reset(AcuContext* acu)
{
    AtExtSettings* e = &acu->ext;
    e->a8e[0] = 1;
    e->a8e[1] = 1;
    e->a8e[2] = 0xC1;
    e->a8e[3] = 0;
    e->a8j_mark = 0;
    e->v8_loaded = 0;
    const uint8_t esa[8] = {0, 0, 1, 0, 0, 0, 126, 126};
    std::memcpy(e->esa, esa, sizeof esa);
}

void at_ext_factory(AcuContext* acu)
{
    AtExtSettings* e = &acu->ext;
    AtSettings* s = &acu->set;
    e->ms_row = static_cast<uint8_t>(ms_row_of_code(23));
    e->ms_automode = 1;
    std::memset(e->ms_rate, 0, sizeof e->ms_rate);
    e->v92_mark = 0;
    // Limits from the V90 row's own table (its receive maximum is 57333); every row selected.
    ms_rebuild_selection(acu);
    e->ma_given = 0;
    s->ma_mark = 1;
    s->es[0] = 3;
    s->es[1] = 0;
    s->es[2] = 2;
    s->break_type = 3;
    s->break_timed = 0;
    s->break_length = 30;
    s->ds[0] = 3;
    s->ds[1] = 0;
    s->ds[2] = 2048;
    s->ds[3] = 32;
    s->ds_copy = 3;
    e->etbm[0] = 0;
    e->etbm[1] = 0;
    e->etbm[2] = 2000;
    s->ifc[0] = 2;
    s->ifc[1] = 2;
    e->esr = 1;
    e->efcs = 0;
    s->dr = s->er = s->mr = s->ilrr = 0;
    const uint16_t ds44[9] = {3, 0, 0, 1024, 1024, 255, 255, 5120, 5120};
    std::memcpy(e->ds44, ds44, sizeof ds44);
    at_v8_v80_reset(acu);
    if (acu->dte != nullptr)
        dte_set_flow_thresholds(acu->dte, 320, 192);
}

void at_report_a8(AcuContext* acu, uint8_t kind, const uint8_t* data, bool answering)
{
    if ((acu->sreg[S_OPTIONS] & S14_VERBAL) == 0 || data == nullptr)
        return;
    const AtExtSettings* e = &acu->ext;
    const bool answer5 = e->a8e[1] == 5;
    const bool originate6 = e->a8e[0] == 6;
    char text[8];
    switch (kind) {
    case A8_I:
    case A8_C:
        if (!answer5)
            return;
        PrintToDte(acu, kind == A8_I ? "+A8I: " : "+A8C: ", PRINT_END_TEXT);
        PrintToDte(acu, kind == A8_I ? at_hex2_text(text, data[0]) : at_three_digit_text(text, data[0]),
                   PRINT_TEXT_END);
        return;
    case A8_A:
        if (!originate6)
            return;
        PrintToDte(acu, "+A8A: ", PRINT_END_TEXT);
        PrintToDte(acu, at_hex2_text(text, data[0]), PRINT_TEXT_END);
        return;
    case A8_M:
    case A8_J: {
        if (kind == A8_J)
            acu->ext.a8j_mark = 1;
        if (answering ? !answer5 : !originate6)
            return;
        if (kind == A8_J) {
            PrintToDte(acu, "+A8J: ", PRINT_END_TEXT);
            PrintToDte(acu, at_three_digit_text(text, data[0]), PRINT_TEXT_END);
            return;
        }
        PrintToDte(acu, "+A8M: ", PRINT_END_TEXT);
        // At most one V.8 menu's worth of bytes; the string ends at its zero.
        for (unsigned k = 0; k < 64 && data[k] != 0; ++k)
            PrintToDte(acu, at_hex2_text(text, data[k]), PRINT_TEXT);
        PrintToDte(acu, "", PRINT_TEXT_END);
        return;
    }
    default: return;
    }
}
