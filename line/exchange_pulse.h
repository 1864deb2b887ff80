// The exchange's loop-disconnect (pulse) digit receiver: it reads a subscriber's hook changes, with their
// times, as the digits of 10 pulse-per-second dialling, within the limits exchanges apply:
//   - pulse period (one break and the make after it, inside a digit) from 90 to 111 ms (9 to 11 pulses per
//     second);
//   - break ratio (break over period) from 54 % to 72 %; the last break of a digit, which has no period,
//     from 48 to 80 ms;
//   - a make of 100 ms ends the digit; the next digit may start no sooner than 200 ms after the last break
//     ended (the inter-digit pause);
//   - at most 10 pulses (10 is the digit 0).
// A digit that breaks a limit is reported as rejected. Breaks longer than the pulse limits are not digits; the
// exchange reads a long one as the subscriber hanging up.
#pragma once

#include <cstdint>

#include "platform/kernel.h"

struct PulseLimits {
    LONGLONG periodMin = 90 * 10000;   // 100 ns units
    LONGLONG periodMax = 111 * 10000;
    int ratioMinPercent = 54;
    int ratioMaxPercent = 72;
    LONGLONG lastBreakMin = 48 * 10000;
    LONGLONG lastBreakMax = 80 * 10000;
    LONGLONG digitEnd = 100 * 10000;   // a make this long ends the digit
    LONGLONG interdigitMin = 200 * 10000;
};

struct PulseVerdict {
    bool digit = false;   // a digit ended
    bool valid = false;
    char key = 0;         // '0'-'9' when valid
    int pulses = 0;
    const char* reject = nullptr;
};

struct PulseReceiver {
    PulseLimits limits;
    bool closed = false;
    LONGLONG breakStart = 0;       // of the break in progress or the last one
    LONGLONG lastBreakEnd = 0;
    LONGLONG lastBreakLength = 0;
    LONGLONG digitEndTime = 0;     // when the last digit's last break ended
    bool hadDigit = false;
    int pulses = 0;                // of the digit in progress
    const char* fault = nullptr;   // the first limit the digit in progress broke
};

void PulseReceiverInit(PulseReceiver* r, bool closed, const PulseLimits& limits = PulseLimits());
// A hook change at time t (closed: loop closed, off hook).
void PulseReceiverHook(PulseReceiver* r, bool closed, LONGLONG t);
// Ends the digit in progress once the loop has stayed closed long enough by time t; the verdict tells.
PulseVerdict PulseReceiverPoll(PulseReceiver* r, LONGLONG t);
// Whether a digit is being dialled (a break seen and the digit not yet ended).
bool PulseReceiverActive(const PulseReceiver* r);
// Forgets any digit in progress (the line was cleared or the exchange stopped listening).
void PulseReceiverReset(PulseReceiver* r, bool closed);
