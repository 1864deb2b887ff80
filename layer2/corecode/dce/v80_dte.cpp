// The application's side of synchronous access: its stream into the from-DTE ring with the EM pairs kept
// whole, the lost bytes while an overrun or underrun report is outstanding, and the in-band reports that go
// to the application before the received bytes (transmit overrun, lost count, underrun).
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dce/v80.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_fax.h"
#include "layer2/corecode/dte/dte_lock.h"

namespace {

constexpr uint8_t kReportPending = 1;
constexpr uint8_t kReportMade = 2;

V80State* state(DteContext* d) { return d->line_block != nullptr ? &d->line_block->v80 : nullptr; }

// Bytes into the from-DTE ring, all or none.
bool store(DteContext* d, const uint8_t* bytes, int n)
{
    DteLockHold hold(&d->from_lock);
    if (ring_free(&d->from_dte) < n)
        return false;
    for (int i = 0; i < n; ++i)
        ring_put(&d->from_dte, bytes[i]);
    return true;
}

bool is_em(uint8_t c) { return c == V80_EM || c == V80_EM_HIGH; }

// Straight into the application receive queue when nothing waits before it; false when it must wait.
bool report_now(DteContext* d, V80State* v, const uint8_t* bytes, int n)
{
    if (dte_to_count(d) != 0 || v->last_was_em.load() || dte_app_rx_free(d) < static_cast<uint32_t>(n))
        return false;
    for (int i = 0; i < n; ++i)
        dte_app_rx_put(d, bytes[i]);
    return true;
}

void report_lost(DteContext* d, V80State* v)
{
    uint8_t r[4] = {V80_EM, V80_LOST, 0, 0};
    v80_lost_bytes(v->lost.load(), r + 2);
    if (report_now(d, v, r, 4))
        v->lost = 0;
    else
        v->lost_pending = 1;
}

}  // namespace

void v80_dte_overrun(DteContext* d)
{
    V80State* v = state(d);
    if (v == nullptr || v->tx_overrun.load() != 0)
        return;  // once until EM B7
    const uint8_t r[2] = {V80_EM, V80_TX_OVERRUN};
    v->tx_overrun = report_now(d, v, r, 2) ? kReportMade : kReportPending;
}

void v80_dte_decode(DteContext* d, uint8_t c)
{
    V80State* v = state(d);
    if (v == nullptr)
        return;
    const bool outstanding = v->tx_overrun.load() != 0 || v->underrun.load() != 0;
    if (v->dte_escape) {
        if (is_em(c)) {
            v->lost++;  // a second EM: one byte lost, the escape stays armed
            return;
        }
        v->dte_escape = 0;
        if (c == V80_RESUME) {
            v->tx_overrun = 0;
            v->underrun = 0;
            const uint8_t pair[2] = {V80_EM, V80_RESUME};
            store(d, pair, 2);
            report_lost(d, v);
            return;
        }
        const uint8_t pair[2] = {V80_EM, c};
        if (outstanding && d->mode.load() != DTE_MODE_COMMAND) {
            v->lost += 2;
            return;
        }
        // The pair goes in whole or not at all: with one place left both bytes are lost.
        if (!store(d, pair, 2)) {
            v->lost += 2;
            v80_dte_overrun(d);
            return;
        }
        if (c == V80_FLAG)
            v->frames_from_app++;
        return;
    }
    if (is_em(c)) {
        v->dte_escape = 1;
        return;
    }
    if (outstanding || !store(d, &c, 1))
        v->lost++;
}

namespace {

// The reports that wait, in their order, within the room of the application receive queue; the places used.
uint32_t pending_reports(DteContext* d, V80State* v, uint32_t room)
{
    uint32_t used = 0;
    if (!v->last_was_em.load()) {
        if (v->tx_overrun.load() == kReportPending && room >= 3) {
            dte_app_rx_put(d, V80_EM);
            dte_app_rx_put(d, V80_TX_OVERRUN);
            v->tx_overrun = kReportMade;
            used += 2;
            room -= 2;
        }
        if (v->lost_pending.load() && room > 4) {
            uint8_t r[2];
            v80_lost_bytes(v->lost.load(), r);
            dte_app_rx_put(d, V80_EM);
            dte_app_rx_put(d, V80_LOST);
            dte_app_rx_put(d, r[0]);
            dte_app_rx_put(d, r[1]);
            v->lost = 0;
            v->lost_pending = 0;
            used += 4;
            room -= 4;
        }
        if (v->underrun.load() == kReportPending && room > 2) {
            dte_app_rx_put(d, V80_EM);
            dte_app_rx_put(d, V80_UNDERRUN);
            v->underrun = kReportMade;
            used += 2;
            room -= 2;
        }
    }
    return used;
}

}  // namespace

bool v80_dte_deliver(DteContext* d, uint8_t c, uint32_t* room)
{
    V80State* v = state(d);
    if (v != nullptr)
        *room -= pending_reports(d, v, *room);
    if (*room == 0 || dte_app_rx_put(d, c) != 0)
        return false;  // the byte stays in the ring
    --*room;
    if (v != nullptr)
        v->last_was_em = c == V80_EM ? 1 : 0;
    return true;
}

void v80_dte_reports(DteContext* d)
{
    V80State* v = state(d);
    if (v != nullptr && dte_to_count(d) == 0)
        pending_reports(d, v, dte_app_rx_free(d));
}

void dte_v80_mode_init(DteContext* d, uint8_t in_options, uint8_t out_options)
{
    dte_binary_mode_start(d, DTE_MODE_SYNC, in_options, out_options, '+', 50);
    V80State* v = state(d);
    if (v != nullptr) {
        v->dte_escape = 0;
        v->last_was_em = 0;
    }
}
