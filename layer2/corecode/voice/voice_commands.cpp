// The voice command table and its front end: every handler passes its command number (and the argument
// buffer of the "=" forms) to the engine and acts on the engine's result.
#include "layer2/corecode/cmd/at_collector.h"
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_scan.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/voice/voice_engine.h"

namespace {

void front_end(AcuContext* acu, uint8_t number, const uint8_t* args)
{
    VoiceEngine& v = acu->voice;
    switch (voice_command(acu, number, args)) {
    case VOICE_RESULT_TRANSFER:
        PostCallEvent(acu, EV_CONNECTED, 3);
        acu_clamp_dte(acu);
        PrintResultCode(acu, RC_CONNECT, 0);
        dte_wait_output_drained(acu);
        acu_release_dte(acu);
        dte_voice_mode_start(acu->dte, acu->dte->flow.in_options, acu->dte->flow.out_options);
        acu->dte->mode = DTE_MODE_VOICE;
        acu->report_ok = 0;
        break;
    case VOICE_RESULT_OK: break;
    case VOICE_RESULT_ERROR: at_set_error(acu); break;
    case VOICE_RESULT_LINE_RELEASED: v.connection_flag = 0; break;
    case VOICE_RESULT_LINE_TAKEN: v.connection_flag = 1; break;
    case VOICE_RESULT_RUNNING:
        // +VTS: the engine answers when the tones have played.
        acu->report_ok = 0;
        break;
    default: PrintToDte(acu, v.text, at_text_mode(acu)); break;
    }
}

template <uint8_t N>
void handler(AcuContext* acu, uint8_t* args)
{
    front_end(acu, N, args);
}

}  // namespace

// clang-format off
const AtCommandEntry VoiceCommands[] = {
    {"+VBT=?", handler<3>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VBT=", handler<1>, ARG_WORD_LIST, AT_FLAG_EXTENDED, {}},
    {"+VBT?", handler<2>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VEM=?", handler<5>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VEM=", handler<4>, ARG_HEX_DWORD, AT_FLAG_EXTENDED, {}},
    {"+VEM?", handler<6>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VGM=?", handler<7>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VGM=", handler<8>, ARG_BYTE, AT_FLAG_EXTENDED, {}},
    {"+VGM?", handler<9>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VGR=?", handler<12>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VGR=", handler<10>, ARG_BYTE, AT_FLAG_EXTENDED, {}},
    {"+VGR?", handler<11>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VGS=?", handler<13>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VGS=", handler<14>, ARG_BYTE, AT_FLAG_EXTENDED, {}},
    {"+VGS?", handler<15>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VGT=?", handler<18>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VGT=", handler<16>, ARG_BYTE, AT_FLAG_EXTENDED, {}},
    {"+VGT?", handler<17>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VIT=?", handler<20>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VIT=", handler<19>, ARG_BYTE, AT_FLAG_EXTENDED, {}},
    {"+VIT?", handler<21>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VLS=?", handler<23>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VLS=", handler<22>, ARG_BYTE, AT_FLAG_EXTENDED, {}},
    {"+VLS?", handler<24>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VRA=?", handler<27>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VRA=", handler<25>, ARG_BYTE, AT_FLAG_EXTENDED, {}},
    {"+VRA?", handler<26>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VRN=?", handler<30>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VRN=", handler<28>, ARG_BYTE, AT_FLAG_EXTENDED, {}},
    {"+VRN?", handler<29>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VRX", handler<31>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VSD=?", handler<34>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VSD=", handler<32>, ARG_BYTE_LIST, AT_FLAG_EXTENDED, {}},
    {"+VSD?", handler<33>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VSM=?", handler<36>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VSM=", handler<35>, ARG_WORD_LIST, AT_FLAG_EXTENDED, {}},
    {"+VSM?", handler<37>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VSP=?", handler<38>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VSP=", handler<39>, ARG_BYTE, AT_FLAG_EXTENDED, {}},
    {"+VSP?", handler<40>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"#VSPS=?", handler<41>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"#VSPS=", handler<42>, ARG_BYTE, AT_FLAG_EXTENDED, {}},
    {"#VSPS?", handler<43>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VTD=?", handler<45>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VTD=", handler<44>, ARG_BYTE, AT_FLAG_EXTENDED, {}},
    {"+VTD?", handler<46>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VTS=?", handler<48>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"+VTS=", handler<47>, ARG_TONE_LIST, AT_FLAG_EXTENDED, {}},
    {"+VTX", handler<49>, ARG_NONE, AT_FLAG_EXTENDED, {}},
    {"", nullptr, 0, 0, {}},
};
// clang-format on
