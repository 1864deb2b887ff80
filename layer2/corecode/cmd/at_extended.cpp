// ExtendedCommands: the report options, break and buffer settings, interface settings, identification,
// country selection, the hook-flash method and the compression and error-control requests. +MS and +MA live
// in at_extended_ms.cpp; the V.253, V.80/V.8 and V.92 tables in at_extended_v.cpp.
#include <cstring>

#include "layer2/corecode/cmd/at_basic_util.h"
#include "layer2/corecode/cmd/at_ext.h"
#include "layer2/corecode/cmd/at_ext_util.h"
#include "layer2/corecode/cmd/at_ident.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_scan.h"
#include "layer2/corecode/cmd/at_tables.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/country.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/dte/data_link_stubs.h"

namespace {

// ---- single-value options ----

void report_value(AcuContext* acu, const char* prefix, uint8_t value)
{
    char digits[8];
    ext_print_answer(acu, prefix, at_three_digit_text(digits, value));
}

void set_at_most(AcuContext* acu, const uint8_t* args, uint8_t max, uint8_t* field)
{
    if (args[0] > max)
        at_set_error(acu);
    else
        *field = args[0];
}

void dr_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+DR: (0,1)"); }
void dr_set(AcuContext* acu, uint8_t* args) { set_at_most(acu, args, 1, &acu->set.dr); }
void dr_query(AcuContext* acu, uint8_t*) { report_value(acu, "+DR: ", acu->set.dr); }
void er_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+ER: (0,1)"); }
void er_set(AcuContext* acu, uint8_t* args) { set_at_most(acu, args, 1, &acu->set.er); }
void er_query(AcuContext* acu, uint8_t*) { report_value(acu, "+ER: ", acu->set.er); }
void ilrr_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+ILRR: (0,1)"); }
void ilrr_set(AcuContext* acu, uint8_t* args) { set_at_most(acu, args, 1, &acu->set.ilrr); }
void ilrr_query(AcuContext* acu, uint8_t*) { report_value(acu, "+ILRR: ", acu->set.ilrr); }
void mr_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+MR: (0,1)"); }
void mr_set(AcuContext* acu, uint8_t* args) { set_at_most(acu, args, 1, &acu->set.mr); }
void mr_query(AcuContext* acu, uint8_t*) { report_value(acu, "+MR: ", acu->set.mr); }
void esr_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+ESR: (0)"); }
void esr_set(AcuContext* acu, uint8_t* args) { set_at_most(acu, args, 2, &acu->ext.esr); }
void esr_query(AcuContext* acu, uint8_t*) { report_value(acu, "+ESR: ", acu->ext.esr); }
void efcs_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+EFCS: (0)"); }
void efcs_set(AcuContext* acu, uint8_t* args) { set_at_most(acu, args, 0, &acu->ext.efcs); }
void efcs_query(AcuContext* acu, uint8_t*) { report_value(acu, "+EFCS: ", acu->ext.efcs); }

// ---- +EB: break type (internal coding 0, 3, 2, 1 for 0-3), timed, default length ----

uint8_t eb_map(uint32_t type) { return static_cast<uint8_t>(type == 0 ? 0 : 4 - type); }

void eb_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+EB: (0-3),(0,1),(0-254)"); }

void eb_set(AcuContext* acu, uint8_t* args)
{
    ExtList l;
    if (!ext_read_list(args, 1, 3, &l) || (l.present[0] && l.value[0] > 3) || (l.present[1] && l.value[1] > 1) ||
        (l.present[2] && l.value[2] > 254)) {
        at_set_error(acu);
        return;
    }
    AtSettings* s = &acu->set;
    if (l.present[0])
        s->break_type = eb_map(l.value[0]);
    if (l.present[1])
        s->break_timed = static_cast<uint8_t>(l.value[1]);
    if (l.present[2])
        s->break_length = static_cast<uint8_t>(l.value[2]);
    // The error-control parameters are applied from the changed mark when the link starts.
    s->ec_changed = 1;
}

void eb_query(AcuContext* acu, uint8_t*)
{
    char text[24] = "";
    ext_append_3(text, sizeof text, eb_map(acu->set.break_type), true);
    ext_append_3(text, sizeof text, acu->set.break_timed, false);
    ext_append_3(text, sizeof text, acu->set.break_length, false);
    ext_print_answer(acu, "+EB: ", text);
}

// ---- +ETBM ----

void etbm_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+ETBM: (0-2),(0-2),(0-30)"); }

void etbm_set(AcuContext* acu, uint8_t* args)
{
    ExtList l;
    if (!ext_read_list(args, 1, 3, &l) || (l.present[0] && l.value[0] > 2) || (l.present[1] && l.value[1] > 2) ||
        (l.present[2] && l.value[2] > 30)) {
        at_set_error(acu);
        return;
    }
    for (unsigned k = 0; k < 2; ++k)
        if (l.present[k])
            acu->ext.etbm[k] = static_cast<uint16_t>(l.value[k]);
    if (l.present[2])
        acu->ext.etbm[2] = static_cast<uint16_t>(l.value[2] * 100);
}

void etbm_query(AcuContext* acu, uint8_t*)
{
    char text[24] = "";
    ext_append_3(text, sizeof text, acu->ext.etbm[0], true);
    ext_append_3(text, sizeof text, acu->ext.etbm[1], false);
    ext_append_3(text, sizeof text, acu->ext.etbm[2] / 100u, false);
    ext_print_answer(acu, "+ETBM: ", text);
}

// ---- +IFC ----

void ifc_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+IFC: (0-3),(0-2)"); }

void ifc_set(AcuContext* acu, uint8_t* args)
{
    ExtList l;
    if (!ext_read_list(args, 1, 2, &l) || (l.present[0] && l.value[0] > 3) || (l.present[1] && l.value[1] > 2)) {
        at_set_error(acu);
        return;
    }
    uint8_t a = l.present[0] ? static_cast<uint8_t>(l.value[0]) : acu->set.ifc[0];
    uint8_t b = l.present[1] ? static_cast<uint8_t>(l.value[1]) : acu->set.ifc[1];
    at_apply_ifc(acu, a, b);
    if (l.present[0] && a == 1)
        acu->set.bs_x = 0;
    else if (l.present[0] && a == 3)
        acu->set.bs_x = 1;
}

void ifc_query(AcuContext* acu, uint8_t*)
{
    char text[16] = "";
    ext_append_3(text, sizeof text, acu->set.ifc[0], true);
    ext_append_3(text, sizeof text, acu->set.ifc[1], false);
    ext_print_answer(acu, "+IFC: ", text);
}

// ---- +IPR ----

const uint32_t kIprRates[] = {300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};

void ipr_range(AcuContext* acu, uint8_t*)
{
    ext_print_text(acu, "+IPR: (0,300,600,1200,2400,4800,9600,14400,19200,38400,57600,115200)");
}

void ipr_set(AcuContext* acu, uint8_t* args)
{
    const uint32_t rate = at_arg_u32(args, 0);
    if (rate == 0) {
        acu->set.fixed_rate = 0;
    } else {
        bool known = false;
        for (uint32_t r : kIprRates)
            known = known || r == rate;
        if (!known) {
            at_set_error(acu);
            return;
        }
        acu->set.dte_rate = rate;
    }
    trace_hook(rate);
}

void ipr_query(AcuContext* acu, uint8_t*)
{
    char digits[12];
    PrintToDte(acu, "+IPR: ", at_prefix_mode(acu));
    PrintToDte(acu, at_decimal_text(digits, acu->set.dte_rate), PRINT_TEXT);
}

// ---- identification ----

void gcap(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+GCAP: +FCLASS,+MS,+ES,+DS"); }

void gsn(AcuContext* acu, uint8_t*)
{
    ext_print_answer(acu, "+GSN: ", acu->settings != nullptr ? acu->settings->hardware_id : kDefaultHardwareId);
}

// ---- +GCI ----

void gci_range(AcuContext* acu, uint8_t*)
{
    PrintToDte(acu, "+GCI: (", at_prefix_mode(acu));
    if (acu->settings != nullptr) {
        const unsigned count = country_list_count(acu->settings->list);
        for (unsigned k = 0; k < count && k < 120; ++k) {
            CountryListEntry e;
            if (!country_list_entry(acu->settings->list, k, &e))
                break;
            char text[8] = "";
            if (k != 0)
                ext_append(text, sizeof text, ",");
            char hex[8];
            ext_append(text, sizeof text, at_hex2_text(hex, e.t35));
            PrintToDte(acu, text, PRINT_TEXT);
        }
    }
    PrintToDte(acu, ")", PRINT_TEXT_END);
}

void gci_set(AcuContext* acu, uint8_t* args)
{
    if (acu->settings == nullptr) {
        at_set_error(acu);
        return;
    }
    const int index = country_find_t35(acu->settings, args[0]);
    if (index < 0 || !country_choose(acu->settings, static_cast<unsigned>(index))) {
        at_set_error(acu);
        return;
    }
    acu_country_changed(acu);
}

void gci_query(AcuContext* acu, uint8_t*)
{
    char hex[8];
    ext_print_answer(acu, "+GCI: ", at_hex2_text(hex, acu->settings != nullptr ? acu->settings->current.t35 : 0));
}

// ---- *NP: hook-flash method ----

void np_query(AcuContext* acu, uint8_t*)
{
    char digits[8];
    char text[32] = "Hook Flash Method: ";
    ext_append(text, sizeof text,
               at_three_digit_text(digits, acu->settings != nullptr ? acu->settings->hook_flash_method : 0));
    ext_print_text(acu, text);
}

void np_set(AcuContext* acu, uint8_t* args)
{
    if (args[0] > 2 || acu->settings == nullptr) {
        at_set_error(acu);
        return;
    }
    // The DSP link reads the method from the settings at its next hook flash.
    if (acu->settings->hook_flash_method != args[0] && hook_flash_store(acu->settings, args[0]) != 0)
        at_set_error(acu);
}

// ---- +ES ----

bool in_set(uint32_t v, const uint8_t* set, unsigned n)
{
    for (unsigned k = 0; k < n; ++k)
        if (set[k] == v)
            return true;
    return false;
}

void es_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+ES: (1-4,6),(0,2-4),(1,2,4-6,8)"); }

void es_set(AcuContext* acu, uint8_t* args)
{
    static const uint8_t kOrig[] = {1, 2, 3, 4, 6};
    static const uint8_t kFallback[] = {0, 2, 3, 4};
    static const uint8_t kAnswer[] = {1, 2, 4, 5, 6, 8};
    ExtList l;
    if (!ext_read_list(args, 1, 3, &l) || (l.present[0] && !in_set(l.value[0], kOrig, 5)) ||
        (l.present[1] && !in_set(l.value[1], kFallback, 4)) || (l.present[2] && !in_set(l.value[2], kAnswer, 6))) {
        at_set_error(acu);
        return;
    }
    for (unsigned k = 0; k < 3; ++k)
        if (l.present[k])
            acu->set.es[k] = static_cast<uint8_t>(l.value[k]);
}

void es_query(AcuContext* acu, uint8_t*)
{
    char text[16] = "";
    for (unsigned k = 0; k < 3; ++k)
        ext_append_3(text, sizeof text, acu->set.es[k], k == 0);
    ext_print_answer(acu, "+ES: ", text);
}

// ---- +DS ----

void ds_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+DS: (0-3),(0,1),(512-2048),(6-250)"); }

void ds_set(AcuContext* acu, uint8_t* args)
{
    ExtList l;
    if (!ext_read_list(args, 2, 4, &l) || (l.present[0] && l.value[0] > 3) || (l.present[1] && l.value[1] > 1) ||
        (l.present[2] && (l.value[2] < 512 || l.value[2] > 2048)) ||
        (l.present[3] && (l.value[3] < 6 || l.value[3] > 250))) {
        at_set_error(acu);
        return;
    }
    for (unsigned k = 0; k < 4; ++k)
        if (l.present[k])
            acu->set.ds[k] = static_cast<uint16_t>(l.value[k]);
    if (l.present[0])
        acu->set.ds_copy = static_cast<uint8_t>(l.value[0]);
}

void ds_query(AcuContext* acu, uint8_t*)
{
    char text[24] = "";
    char digits[12];
    ext_append_3(text, sizeof text, acu->set.ds[0], true);
    ext_append_3(text, sizeof text, acu->set.ds[1], false);
    ext_append(text, sizeof text, ",");
    ext_append(text, sizeof text, at_decimal_text(digits, acu->set.ds[2]));
    ext_append_3(text, sizeof text, acu->set.ds[3], false);
    ext_print_answer(acu, "+DS: ", text);
}

// ---- +DS44 ----

void ds44_range(AcuContext* acu, uint8_t*)
{
    ext_print_text(acu, "+DS44: (0-3),(0,1),(0),(256-65535),(256-65535),(32-255),(32-255),(512-65535),(512-65535)");
}

void ds44_set(AcuContext* acu, uint8_t* args)
{
    typedef int (*Check)(uint32_t);
    static const Check kChecks[9] = {v44_check_direction,     v44_check_negotiation, v44_check_capability,
                                     v44_check_tx_codewords,  v44_check_rx_codewords, v44_check_string_length,
                                     v44_check_string_length, v44_check_tx_history,   v44_check_rx_history};
    ExtList l;
    if (!ext_read_list(args, 2, 9, &l)) {
        at_set_error(acu);
        return;
    }
    for (unsigned k = 0; k < 9; ++k) {
        if (l.present[k] && kChecks[k](l.value[k]) == 0) {
            at_set_error(acu);
            return;
        }
    }
    for (unsigned k = 0; k < 9; ++k)
        if (l.present[k])
            acu->ext.ds44[k] = static_cast<uint16_t>(l.value[k]);
}

void ds44_query(AcuContext* acu, uint8_t*)
{
    char text[64] = "";
    char digits[12];
    for (unsigned k = 0; k < 9; ++k) {
        if (k != 0)
            ext_append(text, sizeof text, ",");
        ext_append(text, sizeof text, at_decimal_text(digits, acu->ext.ds44[k]));
    }
    ext_print_answer(acu, "+DS44: ", text);
}

}  // namespace

void at_gmi(AcuContext* acu, uint8_t*) { at_identify(acu, 2); }

void at_gmm(AcuContext* acu, uint8_t*)
{
    ext_print_text(acu, "Morva(R) Qiv Data Fax Voice V.90 Modem");
    ext_print_text(acu, "H.324 video-ready rev. 1.0");
}

void at_gmr(AcuContext* acu, uint8_t*) { ext_print_text(acu, "Qiv Release 4.40CT1  - May 24 2002"); }

// clang-format off
const AtCommandEntry ExtendedCommands[] = {
    {"+DR=?", dr_range, 0, AT_FLAG_EXTENDED, {}},
    {"+DR=", dr_set, 1, AT_FLAG_EXTENDED, {}},
    {"+DR?", dr_query, 0, AT_FLAG_EXTENDED, {}},
    {"+EB=?", eb_range, 0, AT_FLAG_EXTENDED, {}},
    {"+EB=", eb_set, 4, AT_FLAG_EXTENDED, {}},
    {"+EB?", eb_query, 0, AT_FLAG_EXTENDED, {}},
    {"+ESR=?", esr_range, 0, AT_FLAG_EXTENDED, {}},
    {"+ESR=", esr_set, 1, AT_FLAG_EXTENDED, {}},
    {"+ESR?", esr_query, 0, AT_FLAG_EXTENDED, {}},
    {"+EFCS=?", efcs_range, 0, AT_FLAG_EXTENDED, {}},
    {"+EFCS=", efcs_set, 1, AT_FLAG_EXTENDED, {}},
    {"+EFCS?", efcs_query, 0, AT_FLAG_EXTENDED, {}},
    {"+ER=?", er_range, 0, AT_FLAG_EXTENDED, {}},
    {"+ER=", er_set, 1, AT_FLAG_EXTENDED, {}},
    {"+ER?", er_query, 0, AT_FLAG_EXTENDED, {}},
    {"+ETBM=?", etbm_range, 0, AT_FLAG_EXTENDED, {}},
    {"+ETBM=", etbm_set, 4, AT_FLAG_EXTENDED, {}},
    {"+ETBM?", etbm_query, 0, AT_FLAG_EXTENDED, {}},
    {"+GCAP", gcap, 0, AT_FLAG_EXTENDED, {}},
    {"+GSN", gsn, 0, AT_FLAG_EXTENDED, {}},
    {"+IFC=?", ifc_range, 0, AT_FLAG_EXTENDED, {}},
    {"+IFC=", ifc_set, 4, AT_FLAG_EXTENDED, {}},
    {"+IFC?", ifc_query, 0, AT_FLAG_EXTENDED, {}},
    {"+ILRR=?", ilrr_range, 0, AT_FLAG_EXTENDED, {}},
    {"+ILRR=", ilrr_set, 1, AT_FLAG_EXTENDED, {}},
    {"+ILRR?", ilrr_query, 0, AT_FLAG_EXTENDED, {}},
    {"+IPR=?", ipr_range, 0, AT_FLAG_EXTENDED, {}},
    {"+IPR=", ipr_set, 3, AT_FLAG_EXTENDED, {}},
    {"+IPR?", ipr_query, 0, AT_FLAG_EXTENDED, {}},
    {"+GCI=?", gci_range, 0, AT_FLAG_EXTENDED, {}},
    {"+GCI=", gci_set, 7, AT_FLAG_EXTENDED, {}},
    {"+GCI?", gci_query, 0, AT_FLAG_EXTENDED, {}},
    {"*NP?", np_query, 0, AT_FLAG_EXTENDED, {}},
    {"*NP", np_set, 1, AT_FLAG_EXTENDED, {}},
    {"+GMI?", at_gmi, 0, AT_FLAG_EXTENDED, {}},
    {"+GMM?", at_gmm, 0, AT_FLAG_EXTENDED, {}},
    {"+GMR?", at_gmr, 0, AT_FLAG_EXTENDED, {}},
    {"+GMI", at_gmi, 0, AT_FLAG_EXTENDED, {}},
    {"+GMM", at_gmm, 0, AT_FLAG_EXTENDED, {}},
    {"+GMR", at_gmr, 0, AT_FLAG_EXTENDED, {}},
    {"+MA=?", at_ma_range, 0, AT_FLAG_EXTENDED, {}},
    {"+MA=", at_ma_set, 20, AT_FLAG_EXTENDED, {}},
    {"+MA?", at_ma_query, 0, AT_FLAG_EXTENDED, {}},
    {"+MR=?", mr_range, 0, AT_FLAG_EXTENDED, {}},
    {"+MR=", mr_set, 1, AT_FLAG_EXTENDED, {}},
    {"+MR?", mr_query, 0, AT_FLAG_EXTENDED, {}},
    {"+MS=?", at_ms_range, 0, AT_FLAG_EXTENDED, {}},
    {"+MS=", at_ms_set, 20, AT_FLAG_EXTENDED, {}},
    {"+MS?", at_ms_query, 0, AT_FLAG_EXTENDED, {}},
    {"+DS=?", ds_range, 0, AT_FLAG_EXTENDED, {}},
    {"+DS=", ds_set, 5, AT_FLAG_EXTENDED, {}},
    {"+DS?", ds_query, 0, AT_FLAG_EXTENDED, {}},
    {"+ES=?", es_range, 0, AT_FLAG_EXTENDED, {}},
    {"+ES=", es_set, 4, AT_FLAG_EXTENDED, {}},
    {"+ES?", es_query, 0, AT_FLAG_EXTENDED, {}},
    {"+DS44=?", ds44_range, 0, AT_FLAG_EXTENDED, {}},
    {"+DS44=", ds44_set, 5, AT_FLAG_EXTENDED, {}},
    {"+DS44?", ds44_query, 0, AT_FLAG_EXTENDED, {}},
    {"", nullptr, 0, 0, {}},
};
// clang-format on
