#include "fax_far_end.h"

#include <spandsp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace faxfar {

namespace {

constexpr int kBlock = 80;  // 10 ms at 8000 Hz
constexpr int kTailBlocks = 100;  // the line is held 1 s after the session's end (the last frame's tail)
constexpr int kTurnBlocks = 50;   // real time for 0.5 s after the modem's signal ends

thread_local std::string* t_log = nullptr;
thread_local long t_block = 0;

// Each line of the terminal's log with the line time it was written at.
void LogLine(int, const char* text)
{
    if (t_log == nullptr)
        return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%7.2f ", static_cast<double>(t_block) / 100.0);
    t_log->append(stamp);
    t_log->append(text);
}

struct Session {
    bool ended = false;
    int completion = -1;
};

void PhaseE(t30_state_t*, void* user, int completion)
{
    auto* s = static_cast<Session*>(user);
    s->ended = true;
    s->completion = completion;
}

int Connect(const std::string& path, const std::atomic<bool>& stop)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    for (int attempt = 0; attempt < 400 && !stop.load(); ++attempt) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0)
            return -1;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return fd;
        close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return -1;
}

bool ReadAll(int fd, uint8_t* p, size_t n)
{
    while (n != 0) {
        const ssize_t r = recv(fd, p, n, 0);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* p, size_t n)
{
    while (n != 0) {
        const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

double Energy(const int16_t* x, int n)
{
    double e = 0;
    for (int i = 0; i < n; ++i)
        e += static_cast<double>(x[i]) * x[i];
    return e / n;
}

}  // namespace

FarEnd::FarEnd(const Config& config) : config_(config)
{
    thread_ = std::thread([this] { Run(); });
}

FarEnd::~FarEnd()
{
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
}

Result FarEnd::Wait()
{
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> hold(lock_);
    return result_;
}

void FarEnd::Run()
{
    std::string log;
    t_log = &log;
    Session session;
    fax_state_t* fax = nullptr;
    Result r;
    const int fd = Connect(config_.socket_path, stop_);
    r.connected = fd >= 0;
    auto due = std::chrono::steady_clock::now();
    bool heard = false;
    long real_time_until = 0;
    const long limit = static_cast<long>(config_.limit_s) * 100;
    long heard_at = -1;
    long ended_at = -1;
    uint8_t bytes[2 * kBlock];
    int16_t in[kBlock];
    int16_t out[kBlock];
    for (long block = 0; fd >= 0 && block < limit && !stop_.load(); ++block) {
        t_block = block;
        if (!ReadAll(fd, bytes, sizeof bytes))
            break;  // the modem side closed the line
        for (int i = 0; i < kBlock; ++i)
            in[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
        if (fax == nullptr) {
            // The caller starts at once; the answerer once the modem has dialled.
            if (heard_at < 0 && Energy(in, kBlock) > 1.0e5)
                heard_at = block;
            if (config_.calling || (heard_at >= 0 && block - heard_at >= config_.answer_delay_ms / 10)) {
                fax = fax_init(nullptr, config_.calling ? 1 : 0);
                t30_state_t* t30 = fax_get_t30_state(fax);
                logging_state_t* logging = t30_get_logging_state(t30);
                span_log_set_level(logging, static_cast<int>(SPAN_LOG_FLOW) | static_cast<int>(SPAN_LOG_SHOW_TAG));
                span_log_set_tag(logging, config_.calling ? "far-tx" : "far-rx");
                span_log_set_message_handler(logging, LogLine);
                fax_set_transmit_on_idle(fax, 1);
                t30_set_tx_ident(t30, "+1 555 0100");
                t30_set_ecm_capability(t30, 0);
                t30_set_supported_modems(t30, config_.modems);
                t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION);
                t30_set_phase_e_handler(t30, PhaseE, &session);
                if (config_.calling)
                    t30_set_tx_file(t30, config_.tx_file.c_str(), -1, -1);
                else
                    t30_set_rx_file(t30, config_.rx_file.c_str(), -1);
            }
        }
        if (fax != nullptr) {
            fax_rx(fax, in, kBlock);
            const int n = fax_tx(fax, out, kBlock);
            for (int i = n; i < kBlock; ++i)
                out[i] = 0;
        } else {
            std::memset(out, 0, sizeof out);
        }
        for (int i = 0; i < kBlock; ++i) {
            const uint16_t v = static_cast<uint16_t>(out[i]);
            bytes[2 * i] = static_cast<uint8_t>(v);
            bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
        if (!WriteAll(fd, bytes, sizeof bytes))
            break;
        if (session.ended && ended_at < 0)
            ended_at = block;
        r.seconds = static_cast<double>(block) / 100.0;
        if (ended_at >= 0 && block - ended_at >= kTailBlocks)
            break;
        // The modem's signal ending is a turn-around: the fax program gets its result and gives the next
        // command (+FRM or +FRH) while this side waits its 75 ms and starts sending. The program reacts in real
        // time, so for a while after each turn the line runs at real time too.
        const bool sound = Energy(in, kBlock) > 1.0e5;
        if (heard && !sound)
            real_time_until = block + kTurnBlocks;
        heard = sound;
        // The pace: each block is due 10 ms / speed of wall time after the one before. A side that fell behind
        // (a busy machine) does not catch up in a burst, which would squeeze the line's time against the fax
        // program's.
        due += std::chrono::microseconds(
            static_cast<long>(std::lround(10000.0 / (block < real_time_until ? 1.0 : config_.speed))));
        const auto now = std::chrono::steady_clock::now();
        if (now > due + std::chrono::milliseconds(20))
            due = now;
        std::this_thread::sleep_until(due);
    }
    if (fax != nullptr) {
        t30_state_t* t30 = fax_get_t30_state(fax);
        t30_stats_t stats{};
        t30_get_transfer_statistics(t30, &stats);
        r.pages = config_.calling ? stats.pages_tx : stats.pages_rx;
        r.bit_rate = stats.bit_rate;
        if (!session.ended)
            t30_terminate(t30);  // closes the files
        fax_free(fax);
    }
    if (fd >= 0)
        close(fd);
    t_log = nullptr;
    r.finished = session.ended;
    r.completion = session.completion;
    r.log = log;
    std::lock_guard<std::mutex> hold(lock_);
    result_ = r;
}

}  // namespace faxfar
