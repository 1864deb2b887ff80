// XID frames of LAPM and the default negotiation: the HDLC parameter group (optional functions,
// information-field sizes and windows). Compression groups are added by replacing `link->xid`.
#include "layer2/corecode/ec/lapm_internal.h"

#include <algorithm>

namespace {

constexpr uint8_t XID_FORMAT = 0x82;
constexpr uint8_t XID_GROUP_HDLC = 0x80;
constexpr uint8_t PI_OPTIONS = 0x03, PI_TX_N401 = 0x05, PI_RX_N401 = 0x06, PI_TX_K = 0x07, PI_RX_K = 0x08;
constexpr uint8_t OPT1_BASE = 0x8A, OPT1_SREJ = 0x04;
constexpr uint8_t OPT2_BASE = 0x89, OPT2_TEST = 0x20;
constexpr uint8_t OPT3_FCS = 0x03;

// A value with the fewest octets that hold it (none for 0), big-endian.
uint16_t put_value(uint8_t* out, uint8_t pi, uint32_t value)
{
    uint8_t octets = 0;
    for (uint32_t v = value; v; v >>= 8)
        ++octets;
    out[0] = pi;
    out[1] = octets;
    for (uint8_t i = 0; i < octets; ++i)
        out[2 + i] = static_cast<uint8_t>(value >> (8 * (octets - 1 - i)));
    return static_cast<uint16_t>(2 + octets);
}

uint16_t build_hdlc(LapmLink* link, bool command, uint8_t* info, uint16_t max)
{
    if (max < 32)
        return 0;
    const LapmValues& v = command ? link->proposal : link->neg;
    uint16_t n = 0;
    info[n++] = XID_FORMAT;
    info[n++] = XID_GROUP_HDLC;
    uint16_t length_at = n;
    n = static_cast<uint16_t>(n + 2);
    uint16_t group_start = n;
    info[n++] = PI_OPTIONS;
    info[n++] = 3;
    info[n++] = static_cast<uint8_t>(OPT1_BASE | (v.srej ? OPT1_SREJ : 0));
    info[n++] = static_cast<uint8_t>(OPT2_BASE | (v.test ? OPT2_TEST : 0));
    info[n++] = v.fcs ? OPT3_FCS : 0;
    n = static_cast<uint16_t>(n + put_value(info + n, PI_TX_N401, v.tx_n401 * 8u));
    n = static_cast<uint16_t>(n + put_value(info + n, PI_RX_N401, v.rx_n401 * 8u));
    n = static_cast<uint16_t>(n + put_value(info + n, PI_TX_K, v.tx_k));
    n = static_cast<uint16_t>(n + put_value(info + n, PI_RX_K, v.rx_k));
    uint16_t group_length = static_cast<uint16_t>(n - group_start);
    info[length_at] = static_cast<uint8_t>(group_length >> 8);
    info[length_at + 1] = static_cast<uint8_t>(group_length);
    return n;
}

// Takes one parameter of the HDLC group; false when the negotiation fails.
bool take_parameter(LapmLink* link, uint8_t pi, const uint8_t* value, uint8_t length)
{
    const LapmSetup& s = link->setup;
    LapmValues& neg = link->neg;
    if (pi == PI_OPTIONS) {
        if (length >= 1)
            neg.srej = (value[0] & OPT1_SREJ) && (s.srej_request & 0x03) ? 1 : 0;
        if (length >= 2)
            neg.test = (value[1] & OPT2_TEST) && (s.test_request & 0x01) ? 1 : 0;
        if (length >= 3)
            neg.fcs = (value[2] & OPT3_FCS) == OPT3_FCS && (s.fcs_request == 1 || s.fcs_request == 2) ? 1 : 0;
        return !(s.fcs_request == 2 && !neg.fcs);
    }
    if (pi < PI_TX_N401 || pi > PI_RX_K)
        return true;
    if (length > 4)
        return false;
    uint32_t v = 0;
    for (uint8_t i = 0; i < length; ++i)
        v = v << 8 | value[i];
    // A size below one octet or a window of 0 would stall the link: such a value is left out.
    switch (pi) {
    case PI_TX_N401:
        if (v >= 8)
            neg.rx_n401 = static_cast<uint16_t>(std::min<uint32_t>(v / 8, link->proposal.rx_n401));
        break;
    case PI_RX_N401:
        if (v >= 8) {
            neg.tx_n401 = static_cast<uint16_t>(std::min<uint32_t>(v / 8, link->proposal.tx_n401));
            ec_set_link_value(link->counters, neg.tx_n401);
        }
        break;
    case PI_TX_K:
        if (v >= 1)
            neg.rx_k = static_cast<uint16_t>(std::min<uint32_t>(v, link->proposal.rx_k));
        break;
    default:
        if (v >= 1)
            neg.tx_k = static_cast<uint16_t>(std::min<uint32_t>(v, link->proposal.tx_k));
        break;
    }
    return true;
}

// Reads the groups of the information field; every length is checked against the field's end.
bool take_hdlc(LapmLink* link, const uint8_t* info, uint16_t length)
{
    if (length < 1 || info[0] != XID_FORMAT)
        return true;
    uint32_t at = 1;
    while (at + 3 <= length && info[at] == XID_GROUP_HDLC) {
        uint32_t group_length = static_cast<uint32_t>(info[at + 1]) << 8 | info[at + 2];
        uint32_t end = at + 3 + group_length;
        if (end > length)
            return false;
        for (at += 3; at < end;) {
            if (at + 2 > end || at + 2 + info[at + 1] > end)
                return false;
            if (!take_parameter(link, info[at], info + at + 2, info[at + 1]))
                return false;
            at += 2u + info[at + 1];
        }
    }
    return true;
}

}  // namespace

const LapmXidOps lapm_xid_hdlc_ops = {build_hdlc, take_hdlc};

bool lapm_send_xid(LapmLink* link, bool command)
{
    uint8_t address = command ? link->own_cmd_addr : link->peer_cmd_addr;
    FrameNode* frame = lapm_build_frame(link, address, LC_XID);
    if (!frame)
        return false;
    uint16_t info = link->xid->build(link, command, frame->data + 2, FRAME_NODE_OCTETS - 2);
    frame->length = static_cast<uint16_t>(2 + info);
    lapm_queue_built(link, frame, false);
    if (command) {
        if (link->xid_frame)
            lapm_frame_done(link, link->xid_frame);
        link->xid_frame = frame;
    }
    return true;
}

bool lapm_take_xid(LapmLink* link, const FrameNode* frame)
{
    if (!frame || frame->length < 2)
        return true;
    return link->xid->take(link, frame->data + 2, static_cast<uint16_t>(frame->length - 2));
}
