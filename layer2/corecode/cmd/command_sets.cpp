// The switch between the data and the voice command sets, and the mode-state reset it uses.
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_collector.h"
#include "layer2/corecode/cmd/command_sets.h"
#include "layer2/corecode/cmd/at_parser.h"
#include "layer2/corecode/cmd/at_sreg.h"
#include "layer2/corecode/cmd/at_tables.h"
#include "layer2/corecode/voice/voice_engine.h"

namespace {

constexpr uint8_t kVoiceSet = 1;
constexpr uint16_t kPostLineDelayModes = 5;

}  // namespace

void at_set_mode_state(AcuContext* acu, uint8_t kind)
{
    acu->mode_state = kind;
    if (kind != MODE_STATE_VOICE && kind != MODE_STATE_5) {
        acu->voice_mode = 0;
        acu->post_line_start = POST_LINE_DELAY_TICKS;
    }
    acu->online = 0;
    acu->set.fixed_rate = 0;
    if (kind == MODE_STATE_0 || kind == MODE_STATE_DATA || kind == MODE_STATE_5)
        return;
    acu->post_line_start = kPostLineDelayModes;
}

void at_select_voice_commands(AcuContext* acu, uint8_t mode)
{
    if (mode == kVoiceSet) {
        at_table_list_op(acu, TABLES_REMOVE, BasicCommands);
        at_table_list_op(acu, TABLES_REMOVE, BasicCommands2);
        if (acu->voice_table != nullptr)
            at_table_list_op(acu, TABLES_ADD_FRONT, acu->voice_table);
        at_set_mode_state(acu, MODE_STATE_VOICE);
        acu->voice_mode = 1;
        voice_defaults(acu);
        at_voice_sync_settings(acu);
        return;
    }
    at_set_mode_state(acu, MODE_STATE_DATA);
    at_voice_sync_settings(acu);
    // Added in this order they take their start-up places in the search order again.
    at_table_list_op(acu, TABLES_ADD_FRONT, BasicCommands);
    at_table_list_op(acu, TABLES_ADD_FRONT, BasicCommands2);
    if (acu->voice_table != nullptr)
        at_table_list_op(acu, TABLES_REMOVE, acu->voice_table);
}

void at_voice_sync_settings(AcuContext* acu)
{
    voice_set_params(acu, acu->voice_mode, at_opt_speaker_volume(acu), acu->ext.flo, acu->ext.vcid);
}
