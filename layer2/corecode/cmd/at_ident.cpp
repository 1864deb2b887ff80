#include "layer2/corecode/cmd/at_ident.h"

#include <cstring>

#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/cmd/country.h"
#include "layer2/corecode/cmd/diag_record.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_device.h"

const char kIdentProduct[] = "Morva(R) Qiv Data Fax Voice V.90 Modem";
const char kIdentShort[] = "Qiv";
const char kIdentRelease[] = "Qiv Release 4.40CT1  - May 24 2002 - 17:28:30";

namespace {

constexpr uint8_t kFirstInfoPage = 201;
constexpr uint8_t kInfoPages = 10;

// "I99": the patch version and the timing offset carried from call to call (its 16-bit value).
void show_patch_version(AcuContext* acu)
{
    char digits[8];
    char text[24] = "TIM OFFS = ";
    std::strcat(text, at_hex2_text(digits, acu->timing_offset[1]));
    std::strcat(text, at_hex2_text(digits, acu->timing_offset[0]));
    PrintToDte(acu, "DSP PATCH VERS #", PRINT_END_TEXT);
    PrintToDte(acu, "0.00", PRINT_TEXT);
    PrintToDte(acu, text, PRINT_END_TEXT);
}

}  // namespace

void at_identify(AcuContext* acu, uint8_t which)
{
    uint8_t mode = at_text_mode(acu);
    switch (which) {
    case 0:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
        return;
    case 1:
        PrintToDte(acu, kIdentProduct, mode);
        return;
    case 2:
        PrintToDte(acu, acu->settings != nullptr ? acu->settings->mfg : kDefaultMfg, mode);
        return;
    case 3:
        PrintToDte(acu, kIdentShort, mode);
        return;
    case 4:
        PrintToDte(acu, kIdentRelease, mode);
        return;
    case 5:
        PrintToDte(acu, "CP Code Location: Host PC", PRINT_END_TEXT);
        PrintToDte(acu, "DSP Code Location: Host PC", PRINT_END_TEXT);
        PrintToDte(acu, "Host Interface: PCI", PRINT_END_TEXT);
        return;
    case 6:
        // The data pump's version report, printed by the DSP link; a failed query is an error.
        if (acu->dsp == nullptr || dsp_show_version(&acu->dsp->line) != kIcdSent)
            at_set_error(acu);
        return;
    case 20: {
        // The connection status screen, from the data pump's status and the connection facts kept here.
        if (acu->dsp == nullptr) {
            at_set_error(acu);
            return;
        }
        DspConnectionFacts facts{};
        conn_status_facts(acu, &facts);
        ShowConnectionStatus(
            acu->dsp, &facts, 1,
            [](void* ctx, const char* text, uint8_t m) { PrintToDte(static_cast<AcuContext*>(ctx), text, m); },
            acu, [](void* ctx) { conn_print_log(static_cast<AcuContext*>(ctx)); });
        return;
    }
    case 12: {
        if (acu->settings == nullptr) {
            at_set_error(acu);
            return;
        }
        char text[24];
        char digits[12];
        std::strncpy(text, acu->settings->current.iso, 4);
        text[4] = 0;
        std::strcat(text, " ");
        std::strcat(text, at_decimal_text(digits, acu->settings->current.dial_code));
        PrintToDte(acu, text, mode);
        return;
    }
    case 34:
        ShowLinkDiagnostic(acu);
        return;
    case 99:
        show_patch_version(acu);
        return;
    default:
        // I201-I210 hand table 1-10 of the country data out through the table dialogue.
        if (which >= kFirstInfoPage && which < kFirstInfoPage + kInfoPages && acu->dsp != nullptr) {
            const uint8_t table = static_cast<uint8_t>(which - kFirstInfoPage + 1);
            if (!acu_dsp_message(acu, kMsgTable, 5, false, &table, 1))
                at_set_error(acu);
            return;
        }
        at_set_error(acu);
        return;
    }
}
