// The data link as call control sees it (ec_start, ec_poll, ec_stop). Until error control is wired in, a
// started link is buffered mode on the plain line path: ec_poll moves the connection's bytes and answers 5,
// the status of a link that runs buffered mode.
#include "layer2/corecode/dce/buffered_mode.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/dte/dte_context.h"

namespace {

constexpr uint8_t kLinkNegotiating = 1;
constexpr uint8_t kLinkBuffered = 5;

}  // namespace

void ec_start(DteContext* d)
{
    if (d->line_block != nullptr)
        lb_set_mode(d->line_block, LINE_MODE_PLAIN);
    d->ec_started = 1;
}

uint8_t ec_poll(DteContext* d)
{
    if (!d->ec_started.load())
        return kLinkNegotiating;
    buffered_mode_poll(d, d->line_block);
    return kLinkBuffered;
}

void ec_stop(DteContext* d)
{
    d->ec_started = 0;
    if (d->line_block != nullptr)
        lb_service_stop(d->line_block);
}
