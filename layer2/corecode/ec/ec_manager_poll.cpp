// The error-control manager's step: the V.42 detection phase and its outcome, the fall-backs from LAPM
// to MNP and from MNP to buffered mode, and the reports of the line side.
#include <cstring>

#include "layer2/corecode/ec/ec_manager_internal.h"

namespace {

// The detection hooks have no body in this build: they answer 0, and the default time-out holds.
uint16_t detection_hook() { return 0; }

uint8_t failure(EcManager* m, uint8_t connect_failure)
{
    m->connect_failure = connect_failure;
    m->state = EC_IDLE;
    m->idle = 1;
    return 0;
}

void stop_detection(EcManager* m) { m->line.detect_stop(m->line.context, EC_DETECTION_STOP); }

// Detection found a peer that answers only with plain data: continue in buffered mode if allowed.
uint8_t continue_buffered(EcManager* m)
{
    if (!m->params.buffered_allowed)
        return failure(m, 1);
    m->mnp.notify(m->mnp.context, 0);
    m->line.resume(m->line.context);
    m->state = EC_BUFFERED;
    m->counters.protocol = EC_PROTOCOL_NONE;
    return 1;
}

uint8_t act_on_detection(EcManager* m)
{
    const EcParams& p = m->params;
    switch (m->detect_code) {
    case 1:
        if (p.mnp_request) {
            ec_start_mnp(m, m->start_request);
            return 1;
        }
        [[fallthrough]];
    case 0:
        if (!p.lapm_enabled)
            return failure(m, 0);
        ec_start_lapm(m, m->start_request);
        return 1;
    case 2:
        if (!p.buffered_allowed)
            return failure(m, 0);
        ec_start_buffered(m);
        return 1;
    case 4:
        if (m->start_request == 1 || !p.mnp_request) {
            stop_detection(m);
            return continue_buffered(m);
        }
        // The originator heard no answer to its detection patterns: it tries MNP, whose engine was only set
        // up for the detection phase (polled as it stands it would report an idle link).
        ec_start_mnp(m, m->start_request);
        return 1;
    case 5:
        if (!p.lapm_enabled)
            return failure(m, 0);
        m->lapm_option = p.detection_option != 0;
        ec_start_lapm(m, m->start_request);
        return 1;
    case 6:
        // An MNP frame was heard during detection: the far end runs MNP without the detection phase. MNP was
        // only set up for detection; it starts here (answering waits for the caller's next link request).
        if (p.mnp_request) {
            ec_start_mnp(m, m->start_request);
            return 1;
        }
        stop_detection(m);
        if (p.buffered_allowed)
            return continue_buffered(m);
        return failure(m, 0);
    default: return failure(m, 0);
    }
}

uint8_t poll_lapm(EcManager* m)
{
    uint8_t status = lapm_step(&m->lapm);
    if (status != LAPM_MNP_FALLBACK)
        return status;
    // The far end answered with an MNP link request: MNP takes the link over.
    m->fallback_length = m->lapm.mnp_frame_length;
    std::memcpy(m->fallback, m->lapm.mnp_frame, m->fallback_length);
    uint32_t v[EC_MNP_VALUES];
    ec_mnp_values(m, v);
    m->mnp.setup(m->mnp.context, v, EC_MNP_VALUES);
    m->state = EC_MNP;
    return 1;
}

}  // namespace

void ec_detection_start(EcManager* m, uint8_t mode)
{
    EcParams& p = m->params;
    uint16_t timeout = EC_DETECTION_TIMEOUT;
    if (p.detection_hook) {
        p.line_option = detection_hook();
        uint16_t answer = detection_hook();
        if (answer)
            timeout = answer;
    }
    uint32_t v[EC_MNP_VALUES];
    ec_mnp_values(m, v);
    if (!p.mnp_request) {
        v[0] = 2;
        v[1] = 2;
    }
    m->mnp.setup(m->mnp.context, v, EC_MNP_VALUES);
    m->detect_result_seen = 0;
    m->state = EC_DETECTING;
    m->line.detect_start(m->line.context, m->start_request, mode, timeout);
}

void ec_detection_result(EcManager* m, uint8_t type, uint8_t kind)
{
    bool stop = true;
    switch (type) {
    case 0: m->detect_code = kind <= 2 ? kind : 3; break;
    case 1: m->detect_code = 4; stop = false; break;
    case 2: m->detect_code = 5; break;
    case 3: m->detect_code = 6; stop = false; break;
    default: m->detect_code = 7; break;
    }
    if (stop)
        stop_detection(m);
    m->detect_result_seen = 1;
}

uint8_t ec_poll(EcManager* m)
{
    if (m->state == EC_DETECTING) {
        if (!m->detect_result_seen) {
            m->line.detect_continue(m->line.context);
            return 1;
        }
        m->idle = 0;
        return act_on_detection(m);
    }
    if (m->line_break_pending) {
        m->line_break_pending = 0;
        if (ec_line_break(m, m->line_break_type, m->line_break_count))
            m->line.empty_rings(m->line.context);
    }
    switch (m->state) {
    case EC_MNP: {
        uint8_t status = m->mnp.poll(m->mnp.context);
        if (status == EC_MNP_SETUP_FAILED) {
            m->counters.protocol = EC_PROTOCOL_NONE;
            if (m->params.buffered_allowed) {
                m->idle = 0;
                m->counters.event_code = 0;
                m->state = EC_BUFFERED;
            }
        }
        return status;
    }
    case EC_BUFFERED: return m->mnp.poll(m->mnp.context);
    case EC_LAPM: return poll_lapm(m);
    default: return 0;
    }
}

void ec_line_abort(EcManager* m, uint8_t reason)
{
    m->mnp.line_abort(m->mnp.context, reason);
    if (m->state == EC_DETECTING)
        stop_detection(m);
    if (m->params.buffered_allowed) {
        if (m->state == EC_LAPM)
            ec_start_buffered(m);
        m->state = EC_BUFFERED;
        m->idle = 0;
    } else {
        m->connect_failure = 0;
        m->state = EC_IDLE;
        m->idle = 1;
    }
    m->counters.protocol = EC_PROTOCOL_NONE;
    m->counters.event_code = 0;
}

void ec_request_line_break(EcManager* m, uint8_t type, uint16_t count)
{
    m->line_break_type = type;
    m->line_break_count = count;
    m->line_break_pending = 1;
}

void ec_get_link_status(EcManager* m, uint8_t s[EC_LINK_STATUS_SIZE])
{
    const EcCounters& c = m->counters;
    s[0] = c.framed;
    s[1] = c.event_code;
    s[2] = static_cast<uint8_t>(c.link_value);
    s[3] = static_cast<uint8_t>(c.link_value >> 8);
    s[4] = c.errors;
    s[5] = c.frames;
    s[6] = c.bad_frames;
    s[7] = m->params.mnp_fixed_field;
    s[8] = c.protocol;
    s[9] = 0;
    uint8_t pending = 0;
    if (m->state == EC_MNP) {
        bool dte = m->line.from_dte_pending && m->line.from_dte_pending(m->line.context);
        pending = static_cast<uint8_t>((dte ? 1 : 0) | m->mnp.pending_bits(m->mnp.context));
    } else if (m->state == EC_LAPM) {
        pending = lapm_pending_bits(&m->lapm);
    }
    s[10] = pending;
    s[11] = m->state;
    s[12] = c.retransmissions;
    s[13] = 0;
}

void ec_get_and_clear_link_status(EcManager* m, uint8_t s[EC_LINK_STATUS_SIZE])
{
    ec_get_link_status(m, s);
    m->counters.errors = 0;
    m->counters.frames = 0;
    m->counters.bad_frames = 0;
}
