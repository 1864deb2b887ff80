// The line port under a stand-in pump: block timing and formats, the signal path through the rate converters
// and the network, the control codes, and the file and socket endpoints.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "support/counted_thread.h"
#include "support/line_fake_pump.h"
#include "support/line_signal.h"

using linetest::FakePump;
using linetest::FitTone;

namespace {

struct LinePortTest : ::testing::Test {
    platform::Clock clock;
    platform::ClockThread self{clock};
    LineNetwork* network = LineNetworkCreate();
    ~LinePortTest() override { LineNetworkDestroy(network); }
    LinePort* AddPort(const char* name)
    {
        LinePortConfig c;
        c.name = name;
        return LineNetworkAddPort(network, c);
    }
};

// A tone generator that continues its phase across blocks and format changes.
struct ToneSource {
    double hz, amplitude, phase = 0;
    std::vector<int16_t> Next(uint16_t n, double rate)
    {
        std::vector<int16_t> x(n);
        for (auto& v : x) {
            v = static_cast<int16_t>(std::lround(amplitude * std::sin(phase)));
            phase += 2 * M_PI * hz / rate;
        }
        phase = std::fmod(phase, 2 * M_PI);
        return x;
    }
};

TEST_F(LinePortTest, FormatChangesFromTheNextBlockAndTheClockFollows)
{
    LinePort* port = AddPort("a");
    FakePump pump(port);
    std::vector<size_t> lengths;
    std::vector<LONGLONG> times;
    pump.Run(12, [&](int i) {
        const LowerFormat f = LinePortGetFormat(port);
        lengths.push_back(pump.Read(f.blockLength).size());
        times.push_back(pump.LastEventTime());
        pump.Write(std::vector<int16_t>(f.blockLength, 0));
        if (i == 4) {
            LowerFormat v32{7200, 48};
            LowerFormat out{};
            EXPECT_EQ(pump.Control(LOWER_CODE_FORMAT, &v32, &out), STATUS_SUCCESS);
            EXPECT_EQ(LinePortGetFormat(port).blockLength, 96);  // not yet: from the next block
        }
    });
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(lengths[i], i <= 4 ? 96u : 48u) << i;
    for (int i = 1; i < 12; ++i) {
        const LONGLONG period = times[i] - times[i - 1];
        if (i <= 5) {
            EXPECT_EQ(period, 100000) << i;  // 96 samples at 9600 Hz
        } else {
            EXPECT_NEAR(period, 66667, 1) << i;  // 48 samples at 7200 Hz
        }
    }
    // No drift over many 6.67 ms blocks: 300 blocks take exactly 2 s.
    const LONGLONG start = pump.LastEventTime();
    pump.Run(300, [&](int) { pump.Read(48); pump.Write(std::vector<int16_t>(48, 0)); });
    EXPECT_EQ(pump.LastEventTime() - start, 20000000);
    const LinePortStats s = LinePortGetStats(port);
    EXPECT_EQ(s.rxUnderruns, 0u);
    EXPECT_EQ(s.txMissing, 0u);
}

TEST_F(LinePortTest, ToneThroughLoopbackKeepsFrequencyAndLevel)
{
    const struct {
        uint16_t rate, block;
        double hz;
    } cases[] = {{9600, 96, 1000}, {7200, 48, 1800}, {8000, 80, 2400}, {4800, 48, 1000}, {7200, 72, 600}, {8229, 96, 3000}};
    for (const auto& c : cases) {
        LinePort* port = AddPort("loop");
        LineEndpoint* loop = LineLoopbackCreate();
        LineConnection* conn = LineConnect(network, &port->endpoint, loop, {});
        FakePump pump(port);
        LowerFormat f{c.rate, c.block};
        pump.Run(1, [&](int) { pump.Control(LOWER_CODE_FORMAT, &f, nullptr); pump.Write(std::vector<int16_t>(96, 0)); });
        ToneSource tone{c.hz, 12000};
        std::vector<double> received;
        const int blocks = static_cast<int>(2.0 * c.rate / c.block);
        pump.Run(blocks, [&](int) {
            for (int16_t v : pump.Read(c.block))
                received.push_back(v);
            pump.Write(tone.Next(c.block, c.rate));
        });
        const auto fit = FitTone(received, c.rate, c.hz, received.size() / 4, received.size());
        EXPECT_NEAR(fit.frequency, c.hz, 0.01) << c.rate;
        EXPECT_NEAR(20 * std::log10(fit.amplitude / 12000), 0.0, 0.1) << c.rate;
        EXPECT_LT(fit.residualDb, -60.0) << c.rate;
        const LinePortStats s = LinePortGetStats(port);
        EXPECT_EQ(s.rxUnderruns, 0u) << c.rate;
        EXPECT_EQ(s.txUnderruns, 0u) << c.rate;
        pump.Stop();
        LineDisconnect(network, conn);
        LineEndpointDestroy(loop);
    }
}

TEST_F(LinePortTest, ReportedLatencyMatchesTheMeasuredRoundTrip)
{
    LinePort* port = AddPort("latency");
    LineEndpoint* loop = LineLoopbackCreate();
    LineConnect(network, &port->endpoint, loop, {});
    FakePump pump(port);
    LowerDeviceRecord record{};
    ASSERT_EQ(pump.Control(LOWER_CODE_DEVICE_RECORD, nullptr, &record), STATUS_SUCCESS);
    const double reported = (record.rxDepthBlocks + record.txDepthBlocks) * 96.0 + record.extraSamples;
    // An impulse written in block 10 comes back after the round trip.
    std::vector<double> received;
    pump.Run(40, [&](int i) {
        for (int16_t v : pump.Read(96))
            received.push_back(v);
        std::vector<int16_t> out(96, 0);
        if (i == 10)
            out[0] = 20000;
        pump.Write(out);
    });
    size_t peak = 0;
    for (size_t i = 0; i < received.size(); ++i)
        if (std::fabs(received[i]) > std::fabs(received[peak]))
            peak = i;
    const double measured = static_cast<double>(peak) - 10 * 96;
    // The loopback itself adds one 10 ms frame, which is the far end's, not the port's.
    EXPECT_NEAR(measured - 96, reported, 12.0);
    pump.Stop();
    LineNetworkDestroy(network);
    network = nullptr;
    LineEndpointDestroy(loop);
}

TEST_F(LinePortTest, TwoPortsAtDifferentRatesThroughALineModel)
{
    LinePort* a = AddPort("a");
    LinePort* b = AddPort("b");
    LineConnectionParams params;
    params.aToB.attenuationDb = 6;
    params.aToB.bulkDelayMs = 5;
    LineConnect(network, &a->endpoint, &b->endpoint, params);
    FakePump pa(a);
    FakePump pb(b);
    // b switches to 7200 / 48; both run on the same clock, a in this thread, b interleaved by time.
    LowerFormat v32{7200, 48};
    pb.Control(LOWER_CODE_FORMAT, &v32, nullptr);
    ToneSource tone{1800, 16000};
    std::vector<double> atB;
    std::atomic<bool> bDone{false};
    std::thread other = testsupport::StartCountedThread(clock, "pump-b", [&] {
        pb.Run(600, [&](int) {
            const uint16_t n = LinePortGetFormat(b).blockLength;
            for (int16_t v : pb.Read(n))
                atB.push_back(v);
            pb.Write(std::vector<int16_t>(n, 0));
        });
        bDone = true;
    });
    // This thread keeps serving a until b is done: a thread joining outside the platform would hold the clock.
    while (!bDone) {
        pa.Run(1, [&](int) {
            pa.Read(96);
            pa.Write(tone.Next(96, 9600));
        });
    }
    other.join();
    const auto fit = FitTone(atB, 7200, 1800, atB.size() / 3, atB.size());
    EXPECT_NEAR(fit.frequency, 1800, 0.01);
    EXPECT_NEAR(20 * std::log10(fit.amplitude / 16000), -6.0, 0.1);
    EXPECT_LT(fit.residualDb, -55.0);
}

TEST_F(LinePortTest, ControlCodesTable)
{
    LinePort* port = AddPort("codes");
    FakePump pump(port);
    const struct {
        uint32_t code;
        bool second;
        uint32_t in[3];
        NTSTATUS status;
    } cases[] = {
        {LOWER_CODE_LOOP_CLOSE, false, {}, STATUS_SUCCESS},
        {LOWER_CODE_OPTION8, false, {2}, STATUS_SUCCESS},
        {LOWER_CODE_RX_GAIN, false, {6}, STATUS_SUCCESS},
        {LOWER_CODE_MODE13, false, {2}, STATUS_SUCCESS},
        {LOWER_CODE_CODEC_WRITE, false, {0x1000010, 0x55}, STATUS_SUCCESS},
        {LOWER_CODE_CODEC_WRITE, false, {0x3000010, 0x55}, STATUS_INVALID_PARAMETER},
        {LOWER_CODE_CODEC_WRITE, false, {0x1000100, 0x55}, STATUS_INVALID_PARAMETER},
        {LOWER_CODE_HOST_CONTROL, false, {2}, STATUS_SUCCESS},
        {LOWER_CODE_CALLER_ID, false, {1}, STATUS_SUCCESS},
        {LOWER_CODE_GAIN30, true, {3, 0, 7}, STATUS_SUCCESS},
        {LOWER_CODE_HOST_ACTIVE, true, {0}, STATUS_SUCCESS},
        {LOWER_CODE_HOST_IDLE, true, {}, STATUS_SUCCESS},
        {LOWER_CODE_FORMAT, false, {0}, STATUS_INVALID_PARAMETER},                // rate 0, block 0
        {LOWER_CODE_FORMAT, false, {9600u | (2000u << 16)}, STATUS_INVALID_PARAMETER},  // block over 1024
        {99, false, {}, STATUS_INVALID_DEVICE_REQUEST},
        {LOWER_CODE_LOOP_OPEN, false, {}, STATUS_SUCCESS},
    };
    for (const auto& c : cases) {
        uint32_t in[3];
        std::memcpy(in, c.in, sizeof(in));
        uint32_t out[4] = {};
        EXPECT_EQ(pump.Control(c.code, in, out, c.second), c.status) << c.code;
    }
    // Effects.
    EXPECT_FALSE(LinePortLoopClosed(port));
    EXPECT_EQ(port->value11, 6u);
    EXPECT_EQ(port->callerId, 1u);
    LowerCodecAccess read{0x1000010, 0};
    EXPECT_EQ(pump.Control(LOWER_CODE_CODEC_READ, &read, &read), STATUS_SUCCESS);
    EXPECT_EQ(read.value, 0x55u);
    LowerCodecAccess healthy{0x100000C, 0};
    pump.Control(LOWER_CODE_CODEC_READ, &healthy, &healthy);
    EXPECT_EQ(healthy.value, 64u);
    EXPECT_EQ(pump.Control(LOWER_CODE_CODEC_REINIT, nullptr, nullptr), STATUS_SUCCESS);
    pump.Control(LOWER_CODE_CODEC_READ, &read, &read);
    EXPECT_EQ(read.value, 0u);
    uint32_t word = 0;
    EXPECT_EQ(pump.Control(LOWER_CODE_PHASE2, &word, &word), STATUS_SUCCESS);
    EXPECT_EQ(word, 1u);
    word = 7;
    EXPECT_EQ(pump.Control(LOWER_CODE_QUERY12, &word, &word), STATUS_SUCCESS);
    EXPECT_EQ(word, 0u);
    LowerDeviceRecord record{};
    EXPECT_EQ(pump.Control(LOWER_CODE_DEVICE_RECORD, nullptr, &record), STATUS_SUCCESS);
    EXPECT_EQ(record.codecMode, 4u);
    EXPECT_EQ(record.watchdogEnable, 1u);
    EXPECT_EQ(record.codecAddressB[3], 0x43u);
    EXPECT_EQ(pump.Control(LOWER_CODE_DEVICE_RECORD, nullptr, nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(pump.Control(LOWER_CODE_MODE13, nullptr, nullptr), STATUS_INVALID_PARAMETER);
    // Everything is in the port's log, in order, with its status.
    LineControlRecord log[kLineControlLogEntries];
    const size_t n = LinePortGetLog(port, log, kLineControlLogEntries);
    ASSERT_GE(n, std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(log[i].code, cases[i].code) << i;
        EXPECT_EQ(log[i].status, cases[i].status) << i;
        EXPECT_EQ(log[i].entry, cases[i].second ? 2 : 1) << i;
    }
    // Bad block calls are refused, not crashed on.
    int16_t buf[4];
    EXPECT_EQ(pump.Interface()->readBlock(pump.Interface()->handle, nullptr, 192), 0);
    EXPECT_EQ(pump.Interface()->readBlock(pump.Interface()->handle, buf, 3), 0);
    EXPECT_EQ(pump.Interface()->writeBlock(pump.Interface()->handle, buf, 4096), 0);
    EXPECT_EQ(LinePortGetStats(port).badCalls, 3u);
}

TEST_F(LinePortTest, FileEndpointPlaysAndRecords)
{
    const std::string dir = linetest::TempPrefix();
    const std::string play = dir + "line_play.wav";
    const std::string record = dir + "line_record.wav";
    {
        SampleFileWriter w;
        std::string error;
        ASSERT_TRUE(SampleFileOpenWrite(&w, play, LINE_FILE_WAV, &error));
        const auto tone = linetest::ToneS16(700, 8000, 9000, 8000);
        SampleFileWrite(&w, tone.data(), tone.size());
        SampleFileCloseWrite(&w);
    }
    LinePort* port = AddPort("file");
    std::string error;
    LineEndpoint* file = LineFileEndpointCreate(play, record, &error);
    ASSERT_NE(file, nullptr) << error;
    LineConnection* conn = LineConnect(network, &port->endpoint, file, {});
    FakePump pump(port);
    ToneSource tone{1500, 8000};
    std::vector<double> heard;
    pump.Run(150, [&](int) {
        for (int16_t v : pump.Read(96))
            heard.push_back(v);
        pump.Write(tone.Next(96, 9600));
    });
    EXPECT_TRUE(LineFileEndpointPlayEnded(file));
    pump.Stop();
    LineDisconnect(network, conn);
    LineEndpointDestroy(file);
    const auto fitHeard = FitTone(heard, 9600, 700, 2000, 9000);
    EXPECT_NEAR(fitHeard.frequency, 700, 0.01);
    EXPECT_NEAR(fitHeard.amplitude, 9000, 20);
    SampleFileReader r;
    ASSERT_TRUE(SampleFileOpenRead(&r, record, LINE_FILE_WAV, &error)) << error;
    std::vector<int16_t> rec(20000);
    rec.resize(SampleFileRead(&r, rec.data(), rec.size()));
    SampleFileCloseRead(&r);
    EXPECT_GE(rec.size(), 11900u);  // 1.5 s
    const auto fitRec = FitTone(linetest::ToDouble(rec), 8000, 1500, 2000, rec.size());
    EXPECT_NEAR(fitRec.frequency, 1500, 0.01);
    EXPECT_NEAR(fitRec.amplitude, 8000, 20);
    EXPECT_FALSE(LineFileEndpointCreate(dir + "line_no_such.wav", "", &error));
}

// The far end of a raw-sample socket, outside the platform: echoes what it reads, shifted by a constant.
struct Peer {
    std::string path;
    int fd = -1;
    bool Connect()
    {
        fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof(a.sun_path) - 1);
        for (int i = 0; i < 500; ++i) {
            if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0)
                return true;
            usleep(2000);
        }
        return false;
    }
    bool ReadBlock(int16_t* s)
    {
        uint8_t b[160];
        size_t done = 0;
        while (done < 160) {
            const ssize_t r = recv(fd, b + done, 160 - done, 0);
            if (r <= 0)
                return false;
            done += static_cast<size_t>(r);
        }
        for (int i = 0; i < 80; ++i)
            s[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
        return true;
    }
    bool WriteBytes(const uint8_t* b, size_t n) { return send(fd, b, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n); }
    ~Peer()
    {
        if (fd >= 0)
            close(fd);
    }
};

TEST_F(LinePortTest, SocketCarriesSamplesBothWaysInLockstep)
{
    const std::string path = linetest::TempPrefix() + "line_sock_a";
    LinePort* port = AddPort("sock");
    std::string error;
    LineEndpoint* sock = LineSocketEndpointCreate(path, &error);
    ASSERT_NE(sock, nullptr) << error;
    LineConnection* conn = LineConnect(network, &port->endpoint, sock, {});
    std::atomic<int> blocksSeen{0};
    std::atomic<bool> farDone{false};
    std::vector<double> fromModem;
    std::thread far([&] {
        Peer peer{path};
        ASSERT_TRUE(peer.Connect());
        int16_t block[80];
        double phase = 0;
        for (int k = 0; k < 300; ++k) {
            if (!peer.ReadBlock(block))
                return;
            for (int16_t v : block)
                fromModem.push_back(v);
            uint8_t out[160];
            for (int i = 0; i < 80; ++i) {
                const int16_t v = static_cast<int16_t>(std::lround(10000 * std::sin(phase)));
                phase += 2 * M_PI * 500 / 8000.0;
                out[2 * i] = static_cast<uint8_t>(v);
                out[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
            }
            if (!peer.WriteBytes(out, 160))
                break;
            ++blocksSeen;
        }
        // Then the far end hangs up.
        farDone = true;
    });
    FakePump pump(port);
    ToneSource tone{2000, 7000};
    std::vector<double> toModem;
    pump.Run(250, [&](int) {
        for (int16_t v : pump.Read(96))
            toModem.push_back(v);
        pump.Write(tone.Next(96, 9600));
    });
    // Lockstep: line time has advanced by exactly as many frames as the far end served.
    EXPECT_LE(LineNetworkTicks(network), static_cast<uint64_t>(blocksSeen.load()) + 1);
    // Keep the modem side going (a thread joining outside the platform would hold the clock) until the far
    // end has hung up.
    while (!farDone)
        pump.Run(1, [&](int) { pump.Read(96); pump.Write(std::vector<int16_t>(96, 0)); });
    far.join();
    pump.Run(5, [&](int) { pump.Read(96); pump.Write(std::vector<int16_t>(96, 0)); });
    std::string reason;
    EXPECT_TRUE(LineConnectionEnded(network, conn, &reason));
    EXPECT_NE(reason.find("far end closed the connection"), std::string::npos) << reason;
    pump.Stop();
    const auto fitModem = FitTone(toModem, 9600, 500, toModem.size() / 4, toModem.size());
    EXPECT_NEAR(fitModem.frequency, 500, 0.01);
    EXPECT_NEAR(fitModem.amplitude, 10000, 20);
    // The modem sent the tone for its first 250 blocks (2.5 s), silence afterwards.
    const auto fitFar = FitTone(fromModem, 8000, 2000, 4000, 19000);
    EXPECT_NEAR(fitFar.frequency, 2000, 0.01);
    EXPECT_NEAR(fitFar.amplitude, 7000, 20);
    LineDisconnect(network, conn);
    LineEndpointDestroy(sock);
}

TEST_F(LinePortTest, SocketShortBlockEndsTheCallWithItsReason)
{
    const std::string path = linetest::TempPrefix() + "line_sock_b";
    LinePort* port = AddPort("short");
    std::string error;
    LineEndpoint* sock = LineSocketEndpointCreate(path, &error);
    ASSERT_NE(sock, nullptr) << error;
    LineConnection* conn = LineConnect(network, &port->endpoint, sock, {});
    std::atomic<bool> farDone{false};
    std::thread far([&] {
        Peer peer{path};
        EXPECT_TRUE(peer.Connect());
        int16_t block[80];
        EXPECT_TRUE(peer.ReadBlock(block));
        const uint8_t half[100] = {};
        peer.WriteBytes(half, sizeof(half));  // 100 of 160 bytes, then gone
        farDone = true;
    });
    FakePump pump(port);
    while (!farDone)
        pump.Run(1, [&](int) { pump.Read(96); pump.Write(std::vector<int16_t>(96, 0)); });
    far.join();
    pump.Run(3, [&](int) { pump.Read(96); pump.Write(std::vector<int16_t>(96, 0)); });
    std::string reason;
    EXPECT_TRUE(LineConnectionEnded(network, conn, &reason));
    EXPECT_NE(reason.find("short block (100 of 160 bytes)"), std::string::npos) << reason;
    // The port goes on with silence: blocks keep coming.
    pump.Run(10, [&](int) { EXPECT_EQ(pump.Read(96), std::vector<int16_t>(96, 0)); pump.Write(std::vector<int16_t>(96, 0)); });
    pump.Stop();
    LineDisconnect(network, conn);
    LineEndpointDestroy(sock);
    std::string bad;
    EXPECT_EQ(LineSocketEndpointCreate(std::string(200, 'x'), &bad), nullptr);
    EXPECT_FALSE(bad.empty());
}

TEST_F(LinePortTest, StoppingWhileTheFarEndNeverConnectedDoesNotHang)
{
    const std::string path = linetest::TempPrefix() + "line_sock_c";
    LinePort* port = AddPort("lonely");
    std::string error;
    LineEndpoint* sock = LineSocketEndpointCreate(path, &error);
    ASSERT_NE(sock, nullptr) << error;
    LineConnection* conn = LineConnect(network, &port->endpoint, sock, {});
    {
        FakePump pump(port);
        // No peer: the line thread waits in accept and holds the clock (so this thread must not wait on the
        // clock); stopping the port aborts that wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::string reason;
    EXPECT_TRUE(LineConnectionEnded(network, conn, &reason));
    EXPECT_NE(reason.find("before a peer connected"), std::string::npos) << reason;
    LineDisconnect(network, conn);
    LineEndpointDestroy(sock);
}

}  // namespace

namespace {

TEST_F(LinePortTest, AnyControlCodeWithMissingRecordsIsAnsweredNotCrashedOn)
{
    LinePort* port = AddPort("fuzz");
    FakePump pump(port);
    uint32_t in[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    uint32_t out[140] = {};
    for (uint32_t code = 0; code < 64; ++code) {
        for (int variant = 0; variant < 4; ++variant) {
            void* input = (variant & 1) ? in : nullptr;
            void* output = (variant & 2) ? out : nullptr;
            const NTSTATUS a = pump.Control(code, input, output, false);
            const NTSTATUS b = pump.Control(code, input, output, true);
            EXPECT_TRUE(a == STATUS_SUCCESS || a == STATUS_INVALID_PARAMETER || a == STATUS_INVALID_DEVICE_REQUEST)
                << code;
            EXPECT_EQ(a, b) << code;
        }
    }
    // The port still serves blocks at a sane format afterwards.
    pump.Run(3, [&](int) {
        const LowerFormat f = LinePortGetFormat(port);
        EXPECT_GT(f.rate, 0);
        EXPECT_LE(f.blockLength, 1024);
        EXPECT_EQ(pump.Read(f.blockLength).size(), f.blockLength);
    });
}

}  // namespace
