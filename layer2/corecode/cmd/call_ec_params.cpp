// The error-control and compression values a connection starts with, composed from the settings: +ES (which
// \N sets) chooses the protocols, the detection phase and the fall-back to buffered mode for the call's
// direction; +DS the V.42bis proposal; +DS44 the V.44 proposal; +EB the break handling.
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dce/data_link.h"
#include "layer2/corecode/dce/line_block.h"

namespace {

// What +ES asks of one call.
struct EcChoice {
    uint8_t lapm;
    uint8_t mnp;
    uint8_t detection;
    uint8_t buffered;
};

// Originating: the request (1 buffered only, 2 V.42 without the detection phase, 3 with it, 4 the alternative
// protocol) and the fall-back (0 and 1 error control optional, 2 required, 3 LAPM required, 4 the
// alternative protocol required).
EcChoice originate_choice(uint8_t request, uint8_t fallback)
{
    EcChoice c{};
    c.buffered = fallback <= 1 ? 1 : 0;
    switch (request) {
    case 2:
    case 3:
        c.lapm = fallback == 4 ? 0 : 1;
        c.mnp = fallback == 3 ? 0 : 1;
        c.detection = request == 3 ? 1 : 0;
        break;
    case 4: c.mnp = 1; break;
    default:
        c.buffered = 1;
        break;
    }
    return c;
}

// Answering: 1 buffered only; 2 and 3 error control optional; 4 LAPM or the alternative protocol required;
// 5 LAPM required; 6 the alternative protocol required.
EcChoice answer_choice(uint8_t fallback)
{
    EcChoice c{};
    switch (fallback) {
    case 2:
    case 3: c = {1, 1, 1, 1}; break;
    case 4: c = {1, 1, 1, 0}; break;
    case 5: c = {1, 0, 1, 0}; break;
    case 6: c = {0, 1, 0, 0}; break;
    default: c.buffered = 1; break;
    }
    return c;
}

// Largest information field of an I-frame; the retry count (MNP's link-request and resend retries, LAPM's
// retransmission budget in seconds of T401 recovery).
constexpr uint16_t kInfoField = 128;
constexpr uint8_t kRetryBudget = 12;
constexpr uint8_t kConnectionModeData = 2;

// \C: how an MNP set-up gives way to a far end that sends plain characters. 1 keeps the raw bytes (200 of them
// without a frame end the set-up, and so does a far end that sent no frame for the drop time); 2 ends it on
// the %A character.
constexpr uint8_t kRawBuffering = 1;
constexpr uint8_t kFallbackCharacter = 2;
constexpr uint16_t kRawWaitSeconds = 10;  // longer than one link request's wait for an answer at any rate

void plain_fallback(const AtSettings& set, EcParams* p)
{
    if (set.bs_c == kRawBuffering) {
        p->mnp_line_bits = LINE_PLAIN_DROP_TIMER | EC_LINE_RAW_BUFFERING;
        p->line_option = kRawWaitSeconds;
    } else if (set.bs_c == kFallbackCharacter) {
        p->mnp_line_bits = LINE_PLAIN_FALLBACK_CHAR;
    }
    p->mnp_line_value = set.pct_a;
}

}  // namespace

void acu_data_link_values(const AcuContext* acu, DataLinkStart* s)
{
    *s = DataLinkStart{};
    const AtSettings& set = acu->set;
    const bool answer = acu->answering != 0 && acu->originating == 0;
    const EcChoice c = answer ? answer_choice(set.es[2]) : originate_choice(set.es[0], set.es[1]);
    EcParams& p = s->params;
    p.mnp_request = c.mnp;
    p.mnp_class = 2;
    p.mnp5_request = c.mnp && set.pct_c ? 1 : 0;  // %C: MNP class 5 compression on an MNP link
    p.break_mode = set.break_type <= 3 ? set.break_type : 3;
    p.retry_count = kRetryBudget;
    p.buffered_allowed = c.buffered;
    p.srej_request = 1;
    p.pass_break = 1;
    p.info_size = kInfoField;
    p.lapm_enabled = c.lapm;
    p.detection_enabled = c.detection;
    p.v42bis_p0 = static_cast<uint8_t>(set.ds[0] & 3u);
    p.v42bis_p1 = set.ds[2];
    p.v42bis_p2 = static_cast<uint8_t>(set.ds[3]);
    if (c.mnp)
        plain_fallback(set, &p);
    s->request = answer ? 1 : 0;
    s->tx_rate = static_cast<uint16_t>(acu->conn.tx_rate != 0 ? acu->conn.tx_rate : acu->line_rate);
    s->rx_rate = static_cast<uint16_t>(acu->conn.rx_rate != 0 ? acu->conn.rx_rate : acu->line_rate);
    s->connection_mode = kConnectionModeData;
    const uint16_t* v = acu->ext.ds44;
    V44Params& q = s->v44;
    q.direction = static_cast<uint8_t>(v[0]);
    q.negotiation = v[1];
    q.capability = v[2];
    q.tx_codewords = v[3];
    q.rx_codewords = v[4];
    q.tx_string = static_cast<uint8_t>(v[5]);
    q.rx_string = static_cast<uint8_t>(v[6]);
    q.tx_history = v[7];
    q.rx_history = v[8];
}

bool acu_compression_refused(const AcuContext* acu, uint8_t compression)
{
    // Direction bits: 1 transmit, 2 receive, as +DS counts them.
    constexpr uint8_t kGot[8] = {0, 2, 1, 3, 2, 1, 3, 0};
    const uint8_t wanted = static_cast<uint8_t>(acu->set.ds[0] & 3u);
    if (acu->set.ds[1] == 0 || wanted == 0)
        return false;
    return (wanted & ~kGot[compression & 7u]) != 0;
}
