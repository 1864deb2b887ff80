#include "layer2/corecode/cmd/at_scan.h"
#include "platform/byte_order.h"

#include <cstring>

namespace {

// Writes into the argument buffer with a bound; `failed` records any write that did not fit.
struct ArgWriter {
    uint8_t* buffer;
    unsigned size;
    unsigned used = 0;
    bool failed = false;

    void put(uint32_t value, unsigned width)
    {
        if (used + width > size) {
            failed = true;
            return;
        }
        for (unsigned k = 0; k < width; ++k)
            buffer[used + k] = static_cast<uint8_t>(value >> (8 * k));
        used += width;
    }
    void put_char(char c) { put(static_cast<uint8_t>(c), 1); }
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads decimal digits (none reads as 0); false when the value passes `limit`.
bool read_decimal(const char** cursor, uint32_t limit, uint32_t* value)
{
    uint64_t v = 0;
    bool over = false;
    const char* p = *cursor;
    while (is_digit(*p)) {
        v = v * 10u + static_cast<uint64_t>(*p - '0');
        if (v > limit) {
            over = true;
            v = limit;  // keep reading the digits, the value is refused anyway
        }
        ++p;
    }
    *cursor = p;
    *value = static_cast<uint32_t>(v);
    return !over;
}

// Reads hexadecimal digits, leading zeros ignored, at most `digits` significant ones; false when a further
// hexadecimal digit follows.
bool read_hex(const char** cursor, unsigned digits, uint32_t* value)
{
    const char* p = *cursor;
    while (*p == '0')
        ++p;
    uint32_t v = 0;
    unsigned n = 0;
    while (hex_value(*p) >= 0 && n < digits) {
        v = (v << 4) | static_cast<uint32_t>(hex_value(*p));
        ++p;
        ++n;
    }
    *cursor = p;
    *value = v;
    return hex_value(*p) < 0;
}

bool is_tone_char(char c)
{
    return c == '!' || c == '#' || c == '*' || is_digit(c) || (c >= 'A' && c <= 'D');
}

bool is_dial_char(char c)
{
    return std::strchr("!#*,;=@ABCDPRTW", c) != nullptr ? c != 0 : is_digit(c);
}

bool scan_list(AcuContext* acu, ArgWriter* w, unsigned width, bool hex)
{
    const uint32_t limit = width == 1 ? 0xFFu : width == 2 ? 0xFFFFu : 0xFFFFFFFFu;
    const unsigned hex_digits = width * 2;
    uint32_t position = 1;
    for (;;) {
        char c = *acu->cursor;
        bool starts = hex ? hex_value(c) >= 0 : is_digit(c);
        if (starts) {
            uint32_t value = 0;
            bool good = hex ? read_hex(&acu->cursor, hex_digits, &value) : read_decimal(&acu->cursor, limit, &value);
            if (!good)
                return false;
            w->put(position, width);
            w->put(value, width);
        }
        if (*acu->cursor != ',')
            break;
        ++acu->cursor;
        if (position < limit)
            ++position;
    }
    w->put(0, width);
    return !w->failed;
}

// One "[f1,f2,d]" group after its "[".
bool scan_frequency_group(AcuContext* acu, ArgWriter* w)
{
    unsigned field = 0;
    unsigned present = 0;
    for (;;) {
        char c = *acu->cursor;
        if (is_digit(c)) {
            uint32_t v = 0;
            if (!read_decimal(&acu->cursor, 0xFFFF, &v))
                return false;
            w->put(7 + field, 2);
            w->put(v, 2);
            ++present;
            c = *acu->cursor;
        }
        if (c == ',') {
            ++acu->cursor;
            if (++field > 2)
                return false;  // a third comma inside
            continue;
        }
        if (c == ']') {
            ++acu->cursor;
            if (present == 0) {
                if (field > 1)
                    return false;  // a closing bracket after only commas
                w->put(3, 2);
            } else if (present < 3) {
                w->put(255, 2);
            }
            return true;
        }
        return false;
    }
}

// One "{c,d}" group after its "{".
bool scan_digit_group(AcuContext* acu, ArgWriter* w)
{
    bool have_char = false;
    bool have_duration = false;
    if (is_tone_char(*acu->cursor)) {
        w->put(4, 2);
        w->put(static_cast<uint8_t>(*acu->cursor), 2);
        have_char = true;
        ++acu->cursor;
    }
    if (*acu->cursor == ',') {
        ++acu->cursor;
        if (is_digit(*acu->cursor)) {
            uint32_t v = 0;
            if (!read_decimal(&acu->cursor, 0xFFFF, &v))
                return false;
            w->put(5, 2);
            w->put(v, 2);
            have_duration = true;
        }
        if (*acu->cursor == ',')
            return false;  // a second comma
    }
    if (*acu->cursor != '}')
        return false;  // digits before the comma, or any other character
    ++acu->cursor;
    if (!have_char && !have_duration)
        w->put(3, 2);
    else if (!(have_char && have_duration))
        w->put(255, 2);
    return true;
}

bool scan_tone_list(AcuContext* acu, ArgWriter* w)
{
    bool just_ended = false;
    for (;;) {
        char c = *acu->cursor;
        if (c == ',') {
            ++acu->cursor;
            if (!just_ended)
                w->put(1, 2);  // an empty item
            just_ended = false;
        } else if (c == '[') {
            ++acu->cursor;
            if (!scan_frequency_group(acu, w))
                return false;
            just_ended = true;
        } else if (c == '{') {
            ++acu->cursor;
            if (!scan_digit_group(acu, w))
                return false;
            just_ended = true;
        } else if (c != 0 && is_tone_char(c)) {
            ++acu->cursor;
            w->put(2, 2);
            w->put(static_cast<uint8_t>(c), 2);
            just_ended = true;
        } else {
            break;
        }
        if (w->failed)
            return false;
    }
    w->put(0, 2);
    return !w->failed;
}

bool scan(AcuContext* acu, uint8_t type, ArgWriter* w)
{
    uint32_t value = 0;
    switch (type) {
    case ARG_NONE:
        return true;
    case ARG_BYTE:
    case ARG_WORD:
    case ARG_DWORD: {
        unsigned width = type == ARG_BYTE ? 1 : type == ARG_WORD ? 2 : 4;
        uint32_t limit = width == 1 ? 0xFFu : width == 2 ? 0xFFFFu : 0xFFFFFFFFu;
        if (!read_decimal(&acu->cursor, limit, &value))
            return false;
        w->put(value, width);
        w->put(0, width);
        return !w->failed;
    }
    case ARG_BYTE_LIST: return scan_list(acu, w, 1, false);
    case ARG_WORD_LIST: return scan_list(acu, w, 2, false);
    case ARG_DWORD_LIST: return scan_list(acu, w, 4, false);
    case ARG_HEX_BYTE:
    case ARG_HEX_WORD:
    case ARG_HEX_DWORD: {
        unsigned width = type == ARG_HEX_BYTE ? 1 : type == ARG_HEX_WORD ? 2 : 4;
        if (!read_hex(&acu->cursor, width * 2, &value))
            return false;
        w->put(value, width);
        w->put(0, width);
        return !w->failed;
    }
    case ARG_HEX_BYTE_LIST: return scan_list(acu, w, 1, true);
    case ARG_HEX_WORD_LIST: return scan_list(acu, w, 2, true);
    case ARG_HEX_DWORD_LIST: return scan_list(acu, w, 4, true);
    case ARG_DIAL_STRING:
        while (*acu->cursor != 0) {
            char c = *acu->cursor++;
            w->put_char(c);
            if (c == ';')
                break;
        }
        w->put(0, 1);
        return !w->failed;
    case ARG_QUOTED: {
        if (*acu->cursor != '"')
            return false;
        w->put_char(*acu->cursor++);
        while (*acu->cursor != 0 && *acu->cursor != '"')
            w->put_char(*acu->cursor++);
        if (*acu->cursor != '"')
            return false;
        w->put_char(*acu->cursor++);
        w->put(0, 1);
        return !w->failed;
    }
    case ARG_DIGITS_DOTS: {
        unsigned n = 0;
        while (is_digit(*acu->cursor) || *acu->cursor == '.') {
            w->put_char(*acu->cursor++);
            ++n;
        }
        w->put(0, 1);
        return n != 0 && !w->failed;
    }
    case ARG_REST:
        while (*acu->cursor != 0)
            w->put_char(*acu->cursor++);
        w->put(0, 1);
        return !w->failed;
    case ARG_DIAL_CHARS:
        while (*acu->cursor != 0) {
            char c = *acu->cursor;
            if (c == '(' || c == ')' || c == '-') {
                ++acu->cursor;
                continue;
            }
            if (!is_dial_char(c))
                return false;
            w->put_char(c);
            ++acu->cursor;
        }
        w->put(0, 1);
        return !w->failed;
    case ARG_TONE_LIST:
        return scan_tone_list(acu, w);
    case ARG_SIGNED_BYTE: {
        bool negative = false;
        if (*acu->cursor == '-' || *acu->cursor == '+') {
            negative = *acu->cursor == '-';
            ++acu->cursor;
        }
        if (!read_decimal(&acu->cursor, 0xFF, &value) || value >= 128)
            return false;
        w->put(negative ? static_cast<uint8_t>(0u - value) : value, 1);
        w->put(0, 1);
        return !w->failed;
    }
    case ARG_TEXT:
        while (*acu->cursor != 0 && *acu->cursor != ';')
            w->put_char(*acu->cursor++);
        w->put(0, 1);
        return !w->failed;
    default:
        return false;
    }
}

}  // namespace

int ScanArguments(AcuContext* acu, uint8_t type)
{
    // The first argument slot and the count are cleared before scanning.
    std::memset(acu->args, 0, 8);
    ArgWriter w{acu->args, AT_ARG_BUFFER};
    if (!scan(acu, type, &w) || w.failed) {
        at_set_error(acu);
        return 1;
    }
    return 0;
}

uint16_t at_arg_u16(const uint8_t* args, unsigned index)
{
    return ReadLe16(args + 2 * index);
}

uint32_t at_arg_u32(const uint8_t* args, unsigned index)
{
    return ReadLe32(args + 4 * index);
}
