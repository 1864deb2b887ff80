#include "host/host_options.h"

#include <cstring>
#include <string>

#include "line/exchange.h"

const char* HostUsage()
{
    return "usage: modemhost (--stdio | --pty PATH) [options]\n"
           "       modemhost --line exchange [--stdio] [--pty PATH]... --number N... [options]\n"
           "Runs a software modem in this process and bridges its serial port; on a simulated exchange,\n"
           "several modems, each with its own telephone number and serial port.\n"
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
           "                         exchange        a telephone exchange with one line per --number, giving\n"
           "                                         the tones and ringing of the first modem's country\n"
           "  --number N           the telephone number (digits 0-9, A-D, * and #) of the next modem on the\n"
           "                       exchange; the first modem takes --stdio when given, the others one --pty\n"
           "                       each, in order; with --registry FILE, modem k > 1 keeps its settings in\n"
           "                       FILE.k\n"
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
    if (line == "idle" || line == "exchange")
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
            std::string path;
            if (!take_value(argc, argv, &k, &path, error))
                return false;
            o->pty_paths.push_back(path);
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
                *error = "bad line endpoint '" + o->line + "' (idle, socket:PATH, file:IN[,OUT] or exchange)";
                return false;
            }
        } else if (std::strcmp(a, "--number") == 0) {
            std::string number;
            if (!take_value(argc, argv, &k, &number, error))
                return false;
            if (!ExchangeNumberValid(number)) {
                *error = "bad telephone number '" + number + "' (1 to 32 of the digits 0-9, A-D, * and #)";
                return false;
            }
            for (const std::string& n : o->numbers) {
                if (n == number) {
                    *error = "the number " + number + " is given twice";
                    return false;
                }
            }
            o->numbers.push_back(number);
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
    const size_t ports = (o->stdio ? 1 : 0) + o->pty_paths.size();
    if (o->line == "exchange") {
        if (o->numbers.empty() || ports != o->numbers.size()) {
            *error = "--line exchange needs one --number per modem and one serial port (--stdio or --pty PATH) "
                     "per number: " + std::to_string(o->numbers.size()) + " numbers, " + std::to_string(ports) +
                     " serial ports";
            return false;
        }
        return true;
    }
    if (!o->numbers.empty()) {
        *error = "--number is for modems on --line exchange";
        return false;
    }
    if (ports != 1) {
        *error = "choose exactly one of --stdio and --pty PATH";
        return false;
    }
    return true;
}

size_t HostModemCount(const HostOptions& options)
{
    return options.line == "exchange" ? options.numbers.size() : 1;
}
