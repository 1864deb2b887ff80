#include "layer2/corecode/ec/ec_counters.h"

void ec_count_bad_frame(EcCounters* c)
{
    ++c->frames;
    ++c->bad_frames;
}

void ec_count_good_frame(EcCounters* c) { ++c->frames; }

void ec_count_error(EcCounters* c)
{
    if (c->errors != 255)
        ++c->errors;
}

void ec_set_event_code(EcCounters* c, uint8_t a, uint8_t b, uint8_t d)
{
    if (a != 0)
        c->event_code = a;
    else if (b != 0)
        c->event_code = static_cast<uint8_t>(b + 3);
    else if (d != 0)
        c->event_code = static_cast<uint8_t>(d + 6);
    else
        c->event_code = 0;
}

void ec_set_link_value(EcCounters* c, uint16_t v) { c->link_value = v; }
void ec_set_protocol_code(EcCounters* c, uint8_t v) { c->protocol = v; }
void ec_set_framed_flag(EcCounters* c, uint8_t v) { c->framed = v; }

void ec_add_retransmissions(EcCounters* c, uint8_t n)
{
    c->retransmissions = n == 0 ? 0 : static_cast<uint8_t>(c->retransmissions + n);
}
