// Class 9: the line-check stepping, once per pass of the message pump.
#include "layer2/corecode/mt/dsp_line_check.h"

#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"

namespace {

constexpr uint8_t kLineCheckStart = 3;
constexpr uint8_t kLineCheckStep = 5;

// One step of the call-waiting sequence, which call control runs.
void call_waiting_step(DspDevice* dev)
{
    ++dev->context.lineCheck.steps;
    const DspLinkContextHooks& h = dev->context.hooks;
    if (h.call_waiting_step != nullptr)
        h.call_waiting_step(h.ctx);
}

void repost(DspDevice* dev, DspMessageNode* node)
{
    node->urgent = 0;
    node->msgClass = kMsgLineInterface;
    node->type = kLineCheckStep;
    dsp_msg_post(&dev->queue, node);
    dev->context.lineCheck.stepper = node;
}

}  // namespace

void dsp_on_line_check_msg(DspMessageNode* node, void* user)
{
    auto* dev = static_cast<DspDevice*>(user);
    DspLineCheckState& s = dev->context.lineCheck;
    if (node->type == kLineCheckStart) {
        // A second start while a node steps adds no second one.
        if (s.stepper == nullptr)
            repost(dev, node);
        return;
    }
    if (node->type != kLineCheckStep || node != s.stepper)
        return;
    s.stepper = nullptr;
    if ((dev->link.events.eventFlags.load() & kEventFlagCallWaiting) == 0)
        return;  // the sequence is over: the node goes back to the pool
    call_waiting_step(dev);
    repost(dev, node);
}
