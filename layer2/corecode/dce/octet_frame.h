// Octet-framed MNP: the framing the controller itself puts around a frame when the data pump carries plain
// asynchronous characters. A frame goes out as SYN DLE STX, its octets (a DLE octet doubled), DLE ETX and
// a CRC-16 over the octets and the ETX, low byte first. The receiver finds the start, undoes the doubling
// and checks the CRC.
//
// Transmitter and receiver are small state records driven a chunk or a byte at a time; the line block
// glues them to the register window's chunks and to error control's frame buffers.
#pragma once

#include <cstdint>

constexpr uint8_t OCTET_SYN = 0x16;
constexpr uint8_t OCTET_DLE = 0x10;
constexpr uint8_t OCTET_STX = 0x02;
constexpr uint8_t OCTET_ETX = 0x03;
// Octets a receive buffer takes: 266 frame octets and the closing ETX; beyond that the frame is bad.
constexpr uint16_t OCTET_RX_STORE_MAX = 267;

// CRC-16/ARC: reflected polynomial 0xA001, initial value 0, no final inversion ("123456789" gives 0xBB3D).
uint16_t lb_crc16(uint8_t byte, uint16_t crc);

enum OctetTxState : uint8_t {
    OCTET_TX_START = 0,    // SYN DLE STX next
    OCTET_TX_BODY = 9,     // frame octets
    OCTET_TX_TRAILER = 18, // DLE ETX and the CRC
    OCTET_TX_DONE = 24,    // the frame is out: the next call fetches the next one
};

struct OctetTx {
    const uint8_t* frame;  // null: no frame
    uint16_t length;
    uint16_t sent;         // frame octets written
    uint16_t crc;
    uint8_t state;         // OctetTxState
};

void octet_tx_reset(OctetTx* tx);
// A new frame to send (the previous one is dropped).
void octet_tx_start(OctetTx* tx, const uint8_t* frame, uint16_t length);
// Writes the next piece of the frame into one chunk (at most `room` bytes, room >= 4); returns the bytes
// written. 0 with the state OCTET_TX_DONE: the frame is complete and a new one may start.
uint8_t octet_tx_fill(OctetTx* tx, uint8_t* out, uint8_t room);

enum OctetRxState : uint8_t {
    OCTET_RX_HUNT = 0,
    OCTET_RX_SYN = 3,
    OCTET_RX_DLE = 6,
    OCTET_RX_BODY = 9,
    OCTET_RX_ESCAPE = 18,
    OCTET_RX_CRC1 = 21,
    OCTET_RX_CRC2 = 24,
};

struct OctetRx {
    uint8_t* buffer;       // where the frame octets go (null: none; a frame start is then passed over)
    uint16_t capacity;
    uint16_t length;       // octets stored (the ETX included until the frame ends)
    uint16_t crc;
    uint8_t state;         // OctetRxState
    uint8_t error;         // octets were lost in this frame
    uint32_t lost_frames;  // frames abandoned in the middle
};

void octet_rx_reset(OctetRx* rx);
void octet_rx_set_buffer(OctetRx* rx, uint8_t* buffer, uint16_t capacity);
// Marks the frame being received bad (bytes were lost before this chunk).
void octet_rx_mark_error(OctetRx* rx);

enum OctetRxResult : uint8_t {
    OCTET_RX_MORE = 0,     // nothing complete yet
    OCTET_RX_GOOD = 1,     // a frame is complete in the buffer, `length` octets
    OCTET_RX_BAD = 2,      // a frame ended with a CRC error, too long, or with lost bytes
};

// Takes one received byte.
uint8_t octet_rx_byte(OctetRx* rx, uint8_t c);
