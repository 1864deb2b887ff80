// The data movers of the loop-back tests. A digital loop sends every byte the line brings back to the line;
// the self-test pattern offers 0x55 characters to the line and counts the received characters that are not
// the pattern. Both work on the plain line path and never drop a byte: a byte the transmit ring cannot take
// stays in the receive ring for the next pass.
#pragma once

#include <cstdint>

struct LineBlock;

// Self-test pattern state: the error count saturates at 255.
struct SelfTestState {
    uint8_t errors;
    uint8_t received;    // 1 once any character of the pattern came back
    uint32_t sent;       // pattern characters handed to the line
    uint32_t checked;    // characters received and checked
};

constexpr uint8_t kSelfTestPattern = 0x55;
constexpr uint16_t kSelfTestBurst = 16;   // characters offered per pass
constexpr uint16_t kSelfTestMinRoom = 5;  // the transmit side must have room for more than 4
// The transmit side the pattern fills: one line chunk. Offering the pattern only while fewer than a chunk's
// worth wait keeps the characters still in flight at the end of a test few (a full transmit ring would hold
// four seconds of pattern that reaches the application after the test).
constexpr uint16_t kSelfTestWindow = 32;

// Moves received line bytes back to the line transmit ring; returns the number moved.
uint32_t loop_digital_poll(LineBlock* lb);

void selftest_reset(SelfTestState* st);
// Offers up to 16 pattern characters when the transmit side (kSelfTestWindow) has room for more than 4;
// returns the number offered.
uint16_t selftest_send(SelfTestState* st, LineBlock* lb);
// Checks every received character: one whose low seven bits are not the pattern counts as an error.
uint32_t selftest_check(SelfTestState* st, LineBlock* lb);
// The check of a block of received characters (the part of selftest_check that needs no line block).
void selftest_count(SelfTestState* st, const uint8_t* bytes, uint32_t count);
