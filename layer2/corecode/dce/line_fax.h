// The line block's fax path: page data as plain bytes through the line rings (the data pump's synchronous
// framing), or fax control frames at 300 bit/s (the data pump's HDLC framing, which passes the two frame-check
// octets of each received frame on, so a received frame carries them at its end).
//
// The fax engine owns the frame records: it hands one transmit frame at a time to the line block and gives it
// receive records through `rx_done`, which the line block calls (from its service) with each completed frame
// and with none when it needs a first or a fresh record.
#pragma once

#include <atomic>
#include <cstdint>

struct LineBlock;

constexpr uint16_t FAX_FRAME_OCTETS = 100;  // frame octets of one record, the two frame-check octets included

// One fax control frame: status (0 good, 1 bad), length, octets.
struct FaxFrame {
    uint8_t status;
    uint16_t length;
    uint8_t data[FAX_FRAME_OCTETS];
};

struct LineFaxOps {
    void* ctx;
    // A completed receive frame (null: none, only a record is wanted); returns the next record or null.
    FaxFrame* (*rx_done)(void* ctx, FaxFrame* done);
};

struct LineFax {
    std::atomic<uint8_t> path;      // the fax path is selected
    std::atomic<uint8_t> hdlc;      // control frames (else page data)
    std::atomic<uint8_t> tx_wait;   // a frame waits for the data pump to ask for data
    LineFaxOps ops;
    // Transmit: the frame handed over and not yet taken, the frame being sent and the octets still to send.
    std::atomic<FaxFrame*> tx_next;
    FaxFrame* tx_frame;
    uint16_t tx_offset;
    std::atomic<uint16_t> tx_left;
    // Receive: the record being filled and its state.
    FaxFrame* rx_frame;
    uint16_t rx_length;
    uint8_t rx_error;
    uint8_t rx_discarding;
    std::atomic<uint16_t> overruns;   // page-data bytes dropped at a full receive ring
    std::atomic<uint32_t> bad_frames; // control frames received bad, aborted or without a record
};

void lb_fax_init(LineFax* f);

// Selects the fax path: 1 control frames (with the receive records from `ops`), anything else page data (both
// line rings emptied). The line block is made active and kicked, and the data pump told the framing.
void lb_fax_set_mode(LineBlock* lb, uint8_t hdlc, const LineFaxOps* ops);
void lb_fax_stop(LineBlock* lb);
// Bytes or a frame still to leave: the transmit ring's count; else 1 while a frame is pending or the data pump
// still sends (its transmit-data-wanted bit clear), else 0.
uint16_t lb_fax_tx_pending(LineBlock* lb);
// The next control frame to send (taken when the data pump asks for data); false while one still waits.
bool lb_fax_tx_frame_set(LineBlock* lb, FaxFrame* frame);
// Whether the frame handed over last has been taken by the transmitter.
bool lb_fax_tx_frame_taken(LineBlock* lb);

// The service's steps on the fax path (line_block.cpp dispatches to them).
void lb_fax_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status);
void lb_fax_transmit(LineBlock* lb);
// Receive statuses the fax path accepts (bit s for status s).
uint16_t lb_fax_statuses(const LineBlock* lb);
