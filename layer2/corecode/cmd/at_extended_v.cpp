// The V.253 common commands, the V.80 and V.8 commands, and the V.92 table (built, never registered).
#include <cstring>

#include "layer2/corecode/cmd/at_ext.h"
#include "layer2/corecode/cmd/at_ext_util.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_tables.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/command_sets.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_device.h"

namespace {

void print_value(AcuContext* acu, uint8_t value)
{
    char digits[8];
    ext_print_text(acu, at_three_digit_text(digits, value));
}

void store_at_most(AcuContext* acu, const uint8_t* args, uint8_t max, uint8_t* field)
{
    if (args[0] > max)
        at_set_error(acu);
    else
        *field = args[0];
}

// ---- V.253 ----

void vip(AcuContext* acu, uint8_t*)
{
    AtExtSettings* e = &acu->ext;
    e->vnh = 0;
    e->vcid = 0;
    e->cid_capture = 0;
    e->vdr[0] = 0;
    e->vdr[1] = 0;
    e->flo = 0;
    voice_defaults(acu);
    at_voice_sync_settings(acu);
}

void vnh_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "0-2"); }
void vnh_set(AcuContext* acu, uint8_t* args) { store_at_most(acu, args, 2, &acu->ext.vnh); }
void vnh_query(AcuContext* acu, uint8_t*) { print_value(acu, acu->ext.vnh); }
void vcid_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "0,1,2"); }

void vcid_set(AcuContext* acu, uint8_t* args)
{
    store_at_most(acu, args, 2, &acu->ext.vcid);
    // Turning caller ID off ends a capture that is running.
    if (acu->command_error == 0 && args[0] == 0)
        acu_cid_cancel(acu);
}

void vcid_query(AcuContext* acu, uint8_t*) { print_value(acu, acu->ext.vcid); }
void flo_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "(0-2)"); }
void flo_set(AcuContext* acu, uint8_t* args) { store_at_most(acu, args, 2, &acu->ext.flo); }
void flo_query(AcuContext* acu, uint8_t*) { print_value(acu, acu->ext.flo); }
void vdr_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "(0,1), (0-255)"); }

void vdr_set(AcuContext* acu, uint8_t* args)
{
    ExtList l;
    // A bad list is refused and leaves the ring-report setting as it was.
    if (!ext_read_list(args, 1, 2, &l) || (l.present[0] && l.value[0] > 1)) {
        at_set_error(acu);
        return;
    }
    acu->ext.vdr[0] = l.present[0] ? static_cast<uint8_t>(l.value[0]) : 0;
    acu->ext.vdr[1] = l.present[1] ? static_cast<uint8_t>(l.value[1]) : 0;
    // The ring-report setting of the cadence detector: "DRON="/"DROF=" reports on or off, report delay.
    if (acu->dsp != nullptr)
        dsp_cadence_config(&acu->dsp->context, acu->ext.vdr[0], acu->ext.vdr[1]);
}

void vdr_query(AcuContext* acu, uint8_t*)
{
    char text[16] = "";
    ext_append_3(text, sizeof text, acu->ext.vdr[0], true);
    ext_append_3(text, sizeof text, acu->ext.vdr[1], false);
    ext_print_text(acu, text);
}

// ---- V.80 ----

void esa_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+ESA: (0),(0-1),(0-1),,(0),(0),(0-255),"); }

void esa_set(AcuContext* acu, uint8_t* args)
{
    ExtList l;
    if (!ext_read_list(args, 1, 8, &l) || (l.present[0] && l.value[0] != 0) || (l.present[1] && l.value[1] > 1) ||
        (l.present[2] && l.value[2] > 1) || l.present[3] || (l.present[4] && l.value[4] != 0) ||
        (l.present[5] && l.value[5] != 0)) {
        at_set_error(acu);
        return;
    }
    // The eight settings the synchronous access mode of the data link takes.
    for (unsigned k = 0; k < 8; ++k)
        if (l.present[k])
            acu->ext.esa[k] = static_cast<uint8_t>(l.value[k]);
}

void esa_query(AcuContext* acu, uint8_t*)
{
    const uint8_t* v = acu->ext.esa;
    char text[40] = "";
    char digits[8];
    for (unsigned k = 0; k < 7; ++k) {
        if (k != 3)
            ext_append(text, sizeof text, at_three_digit_text(digits, v[k]));
        ext_append(text, sizeof text, ",");
    }
    ext_print_answer(acu, "+ESA: ", text);
}

void itf_range(AcuContext* acu, uint8_t*)
{
    uint16_t size, off, on, off_min, off_max, on_min, on_max, waiting;
    dte_itf_query(acu->dte, &size, &off, &on, &off_min, &off_max, &on_min, &on_max, &waiting);
    char text[48] = "+ITF: (";
    char digits[12];
    ext_append(text, sizeof text, at_decimal_text(digits, off_min));
    ext_append(text, sizeof text, "-");
    ext_append(text, sizeof text, at_decimal_text(digits, off_max));
    ext_append(text, sizeof text, "),(");
    ext_append(text, sizeof text, at_decimal_text(digits, on_min));
    ext_append(text, sizeof text, "-");
    ext_append(text, sizeof text, at_decimal_text(digits, on_max));
    ext_append(text, sizeof text, "),(000)");
    ext_print_text(acu, text);
}

void itf_set(AcuContext* acu, uint8_t* args)
{
    uint16_t size, off, on, off_min, off_max, on_min, on_max, waiting;
    dte_itf_query(acu->dte, &size, &off, &on, &off_min, &off_max, &on_min, &on_max, &waiting);
    ExtList l;
    if (!ext_read_list(args, 2, 3, &l) || (l.present[0] && (l.value[0] < off_min || l.value[0] > off_max)) ||
        (l.present[1] && (l.value[1] < on_min || l.value[1] > on_max)) || (l.present[2] && l.value[2] != 0)) {
        at_set_error(acu);
        return;
    }
    if (l.present[0])
        off = static_cast<uint16_t>(l.value[0]);
    if (l.present[1])
        on = static_cast<uint16_t>(l.value[1]);
    if (on >= off) {
        at_set_error(acu);
        return;
    }
    dte_set_flow_thresholds(acu->dte, off, on);
}

void itf_query(AcuContext* acu, uint8_t*)
{
    uint16_t size, off, on, off_min, off_max, on_min, on_max, waiting;
    dte_itf_query(acu->dte, &size, &off, &on, &off_min, &off_max, &on_min, &on_max, &waiting);
    char text[24] = "";
    char digits[12];
    ext_append(text, sizeof text, at_decimal_text(digits, off));
    ext_append(text, sizeof text, ",");
    ext_append(text, sizeof text, at_decimal_text(digits, on));
    ext_append(text, sizeof text, ",000");
    ext_print_answer(acu, "+ITF: ", text);
}

// ---- V.8 ----

void a8e_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+A8E: (0,1,6),(0,1,5),(21,C1),(0),,"); }

void a8e_set(AcuContext* acu, uint8_t* args)
{
    ExtList l;
    // Positions after the sixth are ignored: read the whole buffer, then look at the first six.
    if (!ext_read_list(args, 1, EXT_MAX_POSITIONS, &l)) {
        at_set_error(acu);
        return;
    }
    const uint32_t* v = l.value;
    const bool* has = l.present;
    if ((has[0] && v[0] != 0 && v[0] != 1 && v[0] != 6) || (has[1] && v[1] != 0 && v[1] != 1 && v[1] != 5) ||
        (has[2] && v[2] != 0x21 && v[2] != 0xC1) || (has[3] && v[3] != 0) || has[4] || has[5]) {
        at_set_error(acu);
        return;
    }
    AtExtSettings* e = &acu->ext;
    if (has[0])
        e->a8e[0] = static_cast<uint8_t>(v[0]);
    if (has[1]) {
        e->a8e[1] = static_cast<uint8_t>(v[1]);
        if (v[1] != 5)
            e->a8e[2] = 0xC1;
    }
    if (has[2]) {
        e->a8e[2] = static_cast<uint8_t>(v[2]);
        if (v[2] == 0x21) {
            acu->set.dash_c = 2;
            acu->set.line_options |= 0x08;
            // A call with call function 21 sends its call-indicator groups ahead of the call menu.
        }
    }
    if (has[3])
        e->a8e[3] = 0;
}

void a8e_query(AcuContext* acu, uint8_t*)
{
    const uint8_t* v = acu->ext.a8e;
    char text[32] = "";
    char hex[8];
    ext_append_3(text, sizeof text, v[0], true);
    ext_append_3(text, sizeof text, v[1], false);
    ext_append(text, sizeof text, ",");
    ext_append(text, sizeof text, at_hex2_text(hex, v[2]));
    ext_append_3(text, sizeof text, v[3], false);
    ext_append(text, sizeof text, ",,");
    ext_print_answer(acu, "+A8E: ", text);
}

void a8m(AcuContext*, uint8_t*) {}

// ---- V.92 (reachable only if the table were registered) ----

void v92_value(AcuContext* acu, const char* prefix, uint8_t value)
{
    char digits[8];
    ext_print_answer(acu, prefix, at_three_digit_text(digits, value));
}

void pcw_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+PCW: (0,1,2)"); }
void pcw_set(AcuContext* acu, uint8_t* args) { store_at_most(acu, args, 2, &acu->ext.pcw); }
void pcw_query(AcuContext* acu, uint8_t*) { v92_value(acu, "+PCW: ", acu->ext.pcw); }
void pmh_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+PMH: (0,1)"); }
void pmh_set(AcuContext* acu, uint8_t* args) { store_at_most(acu, args, 1, &acu->ext.pmh); }
void pmh_query(AcuContext* acu, uint8_t*) { v92_value(acu, "+PMH: ", acu->ext.pmh); }
void pmht_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+PMHT: (0,1,2,3,4,5,6,7,8,9,10,11,12,13)"); }
void pmht_set(AcuContext* acu, uint8_t* args) { store_at_most(acu, args, 13, &acu->ext.pmht); }
void pmht_query(AcuContext* acu, uint8_t*) { v92_value(acu, "+PMHT: ", acu->ext.pmht); }
void pqc_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+PQC: (0,1,2,3)"); }
void pqc_set(AcuContext* acu, uint8_t* args) { store_at_most(acu, args, 3, &acu->ext.pqc); }
void pqc_query(AcuContext* acu, uint8_t*) { v92_value(acu, "+PQC: ", acu->ext.pqc); }
void pss_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+PSS: (0,1,2)"); }
void pss_set(AcuContext* acu, uint8_t* args) { store_at_most(acu, args, 2, &acu->ext.pss); }
void pss_query(AcuContext* acu, uint8_t*) { v92_value(acu, "+PSS: ", acu->ext.pss); }

void moh_range(AcuContext* acu, uint8_t*)
{
    ext_print_text(acu, "+V34MOH: (0 = don't allow MOH in V34, 1 = allow MOH in V34)");
}

void moh_set(AcuContext* acu, uint8_t* args) { store_at_most(acu, args, 1, &acu->ext.v34moh); }
void moh_query(AcuContext* acu, uint8_t*) { v92_value(acu, "+V34MOH: ", acu->ext.v34moh); }
void pig_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "+PIG: (0,1)"); }

void pig_set(AcuContext* acu, uint8_t* args)
{
    if (acu->online) {
        at_set_error(acu);
        return;
    }
    store_at_most(acu, args, 1, &acu->ext.pig);
}

void pig_query(AcuContext* acu, uint8_t*) { v92_value(acu, "+PIG: ", acu->ext.pig); }
void phsw_set(AcuContext* acu, uint8_t* args) { store_at_most(acu, args, 1, &acu->ext.phsw); }

// Modem-on-hold requests, the hook flash on hold and the test screens belong to the on-hold code; with
// the table unregistered they only check their argument.
void pmhr(AcuContext*, uint8_t*) {}
void pmhf(AcuContext*, uint8_t*) {}

void ptest(AcuContext* acu, uint8_t* args)
{
    if (args[0] > 5)
        at_set_error(acu);
}

}  // namespace

// clang-format off
const AtCommandEntry V253CommonCommands[] = {
    {"+VIP", vip, 0, AT_FLAG_EXTENDED, {}},
    {"+VNH=?", vnh_range, 0, AT_FLAG_EXTENDED, {}},
    {"+VNH=", vnh_set, 1, AT_FLAG_EXTENDED, {}},
    {"+VNH?", vnh_query, 0, AT_FLAG_EXTENDED, {}},
    {"+VCID=?", vcid_range, 0, AT_FLAG_EXTENDED, {}},
    {"+VCID=", vcid_set, 1, AT_FLAG_EXTENDED, {}},
    {"+VCID?", vcid_query, 0, AT_FLAG_EXTENDED, {}},
    {"+VDR=?", vdr_range, 0, AT_FLAG_EXTENDED, {}},
    {"+VDR=", vdr_set, 4, AT_FLAG_EXTENDED, {}},
    {"+VDR?", vdr_query, 0, AT_FLAG_EXTENDED, {}},
    {"+FLO=?", flo_range, 0, AT_FLAG_EXTENDED, {}},
    {"+FLO=", flo_set, 1, AT_FLAG_EXTENDED, {}},
    {"+FLO?", flo_query, 0, AT_FLAG_EXTENDED, {}},
    {"", nullptr, 0, 0, {}},
};

const AtCommandEntry V80AndV8Commands[] = {
    {"+ESA=?", esa_range, 0, AT_FLAG_EXTENDED, {}},
    {"+ESA=", esa_set, 4, AT_FLAG_EXTENDED, {}},
    {"+ESA?", esa_query, 0, AT_FLAG_EXTENDED, {}},
    {"+ITF=?", itf_range, 0, AT_FLAG_EXTENDED, {}},
    {"+ITF=", itf_set, 5, AT_FLAG_EXTENDED, {}},
    {"+ITF?", itf_query, 0, AT_FLAG_EXTENDED, {}},
    {"+A8E=?", a8e_range, 0, AT_FLAG_EXTENDED, {}},
    {"+A8E=", a8e_set, 10, AT_FLAG_EXTENDED, {}},
    {"+A8E?", a8e_query, 0, AT_FLAG_EXTENDED, {}},
    {"+A8M", a8m, 4, AT_FLAG_EXTENDED, {}},
    {"", nullptr, 0, 0, {}},
};

const AtCommandEntry V92Commands[] = {
    {"+PCW=?", pcw_range, 0, AT_FLAG_EXTENDED, {}},
    {"+PCW=", pcw_set, 1, AT_FLAG_EXTENDED, {}},
    {"+PCW?", pcw_query, 0, AT_FLAG_EXTENDED, {}},
    {"+PMH=?", pmh_range, 0, AT_FLAG_EXTENDED, {}},
    {"+PMH=", pmh_set, 1, AT_FLAG_EXTENDED, {}},
    {"+PMH?", pmh_query, 0, AT_FLAG_EXTENDED, {}},
    {"+PMHT=?", pmht_range, 0, AT_FLAG_EXTENDED, {}},
    {"+PMHT=", pmht_set, 1, AT_FLAG_EXTENDED, {}},
    {"+PMHT?", pmht_query, 0, AT_FLAG_EXTENDED, {}},
    {"+PMHR", pmhr, 0, AT_FLAG_EXTENDED, {}},
    {"+PIG=?", pig_range, 0, AT_FLAG_EXTENDED, {}},
    {"+PIG=", pig_set, 1, AT_FLAG_EXTENDED, {}},
    {"+PIG?", pig_query, 0, AT_FLAG_EXTENDED, {}},
    {"+PMHF", pmhf, 0, AT_FLAG_EXTENDED, {}},
    {"+PHSW=", phsw_set, 1, AT_FLAG_EXTENDED, {}},
    {"+PQC=?", pqc_range, 0, AT_FLAG_EXTENDED, {}},
    {"+PQC=", pqc_set, 1, AT_FLAG_EXTENDED, {}},
    {"+PQC?", pqc_query, 0, AT_FLAG_EXTENDED, {}},
    {"+PSS=?", pss_range, 0, AT_FLAG_EXTENDED, {}},
    {"+PSS=", pss_set, 1, AT_FLAG_EXTENDED, {}},
    {"+PSS?", pss_query, 0, AT_FLAG_EXTENDED, {}},
    {"+PTEST=", ptest, 1, AT_FLAG_EXTENDED, {}},
    {"+V34MOH=?", moh_range, 0, AT_FLAG_EXTENDED, {}},
    {"+V34MOH=", moh_set, 1, AT_FLAG_EXTENDED, {}},
    {"+V34MOH?", moh_query, 0, AT_FLAG_EXTENDED, {}},
    {"", nullptr, 0, 0, {}},
};
// clang-format on
