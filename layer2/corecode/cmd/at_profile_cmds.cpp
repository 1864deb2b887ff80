// The profile commands: &W (store), &Y (power-up profile), &Z (stored telephone numbers) and &V (the
// profile display, printed by a small template interpreter over a list of value pointers).
#include <cstring>

#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_profile_cmds.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/cmd/nvram.h"
#include "layer2/corecode/cmd/factory_profile.h"
#include "layer2/corecode/cmd/profile.h"

namespace {

// Template codes.
#define T_END "\x00"
#define T_D1 "\x01"
#define T_D2 "\x02"
#define T_D3 "\x03"
#define T_EOL "\x04"
#define T_PT "\x05"
#define T_FIELD "\x06"
#define T_NEXT "\x07"
#define T_SKIP "\x08"
#define T_RATE "\x09"

// Bit fields of the bit-mapped registers (the byte after the register number): shift x 16 + width.
#define F_E "\x0E\x11"
#define F_Q "\x0E\x21"
#define F_V "\x0E\x31"
#define F_L "\x16\x02"
#define F_M "\x16\x22"
#define F_P "\x16\x71"
#define F_J "\x15\x01"
#define F_D "\x15\x32"
#define F_C "\x15\x51"
#define F_S "\x15\x61"
#define F_Y "\x15\x71"
#define F_G "\x17\x62"

// clang-format off
const char kLine1Active[] = "E" T_FIELD F_E " L" T_FIELD F_L " M" T_FIELD F_M " " T_PT " Q" T_FIELD F_Q
    " V" T_FIELD F_V " W" T_D1 " X" T_D1 " Y" T_FIELD F_Y " &C" T_FIELD F_C " &D" T_FIELD F_D " &G" T_FIELD F_G
    " &J" T_FIELD F_J " &K" T_D1 " &P" T_FIELD F_P " &S" T_FIELD F_S " &Y" T_D1 " " T_EOL T_NEXT;
const char kLine1Stored[] = "E" T_FIELD F_E " L" T_FIELD F_L " M" T_FIELD F_M " " T_PT " Q" T_FIELD F_Q
    " V" T_FIELD F_V " W" T_D1 " X" T_D1 " Y" T_FIELD F_Y " &C" T_FIELD F_C " &D" T_FIELD F_D " &G" T_FIELD F_G
    " &J" T_FIELD F_J " &K" T_D1 " &P" T_FIELD F_P " &S" T_FIELD F_S " " T_EOL T_NEXT;
const char kLine2[] = "%A" T_D3 " %C" T_D1 " %E" T_D1 " \\A" T_D1 " \\C" T_D1 " \\G" T_D1 " \\J" T_D1
    " \\T" T_D3 " \\X" T_D1 " -J" T_D1 " " T_EOL T_NEXT;
const char kLine3Active[] = "S00:" T_D3 " S01:" T_D3 " S02:" T_D3 " S03:" T_D3 " S04:" T_D3 " S05:" T_D3
    " S06:" T_D3 " S07:" T_D3 " S08:" T_D3 " " T_EOL T_NEXT;
const char kLine4Active[] = "S09:" T_D3 " S10:" T_D3 " S11:" T_D3 " S12:" T_D3 " S18:" T_D3 " S25:" T_D3
    " S27:" T_D3 " S32:" T_D3 " S33:" T_D3 " " T_EOL T_NEXT;
const char kLine5Active[] = "+ES=" T_D3 "," T_D3 "," T_D3 " +DS=" T_D3 "," T_D3 " " T_EOL T_EOL;
const char kLine3Stored[] = "S00:" T_D3 " S02:" T_D3 " S06:" T_D3 " S07:" T_D3 " S08:" T_D3 " S09:" T_D3
    " S10:" T_D3 " S11:" T_D3 " S12:" T_D3 " " T_EOL T_NEXT;
const char kLine4Stored[] = "S14:" T_D3 " S18:" T_D3 " S21:" T_D3 " S22:" T_D3 " S23:" T_D3 " S25:" T_D3
    " S27:" T_D3 " S30:" T_D3 " S32:" T_D3 " " T_EOL T_NEXT;
const char kLine5Stored[] = "S33:" T_D3 " +ES=" T_D3 "," T_D3 "," T_D3 " +DS=" T_D3 "," T_D3 " " T_EOL T_EOL;
// clang-format on

const char* const kActiveTemplates[] = {kLine1Active, kLine2, kLine3Active, kLine4Active, kLine5Active};
const char* const kStoredTemplates[] = {kLine1Stored, kLine2, kLine3Stored, kLine4Stored, kLine5Stored};

// Profile setting numbers (see profile.cpp) of the values the lines show, in the order the templates use
// them. The active list adds S1, S3, S4, S5 (factory-only settings 71-74) and the power-up profile (-1).
constexpr int kPowerUp = -1;
// clang-format off
const int kActiveValues[] = {
    9, 13, 13, 9, 9, 9, 19, 20, 12, 12, 12, 14, 12, 58, 13, 12, kPowerUp,
    22, 24, 25, 21, 23, 26, 28, 18, 33, 36,
    0, 71, 1, 72, 73, 74, 2, 3, 4,
    5, 6, 7, 8, 11, 15, 17, 64, 65,
    68, 69, 70, 37, 67,
};
const int kStoredValues[] = {
    9, 13, 13, 9, 9, 9, 19, 20, 12, 12, 12, 14, 12, 58, 13, 12,
    22, 24, 25, 21, 23, 26, 28, 18, 33, 36,
    0, 1, 2, 3, 4, 5, 6, 7, 8,
    9, 11, 12, 13, 14, 15, 17, 18, 64,
    65, 68, 69, 70, 37, 67,
};
// clang-format on
constexpr unsigned kActiveCount = sizeof kActiveValues / sizeof kActiveValues[0];
constexpr unsigned kStoredCount = sizeof kStoredValues / sizeof kStoredValues[0];

// Runs the templates over the value pointers; returns when a template ends with code 0 or the list runs
// out (of templates or of values).
void print_templates(AcuContext* acu, const char* const* templates, unsigned template_count,
                     const uint8_t* const* values, unsigned value_count)
{
    char text[96];
    unsigned used = 0;
    unsigned v = 0;
    auto flush = [&] {
        text[used] = 0;
        if (used != 0)
            PrintToDte(acu, text, PRINT_TEXT);
        used = 0;
    };
    auto put = [&](const char* s) {
        while (*s != 0) {
            if (used + 1 >= sizeof text)
                flush();
            text[used++] = *s++;
        }
    };
    auto next_value = [&]() -> uint8_t { return v < value_count ? *values[v++] : 0; };
    for (unsigned t = 0; t < template_count; ++t) {
        const char* p = templates[t];
        bool next_template = false;
        while (!next_template) {
            const uint8_t code = static_cast<uint8_t>(*p++);
            char digits[12];
            switch (code) {
            case 0: flush(); return;
            case 1: put(at_decimal_text(digits, next_value())); break;
            case 2: {
                uint8_t x = next_value();
                put(x < 10 ? "0" : "");
                put(at_decimal_text(digits, x));
                break;
            }
            case 3: put(at_three_digit_text(digits, next_value())); break;
            case 4:
                flush();
                at_print_line_end(acu);
                break;
            case 5: put((next_value() & 0x20) != 0 ? "P" : "T"); break;
            case 6: {
                const uint8_t field = static_cast<uint8_t>(p[1]);
                p += 2;
                const unsigned shift = field >> 4;
                const unsigned width = field & 0x0F;
                const unsigned bits = (next_value() >> shift) & ((1u << width) - 1u);
                put(at_decimal_text(digits, bits));
                break;
            }
            case 8:
                next_value();
                next_template = true;
                break;
            case 7: next_template = true; break;
            case 9: {
                static const char* const kRates[5] = {"4800", "7200", "9600", "12000", "14400"};
                const uint8_t code_value = next_value();
                put(code_value >= 6 && code_value <= 10 ? kRates[code_value - 6] : "0000");
                break;
            }
            default: {
                const char one[2] = {static_cast<char>(code), 0};
                put(one);
                break;
            }
            }
        }
    }
    flush();
}

uint8_t read_power_up(const AcuContext* acu)
{
    uint8_t n = 0;
    if (nv_read(acu->settings, NV_POWER_UP_PROFILE, 1, &n) != 0)
        return 0;
    return n;
}

void print_numbers(AcuContext* acu)
{
    PrintToDte(acu, "TELEPHONE NUMBERS:", PRINT_TEXT_END);
    for (unsigned k = 0; k < 4; ++k) {
        char number[NV_NUMBER_SIZE + 1] = {};
        if (nv_read(acu->settings, nv_number_offset(k), NV_NUMBER_SIZE, number) != 0)
            number[0] = 0;
        char line[48] = "&Z0 =";
        line[2] = static_cast<char>('0' + k);
        std::strcat(line, number);
        if (k % 2 == 0) {
            std::size_t length = std::strlen(number);
            std::size_t end = std::strlen(line);
            while (length < 36 && end + 1 < sizeof line) {
                line[end++] = ' ';
                ++length;
            }
            line[end] = 0;
            PrintToDte(acu, line, PRINT_TEXT);
        } else {
            PrintToDte(acu, line, PRINT_TEXT_END);
        }
    }
}

}  // namespace

void at_amp_W(AcuContext* acu, uint8_t* args)
{
    if (args[0] > 1) {
        at_set_error(acu);
        return;
    }
    at_store_profile(acu, args[0]);
}

void at_amp_Y(AcuContext* acu, uint8_t* args)
{
    if (args[0] > 1) {
        at_set_error(acu);
        return;
    }
    if (nv_write(acu->settings, NV_POWER_UP_PROFILE, 1, &args[0]) != 0) {
        at_set_error(acu);
        return;
    }
    const uint8_t sum = nv_checksum(acu->settings);
    nv_write(acu->settings, NV_CHECKSUM, 1, &sum);
}

void at_amp_Z(AcuContext* acu, uint8_t* args)
{
    const char* p = reinterpret_cast<const char*>(args);
    const char* end = p + AT_ARG_BUFFER;
    while (p < end && *p == '0')
        ++p;
    unsigned n;
    if (p < end && *p >= '1' && *p <= '3') {
        n = static_cast<unsigned>(*p - '0');
        ++p;
        if (p >= end || *p != '=') {
            at_set_error(acu);
            return;
        }
    } else if (p < end && *p == '=') {
        n = 0;
    } else {
        at_set_error(acu);
        return;
    }
    ++p;
    // A number slot has 31 bytes with the terminating zero: at most 30 characters fit, so a longer number
    // never runs into the next slot (or, for number 3, into the bytes after the numbers).
    char number[NV_NUMBER_SIZE];
    unsigned kept = 0;
    for (; p < end && *p != 0; ++p) {
        const char c = *p;
        const bool keep = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'D') || std::strchr("#*,;!@PRTW", c) != nullptr;
        if (!keep)
            continue;
        if (kept + 1 >= NV_NUMBER_SIZE) {
            at_set_error(acu);
            return;
        }
        number[kept++] = c;
    }
    number[kept] = 0;
    if (nv_write(acu->settings, nv_number_offset(n), kept + 1, number) != 0) {
        at_set_error(acu);
        return;
    }
    const uint8_t sum = nv_checksum(acu->settings);
    nv_write(acu->settings, NV_CHECKSUM, 1, &sum);
}

void at_amp_V(AcuContext* acu, uint8_t* args)
{
    const uint8_t which = args[0];
    if (which > 1) {
        at_set_error(acu);
        return;
    }
    at_print_line_end(acu);
    at_print_line_end(acu);
    PrintToDte(acu, "ACTIVE PROFILE:", PRINT_TEXT_END);
    uint8_t snapshot[FACTORY_SETTINGS_SIZE];
    for (unsigned k = 0; k < FACTORY_SETTINGS_SIZE; ++k)
        snapshot[k] = profile_setting(acu, k);
    const uint8_t power_up = read_power_up(acu);
    const uint8_t* values[kActiveCount];
    for (unsigned k = 0; k < kActiveCount; ++k)
        values[k] = kActiveValues[k] == kPowerUp ? &power_up : &snapshot[kActiveValues[k]];
    print_templates(acu, kActiveTemplates, 5, values, kActiveCount);

    PrintToDte(acu, which == 1 ? "STORED PROFILE 1:" : "STORED PROFILE 0:", PRINT_TEXT_END);
    StoredProfile stored;
    if (nv_read(acu->settings, profile_offset(which), PROFILE_SIZE, stored.bytes) != 0) {
        at_set_error(acu);
        return;
    }
    const uint8_t* stored_values[kStoredCount];
    for (unsigned k = 0; k < kStoredCount; ++k)
        stored_values[k] = &stored.bytes[kStoredValues[k]];
    print_templates(acu, kStoredTemplates, 5, stored_values, kStoredCount);
    print_numbers(acu);
}
