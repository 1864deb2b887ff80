// Octet-framed MNP: the transmitter's chunk filler and the receiver's byte machine.
#include "layer2/corecode/dce/octet_frame.h"

namespace {

constexpr uint16_t kCrcPolynomial = 0xA001;  // x^16 + x^15 + x^2 + 1, reflected
constexpr uint8_t kStartLength = 3;          // SYN DLE STX
constexpr uint8_t kTrailerLength = 4;        // DLE ETX CRC-low CRC-high

void store(OctetRx* rx, uint8_t c)
{
    rx->crc = lb_crc16(c, rx->crc);
    if (rx->length >= OCTET_RX_STORE_MAX || rx->length >= rx->capacity) {
        rx->error = 1;
        return;
    }
    rx->buffer[rx->length++] = c;
}

// A frame broke off in the middle: look for the next start, keeping a SYN that may begin it.
void abandon(OctetRx* rx, uint8_t c)
{
    ++rx->lost_frames;
    rx->state = c == OCTET_SYN ? OCTET_RX_SYN : OCTET_RX_HUNT;
}

uint8_t finish(OctetRx* rx, uint8_t c)
{
    rx->crc = lb_crc16(c, rx->crc);
    rx->state = OCTET_RX_HUNT;
    // The stored ETX is not part of the frame.
    if (rx->length > 0)
        --rx->length;
    const bool bad = rx->crc != 0 || rx->error != 0;
    rx->error = 0;
    return bad ? OCTET_RX_BAD : OCTET_RX_GOOD;
}

}  // namespace

uint16_t lb_crc16(uint8_t byte, uint16_t crc)
{
    crc = static_cast<uint16_t>(crc ^ byte);
    for (int i = 0; i < 8; ++i)
        crc = (crc & 1u) != 0 ? static_cast<uint16_t>((crc >> 1) ^ kCrcPolynomial) : static_cast<uint16_t>(crc >> 1);
    return crc;
}

void octet_tx_reset(OctetTx* tx)
{
    tx->frame = nullptr;
    tx->length = 0;
    tx->sent = 0;
    tx->crc = 0;
    tx->state = OCTET_TX_START;
}

void octet_tx_start(OctetTx* tx, const uint8_t* frame, uint16_t length)
{
    octet_tx_reset(tx);
    tx->frame = frame;
    tx->length = length;
}

uint8_t octet_tx_fill(OctetTx* tx, uint8_t* out, uint8_t room)
{
    if (tx->frame == nullptr || tx->state == OCTET_TX_DONE)
        return 0;
    uint8_t n = 0;
    if (tx->state == OCTET_TX_START) {
        out[n++] = OCTET_SYN;
        out[n++] = OCTET_DLE;
        out[n++] = OCTET_STX;
        tx->crc = 0;
        tx->state = OCTET_TX_BODY;
    }
    while (tx->state == OCTET_TX_BODY && tx->sent < tx->length) {
        const uint8_t c = tx->frame[tx->sent];
        const uint8_t need = c == OCTET_DLE ? 2 : 1;
        if (room - n < need)
            return n;  // a doubled DLE never splits across chunks
        out[n++] = c;
        if (c == OCTET_DLE)
            out[n++] = c;
        tx->crc = lb_crc16(c, tx->crc);
        ++tx->sent;
    }
    if (tx->state == OCTET_TX_BODY)
        tx->state = OCTET_TX_TRAILER;
    if (room - n < kTrailerLength)
        return n;
    tx->crc = lb_crc16(OCTET_ETX, tx->crc);
    out[n++] = OCTET_DLE;
    out[n++] = OCTET_ETX;
    out[n++] = static_cast<uint8_t>(tx->crc);
    out[n++] = static_cast<uint8_t>(tx->crc >> 8);
    tx->state = OCTET_TX_DONE;
    return n;
}

void octet_rx_reset(OctetRx* rx)
{
    rx->state = OCTET_RX_HUNT;
    rx->length = 0;
    rx->crc = 0;
    rx->error = 0;
}

void octet_rx_set_buffer(OctetRx* rx, uint8_t* buffer, uint16_t capacity)
{
    rx->buffer = buffer;
    rx->capacity = buffer != nullptr ? capacity : 0;
    octet_rx_reset(rx);
}

void octet_rx_mark_error(OctetRx* rx) { rx->error = 1; }

uint8_t octet_rx_byte(OctetRx* rx, uint8_t c)
{
    switch (rx->state) {
    case OCTET_RX_HUNT:
        if (c == OCTET_SYN)
            rx->state = OCTET_RX_SYN;
        break;
    case OCTET_RX_SYN:
        if (c == OCTET_DLE)
            rx->state = OCTET_RX_DLE;
        else if (c != OCTET_SYN)
            rx->state = OCTET_RX_HUNT;
        break;
    case OCTET_RX_DLE:
        if (c == OCTET_STX && rx->buffer != nullptr) {
            rx->length = 0;
            rx->crc = 0;
            rx->error = 0;
            rx->state = OCTET_RX_BODY;
        } else {
            rx->state = c == OCTET_SYN ? OCTET_RX_SYN : OCTET_RX_HUNT;
        }
        break;
    case OCTET_RX_BODY:
        if (c == OCTET_DLE)
            rx->state = OCTET_RX_ESCAPE;
        else
            store(rx, c);
        break;
    case OCTET_RX_ESCAPE:
        if (c == OCTET_DLE) {
            store(rx, c);
            rx->state = OCTET_RX_BODY;
        } else if (c == OCTET_ETX) {
            store(rx, c);
            rx->state = OCTET_RX_CRC1;
        } else if (c == OCTET_STX) {
            // DLE STX inside a frame can only be the start of the next one: the broken frame is lost and
            // the new one taken from here.
            ++rx->lost_frames;
            rx->length = 0;
            rx->crc = 0;
            rx->error = 0;
            rx->state = OCTET_RX_BODY;
        } else {
            abandon(rx, c);
        }
        break;
    case OCTET_RX_CRC1:
        rx->crc = lb_crc16(c, rx->crc);
        rx->state = OCTET_RX_CRC2;
        break;
    default:
        return finish(rx, c);
    }
    return OCTET_RX_MORE;
}
