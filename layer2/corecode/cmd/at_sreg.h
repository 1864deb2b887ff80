// The S-register file S0-S119: which registers exist, their limits and factory values, the checked write
// ("=") and read ("?"), and the accessors the rest of the controller uses for the bit-mapped option
// registers. The registers live in AcuContext::sreg (one byte each; the bit-mapped S14, S16, S21, S22, S23
// and S27 hold the low byte of their option words there).
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

struct SRegisterDescriptor {
    uint8_t exists;
    uint8_t minimum;
    uint8_t maximum;
    uint8_t factory;  // S81-S83 and S91-S93: the non-volatile reset value (above the maximum)
};

extern const SRegisterDescriptor SRegisterTable[S_REGISTER_COUNT];

// Factory values into every existing register (S81-S83 and S91-S93 get their non-volatile reset values).
void at_sreg_factory(AcuContext* acu);
// "=": writes register n in order: refusal (no such register, S30 above 255), the country's limit, the
// register's clamp, the call-progress timing resend for S7/S9/S10, the auto-answer option for S0, the
// non-volatile copies of S81-S83 and S91-S93. False when refused.
bool at_sreg_write(AcuContext* acu, uint32_t n, uint32_t value);
// "?": the value of an existing register, else 0.
uint8_t at_sreg_read(const AcuContext* acu, uint32_t n);
// Sends the call-progress timing (S9, S7, S10, dial option, S91, the connection's timing byte, S108) through
// the line hooks; with S27 bit 2 set S10 goes as 255, S63 replaces S91 and the speaker is switched off.
void at_send_cp_timing(AcuContext* acu);
// Sets the auto-answer option from S0 (and tells the line hooks).
void at_apply_auto_answer(AcuContext* acu);

// ---- accessors of the bit-mapped option registers ----
inline uint8_t at_sreg_bits(const AcuContext* acu, unsigned n, unsigned shift, unsigned width)
{
    return static_cast<uint8_t>((acu->sreg[n] >> shift) & ((1u << width) - 1u));
}
inline uint8_t at_opt_echo(const AcuContext* acu) { return at_sreg_bits(acu, S_OPTIONS, 1, 1); }          // E
inline uint8_t at_opt_quiet(const AcuContext* acu) { return at_sreg_bits(acu, S_OPTIONS, 2, 1); }         // Q
inline uint8_t at_opt_verbal(const AcuContext* acu) { return at_sreg_bits(acu, S_OPTIONS, 3, 1); }        // V
inline uint8_t at_opt_pulse(const AcuContext* acu) { return at_sreg_bits(acu, S_OPTIONS, 5, 1); }         // P/T
inline uint8_t at_opt_originate(const AcuContext* acu) { return at_sreg_bits(acu, S_OPTIONS, 7, 1); }     // cleared by A
inline uint8_t at_opt_amp_j(const AcuContext* acu) { return at_sreg_bits(acu, S_DTE_OPTIONS, 0, 1); }         // &J
inline uint8_t at_opt_amp_d(const AcuContext* acu) { return at_sreg_bits(acu, S_DTE_OPTIONS, 3, 2); }         // &D 0-3
inline uint8_t at_opt_amp_c(const AcuContext* acu) { return at_sreg_bits(acu, S_DTE_OPTIONS, 5, 1); }         // &C
inline uint8_t at_opt_amp_s(const AcuContext* acu) { return at_sreg_bits(acu, S_DTE_OPTIONS, 6, 1); }         // &S
inline uint8_t at_opt_y(const AcuContext* acu) { return at_sreg_bits(acu, S_DTE_OPTIONS, 7, 1); }             // Y
inline uint8_t at_opt_speaker_volume(const AcuContext* acu) { return at_sreg_bits(acu, S_RESULT_OPTIONS, 0, 2); } // L
inline uint8_t at_opt_speaker_mode(const AcuContext* acu) { return at_sreg_bits(acu, S_RESULT_OPTIONS, 2, 2); }  // M
inline uint8_t at_opt_x_bits(const AcuContext* acu) { return at_sreg_bits(acu, S_RESULT_OPTIONS, 4, 3); }        // X bit set
inline uint8_t at_opt_amp_p(const AcuContext* acu) { return at_sreg_bits(acu, S_RESULT_OPTIONS, 7, 1); }         // &P
inline uint8_t at_opt_loopback_grant(const AcuContext* acu) { return at_sreg_bits(acu, S_DTE_FORMAT, 0, 1); }
inline uint8_t at_opt_dte_rate_code(const AcuContext* acu) { return at_sreg_bits(acu, S_DTE_FORMAT, 1, 3); }
inline uint8_t at_opt_parity(const AcuContext* acu) { return at_sreg_bits(acu, S_DTE_FORMAT, 4, 2); }
inline uint8_t at_opt_amp_g(const AcuContext* acu) { return at_sreg_bits(acu, S_DTE_FORMAT, 6, 2); }         // &G (0, 1, 2)
inline uint8_t at_opt_line_mode(const AcuContext* acu) { return at_sreg_bits(acu, S_LINE_OPTIONS, 0, 2); }     // checked by A, D
