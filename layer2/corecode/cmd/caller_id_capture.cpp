// Caller-ID capture on hook: after the first ring the caller-ID relay closes and the data pump's caller-ID
// receiver starts; the characters it receives arrive in the receive data chunk of the register window, are
// collected into the message buffer and reported once the message is complete. The second ring, the line
// being taken (answer or dial), the ring-off timer or +VCID=0 end the capture.
#include "layer2/corecode/cmd/at_basic_util.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_link.h"

namespace {

// Caller-ID receiver of the data pump (command 0x93).
constexpr uint8_t kReceiverOff = 0;
constexpr uint8_t kReceiverOnHook = 1;

void print_to_dte(void* ctx, const char* text, uint8_t mode)
{
    PrintToDte(static_cast<AcuContext*>(ctx), text, mode);
}

void receiver(AcuContext* acu, bool on)
{
    if (acu->dsp == nullptr)
        return;
    dsp_relay_caller_id(&acu->dsp->link, on);
    dsp_set_caller_id_mode(&acu->dsp->line, on ? kReceiverOnHook : kReceiverOff);
}

// The message is complete or the capture ends: report what was received (formatted mode checks it first).
void report(AcuContext* acu)
{
    CidMessage& m = acu->cid.message;
    if (m.count != 0)
        cid_report_idle(m, acu->ext.vcid, acu_fax8(acu), CidPrinter{acu, print_to_dte});
    cid_message_clear(&m);
}

bool on_line(const AcuContext* acu)
{
    return acu->call_state != CALL_IDLE && acu->call_state != CALL_COMMAND;
}

}  // namespace

void acu_cid_start(AcuContext* acu)
{
    if (acu->ext.vcid == CID_OFF || on_line(acu) || acu->ext.cid_capture == CID_CAPTURE_RECEIVING)
        return;
    cid_message_clear(&acu->cid.message);
    // Characters left in the window from before belong to no message.
    if (acu->dsp != nullptr) {
        uint8_t stale[kMailboxBytes];
        (void)dsp_take_rx_chunk(&acu->dsp->link, stale);
    }
    receiver(acu, true);
    acu->ext.cid_capture = CID_CAPTURE_RECEIVING;
}

void acu_cid_end(AcuContext* acu)
{
    if (acu->ext.cid_capture != CID_CAPTURE_RECEIVING) {
        acu->ext.cid_capture = CID_CAPTURE_IDLE;
        return;
    }
    acu_cid_service(acu);  // the characters still waiting
    if (acu->ext.cid_capture != CID_CAPTURE_RECEIVING)
        return;
    receiver(acu, false);
    report(acu);
    acu->ext.cid_capture = CID_CAPTURE_DONE;
}

void acu_cid_cancel(AcuContext* acu)
{
    if (acu->ext.cid_capture == CID_CAPTURE_RECEIVING)
        receiver(acu, false);
    cid_message_clear(&acu->cid.message);
    acu->ext.cid_capture = CID_CAPTURE_IDLE;
}

void acu_cid_byte(AcuContext* acu, uint8_t byte)
{
    if (acu->ext.cid_capture != CID_CAPTURE_RECEIVING)
        return;
    if (!cid_message_put(&acu->cid.message, byte))
        return;
    receiver(acu, false);
    report(acu);
    acu->ext.cid_capture = CID_CAPTURE_DONE;
}

void acu_cid_service(AcuContext* acu)
{
    if (acu->ext.cid_capture != CID_CAPTURE_RECEIVING)
        return;
    // The line was taken or the rings stopped.
    if (on_line(acu) || acu->ring_timer == 0) {
        acu_cid_cancel(acu);
        return;
    }
    if (acu->dsp == nullptr)
        return;
    uint8_t bytes[kMailboxBytes];
    const int n = dsp_take_rx_chunk(&acu->dsp->link, bytes);
    for (int i = 0; i < n && acu->ext.cid_capture == CID_CAPTURE_RECEIVING; ++i)
        acu_cid_byte(acu, bytes[i]);
}
