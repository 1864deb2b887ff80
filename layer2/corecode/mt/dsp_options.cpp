// Relays as call control drives them, option flags, the ICD flag bytes and the virtual modem lines.
#include "layer2/corecode/mt/dsp_options.h"

#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_control.h"

namespace {

constexpr uint8_t kOptionHookBit = 0x04;
constexpr uint8_t kCtsHeld = 0x08;

}  // namespace

void dsp_relay_hook(DspDevice* dev, bool off_hook)
{
    dsp_relay_hook_output(&dev->link, off_hook);
    const DspLinkHooks& h = dev->link.hooks;
    if (h.set_slice != nullptr) {
        uint8_t setting = 2;
        if (off_hook) {
            const uint8_t mode = h.cc_mode != nullptr ? h.cc_mode(h.ctx) : 0;
            setting = mode == 0 ? 3 : (mode == 1 || mode == 8) ? 4 : 2;
        }
        h.set_slice(h.ctx, setting);
    }
    opt_set(&dev->line.optionA, kOptionHookBit, off_hook ? 1 : 0);
}

bool dsp_local_phone_off_hook(DspDevice* dev)
{
    const uint8_t* lpohd = dev->context.lpohd;
    return lpohd != nullptr && *lpohd != 0 && dev->context.ready != 0 && dsp_local_phone_input_low(&dev->link);
}

bool dsp_hook_status(DspDevice* dev)
{
    return dsp_gpio_hook_state(&dev->context);
}

void opt_set_a20(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionA, 0x20, flag); }
void opt_set_a01(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionA, 0x01, flag); }
void opt_set_a08(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionA, 0x08, flag); }
void opt_set_a40(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionA, 0x40, flag); }
void opt_set_a80(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionA, 0x80, flag); }
void opt_set_b02(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionB, 0x02, flag); }
void opt_set_a10(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionA, 0x10, flag); }
void opt_set_b01(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionB, 0x01, flag); }
void opt_set_hook_bit(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionA, kOptionHookBit, flag); }
void opt_set_a02(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionA, 0x02, flag); }
void opt_set_b04(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionB, 0x04, flag); }
void opt_set_c40(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionC, 0x40, flag); }
void opt_set_c08(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionC, 0x08, flag); }
void opt_set_b08(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionB, 0x08, flag); }
void opt_set_b80(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionB, 0x80, flag); }
void opt_set_b10(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionB, 0x10, flag); }
void opt_set_b20(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionB, 0x20, flag); }
void opt_set_b40(DspLineControl* lc, uint8_t flag) { opt_set(&lc->optionB, 0x40, flag); }

uint8_t icd_flag_get(DspDevice* dev) { return dev->link.icdFlags[0]; }
void icd_flag_set(DspDevice* dev, uint8_t b) { dev->link.icdFlags[1] = b; }
void icd_flag_clear(DspDevice* dev) { dev->link.icdFlags[2] = 0; }

void icd_flag_update(DspDevice* dev)
{
    dev->link.icdFlags[0] = (dev->link.icdFlags[2] != 0 && (dsp_read_status(dev) & 0x20) != 0) ? 1 : 0;
}

void dsp_no_event(void* arg)
{
    (void)arg;
}

void port_set_cts(DspLineControl* lc, uint8_t on)
{
    if (lc->dte == nullptr)
        return;
    if (on) {
        dte_raise_cts(lc->dte);
        lc->ctsHeld = static_cast<uint8_t>(lc->ctsHeld | kCtsHeld);
    } else {
        dte_drop_cts(lc->dte);
    }
}

void dsp_line_dsr(DspLineControl* lc, uint8_t flag)
{
    if (lc->dte != nullptr)
        (flag == 1 ? dte_raise_dsr : dte_drop_dsr)(lc->dte);
}

void dsp_line_ri(DspLineControl* lc, uint8_t flag)
{
    if (lc->dte != nullptr)
        (flag == 1 ? dte_raise_ri : dte_drop_ri)(lc->dte);
}

void dsp_line_dcd(DspLineControl* lc, uint8_t flag)
{
    if (lc->dte != nullptr)
        (flag == 1 ? dte_raise_dcd : dte_drop_dcd)(lc->dte);
}

uint8_t port_get_cts(DspLineControl* lc) { return lc->dte != nullptr ? dte_get_signal(lc->dte, 3) : 0; }
uint8_t port_get_rts(DspLineControl* lc) { return lc->dte != nullptr ? dte_get_signal(lc->dte, 2) : 0; }
uint8_t port_get_dtr(DspLineControl* lc) { return lc->dte != nullptr ? dte_get_signal(lc->dte, 1) : 0; }
