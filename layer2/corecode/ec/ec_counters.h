// Link statistics that the link protocols count into and the link-status report reads.
#pragma once

#include <cstdint>

// Protocol codes of the running link, as the connection report reads them.
constexpr uint8_t EC_PROTOCOL_NONE = 0;
constexpr uint8_t EC_PROTOCOL_MNP = 3;
constexpr uint8_t EC_PROTOCOL_LAPM = 6;

struct EcCounters {
    uint8_t framed;          // framed-link flag, set by the line side
    uint8_t event_code;      // last link event code
    uint16_t link_value;     // the negotiated frame size
    uint8_t errors;          // saturates at 255
    uint8_t frames;          // frames received, wraps
    uint8_t bad_frames;      // frames received with errors, wraps
    uint8_t protocol;        // protocol code of the running link
    uint8_t retransmissions; // wraps
};

void ec_count_bad_frame(EcCounters* c);
void ec_count_good_frame(EcCounters* c);
void ec_count_error(EcCounters* c);
// Event code := a if a != 0, else b + 3 if b != 0, else c + 6 if c != 0, else 0.
void ec_set_event_code(EcCounters* c, uint8_t a, uint8_t b, uint8_t d);
void ec_set_link_value(EcCounters* c, uint16_t v);
void ec_set_protocol_code(EcCounters* c, uint8_t v);
void ec_set_framed_flag(EcCounters* c, uint8_t v);
// Adds n to the retransmission counter; n = 0 clears it.
void ec_add_retransmissions(EcCounters* c, uint8_t n);
