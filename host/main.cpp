// modemhost: runs modems in this process (platform, line stand-in, data pump, controller) and bridges their
// serial ports to standard input and output or to pseudo-terminals. With --line exchange several modems share
// a simulated telephone exchange, each with its own number.
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/host_bridge.h"
#include "host/host_line.h"
#include "host/host_modem.h"
#include "host/host_options.h"
#include "host/host_pty.h"
#include "platform/clock.h"
#include "platform/kernel.h"

namespace {

void on_signal(int)
{
    HostBridgeRequestStop();
}

void close_ptys(std::vector<HostPty>* ptys)
{
    for (HostPty& p : *ptys)
        HostPtyClose(&p);
}

// Every stack goes before any machine: the line thread belongs to the machine whose port started first.
void stop_all(std::vector<std::unique_ptr<HostModem>>* modems, HostLine* line)
{
    for (auto& m : *modems)
        m->StopStack();
    for (auto& m : *modems)
        m->Stop();
    line->Destroy();
}

}  // namespace

int main(int argc, char** argv)
{
    HostOptions options;
    std::string error;
    if (!ParseHostOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "modemhost: %s\n%s", error.c_str(), HostUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(HostUsage(), stdout);
        return 0;
    }
    if (!options.log_path.empty()) {
        FILE* f = std::fopen(options.log_path.c_str(), "w");
        if (f == nullptr) {
            std::fprintf(stderr, "modemhost: cannot write the log file '%s'\n", options.log_path.c_str());
            return 1;
        }
        std::fclose(f);
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<HostPty> ptys(options.pty_paths.size());
    for (size_t k = 0; k < ptys.size(); ++k) {
        if (!HostPtyOpen(&ptys[k], options.pty_paths[k], &error)) {
            std::fprintf(stderr, "modemhost: %s\n", error.c_str());
            close_ptys(&ptys);
            return 1;
        }
    }
    const size_t count = HostModemCount(options);
    platform::ClockConfig clock_config;
    clock_config.mode = options.real_time ? platform::ClockMode::Real : platform::ClockMode::Virtual;
    clock_config.name = "modemhost";
    int status;
    {
        platform::Clock clock(clock_config);
        platform::ClockThread self(clock, true, "modemhost");
        HostLine line;
        std::vector<std::unique_ptr<HostModem>> modems;
        bool ok = line.Build(options, &error);
        for (size_t k = 0; ok && k < count; ++k) {
            modems.push_back(std::make_unique<HostModem>(clock));
            ok = modems.back()->Start(options, k, line.Port(k), &error);
        }
        if (ok && options.line == "exchange") {
            const CountryBlock* country = modems[0]->Country();
            ok = country != nullptr && line.StartExchange(*country, options.numbers, &error);
            if (country == nullptr)
                error = "the first modem has no country data for the exchange";
        }
        if (!ok) {
            std::fprintf(stderr, "modemhost: %s\n", error.c_str());
            stop_all(&modems, &line);
            close_ptys(&ptys);
            return 1;
        }
        // Modem 0 takes standard input and output with --stdio; the others take the pseudo-terminals in order.
        std::vector<HostBridgeConfig> bridges(count);
        for (size_t k = 0; k < count; ++k) {
            HostBridgeConfig& b = bridges[k];
            b.log_path = options.log_path;
            if (options.stdio && k == 0) {
                b.pace_ms = 300;
                continue;
            }
            HostPty& pty = ptys[k - (options.stdio ? 1 : 0)];
            b.in_fd = pty.master;
            b.out_fd = pty.master;
            b.pty = &pty;
            std::fprintf(stderr, "modemhost: serial port of modem %zu%s%s at %s (%s)\n", k + 1,
                         options.numbers.empty() ? "" : ", number ",
                         options.numbers.empty() ? "" : options.numbers[k].c_str(), pty.link_path.c_str(),
                         pty.slave_name.c_str());
        }
        // Modem 0 is bridged on this thread, the others each on a counted thread of their own, which tells
        // through an event when it is done (a join alone would hold the virtual clock).
        std::vector<std::unique_ptr<KEVENT>> done;
        std::vector<std::thread> others;
        for (size_t k = 1; k < count; ++k) {
            done.push_back(std::make_unique<KEVENT>());
            KEVENT* event = done.back().get();
            KeInitializeEvent(event, NotificationEvent, FALSE);
            HostModem* modem = modems[k].get();
            HostBridgeConfig* config = &bridges[k];
            others.emplace_back([&clock, event, modem, config, k] {
                {
                    const std::string name = "bridge" + std::to_string(k + 1);
                    platform::ClockThread registered(clock, true, name.c_str());
                    HostBridgeRun(modem, *config);
                    KeSetEvent(event, IO_NO_INCREMENT, FALSE);
                }
            });
        }
        status = HostBridgeRun(modems[0].get(), bridges[0]);
        HostBridgeRequestStop();
        for (auto& event : done)
            KeWaitForSingleObject(event.get(), Executive, KernelMode, FALSE, nullptr);
        for (auto& t : others)
            t.join();
        stop_all(&modems, &line);
    }
    close_ptys(&ptys);
    return status;
}
