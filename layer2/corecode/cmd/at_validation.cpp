// ValidationCommands: range checks only, for the validation pass of a line typed while on line.
#include "layer2/corecode/cmd/at_tables.h"

namespace {

void check(AcuContext* acu, const uint8_t* args, uint8_t max)
{
    if (args[0] > max)
        at_set_error(acu);
}

void v01(AcuContext* acu, uint8_t* args) { check(acu, args, 1); }
void v02(AcuContext* acu, uint8_t* args) { check(acu, args, 2); }
void v03(AcuContext* acu, uint8_t* args) { check(acu, args, 3); }
void v04(AcuContext* acu, uint8_t* args) { check(acu, args, 4); }
void any(AcuContext* acu, uint8_t* args) { (void)acu; (void)args; }

void amp_T(AcuContext* acu, uint8_t* args)
{
    uint8_t v = args[0];
    if (!(v == 0 || v == 3 || v == 5 || v == 6 || v == 7))
        at_set_error(acu);
}

}  // namespace

// clang-format off
const AtCommandEntry ValidationCommands[] = {
    {"E", v01, 1, 0, {}}, {"H", v01, 1, 0, {}}, {"O", v01, 1, 0, {}}, {"Q", v01, 1, 0, {}}, {"V", v01, 1, 0, {}},
    {"&C", v01, 1, 0, {}}, {"&P", v01, 1, 0, {}}, {"&S", v01, 1, 0, {}}, {"&U", v01, 1, 0, {}},
    {"&G", v02, 1, 0, {}},
    {"M", v03, 1, 0, {}}, {"&D", v03, 1, 0, {}},
    {"W", v04, 1, 0, {}}, {"X", v04, 1, 0, {}}, {"&K", v04, 1, 0, {}},
    {"Z", v01, 1, 0, {}}, {"&V", v01, 1, 0, {}}, {"&W", v01, 1, 0, {}}, {"&Y", v01, 1, 0, {}},
    {"&T", amp_T, 1, 0, {}},
    {"S", any, 1, 0, {}}, {"=", any, 1, 0, {}}, {"?", any, 0, 0, {}}, {"&Z", any, 16, 0, {}},
    {"", nullptr, 0, 0, {}},
};
// clang-format on
