// The DTE side of the port: parity, rings, line state, watermark flow control, sniffing.
#include "layer2/corecode/dce/data_link.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/port_ops.h"
#include "serial_fixture.h"

namespace {

class SerialDte : public SerialDevice {
protected:
    void SetUp() override
    {
        SerialDevice::SetUp();
        BuildAndOpen();
    }
    DteContext* Dte() { return &Ext()->dte; }
    void DataMode(uint8_t in_options, uint8_t out_options)
    {
        uint8_t params[12] = {0, 0, 0, in_options, 0x11, 0x13, out_options, 0x11, 0x13, 0, '+', 50};
        dte_data_mode_start(Dte(), params);
        dte_clamp_off(Dte());
    }
};

TEST_F(SerialDte, SevenBitParityIsRecomputedForTheLine)
{
    struct Case {
        uint8_t parity;
        uint8_t in;
        uint8_t out;
    };
    const Case cases[] = {
        {1, 0x41, 0xC1}, {1, 0x43, 0x43}, {1, 0xC3, 0x43}, {2, 0x41, 0x41}, {2, 0x43, 0xC3},
        {3, 0x41, 0xC1}, {3, 0x43, 0xC3}, {4, 0xC1, 0x41}, {0, 0xC1, 0xC1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.parity) << " " << int(c.in));
        dte_set_data_bits(Dte(), 7);
        dte_set_parity(Dte(), c.parity);
        DataMode(0, 0);
        ASSERT_EQ(dte_rx_char(Dte(), c.in), 0);
        EXPECT_EQ(dte_from_char(Dte()), c.out);
    }
    // Eight data bits pass the byte unchanged.
    dte_set_data_bits(Dte(), 8);
    dte_set_parity(Dte(), 1);
    DataMode(0, 0);
    dte_rx_char(Dte(), 0x41);
    EXPECT_EQ(dte_from_char(Dte()), 0x41);
}

TEST_F(SerialDte, CommandOutputHolds2047Characters)
{
    Dte()->cmd_out_held = 1;  // keep the flush from moving them out
    EXPECT_EQ(dte_cmd_out_free(Dte()), 2047);
    for (int i = 0; i < 3000; i++)
        dte_cmd_out_put(Dte(), 'r');
    EXPECT_EQ(dte_cmd_out_free(Dte()), 0);  // full: no room, never a wrapped count
    Dte()->cmd_out_held = 0;
    // Released, the flush delivers into the application receive queue as room allows.
    dte_cmd_out_flush(Dte());
    EXPECT_EQ(dte_app_rx_count(Dte()), 2048u);
    EXPECT_EQ(dte_cmd_out_pending(Dte()), 0);
}

TEST_F(SerialDte, PortStateResetDefaults)
{
    dte_set_baud_rate(Dte(), 9600);
    dte_set_data_bits(Dte(), 7);
    dte_set_parity(Dte(), 2);
    dte_set_stop_bits(Dte(), 1);
    dte_raise_dsr(Dte());
    dte_raise_cts(Dte());
    dte_raise_dcd(Dte());
    dte_raise_ri(Dte());
    dte_app_rx_put(Dte(), 'x');
    dte_port_state_reset(Dte());
    DteLineState* l = dte_get_line_state(Dte());
    EXPECT_EQ(l->data_bits, 8);
    EXPECT_EQ(l->stop_bits, 0);
    EXPECT_EQ(l->parity, 0);
    EXPECT_EQ(l->baud_rate, 14400u);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(dte_get_signal(Dte(), i), 0) << i;
    EXPECT_EQ(dte_get_signal(Dte(), 8), 0);
    EXPECT_EQ(dte_get_signal(Dte(), -1), 0);
    EXPECT_EQ(dte_app_rx_count(Dte()), 0u);
    // Out-of-range codes are ignored.
    dte_set_stop_bits(Dte(), 3);
    dte_set_parity(Dte(), 5);
    EXPECT_EQ(l->stop_bits, 0);
    EXPECT_EQ(l->parity, 0);
}

TEST_F(SerialDte, FromDteWatermarksDriveCtsAndXonXoff)
{
    DataMode(0, 3);  // CTS and XON/XOFF towards the application
    for (int i = 0; i < 895; i++)
        ASSERT_EQ(dte_rx_char(Dte(), 'd'), 0);
    EXPECT_EQ(Dte()->line.cts.load(), 0);  // never raised in this test
    dte_raise_cts(Dte());
    EXPECT_EQ(Dte()->flow.flow_off_asserted.load(), 0);
    ASSERT_EQ(dte_rx_char(Dte(), 'd'), 0);  // the 896th
    EXPECT_EQ(Dte()->flow.flow_off_asserted.load(), 1);
    EXPECT_EQ(Dte()->line.cts.load(), 0);
    ASSERT_EQ(dte_app_rx_count(Dte()), 1u);
    EXPECT_EQ(dte_app_rx_get(Dte()), 0x13);
    // Taking bytes down to 256 releases it.
    while (dte_from_count(Dte()) > 257)
        dte_from_char(Dte());
    EXPECT_EQ(Dte()->flow.flow_off_asserted.load(), 1);
    dte_from_char(Dte());
    EXPECT_EQ(Dte()->flow.flow_off_asserted.load(), 0);
    EXPECT_EQ(Dte()->line.cts.load(), 1);
    ASSERT_EQ(dte_app_rx_count(Dte()), 1u);
    EXPECT_EQ(dte_app_rx_get(Dte()), 0x11);
}

TEST_F(SerialDte, FullFromDteRingKeepsTheByteWithTheApplication)
{
    DataMode(0, 0);
    for (int i = 0; i < DTE_DATA_RING_SIZE; i++)
        ASSERT_EQ(dte_rx_char(Dte(), 'f'), 0);
    EXPECT_EQ(dte_rx_char(Dte(), 'g'), 1);
    EXPECT_EQ(dte_from_free(Dte()), 0);
    dte_from_clear(Dte());
    EXPECT_EQ(Dte()->tx_discards.load(), 1024u);
    EXPECT_EQ(dte_from_count(Dte()), 0);
}

TEST_F(SerialDte, ToDteRingDropsWhenFullAndClearCountsDiscards)
{
    DataMode(0, 0);
    Dte()->flow.output_held = 1;
    for (int i = 0; i < 1100; i++)
        dte_to_put(Dte(), static_cast<uint8_t>(i));
    EXPECT_EQ(dte_to_count(Dte()), 1024);
    dte_to_clear(Dte());
    EXPECT_EQ(Dte()->rx_discards.load(), 1024u);
}

TEST_F(SerialDte, EscapeCountingAndSniffRing)
{
    DataMode(0, 0);
    for (char c : std::string("a+b++"))
        dte_rx_char(Dte(), static_cast<uint8_t>(c));
    EXPECT_EQ(Dte()->flow.escape_count, 2);
    dte_rx_char(Dte(), '+');
    EXPECT_EQ(Dte()->flow.escape_count, 3);
    EXPECT_EQ(Dte()->sniffing.load(), 1);
    EXPECT_EQ(dte_sniff_count(Dte()), 0);
    dte_rx_char(Dte(), '+');
    dte_rx_char(Dte(), '+');
    EXPECT_EQ(Dte()->flow.escape_count, 4);
    dte_rx_char(Dte(), 'A');
    EXPECT_EQ(Dte()->flow.escape_count, 0);
    // The sniff ring keeps the last 44 characters and never hands one out twice.
    dte_sniff_clear(Dte());
    for (int i = 0; i < 50; i++)
        dte_sniff_put(Dte(), static_cast<uint8_t>(i));
    ASSERT_EQ(dte_sniff_count(Dte()), 44);
    for (int i = 6; i < 50; i++)
        EXPECT_EQ(dte_sniff_get(Dte()), i);
    EXPECT_EQ(dte_sniff_count(Dte()), 0);
}

TEST_F(SerialDte, LeadingGuardAfterFiftySteps)
{
    DataMode(0, 0);  // guard time 50 (20 ms steps)
    for (int tick = 0; tick < 99; tick++)
        dte_periodic_tick(Dte());
    EXPECT_EQ(Dte()->flow.leading_guard, 0);
    dte_periodic_tick(Dte());
    EXPECT_EQ(Dte()->flow.leading_guard, 1);
    EXPECT_EQ(Dte()->flow.guard_countdown, 0);
}

TEST_F(SerialDte, ItfQueryValues)
{
    DataMode(0, 0);
    for (int i = 0; i < 10; i++)
        dte_rx_char(Dte(), 'i');
    uint16_t v[8];
    dte_itf_query(Dte(), &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]);
    EXPECT_EQ(std::vector<uint16_t>(v, v + 8), (std::vector<uint16_t>{1024, 896, 256, 614, 819, 204, 409, 10}));
}

TEST_F(SerialDte, ReceiveFilterAndOverrun)
{
    PortRecord* p = &Ext()->port_record;
    p->state.handshake &= ~PCS_BINARY;
    p->state.event_char1 = '!';
    uint32_t events = 0;
    ASSERT_TRUE(port_set_event_mask(p, 0xFFFF, &events));
    dte_app_rx_put(Dte(), '!');
    EXPECT_EQ(events & (SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG), uint32_t{SERIAL_EV_RXCHAR | SERIAL_EV_RXFLAG});
    dte_app_rx_put(Dte(), 26);  // end of file outside binary mode
    dte_app_rx_put(Dte(), 'z');
    EXPECT_EQ(dte_app_rx_count(Dte()), 1u);
    EXPECT_TRUE(p->error_word.load() & COMM_ERROR_OVERRUN);
    // A full receive queue refuses with an overrun and a line-error event.
    p->eof_seen = 0;
    p->error_word = 0;
    p->state.handshake |= PCS_BINARY;
    while (dte_app_rx_count(Dte()) < Dte()->app.rx_size)
        ASSERT_EQ(dte_app_rx_put(Dte(), 'q'), 0);
    events = 0;
    EXPECT_EQ(dte_app_rx_put(Dte(), 'q'), 1);
    EXPECT_TRUE(p->error_word.load() & COMM_ERROR_OVERRUN);
    EXPECT_TRUE(events & SERIAL_EV_ERR);
}

TEST_F(SerialDte, ClampRoutesApplicationBytesToTheCommandInput)
{
    EXPECT_EQ(Dte()->flow.clamp.load(), 1);
    dte_app_tx_put(Dte(), 'A');
    dte_app_tx_put(Dte(), 'T');
    EXPECT_EQ(dte_cmd_in_count(Dte()), 2);
    EXPECT_EQ(dte_app_tx_count(Dte()), 0u);
    dte_clamp_release(Dte());
    EXPECT_EQ(Dte()->mode.load(), DTE_MODE_DATA);
    dte_app_tx_put(Dte(), 'x');
    mc_rx_int(Dte());
    EXPECT_EQ(dte_from_count(Dte()), 1);
    EXPECT_EQ(dte_cmd_in_count(Dte()), 2);
    dte_to_command_mode(Dte());
    EXPECT_EQ(Dte()->mode.load(), DTE_MODE_COMMAND);
    EXPECT_EQ(dte_from_count(Dte()), 0);
    EXPECT_EQ(dte_cmd_in_count(Dte()), 0);
}

TEST_F(SerialDte, QueuedBreakFollowsTheBytesBeforeIt)
{
    DataMode(0, 0);
    PortRecord* p = &Ext()->port_record;
    uint32_t events = 0;
    ASSERT_TRUE(port_set_event_mask(p, 0xFFFF, &events));
    Dte()->flow.output_held = 1;
    for (char c : std::string("abc"))
        dte_to_put(Dte(), static_cast<uint8_t>(c));
    dte_to_break(Dte(), 3);
    for (char c : std::string("def"))
        dte_to_put(Dte(), static_cast<uint8_t>(c));
    Dte()->flow.output_held = 0;
    dte_to_drain(Dte());
    EXPECT_EQ(dte_app_rx_count(Dte()), 3u);
    EXPECT_EQ(dte_get_signal(Dte(), 7), 1);  // break towards the application
    for (uint16_t t = 1; t < DTE_BREAK_TICKS; t++)
        dte_break_tick(Dte());
    EXPECT_EQ(dte_get_signal(Dte(), 7), 1);
    dte_break_tick(Dte());  // the break ends and output resumes
    EXPECT_EQ(dte_get_signal(Dte(), 7), 0);
    std::string got;
    while (dte_app_rx_count(Dte()) != 0)
        got.push_back(static_cast<char>(dte_app_rx_get(Dte())));
    EXPECT_EQ(got, std::string("abc\0def", 7));
    EXPECT_TRUE(p->error_word.load() & COMM_ERROR_BREAK);
    EXPECT_EQ(events & 0xC0u, 0xC0u);
}

TEST_F(SerialDte, DestructiveBreakEmptiesAndCountsBothRings)
{
    DataMode(0, 0);
    Dte()->flow.output_held = 1;
    for (int i = 0; i < 5; i++) {
        dte_to_put(Dte(), 'x');
        dte_rx_char(Dte(), 'y');
    }
    dte_to_break(Dte(), 1);
    EXPECT_EQ(dte_to_count(Dte()), 0);
    EXPECT_EQ(dte_from_count(Dte()), 0);
    EXPECT_EQ(Dte()->rx_discards.load(), 5u);
    EXPECT_EQ(Dte()->tx_discards.load(), 5u);
    EXPECT_EQ(dte_get_signal(Dte(), 7), 1);
    dte_to_break(Dte(), 2);  // ignored while one is signalled
    for (uint16_t t = 0; t < DTE_BREAK_TICKS; t++)
        dte_break_tick(Dte());
    EXPECT_EQ(dte_get_signal(Dte(), 7), 0);
}

TEST_F(SerialDte, DataLinkAndStandInsKeepTheirContract)
{
    EXPECT_EQ(ec_poll(Dte()), 1);
    const DataLinkStart start{};
    ec_start(Dte(), &start);
    EXPECT_EQ(ec_poll(Dte()), 5) << "without error control bound, a started link runs buffered mode";
    ec_stop(Dte());
    EXPECT_EQ(ec_poll(Dte()), 1);
    EXPECT_NE(voice_ring_allowed(Dte()), 0);
    EXPECT_EQ(ec_hook_false(), 0);
    struct Case {
        int (*check)(uint32_t);
        uint32_t low, high;
    };
    const Case cases[] = {
        {v44_check_direction, 0, 3},         {v44_check_negotiation, 0, 1},     {v44_check_capability, 0, 0},
        {v44_check_tx_codewords, 256, 65535}, {v44_check_rx_codewords, 256, 65535},
        {v44_check_string_length, 32, 255},   {v44_check_tx_history, 512, 65535}, {v44_check_rx_history, 512, 65535},
    };
    for (const Case& c : cases) {
        EXPECT_NE(c.check(c.low), 0);
        EXPECT_NE(c.check(c.high), 0);
        if (c.low > 0) {
            EXPECT_EQ(c.check(c.low - 1), 0);
        }
        EXPECT_EQ(c.check(c.high + 1), 0);
    }
}

}  // namespace
