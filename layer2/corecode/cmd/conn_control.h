// Connection control: turns the call settings into the data pump's start packet, watches the pump's
// connection state while a call is up, reads back the modulation and rates, keeps the connection's
// statistics and log, and asks for retrains, renegotiations and the clear-down.
//
// The packet builders, the rate tables, the reply decoders, the V.8 menu and the log are plain functions
// (conn_packets.cpp, conn_v8_log.cpp); the glue that reads the AT settings and talks to the data pump is in
// conn_control.cpp, conn_start.cpp (the start packets) and conn_v8_exchange.cpp (the start-octet exchange).
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/conn_state.h"

struct AcuContext;

// ---- tables ----

// Line rate (bit/s) to the data pump's rate code; every rate the table does not list gives 9.
uint8_t conn_rate_code_table(uint32_t rate);
// Name of a modulation code on the status screen; null for codes without a name (shown as a number).
const char* conn_modulation_name(uint8_t code, bool v92);

// ---- the start packet ----

// What the start packet is built from: a snapshot of the call settings.
struct ConnRequest {
    uint8_t modulation;      // requested modulation code (+MS)
    uint32_t allowed;        // bit n: modulation code n is allowed (+MS with automode, +MA)
    uint32_t tx_min, tx_max, rx_min, rx_max;  // line-rate limits
    uint32_t first_rate_value, second_rate_value;  // first two +MS rate values as given (0 none)
    uint8_t fax_or_voice;    // the line mode is fax or voice: rate 19200
    uint8_t pcm_fallback;    // V.90 requested but falling back to the lower modulations
    uint8_t v32_rate_7200;   // the V.32 rate byte is 7200: V.32 runs at 4800
    uint8_t line_options;    // bits 4-5 go to byte 4 bits 6-7
    uint8_t calling_tone;    // -C / +A8E
    uint8_t originate;
    uint8_t automode;        // first call-setting flag
    uint8_t single_tone;     // second call-setting flag
    uint8_t v8_exchange;     // the V.8 procedure is asked for (byte 6 bit 4)
    uint8_t v8_continue;     // the start-octet exchange has chosen: the continuation (byte 7 bits 0-1)
    uint8_t percent_e;       // %E
    uint16_t option_word;    // the pump option bits of byte 8 (bits 0, 7, 9, 11)
    uint8_t alternate;       // the alternate bit of option 9
    uint8_t pcm_configured;
    uint8_t pcm_capable;
};

struct ConnChoice {
    uint8_t modulation;
    uint32_t rate;
};

constexpr int kStartPacketLength = 10;  // header (4) and payload (6)
constexpr int kRateMaskLength = 8;

// The modulation and line rate the start packet asks for, with the fall-back chain when the requested
// modulation is not allowed.
ConnChoice conn_choose(const ConnRequest& request);
// The whole ICD 0x68 packet (header and payload); byte 9 is cleared (it carries no field).
void conn_build_start_packet(const ConnRequest& request, const ConnChoice& choice,
                             uint8_t packet[kStartPacketLength]);
// The payload of ICD 0x64 sent before the start packet for modulations above 7: a 16-bit mask of the
// transmit rates and one of the receive rates (bit 1 4800, 2 7200, 3 9600, 4 12000, 5 14400, as the
// pump's V.32-family capability word reads them) and a 32-bit mask of the V.34 rates (bit n: n x 2400)
// inside both ranges.
void conn_build_rate_masks(const ConnRequest& request, uint8_t payload[kRateMaskLength]);

// ---- replies of the data pump ----

// Rate read-back from ICD 0x70's one rate byte. A byte outside the table reads as entry 0.
void conn_decode_rate_byte(uint8_t r, uint32_t* tx, uint32_t* rx);
// V.34 rates from ICD 0x91's reply (bytes 0 and 1), by direction.
void conn_decode_v34_rates(const uint8_t* reply, bool originate, uint32_t* tx, uint32_t* rx);
// PCM rates from ICD 0x91's reply (bytes 2, 6 and 7); *v92 tells whether PCM upstream runs. Indices
// outside their tables read as entry 0.
void conn_decode_pcm_rates(const uint8_t* reply, uint32_t* tx, uint32_t* rx, uint8_t* v92);
// Modulation from ICD 0x72's reply byte: 17 is taken as 18, 16 as 12 when V.32bis is not allowed, 6 as 1
// when the modulation was 1.
uint8_t conn_decode_mode(uint8_t reply, uint8_t previous, bool v32bis_allowed);
// The V.34 line-quality verdict from the link query's two values and the DSP event-flag bit 5.
uint8_t conn_v34_quality(uint16_t a, uint16_t b, bool event_flag);

// ---- V.8 start octets ----

struct ConnV8Allowed {
    uint8_t v32bis, v32, v22bis, v22, v21, v23;
    uint8_t higher_first;    // first higher-modulation flag (V.34)
    uint8_t higher_second;   // second higher-modulation flag (PCM)
    uint8_t lapm;            // +ES for the call's direction is 2 or more
    uint8_t extra;           // the extra capability octet
};

// This side's octets: out[0] = 255 (sent as the ten-ones preamble), the sync octet 0xE0, then the octets
// (ending with 13); returns the kept length: the marker, the sync octet and the octets, every byte written and
// none past them. `out` holds at least kStartOctetsMax bytes.
int conn_build_start_octets(const ConnV8Allowed& allowed, uint8_t call_function, uint8_t* out);
// Reads the far end's octets, narrows this side's (own[2] call function, own[3] modulation modes and
// own[4], own[5] its extensions) and returns the modulation chosen, or MOD_NONE (255).
uint8_t conn_parse_v8_menu(const uint8_t* received, int count, uint8_t* own, int own_length,
                           bool v32bis_allowed, bool v22bis_allowed, uint8_t a8e_call_function);

// ---- the connection log ----

void connlog_add(ConnectionLog* log, uint32_t time_ms, uint16_t tx_rate, uint16_t rx_rate, const char* text);
void connlog_reset(ConnectionLog* log);
typedef void (*ConnPrint)(void* ctx, const char* text, uint8_t mode);
void connlog_print(const ConnectionLog* log, ConnPrint print, void* ctx);

// ---- the glue (conn_control.cpp, conn_start.cpp) ----

// Shared by the connection-control files: an ICD packet acknowledged by the data pump (kIcdSent when it went),
// and a log entry at the router's millisecond clock.
int conn_send_packet(AcuContext* acu, uint8_t code, const uint8_t* payload, int length);
void conn_log(AcuContext* acu, const char* text, uint32_t tx_rate = 0, uint32_t rx_rate = 0);

// Clears the state, counters and log before a new call (the connection state reset).
void conn_reset(AcuContext* acu);

// ---- the start-octet exchange (conn_v8_exchange.cpp) ----

// Whether this call runs the V.8 procedure: a data call (not fax or voice) with the +A8E option of its
// direction on.
bool conn_v8_wanted(const AcuContext* acu, bool originate);
// This side's octets from the +MS, +ES and +A8E settings; the exchange starts (line block on its start-up path).
void conn_v8_begin(AcuContext* acu, bool originate);
// One step of the exchange (conn_step, while the call is being set up and the exchange runs).
void conn_v8_step(AcuContext* acu);
// Ends the exchange: the block being sent forgotten (also one waiting for the data pump), the flag cleared.
void conn_v8_end(AcuContext* acu);
// The V.8 modulation choice as the second start packet carries it (conn_start.cpp).
int conn_send_v8_choice(AcuContext* acu, uint8_t modulation);
// Builds the request from the AT settings.
ConnRequest conn_request_from_settings(const AcuContext* acu, bool originate);
// Sends the rate masks (modulations above 7) and the start packet; marks the call originating or answering.
int conn_send_start_packet(AcuContext* acu, bool originate);
// A connection reported by the data pump: mode and rates are read back, counted and logged, and the
// facts the connection report prints (modulation, line rate, CONNECT rate) are filled in.
void conn_connected(AcuContext* acu);
// The option bit of the connection's modulation family (set at the connect step, cleared at the end of the
// hang-up); codes of no family touch no bit.
void conn_mark_modulation_family(AcuContext* acu, uint8_t modulation, bool set);
// One step per call-control tick: the status poll and the state's work.
void conn_step(AcuContext* acu);
// Every 10 ms: the rate-adaptation countdowns and the connection timers.
void conn_tick_10ms(AcuContext* acu);
// Requests (false when not allowed now).
bool conn_request_retrain(AcuContext* acu);
bool conn_request_renegotiation(AcuContext* acu, uint32_t rate);
// The data pump's timing offset: saved into the settings image at every clear-down request, written back to
// the data pump at every connection set-up.
void conn_save_timing_offset(AcuContext* acu);
void conn_restore_timing_offset(AcuContext* acu);
// The line is ready for data again: the data pump is connected and no retrain or renegotiation is pending.
bool conn_line_ready(AcuContext* acu);
// The call-waiting sequence back to its watch, counters cleared, the DSP event flag word set from `flags`
// (the watch runs while they carry the call-waiting bit), the tone register cleared (conn_endings.cpp).
void conn_reset_call_waiting(AcuContext* acu, uint16_t flags);
// Ends the call with "NO CARRIER": the detectors back to mode 0 first when the V.8 answer menu ran in them.
void acu_hang_up_no_carrier(AcuContext* acu);
// The clear-down request (argument 1: the clear-down sequence).
void conn_hangup(AcuContext* acu, int cleardown);
// The line-quality verdict (0 good, 1 fair, 2 poor, 3 bad).
uint8_t conn_line_quality(AcuContext* acu);
// Carrier present, from the connection state.
bool conn_carrier_detect(AcuContext* acu);
// 1 when the data pump's connection state is 1 or 2.
int conn_dsp_linked(AcuContext* acu);
// One frame end counted by the line block.
void conn_count_rx_frame(AcuContext* acu);
// Synchronous access asked for by +ES for the call's direction.
bool conn_sync_access_requested(const AcuContext* acu);
// Fax class 1 modulations (conn_fax.cpp). The byte of packet 0x73 for a class 1 modulation code: the
// modulation in the high nibble (0x3 V.21 channel 2, 0xA V.27ter, 0xB V.29, 0xE V.17 long training, 0xD
// V.17 short training), the rate code of the line rate in the low nibble.
uint8_t conn_fax_modulation_byte(uint8_t code);
// The line rate of a class 1 modulation code (300 for V.21 channel 2 and every code not listed).
uint32_t conn_fax_line_rate(uint8_t code);
// Starts a modulation (transmit or receive): a pending hold released, packet 0x73, for transmit the hold
// (0x75), then 0x86 {2, 0}; the training countdown starts.
void conn_fax_start_modulation(AcuContext* acu, uint8_t code, bool transmit);
bool conn_fax_training_done(const AcuContext* acu);
uint8_t conn_fax_capability(const AcuContext* acu);
void conn_fax_release_hold(AcuContext* acu);
// Both directions of the fax pump idle (packet 0x73 with no modulation): a transmitter stops sending. The
// V.21 transmitter, whose hold release only restarts its list, goes on sending flags without this.
void conn_fax_idle(AcuContext* acu);
void conn_fax_set_word(AcuContext* acu, uint16_t value);
void conn_fax_tick(AcuContext* acu);
// The log printed on the status screen.
void conn_print_log(AcuContext* acu);
// The facts of the connection the status screen shows.
struct DspConnectionFacts;
void conn_status_facts(const AcuContext* acu, DspConnectionFacts* facts);
