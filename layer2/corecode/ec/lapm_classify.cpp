// Classification of received frames: the class table, the length and address checks and the N(R) test,
// then the event each frame posts.
#include "layer2/corecode/ec/lapm_internal.h"

namespace {

struct FrameClass {
    uint8_t mask;
    uint8_t value;
    uint8_t command;
    uint8_t pf_mask;
    uint8_t pf_value;
    uint8_t event;
};

// Tried in order; the P/F test looks at the third octet of I- and S-frames (the P/F bit of unnumbered
// frames is part of their control value). XID and TEST with P/F set match no row.
constexpr FrameClass kFrameClasses[] = {
    {0x01, 0x00, 1, 0x01, 1, 10}, {0x01, 0x00, 1, 0x01, 0, 11}, {0xFF, 0x01, 1, 0x01, 1, 12},
    {0xFF, 0x01, 1, 0x01, 0, 13}, {0xFF, 0x01, 0, 0x01, 1, 19}, {0xFF, 0x01, 0, 0x01, 0, 20},
    {0xFF, 0x05, 1, 0x01, 1, 14}, {0xFF, 0x05, 1, 0x01, 0, 15}, {0xFF, 0x05, 0, 0x01, 1, 21},
    {0xFF, 0x05, 0, 0x01, 0, 22}, {0xFF, 0x09, 1, 0x01, 1, 16}, {0xFF, 0x09, 1, 0x01, 0, 17},
    {0xFF, 0x09, 0, 0x01, 1, 23}, {0xFF, 0x09, 0, 0x01, 0, 24}, {0xFF, 0x0D, 1, 0x01, 0, 18},
    {0xFF, 0x0D, 0, 0x01, 0, 25}, {0xFF, 0x7F, 1, 0, 0, 1},       {0xFF, 0x6F, 1, 0, 0, 2},
    {0xFF, 0x1F, 0, 0, 0, 3},     {0xFF, 0x0F, 0, 0, 0, 4},       {0xFF, 0x53, 1, 0, 0, 5},
    {0xFF, 0x43, 1, 0, 0, 6},     {0xFF, 0x73, 0, 0, 0, 7},       {0xFF, 0x63, 0, 0, 0, 8},
    {0xFF, 0x97, 0, 0, 0, 9},     {0xFF, 0x87, 0, 0, 0, 9},       {0xFF, 0xAF, 1, 0, 0, 43},
    {0xFF, 0xAF, 0, 0, 0, 44},    {0xFF, 0x13, 1, 0, 0, 26},      {0xFF, 0x03, 1, 0, 0, 27},
    {0xFF, 0x13, 0, 0, 0, 28},    {0xFF, 0x03, 0, 0, 0, 28},      {0xFF, 0xE3, 1, 0, 0, 45},
    {0xFF, 0xE3, 0, 0, 0, 46},
};

int classify_event(const LapmLink* link, const FrameNode* frame)
{
    uint8_t control = frame->data[1];
    uint8_t command = frame->data[0] == link->peer_cmd_addr ? 1 : 0;
    uint8_t pf = frame->length >= 3 ? frame->data[2] : 0;
    for (const FrameClass& c : kFrameClasses)
        if ((control & c.mask) == c.value && command == c.command && (pf & c.pf_mask) == c.pf_value)
            return c.event;
    return -1;
}

bool is_numbered(uint8_t control) { return (control & 0x03) != 0x03; }

// Length rules per frame kind; false when the frame must be dropped (and counted).
bool length_ok(LapmLink* link, const FrameNode* frame, int event)
{
    uint16_t n = frame->length;
    uint8_t control = frame->data[1];
    if (n < (is_numbered(control) ? 3 : 2)) {
        ++link->short_frames;
        return false;
    }
    if (frame->data[0] != LAPM_ADDR_ORIGINATOR_CMD && frame->data[0] != LAPM_ADDR_ANSWERER_CMD) {
        ++link->wrong_address;
        return false;
    }
    bool ok;
    switch (event) {
    case LE_I_P1: case LE_I_P0: case LE_TEST_CMD: case LE_TEST_RSP: ok = true; break;
    case LE_UI_RSP: ok = n == 3; break;
    case LE_UI_CMD_P1: case LE_UI_CMD_P0: ok = n == 4 || n == 5; break;
    case LE_FRMR: ok = n == 7; break;
    case LE_XID_CMD: case LE_XID_RSP:
        ok = n >= 6 && n >= 6u + (static_cast<uint32_t>(frame->data[4]) << 8 | frame->data[5]);
        break;
    default: ok = n == (is_numbered(control) ? 3 : 2); break;
    }
    if (!ok)
        ++link->wrong_length;
    return ok;
}

bool is_mnp_link_request(const LapmLink* link, const FrameNode* frame)
{
    return link->status == LAPM_ESTABLISHING && link->setup.mnp_fallback && link->originator &&
           frame->length >= 1 && frame->data[0] + 1u == frame->length;
}

void record_mnp_request(LapmLink* link, const FrameNode* frame)
{
    uint16_t n = frame->length < LAPM_MNP_FRAME_MAX ? frame->length : LAPM_MNP_FRAME_MAX;
    for (uint16_t i = 0; i < n; ++i)
        link->mnp_frame[i] = frame->data[i];
    link->mnp_frame_length = static_cast<uint8_t>(n);
    link->mnp_detected = 1;
}

void post_or_drop(LapmLink* link, uint16_t event, FrameNode* frame)
{
    if (!lapm_post_event(link, event, frame) && frame)
        lapm_frame_done(link, frame);
}

void take_sframe(LapmLink* link, FrameNode* frame, int event)
{
    uint8_t control = frame->data[1];
    uint8_t nr = static_cast<uint8_t>(frame->data[2] >> 1);
    if (control == LC_SREJ) {
        if (event == LE_SREJ_CMD)
            ++link->call->srej_count;
        if (!link->neg.srej) {
            frame->bad = 1;
            post_or_drop(link, LE_NR_ERROR, frame);
            return;
        }
        lapm_resend_ns(link, nr);
        ec_count_error(link->counters);
        lapm_frame_done(link, frame);
        return;
    }
    lapm_acknowledge(link, nr);
    if ((control == LC_RR || control == LC_RNR) && link->own_busy)
        lapm_release_oos(link);
    // A response to an XID command already answered (one sent again before the first answer arrived) is an
    // acknowledgement point, not a second negotiation: taken again it would send a second SABME, which the
    // far end, already in information transfer, must answer with DM.
    if (event == LE_XID_RSP && !link->xid_frame) {
        lapm_frame_done(link, frame);
        post_or_drop(link, LE_ACK_POINT, nullptr);
        return;
    }
    post_or_drop(link, static_cast<uint16_t>(event), frame);
}

bool nr_in_range(const LapmLink* link, uint8_t nr)
{
    uint8_t sent = static_cast<uint8_t>((link->tx_high + EC_RING16_SLOTS - link->tx_ring.read) % EC_RING16_SLOTS);
    return mod128(nr - link->va) <= sent;
}

}  // namespace

void lapm_classify(LapmLink* link, FrameNode* frame)
{

    if (frame->bad) {
        ec_count_bad_frame(link->counters);
        ec_count_error(link->counters);
        lapm_frame_done(link, frame);
        return;
    }
    ec_count_good_frame(link->counters);
    if (link->timers.t401 < 0)
        link->timers.t403 = 0;
    if (is_mnp_link_request(link, frame)) {
        record_mnp_request(link, frame);
        lapm_frame_done(link, frame);
        return;
    }
    int event = frame->length >= 2 ? classify_event(link, frame) : -1;
    if (frame->length < 2)
        ++link->short_frames;
    if (event < 0 || !length_ok(link, frame, event)) {
        lapm_frame_done(link, frame);
        return;
    }
    uint8_t control = frame->data[1];
    bool iframe = (control & 0x01) == 0;
    if (iframe || event == LE_TEST_CMD || event == LE_TEST_RSP || event == LE_UI_CMD_P1 ||
        event == LE_UI_CMD_P0 || event == LE_UI_RSP)
        lapm_inactivity_restart(link);
    if (is_numbered(control) && !nr_in_range(link, static_cast<uint8_t>(frame->data[2] >> 1))) {
        frame->bad = 1;
        post_or_drop(link, LE_NR_ERROR, frame);
        return;
    }
    if (iframe) {
        lapm_acknowledge(link, static_cast<uint8_t>(frame->data[2] >> 1));
        lapm_accept_iframe(link, frame);
        post_or_drop(link, static_cast<uint16_t>(event), nullptr);
        return;
    }
    if (is_numbered(control)) {
        take_sframe(link, frame, event);
        return;
    }
    if (event == LE_UI_CMD_P1 || event == LE_UI_CMD_P0) {
        lapm_take_break(link, frame);
        lapm_frame_done(link, frame);
        return;
    }
    // A response to an XID command already answered (one sent again before the first answer arrived) is an
    // acknowledgement point, not a second negotiation: taken again it would send a second SABME, which the
    // far end, already in information transfer, must answer with DM.
    if (event == LE_XID_RSP && !link->xid_frame) {
        lapm_frame_done(link, frame);
        post_or_drop(link, LE_ACK_POINT, nullptr);
        return;
    }
    post_or_drop(link, static_cast<uint16_t>(event), frame);
}
