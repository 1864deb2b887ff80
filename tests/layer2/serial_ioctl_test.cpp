// The serial I/O controls through the device: record sizes, buffer checks, values and conversions.
#include <cstring>

#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/port_ops.h"
#include "serial_fixture.h"

namespace {

ULONG u32(const std::vector<uint8_t>& v, size_t off)
{
    ULONG x = 0;
    std::memcpy(&x, v.data() + off, 4);
    return x;
}

class SerialIoctl : public SerialDevice {
protected:
    void SetUp() override
    {
        SerialDevice::SetUp();
        BuildAndOpen();
    }
};

struct InfoCase {
    ULONG code;
    ULONG information;
};

TEST_F(SerialIoctl, GetControlsReturnTheirRecordSizes)
{
    const InfoCase cases[] = {
        {IOCTL_SERIAL_GET_TIMEOUTS, 20}, {IOCTL_SERIAL_GET_LINE_CONTROL, 3}, {IOCTL_SERIAL_GET_CHARS, 6},
        {IOCTL_SERIAL_GET_HANDFLOW, 16}, {IOCTL_SERIAL_GET_COMMSTATUS, 20},  {IOCTL_SERIAL_GET_PROPERTIES, 64},
        {IOCTL_SERIAL_GET_STATS, 24},    {IOCTL_SERIAL_CONFIG_SIZE, 4},      {IOCTL_SERIAL_GET_DTRRTS, 4},
        {IOCTL_SERIAL_GET_WAIT_MASK, 4}, {IOCTL_SERIAL_GET_BAUD_RATE, 4},    {IOCTL_SERIAL_GET_MODEMSTATUS, 4},
    };
    for (const InfoCase& c : cases) {
        SCOPED_TRACE(c.code);
        ULONG_PTR info = 99;
        // An oversized output buffer is fine; the information is the record's size.
        EXPECT_EQ(Ioctl(c.code, nullptr, 0, c.information + 16, nullptr, &info), STATUS_SUCCESS);
        EXPECT_EQ(info, c.information);
        // One byte short: refused, nothing returned.
        EXPECT_EQ(Ioctl(c.code, nullptr, 0, c.information - 1, nullptr, &info), STATUS_BUFFER_TOO_SMALL);
        EXPECT_EQ(info, 0u);
    }
}

TEST_F(SerialIoctl, SetControlsCheckTheirInputLength)
{
    const InfoCase cases[] = {
        {IOCTL_SERIAL_SET_BAUD_RATE, 4}, {IOCTL_SERIAL_SET_QUEUE_SIZE, 8}, {IOCTL_SERIAL_SET_LINE_CONTROL, 3},
        {IOCTL_SERIAL_SET_TIMEOUTS, 20}, {IOCTL_SERIAL_SET_CHARS, 6},      {IOCTL_SERIAL_SET_HANDFLOW, 16},
        {IOCTL_SERIAL_SET_WAIT_MASK, 4}, {IOCTL_SERIAL_PURGE, 4},          {IOCTL_SERIAL_IMMEDIATE_CHAR, 1},
        {IOCTL_SERIAL_LSRMST_INSERT, 1},
    };
    uint8_t zeros[32] = {};
    for (const InfoCase& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(Ioctl(c.code, zeros, c.information - 1, 0), STATUS_BUFFER_TOO_SMALL);
    }
    ULONG_PTR info = 0;
    EXPECT_EQ(Ioctl(IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 3, nullptr, &info), STATUS_BUFFER_TOO_SMALL);
}

TEST_F(SerialIoctl, ConfigSizeIsZeroAndNoOpsSucceed)
{
    std::vector<uint8_t> out;
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_CONFIG_SIZE, nullptr, 0, 4, &out), STATUS_SUCCESS);
    EXPECT_EQ(u32(out, 0), 0u);
    EXPECT_EQ(Ioctl(IOCTL_SERIAL_RESET_DEVICE, nullptr, 0, 0), STATUS_SUCCESS);
    EXPECT_EQ(Ioctl(IOCTL_SERIAL_XOFF_COUNTER, nullptr, 0, 0), STATUS_SUCCESS);
}

TEST_F(SerialIoctl, UnlistedControlsArePassedDown)
{
    // The fake pump refuses device controls, so a passed-down code comes back with its status.
    EXPECT_EQ(Ioctl(SERIAL_CTL(33), nullptr, 0, 0), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(Ioctl(CTL_CODE(FILE_DEVICE_MODEM, 1, METHOD_BUFFERED, FILE_ANY_ACCESS), nullptr, 0, 0),
              STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(SerialIoctl, BaudRateGoesThroughTheRateMap)
{
    struct Case {
        ULONG requested;
        ULONG stored;
    };
    const Case cases[] = {
        {1, 38400},      {0, 38400},      {110, 300},      {300, 300},      {600, 600},      {7200, 7200},
        {36000, 36000},  {56000, 57600},  {57600, 57600},  {65311, 57600},  {65315, 115200}, {115200, 115200},
        {65296, 300},    {65297, 300},    {65298, 600},    {65299, 1200},   {65300, 2400},   {65301, 4800},
        {65302, 9600},   {65303, 14400},  {65304, 19200},  {230400, 38400}, {38400, 38400},  {50, 38400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        ASSERT_EQ(IoctlUlong(IOCTL_SERIAL_SET_BAUD_RATE, c.requested), STATUS_SUCCESS);
        std::vector<uint8_t> out;
        ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_BAUD_RATE, nullptr, 0, 4, &out), STATUS_SUCCESS);
        EXPECT_EQ(u32(out, 0), c.stored);
        EXPECT_EQ(dte_get_baud_rate(&Ext()->dte), c.stored);
    }
}

TEST_F(SerialIoctl, LineControlAppliesWordLengthParityAndStopBits)
{
    const uint8_t lc[3] = {2, 1, 7};  // stop code 2, odd parity, 7 bits
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_SET_LINE_CONTROL, lc, 3, 0), STATUS_SUCCESS);
    std::vector<uint8_t> out;
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_LINE_CONTROL, nullptr, 0, 3, &out), STATUS_SUCCESS);
    EXPECT_EQ(out, (std::vector<uint8_t>{2, 1, 7}));
    DteLineState* line = dte_get_line_state(&Ext()->dte);
    EXPECT_EQ(line->parity, 1);
    EXPECT_EQ(line->data_bits, 7);
    EXPECT_EQ(line->stop_bits, 2);

    // Validation order: stop bits, parity, byte size; an invalid value is refused.
    const uint8_t bad_stop[3] = {3, 0, 8};
    const uint8_t bad_parity[3] = {0, 5, 8};
    const uint8_t bad_size[3] = {0, 2, 4};
    EXPECT_EQ(Ioctl(IOCTL_SERIAL_SET_LINE_CONTROL, bad_stop, 3, 0), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Ioctl(IOCTL_SERIAL_SET_LINE_CONTROL, bad_parity, 3, 0), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Ioctl(IOCTL_SERIAL_SET_LINE_CONTROL, bad_size, 3, 0), STATUS_INVALID_PARAMETER);
    // The size-4 request had already applied its stop bits and parity.
    EXPECT_EQ(line->stop_bits, 0);
    EXPECT_EQ(line->parity, 2);
    EXPECT_EQ(line->data_bits, 7);
    int32_t last = 0;
    ASSERT_TRUE(port_get_error(&Ext()->port_record, &last));
    EXPECT_EQ(last, PORT_ERR_BYTE_SIZE);
}

TEST_F(SerialIoctl, SetStateErrorCodes)
{
    PortRecord* port = &Ext()->port_record;
    struct Case {
        uint8_t stop, parity, size;
        int32_t error;
    };
    const Case cases[] = {{3, 0, 8, PORT_ERR_BAD_STATE}, {0, 5, 8, PORT_ERR_BAD_STATE}, {0, 0, 4, PORT_ERR_BYTE_SIZE},
                          {0, 0, 9, PORT_ERR_BYTE_SIZE}};
    for (const Case& c : cases) {
        PortCommState s = port->state;
        s.stop_bits = c.stop;
        s.parity = c.parity;
        s.byte_size = c.size;
        EXPECT_FALSE(port_set_comm_state(port, &s, PCS_SET_STOP_BITS | PCS_SET_PARITY | PCS_SET_BYTE_SIZE));
        EXPECT_EQ(port->last_error.load(), c.error);
    }
    EXPECT_FALSE(port_set_comm_state(port, nullptr, PORT_MAXDWORD));
    EXPECT_EQ(port->last_error.load(), PORT_ERR_BAD_ARG);
}

TEST_F(SerialIoctl, CharsRoundTripWithBreakCharacterZero)
{
    const uint8_t chars[6] = {0x1A, 0x3F, 0x55, 0x0D, 0x11, 0x13};
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_SET_CHARS, chars, 6, 0), STATUS_SUCCESS);
    std::vector<uint8_t> out;
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_CHARS, nullptr, 0, 6, &out), STATUS_SUCCESS);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x1A, 0x3F, 0x00, 0x0D, 0x11, 0x13}));
}

TEST_F(SerialIoctl, TimeoutsRoundTrip)
{
    SetTimeouts(1, 2, 3, 4, 5);
    std::vector<uint8_t> out;
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_TIMEOUTS, nullptr, 0, 20, &out), STATUS_SUCCESS);
    for (ULONG i = 0; i < 5; i++)
        EXPECT_EQ(u32(out, 4 * i), i + 1);
}

TEST_F(SerialIoctl, HandflowRoundTripKeepsWhatTheDcbCannotCarry)
{
    struct Case {
        ULONG control, flow, xon, xoff;
    };
    const Case cases[] = {
        {SERIAL_DTR_CONTROL | SERIAL_CTS_HANDSHAKE, SERIAL_RTS_CONTROL, 10, 20},
        {SERIAL_DTR_HANDSHAKE | SERIAL_DSR_HANDSHAKE | SERIAL_DSR_SENSITIVITY | SERIAL_DCD_HANDSHAKE,
         SERIAL_RTS_HANDSHAKE | SERIAL_AUTO_TRANSMIT | SERIAL_AUTO_RECEIVE, 512, 1024},
        {SERIAL_DTR_CONTROL | SERIAL_ERROR_ABORT,
         SERIAL_TRANSMIT_TOGGLE | SERIAL_ERROR_CHAR | SERIAL_NULL_STRIPPING | SERIAL_BREAK_CHAR | SERIAL_XOFF_CONTINUE,
         0, 65535},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        ULONG in[4] = {c.control, c.flow, c.xon, c.xoff};
        ASSERT_EQ(Ioctl(IOCTL_SERIAL_SET_HANDFLOW, in, 16, 0), STATUS_SUCCESS);
        std::vector<uint8_t> out;
        ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_HANDFLOW, nullptr, 0, 16, &out), STATUS_SUCCESS);
        EXPECT_EQ(u32(out, 0), c.control);
        EXPECT_EQ(u32(out, 4), c.flow);
        EXPECT_EQ(u32(out, 8), c.xon);
        EXPECT_EQ(u32(out, 12), c.xoff);
    }
}

TEST_F(SerialIoctl, DcbRoundTrip)
{
    struct Case {
        uint32_t handshake;
        uint8_t dtr, rts;
    };
    const Case cases[] = {
        {PCS_DTR_DISABLED | PCS_RTS_DISABLED, 0, 0},
        {PCS_DTR_ENABLED | PCS_RTS_ENABLED | PCS_BINARY, 1, 1},
        {PCS_DTR_HANDSHAKE | PCS_RTS_HANDSHAKE | PCS_CTS_OUT_FLOW | PCS_DSR_OUT_FLOW, 2, 2},
        {PCS_DTR_ENABLED | PCS_RTS_TOGGLE | PCS_XON_XOFF_OUT | PCS_XON_XOFF_IN | PCS_ERROR_CHAR | PCS_NULL_DISCARD |
             PCS_DSR_SENSITIVITY | PCS_TX_CONTINUE_ON_XOFF | PCS_ABORT_ON_ERROR | PCS_PARITY_CHECK,
         1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.handshake);
        PortCommState s;
        port_comm_state_defaults(&s);
        s.handshake = c.handshake;
        s.baud = 9600;
        s.xon_limit = 100;
        s.xoff_limit = 200;
        s.byte_size = 7;
        s.parity = 2;
        s.stop_bits = 1;
        s.error_char = '?';
        s.event_char1 = 'E';
        s.event_char2 = 'F';
        s.dcd_timeout = 5;
        CommDcb dcb;
        port_state_to_dcb(&s, &dcb);
        EXPECT_EQ(dcb.length, 28u);
        EXPECT_EQ(dcb.f_dtr_control, c.dtr);
        EXPECT_EQ(dcb.f_rts_control, c.rts);
        uint8_t image[COMM_DCB_SIZE];
        port_dcb_pack(&dcb, image);
        CommDcb back_dcb;
        port_dcb_unpack(image, &back_dcb);
        PortCommState back;
        port_comm_state_defaults(&back);
        port_dcb_to_state(&back_dcb, &back);
        EXPECT_EQ(back.handshake, c.handshake);
        EXPECT_EQ(back.baud, 9600u);
        EXPECT_EQ(back.xon_limit, 100u);
        EXPECT_EQ(back.xoff_limit, 200u);
        EXPECT_EQ(back.byte_size, 7);
        EXPECT_EQ(back.parity, 2);
        EXPECT_EQ(back.stop_bits, 1);
        EXPECT_EQ(back.error_char, '?');
        EXPECT_EQ(back.event_char1, 'E');
        EXPECT_EQ(back.event_char2, 0);  // the DCB has one event character
        EXPECT_EQ(back.dcd_timeout, 0u);
    }
}

TEST_F(SerialIoctl, CommConfigNeedsFortyEightBytes)
{
    PortRecord* port = &Ext()->port_record;
    uint8_t buffer[64];
    uint32_t size = 47;
    EXPECT_FALSE(port_get_comm_config(port, buffer, &size));
    EXPECT_EQ(size, 48u);
    EXPECT_EQ(port->last_error.load(), PORT_ERR_BAD_ARG);
    size = 64;
    ASSERT_TRUE(port_get_comm_config(port, buffer, &size));
    EXPECT_EQ(size, 48u);
    uint32_t length;
    std::memcpy(&length, buffer, 4);
    EXPECT_EQ(length, 48u);
    EXPECT_EQ(buffer[4] | (buffer[5] << 8), 0x100);
    // Setting it back is accepted; a short one is refused.
    EXPECT_TRUE(port_set_comm_config(port, buffer, 48));
    EXPECT_FALSE(port_set_comm_config(port, buffer, 47));
}

TEST_F(SerialIoctl, PropertiesValues)
{
    std::vector<uint8_t> out;
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_PROPERTIES, nullptr, 0, 64, &out), STATUS_SUCCESS);
    ASSERT_EQ(out.size(), 64u);
    auto u16 = [&](size_t off) { return static_cast<ULONG>(out[off] | (out[off + 1] << 8)); };
    EXPECT_EQ(u16(0), 64u);
    EXPECT_EQ(u16(2), 2u);
    EXPECT_EQ(u32(out, 4), 1u);
    EXPECT_EQ(u32(out, 12), 0u);
    EXPECT_EQ(u32(out, 16), 0u);
    EXPECT_EQ(u32(out, 20), 0x10000000u);
    EXPECT_EQ(u32(out, 24), 1u);
    EXPECT_EQ(u32(out, 28), 255u);
    EXPECT_EQ(u32(out, 32), 127u);
    EXPECT_EQ(u32(out, 36), 0x1001FFFFu);
    EXPECT_EQ(u16(40), 15u);
    EXPECT_EQ(u16(42), 0x1F07u);
    EXPECT_EQ(u32(out, 44), 1024u);  // transmit queue set at open
    EXPECT_EQ(u32(out, 48), 4096u);
    EXPECT_EQ(u32(out, 52), 10u);
    EXPECT_EQ(u32(out, 56), 11997u);
    EXPECT_EQ(u16(60), 0u);
}

TEST_F(SerialIoctl, RepeatedQueueSizesDoNotLeak)
{
    const ULONG tag = POOL_TAG('W', 'd', 'm', ' ');
    int64_t before = machine_->LiveBlocks(tag);
    for (int i = 0; i < 25; i++) {
        ULONG sizes[2] = {8192u + 16u * static_cast<ULONG>(i), 6000};
        ASSERT_EQ(Ioctl(IOCTL_SERIAL_SET_QUEUE_SIZE, sizes, 8, 0), STATUS_SUCCESS);
    }
    EXPECT_EQ(machine_->LiveBlocks(tag), before + 2);
    ULONG small[2] = {100, 100};
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_SET_QUEUE_SIZE, small, 8, 0), STATUS_SUCCESS);
    EXPECT_EQ(machine_->LiveBlocks(tag), before);
    // Receive flow threshold of a 4096-byte queue.
    ULONG standard[2] = {4096, 1024};
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_SET_QUEUE_SIZE, standard, 8, 0), STATUS_SUCCESS);
    EXPECT_EQ(Ext()->port_record.rx_flow_threshold, 3328u);
}

TEST_F(SerialIoctl, FailedQueueAllocationKeepsTheOldQueues)
{
    machine_->FailAllocation(1);
    ULONG sizes[2] = {65536, 1024};
    EXPECT_EQ(Ioctl(IOCTL_SERIAL_SET_QUEUE_SIZE, sizes, 8, 0), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Ext()->dte.app.rx_size, 4096u);
    EXPECT_EQ(dte_app_tx_put(&Ext()->dte, 'x'), 0);
}

TEST_F(SerialIoctl, PurgeRejectsBadMasksAndEmptiesTheQueues)
{
    for (ULONG bad : {0u, 16u, 0xFFFFFFFFu})
        EXPECT_EQ(IoctlUlong(IOCTL_SERIAL_PURGE, bad), STATUS_INVALID_PARAMETER) << bad;
    DteContext* d = &Ext()->dte;
    for (int i = 0; i < 10; i++) {
        dte_app_rx_put(d, 'a');
        dte_app_tx_put(d, 'b');
    }
    ASSERT_EQ(IoctlUlong(IOCTL_SERIAL_PURGE, SERIAL_PURGE_RXCLEAR), STATUS_SUCCESS);
    EXPECT_EQ(dte_app_rx_count(d), 0u);
    EXPECT_EQ(dte_app_tx_count(d), 10u);
    ASSERT_EQ(IoctlUlong(IOCTL_SERIAL_PURGE, SERIAL_PURGE_TXCLEAR), STATUS_SUCCESS);
    EXPECT_EQ(dte_app_tx_count(d), 0u);
}

TEST_F(SerialIoctl, DtrRtsAndModemStatusFollowTheLines)
{
    std::vector<uint8_t> out;
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_DTRRTS, nullptr, 0, 4, &out), STATUS_SUCCESS);
    EXPECT_EQ(u32(out, 0), 3u);  // raised at open
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_CLR_DTR, nullptr, 0, 0), STATUS_SUCCESS);
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_DTRRTS, nullptr, 0, 4, &out), STATUS_SUCCESS);
    EXPECT_EQ(u32(out, 0), 2u);
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_CLR_RTS, nullptr, 0, 0), STATUS_SUCCESS);
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_SET_DTR, nullptr, 0, 0), STATUS_SUCCESS);
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_DTRRTS, nullptr, 0, 4, &out), STATUS_SUCCESS);
    EXPECT_EQ(u32(out, 0), 1u);

    DteContext* d = &Ext()->dte;
    dte_raise_dcd(d);
    dte_raise_dsr(d);
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_MODEMSTATUS, nullptr, 0, 4, &out), STATUS_SUCCESS);
    EXPECT_EQ(u32(out, 0), ULONG{MSR_DCD | MSR_DSR});
}

TEST_F(SerialIoctl, CommStatusReportsErrorsOnceAndQueueCounts)
{
    DteContext* d = &Ext()->dte;
    dte_app_rx_put(d, 'a');
    dte_app_rx_put(d, 'b');
    dte_app_tx_put(d, 'c');
    Ext()->port_record.error_word |= COMM_ERROR_OVERRUN;
    std::vector<uint8_t> out;
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_COMMSTATUS, nullptr, 0, 20, &out), STATUS_SUCCESS);
    EXPECT_EQ(u32(out, 0), COMM_ERROR_OVERRUN);
    EXPECT_EQ(u32(out, 8), 2u);
    EXPECT_EQ(u32(out, 12), 1u);
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_COMMSTATUS, nullptr, 0, 20, &out), STATUS_SUCCESS);
    EXPECT_EQ(u32(out, 0), 0u);
}

TEST_F(SerialIoctl, StatsCountAndClear)
{
    DteContext* d = &Ext()->dte;
    for (int i = 0; i < 5; i++)
        dte_app_rx_put(d, 'a');
    for (int i = 0; i < 3; i++)
        dte_app_tx_put(d, 'b');
    dte_app_tx_get(d);
    std::vector<uint8_t> out;
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_STATS, nullptr, 0, 24, &out), STATUS_SUCCESS);
    EXPECT_EQ(u32(out, 0), 5u);
    EXPECT_EQ(u32(out, 4), 1u);
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_CLEAR_STATS, nullptr, 0, 0), STATUS_SUCCESS);
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_GET_STATS, nullptr, 0, 24, &out), STATUS_SUCCESS);
    EXPECT_EQ(u32(out, 0), 0u);
    EXPECT_EQ(u32(out, 4), 0u);
}

TEST_F(SerialIoctl, EscapeFunctions)
{
    PortRecord* port = &Ext()->port_record;
    uintptr_t out = 0;
    EXPECT_TRUE(port_escape(port, 9, 0, &out));
    EXPECT_EQ(out, 127u);
    EXPECT_TRUE(port_escape(port, 14, 0, &out));
    EXPECT_EQ(out, reinterpret_cast<uintptr_t>(port));
    EXPECT_FALSE(port_escape(port, 200, 0, &out));  // nothing waiting
    dte_app_rx_put(&Ext()->dte, 'Q');
    EXPECT_TRUE(port_escape(port, 200, 0, &out));
    EXPECT_EQ(out, 'Q');
    EXPECT_EQ(dte_app_rx_count(&Ext()->dte), 1u);  // peeked, not taken
    for (uint32_t f : {0u, 7u, 15u})
        EXPECT_TRUE(port_escape(port, f, 0, &out)) << f;
    port->last_error = 0;
    EXPECT_TRUE(port_escape(port, 704427, 0, &out));
    EXPECT_EQ(port->last_error.load(), PORT_ERR_ESCAPE);
    for (uint32_t f : {8u, 10u, 11u, 17u, 22u, 199u, 201u, 0xFFFFFFFFu}) {
        port->last_error = 0;
        EXPECT_FALSE(port_escape(port, f, 0, &out)) << f;
        EXPECT_EQ(port->last_error.load(), PORT_ERR_ESCAPE);
    }
    EXPECT_FALSE(port_escape(nullptr, 9, 0, &out));
}

TEST_F(SerialIoctl, ImmediateCharacterWaitsWhenRefused)
{
    PortRecord* port = &Ext()->port_record;
    // While clamped the character goes to the command input.
    EXPECT_TRUE(port_transmit_char(port, 'A'));
    EXPECT_EQ(dte_cmd_in_get(&Ext()->dte), 'A');
    // Fill the command input ring so the next one is refused and kept.
    for (int i = 0; i < DTE_CMD_RING_SIZE; i++)
        dte_cmd_in_put(&Ext()->dte, 'x');
    EXPECT_TRUE(port_transmit_char(port, 'B'));
    EXPECT_FALSE(port_transmit_char(port, 'C'));
    EXPECT_EQ(port->last_error.load(), PORT_ERR_CHAR_WAITING);
}

}  // namespace
