// The line-interface relays as call control drives them, the option-flag words and their setters, the three
// ICD flag bytes, and the virtual modem lines towards the application.
#pragma once

#include <cstdint>

#include "layer2/corecode/mt/dsp_device.h"

struct DteContext;

// Hook relay (register 242 output 0x04, active low): drives the output, keeps the hook option bit and sets
// the controller task's time slice (off hook: call-control mode 0 gives slice setting 3, modes 1 and 8 give
// 4; on hook 2).
void dsp_relay_hook(DspDevice* dev, bool off_hook);
// True when the "gpio_lpohd" option is on, the interface is ready and the local-phone input is low.
bool dsp_local_phone_off_hook(DspDevice* dev);
bool dsp_hook_status(DspDevice* dev);

// Option-flag setters: non-zero sets the bit, zero clears it.
void opt_set_a20(DspLineControl* lc, uint8_t flag);
void opt_set_a01(DspLineControl* lc, uint8_t flag);
void opt_set_a08(DspLineControl* lc, uint8_t flag);
void opt_set_a40(DspLineControl* lc, uint8_t flag);
void opt_set_a80(DspLineControl* lc, uint8_t flag);
void opt_set_b02(DspLineControl* lc, uint8_t flag);
void opt_set_a10(DspLineControl* lc, uint8_t flag);
void opt_set_b01(DspLineControl* lc, uint8_t flag);
void opt_set_hook_bit(DspLineControl* lc, uint8_t flag);
void opt_set_a02(DspLineControl* lc, uint8_t flag);
void opt_set_b04(DspLineControl* lc, uint8_t flag);
void opt_set_c40(DspLineControl* lc, uint8_t flag);
void opt_set_c08(DspLineControl* lc, uint8_t flag);
void opt_set_b08(DspLineControl* lc, uint8_t flag);
void opt_set_b80(DspLineControl* lc, uint8_t flag);
void opt_set_b10(DspLineControl* lc, uint8_t flag);
void opt_set_b20(DspLineControl* lc, uint8_t flag);
void opt_set_b40(DspLineControl* lc, uint8_t flag);

// The three flag bytes beside the packet buffer.
uint8_t icd_flag_get(DspDevice* dev);
void icd_flag_set(DspDevice* dev, uint8_t b);
void icd_flag_clear(DspDevice* dev);
// The first flag := 1 when the third is set and the DSP status has bit 0x20, else 0.
void icd_flag_update(DspDevice* dev);
// The event routine that does nothing (for call control's table of DSP event routines).
void dsp_no_event(void* arg);

// Virtual lines towards the application.
void port_set_cts(DspLineControl* lc, uint8_t on);
void dsp_line_dsr(DspLineControl* lc, uint8_t flag);
void dsp_line_ri(DspLineControl* lc, uint8_t flag);
void dsp_line_dcd(DspLineControl* lc, uint8_t flag);
uint8_t port_get_cts(DspLineControl* lc);
uint8_t port_get_rts(DspLineControl* lc);
uint8_t port_get_dtr(DspLineControl* lc);
