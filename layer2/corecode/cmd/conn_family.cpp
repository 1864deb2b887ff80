// The modulation family of a connection in the DSP link's option words: the connect step sets one bit by the
// connection's modulation code and the end of the hang-up clears it again.
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/mt/dsp_options.h"

namespace {

using OptionSetter = void (*)(DspLineControl*, uint8_t);

// The option bit of a modulation code; none for the codes of no family.
OptionSetter family_setter(uint8_t modulation)
{
    switch (modulation) {
    case 2: return opt_set_b10;   // V.21
    case 4:
    case 5: return opt_set_b08;   // V.23
    case 6: return opt_set_b20;   // V.22
    case 7: return opt_set_b40;   // V.22bis
    case 12:
    case 13:
    case 16: return opt_set_b04;  // V.32 and V.32bis
    case 18:
    case 22:
    case 23: return opt_set_c40;  // V.34 and PCM
    default: return nullptr;
    }
}

}  // namespace

void conn_mark_modulation_family(AcuContext* acu, uint8_t modulation, bool set)
{
    DspLineControl* lc = acu_line(acu);
    OptionSetter setter = family_setter(modulation);
    if (lc != nullptr && setter != nullptr)
        setter(lc, set ? 1 : 0);
}
