// modemhost: runs a modem in this process (platform, line stand-in, data pump, controller) and bridges its
// serial port to standard input and output or to a pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <string>

#include "host/host_bridge.h"
#include "host/host_modem.h"
#include "host/host_options.h"
#include "host/host_pty.h"
#include "platform/clock.h"

namespace {

void on_signal(int)
{
    HostBridgeRequestStop();
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

    HostPty pty;
    if (!options.pty_path.empty() && !HostPtyOpen(&pty, options.pty_path, &error)) {
        std::fprintf(stderr, "modemhost: %s\n", error.c_str());
        return 1;
    }
    platform::ClockConfig clock_config;
    clock_config.mode = options.real_time ? platform::ClockMode::Real : platform::ClockMode::Virtual;
    clock_config.name = "modemhost";
    int status;
    {
        platform::Clock clock(clock_config);
        platform::ClockThread self(clock, true, "modemhost");
        HostModem modem(clock);
        if (!modem.Start(options, &error)) {
            std::fprintf(stderr, "modemhost: %s\n", error.c_str());
            modem.Stop();
            HostPtyClose(&pty);
            return 1;
        }
        HostBridgeConfig bridge;
        bridge.log_path = options.log_path;
        bridge.pace_ms = options.stdio ? 300 : 0;
        if (!options.pty_path.empty()) {
            bridge.in_fd = pty.master;
            bridge.out_fd = pty.master;
            bridge.pty = &pty;
            std::fprintf(stderr, "modemhost: serial port at %s (%s)\n", pty.link_path.c_str(), pty.slave_name.c_str());
        }
        status = HostBridgeRun(&modem, bridge);
        modem.Stop();
    }
    HostPtyClose(&pty);
    return status;
}
