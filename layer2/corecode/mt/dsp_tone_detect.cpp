// Class 4: call-progress tone detection on the data pump's detector filters: arming, the poll of the energy
// flags, the cadence evaluation and the end of detection.
#include "layer2/corecode/mt/dsp_tone_detect.h"

#include <cstring>

#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"
#include "layer2/corecode/mt/dsp_link.h"
#include "window/register_map.h"

namespace {

constexpr int kMaxRequestIds = static_cast<int>(sizeof(DspMessageNode::payload)) - 1;
constexpr uint8_t kDetectorModeTones = 2;

DspToneDetectState& state(DspDevice* dev)
{
    return dev->context.toneDetect;
}

// The data pump is starting or holding a connection: its procedure owns the detector step.
bool pump_in_connection(DspDevice* dev)
{
    return (dsp_reg_read(&dev->link, kRegStatus) & kStatusPumpStateMask) != 0;
}

uint32_t now_ms(DspDevice* dev)
{
    return dev->queue.msCounter.load(std::memory_order_acquire);
}

// ---- The tracking table: the context's tone results {tone id, state, flag}. ----

uint8_t* tracked(DspDevice* dev, uint8_t id)
{
    for (auto& e : dev->context.toneResults)
        if (e[0] == id)
            return e;
    return nullptr;
}

uint8_t* track(DspDevice* dev, uint8_t id)
{
    if (uint8_t* e = tracked(dev, id))
        return e;
    return tracked(dev, 0);
}

// ---- Slots and their timers. ----

void cancel_timer(DspDevice* dev, uint8_t* id)
{
    dsp_context_cancel_timer(&dev->context, id);
}

void first_time_up(void* a1, void* a2)
{
    (void)a1;
    auto* slot = static_cast<DspToneSlot*>(a2);
    if (slot->state == kSlotWaiting)
        slot->state = kSlotActive;
}

void second_time_up(void* a1, void* a2)
{
    auto* slot = static_cast<DspToneSlot*>(a2);
    if (slot->state != kSlotWaiting && slot->state != kSlotActive)
        return;
    cancel_timer(static_cast<DspDevice*>(a1), &slot->timers[0]);
    slot->state = kSlotDone;
    slot->result = kSlotTimedOut;
}

// A timer that cannot be started leaves the slot as if its time were 0.
bool start_timer(DspDevice* dev, DspToneSlot* slot, int k, uint16_t ms, void (*expired)(void*, void*))
{
    return dsp_timer_arm(&dev->queue.timers, &slot->timers[k], ms, kTimerCall2, reinterpret_cast<void*>(expired), dev,
                         slot) == 0;
}

void start_slot(DspDevice* dev, DspToneSlot* slot, unsigned index, const CountryToneDef& def)
{
    cancel_timer(dev, &slot->timers[0]);
    cancel_timer(dev, &slot->timers[1]);
    slot->definition = static_cast<uint8_t>(index + 1);
    slot->toneId = def.tone_id;
    slot->result = kSlotNoResult;
    slot->state = kSlotActive;
    if (def.first_time_ms != 0 && start_timer(dev, slot, 0, def.first_time_ms, first_time_up))
        slot->state = kSlotWaiting;
    if (def.second_time_ms != 0)
        start_timer(dev, slot, 1, def.second_time_ms, second_time_up);
}

void clear_filter(DspDevice* dev, DspToneFilter* f)
{
    for (DspToneSlot& s : f->slots) {
        cancel_timer(dev, &s.timers[0]);
        cancel_timer(dev, &s.timers[1]);
    }
    std::memset(f, 0, sizeof *f);
}

void restart_history(DspDevice* dev, DspToneFilter* f)
{
    f->flag = 0;
    f->since = now_ms(dev);
    f->count = 0;
}

bool program(DspDevice* dev, int index, DspToneFilter* f)
{
    uint16_t set[16];
    if (!cb_filter_set(*dev->context.country, f->set, set))
        return false;
    restart_history(dev, f);
    return dsp_tone_program_filter(&dev->link, index, set, f->words[0], f->words[1]) == kIcdSent;
}

// Binds definition `index` to a filter slot; false when no filter can take it.
bool arm_definition(DspDevice* dev, unsigned index, const CountryToneDef& def)
{
    DspToneDetectState& st = state(dev);
    // A definition already armed is started again when it has finished (a new request is a new wait).
    for (DspToneFilter& f : st.filters) {
        if (!f.inUse)
            continue;
        for (DspToneSlot& s : f.slots) {
            if (s.definition == index + 1) {
                if (s.state == kSlotDone)
                    start_slot(dev, &s, index, def);
                return true;
            }
        }
    }
    const uint8_t set = def.filter != 0 ? def.filter : 1;
    uint16_t words[16];
    if (!cb_filter_set(*dev->context.country, set, words))
        return false;
    for (int i = 0; i < kToneFilters; ++i) {
        DspToneFilter& f = st.filters[i];
        if (!f.inUse) {
            clear_filter(dev, &f);
            f.inUse = 1;
            f.set = set;
            f.setWords[0] = words[0];
            f.setWords[1] = words[1];
            f.words[0] = def.level_a;
            f.words[1] = def.level_b;
            if (!program(dev, i, &f)) {
                clear_filter(dev, &f);
                return false;
            }
            start_slot(dev, &f.slots[0], index, def);
            return true;
        }
        if (f.setWords[0] != words[0] || f.setWords[1] != words[1] || f.words[0] != def.level_a ||
            f.words[1] != def.level_b)
            continue;
        for (DspToneSlot& s : f.slots) {
            if (s.state == kSlotFree) {
                start_slot(dev, &s, index, def);
                return true;
            }
        }
    }
    return false;
}

bool post_poll(DspDevice* dev)
{
    const uint8_t tag = state(dev).pollTag;
    return dsp_msg_send(&dev->queue, kMsgToneDetect, kToneMsgEvaluate, false, &tag, 1);
}

// End of detection: every slot's timers cancelled, the filters released, the poll ended. With `results`
// the tracking table is emptied too; otherwise only the results not yet read stay.
void disarm(DspDevice* dev, bool results)
{
    DspToneDetectState& st = state(dev);
    for (DspToneFilter& f : st.filters)
        clear_filter(dev, &f);
    st.polling = 0;
    st.pollTag = static_cast<uint8_t>(st.pollTag + 1);
    for (auto& e : dev->context.toneResults)
        if (results || e[1] != kToneFound || e[2] == 0)
            std::memset(e, 0, 3);
}

void arm(DspDevice* dev, const uint8_t* payload)
{
    DspLinkContext* ctx = &dev->context;
    DspToneDetectState& st = state(dev);
    const CountryBlock& country = *ctx->country;
    // A reset of the data pump (detector mode 0) has cleared its detector sections: program them again.
    const bool pumpReset = dev->line.detectorMode == 0;
    if (pumpReset) {
        for (int i = 0; i < kToneFilters; ++i)
            if (st.filters[i].inUse && !program(dev, i, &st.filters[i]))
                clear_filter(dev, &st.filters[i]);
    }
    int count = payload[0];
    if (count > kMaxRequestIds)
        count = kMaxRequestIds;
    bool armed = false;
    const unsigned defs = cb_tone_def_count(country);
    for (int k = 0; k < count; ++k) {
        const uint8_t id = payload[1 + k];
        if (id == 0)
            continue;
        uint8_t* entry = track(dev, id);
        if (entry == nullptr)
            break;  // the table is full
        entry[0] = id;
        entry[1] = kToneTracked;
        entry[2] = 0;
        for (unsigned i = 0; i < defs; ++i) {
            CountryToneDef def{};
            if (cb_tone_def(country, i, &def) && def.tone_id == id && arm_definition(dev, i, def))
                armed = true;
        }
    }
    bool inUse = false;
    for (const DspToneFilter& f : st.filters)
        inUse = inUse || f.inUse;
    // The data pump runs its detector filters only in detector modes 1 and 2 (a connection's procedure runs
    // them itself). A detector mode set while a connection starts would replace that procedure: a call
    // dialled without waiting for the dial tone, which arms detection only once the start packet is out,
    // would never hear its answer tone.
    if (pumpReset && inUse && !pump_in_connection(dev))
        dsp_set_detector_mode(dev, kDetectorModeTones);
    if (armed && !st.polling && post_poll(dev))
        st.polling = 1;
}

void poll(DspDevice* dev, uint8_t tag)
{
    DspToneDetectState& st = state(dev);
    if (!st.polling || tag != st.pollTag)
        return;  // a poll of an earlier arming
    const CountryBlock* country = dev->context.country;
    if (country == nullptr) {
        disarm(dev, false);
        return;
    }
    const uint32_t now = now_ms(dev);
    const uint8_t bits = dsp_reg_read(&dev->link, kRegDetector);
    bool waiting = false;
    for (int i = 0; i < kToneFilters; ++i) {
        DspToneFilter& f = st.filters[i];
        if (!f.inUse)
            continue;
        const uint8_t flag = (bits >> i) & 1;
        if (flag != f.flag) {
            const uint32_t ms = now - f.since;
            if (f.count == kToneHistory) {
                std::memmove(f.history, f.history + 1, sizeof f.history - sizeof f.history[0]);
                f.count = kToneHistory - 1;
            }
            f.history[f.count++] = DspToneInterval{f.flag, static_cast<uint16_t>(ms > 65535 ? 65535 : ms)};
            f.flag = flag;
            f.since = now;
        }
        // The closed intervals and the one still running.
        DspToneInterval seen[kToneHistory + 1];
        std::memcpy(seen, f.history, sizeof f.history[0] * f.count);
        const uint32_t running = now - f.since;
        seen[f.count] = DspToneInterval{f.flag, static_cast<uint16_t>(running > 65535 ? 65535 : running)};
        for (DspToneSlot& s : f.slots) {
            CountryToneDef def{};
            if (s.state == kSlotActive && cb_tone_def(*country, s.definition - 1u, &def)) {
                CountryCadenceElement list[kToneElements];
                int n = 0;
                for (int e = 0; e < def.first_count; ++e)
                    list[n++] = def.first[e];
                for (int e = 0; e < def.second_count; ++e)
                    list[n++] = def.second[e];
                if (dsp_tone_cadence_match(seen, f.count + 1, list, n)) {
                    cancel_timer(dev, &s.timers[0]);
                    cancel_timer(dev, &s.timers[1]);
                    s.state = kSlotDone;
                    s.result = kSlotDetected;
                    if (uint8_t* entry = tracked(dev, s.toneId)) {
                        entry[1] = kToneFound;
                        entry[2] = 1;
                    }
                }
            }
            if (s.state == kSlotWaiting || s.state == kSlotActive)
                waiting = true;
        }
    }
    if (!waiting) {
        disarm(dev, false);
        return;
    }
    if (!post_poll(dev))
        st.polling = 0;
}

}  // namespace

void dsp_on_tone_detect_msg(DspMessageNode* node, void* user)
{
    auto* dev = static_cast<DspDevice*>(user);
    if (node == nullptr || dev == nullptr)
        return;
    switch (node->type) {
    case 0:
    case 1:
    case kToneMsgStop:
        disarm(dev, true);
        break;
    case kToneMsgArm:
        if (dev->context.country != nullptr && cb_tone_def_count(*dev->context.country) != 0)
            arm(dev, node->payload);
        break;
    case kToneMsgPoll:
    case kToneMsgEvaluate:
        poll(dev, node->payload[0]);
        break;
    default:
        break;
    }
}
