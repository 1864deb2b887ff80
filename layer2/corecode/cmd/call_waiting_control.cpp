// The call-waiting sequence in the modem: armed when a data connection comes up and stepped by the DSP
// message pump's class 9 stepping while the event flag word's call-waiting bit is set. Its tone flag is bit
// 0 of the data pump's call-waiting tone register (cleared when the sequence is armed or stopped); the
// caller's message comes through the receive data chunk while the pump's caller-ID receiver runs. The answer is a hold request to the data pump or, with +PCW=1, a
// clear-down.
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_ticks.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_check.h"
#include "layer2/corecode/mt/dsp_link.h"
#include "window/icd_codes.h"

namespace {

constexpr uint8_t kReceiverOff = 0;
constexpr uint8_t kReceiverInCall = 3;
constexpr uint8_t kToneFlag = 0x01;      // call-waiting tone register: the tone is heard
constexpr uint16_t kKeepFlags = 0x02;    // event flag bits kept when the sequence is armed
constexpr uint8_t kPcwClearDown = 1;     // +PCW=1: a waiting call clears the data connection
constexpr uint32_t kMaxCatchUpSteps = 50;

AcuContext* A(void* ctx)
{
    return static_cast<AcuContext*>(ctx);
}

void op_print(void* ctx, const char* text, uint8_t mode)
{
    PrintToDte(A(ctx), text, mode);
}

void op_receiver(void* ctx, bool on)
{
    if (A(ctx)->dsp != nullptr)
        dsp_set_caller_id_mode(&A(ctx)->dsp->line, on ? kReceiverInCall : kReceiverOff);
}

// Hold: the modulation code × 4 + the option bit × 2 + 1 (no option is kept here, so the bit is 0).
void op_answer(void* ctx)
{
    AcuContext* acu = A(ctx);
    if (acu->ext.pcw == kPcwClearDown || acu->dsp == nullptr) {
        PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
        return;
    }
    const uint8_t request = static_cast<uint8_t>(acu->conn.modulation * 4u + 1u);
    dsp_send_command(&acu->dsp->link, IcdRetrain, &request, 1, kReplyAck, nullptr);
}

}  // namespace

void acu_cw_arm(AcuContext* acu, bool watch)
{
    cw_reset(&acu->cw, watch ? CW_WATCH : CW_OFF);
    acu->cw_last_ms = acu_now_ms();
    if (acu->dsp == nullptr)
        return;
    dsp_reg_write(&acu->dsp->link, kRegCallWaitingTone, 0);
    std::atomic<uint16_t>& flags = acu->dsp->link.events.eventFlags;
    flags.store(watch ? static_cast<uint16_t>((flags.load() & kKeepFlags) | kEventFlagCallWaiting) : 0);
    if (watch)
        dsp_line_check(&acu->dsp->context);
}

void acu_cw_step(AcuContext* acu)
{
    if (acu->dsp == nullptr || acu->cw.step == CW_OFF)
        return;
    const CountryBlock* country = acu->dsp->context.country;
    if (country == nullptr)
        return;
    const CwOps ops{acu, op_print, op_receiver, op_answer};
    // One step per 10 ms gone by, however often the message pump runs.
    const uint32_t now = acu_now_ms();
    uint32_t steps = (now - acu->cw_last_ms) / 10u;
    acu->cw_last_ms += steps * 10u;
    if (steps > kMaxCatchUpSteps)
        steps = kMaxCatchUpSteps;
    for (uint32_t k = 0; k < steps; ++k) {
        const bool tone = (dsp_reg_read(&acu->dsp->link, kRegCallWaitingTone) & kToneFlag) != 0;
        uint8_t bytes[kMailboxBytes];
        const int n = acu->cw.step == CW_CALLER_ID ? dsp_take_rx_chunk(&acu->dsp->link, bytes) : 0;
        cw_step(&acu->cw, *country, acu->ext.vcid, tone, bytes, n, ops);
    }
}
