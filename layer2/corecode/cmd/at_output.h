// Response output: the writers into the DTE command output ring (they wait for room, so no character is
// ever dropped), PrintToDte with its five line-end modes, result codes in verbal and numeric form, the
// connection report and the small number formatters the handlers use.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

enum PrintMode : uint8_t {
    PRINT_TEXT_END = 0,      // text, S3 S4
    PRINT_END_TEXT_END = 1,  // S3 S4, text, S3 S4
    PRINT_END_TEXT = 2,      // S3 S4, text
    PRINT_TEXT = 3,          // text only
    PRINT_TRANSLATE = 4,     // CR and LF inside the text become S3 and S4
};

extern const char* const ResultCode[33];
extern const char* const ModulationName[25];

// Waits (1 ms sleeps, running the countdowns) until the command output has been taken by the port layer.
void dte_wait_output_drained(AcuContext* acu);

// Raw writers: every character goes out, waiting for room when the ring is full.
void at_write_char(AcuContext* acu, uint8_t c);
void at_write_text(AcuContext* acu, const char* text);
void at_write_translated(AcuContext* acu, const char* text);
void at_print_line_end(AcuContext* acu);

void PrintToDte(AcuContext* acu, const char* text, uint8_t mode);
void PrintResultCode(AcuContext* acu, uint8_t index, uint8_t arq);
void ReportExtendedConnect(AcuContext* acu, uint8_t index);

// Print mode of a single-text answer: 1 with verbal results, 0 otherwise.
uint8_t at_text_mode(const AcuContext* acu);
// Prefix mode of a "name: value" answer: 2 with verbal results, 3 otherwise.
uint8_t at_prefix_mode(const AcuContext* acu);

// Number formatters; each writes into `out` (at least 12 bytes, 34 for base 2) and returns the text.
char* at_two_digit_text(char* out, unsigned value);     // 0-99, one or two digits
char* at_three_digit_text(char* out, unsigned value);   // 000-255
char* at_hex2_text(char* out, unsigned value);          // two upper-case hexadecimal digits
char* at_decimal_text(char* out, uint32_t value);       // no leading zeros, "0" for zero
char* at_signed_text(char* out, int32_t value);
// Unsigned in base 2-16, zero-padded to `width` (at most 32); "-" only in base 10 with `negative`.
char* at_base_text(char* out, uint32_t value, unsigned base, unsigned width, bool negative);
char* at_hex8_text(char* out, uint32_t value);

// Formatter over acu->format_args: %d %x %b %c %s %0x with an optional width of one or two digits;
// "%s" takes a pointer stored with at_format_text. Printed in mode 4; returns the length.
void at_format_reset(AcuContext* acu);
void at_format_arg(AcuContext* acu, uint32_t value);
void at_format_text(AcuContext* acu, const char* text);
unsigned at_format_print(AcuContext* acu, const char* format);
