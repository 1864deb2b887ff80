// The fax class 1 engine's frame: the fax mode, the start of each command, the poll that runs the mode's step,
// the ending of a command and the helpers the steps share.
#include "layer2/corecode/fax/fax_engine.h"

#include <atomic>
#include <cstring>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_fax.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_link.h"
#include "window/register_map.h"

namespace {

constexpr uint8_t kFaxModeClass1 = 1;
constexpr uint8_t kFaxModeOther = 2;
constexpr uint8_t kDteTransmit = 2;
constexpr uint8_t kDteReceive = 3;
constexpr uint8_t kPumpStateFax = 8;
constexpr uint8_t kInData = 0x10;

// The class 1 modulation codes; the V.17 ones need the data pump's V.17 set.
bool valid_modulation(const AcuContext* acu, uint8_t m)
{
    switch (m) {
    case 24:
    case 48:
    case 72:
    case 96:
        return true;
    case 73:
    case 74:
    case 97:
    case 98:
    case 121:
    case 122:
    case 145:
    case 146:
        return conn_fax_capability(acu) == 5;
    default:
        return false;
    }
}

FaxClass1Engine* engine(AcuContext* acu) { return &acu->fax; }

void start_mode(FaxClass1Engine* e, uint8_t mode, uint8_t modulation, uint8_t dte_setup)
{
    e->mode = mode;
    e->sub = 0;
    e->modulation = modulation;
    e->dte_setup = dte_setup;
    e->countdown = 0;
    e->dle_pending = 0;
    e->data_seen = 0;
    e->nul_run = 0;
    e->nul_ticks = 0;
    e->final_frame = 0;
    e->carrier_lost = 0;
    e->result = FAX_RUNNING;
}

void count_down(uint16_t* v, uint32_t ticks)
{
    *v = *v > ticks ? static_cast<uint16_t>(*v - ticks) : 0;
}

void stop_kept_receiver(AcuContext* acu)
{
    FaxClass1Engine* e = engine(acu);
    if (!e->rx_kept)
        return;
    e->rx_kept = 0;
    fax_stop(acu);
}

}  // namespace

void fax_engine_init(FaxClass1Engine* e)
{
    const uint8_t adaptive = e->adaptive_answer;
    e->fax_mode = 0;
    start_mode(e, FAX_MODE_IDLE, 0, 0);
    e->flow_options = 0;
    e->dte_active = 0;
    e->verbose = 1;
    e->line_active = 0;
    e->rx_kept = 0;
    e->adaptive_answer = adaptive;
    e->data_timeout = 0;
    e->frame_delay = 0;
    e->rx_written = 0;
    e->rx_read = 0;
    e->zero_run = 0;
    e->eol_count = 0;
    e->after_eol = 0;
    e->bit_after_eol = 0;
    e->rtc_seen = 0;
    e->filler_sent = 0;
}

void fax_mode_begin(AcuContext* acu, uint8_t fax_mode, uint8_t verbose, uint8_t flow_options)
{
    FaxClass1Engine* e = engine(acu);
    e->fax_mode = fax_mode;
    e->verbose = verbose;
    e->flow_options = flow_options;
}

void fax_mode_end(AcuContext* acu, uint8_t mode)
{
    FaxClass1Engine* e = engine(acu);
    if (mode != kFaxModeOther) {
        if (e->line_active || e->dte_active)
            fax_stop(acu);
        fax_engine_init(e);
    }
    e->fax_mode = 0;
}

void fax_abort(AcuContext* acu)
{
    FaxClass1Engine* e = engine(acu);
    e->rx_kept = 0;
    fax_stop(acu);
    e->fax_mode = 0;
}

void fax_call_start(AcuContext* acu, uint8_t originate)
{
    FaxClass1Engine* e = engine(acu);
    e->fax_mode = kFaxModeClass1;
    e->verbose = (acu->sreg[S_OPTIONS] & S14_VERBAL) != 0 ? 1 : 0;
    e->rx_kept = 0;
    if (originate == 1)
        start_mode(e, FAX_RH_START, FAX_MODULATION_V21, kDteReceive);
    else
        start_mode(e, FAX_TH_START, FAX_MODULATION_V21, kDteTransmit);
    dte_to_data_mode(acu->dte);
}

uint8_t fax_command_start(AcuContext* acu, uint8_t command, uint8_t modulation)
{
    FaxClass1Engine* e = engine(acu);
    if (e->fax_mode != kFaxModeClass1 || e->mode != FAX_MODE_IDLE)
        return 2;
    switch (command) {
    case FAX_CMD_FTM:
    case FAX_CMD_FRM:
        if (!valid_modulation(acu, modulation))
            return 2;
        stop_kept_receiver(acu);
        start_mode(e, command == FAX_CMD_FTM ? FAX_TM_START : FAX_RM_START, modulation,
                   command == FAX_CMD_FTM ? kDteTransmit : kDteReceive);
        return 0;
    case FAX_CMD_FTH:
        if (modulation != FAX_MODULATION_V21)
            return 2;
        stop_kept_receiver(acu);
        start_mode(e, FAX_TH_START, modulation, kDteTransmit);
        return 0;
    case FAX_CMD_FRH:
        if (modulation != FAX_MODULATION_V21)
            return 2;
        start_mode(e, FAX_RH_START, modulation, kDteReceive);
        // A receiver kept from the last +FRH goes on: its frames wait in the ring.
        if (e->rx_kept) {
            e->sub = 1;
            e->carrier_lost = 0;
        }
        return 0;
    default:
        return 2;
    }
}

uint8_t fax_poll(AcuContext* acu)
{
    FaxClass1Engine* e = engine(acu);
    if (e->fax_mode != kFaxModeClass1)
        return FAX_IDLE;
    const uint32_t now = acu->ticks_served;
    const uint32_t ticks = now - e->last_ticks;
    e->last_ticks = now;
    count_down(&e->countdown, ticks);
    count_down(&e->data_timeout, ticks);
    count_down(&e->frame_delay, ticks);
    if (e->nul_run)
        e->nul_ticks = static_cast<uint16_t>(e->nul_ticks + (ticks < 1000 ? ticks : 1000));
    if (e->mode == FAX_MODE_IDLE)
        return FAX_IDLE;
    if (e->dte_setup != 0) {
        // Transmit honours no flow character from the application (its data may hold any byte) and holds it
        // back by the output options; receive the reverse.
        const uint8_t in = e->flow_options & 0x0Fu;
        const uint8_t out = static_cast<uint8_t>(e->flow_options >> 4);
        if (e->dte_setup == kDteTransmit)
            fax_dte_start(acu->dte, 0, out);
        else
            fax_dte_start(acu->dte, in, 0);
        e->dte_setup = 0;
        e->dte_active = 1;
    }
    if (e->result != FAX_RUNNING)
        return fax_finish(acu, e->result);
    LineBlock* lb = acu->dte->line_block;
    if (lb != nullptr && lb->fax.tx_wait.load() && lb->host.kick != nullptr)
        lb->host.kick(lb->host.ctx);
    switch (e->mode) {
    case FAX_TM_START:
    case FAX_TM_DATA:
    case FAX_TM_END:
        return fax_tx_data_step(acu);
    case FAX_TH_START:
    case FAX_TH_COLLECT:
    case FAX_TH_SEND:
        return fax_tx_frame_step(acu);
    case FAX_RM_START:
    case FAX_RM_DATA:
    case FAX_RM_END:
        return fax_rx_data_step(acu);
    default:
        return fax_rx_frame_step(acu);
    }
}

void fax_stop(AcuContext* acu)
{
    FaxClass1Engine* e = engine(acu);
    // A transmission ends with the carrier: the hold released and the transmitter idled.
    const bool transmitting = acu->conn.fax_hold == 2;
    conn_fax_release_hold(acu);
    if (transmitting)
        conn_fax_idle(acu);
    LineBlock* lb = acu->dte->line_block;
    if (lb != nullptr && e->line_active)
        lb_fax_stop(lb);
    e->line_active = 0;
    if (e->dte_active)
        fax_dte_stop(acu->dte);
    e->dte_active = 0;
    e->dte_setup = 0;
    e->mode = FAX_MODE_IDLE;
    e->sub = 0;
}

uint8_t fax_finish(AcuContext* acu, uint8_t result)
{
    FaxClass1Engine* e = engine(acu);
    e->result = result;
    // The result follows everything the application was sent.
    if (dte_to_count(acu->dte) != 0) {
        dte_to_drain(acu->dte);
        return FAX_RUNNING;
    }
    if (e->rx_kept) {
        // The frame receiver runs on for the next +FRH; only the command ends.
        fax_dte_stop(acu->dte);
        e->dte_active = 0;
        e->mode = FAX_MODE_IDLE;
    } else {
        fax_stop(acu);
    }
    e->result = FAX_RUNNING;
    return result;
}

bool fax_send_text(AcuContext* acu, const char* text)
{
    DteContext* d = acu->dte;
    const size_t n = std::strlen(text);
    if (dte_to_count(d) != 0 || dte_to_free(d) < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        dte_to_put(d, static_cast<uint8_t>(text[i]));
    dte_to_drain(d);
    return true;
}

bool fax_send_connect(AcuContext* acu) { return fax_send_text(acu, engine(acu)->verbose ? "\r\nCONNECT\r\n" : "1\r"); }

bool fax_carrier(AcuContext* acu)
{
    if (acu->dsp == nullptr)
        return false;
    const uint8_t status = dsp_reg_read(&acu->dsp->link, kRegStatus);
    return (status & kStatusPumpStateMask) == kPumpStateFax && (status & kInData) != 0;
}

bool fax_frames_heard(AcuContext* acu)
{
    return acu->dsp != nullptr && (dsp_reg_read(&acu->dsp->link, kRegStatus) & kStatusFaxFlags) != 0;
}

bool fax_application_abort(AcuContext* acu)
{
    DteContext* d = acu->dte;
    while (dte_from_count(d) != 0) {
        const uint8_t c = dte_from_char(d);
        if (c != 0x11 && c != 0x13)
            return true;
    }
    return false;
}

FaxFrame* fax_rx_buffer_source(void* ctx, FaxFrame* done)
{
    FaxClass1Engine* e = static_cast<FaxClass1Engine*>(ctx);
    const uint32_t read = std::atomic_ref<uint32_t>(e->rx_read).load(std::memory_order_acquire);
    uint32_t written = std::atomic_ref<uint32_t>(e->rx_written).load(std::memory_order_relaxed);
    if (done != nullptr) {
        // The record filled is always the one at the write position.
        written += 1;
        std::atomic_ref<uint32_t>(e->rx_written).store(written, std::memory_order_release);
    }
    if (written - read >= FAX_RX_FRAMES)
        return nullptr;  // every record holds a frame the engine has not taken yet (the line block drops)
    return &e->rx_frames[written % FAX_RX_FRAMES];
}
