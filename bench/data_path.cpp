// The data path at V.22bis. Whole path: two modems (controller, data pump, line) call each other through the
// simulated exchange in virtual time and carry bytes both ways between their serial ports; the counters give
// the bytes delivered per simulated second against the line's 240 characters a second (2400 bit/s, ten bits
// a character), and how many simulated seconds pass per wall second. Controller: the line block, the
// buffered-mode mover and the DTE rings alone, with a stand-in data pump taking and posting chunks; the time
// per iteration divided by the bytes moved is the controller's CPU time per byte.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "layer2/corecode/dce/buffered_mode.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/modem_core.h"
#include "layer2/windows/wdm/serial_ioctl.h"
#include "line/exchange.h"
#include "line/exchange_port.h"
#include "line/line_network.h"
#include "platform/clock.h"
#include "platform/machine.h"
#include "stack/country_exchange.h"
#include "stack/modem_stack.h"
#include "window/register_map.h"
#include "window/window_access.h"

namespace {

constexpr double kLineCharsPerSecond = 2400.0 / 10.0;

// One modem of the benchmark: machine, stack and its open serial port.
struct BenchModem {
    std::unique_ptr<platform::Machine> machine;
    std::unique_ptr<ModemStack> stack;
    LinePort* port = nullptr;
    PFILE_OBJECT file = nullptr;

    bool Build(platform::Clock& clock, LineNetwork* network, const std::string& name)
    {
        machine = std::make_unique<platform::Machine>(platform::MachineConfig{&clock, name, ""});
        LinePortConfig pc;
        pc.name = name;
        port = LineNetworkAddPort(network, pc);
        stack = std::make_unique<ModemStack>(*machine);
        ModemStackConfig config;
        config.port = port;
        config.portName = "COM7";
        if (!NT_SUCCESS(stack->Build(config)) || !NT_SUCCESS(machine->Open(stack->Stack(), &file)))
            return false;
        ULONG_PTR info = 0;
        machine->DeviceIoControl(file, IOCTL_SERIAL_SET_DTR, nullptr, 0, nullptr, 0, &info);
        Timeouts(10);
        return true;
    }
    void Timeouts(ULONG writeMs)
    {
        ULONG t[5] = {0xFFFFFFFF, 0, 0, 0, writeMs};
        ULONG_PTR info = 0;
        machine->DeviceIoControl(file, IOCTL_SERIAL_SET_TIMEOUTS, t, sizeof t, nullptr, 0, &info);
    }
    size_t Write(const void* data, size_t n)
    {
        ULONG_PTR written = 0;
        machine->Write(file, data, static_cast<ULONG>(n), &written);
        return written;
    }
    std::string Read()
    {
        std::string out;
        for (;;) {
            char b[1024];
            ULONG_PTR n = 0;
            machine->Read(file, b, sizeof b, &n);
            out.append(b, n);
            if (n < sizeof b)
                return out;
        }
    }
    void Shutdown()
    {
        if (file != nullptr)
            machine->Close(file);
        file = nullptr;
        if (stack)
            stack->Remove();
        stack.reset();
    }
};

int64_t Now(platform::Clock& clock) { return clock.Now(); }

void BM_DataPathV22bisBothWays(benchmark::State& state)
{
    platform::ClockConfig cc;
    cc.timeIncrement = 100000;
    platform::Clock clock(cc);
    platform::ClockThread self(clock, true, "bench");
    LineNetwork* network = LineNetworkCreate();
    BenchModem a;
    BenchModem b;
    Exchange* ex = nullptr;
    ExchangeBinding* binding = nullptr;
    double simulated = 0;
    double wall = 0;
    double delivered = 0;
    if (!a.Build(clock, network, "modemA") || !b.Build(clock, network, "modemB")) {
        state.SkipWithError("the stacks did not start");
    } else {
        ex = ExchangeCreate(country_exchange_signals(a.stack->Controller()->core->settings.block));
        binding = ExchangeBind(ex, network);
        std::string error;
        ExchangeBindPort(binding, a.port, "201", LineConnectionParams(), &error);
        ExchangeBindPort(binding, b.port, "202", LineConnectionParams(), &error);
        const std::string answer = "ATS0=1+MS=V22B\r";
        const std::string dial = "ATX4+MS=V22B;DT202\r";
        b.Write(answer.data(), answer.size());
        a.Write(dial.data(), dial.size());
        std::string outA;
        std::string outB;
        for (int t = 0; t < 3000 && (outA.find("CONNECT") == std::string::npos || outB.find("CONNECT") == std::string::npos); ++t) {
            platform::SleepMs(10);
            outA += a.Read();
            outB += b.Read();
        }
        if (outA.find("CONNECT 2400") == std::string::npos || outB.find("CONNECT 2400") == std::string::npos) {
            state.SkipWithError("no connection");
        } else {
            platform::SleepMs(300);
            a.Read();
            b.Read();
            std::vector<uint8_t> data(4096);
            for (size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<uint8_t>(i * 13 + i / 256);
            for (auto _ : state) {
                // Each iteration: 4 KiB each way, as fast as the ports take them.
                const auto w0 = std::chrono::steady_clock::now();
                const int64_t t0 = Now(clock);
                size_t sentA = 0, sentB = 0, gotA = 0, gotB = 0;
                while (gotA < data.size() || gotB < data.size()) {
                    if (sentA < data.size())
                        sentA += a.Write(data.data() + sentA, data.size() - sentA);
                    if (sentB < data.size())
                        sentB += b.Write(data.data() + sentB, data.size() - sentB);
                    if (sentA >= data.size() && sentB >= data.size())
                        platform::SleepMs(10);
                    gotB += b.Read().size();
                    gotA += a.Read().size();
                }
                simulated += static_cast<double>(Now(clock) - t0) / 1e7;
                wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
                delivered += static_cast<double>(gotA + gotB) / 2.0;
            }
        }
    }
    b.Shutdown();
    a.Shutdown();
    if (binding != nullptr)
        ExchangeUnbind(binding);
    if (ex != nullptr)
        ExchangeDestroy(ex);
    LineNetworkDestroy(network);
    if (simulated > 0) {
        state.counters["bytes_per_s_each_way"] = delivered / simulated;
        state.counters["of_line_rate"] = delivered / simulated / kLineCharsPerSecond;
        state.counters["simulated_s_per_wall_s"] = simulated / wall;
    }
}
BENCHMARK(BM_DataPathV22bisBothWays)->Iterations(2)->Unit(benchmark::kMillisecond);

// The controller's share: bytes from the from-DTE ring through the mover and the line block into transmit
// chunks, and received chunks through the line block and the mover into the to-DTE ring.
void BM_ControllerPathPerByte(benchmark::State& state)
{
    auto d = std::make_unique<DteContext>();
    auto window = std::make_unique<DspInterfaceBlock>();
    std::memset(window.get(), 0, sizeof(DspInterfaceBlock));
    dte_init(d.get(), nullptr);
    uint8_t params[12] = {};
    dte_data_mode_start(d.get(), params);
    d->flow.clamp = 0;
    d->flow.output_held = 1;  // the to-DTE ring is emptied here, not by an application
    LineBlock lb;
    lb_init(&lb, nullptr);
    lb_bind_window(&lb, window.get());
    d->line_block = &lb;
    lb_set_mode(&lb, LINE_MODE_PLAIN);
    uint8_t chunk[kMailboxBytes];
    for (int i = 0; i < kMailboxBytes; ++i)
        chunk[i] = static_cast<uint8_t>(i);
    uint64_t bytes = 0;
    for (auto _ : state) {
        // 512 bytes each way per iteration.
        for (int i = 0; i < 512; ++i)
            dte_from_put(d.get(), static_cast<uint8_t>(i));
        for (int k = 0; k < 512 / kMailboxBytes; ++k) {
            WindowStoreBytes(window.get(), kRegRxData, chunk, kMailboxBytes);
            WindowStorePair(window.get(), kRegRxCount, kMailboxBytes);
            lb_service(&lb);
            buffered_mode_poll(d.get(), &lb);
            WindowStorePair(window.get(), kRegTxCount, 0);  // the pump took the transmit chunk
            lb_service(&lb);
        }
        while (dte_from_count(d.get()) != 0 || lb_tx_count(&lb) != 0) {
            buffered_mode_poll(d.get(), &lb);
            WindowStorePair(window.get(), kRegTxCount, 0);
            lb_service(&lb);
        }
        {
            DteLockHold hold(&d->to_lock);
            ring_clear(&d->to_dte);
        }
        bytes += 1024;
    }
    state.counters["ns_per_byte"] = benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kIsRate |
                                                                                   benchmark::Counter::kInvert);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ControllerPathPerByte);

}  // namespace

BENCHMARK_MAIN();
