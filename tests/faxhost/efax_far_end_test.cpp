// End to end with a widely used class 1 fax program: Debian's efax runs on the serial port that modemhost
// bridges to a pseudo-terminal, and an independent fax terminal (libspandsp's T.30 over audio) sits on the
// far end of the modem's line (its raw-sample socket). efax sends a two-page fax to the terminal, and receives
// one from it, at 14400 (V.17), 9600 (V.29) and 4800 bit/s (V.27ter); the pages that arrive, decoded, equal
// the pages sent. (efax puts blank scan lines for its page header above each page it sends; they are checked
// to be blank and the rest of the page must equal the original.)
//
// Each call has its own modemhost, far end and efax, and the six calls run at the same time. The modem runs on
// the virtual clock, held in lockstep by the far end, which paces the line at a few times real time; efax,
// which runs in real time, stays well within the protocol's response times at that pace. Without efax,
// libspandsp or modemhost the test is skipped with the reason.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fax_far_end.h"
#include "fax_pages.h"
#include "support/host_process.h"

namespace {

using faxpages::Page;
using hostproc::ReadFile;
using hostproc::SelfDir;
using hostproc::Spawn;
using hostproc::Stop;
using hostproc::WaitExit;

constexpr const char* kEfax = "/usr/bin/efax";
constexpr const char* kEfix = "/usr/bin/efix";
constexpr double kSpeed = 2.0;
constexpr int kPageRows = 150;

struct Rate {
    int bit_rate;
    char efax_code;   // efax's capability digit for the bit rate
    int modems;       // the far end's modulations
};

// One call: a modem on its own pseudo-terminal and line, the far end on the line, efax on the serial port.
struct Call {
    Rate rate{};
    bool efax_sends = true;
    std::string dir;
    std::vector<Page> pages;
    int efax_status = -1;
    faxfar::Result far;
    std::string setup_error;

    std::string Capabilities() const { return std::string("1,") + rate.efax_code + ",0,2,0,0,0,0"; }
    std::string Name() const
    {
        return std::string(efax_sends ? "efax sends" : "efax receives") + " at " + std::to_string(rate.bit_rate);
    }
    std::string Logs() const
    {
        std::ofstream(dir + "/far.log") << far.log;
        return "kept " + dir + " (efax.log, far.log, modem.log, host.out)\nefax:\n" +
               ReadFile(dir + "/efax.log").substr(0, 6000);
    }

    // Runs the whole call; the outcome stays in the record.
    void Run(const std::string& host)
    {
        const std::string tty = dir + "/tty";
        faxfar::Config config;
        config.socket_path = dir + "/line";
        config.calling = !efax_sends;
        config.modems = rate.modems;
        config.speed = kSpeed;
        std::vector<std::string> argv = {kEfax, "-d", tty, "-o1", "-c", Capabilities(), "-l", "+1 555 0200",
                                         "-v", "ewinchmart"};
        if (efax_sends) {
            config.rx_file = dir + "/received.tif";
            for (size_t k = 0; k < pages.size(); ++k) {
                const std::string pbm = dir + "/page" + std::to_string(k + 1) + ".pbm";
                const std::string tif = dir + "/page" + std::to_string(k + 1) + ".tif";
                const std::string convert = std::string(kEfix) + " -v e -i pbm -o tiffg3 " + pbm + " > " + tif;
                if (!faxpages::WritePbm(pbm, pages[k]) || std::system(convert.c_str()) != 0) {
                    setup_error = "cannot make " + tif;
                    return;
                }
            }
            // No wait for a dial tone (the far end gives none); a blank page header.
            argv.insert(argv.end(), {"-iX3", "-h", "", "-t", "201", dir + "/page1.tif", dir + "/page2.tif"});
        } else {
            config.tx_file = dir + "/sent.tif";
            if (!faxpages::WriteTiffG3(config.tx_file, pages)) {
                setup_error = "cannot write " + config.tx_file;
                return;
            }
            argv.insert(argv.end(), {"-r", dir + "/received"});
        }
        const pid_t host_pid = Spawn({host, "--line", "socket:" + config.socket_path, "--pty", tty, "--virtual-time",
                                      "--log", dir + "/modem.log"},
                                     dir + "/host.out");
        if (!hostproc::WaitForPaths({tty}, 10000)) {
            setup_error = "modemhost made no pseudo-terminal: " + ReadFile(dir + "/host.out");
            Stop(host_pid);
            return;
        }
        faxfar::FarEnd end(config);
        const pid_t efax_pid = Spawn(argv, dir + "/efax.log");
        efax_status = WaitExit(efax_pid, 150);
        far = end.Wait();
        Stop(host_pid);
    }
};

// The outcome of one call: both programs content, two pages at the rate, each arriving as it was sent.
void Check(const Call& c)
{
    ASSERT_EQ(c.setup_error, "");
    ASSERT_TRUE(c.far.connected) << ReadFile(c.dir + "/host.out");
    EXPECT_EQ(c.efax_status, 0);
    ASSERT_TRUE(c.far.finished);
    EXPECT_EQ(c.far.completion, 0);
    EXPECT_EQ(c.far.pages, 2);
    EXPECT_EQ(c.far.bit_rate, c.rate.bit_rate);
    std::string error;
    if (c.efax_sends) {
        const std::vector<Page> got = faxpages::ReadTiff(c.dir + "/received.tif", &error);
        ASSERT_EQ(got.size(), c.pages.size()) << error;
        for (size_t k = 0; k < got.size(); ++k) {
            // efax's header area: blank scan lines above the page.
            const int header = faxpages::BlankRowsAtTop(got[k]);
            EXPECT_GT(header, 0);
            EXPECT_LT(header, 80);
            Page body = got[k];
            body.rows.erase(body.rows.begin(), body.rows.begin() + header);
            EXPECT_EQ(faxpages::Difference(c.pages[k], body), "") << "page " << k + 1;
        }
        return;
    }
    for (size_t k = 0; k < c.pages.size(); ++k) {
        char name[32];
        std::snprintf(name, sizeof name, ".%03zu", k + 1);
        const std::vector<Page> got = faxpages::ReadTiff(c.dir + "/received" + name, &error);
        ASSERT_EQ(got.size(), 1u) << error;
        EXPECT_EQ(faxpages::Difference(c.pages[k], got[0]), "") << "page " << k + 1;
    }
}

TEST(EfaxFarEnd, SendsAndReceivesTwoPagesAtEveryRate)
{
#ifndef HAVE_SPANDSP
    GTEST_SKIP() << "libspandsp is not available: it is the far end's fax terminal";
#endif
    if (access(kEfax, X_OK) != 0 || access(kEfix, X_OK) != 0)
        GTEST_SKIP() << "efax is not installed (Debian package efax, installed by scripts/deps.sh)";
    const std::string host = SelfDir() + "/modemhost";
    if (access(host.c_str(), X_OK) != 0)
        GTEST_SKIP() << "modemhost is not built beside the test program";
    struct Direction {
        Rate rate;
        bool efax_sends;
    };
    const Direction directions[] = {{{14400, '5', 7}, true},  {{9600, '3', 3}, true},  {{4800, '1', 1}, true},
                                    {{14400, '5', 7}, false}, {{9600, '3', 3}, false}, {{4800, '1', 1}, false}};
    std::vector<Call> calls;
    uint32_t seed = 1;
    for (const Direction& d : directions) {
        {
            const Rate rate = d.rate;
            const bool sends = d.efax_sends;
            Call c;
            c.rate = rate;
            c.efax_sends = sends;
            char tmpl[] = "/tmp/efax-test-XXXXXX";
            ASSERT_NE(mkdtemp(tmpl), nullptr);
            c.dir = tmpl;
            c.pages = {faxpages::MakePage(seed, kPageRows), faxpages::MakePage(seed + 1, kPageRows)};
            seed += 2;
            calls.push_back(c);
        }
    }
    std::vector<std::thread> threads;
    for (Call& c : calls)
        threads.emplace_back([&c, &host] { c.Run(host); });
    for (std::thread& t : threads)
        t.join();
    for (const Call& c : calls) {
        SCOPED_TRACE(c.Name());
        const int failures_before = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
        Check(c);
        const bool failed = ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() !=
                            failures_before;
        if (failed)
            std::printf("%s: %s\n", c.Name().c_str(), c.Logs().c_str());
        else
            std::system(("rm -rf " + c.dir).c_str());
    }
}

}  // namespace
