// The debug command set's shared pieces: the help screens, the signal tests, the reply awaited by a raw
// packet and the titled hexadecimal dump.
#pragma once

#include <cstdint>

struct AcuContext;

// "*?" and "*TT?".
void debug_help(AcuContext* acu, uint8_t* args);
void signal_test_help(AcuContext* acu, uint8_t* args);
// "*TTxx": starts signal test xx; a character from the application ends it (debug_signal_test_poll).
void signal_test(AcuContext* acu, uint8_t* args);
// While a signal test runs: a waiting character ends it and is consumed. True when a test was running (the
// input of this pass belonged to it).
bool debug_signal_test_poll(AcuContext* acu);

// The reply a raw packet of this code waits for (0: none) and the reply mode it is sent with.
uint8_t debug_awaited_reply(uint8_t code);
uint8_t debug_reply_mode(uint8_t code);

// A title line, then the bytes as two hexadecimal digits each, a space after every fourth and 16 a line.
void debug_print_hex_block(AcuContext* acu, const char* title, const uint8_t* bytes, unsigned size);
