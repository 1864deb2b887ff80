// End to end with a widely used voice program: Debian's vgetty (package mgetty-voice, its V.253 driver) runs
// as the answering machine on the serial port of one modem that modemhost puts on a simulated exchange; the
// test is the caller on the second modem. vgetty answers on the first ring, plays its greeting and beep and
// records; the caller waits for the end of the beep, then plays a 1 kHz tone and the keys "123#". vgetty
// must hear the keys in order, and its recording must hold the tone within 3 dB of the level sent.
//
// vgetty reads its configuration from /etc/mgetty and logs to /var/log/mgetty; the test runs it in a private
// mount namespace with its own directories bound there, which needs root. Without vgetty, root or namespaces
// the test is skipped with the reason.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "line/g711.h"
#include "support/host_process.h"
#include "voice/tone_fit.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kToneAmplitude = 8000.0;
constexpr int kRate = 8000;
constexpr double kBeepHz = 933.0;
constexpr const char* kVgetty = "/usr/sbin/vgetty";

using Clock = std::chrono::steady_clock;
using hostproc::ReadFile;
using hostproc::SelfDir;
using hostproc::Spawn;
using hostproc::Stop;
using hostproc::WriteFile;

// The greeting in vgetty's own file format: a 32-byte header (V.253 modem, coding 8 = 8-bit unsigned
// linear, 8000 Hz, 8 bits) and one second of 440 Hz.
std::string Greeting()
{
    std::string rmd("RMD1V253modem", 13);
    rmd.resize(32, '\0');
    rmd[21] = 8;
    rmd[22] = static_cast<char>(kRate >> 8);
    rmd[23] = static_cast<char>(kRate & 0xFF);
    rmd[24] = 8;
    for (int i = 0; i < kRate; ++i)
        rmd.push_back(static_cast<char>(128 + std::lround(40.0 * std::sin(2 * kPi * 440.0 * i / kRate))));
    return rmd;
}

// The caller's audio (A-law, the modem's default coding, DLE shielded): 3 s quiet while vgetty starts
// recording, 1.5 s of the tone, 300 ms quiet, the keys (100 ms on, 100 ms off), 2 s quiet, DLE ETX.
std::string CallerAudio(const std::string& keys)
{
    static const char kKeys[] = "123A456B789C*0#D";
    static const double kLow[] = {697, 770, 852, 941};
    static const double kHigh[] = {1209, 1336, 1477, 1633};
    std::vector<double> x(3 * kRate, 0.0);
    for (int i = 0; i < 3 * kRate / 2; ++i)
        x.push_back(kToneAmplitude * std::sin(2 * kPi * 1000.0 * i / kRate));
    x.insert(x.end(), 3 * kRate / 10, 0.0);
    for (char key : keys) {
        const int k = static_cast<int>(std::strchr(kKeys, key) - kKeys);
        for (int i = 0; i < kRate / 10; ++i)
            x.push_back(5000.0 * (std::sin(2 * kPi * kLow[k / 4] * i / kRate) + std::sin(2 * kPi * kHigh[k % 4] * i / kRate)));
        x.insert(x.end(), kRate / 10, 0.0);
    }
    x.insert(x.end(), 2 * kRate, 0.0);
    std::string out;
    for (double v : x) {
        const char c = static_cast<char>(LinearToAlaw(static_cast<int16_t>(std::lround(v))));
        out.push_back(c);
        if (c == '\x10')
            out.push_back(c);
    }
    return out + "\x10\x03";
}

double Goertzel(const int16_t* x, int n, double f)
{
    const double k = 2 * std::cos(2 * kPi * f / kRate);
    double s1 = 0, s2 = 0;
    for (int i = 0; i < n; ++i) {
        const double s0 = x[i] + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(std::fmax(0.0, s1 * s1 + s2 * s2 - k * s1 * s2)) * 2 / n;
}

// The caller's serial port (a pseudo-terminal of modemhost).
class Port {
public:
    explicit Port(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY))
    {
        if (fd_ < 0)
            return;
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~Port()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool Good() const { return fd_ >= 0; }
    // Reads what arrives within ms.
    void Pump(int ms)
    {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, ms) > 0 && (p.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n > 0)
                in.append(buffer, static_cast<size_t>(n));
        }
    }
    bool WaitFor(const std::string& text, size_t from, int ms)
    {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            if (in.find(text, from) != std::string::npos)
                return true;
            Pump(20);
        }
        return in.find(text, from) != std::string::npos;
    }
    bool Command(const std::string& line, const std::string& answer, int ms = 5000)
    {
        const size_t from = in.size();
        Write(line + "\r");
        return WaitFor(answer, from, ms);
    }
    // Writes everything, reading meanwhile (the modem takes the bytes at the audio rate).
    void Write(const std::string& bytes)
    {
        size_t at = 0;
        while (at < bytes.size()) {
            pollfd p{fd_, POLLOUT | POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            if (p.revents & POLLIN)
                Pump(0);
            if (p.revents & POLLOUT) {
                const ssize_t n = write(fd_, bytes.data() + at, std::min<size_t>(256, bytes.size() - at));
                if (n > 0)
                    at += static_cast<size_t>(n);
            }
        }
    }
    std::string in;

private:
    int fd_;
};

class VgettyAnswering : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (access(kVgetty, X_OK) != 0)
            GTEST_SKIP() << "vgetty is not installed (Debian package mgetty-voice, installed by scripts/deps.sh)";
        if (geteuid() != 0)
            GTEST_SKIP() << "vgetty needs root here (it runs in a private mount namespace with its own /etc/mgetty)";
        if (std::system("unshare -m --propagation private true > /dev/null 2>&1") != 0)
            GTEST_SKIP() << "mount namespaces are not available, so vgetty cannot get its own configuration";
        host_ = SelfDir() + "/modemhost";
        if (access(host_.c_str(), X_OK) != 0)
            GTEST_SKIP() << "modemhost is not built beside the test program";
        char tmpl[] = "/tmp/vgetty-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        tty_ = "ttyVT" + std::to_string(getpid());
        for (const char* sub : {"/etc", "/log", "/voice", "/voice/messages", "/voice/incoming"})
            mkdir((dir_ + sub).c_str(), 0755);
        WriteFile(dir_ + "/etc/mgetty.config", "speed 38400\n");
        WriteFile(dir_ + "/etc/login.config", "");
        WriteFile(dir_ + "/etc/dialin.config", "");
        WriteFile(dir_ + "/etc/voice.conf",
                  "part generic\n"
                  "voice_log_level 6\n"
                  "voice_dir " + dir_ + "/voice\n"
                  "port_speed 38400\n"
                  "rec_compression 8\n"
                  "rec_speed 8000\n"
                  "rec_silence_len 0\n"
                  "rec_silence_threshold 128\n"
                  "rec_max_len 15\n"
                  "rec_always_keep true\n"
                  "do_hard_flow false\n"
                  "beep_frequency 933\n"
                  "beep_length 300\n"
                  "forceV253 TRUE\n"
                  "enable_compression_mapping_querry false\n"
                  "compression_8bit_linear_unsigned 0\n"
                  "receive_gain -1\n"
                  "transmit_gain -1\n"
                  "program vgetty\n"
                  "rings 1\n"
                  "answer_mode voice\n"
                  "dtmf_program dtmf.sh\n");
        WriteFile(dir_ + "/voice/messages/Index", "standard.rmd\n");
        WriteFile(dir_ + "/voice/messages/standard.rmd", Greeting());
        WriteFile(dir_ + "/voice/dtmf.sh", "#!/bin/sh\necho \"$*\" > " + dir_ + "/dtmf_code\n", 0755);
        // Modem 201 is vgetty's, modem 202 the caller's.
        a_ = "/dev/" + tty_ + "a";
        b_ = "/dev/" + tty_ + "b";
        host_pid_ = Spawn({host_, "--line", "exchange", "--real-time", "--pty", a_, "--number", "201", "--pty", b_,
                           "--number", "202", "--log", dir_ + "/modem.log"},
                          dir_ + "/host.out");
        ASSERT_TRUE(hostproc::WaitForPaths({a_, b_}, 5000)) << ReadFile(dir_ + "/host.out");
        {
            Port a(a_);
            ASSERT_TRUE(a.Good());
            ASSERT_TRUE(a.Command("AT+FCLASS=8", "\r\n")) << a.in;
            if (a.in.find("ERROR") != std::string::npos)
                GTEST_SKIP() << "the modem has no +FCLASS command yet, so voice mode cannot be selected";
            ASSERT_TRUE(a.Command("AT+FCLASS=0", "OK")) << a.in;
        }
        const std::string script = "mount --bind " + dir_ + "/etc /etc/mgetty && mkdir -p /var/log/mgetty && " +
                                   "mount --bind " + dir_ + "/log /var/log/mgetty && exec " + kVgetty +
                                   " -x 6 -n 1 " + tty_ + "a";
        vgetty_pid_ = Spawn({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c", script},
                            dir_ + "/vgetty.out");
    }
    void TearDown() override
    {
        Stop(vgetty_pid_);
        Stop(host_pid_);
        if (!dir_.empty() && !HasFailure())
            std::system(("rm -rf " + dir_).c_str());
        else if (!dir_.empty())
            std::printf("kept %s for the logs\n", dir_.c_str());
    }
    std::string Log() { return ReadFile(dir_ + "/log/vg_" + tty_ + "a.log"); }
    bool WaitLog(const std::string& text, int ms)
    {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            if (Log().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }
    std::string Recording()
    {
        DIR* d = opendir((dir_ + "/voice/incoming").c_str());
        std::string name;
        while (dirent* e = d != nullptr ? readdir(d) : nullptr)
            if (std::strstr(e->d_name, ".rmd") != nullptr)
                name = e->d_name;
        if (d != nullptr)
            closedir(d);
        return name.empty() ? std::string() : ReadFile(dir_ + "/voice/incoming/" + name);
    }

    std::string host_;
    std::string dir_;
    std::string tty_;
    std::string a_;
    std::string b_;
    pid_t host_pid_ = -1;
    pid_t vgetty_pid_ = -1;
};

TEST_F(VgettyAnswering, RecordsTheCallersToneAndHearsTheKeysInOrder)
{
    // vgetty sets the modem up in voice mode once and waits for a call in data mode.
    ASSERT_TRUE(WaitLog("waiting...", 60000)) << Log();
    Port b(b_);
    ASSERT_TRUE(b.Good());
    ASSERT_TRUE(b.Command("ATDT201;", "OK", 20000)) << b.in;
    ASSERT_TRUE(b.Command("AT+FCLASS=8", "OK")) << b.in;
    ASSERT_TRUE(b.Command("AT+VLS=1", "OK")) << b.in;
    // Listen until vgetty's beep has come and gone: the greeting is over and its recording begins.
    ASSERT_TRUE(b.Command("AT+VRX", "\r\nCONNECT\r\n")) << b.in;
    size_t at = b.in.size();
    bool beep = false;
    bool over = false;
    const auto limit = Clock::now() + std::chrono::seconds(60);
    while (!over && Clock::now() < limit) {
        b.Pump(20);
        while (!over && b.in.size() - at >= 160) {
            int16_t x[160];
            for (int i = 0; i < 160; ++i)
                x[i] = AlawToLinear(static_cast<uint8_t>(b.in[at + static_cast<size_t>(i)]));
            at += 160;
            const bool on = Goertzel(x, 160, kBeepHz) > 1000.0;
            beep = beep || on;
            over = beep && !on;
        }
    }
    ASSERT_TRUE(over) << "no beep heard; vgetty log:\n" << Log();
    b.Write("\x10!");
    ASSERT_TRUE(b.WaitFor("\x10\x03\r\nOK\r\n", at, 5000));
    ASSERT_TRUE(b.Command("AT+VTX", "\r\nCONNECT\r\n")) << b.in;
    b.Write(CallerAudio("123#"));
    ASSERT_TRUE(b.WaitFor("\r\nOK\r\n", b.in.rfind("CONNECT"), 10000));
    // vgetty ends the recording at '#' and hands the code to its DTMF program.
    ASSERT_TRUE(WaitLog("closing voice modem device", 30000)) << Log();
    std::string keys;
    const std::string log = Log();
    const std::string mark = "got event RECEIVED_DTMF with data <";
    for (size_t p = log.find(mark); p != std::string::npos; p = log.find(mark, p + 1))
        keys.push_back(log[p + mark.size()]);
    EXPECT_EQ(keys, "123#");
    // The recording: vgetty's header, then 8-bit unsigned samples.
    const std::string rmd = Recording();
    ASSERT_GT(rmd.size(), 32u + 2u * kRate) << log;
    EXPECT_EQ(rmd.compare(0, 13, "RMD1V253modem"), 0);
    std::vector<int16_t> samples;
    for (size_t i = 32; i < rmd.size(); ++i)
        samples.push_back(static_cast<int16_t>((static_cast<uint8_t>(rmd[i]) - 128) * 256));
    size_t onset = 0;
    while (onset < samples.size() && std::abs(samples[onset]) < 3000)
        ++onset;
    ASSERT_LT(onset + kRate + kRate / 10, samples.size()) << "no tone in the recording";
    const std::vector<int16_t> tone(samples.begin() + static_cast<long>(onset) + kRate / 10,
                                    samples.begin() + static_cast<long>(onset) + kRate + kRate / 10);
    const double db = 20.0 * std::log10(voicetest::ToneAmplitude(tone, 1000.0, kRate) / kToneAmplitude);
    EXPECT_NEAR(db, 0.0, 3.0);
}

}  // namespace
