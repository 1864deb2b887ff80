// The settings of the extended commands (+MS and +MA, +ETBM, +ESR, +EFCS, +DS44, V.253, V.80/V.8 and the
// V.92 set), one record per device inside AcuContext. The settings that stored profiles keep (+ES, +DS,
// +EB, +IFC and the report options) stay in AtSettings.
#pragma once

#include <cstdint>

constexpr unsigned MS_ROWS = 10;

struct AtExtSettings {
    // +MS: the chosen MsModulation row, automode and the four rates as given (0 = none), and the effective
    // limits (a rate of 0 means the row's own limit).
    uint8_t ms_row;
    uint8_t ms_automode;
    uint32_t ms_rate[4];   // minimum transmit, maximum transmit, minimum receive, maximum receive
    uint32_t ms_limit[4];
    uint8_t v92_mark;      // V90 is shown as "V92" while set (no registered command sets it)
    // +MA: the selection flag of each MsModulation row and the mark that +MA= gave the list.
    uint16_t ma_selected[MS_ROWS];
    uint8_t ma_given;
    uint8_t esr;           // +ESR
    uint8_t efcs;          // +EFCS
    uint16_t etbm[3];      // +ETBM (the third kept as value x 100)
    uint16_t ds44[9];      // +DS44 (kept here for the data link's V.44 parameters)
    // V.253.
    uint8_t vnh;
    uint8_t vcid;
    uint8_t flo;
    uint8_t vdr[2];
    uint8_t cid_capture;   // caller-ID capture state (0 idle)
    // V.80 and V.8.
    uint8_t esa[8];        // +ESA positions 1-8 (position 4 is never set)
    uint8_t a8e[4];        // origination option, answer option, call-function byte, position 4
    uint8_t a8j_mark;      // set by a "+A8J:" indication
    uint8_t v8_loaded;     // the V.8 parameters were written for call function 21
    // V.92 set (its table is not registered).
    uint8_t pcw, pmh, pmht, pqc, pss, v34moh, pig, phsw;
};
