// Reads, writes, time-outs, cancel, wait on mask and the modem-control lines through the device.
#include <atomic>
#include <cstring>
#include <thread>

#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/port_ops.h"
#include "serial_fixture.h"

namespace {

class SerialIo : public SerialDevice {
protected:
    void SetUp() override
    {
        SerialDevice::SetUp();
        BuildAndOpen();
    }
    DteContext* Dte() { return &Ext()->dte; }
    PortRecord* Port() { return &Ext()->port_record; }
    int64_t NowMs() { return static_cast<int64_t>(KeQueryInterruptTime() / 10000); }
    void PutRx(const char* s)
    {
        for (; *s; s++)
            dte_app_rx_put(Dte(), static_cast<uint8_t>(*s));
    }
    // Enter data mode with the given flow options.
    void DataMode(uint8_t in_options, uint8_t out_options)
    {
        uint8_t params[12] = {0, 0, 0, in_options, 0x11, 0x13, out_options, 0x11, 0x13, 0, '+', 50};
        dte_data_mode_start(Dte(), params);
        dte_clamp_off(Dte());
    }
};

TEST_F(SerialIo, ZeroLengthTransfersAreRefused)
{
    ULONG_PTR n = 7;
    uint8_t b[1];
    EXPECT_EQ(machine_->Read(file_, b, 0, &n), STATUS_INVALID_USER_BUFFER);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(machine_->Write(file_, b, 0, &n), STATUS_INVALID_USER_BUFFER);
}

TEST_F(SerialIo, AllWaitReadWaitsForEveryByte)
{
    SetTimeouts(0, 0, 0);
    PutRx("ab");
    platform::IoRequest* r = machine_->StartRead(file_, 4);
    Sleep(200);
    EXPECT_FALSE(machine_->IsDone(r));
    PutRx("cd");
    EXPECT_EQ(machine_->Wait(r), STATUS_SUCCESS);
    EXPECT_EQ(machine_->RequestOutput(r), (std::vector<uint8_t>{'a', 'b', 'c', 'd'}));
    machine_->FreeRequest(r);
}

TEST_F(SerialIo, ReturnAtOnceReadTakesWhatIsThere)
{
    SetTimeouts(PORT_MAXDWORD, 0, 0);
    uint8_t b[16];
    ULONG_PTR n = 99;
    int64_t t0 = NowMs();
    ASSERT_EQ(machine_->Read(file_, b, sizeof b, &n), STATUS_SUCCESS);
    EXPECT_EQ(n, 0u);
    PutRx("xyz");
    ASSERT_EQ(machine_->Read(file_, b, sizeof b, &n), STATUS_SUCCESS);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::memcmp(b, "xyz", 3), 0);
    EXPECT_LT(NowMs() - t0, 10);
}

TEST_F(SerialIo, TotalTimeoutEndsTheRead)
{
    SetTimeouts(0, 10, 100);  // 5 bytes: 150 ms
    PutRx("12");
    uint8_t b[5];
    ULONG_PTR n = 0;
    int64_t t0 = NowMs();
    ASSERT_EQ(machine_->Read(file_, b, sizeof b, &n), STATUS_SUCCESS);
    int64_t waited = NowMs() - t0;
    EXPECT_EQ(n, 2u);
    EXPECT_GE(waited, 150);
    EXPECT_LE(waited, 200);
}

TEST_F(SerialIo, IntervalTimeoutEndsAReadAfterTheLastByte)
{
    SetTimeouts(50, 0, 0);
    platform::IoRequest* r = machine_->StartRead(file_, 10);
    Sleep(300);
    EXPECT_FALSE(machine_->IsDone(r));  // the interval counts only after a byte came
    PutRx("q");
    EXPECT_EQ(machine_->Wait(r), STATUS_SUCCESS);
    EXPECT_EQ(machine_->RequestInformation(r), 1u);
    machine_->FreeRequest(r);
}

TEST_F(SerialIo, WriteIntoAFullQueueWaitsForRoom)
{
    std::vector<uint8_t> data(3000);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = static_cast<uint8_t>('a' + i % 26);
    platform::IoRequest* w = machine_->StartWrite(file_, data.data(), static_cast<ULONG>(data.size()));
    Sleep(20);
    EXPECT_FALSE(machine_->IsDone(w));
    EXPECT_EQ(dte_app_tx_count(Dte()), 1024u);
    std::vector<uint8_t> got;
    while (got.size() < data.size()) {
        uint16_t n = dte_cmd_in_count(Dte());  // moves application bytes into the command input
        for (uint16_t i = 0; i < n; i++)
            got.push_back(dte_cmd_in_get(Dte()));
        Sleep(1);
    }
    EXPECT_EQ(machine_->Wait(w), STATUS_SUCCESS);
    EXPECT_EQ(machine_->RequestInformation(w), data.size());
    EXPECT_EQ(got, data);
    machine_->FreeRequest(w);
}

TEST_F(SerialIo, TimedWriteIntoAFullQueueStopsAtItsLimit)
{
    SetTimeouts(0, 0, 0, 0, 50);
    std::vector<uint8_t> data(2000, 'w');
    ULONG_PTR n = 0;
    ASSERT_EQ(machine_->Write(file_, data.data(), static_cast<ULONG>(data.size()), &n), STATUS_SUCCESS);
    EXPECT_EQ(n, 1024u);
    EXPECT_TRUE(Port()->error_word.load() & PORT_ERROR_TX_INCOMPLETE);
}

TEST_F(SerialIo, WaitOnMaskSeesCarrier)
{
    EXPECT_EQ(Ioctl(IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4), STATUS_INVALID_PARAMETER);  // mask 0
    ASSERT_EQ(IoctlUlong(IOCTL_SERIAL_SET_WAIT_MASK, SERIAL_EV_RLSD | SERIAL_EV_RING), STATUS_SUCCESS);
    platform::IoRequest* w = machine_->StartIoctl(file_, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4);
    Sleep(5);
    EXPECT_FALSE(machine_->IsDone(w));
    EXPECT_EQ(Ioctl(IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4), STATUS_INVALID_PARAMETER);  // one at a time
    dte_raise_dcd(Dte());
    ASSERT_EQ(machine_->Wait(w), STATUS_SUCCESS);
    std::vector<uint8_t> out = machine_->RequestOutput(w);
    ASSERT_EQ(out.size(), 4u);
    ULONG events;
    std::memcpy(&events, out.data(), 4);
    EXPECT_EQ(events, ULONG{SERIAL_EV_RLSD});
    machine_->FreeRequest(w);
}

TEST_F(SerialIo, SetWaitMaskEndsThePendingWaitWithNoEvents)
{
    ASSERT_EQ(IoctlUlong(IOCTL_SERIAL_SET_WAIT_MASK, SERIAL_EV_RING), STATUS_SUCCESS);
    platform::IoRequest* w = machine_->StartIoctl(file_, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4);
    Sleep(5);
    ASSERT_EQ(IoctlUlong(IOCTL_SERIAL_SET_WAIT_MASK, SERIAL_EV_CTS), STATUS_SUCCESS);
    ASSERT_EQ(machine_->Wait(w), STATUS_SUCCESS);
    std::vector<uint8_t> out = machine_->RequestOutput(w);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 0}));
    machine_->FreeRequest(w);
    // A cancelled wait ends with STATUS_CANCELLED.
    w = machine_->StartIoctl(file_, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4);
    Sleep(5);
    machine_->Cancel(w);
    EXPECT_EQ(machine_->Wait(w), STATUS_CANCELLED);
    machine_->FreeRequest(w);
}

TEST_F(SerialIo, SignalsPostTheirEventsAndStatusBits)
{
    struct Case {
        const char* name;
        void (*op)(DteContext*);
        uint32_t events;
        uint8_t status_set;
        uint8_t status_clear;
    };
    const Case cases[] = {
        {"raise DSR", dte_raise_dsr, 0x0810, MSR_DSR, 0},  {"drop DSR", dte_drop_dsr, 0x0010, 0, MSR_DSR},
        {"raise CTS", dte_raise_cts, 0x0008, MSR_CTS, 0},  {"drop CTS", dte_drop_cts, 0x0008, 0, MSR_CTS},
        {"raise DCD", dte_raise_dcd, 0x1020, MSR_DCD, 0},  {"drop DCD", dte_drop_dcd, 0x0020, 0, MSR_DCD},
        {"raise RI", dte_raise_ri, 0x0100, MSR_RI, 0},     {"drop RI", dte_drop_ri, 0x2000, 0, MSR_RI},
    };
    uint32_t word = 0;
    ASSERT_TRUE(port_set_event_mask(Port(), 0xFFFF, &word));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t events = 0;
        ASSERT_TRUE(port_get_event_mask(Port(), 0xFFFFFFFF, &events));  // clear
        c.op(Dte());
        ASSERT_TRUE(port_get_event_mask(Port(), 0xFFFFFFFF, &events));
        EXPECT_EQ(events, c.events);
        uint8_t msr = Port()->msr.load();
        if (c.status_set) {
            EXPECT_EQ(msr & c.status_set, c.status_set);
        }
        if (c.status_clear) {
            EXPECT_EQ(msr & c.status_clear, 0);
        }
        EXPECT_EQ(msr & 0x0F, 0);  // the change bit is cleared again
        // The same change again does nothing.
        c.op(Dte());
        ASSERT_TRUE(port_get_event_mask(Port(), 0xFFFFFFFF, &events));
        EXPECT_EQ(events, 0u);
    }
}

TEST_F(SerialIo, PurgeAbortsQueuedAndServedReads)
{
    SetTimeouts(0, 0, 0);
    platform::IoRequest* first = machine_->StartRead(file_, 4);
    platform::IoRequest* second = machine_->StartRead(file_, 4);
    Sleep(5);
    PutRx("ab");
    Sleep(5);
    ASSERT_EQ(IoctlUlong(IOCTL_SERIAL_PURGE, SERIAL_PURGE_RXABORT), STATUS_SUCCESS);
    // The read being served ends early with what it had; the queued one is cancelled.
    EXPECT_EQ(machine_->Wait(first), STATUS_SUCCESS);
    EXPECT_EQ(machine_->RequestOutput(first), (std::vector<uint8_t>{'a', 'b'}));
    EXPECT_EQ(machine_->Wait(second), STATUS_CANCELLED);
    machine_->FreeRequest(first);
    machine_->FreeRequest(second);
}

TEST_F(SerialIo, CancelRacingCompletionLosesNoByte)
{
    SetTimeouts(0, 0, 0);
    std::vector<uint8_t> sent;
    std::vector<uint8_t> received;
    int cancelled = 0;
    uint8_t next = 0;
    for (int i = 0; i < 300; i++) {
        platform::IoRequest* r = machine_->StartRead(file_, 4);
        for (int k = 0; k < 2; k++) {
            dte_app_rx_put(Dte(), next);
            sent.push_back(next++);
        }
        if (i % 3 != 0)
            Sleep(i % 4);
        machine_->Cancel(r);
        for (int k = 0; k < 2; k++) {
            dte_app_rx_put(Dte(), next);
            sent.push_back(next++);
        }
        NTSTATUS status = machine_->Wait(r);
        ASSERT_TRUE(status == STATUS_SUCCESS || status == STATUS_CANCELLED) << std::hex << status;
        std::vector<uint8_t> out = machine_->RequestOutput(r);
        if (status == STATUS_CANCELLED) {
            EXPECT_TRUE(out.empty());
            cancelled++;
        }
        received.insert(received.end(), out.begin(), out.end());
        machine_->FreeRequest(r);
    }
    // Whatever no read took is still waiting, in order.
    SetTimeouts(PORT_MAXDWORD, 0, 0);
    std::vector<uint8_t> rest(4096);
    ULONG_PTR n = 0;
    ASSERT_EQ(machine_->Read(file_, rest.data(), static_cast<ULONG>(rest.size()), &n), STATUS_SUCCESS);
    received.insert(received.end(), rest.begin(), rest.begin() + static_cast<long>(n));
    EXPECT_EQ(received, sent);
    EXPECT_GT(cancelled, 0);
}

TEST_F(SerialIo, CancelRacingWritesLosesNoByte)
{
    std::vector<uint8_t> expected;
    std::vector<uint8_t> got;
    uint8_t next = 0;
    for (int i = 0; i < 200; i++) {
        uint8_t data[8];
        for (uint8_t& b : data)
            b = next++;
        platform::IoRequest* w = machine_->StartWrite(file_, data, sizeof data);
        if (i % 2)
            Sleep(i % 3);
        machine_->Cancel(w);
        NTSTATUS status = machine_->Wait(w);
        ASSERT_TRUE(status == STATUS_SUCCESS || status == STATUS_CANCELLED) << std::hex << status;
        ULONG_PTR written = status == STATUS_SUCCESS ? machine_->RequestInformation(w) : 0;
        ASSERT_LE(written, sizeof data);
        expected.insert(expected.end(), data, data + written);
        machine_->FreeRequest(w);
        uint16_t n = dte_cmd_in_count(Dte());
        for (uint16_t k = 0; k < n; k++)
            got.push_back(dte_cmd_in_get(Dte()));
    }
    EXPECT_EQ(got, expected);
}

uint8_t pattern(size_t i)
{
    return static_cast<uint8_t>(i * 7 + i / 251);
}

TEST_F(SerialIo, MegabyteIntoTheModemWithFlowControl)
{
    const size_t total = 1 << 20;
    DataMode(0, 2);  // drive CTS towards the application
    std::atomic<bool> writer_ok{true};
    std::atomic<bool> writer_done{false};
    std::thread writer([&] {
        platform::ClockThread counted(*clock_, true, "writer");
        std::vector<uint8_t> chunk(4096);
        for (size_t off = 0; off < total; off += chunk.size()) {
            for (size_t i = 0; i < chunk.size(); i++)
                chunk[i] = pattern(off + i);
            ULONG_PTR n = 0;
            if (machine_->Write(file_, chunk.data(), static_cast<ULONG>(chunk.size()), &n) != STATUS_SUCCESS ||
                n != chunk.size())
                writer_ok = false;
        }
        writer_done = true;
    });
    size_t taken = 0;
    bool mismatch = false;
    int flow_offs = 0;
    bool was_off = false;
    while (taken < total && !mismatch) {
        mc_rx_int(Dte());
        bool off = Dte()->flow.flow_off_asserted.load() != 0;
        if (off && !was_off) {
            flow_offs++;
            EXPECT_EQ(Dte()->line.cts.load(), 0);
        }
        was_off = off;
        // A slow consumer: at most 300 bytes a millisecond.
        for (int k = 0; k < 300 && dte_from_count(Dte()) != 0; k++) {
            if (dte_from_char(Dte()) != pattern(taken))
                mismatch = true;
            taken++;
        }
        Sleep(1);
    }
    while (!writer_done.load())
        Sleep(1);
    writer.join();
    EXPECT_FALSE(mismatch) << "at byte " << taken;
    EXPECT_EQ(taken, total);
    EXPECT_TRUE(writer_ok.load());
    EXPECT_GT(flow_offs, 0);
    EXPECT_EQ(Dte()->tx_discards.load(), 0u);
}

TEST_F(SerialIo, MegabyteOutOfTheModemToASlowReader)
{
    const size_t total = 1 << 20;
    ULONG handflow[4] = {SERIAL_DTR_CONTROL, SERIAL_RTS_HANDSHAKE, 512, 1024};
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_SET_HANDFLOW, handflow, 16, 0), STATUS_SUCCESS);
    DataMode(2, 0);  // output to the application follows RTS
    SetTimeouts(0, 0, 0);
    std::vector<uint8_t> got;
    got.reserve(total);
    std::atomic<bool> reader_done{false};
    std::thread reader([&] {
        platform::ClockThread counted(*clock_, true, "reader");
        std::vector<uint8_t> b(2000);
        while (got.size() < total) {
            size_t want = std::min(b.size(), total - got.size());
            ULONG_PTR n = 0;
            if (machine_->Read(file_, b.data(), static_cast<ULONG>(want), &n) != STATUS_SUCCESS)
                break;
            got.insert(got.end(), b.begin(), b.begin() + static_cast<long>(n));
            LARGE_INTEGER delay;
            delay.QuadPart = -30000;  // 3 ms between reads
            KeDelayExecutionThread(KernelMode, FALSE, &delay);
        }
        reader_done = true;
    });
    size_t sent = 0;
    int rts_drops = 0;
    bool rts_was_on = true;
    while (sent < total) {
        uint16_t room = dte_to_free(Dte());
        for (uint16_t k = 0; k < room && sent < total; k++)
            dte_to_put(Dte(), pattern(sent++));
        dte_to_drain(Dte());
        bool rts_on = Dte()->line.rts.load() != 0;
        if (!rts_on && rts_was_on)
            rts_drops++;
        rts_was_on = rts_on;
        Sleep(1);
    }
    while (dte_to_count(Dte()) != 0) {
        dte_to_drain(Dte());
        Sleep(1);
    }
    while (!reader_done.load())
        Sleep(1);  // a platform wait, so virtual time moves for the reader
    reader.join();
    ASSERT_EQ(got.size(), total);
    size_t first_bad = total;
    for (size_t i = 0; i < total && first_bad == total; i++)
        if (got[i] != pattern(i))
            first_bad = i;
    EXPECT_EQ(first_bad, total);
    EXPECT_GT(rts_drops, 0);
    EXPECT_EQ(Dte()->rx_discards.load(), 0u);
}

}  // namespace
