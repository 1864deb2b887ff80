#include "host/host_bridge.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/serial_ioctl.h"
#include "platform/kernel.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

// What the reader thread hands over.
struct Inbox {
    std::mutex lock;
    std::string bytes;
    bool eof = false;
    KEVENT* event = nullptr;
};

void reader(int fd, Inbox* inbox)
{
    char buffer[512];
    while (!g_stop) {
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, 100);
        if (r < 0 && errno != EINTR)
            break;
        if (r <= 0)
            continue;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        std::lock_guard<std::mutex> hold(inbox->lock);
        if (n <= 0) {
            inbox->eof = true;
            KeSetEvent(inbox->event, IO_NO_INCREMENT, FALSE);
            return;
        }
        inbox->bytes.append(buffer, static_cast<size_t>(n));
        KeSetEvent(inbox->event, IO_NO_INCREMENT, FALSE);
    }
    std::lock_guard<std::mutex> hold(inbox->lock);
    inbox->eof = true;
}

// Writes everything (waiting for the reader of a pseudo-terminal); false when the output is gone.
bool write_all(int fd, const char* data, size_t length)
{
    while (length != 0) {
        if (g_stop)
            return false;
        ssize_t n = write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

void append_log(const std::string& path, const std::string& text)
{
    if (path.empty() || text.empty())
        return;
    if (FILE* f = std::fopen(path.c_str(), "a")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

// A call attempt, answer, hang-up or test still runs on the modem: its result is yet to come. (The state is
// one byte the controller task writes; a stale read only delays the next line by one round.)
bool call_running(HostModem* modem)
{
    const AcuContext* acu = modem->Ext()->acu;
    if (acu == nullptr)
        return false;
    const uint8_t state = __atomic_load_n(&acu->call_state, __ATOMIC_RELAXED);
    return state == CALL_ORIGINATE || state == CALL_ANSWER || state == CALL_HANGUP || state == CALL_TEST;
}

}  // namespace

void HostBridgeRequestStop()
{
    g_stop = 1;
}

int HostBridgeRun(HostModem* modem, const HostBridgeConfig& config)
{
    platform::Machine& m = modem->M();
    platform::MachineScope scope(m);
    KEVENT input_event;
    KeInitializeEvent(&input_event, SynchronizationEvent, FALSE);
    Inbox inbox;
    inbox.event = &input_event;
    platform::ExternalSource outside(m.GetClock());
    std::thread reader_thread(reader, config.in_fd, &inbox);
    DteContext* dte = &modem->Ext()->dte;

    int status = 0;
    int dtr = -1;
    LONGLONG quiet_since = m.GetClock().Now();
    std::string pending;
    for (unsigned round = 0;; ++round) {
        bool eof;
        {
            std::lock_guard<std::mutex> hold(inbox.lock);
            pending += inbox.bytes;
            inbox.bytes.clear();
            eof = inbox.eof;
        }
        std::string in;
        if (config.pace_ms == 0) {
            in.swap(pending);
        } else if (!pending.empty() &&
                   m.GetClock().Now() - quiet_since >= static_cast<LONGLONG>(config.pace_ms) * 10000 &&
                   !call_running(modem)) {
            std::size_t cr = pending.find('\r');
            std::size_t take = cr == std::string::npos ? pending.size() : cr + 1;
            in = pending.substr(0, take);
            pending.erase(0, take);
        }
        if (!in.empty()) {
            ULONG_PTR n = 0;
            m.Write(modem->File(), in.data(), static_cast<ULONG>(in.size()), &n);
            quiet_since = m.GetClock().Now();
        }
        if (config.pty != nullptr) {
            int now_dtr = HostPtyDtr(config.pty) ? 1 : 0;
            if (now_dtr != dtr) {
                dtr = now_dtr;
                ULONG_PTR info = 0;
                m.DeviceIoControl(modem->File(), dtr ? IOCTL_SERIAL_SET_DTR : IOCTL_SERIAL_CLR_DTR, nullptr, 0,
                                  nullptr, 0, &info);
            }
        }
        char out[1024];
        ULONG_PTR got = 0;
        m.Read(modem->File(), out, sizeof out, &got);
        if (got != 0) {
            quiet_since = m.GetClock().Now();
            if (!write_all(config.out_fd, out, got)) {
                status = g_stop ? 0 : 1;
                break;
            }
        }
        if (round % 100 == 0)
            append_log(config.log_path, modem->TakeDebugText());
        if (g_stop)
            break;
        if (eof && pending.empty() && got == 0 && dte_cmd_in_count(dte) == 0 && dte_app_tx_count(dte) == 0 &&
            (config.pace_ms == 0 || !call_running(modem))) {
            LONGLONG quiet = m.GetClock().Now() - quiet_since;
            if (quiet >= static_cast<LONGLONG>(config.quiet_ms_after_eof) * 10000)
                break;
        }
        LARGE_INTEGER timeout;
        timeout.QuadPart = -10LL * 10000;  // 10 ms
        KeWaitForSingleObject(&input_event, Executive, KernelMode, FALSE, &timeout);
    }
    g_stop = 1;
    reader_thread.join();
    append_log(config.log_path, modem->TakeDebugText());
    return status;
}
