// The far end of the line for the fax end-to-end tests: an independent fax terminal (libspandsp's T.30 over
// audio) on modemhost's raw-sample socket. The socket runs in lockstep with the modem: per 10 ms the modem's
// 80 samples come in and the terminal's 80 go back, and the modem's time stands still until they do. This
// side paces the blocks against the wall clock at `speed` times real time, and at real time for a moment
// after each end of the modem's signal (where the fax program's next command races the terminal's reply), so
// the fax program on the serial port, which runs in real time, keeps the protocol's timing.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace faxfar {

struct Config {
    std::string socket_path;
    bool calling = false;        // true: the terminal calls and sends; false: it answers and receives
    std::string tx_file;         // the TIFF the terminal sends (calling)
    std::string rx_file;         // the TIFF it writes what it receives into (answering)
    int modems = 7;              // T30_SUPPORT_V27TER | V29 | V17
    double speed = 3.0;          // virtual time against real time
    int answer_delay_ms = 1500;  // answering: silence after the first sound the modem makes (its dialling)
    int limit_s = 90;            // virtual seconds before the terminal gives up
};

struct Result {
    bool connected = false;      // the socket was reached
    bool finished = false;       // the T.30 session ended (phase E)
    int completion = -1;         // T30_ERR_OK (0) when the document went through
    int pages = 0;               // pages sent or received
    int bit_rate = 0;
    double seconds = 0;          // virtual time the session took
    std::string log;             // the terminal's protocol log
};

class FarEnd {
public:
    explicit FarEnd(const Config& config);
    ~FarEnd();
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;
    // Waits until the session is over (phase E and a short tail), the line is gone, or the limit passes.
    Result Wait();
    void Stop() { stop_.store(true); }

private:
    void Run();
    Config config_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    Result result_;
    std::thread thread_;
};

}  // namespace faxfar
