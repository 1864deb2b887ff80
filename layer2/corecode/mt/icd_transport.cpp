// The ICD packet channel: the sender that hands the outgoing buffer to the data pump through registers
// 64-83 and the doorbell, and the waiter for its reply.
//
// A sender holds the channel for its whole transaction (send and reply), so no sender is handed another
// command's reply; a sender that finds the channel taken does not wait (it may be nested inside the
// transaction that holds it) and gets result 1.
#include <atomic>
#include <cstring>

#include "layer2/corecode/cmd/core_clock.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/mt/dsp_link.h"

namespace {

const char kFaultSource[] = "layer2\\corecode\\mt\\portvxd";

bool take_channel(DspLink* link)
{
    return InterlockedExchange(&link->icdFree, 0) != 0;
}

void give_channel(DspLink* link)
{
    InterlockedExchange(&link->icdFree, 1);
}

// Bytes on the wire for the buffer's payload length: at most 16, rounded up to even.
int wire_length(const DspLink* link)
{
    int length = link->icd.packet[2];
    if (length > kIcdMaxPayload)
        length = kIcdMaxPayload;
    return (length + 1) & ~1;
}

// One step of an attempt's wait: true while the attempt goes on. The first step notes the time; the attempt
// ends 20 ms later. Between steps the sender sleeps 1 ms through the platform, so the data pump's block
// thread runs and time moves. Code at DISPATCH_LEVEL may not sleep: its attempts end at once.
bool wait_step(DspLink* link)
{
    if ((link->hooks.restarting && link->hooks.restarting(link->hooks.ctx)) || KeGetCurrentIrql() >= DISPATCH_LEVEL) {
        link->icd.waitCounter = 0;
        return false;
    }
    const uint32_t now = tmr_elapsed_ms();
    if (link->icd.waitCounter == 2) {
        link->icd.waitStart = now;
        link->icd.waitCounter = 1;
    } else if ((now - link->icd.waitStart) / 10u >= 2u) {
        link->icd.waitCounter = 0;
        return false;
    }
    tmr_delay_1ms();
    return true;
}

void pause_between_attempts()
{
    if (KeGetCurrentIrql() < DISPATCH_LEVEL)
        tmr_delay_1ms();
}

void save_failed(DspLink* link)
{
    if (link->suppressFailedSave)
        return;
    const int length = wire_length(link) + 4;
    std::memcpy(link->failedPacket, link->icd.packet, static_cast<size_t>(length));
    link->failedLength = static_cast<uint8_t>(length);
}

// The send with the channel held.
int send_held(DspLink* link)
{
    link->replyReceived.store(0, std::memory_order_release);
    for (int attempt = 0; attempt < kIcdAttempts; ++attempt) {
        link->icd.waitCounter = 2;
        while (link->icd.waitCounter != 0) {
            if (dsp_reg_read(link, kRegCommandCode) == 0) {
                const int length = wire_length(link);
                dsp_reg_write(link, kRegCommandCode + 1, 0);
                dsp_reg_write(link, kRegCommandLength, static_cast<uint8_t>(length));
                dsp_reg_write(link, kRegCommandLength + 1, 0);
                for (int i = 0; i < length; ++i)
                    dsp_reg_write(link, kRegCommandLength + 2 + i, link->icd.packet[4 + i]);
                // A reply that arrived while the channel waited for register 64 belongs to an earlier
                // command: only what follows this doorbell ends the wait.
                link->inFlightCode.store(link->icd.packet[0], std::memory_order_relaxed);
                link->replyReceived.store(0, std::memory_order_release);
                dsp_reg_write(link, kRegCommandCode, link->icd.packet[0]);
                dsp_reg_write(link, kRegDoorbell, 1);
                return kIcdSent;
            }
            if (!wait_step(link))
                break;
        }
        pause_between_attempts();
    }
    save_failed(link);
    link->lastFailureLine = 1378;
    core_error_report(kFaultSource, 1378);
    return kIcdNotTaken;
}

// The reply wait with the channel held.
int wait_held(DspLink* link)
{
    for (int attempt = 0; attempt < kIcdAttempts; ++attempt) {
        link->icd.waitCounter = 2;
        while (link->icd.waitCounter != 0) {
            if (link->replyReceived.load(std::memory_order_acquire))
                return kIcdSent;
            if (!wait_step(link))
                break;
        }
        pause_between_attempts();
    }
    if (link->replyReceived.load(std::memory_order_acquire))
        return kIcdSent;
    save_failed(link);
    link->lastFailureLine = 1448;
    core_error_report(kFaultSource, 1448);
    return kIcdNoReply;
}

}  // namespace

bool icd_fill(DspLink* link, uint8_t code, const uint8_t* payload, int length, uint8_t reply_mode, uint8_t expected)
{
    if (length < 0 || length > kIcdMaxPayload)
        return false;
    link->icd.packet[0] = code;
    link->icd.packet[1] = 0;
    link->icd.packet[2] = static_cast<uint8_t>(length);
    link->icd.packet[3] = 0;
    if (length > 0 && payload)
        std::memcpy(link->icd.packet + 4, payload, static_cast<size_t>(length));
    link->icd.replyMode = reply_mode;
    link->icd.expectedCode = expected;
    return true;
}

int cp_dsp(DspLink* link)
{
    if (!take_channel(link)) {
        DbgPrint("cp_dsp: Error sending packet 0x%02x  (DSP ICD in use.)\n", link->icd.packet[0]);
        return kIcdBusy;
    }
    const int result = send_held(link);
    give_channel(link);
    return result;
}

int dsp_cp(DspLink* link)
{
    if (!take_channel(link)) {
        DbgPrint("dsp_cp: Error sending packet 0x%02x  (DSP ICD in use.)\n", link->icd.packet[0]);
        return kIcdBusy;
    }
    const int result = wait_held(link);
    give_channel(link);
    return result;
}

namespace {

int transact_held(DspLink* link)
{
    if (link->icd.replyMode == kReplyAck)
        link->icd.expectedCode = IcdAck;
    if (link->icd.packet[2] > kIcdMaxPayload)
        link->icd.packet[2] = kIcdMaxPayload;
    int result = send_held(link);
    if (result == kIcdSent && link->icd.replyMode != kReplyNone)
        result = wait_held(link);
    if (result == kIcdSent)
        std::memset(link->icd.packet + 4, 0, kIcdMaxPayload);
    return result;
}

}  // namespace

int dsp_transact(DspLink* link)
{
    if (!take_channel(link)) {
        DbgPrint("cp_dsp: Error sending packet 0x%02x  (DSP ICD in use.)\n", link->icd.packet[0]);
        return kIcdBusy;
    }
    const int result = transact_held(link);
    give_channel(link);
    return result;
}

int dsp_send_command(DspLink* link, uint8_t code, const uint8_t* payload, int length, uint8_t reply_mode,
                     uint8_t* reply_out)
{
    if (length < 0 || length > kIcdMaxPayload)
        return kIcdBusy;
    if (!take_channel(link)) {
        DbgPrint("cp_dsp: Error sending packet 0x%02x  (DSP ICD in use.)\n", code);
        return kIcdBusy;
    }
    icd_fill(link, code, payload, length, reply_mode, IcdAck);
    const int result = transact_held(link);
    if (result == kIcdSent && reply_out) {
        if (link->replyCode == IcdAck) {
            std::memset(reply_out, 0, sizeof link->replyData);
            reply_out[0] = link->ackedCode;
        } else {
            std::memcpy(reply_out, link->replyData, sizeof link->replyData);
        }
    }
    give_channel(link);
    if (result == kIcdSent) {
        while (dsp_drain_trace_ring(link)) {
        }
    }
    return result;
}

int dsp_send_packet(DspLink* link)
{
    const int result = dsp_transact(link);
    if (result == kIcdSent) {
        while (dsp_drain_trace_ring(link)) {
        }
    }
    return result;
}
