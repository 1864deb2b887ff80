#include "layer2/corecode/cmd/factory_profile.h"

// clang-format off
const uint8_t kFactorySettings[FACTORY_SETTINGS_SIZE] = {
    0, 43, 2, 60, 2, 6, 14, 70, 50,      // S0 S2 S6 S7 S8 S9 S10 S11 S12
    138, 0, 0, 48, 118, 48, 5, 1, 64,    // S14 S16 S18 S21 S22 S23 S25 S26 S27
    0,                                   // S30
    0, 4, 3,                             // W X \A
    13, 0, 1, 1, 0, 0, 0,                // %A \C %C %E \G (data link) \J
    3, 0, 3,                             // +EB break type, \L, \N
    3, 0, 0, 1, 1,                       // (data link) \X (data link) +MA mark -J
    3, 32,                               // +DS direction, maximum string length
    0, 0,                                // DTE character format
    0, 75, 0,                            // DTE rate 19200
    2, 2,                                // parity type, character-format option
    1, 1, 1, 0,                          // (data link) %G (data link) &U
    0, 0, 0, 0,                          // +EB break length, -C, (data link) x2
    0, 0, 2, 0, 3,                       // )M (data link) -Q (data link) &K
    0, 99, 10, 1, 0,                     // last &F, (data link) x4
    32, 10,                              // S32 S33
    3, 0, 3, 0, 2,                       // +DS direction copy, +DS second value, +ES x3
    0, 13, 10, 8,                        // S1 S3 S4 S5 (factory only from here)
    39, 61, 2, 0,                        // pulse make and break ratio, dial option, current S-register
    0, 0,                                // S19 S20
};
// clang-format on
