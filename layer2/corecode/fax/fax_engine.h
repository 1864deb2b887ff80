// The fax class 1 engine: a twelve-mode machine that call control runs (fax_poll) on each pass of its task
// while a class 1 command is active. Each command starts one mode; the modes drive the fax line path of the
// line block, the fax DTE and connection control's fax modulations:
//
//   1 +FTM start: 80 ms, CONNECT, page-data path, transmit modulation, training   2 +FTM data   3 +FTM end
//   4 +FRM start: page-data path, receive modulation, carrier, CONNECT            5 +FRM data   6 +FRM end
//   7 +FTH start: 80 ms, frame path, transmit modulation, CONNECT   8 collect a frame   9 send it; next or end
//   10 +FRH start: frame path, receive modulation, flags, CONNECT   11 wait for a frame  12 deliver it
//
// A page receiver that hears control-frame flags instead of its carrier ends with "+FCERROR", so the application
// can take the frames with +FRH while their preamble lasts.
//
// Data from the application is shielded with DLE (0x10): DLE DLE is a data 0x10, DLE ETX ends the data or
// the frame. Towards the application 0x10 is doubled and DLE ETX ends the page data or the frame (a received
// frame carries its two frame-check octets).
#pragma once

#include <cstdint>

#include "layer2/corecode/dce/line_fax.h"

struct AcuContext;

enum FaxEngineMode : uint8_t {
    FAX_MODE_IDLE = 0,
    FAX_TM_START = 1,
    FAX_TM_DATA = 2,
    FAX_TM_END = 3,
    FAX_RM_START = 4,
    FAX_RM_DATA = 5,
    FAX_RM_END = 6,
    FAX_TH_START = 7,
    FAX_TH_COLLECT = 8,
    FAX_TH_SEND = 9,
    FAX_RH_START = 10,
    FAX_RH_WAIT = 11,
    FAX_RH_DELIVER = 12,
};

// What fax_poll returns to call control.
enum FaxResult : uint8_t {
    FAX_RUNNING = 0,
    FAX_IDLE = 1,
    FAX_RESULT_OK = 2,
    FAX_RESULT_NO_CARRIER = 3,
    FAX_RESULT_ERROR = 4,
    FAX_RESULT_FCERROR = 7,  // a page receiver heard control frames: "+FCERROR"
};

// The class 1 commands that start the engine.
enum FaxCommand : uint8_t {
    FAX_CMD_FTM = 1,
    FAX_CMD_FRM = 2,
    FAX_CMD_FTH = 3,
    FAX_CMD_FRH = 4,
};

constexpr uint8_t FAX_MODULATION_V21 = 3;  // V.21 channel 2, the control frames
constexpr int FAX_RX_FRAMES = 5;

struct FaxClass1Engine {
    uint8_t fax_mode;        // 0 none, 1 class 1, 2 and 20 other fax modes (no engine)
    uint8_t mode;            // FaxEngineMode
    uint8_t sub;             // step within the mode
    uint8_t dte_setup;       // 2 transmit, 3 receive: the fax DTE is set up before the next step
    uint8_t flow_options;    // the fax DTE's flow options (+IFC): input options in bits 0-3, output in 4-7
    uint8_t dte_active;
    uint8_t modulation;      // the command's modulation code
    uint8_t verbose;         // CONNECT as "\r\nCONNECT\r\n", else "1\r"
    uint8_t line_active;     // a fax modulation and the fax line path run
    uint8_t rx_kept;         // the frame receiver runs on between two +FRH commands
    uint8_t adaptive_answer; // +FAA / +FAE
    uint8_t silence_ticks;   // +FTS / +FRS: the wait in 10 ms ticks
    uint8_t silence_listen;  // +FRS is waiting for silence

    // Countdowns in 10 ms ticks.
    uint16_t countdown;
    uint16_t data_timeout;   // 5 s without data from the application
    uint16_t frame_delay;    // the flags before the first frame (1 s)
    uint16_t nul_ticks;      // length of the current run of NUL fill from the application
    uint32_t last_ticks;     // the tick count at the last poll

    uint8_t dle_pending;
    uint8_t data_seen;
    uint8_t nul_run;
    uint8_t final_frame;
    uint8_t carrier_lost;    // carrier losses seen in a row while no frame waits
    uint8_t result;          // the result once the fax DTE has drained

    // Frames: one to send; a ring of received ones filled by the line block's service.
    FaxFrame tx_frame;
    FaxFrame rx_frames[FAX_RX_FRAMES];
    // Frames completed by the line block's service and frames taken by the engine: each written by one side
    // only, read by both through std::atomic_ref (the record is cleared as plain memory with its owner).
    uint32_t rx_written;
    uint32_t rx_read;

    // Page data received: the end-of-line tracking of T.4 (zeros in a row, EOLs in a row, the bit after the
    // last EOL, six EOLs = RTC).
    uint8_t zero_run;
    uint8_t eol_count;
    uint8_t after_eol;       // the next bit follows an EOL
    uint8_t bit_after_eol;
    uint8_t rtc_seen;
    uint8_t filler_sent;
};

// Fax mode and identification.
void fax_engine_init(FaxClass1Engine* e);
void fax_mode_begin(AcuContext* acu, uint8_t fax_mode, uint8_t verbose, uint8_t flow_options);
void fax_mode_end(AcuContext* acu, uint8_t mode);
// Hang-up: fax mode 0, the engine stopped.
void fax_abort(AcuContext* acu);
// A fax call is connected: the caller (1) receives the first frames (+FRH=3), the answerer sends them (+FTH=3).
void fax_call_start(AcuContext* acu, uint8_t originate);
// A class 1 command: 0 the engine runs (the command goes on line), 2 refused (ERROR).
uint8_t fax_command_start(AcuContext* acu, uint8_t command, uint8_t modulation);
// One step of the engine: a FaxResult.
uint8_t fax_poll(AcuContext* acu);

// The engine's own steps (fax_engine_tx.cpp, fax_engine_rx.cpp).
uint8_t fax_tx_data_step(AcuContext* acu);
uint8_t fax_tx_frame_step(AcuContext* acu);
uint8_t fax_rx_data_step(AcuContext* acu);
uint8_t fax_rx_frame_step(AcuContext* acu);
// Writes the text to the application; false while the to-DTE ring has no room for all of it.
bool fax_send_text(AcuContext* acu, const char* text);
bool fax_send_connect(AcuContext* acu);
// Ends the command: transmit hold released, line path and fax DTE stopped, mode 0.
void fax_stop(AcuContext* acu);
// The end of a command with a result, reported once the application has what was sent to it.
uint8_t fax_finish(AcuContext* acu, uint8_t result);
// The data pump's fax carrier (state 8 with the in-data bit).
bool fax_carrier(AcuContext* acu);
// The page receiver heard control-frame flags instead of its carrier.
bool fax_frames_heard(AcuContext* acu);
// A character from the application (not XON or XOFF) that aborts a receive command; taken from the ring.
bool fax_application_abort(AcuContext* acu);
// The receive-record source of the line block.
FaxFrame* fax_rx_buffer_source(void* ctx, FaxFrame* done);
// T.4 end-of-line tracking of one received byte (bits least significant first).
void fax_track_eol(FaxClass1Engine* e, uint8_t byte);
// The filler that completes an RTC of two to five EOLs (0 bytes otherwise): pairs of 0x00 and 0x08 (0x18
// when the bit after the last EOL was set), one pair per EOL missing.
int fax_rtc_filler(const FaxClass1Engine* e, uint8_t out[12]);
