// The bridge between the modem's serial port and the outside: a reader thread (outside the platform) takes
// bytes from standard input or the pseudo-terminal and hands them over through an event; the host's main
// thread, a counted platform thread, writes them to the serial device, reads what the modem sends and passes
// it out, and follows the pseudo-terminal's baud rate as DTR.
#pragma once

#include <string>

#include "host/host_modem.h"
#include "host/host_pty.h"

struct HostBridgeConfig {
    int in_fd = 0;
    int out_fd = 1;
    HostPty* pty = nullptr;            // set in --pty mode
    std::string log_path;              // drivers' debug output, empty: none
    unsigned quiet_ms_after_eof = 1000;  // output silence that ends a --stdio run after end of input
    // --stdio: hand the input over one line (up to a CR) at a time, each after the modem has been silent
    // this long and no call attempt, answer, hang-up or test is still running, as a scripted client waits for
    // each response (input arriving while a command line runs is discarded by the modem, and a character
    // during dialling ends the call). The end of input waits for the same. 0: pass input on as it comes.
    unsigned pace_ms = 0;
};

// Runs until end of input has drained (--stdio) or a stop signal; returns the exit status.
int HostBridgeRun(HostModem* modem, const HostBridgeConfig& config);
// Asks a running bridge to stop (safe from a signal handler).
void HostBridgeRequestStop();
