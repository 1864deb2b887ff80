// The extended tables. Only the connection-report options (+DR, +ER, +MR, +ILRR), which W also sets, are
// built so far; the other extended, V.253 and V.80/V.8 commands and the debug set come with their own code
// and are added to these tables then.
#include <cstring>

#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_tables.h"

namespace {

void report_range(AcuContext* acu, const char* name)
{
    char text[24];
    std::strcpy(text, name);
    std::strcat(text, ": (0,1)");
    PrintToDte(acu, text, at_text_mode(acu));
}

void report_value(AcuContext* acu, const char* name, uint8_t value)
{
    char text[24];
    std::strcpy(text, name);
    std::strcat(text, ": ");
    PrintToDte(acu, text, at_prefix_mode(acu));
    char digits[8];
    PrintToDte(acu, at_three_digit_text(digits, value), PRINT_TEXT_END);
}

void set_flag(AcuContext* acu, const uint8_t* args, uint8_t* field)
{
    if (args[0] > 1)
        at_set_error(acu);
    else
        *field = args[0];
}

void dr_range(AcuContext* acu, uint8_t*) { report_range(acu, "+DR"); }
void dr_set(AcuContext* acu, uint8_t* args) { set_flag(acu, args, &acu->set.dr); }
void dr_query(AcuContext* acu, uint8_t*) { report_value(acu, "+DR", acu->set.dr); }
void er_range(AcuContext* acu, uint8_t*) { report_range(acu, "+ER"); }
void er_set(AcuContext* acu, uint8_t* args) { set_flag(acu, args, &acu->set.er); }
void er_query(AcuContext* acu, uint8_t*) { report_value(acu, "+ER", acu->set.er); }
void ilrr_range(AcuContext* acu, uint8_t*) { report_range(acu, "+ILRR"); }
void ilrr_set(AcuContext* acu, uint8_t* args) { set_flag(acu, args, &acu->set.ilrr); }
void ilrr_query(AcuContext* acu, uint8_t*) { report_value(acu, "+ILRR", acu->set.ilrr); }
void mr_range(AcuContext* acu, uint8_t*) { report_range(acu, "+MR"); }
void mr_set(AcuContext* acu, uint8_t* args) { set_flag(acu, args, &acu->set.mr); }
void mr_query(AcuContext* acu, uint8_t*) { report_value(acu, "+MR", acu->set.mr); }

}  // namespace

// clang-format off
const AtCommandEntry ExtendedCommands[] = {
    {"+DR=?", dr_range, 0, AT_FLAG_EXTENDED, {}},
    {"+DR=", dr_set, 1, AT_FLAG_EXTENDED, {}},
    {"+DR?", dr_query, 0, AT_FLAG_EXTENDED, {}},
    {"+ER=?", er_range, 0, AT_FLAG_EXTENDED, {}},
    {"+ER=", er_set, 1, AT_FLAG_EXTENDED, {}},
    {"+ER?", er_query, 0, AT_FLAG_EXTENDED, {}},
    {"+ILRR=?", ilrr_range, 0, AT_FLAG_EXTENDED, {}},
    {"+ILRR=", ilrr_set, 1, AT_FLAG_EXTENDED, {}},
    {"+ILRR?", ilrr_query, 0, AT_FLAG_EXTENDED, {}},
    {"+MR=?", mr_range, 0, AT_FLAG_EXTENDED, {}},
    {"+MR=", mr_set, 1, AT_FLAG_EXTENDED, {}},
    {"+MR?", mr_query, 0, AT_FLAG_EXTENDED, {}},
    {"", nullptr, 0, 0, {}},
};

const AtCommandEntry V253CommonCommands[] = {
    {"", nullptr, 0, 0, {}},
};

const AtCommandEntry V80AndV8Commands[] = {
    {"", nullptr, 0, 0, {}},
};

const AtCommandEntry DebugCommands[] = {
    {"", nullptr, 0, 0, {}},
};
// clang-format on
