// Command-line options of modemhost.
#pragma once

#include <string>
#include <vector>

struct HostOptions {
    bool stdio = false;
    std::vector<std::string> pty_paths;  // --pty PATH, one per modem bridged through a pseudo-terminal
    std::string registry;      // --registry FILE (empty: the registry lives in memory)
    bool real_time = false;    // --real-time (default virtual time)
    std::string line = "idle"; // --line idle | socket:PATH | file:IN[,OUT] | exchange
    std::vector<std::string> numbers;  // --number N, one per modem on the exchange
    std::string log_path;      // --log FILE
    bool help = false;
};

// The modems to run: one, or with --line exchange one per number. Modem k's serial port is standard input
// and output for k = 0 with --stdio, else the next pseudo-terminal in the order given.
size_t HostModemCount(const HostOptions& options);
// Parses argv; false with a message in *error for a bad option.
bool ParseHostOptions(int argc, char** argv, HostOptions* options, std::string* error);
// The --help text.
const char* HostUsage();
