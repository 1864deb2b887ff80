// The fax engine's transmit modes: page data (+FTM, modes 1-3) and control frames (+FTH, modes 7-9), both
// taken from the application with DLE shielding.
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/fax/fax_engine.h"

namespace {

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;
constexpr uint16_t kStartWait = 8;        // 80 ms before a transmit modulation starts
constexpr uint16_t kBatch = 64;          // page-data bytes moved to the line ring under one take of its lock
constexpr uint16_t kDataGap = 3;          // 30 ms without data ends the page data once all is sent
constexpr uint16_t kNulLimit = 500;       // 5 s of NUL fill
constexpr uint16_t kFrameTimeout = 500;   // 5 s without data: a frame being collected, or the first page data
constexpr uint16_t kPreamble = 100;       // 1 s of flags before the first frame
// Once the data pump has taken the last bytes, the bits still in its framer and modulator go out before the
// carrier stops: the page data's last bits and a frame's check octets and closing flag.
constexpr uint16_t kDataTail = 10;
constexpr uint16_t kFrameTail = 15;
constexpr uint8_t kFinalBit = 0x10;       // the control octet's final bit

FaxClass1Engine* engine(AcuContext* acu) { return &acu->fax; }

void end_with(FaxClass1Engine* e, uint8_t result) { e->result = result; }

// The modulation's training: the data pump reports the transmitter in data, or its training time has passed.
bool trained(AcuContext* acu) { return conn_fax_training_done(acu) || fax_carrier(acu); }

// The DLE shielding of the application's stream: returns -1 for nothing (a DLE or a dropped byte), -2 for
// DLE ETX, else the data byte.
int unshield(FaxClass1Engine* e, uint8_t c)
{
    if (e->dle_pending) {
        e->dle_pending = 0;
        if (c == kEtx)
            return -2;
        return c == kDle ? kDle : -1;
    }
    if (c == kDle) {
        e->dle_pending = 1;
        return -1;
    }
    return c;
}

void page_data(AcuContext* acu, FaxClass1Engine* e, LineBlock* lb)
{
    DteContext* d = acu->dte;
    bool moved = false;
    uint8_t batch[kBatch];
    uint16_t n = 0;
    bool ended = false;
    uint16_t room = lb_tx_free(lb);
    while (!ended && dte_from_count(d) != 0 && n < room) {
        const int v = unshield(e, dte_from_char(d));
        moved = true;
        if (v == -2) {
            ended = true;
        } else if (v >= 0) {
            if (v == 0) {
                if (!e->nul_run) {
                    e->nul_run = 1;
                    e->nul_ticks = 0;
                }
            } else {
                e->nul_run = 0;
            }
            batch[n++] = static_cast<uint8_t>(v);
        }
        if (n == kBatch || ended) {
            lb_tx_write(lb, batch, n);  // the room was counted: every byte fits
            room = static_cast<uint16_t>(room - n);
            n = 0;
        }
    }
    if (n != 0)
        lb_tx_write(lb, batch, n);
    if (ended) {
        e->mode = FAX_TM_END;
        e->sub = 0;
        return;
    }
    if (moved) {
        e->countdown = kDataGap;
        e->data_seen = 1;
    }
    if (e->nul_run && e->nul_ticks > kNulLimit) {
        end_with(e, FAX_RESULT_ERROR);
        return;
    }
    // Until the application's first byte the carrier waits (the application may still be preparing its
    // page), at most the data time-out.
    if (!e->data_seen) {
        if (e->data_timeout == 0)
            end_with(e, FAX_RESULT_ERROR);
        return;
    }
    // The application stopped and all it sent is gone: the page ends.
    if (e->countdown == 0 && lb_fax_tx_pending(lb) == 0) {
        e->mode = FAX_TM_END;
        e->sub = 0;
    }
}

// The transmitter has sent everything: nothing pending for the whole tail countdown, which starts again
// while anything is (a data-wanted bit read just before the data pump took the last chunk is not trusted).
bool transmitter_done(FaxClass1Engine* e, LineBlock* lb)
{
    if (lb_fax_tx_pending(lb) != 0) {
        e->countdown = e->mode == FAX_TM_END ? kDataTail : kFrameTail;
        return false;
    }
    return e->countdown == 0;
}

void collect_frame(AcuContext* acu, FaxClass1Engine* e)
{
    DteContext* d = acu->dte;
    FaxFrame* f = &e->tx_frame;
    while (dte_from_count(d) != 0) {
        e->data_timeout = kFrameTimeout;
        const int v = unshield(e, dte_from_char(d));
        if (v == -2) {
            if (f->length == 0) {
                end_with(e, FAX_RESULT_ERROR);  // nothing to send
                return;
            }
            e->final_frame = f->length >= 2 && (f->data[1] & kFinalBit) != 0;
            e->mode = FAX_TH_SEND;
            e->sub = 0;
            return;
        }
        if (v < 0)
            continue;
        if (f->length >= FAX_FRAME_OCTETS) {
            end_with(e, FAX_RESULT_ERROR);  // longer than a frame may be
            return;
        }
        f->data[f->length++] = static_cast<uint8_t>(v);
    }
    if (e->data_timeout == 0)
        end_with(e, FAX_RESULT_ERROR);
}

void next_frame(FaxClass1Engine* e)
{
    e->mode = FAX_TH_COLLECT;
    e->sub = 0;
    e->tx_frame.length = 0;
    e->tx_frame.status = 0;
    e->dle_pending = 0;
    e->data_timeout = kFrameTimeout;
}

void send_frame(AcuContext* acu, FaxClass1Engine* e, LineBlock* lb)
{
    switch (e->sub) {
    case 0:
        if (e->frame_delay == 0 && lb_fax_tx_frame_set(lb, &e->tx_frame))
            e->sub = 1;
        break;
    case 1:
        if (!lb_fax_tx_frame_taken(lb))
            break;
        if (e->final_frame) {
            e->sub = 2;
        } else if (fax_send_connect(acu)) {
            next_frame(e);
        }
        break;
    case 2:
        e->countdown = kFrameTail;
        e->sub = 3;
        break;
    default:
        if (transmitter_done(e, lb))
            end_with(e, FAX_RESULT_OK);
        break;
    }
}

}  // namespace

uint8_t fax_tx_data_step(AcuContext* acu)
{
    FaxClass1Engine* e = engine(acu);
    LineBlock* lb = acu->dte->line_block;
    if (lb == nullptr)
        return fax_finish(acu, FAX_RESULT_ERROR);
    switch (e->mode) {
    case FAX_TM_START:
        if (e->sub == 0) {
            e->countdown = kStartWait;
            e->sub = 1;
        } else if (e->sub == 1) {
            if (e->countdown != 0 || !fax_send_connect(acu))
                break;
            lb_fax_set_mode(lb, 0, nullptr);
            conn_fax_start_modulation(acu, e->modulation, true);
            e->line_active = 1;
            e->sub = 2;
        } else if (trained(acu)) {
            e->mode = FAX_TM_DATA;
            e->sub = 0;
            e->countdown = kDataGap;
            e->data_timeout = kFrameTimeout;
        }
        break;
    case FAX_TM_DATA:
        page_data(acu, e, lb);
        break;
    default:
        if (e->sub == 0) {
            e->countdown = kDataTail;
            e->sub = 1;
        } else if (transmitter_done(e, lb)) {
            end_with(e, FAX_RESULT_OK);
        }
        break;
    }
    return e->result != FAX_RUNNING ? fax_finish(acu, e->result) : static_cast<uint8_t>(FAX_RUNNING);
}

uint8_t fax_tx_frame_step(AcuContext* acu)
{
    FaxClass1Engine* e = engine(acu);
    LineBlock* lb = acu->dte->line_block;
    if (lb == nullptr)
        return fax_finish(acu, FAX_RESULT_ERROR);
    switch (e->mode) {
    case FAX_TH_START:
        if (e->sub == 0) {
            e->countdown = kStartWait;
            e->sub = 1;
        } else if (e->sub == 1) {
            if (e->countdown != 0)
                break;
            const LineFaxOps ops{e, fax_rx_buffer_source};
            lb_fax_set_mode(lb, 1, &ops);
            conn_fax_start_modulation(acu, FAX_MODULATION_V21, true);
            e->line_active = 1;
            e->frame_delay = kPreamble;
            e->sub = 2;
        } else if (trained(acu) && fax_send_connect(acu)) {
            next_frame(e);
        }
        break;
    case FAX_TH_COLLECT:
        collect_frame(acu, e);
        break;
    default:
        send_frame(acu, e, lb);
        break;
    }
    return e->result != FAX_RUNNING ? fax_finish(acu, e->result) : static_cast<uint8_t>(FAX_RUNNING);
}
