// The MNP engine as the error-control manager reaches it: its operation table, bound to the manager's own
// MNP link record.
#include "layer2/corecode/ec/ec_manager.h"
#include "layer2/corecode/ec/mnp.h"

namespace {

MnpLink* mnp(void* c) { return static_cast<MnpLink*>(c); }

void op_stop(void* c) { mnp_stop(mnp(c)); }
void op_setup(void* c, const uint32_t* v, uint32_t n) { mnp_setup(mnp(c), v, n); }
void op_start(void* c, uint8_t request) { mnp_start(mnp(c), request); }
uint8_t op_poll(void* c) { return mnp_poll(mnp(c)); }
uint8_t op_hold(void* c) { return mnp_hold(mnp(c)); }
uint8_t op_disconnect(void* c, uint8_t reason) { return mnp_disconnect(mnp(c), reason); }
bool op_break(void* c, uint8_t length, uint16_t count) { return mnp_send_break(mnp(c), length, count); }
uint8_t op_link_params(void* c, uint8_t a, uint8_t b, uint16_t cc, uint8_t d, uint16_t e)
{
    return mnp_set_link_params(mnp(c), a, b, cc, d, e);
}
void op_line_abort(void* c, uint8_t reason) { mnp_line_abort(mnp(c), reason); }
void op_notify(void* c, uint8_t value) { mnp_notify(mnp(c), value); }
uint8_t op_pending(void* c) { return mnp_pending_bits(mnp(c)); }

}  // namespace

EcMnpOps mnp_engine_ops(MnpLink* link)
{
    return EcMnpOps{link,      op_stop,        op_setup,      op_start,  op_poll,  op_hold,
                    op_disconnect, op_break,   op_link_params, op_line_abort, op_notify, op_pending};
}

void ec_bind_mnp(EcManager* m, const MnpHost* host, const LapmCallValues* call)
{
    mnp_init(&m->mnp_link, host, call, &m->counters);
    m->mnp = mnp_engine_ops(&m->mnp_link);
}
