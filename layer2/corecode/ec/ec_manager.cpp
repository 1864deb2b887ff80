// The error-control manager: parameters, starting the chosen protocol, and the requests call control
// forwards to the running protocol.
#include "layer2/corecode/ec/ec_manager.h"

#include <cstring>

#include "layer2/corecode/ec/ec_manager_internal.h"

namespace {

// The capability hook of this build always answers 2.
constexpr uint8_t CAPABILITY_ANSWER = 2;

}  // namespace

uint8_t ec_capability_query(uint8_t) { return CAPABILITY_ANSWER; }

void ec_init(EcManager* m, const EcMnpOps* mnp, const EcLineOps* line, const LapmHost* lapm_host,
             LapmCallValues* call)
{
    std::memset(static_cast<void*>(m), 0, sizeof *m);
    m->mnp = *mnp;
    m->line = *line;
    m->state = EC_IDLE;
    m->idle = 1;
    m->detect_code = 3;
    lapm_init(&m->lapm, lapm_host, call, &m->counters);
}

static void clear_counters(EcCounters* c)
{
    c->errors = 0;
    c->frames = 0;
    c->bad_frames = 0;
}

void ec_set_params(EcManager* m, const EcParams* p)
{
    m->params = *p;
    EcParams& q = m->params;
    if (q.mnp_request == 0) {
        q.mnp_class = 2;
        q.mnp_option = 0;
        q.mnp_fixed_field = 0;
        q.mnp_unused = 0;
        q.mnp5_request = 0;
    }
    bool capability = ec_capability_query(0) != CAPABILITY_ANSWER;
    if (!capability)
        q.detection_option = 0;
    m->lapm_option = q.lapm_enabled && capability && q.detection_option && q.mnp_class == 3 && q.mnp_request == 2;
    m->state = EC_IDLE;
    m->idle = 1;
    clear_counters(&m->counters);
    ec_add_retransmissions(&m->counters, 0);
    m->line_break_pending = 0;
    m->pending_resume = 0;
    m->counters.event_code = 0;
    m->counters.protocol = EC_PROTOCOL_NONE;
    m->detect_code = 3;
    m->params_word = 7;
}

void ec_mnp_values(const EcManager* m, uint32_t v[EC_MNP_VALUES])
{
    const EcParams& p = m->params;
    const uint32_t all[EC_MNP_VALUES] = {
        p.mnp_request,   p.mnp_class,    p.mnp_option,      p.break_mode,      p.retry_count,
        p.inactivity_s,  p.line_option,  p.buffered_allowed, p.srej_request,   p.mnp_fixed_field,
        p.mnp_unused,    p.mnp5_request, p.pass_break,      p.info_size,       p.mnp_line_bits,
        p.mnp_line_value, p.v42bis_p0,   p.v42bis_p1,       p.v42bis_p2,       p.mnp_alt_framing,
        p.mnp_tune8[0],  p.mnp_tune8[1], p.mnp_tune8[2],    p.mnp_tune16[0],   p.mnp_tune16[1],
        p.mnp_tune16[2], p.mnp_tune16[3], p.mnp_tune33};
    std::memcpy(v, all, sizeof all);
}

void ec_start_lapm(EcManager* m, uint8_t request)
{
    const EcParams& p = m->params;
    LapmSetup s{};
    s.break_mode = p.break_mode;
    s.pass_break = p.pass_break;
    s.inactivity_s = p.inactivity_s;
    s.retry_budget = p.retry_count;
    s.info_size = p.info_size;
    s.srej_request = p.srej_request;
    s.test_request = p.test_request;
    s.line_option = p.line_option;
    s.mnp_fallback = m->lapm_option;
    s.p0 = p.v42bis_p0;
    s.p1 = p.v42bis_p1;
    s.p2 = p.v42bis_p2;
    s.fcs_request = p.fcs_request;
    s.hook_flag = p.detection_hook;
    lapm_stop(&m->lapm);
    lapm_setup(&m->lapm, &s);
    // The XID proposes V.42bis with the +DS values and V.44 with the +DS44 request (when its direction
    // is not 0).
    const XidV44Values v44 = v44_xid_request(&m->v44);
    lapm_compression_attach(&m->lapm, &m->compression, &v44);
    lapm_start(&m->lapm, request);
    m->idle = 0;
    m->state = EC_LAPM;
}

void ec_start_mnp(EcManager* m, uint8_t request)
{
    uint32_t v[EC_MNP_VALUES];
    ec_mnp_values(m, v);
    m->mnp.stop(m->mnp.context);
    m->mnp.setup(m->mnp.context, v, EC_MNP_VALUES);
    m->mnp.start(m->mnp.context, request);
    m->idle = 0;
    m->state = EC_MNP;
}

// Buffered mode: the MNP engine without error control, set up with only what buffered mode uses.
void ec_start_buffered(EcManager* m)
{
    const EcParams& p = m->params;
    uint32_t v[EC_MNP_VALUES] = {};
    v[3] = p.break_mode;
    v[5] = p.inactivity_s;
    v[7] = 1;
    v[12] = p.pass_break;
    v[17] = p.v42bis_p1;
    v[18] = p.v42bis_p2;
    v[26] = p.mnp_tune16[3];
    m->mnp.stop(m->mnp.context);
    m->mnp.setup(m->mnp.context, v, EC_MNP_VALUES);
    m->mnp.start(m->mnp.context, 0);
    m->idle = 0;
    m->counters.event_code = 0;
    m->state = EC_BUFFERED;
}

static uint8_t resume(EcManager* m)
{
    if (m->pending_resume) {
        if (m->state == EC_MNP || m->state == EC_BUFFERED)
            m->mnp.start(m->mnp.context, 2);
        else if (m->state == EC_LAPM)
            lapm_start(&m->lapm, 2);
    }
    m->pending_resume = 0;
    return 0;
}

uint8_t ec_start(EcManager* m, uint8_t request)
{
    if (!m->idle)
        return request <= 1 ? 2 : resume(m);
    if (request > 1) {
        m->state = EC_IDLE;
        return 1;
    }
    m->start_request = request;
    const EcParams& p = m->params;
    if (p.detection_enabled == 1) {
        uint8_t mode;
        if (p.detection_option == 1)
            mode = 1;
        else if (p.lapm_enabled)
            mode = 0;
        else if (p.buffered_allowed)
            mode = 2;
        else {
            m->state = EC_IDLE;
            return 1;
        }
        ec_detection_start(m, mode);
    } else if (p.lapm_enabled) {
        ec_start_lapm(m, request);
    } else if (p.mnp_request) {
        ec_start_mnp(m, request);
    } else if (p.buffered_allowed) {
        ec_start_buffered(m);
    } else {
        m->state = EC_IDLE;
        return 1;
    }
    return 0;
}

uint8_t ec_hold(EcManager* m)
{
    m->pending_resume = 1;
    if (m->state == EC_MNP || m->state == EC_BUFFERED)
        return m->mnp.hold(m->mnp.context);
    if (m->state == EC_LAPM)
        return lapm_hold(&m->lapm);
    return 255;
}

void ec_stop(EcManager* m)
{
    if (m->state == EC_MNP || m->state == EC_BUFFERED)
        m->mnp.stop(m->mnp.context);
    else if (m->state == EC_LAPM)
        lapm_stop(&m->lapm);
    m->connect_failure = 255;
    clear_counters(&m->counters);
    m->state = EC_IDLE;
    m->idle = 1;
    m->counters.protocol = EC_PROTOCOL_NONE;
}

uint8_t ec_disconnect(EcManager* m, uint8_t reason)
{
    if (reason == 0)
        m->params.buffered_allowed = 1;
    m->idle = 1;
    switch (m->state) {
    case EC_MNP:
    case EC_BUFFERED: return m->mnp.disconnect(m->mnp.context, reason);
    case EC_LAPM: lapm_disconnect(&m->lapm, reason); return 0;
    case EC_DETECTING: m->connect_failure = 255; break;
    default: break;
    }
    return static_cast<uint8_t>(m->state - 100);
}

bool ec_send_break(EcManager* m, uint8_t length, uint16_t count)
{
    if (m->state == EC_MNP || m->state == EC_BUFFERED)
        return m->mnp.send_break(m->mnp.context, length, count);
    if (m->state == EC_LAPM)
        return lapm_send_break(&m->lapm, length, count);
    return false;
}

bool ec_line_break(EcManager* m, uint8_t type, uint16_t count)
{
    if (m->state != EC_BUFFERED)
        return false;
    if (type == 0)
        type = m->params.pass_break;
    switch (m->params.break_mode) {
    case 1: m->line.break_to_dte(m->line.context, type, 0); return true;
    case 2: m->line.break_to_dte(m->line.context, type, 0); return false;
    case 3: m->line.break_to_dte(m->line.context, type, count); return false;
    default: return false;
    }
}

uint8_t ec_set_link_params(EcManager* m, uint8_t a, uint8_t b, uint16_t c, uint8_t d, uint16_t e, uint8_t f,
                           uint8_t g)
{
    EcParams& p = m->params;
    p.break_mode = a;
    p.pass_break = b;
    p.inactivity_s = c;
    p.retry_count = d;
    p.info_size = e;
    if (m->state == EC_LAPM) {
        p.srej_request = f;
        p.test_request = g;
        return lapm_set_link_params(&m->lapm, a, b, c, d, e, f, g);
    }
    if (m->state == EC_MNP || m->state == EC_BUFFERED)
        return m->mnp.set_link_params(m->mnp.context, a, b, c, d, e);
    return m->state;
}

void ec_request_disconnect_tx(EcManager* m, uint8_t)
{
    if (m->state == EC_LAPM)
        lapm_request_disconnect_tx(&m->lapm);
}
