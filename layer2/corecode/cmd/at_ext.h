// The extended commands' shared routines: factory values of their settings, the V.8/V.80 reset, the
// unsolicited V.8 indications and the modulation table of +MS.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

struct MsModulationRow {
    const char* name;
    uint8_t code;          // modulation code
    uint32_t tx_min, tx_max, rx_min, rx_max;
};
extern const MsModulationRow MsModulation[MS_ROWS];
// Row of a modulation code, or -1.
int ms_row_of_code(uint8_t code);

// Factory values of the extended settings (start-up and &F).
void at_ext_factory(AcuContext* acu);
// Factory values of the V.8 (+A8E) and V.80 (+ESA) settings.
void at_v8_v80_reset(AcuContext* acu);

enum A8Indication : uint8_t {
    A8_I = 0,  // "+A8I: " two hexadecimal digits
    A8_C = 1,  // "+A8C: " three decimal digits
    A8_A = 2,  // "+A8A: " two hexadecimal digits
    A8_M = 3,  // "+A8M: " a zero-terminated byte string in hexadecimal
    A8_J = 4,  // "+A8J: " three decimal digits
};
// Prints an unsolicited V.8 indication when the +A8E options ask for it (verbal results only).
void at_report_a8(AcuContext* acu, uint8_t kind, const uint8_t* data, bool answering);

extern const AtCommandEntry V92Commands[];

// Handlers shared with other tables (the fax identification aliases use the +GM ones).
void at_gmi(AcuContext* acu, uint8_t* args);
void at_gmm(AcuContext* acu, uint8_t* args);
void at_gmr(AcuContext* acu, uint8_t* args);
void at_ms_range(AcuContext* acu, uint8_t* args);
void at_ms_set(AcuContext* acu, uint8_t* args);
void at_ms_query(AcuContext* acu, uint8_t* args);
void at_ma_range(AcuContext* acu, uint8_t* args);
void at_ma_set(AcuContext* acu, uint8_t* args);
void at_ma_query(AcuContext* acu, uint8_t* args);
// Rebuilds the +MA selection from the +MS modulation, automode and minimum rates.
void ms_rebuild_selection(AcuContext* acu);
