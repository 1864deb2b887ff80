// The fax commands: the service class (+FCLASS), adaptive answer (+FAA, +FAE), the fax identification and the
// class 1 commands (+FTM, +FRM, +FTH, +FRH, +FTS, +FRS) that start the fax engine.
#include "layer2/corecode/cmd/fax_commands.h"

#include <cstring>

#include "layer2/corecode/cmd/at_ext.h"
#include "layer2/corecode/cmd/at_ext_util.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_parser.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/command_sets.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/cmd/diag_record.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_link.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/fax/fax_engine.h"
#include "platform/byte_order.h"
#include "window/icd_codes.h"
#include "window/parameter_ids.h"

namespace {

// The service classes this modem offers (bit 0 class 1, 1 class 2, 2 class 2.0, 3 class 8, 4 class 80).
constexpr uint8_t kOffered = 0x01 | 0x08;
constexpr uint8_t kClass1Bit = 0x01;
constexpr uint8_t kClass8Bit = 0x08;

struct ClassName {
    uint8_t bit;
    const char* text;
};
const ClassName kClassNames[] = {{0x01, "1"}, {0x02, "2"}, {0x04, "2.0"}, {0x08, "8"}, {0x10, "80"}};

void fclass_range(AcuContext* acu, uint8_t*)
{
    char text[24] = "0";
    for (const ClassName& c : kClassNames) {
        if (kOffered & c.bit) {
            ext_append(text, sizeof text, ",");
            ext_append(text, sizeof text, c.text);
        }
    }
    ext_print_text(acu, text);
}

void fclass_query(AcuContext* acu, uint8_t*)
{
    char digits[8];
    const uint8_t c = acu->fax_class;
    ext_print_text(acu, c == 20 ? "2.0" : at_decimal_text(digits, c));
}

void fclass_set(AcuContext* acu, uint8_t* args)
{
    const char* v = reinterpret_cast<const char*>(args);
    const uint8_t previous = acu->fax_class;
    if (std::strcmp(v, "0") == 0) {
        // Not while a fax connection holds the line.
        if (acu->state_variant[CALL_IDLE] == 3) {
            at_set_error(acu);
            return;
        }
        fax_mode_end(acu, 1);
        if (previous == 8)
            at_select_voice_commands(acu, 0);
        acu->fax_class = 0;
        PostCallEvent(acu, EV_COMMAND, 0);
    } else if (std::strcmp(v, "1") == 0 && (kOffered & kClass1Bit)) {
        fax_class1_cmd_table_enable(acu, 1);
        if (previous == 8)
            at_select_voice_commands(acu, 0);
        acu->fax_class = 1;
        if (previous == 8)
            PostCallEvent(acu, EV_COMMAND, 1);
    } else if (std::strcmp(v, "8") == 0 && (kOffered & kClass8Bit)) {
        fax_mode_end(acu, 1);
        fax_class1_cmd_table_enable(acu, 0);
        at_select_voice_commands(acu, 1);
        acu->fax_class = 8;
        PostCallEvent(acu, EV_COMMAND, 3);
    } else {
        at_set_error(acu);
    }
}

void adaptive_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "(0-1)"); }
void adaptive_query(AcuContext* acu, uint8_t*) { ext_print_text(acu, acu->fax.adaptive_answer ? "1" : "0"); }

void adaptive_set(AcuContext* acu, uint8_t* args)
{
    if (args[0] > 1)
        at_set_error(acu);
    else
        acu->fax.adaptive_answer = args[0];
}

// A class 1 command: the fax mode from the class, then the engine; on line when it runs.
void class1(AcuContext* acu, uint8_t command, uint8_t modulation)
{
    if (acu->fax_class != 1) {
        at_set_error(acu);
        return;
    }
    uint8_t params[12];
    acu_data_mode_params(acu, params);
    const uint8_t flow = static_cast<uint8_t>((params[3] & 0x0Fu) | (params[6] << 4));
    fax_mode_begin(acu, 1, (acu->sreg[S_OPTIONS] & S14_VERBAL) != 0 ? 1 : 0, flow);
    if (fax_command_start(acu, command, modulation) != 0) {
        at_set_error(acu);
        return;
    }
    if (dte_cmd_out_pending(acu->dte) != 0)
        dte_wait_output_drained(acu);
    dte_to_data_mode(acu->dte);
    acu->report_ok = 0;
    PostCallEvent(acu, EV_CONNECTED, 1);
}

void ftm_set(AcuContext* acu, uint8_t* args) { class1(acu, FAX_CMD_FTM, args[0]); }
void frm_set(AcuContext* acu, uint8_t* args) { class1(acu, FAX_CMD_FRM, args[0]); }
void fth_set(AcuContext* acu, uint8_t* args) { class1(acu, FAX_CMD_FTH, args[0]); }
void frh_set(AcuContext* acu, uint8_t* args) { class1(acu, FAX_CMD_FRH, args[0]); }

void modulation_range(AcuContext* acu, uint8_t*)
{
    ext_print_text(acu, conn_fax_capability(acu) == 5 ? "24,48,72,73,74,96,97,98,121,122,145,146" : "24,48,72,96");
}

void hdlc_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "3"); }
void silence_range(AcuContext* acu, uint8_t*) { ext_print_text(acu, "(0-255)"); }

// +FTS and +FRS hold the command line for n x 10 ms (the second one while the line is silent).
void silence_wait(AcuContext* acu, uint8_t ticks, uint8_t listen)
{
    if (acu->fax_class != 1) {
        at_set_error(acu);
        return;
    }
    acu->fax.silence_ticks = ticks;
    acu->fax.silence_listen = listen;
    if (ticks == 0)
        return;
    acu->pause_countdown = ticks;
    acu->collector = COLLECT_PAUSED;
}

// The line is silent for +FRS while the data pump's received level (smoothed over about 80 ms) stays below
// -43 dBm0, the level at which the fax receivers take a carrier to be present. Without a reading (no data
// pump) the line counts as silent.
constexpr int32_t kSilenceDbBelow0 = 43;

bool line_sounds(AcuContext* acu)
{
    if (acu->dsp == nullptr)
        return false;
    DspLink* link = &acu->dsp->link;
    uint8_t reply[kIcdMaxPayload] = {};
    const DspValueRequest request{kMemStatRxLevel, 0};
    if (dsp_read_value(link, &request, reply) != kIcdSent || link->replyCode != IcdMemoryValue)
        return false;
    const uint32_t reading = ReadLe32(reply);
    return reading != 0 && diag_tx_level(reading) < kSilenceDbBelow0;
}

void fts_set(AcuContext* acu, uint8_t* args) { silence_wait(acu, args[0], 0); }
void frs_set(AcuContext* acu, uint8_t* args) { silence_wait(acu, args[0], 1); }

}  // namespace

// clang-format off
const AtCommandEntry FaxCommands[] = {
    {"+FCLASS=?", fclass_range, 0, AT_FLAG_EXTENDED, {}},
    {"+FCLASS?", fclass_query, 0, AT_FLAG_EXTENDED, {}},
    {"+FCLASS=", fclass_set, 15, AT_FLAG_EXTENDED, {}},
    {"+FAA=?", adaptive_range, 0, AT_FLAG_EXTENDED, {}},
    {"+FAA?", adaptive_query, 0, AT_FLAG_EXTENDED, {}},
    {"+FAA=", adaptive_set, 1, AT_FLAG_EXTENDED, {}},
    {"+FAE=?", adaptive_range, 0, AT_FLAG_EXTENDED, {}},
    {"+FAE?", adaptive_query, 0, AT_FLAG_EXTENDED, {}},
    {"+FAE=", adaptive_set, 1, AT_FLAG_EXTENDED, {}},
    {"+FMI?", at_gmi, 0, AT_FLAG_EXTENDED, {}},
    {"+FMI", at_gmi, 0, AT_FLAG_EXTENDED, {}},
    {"+FMM?", at_gmm, 0, AT_FLAG_EXTENDED, {}},
    {"+FMM", at_gmm, 0, AT_FLAG_EXTENDED, {}},
    {"+FMR?", at_gmr, 0, AT_FLAG_EXTENDED, {}},
    {"+FMR", at_gmr, 0, AT_FLAG_EXTENDED, {}},
    {"+FMFR?", at_gmi, 0, AT_FLAG_EXTENDED, {}},
    {"+FMDL?", at_gmm, 0, AT_FLAG_EXTENDED, {}},
    {"+FREV?", at_gmr, 0, AT_FLAG_EXTENDED, {}},
    {"", nullptr, 0, 0, {}},
};

const AtCommandEntry FaxClass1Commands[] = {
    {"+FTM=?", modulation_range, 0, AT_FLAG_EXTENDED, {}},
    {"+FTM=", ftm_set, 1, AT_FLAG_EXTENDED, {}},
    {"+FRM=?", modulation_range, 0, AT_FLAG_EXTENDED, {}},
    {"+FRM=", frm_set, 1, AT_FLAG_EXTENDED, {}},
    {"+FTH=?", hdlc_range, 0, AT_FLAG_EXTENDED, {}},
    {"+FTH=", fth_set, 1, AT_FLAG_EXTENDED, {}},
    {"+FRH=?", hdlc_range, 0, AT_FLAG_EXTENDED, {}},
    {"+FRH=", frh_set, 1, AT_FLAG_EXTENDED, {}},
    {"+FTS=?", silence_range, 0, AT_FLAG_EXTENDED, {}},
    {"+FTS=", fts_set, 1, AT_FLAG_EXTENDED, {}},
    {"+FRS=?", silence_range, 0, AT_FLAG_EXTENDED, {}},
    {"+FRS=", frs_set, 1, AT_FLAG_EXTENDED, {}},
    {"", nullptr, 0, 0, {}},
};
// clang-format on

void fax_cmd_table_enable(AcuContext* acu, uint8_t on)
{
    at_table_list_op(acu, TABLES_REMOVE, FaxCommands);
    if (on == 1)
        at_table_list_op(acu, TABLES_ADD_FRONT, FaxCommands);
}

void fax_class1_cmd_table_enable(AcuContext* acu, uint8_t on)
{
    at_table_list_op(acu, TABLES_REMOVE, FaxClass1Commands);
    if (on == 1)
        at_table_list_op(acu, TABLES_ADD_FRONT, FaxClass1Commands);
}

void fax_silence_step(AcuContext* acu)
{
    FaxClass1Engine& e = acu->fax;
    if (!e.silence_listen || acu->collector != COLLECT_PAUSED)
        return;
    // A character from the application ends the wait.
    if (dte_cmd_in_count(acu->dte) != 0) {
        dte_cmd_in_get(acu->dte);
        e.silence_listen = 0;
        acu->pause_countdown = 1;
        return;
    }
    // The count starts again while the line is not silent: a call-progress tone other than code 4, or any
    // signal above the silence level.
    const uint8_t progress = acu_call_progress(acu);
    if ((progress != 0 && progress != 4) || line_sounds(acu))
        acu->pause_countdown = e.silence_ticks;
}
