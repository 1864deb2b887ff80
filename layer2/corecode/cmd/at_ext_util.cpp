#include "layer2/corecode/cmd/at_ext_util.h"

#include <cstring>

#include "layer2/corecode/cmd/at_output.h"

bool ext_read_list(const uint8_t* args, unsigned width, unsigned max_positions, ExtList* out)
{
    std::memset(out, 0, sizeof *out);
    const unsigned pair = 2 * width;
    for (unsigned at = 0; at + pair <= AT_ARG_BUFFER; at += pair) {
        uint32_t position = 0;
        uint32_t value = 0;
        for (unsigned k = 0; k < width; ++k) {
            position |= static_cast<uint32_t>(args[at + k]) << (8 * k);
            value |= static_cast<uint32_t>(args[at + width + k]) << (8 * k);
        }
        if (position == 0)
            return true;
        if (position > max_positions || position > EXT_MAX_POSITIONS)
            return false;
        out->value[position - 1] = value;
        out->present[position - 1] = true;
    }
    return false;  // no end mark inside the buffer
}

void ext_print_text(AcuContext* acu, const char* text) { PrintToDte(acu, text, at_text_mode(acu)); }

void ext_print_answer(AcuContext* acu, const char* prefix, const char* values)
{
    PrintToDte(acu, prefix, at_prefix_mode(acu));
    PrintToDte(acu, values, PRINT_TEXT_END);
}

void ext_append(char* text, unsigned size, const char* more)
{
    std::size_t used = std::strlen(text);
    while (*more != 0 && used + 1 < size)
        text[used++] = *more++;
    text[used] = 0;
}

void ext_append_3(char* text, unsigned size, unsigned value, bool first)
{
    char digits[12];
    if (!first)
        ext_append(text, size, ",");
    ext_append(text, size, at_three_digit_text(digits, value));
}
