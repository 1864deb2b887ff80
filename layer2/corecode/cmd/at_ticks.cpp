#include "layer2/corecode/cmd/at_ticks.h"

#include "layer2/corecode/cmd/at_collector.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/core_clock.h"
#include "layer2/corecode/dte/dte_context.h"
#include "platform/kernel.h"

namespace {

// At most this many steps are caught up at once (a long stall does not replay minutes of ticks).
constexpr uint32_t kMaxCatchUpTicks = 100;

void count_down(uint16_t* value)
{
    if (*value != 0)
        --*value;
}

}  // namespace

uint32_t acu_now_ms()
{
    return static_cast<uint32_t>(KeQueryInterruptTime() / 10000u);
}

void acu_sleep_1ms()
{
    LARGE_INTEGER interval;
    interval.QuadPart = -10000;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

bool acu_may_wait(const AcuContext* acu)
{
    if (acu->dte == nullptr || acu->dte->port == nullptr)
        return false;  // no port layer: nothing will ever take the output
    return acu->core == nullptr || modem_core_tick_running(acu->core);
}

void acu_tick_10ms(AcuContext* acu)
{
    ++acu->ticks_served;
    count_down(&acu->post_line_delay);
    count_down(&acu->return_countdown);
    count_down(&acu->ring_timer);
    count_down(&acu->dtr_debounce);
    if (acu->pause_countdown != 0) {
        --acu->pause_countdown;
        if (acu->pause_countdown == 0 && acu->collector == COLLECT_PAUSED)
            acu->collector = COLLECT_EXECUTE;  // the "," pause is over: resume the line
    }
    at_escape_tick(acu);
    acu_call_tick_10ms(acu);
    voice_tick(acu);
}

void acu_service_countdowns(AcuContext* acu)
{
    uint32_t now = acu_now_ms();
    if (!acu->clock_started) {
        acu->clock_started = 1;
        acu->last_ms = now;
        return;
    }
    if (acu->in_service)
        return;
    acu->in_service = 1;
    uint32_t elapsed = (now - acu->last_ms) / 10u;
    acu->last_ms += elapsed * 10u;
    if (elapsed > kMaxCatchUpTicks)
        elapsed = kMaxCatchUpTicks;
    for (uint32_t k = 0; k < elapsed; ++k)
        acu_tick_10ms(acu);
    acu->in_service = 0;
}

void acu_service_ticks(AcuContext* acu)
{
    acu_service_countdowns(acu);
}
