// The fax engine's receive modes: page data (+FRM, modes 4-6) and control frames (+FRH, modes 10-12), both
// delivered to the application with 0x10 doubled and ended by DLE ETX.
#include <atomic>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/fax/fax_engine.h"

namespace {

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
constexpr uint16_t kFlushTicks = 3;   // after the carrier is lost, the last chunks still arrive
constexpr uint16_t kLossTicks = 2;    // the frame carrier counts as lost when it stays away this long
constexpr uint8_t kEolZeros = 11;
constexpr uint8_t kRtcEols = 6;

FaxClass1Engine* engine(AcuContext* acu) { return &acu->fax; }

void end_with(FaxClass1Engine* e, uint8_t result) { e->result = result; }

// Page data to the application while the to-DTE ring has room for a doubled DLE.
void deliver_page_data(AcuContext* acu, FaxClass1Engine* e, LineBlock* lb)
{
    DteContext* d = acu->dte;
    bool moved = false;
    while (lb_rx_count(lb) != 0 && dte_to_free(d) >= 2) {
        const uint8_t c = lb_rx_get(lb);
        dte_to_put(d, c);
        if (c == kDle)
            dte_to_put(d, kDle);
        fax_track_eol(e, c);
        moved = true;
    }
    if (moved)
        dte_to_drain(d);
}

void reset_eol(FaxClass1Engine* e)
{
    e->zero_run = 0;
    e->eol_count = 0;
    e->after_eol = 0;
    e->bit_after_eol = 0;
    e->rtc_seen = 0;
    e->filler_sent = 0;
}

// The end of the page: the rest flushed, the RTC completed, DLE ETX, then NO CARRIER.
void end_page(AcuContext* acu, FaxClass1Engine* e, LineBlock* lb)
{
    DteContext* d = acu->dte;
    if (e->sub == 0) {
        deliver_page_data(acu, e, lb);
        if (e->countdown == 0 && lb_rx_count(lb) == 0)
            e->sub = 1;
        return;
    }
    uint8_t filler[12];
    const int n = fax_rtc_filler(e, filler);
    if (dte_to_free(d) < static_cast<uint16_t>(n + 2))
        return;
    for (int i = 0; i < n; ++i)
        dte_to_put(d, filler[i]);
    dte_to_put(d, kDle);
    dte_to_put(d, kEtx);
    dte_to_drain(d);
    end_with(e, FAX_RESULT_NO_CARRIER);
}

uint32_t frames_written(FaxClass1Engine* e) { return std::atomic_ref<uint32_t>(e->rx_written).load(std::memory_order_acquire); }
uint32_t frames_read(FaxClass1Engine* e) { return std::atomic_ref<uint32_t>(e->rx_read).load(std::memory_order_acquire); }
bool frame_waits(FaxClass1Engine* e) { return frames_written(e) != frames_read(e); }

// One received frame to the application: needs room for every octet doubled and DLE ETX.
void deliver_frame(AcuContext* acu, FaxClass1Engine* e)
{
    DteContext* d = acu->dte;
    const FaxFrame* f = &e->rx_frames[frames_read(e) % FAX_RX_FRAMES];
    const uint16_t length = f->length <= FAX_FRAME_OCTETS ? f->length : FAX_FRAME_OCTETS;
    if (dte_to_free(d) < 2u * length + 2u)
        return;
    for (uint16_t i = 0; i < length; ++i) {
        dte_to_put(d, f->data[i]);
        if (f->data[i] == kDle)
            dte_to_put(d, kDle);
    }
    dte_to_put(d, kDle);
    dte_to_put(d, kEtx);
    dte_to_drain(d);
    const bool bad = f->status != 0;
    std::atomic_ref<uint32_t>(e->rx_read).store(frames_read(e) + 1, std::memory_order_release);
    // The receiver runs on: the next +FRH takes the next frame of this transmission.
    e->rx_kept = 1;
    end_with(e, bad ? FAX_RESULT_ERROR : FAX_RESULT_OK);
}

// Called while the carrier is away: true once it has stayed away for the loss time (seen on two polls
// that far apart), so a chunk that the data pump posted with the carrier's end is taken first.
bool carrier_gone(FaxClass1Engine* e)
{
    if (!e->carrier_lost) {
        e->carrier_lost = 1;
        e->countdown = kLossTicks;
        return false;
    }
    return e->countdown == 0;
}

void abort_receive(FaxClass1Engine* e)
{
    e->rx_kept = 0;
    end_with(e, FAX_RESULT_OK);
}

}  // namespace

void fax_track_eol(FaxClass1Engine* e, uint8_t byte)
{
    for (int k = 0; k < 8; ++k) {
        const uint8_t b = static_cast<uint8_t>((byte >> k) & 1u);
        if (e->after_eol) {
            // The bit after an EOL: the tag bit of two-dimensional coding, or the first zero of the next EOL.
            e->after_eol = 0;
            e->bit_after_eol = b;
            if (b) {
                e->zero_run = 0;
                continue;
            }
        }
        if (b == 0) {
            if (e->zero_run < kEolZeros)
                ++e->zero_run;
            continue;
        }
        if (e->zero_run >= kEolZeros) {
            if (e->eol_count < kRtcEols)
                ++e->eol_count;
            if (e->eol_count >= kRtcEols)
                e->rtc_seen = 1;
            e->after_eol = 1;
        } else {
            e->eol_count = 0;
        }
        e->zero_run = 0;
    }
}

int fax_rtc_filler(const FaxClass1Engine* e, uint8_t out[12])
{
    if (e->rtc_seen || e->eol_count < 2 || e->eol_count >= kRtcEols)
        return 0;
    int n = 0;
    for (int k = e->eol_count; k < kRtcEols; ++k) {
        out[n++] = 0x00;
        out[n++] = e->bit_after_eol ? 0x18 : 0x08;
    }
    return n;
}

uint8_t fax_rx_data_step(AcuContext* acu)
{
    FaxClass1Engine* e = engine(acu);
    LineBlock* lb = acu->dte->line_block;
    if (lb == nullptr)
        return fax_finish(acu, FAX_RESULT_ERROR);
    switch (e->mode) {
    case FAX_RM_START:
        if (e->sub == 0) {
            lb_fax_set_mode(lb, 0, nullptr);
            conn_fax_start_modulation(acu, e->modulation, false);
            e->line_active = 1;
            reset_eol(e);
            e->sub = 1;
        } else if (fax_application_abort(acu)) {
            abort_receive(e);
        } else if (fax_carrier(acu)) {
            if (fax_send_connect(acu)) {
                e->mode = FAX_RM_DATA;
                e->sub = 0;
            }
        } else if (fax_frames_heard(acu)) {
            // The far end sends control frames: the application listens for them instead (+FRH).
            end_with(e, FAX_RESULT_FCERROR);
        }
        break;
    case FAX_RM_DATA:
        if (fax_application_abort(acu)) {
            abort_receive(e);
            break;
        }
        deliver_page_data(acu, e, lb);
        if (!fax_carrier(acu)) {
            conn_fax_set_word(acu, 0);
            e->mode = FAX_RM_END;
            e->sub = 0;
            e->countdown = kFlushTicks;
        }
        break;
    default:
        end_page(acu, e, lb);
        break;
    }
    return e->result != FAX_RUNNING ? fax_finish(acu, e->result) : static_cast<uint8_t>(FAX_RUNNING);
}

uint8_t fax_rx_frame_step(AcuContext* acu)
{
    FaxClass1Engine* e = engine(acu);
    LineBlock* lb = acu->dte->line_block;
    if (lb == nullptr)
        return fax_finish(acu, FAX_RESULT_ERROR);
    switch (e->mode) {
    case FAX_RH_START:
        if (e->sub == 0) {
            std::atomic_ref<uint32_t>(e->rx_written).store(0, std::memory_order_release);
            std::atomic_ref<uint32_t>(e->rx_read).store(0, std::memory_order_release);
            const LineFaxOps ops{e, fax_rx_buffer_source};
            lb_fax_set_mode(lb, 1, &ops);
            conn_fax_start_modulation(acu, FAX_MODULATION_V21, false);
            e->line_active = 1;
            e->sub = 1;
        } else if (fax_application_abort(acu)) {
            abort_receive(e);
        } else if (fax_carrier(acu) || frame_waits(e)) {
            if (fax_send_connect(acu)) {
                e->mode = FAX_RH_WAIT;
                e->sub = 0;
                e->carrier_lost = 0;
            }
        } else if (e->rx_kept && carrier_gone(e)) {
            // The transmission whose frames the kept receiver took is over.
            e->rx_kept = 0;
            end_with(e, FAX_RESULT_NO_CARRIER);
        }
        break;
    case FAX_RH_WAIT:
        if (fax_application_abort(acu)) {
            abort_receive(e);
        } else if (frame_waits(e)) {
            e->mode = FAX_RH_DELIVER;
        } else if (fax_carrier(acu)) {
            e->carrier_lost = 0;
        } else if (carrier_gone(e)) {
            e->rx_kept = 0;
            end_with(e, FAX_RESULT_NO_CARRIER);
        }
        break;
    default:
        deliver_frame(acu, e);
        break;
    }
    return e->result != FAX_RUNNING ? fax_finish(acu, e->result) : static_cast<uint8_t>(FAX_RUNNING);
}
