// The error-control manager: at the start of a data connection it decides which link protocol carries
// the DTE's data (LAPM, MNP, or buffered mode without error control), runs the V.42 detection phase when
// asked, falls back from LAPM to MNP and from either to buffered mode, forwards breaks, disconnects and
// parameter changes to the running protocol, and keeps the link statistics.
//
// The line side (detection patterns, line rings) and the MNP engine come in through operation tables,
// so the decisions can run and be tested without them.
#pragma once

#include <cstdint>

#include "layer2/corecode/ec/ec_counters.h"
#include "layer2/corecode/ec/lapm.h"
#include "layer2/corecode/ec/lapm_compress.h"
#include "layer2/corecode/ec/mnp.h"

enum EcStateValue : uint8_t {
    EC_IDLE = 0,
    EC_MNP = 1,
    EC_BUFFERED = 2,
    EC_LAPM = 3,
    EC_DETECTING = 100,
};

// The negotiation parameters call control passes before each start, in their order.
struct EcParams {
    uint8_t mnp_request;        // 1: 0 off, 1-2 MNP mode
    uint8_t mnp_class;          // 2: service class
    uint8_t mnp_option;         // 3
    uint8_t break_mode;         // 4: link parameter a
    uint8_t retry_count;        // 5: link parameter d
    uint16_t inactivity_s;      // 6: link parameter c
    uint16_t line_option;       // 7: handed to the line side when a link starts
    uint8_t buffered_allowed;   // 8
    uint8_t srej_request;       // 9: link parameter f
    uint8_t mnp_fixed_field;    // 10
    uint8_t mnp_unused;         // 11
    uint8_t mnp5_request;       // 12
    uint8_t pass_break;         // 13: link parameter b (MNP: default break type)
    uint16_t info_size;         // 14: link parameter e
    uint8_t mnp_line_bits;      // 15
    uint8_t mnp_line_value;     // 16
    uint8_t lapm_enabled;       // 17
    uint8_t detection_enabled;  // 18
    uint8_t detection_option;   // 19
    uint8_t test_request;       // 20: link parameter g
    uint8_t v42bis_p0;          // 21
    uint16_t v42bis_p1;         // 22
    uint8_t v42bis_p2;          // 23
    uint8_t fcs_request;        // 24
    uint8_t mnp_alt_framing;    // 25
    uint8_t mnp_tune8[3];       // 26-28
    uint16_t mnp_tune16[4];     // 29-32
    uint8_t mnp_tune33;         // 33
    uint8_t detection_hook;     // 34
};

// What the MNP engine offers the manager (its own module). `values` are the 28 set-up values in the
// order the manager passes them; `poll` returns the MNP status (5: set-up failed / buffered).
struct EcMnpOps {
    void* context;
    void (*stop)(void* context);
    void (*setup)(void* context, const uint32_t* values, uint32_t count);
    void (*start)(void* context, uint8_t request);
    uint8_t (*poll)(void* context);
    uint8_t (*hold)(void* context);
    uint8_t (*disconnect)(void* context, uint8_t reason);
    bool (*send_break)(void* context, uint8_t length, uint16_t count);
    uint8_t (*set_link_params)(void* context, uint8_t a, uint8_t b, uint16_t c, uint8_t d, uint16_t e);
    void (*line_abort)(void* context, uint8_t reason);  // the line side ended the set-up
    void (*notify)(void* context, uint8_t value);        // buffered mode after detection
    uint8_t (*pending_bits)(void* context);              // data-pending bits of the link status
};

// What the line side offers the manager.
struct EcLineOps {
    void* context;
    void (*detect_start)(void* context, uint8_t request, uint8_t mode, uint16_t timeout);
    void (*detect_continue)(void* context);
    void (*detect_stop)(void* context, uint8_t mode);
    void (*resume)(void* context);            // continue in plain buffered mode after detection
    void (*empty_rings)(void* context);       // both line rings
    void (*break_to_dte)(void* context, uint8_t type, uint16_t after_bytes);
    bool (*from_dte_pending)(void* context);  // the from-DTE ring holds bytes
};

// The 14-byte link status.
constexpr uint8_t EC_LINK_STATUS_SIZE = 14;

constexpr uint8_t EC_FALLBACK_MAX = 100;

struct EcManager {
    EcParams params;
    uint8_t state;             // EcStateValue
    uint8_t idle;              // 1 while no protocol owns the link
    uint8_t start_request;     // 0 originate, 1 answer, 2 resume
    uint8_t pending_resume;
    uint8_t detect_result_seen;
    uint8_t detect_code;       // 0-7
    uint8_t line_break_pending;
    uint8_t line_break_type;
    uint16_t line_break_count;
    uint8_t connect_failure;   // 0 set-up failed, 1 detection found nothing, 255 stopped or aborted
    uint8_t lapm_option;       // LAPM's MNP fall-back enable
    uint32_t params_word;      // set to 7 by every ec_set_params
    uint8_t fallback[EC_FALLBACK_MAX];  // the MNP link request that ended LAPM's establishment
    uint8_t fallback_length;

    EcCounters counters;
    EcMnpOps mnp;
    EcLineOps line;
    LapmLink lapm;
    MnpLink mnp_link;             // the MNP engine, once bound with ec_bind_mnp
    LapmCompression compression;  // V.42bis or V.44 on the LAPM link, negotiated by its XID exchange
    V44Settings v44;              // +DS44: supported maxima and request (direction 0 until call control sets it)
};

// Binds the manager to its MNP engine, line side and LAPM host; the manager is idle afterwards.
void ec_init(EcManager* m, const EcMnpOps* mnp, const EcLineOps* line, const LapmHost* lapm_host,
             LapmCallValues* call);
// Binds the manager to its own MNP engine (`mnp_link`), replacing the engine given to ec_init.
void ec_bind_mnp(EcManager* m, const MnpHost* host, const LapmCallValues* call);
// The MNP engine's operation table for one link record.
EcMnpOps mnp_engine_ops(MnpLink* link);

void ec_set_params(EcManager* m, const EcParams* p);
uint8_t ec_start(EcManager* m, uint8_t request);
uint8_t ec_poll(EcManager* m);
uint8_t ec_hold(EcManager* m);
void ec_stop(EcManager* m);
uint8_t ec_disconnect(EcManager* m, uint8_t reason);
bool ec_send_break(EcManager* m, uint8_t length, uint16_t count);
bool ec_line_break(EcManager* m, uint8_t type, uint16_t count);
uint8_t ec_set_link_params(EcManager* m, uint8_t a, uint8_t b, uint16_t c, uint8_t d, uint16_t e, uint8_t f,
                           uint8_t g);
void ec_request_disconnect_tx(EcManager* m, uint8_t x);
void ec_get_link_status(EcManager* m, uint8_t status[EC_LINK_STATUS_SIZE]);
void ec_get_and_clear_link_status(EcManager* m, uint8_t status[EC_LINK_STATUS_SIZE]);
uint8_t ec_capability_query(uint8_t x);

// Reports from the line side.
void ec_detection_result(EcManager* m, uint8_t type, uint8_t kind);
void ec_line_abort(EcManager* m, uint8_t reason);
void ec_request_line_break(EcManager* m, uint8_t type, uint16_t count);
