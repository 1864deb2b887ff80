// Number formatters and the small printf-like formatter of the command handlers.
#include <cstring>

#include "layer2/corecode/cmd/at_output.h"

namespace {

const char kDigits[] = "0123456789ABCDEF";

}  // namespace

char* at_two_digit_text(char* out, unsigned value)
{
    value %= 100u;
    unsigned k = 0;
    if (value >= 10)
        out[k++] = kDigits[value / 10];
    out[k++] = kDigits[value % 10];
    out[k] = 0;
    return out;
}

char* at_three_digit_text(char* out, unsigned value)
{
    value &= 0xFFu;
    out[0] = kDigits[value / 100];
    out[1] = kDigits[(value / 10) % 10];
    out[2] = kDigits[value % 10];
    out[3] = 0;
    return out;
}

char* at_hex2_text(char* out, unsigned value)
{
    out[0] = kDigits[(value >> 4) & 0xF];
    out[1] = kDigits[value & 0xF];
    out[2] = 0;
    return out;
}

char* at_base_text(char* out, uint32_t value, unsigned base, unsigned width, bool negative)
{
    if (base < 2 || base > 16)
        base = 10;
    if (width > 32)
        width = 32;
    char reversed[33];
    unsigned n = 0;
    do {
        reversed[n++] = kDigits[value % base];
        value /= base;
    } while (value != 0 && n < 32);
    while (n < width)
        reversed[n++] = '0';
    unsigned k = 0;
    if (negative && base == 10)
        out[k++] = '-';
    while (n != 0)
        out[k++] = reversed[--n];
    out[k] = 0;
    return out;
}

char* at_decimal_text(char* out, uint32_t value) { return at_base_text(out, value, 10, 0, false); }

char* at_signed_text(char* out, int32_t value)
{
    bool negative = value < 0;
    uint32_t magnitude = negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    return at_base_text(out, magnitude, 10, 0, negative);
}

char* at_hex8_text(char* out, uint32_t value) { return at_base_text(out, value, 16, 8, false); }

void at_format_reset(AcuContext* acu)
{
    acu->format_arg_count = 0;
    acu->format_text_count = 0;
}

void at_format_arg(AcuContext* acu, uint32_t value)
{
    if (acu->format_arg_count < sizeof acu->format_args / sizeof acu->format_args[0])
        acu->format_args[acu->format_arg_count++] = value;
}

void at_format_text(AcuContext* acu, const char* text)
{
    if (acu->format_text_count < sizeof acu->format_texts / sizeof acu->format_texts[0])
        acu->format_texts[acu->format_text_count++] = text;
}

unsigned at_format_print(AcuContext* acu, const char* format)
{
    char out[256];
    unsigned length = 0;
    unsigned next_arg = 0;
    unsigned next_text = 0;
    auto append = [&](const char* text) {
        for (; *text != 0 && length + 1 < sizeof out; ++text)
            out[length++] = *text;
    };
    auto take = [&]() -> uint32_t {
        return next_arg < acu->format_arg_count ? acu->format_args[next_arg++] : 0;
    };
    for (const char* p = format; *p != 0 && length + 1 < sizeof out; ++p) {
        if (*p != '%') {
            out[length++] = *p;
            continue;
        }
        ++p;
        if (p[0] == '0' && p[1] == 'x') {
            char digits[34];
            append(at_hex8_text(digits, take()));
            ++p;
            continue;
        }
        unsigned width = 0;
        for (unsigned k = 0; k < 2 && *p >= '0' && *p <= '9'; ++k, ++p)
            width = width * 10 + static_cast<unsigned>(*p - '0');
        char digits[34];
        switch (*p) {
        case 'd': {
            int32_t v = static_cast<int32_t>(take());
            bool negative = v < 0;
            append(at_base_text(digits, negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v), 10,
                                width, negative));
            break;
        }
        case 'x': append(at_base_text(digits, take(), 16, width, false)); break;
        case 'b': append(at_base_text(digits, take(), 2, width, false)); break;
        case 'c': digits[0] = static_cast<char>(take()); digits[1] = 0; append(digits); break;
        case 's':
            if (next_text < acu->format_text_count && acu->format_texts[next_text] != nullptr)
                append(acu->format_texts[next_text]);
            ++next_text;
            break;
        case 0: --p; break;  // a lone "%" at the end
        default: out[length++] = *p; break;
        }
    }
    out[length] = 0;
    PrintToDte(acu, out, PRINT_TRANSLATE);
    return length;
}
