// The argument scanners: parse the arguments of the matched command (types 0-20) from the cursor into the
// argument buffer. Every scanner is bounded by the buffer: an argument that does not fit is an error.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

enum AtArgType : uint8_t {
    ARG_NONE = 0,
    ARG_BYTE = 1,
    ARG_WORD = 2,
    ARG_DWORD = 3,
    ARG_BYTE_LIST = 4,
    ARG_WORD_LIST = 5,
    ARG_DWORD_LIST = 6,
    ARG_HEX_BYTE = 7,
    ARG_HEX_WORD = 8,
    ARG_HEX_DWORD = 9,
    ARG_HEX_BYTE_LIST = 10,
    ARG_HEX_WORD_LIST = 11,
    ARG_HEX_DWORD_LIST = 12,
    ARG_DIAL_STRING = 13,
    ARG_QUOTED = 14,
    ARG_DIGITS_DOTS = 15,
    ARG_REST = 16,
    ARG_DIAL_CHARS = 17,
    ARG_TONE_LIST = 18,
    ARG_SIGNED_BYTE = 19,
    ARG_TEXT = 20,
};

// Scans the arguments of `type` at acu->cursor into acu->args; 0 good, 1 error (the error flag is set).
int ScanArguments(AcuContext* acu, uint8_t type);

// Readers of the argument buffer (little-endian, as the scanners store them).
uint16_t at_arg_u16(const uint8_t* args, unsigned index);
uint32_t at_arg_u32(const uint8_t* args, unsigned index);
