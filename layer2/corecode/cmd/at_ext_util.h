// Helpers shared by the extended command handlers: reading list arguments and printing the "name: values"
// answers and fixed "=?" texts.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

constexpr unsigned EXT_MAX_POSITIONS = 16;

// The values of a list argument (pairs of position and value, `width` bytes each, ended by position 0).
// present[k] tells whether position k + 1 was given. False when a position above `max_positions` was given.
struct ExtList {
    uint32_t value[EXT_MAX_POSITIONS];
    bool present[EXT_MAX_POSITIONS];
};
bool ext_read_list(const uint8_t* args, unsigned width, unsigned max_positions, ExtList* out);

// "=?" and single texts: mode 1 with verbal results, 0 otherwise.
void ext_print_text(AcuContext* acu, const char* text);
// "name: " (prefix mode) followed by the value text (mode 0).
void ext_print_answer(AcuContext* acu, const char* prefix, const char* values);
// Appends to a bounded text.
void ext_append(char* text, unsigned size, const char* more);
// Three-digit value appended (with a leading comma unless first).
void ext_append_3(char* text, unsigned size, unsigned value, bool first);
