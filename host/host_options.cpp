#include "host/host_options.h"

#include <cstring>

const char* HostUsage()
{
    return "usage: modemhost (--stdio | --pty PATH) [options]\n"
           "Runs a software modem in this process and bridges its serial port.\n"
           "\n"
           "  --stdio              the serial port on standard input and output; the program ends when the\n"
           "                       input ends and the modem's output has drained\n"
           "  --pty PATH           a pseudo-terminal linked at PATH that a terminal program can open like a\n"
           "                       serial device (a baud rate of 0 set on it is taken as DTR dropped)\n"
           "  --registry FILE      the registry file (created with factory values when missing; without it the\n"
           "                       registry lives in memory only)\n"
           "  --virtual-time       run on the virtual clock (default)\n"
           "  --real-time          run on the wall clock\n"
           "  --line ENDPOINT      what the telephone line is connected to:\n"
           "                         idle            nothing (default)\n"
           "                         socket:PATH     a raw 16-bit 8000 Hz sample socket listening at PATH\n"
           "                         file:IN[,OUT]   play IN into the line, record the line to OUT\n"
           "  --log FILE           write the drivers' debug output to FILE\n"
           "  --help               this text\n";
}

namespace {

bool take_value(int argc, char** argv, int* k, std::string* value, std::string* error)
{
    if (*k + 1 >= argc || argv[*k + 1][0] == 0) {
        *error = std::string("option ") + argv[*k] + " needs a value";
        return false;
    }
    *value = argv[++*k];
    return true;
}

bool line_valid(const std::string& line)
{
    if (line == "idle")
        return true;
    if (line.rfind("socket:", 0) == 0)
        return line.size() > 7;
    if (line.rfind("file:", 0) == 0)
        return line.size() > 5 && line[5] != ',';
    return false;
}

}  // namespace

bool ParseHostOptions(int argc, char** argv, HostOptions* o, std::string* error)
{
    for (int k = 1; k < argc; ++k) {
        const char* a = argv[k];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            o->help = true;
        } else if (std::strcmp(a, "--stdio") == 0) {
            o->stdio = true;
        } else if (std::strcmp(a, "--pty") == 0) {
            if (!take_value(argc, argv, &k, &o->pty_path, error))
                return false;
        } else if (std::strcmp(a, "--registry") == 0) {
            if (!take_value(argc, argv, &k, &o->registry, error))
                return false;
        } else if (std::strcmp(a, "--virtual-time") == 0) {
            o->real_time = false;
        } else if (std::strcmp(a, "--real-time") == 0) {
            o->real_time = true;
        } else if (std::strcmp(a, "--line") == 0) {
            if (!take_value(argc, argv, &k, &o->line, error))
                return false;
            if (!line_valid(o->line)) {
                *error = "bad line endpoint '" + o->line + "' (idle, socket:PATH or file:IN[,OUT])";
                return false;
            }
        } else if (std::strcmp(a, "--log") == 0) {
            if (!take_value(argc, argv, &k, &o->log_path, error))
                return false;
        } else {
            *error = std::string("unknown option '") + a + "'";
            return false;
        }
    }
    if (o->help)
        return true;
    if (o->stdio == !o->pty_path.empty()) {
        *error = "choose exactly one of --stdio and --pty PATH";
        return false;
    }
    return true;
}
