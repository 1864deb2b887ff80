// The debug command set: DSP memory display and patching, GPIO and relays, raw command packets, the
// version, the country-set commands, and the table download trigger. Registered by "*DEBUGON" only.
#include <cstring>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_debug.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_scan.h"
#include "layer2/corecode/cmd/at_tables.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/country.h"
#include "layer2/corecode/cmd/table_dialogue.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_router.h"
#include "platform/byte_order.h"

namespace {

constexpr int kDumpWords = 8;
constexpr char kDumpEnd = 26;
constexpr uint8_t kPowerResume = 6;
constexpr uint8_t kPowerSleep = 9;
constexpr int kLastGpioPin = 15;
constexpr int kRawHeader = 4;                       // code, 0, length, 0
constexpr int kRawMax = kRawHeader + kIcdMaxPayload;
constexpr uint8_t kTableDownloadStart = 2;

DspLink* link_of(AcuContext* acu) { return acu->dsp != nullptr ? &acu->dsp->link : nullptr; }

// The values of a hexadecimal list argument ({position, value} pairs, then 0); returns their count, or -1
// when there are more than `max`.
int list_values(const uint8_t* args, unsigned width, uint32_t* out, int max)
{
    int n = 0;
    for (unsigned at = 0; at + 2 * width <= AT_ARG_BUFFER; at += 2 * width) {
        uint32_t position = 0;
        uint32_t value = 0;
        std::memcpy(&position, args + at, width);
        if (position == 0)
            return n;
        std::memcpy(&value, args + at + width, width);
        if (n >= max)
            return -1;
        out[n++] = value;
    }
    return n;
}

// ---- DSP memory ----

void dump(AcuContext* acu, uint8_t selector, uint32_t start)
{
    DspLink* link = link_of(acu);
    if (link == nullptr) {
        at_set_error(acu);
        return;
    }
    const uint64_t end = static_cast<uint64_t>(start) + acu->debug_display_count;
    for (uint64_t address = start; address < end; address += kDumpWords) {
        uint8_t reply[kIcdMaxPayload] = {};
        const DspValueRequest request{static_cast<uint32_t>(address), selector};
        if (dsp_read_value(link, &request, reply) != kIcdSent)
            std::memset(reply, 0, sizeof reply);
        char line[8 + 3 + kDumpWords * 5 + 1];
        char digits[12];
        std::strcpy(line, at_hex8_text(digits, static_cast<uint32_t>(address)));
        std::strcat(line, ":  ");
        for (int w = 0; w < kDumpWords; ++w) {
            std::strcat(line, at_base_text(digits, ReadLe16(reply + 2 * w), 16, 4, false));
            std::strcat(line, " ");
        }
        PrintToDte(acu, line, PRINT_END_TEXT);
    }
    const char end_mark[2] = {kDumpEnd, 0};
    PrintToDte(acu, end_mark, PRINT_TEXT);
}

void poke(AcuContext* acu, uint8_t selector, uint8_t* args)
{
    uint32_t v[2];
    DspLink* link = link_of(acu);
    if (link == nullptr || list_values(args, 4, v, 2) != 2) {
        at_set_error(acu);
        return;
    }
    const uint16_t word = static_cast<uint16_t>(v[1]);
    const DspValueRequest request{v[0], selector};
    dsp_write_value(link, &request, &word, 1);
}

void display_data(AcuContext* acu, uint8_t* args) { dump(acu, 0, at_arg_u32(args, 0)); }
void display_program(AcuContext* acu, uint8_t* args) { dump(acu, 1, at_arg_u32(args, 0)); }
void set_data(AcuContext* acu, uint8_t* args) { poke(acu, 0, args); }
void set_program(AcuContext* acu, uint8_t* args) { poke(acu, 1, args); }
void set_display_count(AcuContext* acu, uint8_t* args) { acu->debug_display_count = at_arg_u32(args, 0); }

void acpi(AcuContext* acu, uint8_t* args)
{
    if (acu->dsp == nullptr || (args[0] != 0 && args[0] != 3))
        return;
    dsp_power_step(acu->dsp, args[0] == 0 ? kPowerResume : kPowerSleep);
}

// ---- GPIO and relays ----

void gpio_set(AcuContext* acu, uint8_t* args)
{
    if (DspLink* link = link_of(acu))
        dsp_gpio_set(link, args[0]);
}

void gpio_clear(AcuContext* acu, uint8_t* args)
{
    if (DspLink* link = link_of(acu))
        dsp_gpio_clear(link, args[0]);
}

void gpio_input(AcuContext* acu, uint8_t* args)
{
    DspLink* link = link_of(acu);
    if (link == nullptr || args[0] > kLastGpioPin) {
        at_set_error(acu);
        return;
    }
    const int value = dsp_gpio_read(link, args[0]);
    if (acu->command_error == 0)
        PrintToDte(acu, value ? "1" : "0", at_text_mode(acu));
}

void relay_hook(AcuContext* acu, uint8_t* args)
{
    if (DspLink* link = link_of(acu))
        dsp_relay_hook_output(link, args[0] != 0);
}

void relay_voice(AcuContext* acu, uint8_t* args)
{
    if (DspLink* link = link_of(acu))
        dsp_relay_voice(link, args[0] != 0);
}

void relay_caller_id(AcuContext* acu, uint8_t* args)
{
    if (DspLink* link = link_of(acu))
        dsp_relay_caller_id(link, args[0] != 0);
}

void relay_speaker(AcuContext* acu, uint8_t* args)
{
    if (DspLink* link = link_of(acu))
        dsp_relay_speaker_handset(link, args[0] != 0);
}

void relay_all(AcuContext* acu, uint8_t* args)
{
    relay_hook(acu, args);
    relay_voice(acu, args);
    relay_caller_id(acu, args);
    relay_speaker(acu, args);
}

void relay_states(AcuContext* acu, uint8_t*)
{
    DspLink* link = link_of(acu);
    if (link == nullptr) {
        at_set_error(acu);
        return;
    }
    const bool hook = (dsp_reg_read(link, kRegGpioData0) & kRelayHook) == 0;
    char line[96];
    std::strcpy(line, hook ? "Hook: ON" : "Hook: OFF");
    std::strcat(line, dsp_voice_relay_on(link) ? "  Voice: ON" : "  Voice: OFF");
    std::strcat(line, dsp_caller_id_relay_on(link) ? "  CID: ON" : "  CID: OFF");
    std::strcat(line, dsp_speaker_relay_on(link) ? "  SPK_HS: ON" : "  SPK_HS: OFF");
    std::strcat(line, dsp_local_phone_input_low(link) ? "  LPOHD: ON" : "  LPOHD: OFF");
    PrintToDte(acu, line, at_text_mode(acu));
}

// ---- raw packets ----

void raw_packet(AcuContext* acu, uint8_t* args)
{
    uint32_t bytes[kRawMax];
    const int n = list_values(args, 1, bytes, kRawMax);
    DspLink* link = link_of(acu);
    // At least the header; at most 16 payload bytes, and a length byte that claims no more than that.
    if (link == nullptr || n < kRawHeader || bytes[2] > kIcdMaxPayload) {
        at_set_error(acu);
        return;
    }
    uint8_t payload[kIcdMaxPayload] = {};
    for (int k = kRawHeader; k < n; ++k)
        payload[k - kRawHeader] = static_cast<uint8_t>(bytes[k]);
    const uint8_t code = static_cast<uint8_t>(bytes[0]);
    const uint8_t awaited = debug_awaited_reply(code);
    const uint8_t mode = debug_reply_mode(code);
    uint8_t reply[kIcdMaxPayload] = {};
    const int result = dsp_send_command(link, code, payload, static_cast<int>(bytes[2]), mode, reply);
    if (awaited == 0 || result != kIcdSent || link->replyCode != awaited)
        return;
    // The reply as code, its zero, length and zero bytes and the payload, bounded to 16 payload bytes.
    const uint8_t length = link->received.length > kIcdMaxPayload ? kIcdMaxPayload : link->received.length;
    const uint8_t header[3] = {0, length, 0};
    char text[3 * (1 + 3 + kIcdMaxPayload) + 1];
    char hex[4];
    std::strcpy(text, at_hex2_text(hex, awaited));
    for (int k = 0; k < length + 3; ++k) {
        std::strcat(text, ",");
        std::strcat(text, at_hex2_text(hex, k < 3 ? header[k] : reply[k - 3]));
    }
    PrintToDte(acu, text, at_text_mode(acu));
}

void version(AcuContext* acu, uint8_t*)
{
    if (acu->dsp == nullptr || dsp_show_version(&acu->dsp->line) != kIcdSent)
        at_set_error(acu);
}

void quick_info(AcuContext*, uint8_t*) {}

// ---- country set ----

void country_index(AcuContext* acu, uint8_t* args)
{
    CoreSettings* s = acu->settings;
    if (s == nullptr || args[0] >= country_list_count(s->list)) {
        at_set_error(acu);
        return;
    }
    const unsigned count = country_list_count(s->list);
    for (unsigned i = 0; i < count; ++i) {
        CountryListEntry e;
        if (country_list_entry(s->list, i, &e) && e.block == args[0]) {
            if (!country_choose(s, i)) {
                at_set_error(acu);
                return;
            }
            acu_country_changed(acu);
            return;
        }
    }
    at_set_error(acu);
}

void country_index_query(AcuContext* acu, uint8_t*)
{
    char digits[8];
    char text[32] = "Country Set Index: ";
    std::strcat(text, at_three_digit_text(digits, acu->settings != nullptr ? acu->settings->current.block : 0));
    PrintToDte(acu, text, at_text_mode(acu));
}

// The current country block as a titled hexadecimal dump.
void country_dump(AcuContext* acu, uint8_t*)
{
    if (acu->settings == nullptr) {
        at_set_error(acu);
        return;
    }
    debug_print_hex_block(acu, "KVZ Debug", acu->settings->block.bytes, COUNTRY_BLOCK_SIZE);
}

void table_download(AcuContext* acu, uint8_t*)
{
    if (!acu_dsp_message(acu, kMsgTable, kTableDownloadStart, false, nullptr, 0))
        at_set_error(acu);
}

}  // namespace

// clang-format off
const AtCommandEntry DebugCommands[] = {
    {"*ACPI=", acpi, 1, 0, {}},
    {"*D?", display_data, 9, 0, {}},
    {"*D=", set_data, 12, 0, {}},
    {"*I?", quick_info, 0, 0, {}},
    {"*P?", display_program, 9, 0, {}},
    {"*P=", set_program, 12, 0, {}},
    {"*SD", set_display_count, 3, 0, {}},
    {"*?", debug_help, 0, 0, {}},
    {"*GPOCLR", gpio_clear, 1, 0, {}},
    {"*GPOSET", gpio_set, 1, 0, {}},
    {"*GPI", gpio_input, 1, 0, {}},
    {"*RH", relay_hook, 1, 0, {}},
    {"*RV", relay_voice, 1, 0, {}},
    {"*RC", relay_caller_id, 1, 0, {}},
    {"*RS", relay_speaker, 1, 0, {}},
    {"*RA", relay_all, 1, 0, {}},
    {"*R?", relay_states, 0, 0, {}},
    {"*C=", raw_packet, 10, AT_FLAG_EXTENDED, {}},
    {"*V", version, 0, 0, {}},
    {"*TT?", signal_test_help, 0, 0, {}},
    {"*TT", signal_test, 7, 0, {}},
    {"*NCRO", country_dump, 0, AT_FLAG_EXTENDED, {}},
    {"*NC?", country_index_query, 0, AT_FLAG_EXTENDED, {}},
    {"*NC", country_index, 1, AT_FLAG_EXTENDED, {}},
    {"*TD", table_download, 0, 0, {}},
    {"", nullptr, 0, 0, {}},
};
// clang-format on
