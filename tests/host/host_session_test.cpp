// modemhost end to end: AT sessions through --stdio and through a pseudo-terminal that the test opens like
// a serial device, and the errors for bad options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

std::string HostPath()
{
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "modemhost";
    self[n] = 0;
    std::string dir(self);
    return dir.substr(0, dir.rfind('/')) + "/modemhost";
}

// A per-process path prefix in the temporary folder: concurrent runs of the tests never share files.
std::string TempPrefix()
{
    return testing::TempDir() + "/modemhost" + std::to_string(getpid()) + "_";
}

struct HostRun {
    int status = -1;
    std::string out;
    std::string err;
};

// The whole contents of a file (empty when it cannot be read).
std::string ReadWholeFile(const std::string& path)
{
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char b[4096];
        size_t n;
        while ((n = std::fread(b, 1, sizeof b, f)) > 0)
            text.append(b, n);
        std::fclose(f);
    }
    return text;
}

// Runs modemhost with `input` on its standard input; collects its output and exit status.
HostRun RunHost(const std::vector<std::string>& args, const std::string& input)
{
    std::string dir = TempPrefix();
    std::string in_path = dir + "host_in.txt";
    std::string out_path = dir + "host_out.txt";
    std::string err_path = dir + "host_err.txt";
    FILE* f = std::fopen(in_path.c_str(), "wb");
    std::fwrite(input.data(), 1, input.size(), f);
    std::fclose(f);
    std::string cmd = "timeout 120 '" + HostPath() + "'";
    for (const std::string& a : args)
        cmd += " '" + a + "'";
    cmd += " <'" + in_path + "' >'" + out_path + "' 2>'" + err_path + "'";
    HostRun r;
    int s = std::system(cmd.c_str());
    r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    r.out = ReadWholeFile(out_path);
    r.err = ReadWholeFile(err_path);
    return r;
}

TEST(HostSessionTest, StdioAnswersAndEndsWithItsInput)
{
    HostRun r = RunHost({"--stdio"}, "AT\r");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "AT\r\r\nOK\r\n");
}

TEST(HostSessionTest, StdioScriptOfSeveralLines)
{
    std::string reg = TempPrefix() + "session.reg";
    std::remove(reg.c_str());
    HostRun r = RunHost({"--stdio", "--virtual-time", "--registry", reg},
                    "ATE0\rATI3\rATV0\rATS7?\rATY9\rATV1Q1\rATI3\r");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ATE0\r\r\nOK\r\n\r\nQiv\r\n\r\nOK\r\n0\r060\r\n0\r4\r\r\nQiv\r\n");
    struct stat st {};
    EXPECT_EQ(stat(reg.c_str(), &st), 0) << "a missing registry file is created";
    std::remove(reg.c_str());
}

// A scripted line waits for the result of a call attempt before the next line goes in (a character typed
// while the modem dials would end the call).
TEST(HostSessionTest, StdioWaitsForTheResultOfADial)
{
    HostRun r = RunHost({"--stdio"}, "ATX4DT1\rAT\r");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ATX4DT1\r\r\nNO DIALTONE\r\nAT\r\r\nOK\r\n");
}

TEST(HostSessionTest, BadOptionsAreClearErrors)
{
    struct Bad {
        std::vector<std::string> args;
        const char* message;
    };
    const Bad cases[] = {
        {{"--stdio", "--bogus"}, "unknown option"},
        {{}, "choose exactly one"},
        {{"--stdio", "--pty", "/tmp/x"}, "choose exactly one"},
        {{"--stdio", "--line", "phone"}, "bad line endpoint"},
        {{"--stdio", "--registry"}, "needs a value"},
        {{"--stdio", "--registry", "/nonexistent-folder/r.reg"}, "cannot be created"},
        {{"--stdio", "--registry", "/tmp"}, "is a directory"},
        {{"--pty", "/nonexistent-folder/tty"}, "cannot create"},
        {{"--stdio", "--number", "12"}, "--number is for modems on --line exchange"},
        {{"--stdio", "--line", "exchange"}, "needs one --number per modem"},
        {{"--stdio", "--line", "exchange", "--number", "12", "--number", "34"}, "needs one --number per modem"},
        {{"--line", "exchange", "--number", "12"}, "needs one --number per modem"},
        {{"--stdio", "--line", "exchange", "--number", "12x"}, "bad telephone number"},
        {{"--stdio", "--line", "exchange", "--number", ""}, "needs a value"},
        {{"--stdio", "--pty", "/tmp/x", "--line", "exchange", "--number", "12", "--number", "12"}, "given twice"},
    };
    for (const Bad& b : cases) {
        HostRun r = RunHost(b.args, "");
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(b.message), std::string::npos) << r.err;
    }
    HostRun help = RunHost({"--help"}, "");
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--stdio", "--pty", "--registry", "--virtual-time", "--real-time", "--line", "--log", "--number", "exchange"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

TEST(HostSessionTest, PseudoTerminalAnswersAT)
{
    std::string link = TempPrefix() + "pty-test";
    unlink(link.c_str());
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        execl(HostPath().c_str(), "modemhost", "--pty", link.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int fd = -1;
    for (int k = 0; k < 200 && fd < 0; ++k) {
        fd = open(link.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0)
            usleep(20000);
    }
    ASSERT_GE(fd, 0) << "the link appears";
    termios t {};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    cfsetospeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
    ASSERT_EQ(write(fd, "AT\r", 3), 3);
    std::string got;
    for (int k = 0; k < 500 && got.find("OK\r\n") == std::string::npos; ++k) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char b[256];
            ssize_t n = read(fd, b, sizeof b);
            if (n > 0)
                got.append(b, static_cast<size_t>(n));
        }
    }
    EXPECT_EQ(got, "AT\r\r\nOK\r\n");
    close(fd);
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link is removed at exit";
}

// Opens a pseudo-terminal link once modemhost has made it, raw at 115200 baud; -1 when it never appears.
int OpenLink(const std::string& link)
{
    int fd = -1;
    for (int k = 0; k < 200 && fd < 0; ++k) {
        fd = open(link.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0)
            usleep(20000);
    }
    if (fd < 0)
        return -1;
    termios t {};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetospeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Sends a command line and collects the answer up to "OK" or "ERROR" (or 10 s).
std::string Ask(int fd, const std::string& line)
{
    if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        return "(write failed)";
    std::string got;
    for (int k = 0; k < 500 && got.find("OK\r\n") == std::string::npos && got.find("ERROR") == std::string::npos;
         ++k) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char b[256];
            ssize_t n = read(fd, b, sizeof b);
            if (n > 0)
                got.append(b, static_cast<size_t>(n));
        }
    }
    return got;
}

// Reads from fd until `until` returns true or `ms` of wall time pass.
template <typename Until>
std::string ReadUntil(int fd, Until until, int ms)
{
    std::string got;
    for (int k = 0; k < ms / 20 && !until(got); ++k) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char b[1024];
            ssize_t n = read(fd, b, sizeof b);
            if (n > 0)
                got.append(b, static_cast<size_t>(n));
        }
    }
    return got;
}

// Two modems of one modemhost call each other through its exchange; a file written to the calling modem's
// pseudo-terminal comes out of the answering modem's intact, every byte value included.
TEST(HostSessionTest, AFileCrossesTheExchangeBetweenTwoPseudoTerminals)
{
    const std::string dir = TempPrefix();
    const std::string link1 = dir + "file-1", link2 = dir + "file-2";
    for (const std::string& f : {link1, link2})
        unlink(f.c_str());
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl(HostPath().c_str(), "modemhost", "--line", "exchange", "--pty", link1.c_str(), "--number", "201",
              "--pty", link2.c_str(), "--number", "202", static_cast<char*>(nullptr));
        _exit(127);
    }
    const int a = OpenLink(link1);
    const int b = OpenLink(link2);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_EQ(Ask(b, "ATS0=1+MS=V22B\r"), "ATS0=1+MS=V22B\r\r\nOK\r\n");
    const std::string dial = "ATX4+MS=V22B;DT202\r";
    ASSERT_EQ(write(a, dial.data(), dial.size()), static_cast<ssize_t>(dial.size()));
    auto connected = [](const std::string& s) { return s.find("CONNECT 2400\r\n") != std::string::npos; };
    const std::string answerA = ReadUntil(a, connected, 30000);
    const std::string answerB = ReadUntil(b, connected, 30000);
    ASSERT_TRUE(connected(answerA)) << answerA;
    ASSERT_TRUE(connected(answerB)) << answerB;
    usleep(200000);
    std::string file(3000, '\0');
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<char>(i * 11 + i / 256);
    size_t written = 0;
    std::string got;
    for (int k = 0; k < 3000 && got.size() < file.size(); ++k) {
        if (written < file.size()) {
            ssize_t n = write(a, file.data() + written, std::min<size_t>(512, file.size() - written));
            if (n > 0)
                written += static_cast<size_t>(n);
        }
        got += ReadUntil(b, [](const std::string& s) { return !s.empty(); }, 20);
    }
    EXPECT_EQ(got.size(), file.size());
    EXPECT_TRUE(got == file) << "the file arrived changed";
    close(a);
    close(b);
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(HostSessionTest, TwoModemsOnTheExchangeEachWithItsPortAndSettings)
{
    const std::string dir = TempPrefix();
    const std::string link1 = dir + "exchange-1", link2 = dir + "exchange-2";
    const std::string reg = dir + "exchange.reg";
    for (const std::string& f : {link1, link2, reg, reg + ".2"})
        unlink(f.c_str());
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl(HostPath().c_str(), "modemhost", "--line", "exchange", "--pty", link1.c_str(), "--number", "123",
              "--pty", link2.c_str(), "--number", "456", "--registry", reg.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const int a = OpenLink(link1);
    const int b = OpenLink(link2);
    EXPECT_GE(a, 0);
    EXPECT_GE(b, 0);
    if (a >= 0 && b >= 0) {
        // Each modem answers on its own port, with its own settings.
        EXPECT_EQ(Ask(a, "ATE0\r"), "ATE0\r\r\nOK\r\n");
        EXPECT_EQ(Ask(b, "AT\r"), "AT\r\r\nOK\r\n");
        EXPECT_EQ(Ask(a, "AT\r"), "\r\nOK\r\n");
    }
    if (a >= 0)
        close(a);
    if (b >= 0)
        close(b);
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat st {};
    EXPECT_NE(lstat(link1.c_str(), &st), 0) << "the links are removed at exit";
    EXPECT_NE(lstat(link2.c_str(), &st), 0);
    EXPECT_EQ(stat(reg.c_str(), &st), 0) << "the first modem's registry file";
    EXPECT_EQ(stat((reg + ".2").c_str(), &st), 0) << "the second modem's registry file";
    for (const std::string& f : {reg, reg + ".2"})
        unlink(f.c_str());
}

}  // namespace

namespace {

// Replaces the first byte of the "EEProm" value in a registry file.
bool CorruptSettingsImage(const std::string& path)
{
    std::string text = ReadWholeFile(path);
    size_t at = text.find("\"EEProm\"=hex:");
    if (at == std::string::npos)
        return false;
    at += std::strlen("\"EEProm\"=hex:");
    text[at] = text[at] == 'f' ? '0' : 'f';
    FILE* g = std::fopen(path.c_str(), "wb");
    if (g == nullptr)
        return false;
    std::fwrite(text.data(), 1, text.size(), g);
    std::fclose(g);
    return true;
}

TEST(HostSessionTest, StoredSettingsSurviveARestartAndABadImageIsReset)
{
    std::string reg = TempPrefix() + "host_profiles.reg";
    std::remove(reg.c_str());
    const std::vector<std::string> args = {"--stdio", "--virtual-time", "--registry", reg};
    const std::string script = "AT&F\rATS7=45\rAT&W0\rAT&Y0\rAT&Z2=555-1212\r";
    HostRun first = RunHost(args, script);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "AT&F\r\r\nOK\r\nATS7=45\r\r\nOK\r\nAT&W0\r\r\nOK\r\nAT&Y0\r\r\nOK\r\nAT&Z2=555-1212\r\r\nOK\r\n");

    HostRun second = RunHost(args, "ATE0\rATS7?\rAT&V\r");
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out.rfind("ATE0\r\r\nOK\r\n\r\n045\r\n\r\nOK\r\n", 0), 0u) << second.out;
    EXPECT_NE(second.out.find("S07:045"), std::string::npos) << second.out;
    EXPECT_NE(second.out.find("&Z2 =5551212 "), std::string::npos) << second.out;

    ASSERT_TRUE(CorruptSettingsImage(reg));
    HostRun third = RunHost(args, "ATE0\rATS7?\rAT&V\r");
    EXPECT_EQ(third.status, 0) << third.err;
    EXPECT_EQ(third.out.rfind("ATE0\r\r\nOK\r\n\r\n060\r\n\r\nOK\r\n", 0), 0u) << third.out;
    EXPECT_NE(third.out.find("&Z2 =" + std::string(36, ' ') + "&Z3 =\r\n"), std::string::npos) << third.out;
    // The image was rewritten with its signature "R4T".
    std::string text = ReadWholeFile(reg);
    size_t at = text.find("\"EEProm\"=hex:");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(text.substr(at + std::strlen("\"EEProm\"=hex:") + 3, 11), "52,34,54,00") << text;
    std::remove(reg.c_str());
}

}  // namespace
