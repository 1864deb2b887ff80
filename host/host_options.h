// Command-line options of modemhost.
#pragma once

#include <string>

struct HostOptions {
    bool stdio = false;
    std::string pty_path;      // --pty PATH
    std::string registry;      // --registry FILE (empty: the registry lives in memory)
    bool real_time = false;    // --real-time (default virtual time)
    std::string line = "idle"; // --line idle | socket:PATH | file:IN[,OUT]
    std::string log_path;      // --log FILE
    bool help = false;
};

// Parses argv; false with a message in *error for a bad option.
bool ParseHostOptions(int argc, char** argv, HostOptions* options, std::string* error);
// The --help text.
const char* HostUsage();
