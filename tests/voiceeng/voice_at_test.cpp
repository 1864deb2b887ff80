// The voice commands as the application sees them on the serial port, with exact strings: the class switch,
// the parameter commands and their ranges, the codec and device lists, the errors, and the CONNECT of a
// transfer with its DLE stream. The modem is the whole stack over the real data pump on an idle line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "layer2/at_fixture.h"
#include "layer2/dsp_real_pump.h"
#include "platform/clock.h"

namespace {

struct Exchange {
    const char* command;
    const char* answer;  // everything after the echo
    int ms = 400;        // how long the answer may take
};

class VoiceAt : public ::testing::Test {
protected:
    VoiceAt() : modem_(reg_.Path()) {}
    void SetUp() override
    {
        const std::string answer = Say("AT+FCLASS=8");
        if (answer == "\r\nERROR\r\n")
            GTEST_SKIP() << "the modem has no +FCLASS command yet, so voice mode cannot be selected";
        ASSERT_EQ(answer, "\r\nOK\r\n");
    }

    // The answer to one command line, without its echo.
    std::string Say(const std::string& command, int ms = 400)
    {
        const std::string out = modem_.Dialogue(command + "\r", ms);
        const std::string echo = command + "\r";
        if (out.compare(0, echo.size(), echo) != 0)
            return "(no echo) " + out;
        return out.substr(echo.size());
    }
    void Check(const std::vector<Exchange>& table)
    {
        for (const Exchange& e : table)
            EXPECT_EQ(attest::Visible(Say(e.command, e.ms)), attest::Visible(e.answer)) << e.command;
    }

    coretest::TempRegistry reg_;
    dsptest::RealPumpModem modem_;
};

TEST_F(VoiceAt, ParameterCommandsAnswerExactly)
{
    Check({
        {"AT+FCLASS?", "\r\n8\r\n\r\nOK\r\n"},
        {"AT+VBT?", "\r\n256,896\r\n\r\nOK\r\n"},
        {"AT+VBT=?", "\r\n(256),(896)\r\n\r\nOK\r\n"},
        {"AT+VBT=256,896", "\r\nOK\r\n"},
        {"AT+VBT=255,896", "\r\nERROR\r\n"},
        {"AT+VGM=2", "\r\nOK\r\n"},
        {"AT+VGM?", "\r\n128\r\n\r\nOK\r\n"},
        {"AT+VGM=3", "\r\nOK\r\n"},
        {"AT+VGM?", "\r\n131\r\n\r\nOK\r\n"},
        {"AT+VGM=125", "\r\nOK\r\n"},
        {"AT+VGM?", "\r\n125\r\n\r\nOK\r\n"},
        {"AT+VGM=120", "\r\nERROR\r\n"},
        {"AT+VGS=1", "\r\nOK\r\n"},
        {"AT+VGS?", "\r\n121\r\n\r\nOK\r\n"},
        {"AT+VGS=?", "\r\n121-131\r\n\r\nOK\r\n"},
        {"AT+VGT?", "\r\n131\r\n\r\nOK\r\n"},
        {"AT+VGT=128", "\r\nOK\r\n"},
        {"AT+VGT?", "\r\n128\r\n\r\nOK\r\n"},
        {"AT+VGT=200", "\r\nOK\r\n"},
        {"AT+VGT?", "\r\n131\r\n\r\nOK\r\n"},
        {"AT+VGR=0", "\r\nOK\r\n"},
        {"AT+VGR?", "\r\n121\r\n\r\nOK\r\n"},
        {"AT+VGR=?", "\r\n121-131\r\n\r\nOK\r\n"},
        {"AT+VIT=?", "\r\n0-255\r\n\r\nOK\r\n"},
        {"AT+VIT=10", "\r\nOK\r\n"},
        {"AT+VIT?", "\r\n10\r\n\r\nOK\r\n"},
        {"AT+VIT=0", "\r\nOK\r\n"},
        {"AT+VRA=?", "\r\n0-255\r\n\r\nOK\r\n"},
        {"AT+VRN=5", "\r\nOK\r\n"},
        {"AT+VRN?", "\r\n5\r\n\r\nOK\r\n"},
        {"AT+VSD=?", "\r\n(121-131),(0-50)\r\n\r\nOK\r\n"},
        {"AT+VSD?", "\r\n128,50\r\n\r\nOK\r\n"},
        {"AT+VSD=125,20", "\r\nOK\r\n"},
        {"AT+VSD?", "\r\n125,20\r\n\r\nOK\r\n"},
        {"AT+VSD=120,20", "\r\nERROR\r\n"},
        {"AT+VSD=128,51", "\r\nERROR\r\n"},
        {"AT+VTD=?", "\r\n5-255\r\n\r\nOK\r\n"},
        {"AT+VTD?", "\r\n35\r\n\r\nOK\r\n"},
        {"AT+VTD=4", "\r\nERROR\r\n"},
        {"AT+VTS=?", "\r\n(200-3000),(200-3000),(5-500)\r\n\r\nOK\r\n"},
        {"AT#VSPS=?", "\r\n0-255\r\n\r\nOK\r\n"},
        {"AT#VSPS=200", "\r\nOK\r\n"},
        {"AT#VSPS?", "\r\n200\r\n\r\nOK\r\n"},
    });
}

TEST_F(VoiceAt, CodecsEventMasksAndDevicesAreListed)
{
    Check({
        {"AT+VSM=?",
         "\r\n0,\"8-Bit Linear\",8,0,(4800,7200,8000,9600,11025),(0),(0)\r\n"
         "1,\"UNSIGNED PCM\",16,0,(4800,7200,8000,9600,11025),(0),(0)\r\n"
         "2,\"4-Bit ADPCM\",4,0,(4800,7200,8000,9600,11025),(0),(0)\r\n"
         "128,\"8-Bit Linear\",8,0,(4800,7200,8000,9600,11025),(0),(0)\r\n"
         "129,\"16-Bit Linear\",16,0,(4800,7200,8000,9600,11025),(0),(0)\r\n"
         "132,\"4-Bit ADPCM\",4,0,(4800,7200,8000,9600,11025),(0),(0)\r\n"
         "140,\"CL1\",8,0,(4800,7200,8000,9600,11025),(0),(0)\r\n"
         "141,\"3-Bit ADPCM\",3,0,(4800,7200,8000,9600,11025),(0),(0)\r\n\r\nOK\r\n"},
        {"AT+VSM?", "\r\n140,8000,0,0\r\n\r\nOK\r\n"},
        {"AT+VEM=?", "\r\n\"C\"\r\n0B800160\r\n0FE01860\r\n9B803860\r\n\r\nOK\r\n"},
        {"AT+VEM?", "\r\n9B803860\r\n\r\nOK\r\n"},
        {"AT+VEM=1A2B3C4D", "\r\nOK\r\n"},
        {"AT+VEM?", "\r\n1A2B3C4D\r\n\r\nOK\r\n"},
        {"AT+VLS=?",
         "\r\n0,\" \"\r\n1,\"T\"\r\n2,\"L\"\r\n4,\"S\"\r\n5,\"ST\"\r\n6,\"M\"\r\n7,\"MST\"\r\n8,\"S1\"\r\n"
         "9,\"S1T\"\r\n11,\"M1\"\r\n13,\"M1S1T\"\r\n14,\"H\"\r\n15,\"HT\"\r\n\r\nOK\r\n"},
        {"AT+VLS?", "\r\n0\r\n\r\nOK\r\n"},
    });
}

TEST_F(VoiceAt, CompressionMethodSelection)
{
    Check({
        // 128, 129 and 132 stand for 0, 1 and 2.
        {"AT+VSM=128,8000", "\r\nOK\r\n"},
        {"AT+VSM?", "\r\n0,8000,0,0\r\n\r\nOK\r\n"},
        {"AT+VSM=132,7200", "\r\nOK\r\n"},
        {"AT+VSM?", "\r\n2,7200,0,0\r\n\r\nOK\r\n"},
        {"AT+VSM=141", "\r\nOK\r\n"},
        {"AT+VSM?", "\r\n141,7200,0,0\r\n\r\nOK\r\n"},
        {"AT+VSM=140,11025,0,0", "\r\nOK\r\n"},
        {"AT+VSM?", "\r\n140,11025,0,0\r\n\r\nOK\r\n"},
        // A rate outside the list, a method no codec has, option values other than the codec's.
        {"AT+VSM=140,8001", "\r\nERROR\r\n"},
        {"AT+VSM=3,8000", "\r\nERROR\r\n"},
        {"AT+VSM=140,8000,1", "\r\nERROR\r\n"},
        {"AT+VSM?", "\r\n140,11025,0,0\r\n\r\nOK\r\n"},
    });
}

TEST_F(VoiceAt, LineSelectionTonesAndTransferErrors)
{
    Check({
        // No device selected: no transfer.
        {"AT+VRX", "\r\nERROR\r\n"},
        {"AT+VTX", "\r\nERROR\r\n"},
        {"AT+VLS=3", "\r\nERROR\r\n"},
        {"AT+VLS=16", "\r\nERROR\r\n"},
        {"AT+VTS=[1000,0,5]", "\r\nOK\r\n"},
        // A missing frequency is silence.
        {"AT+VTS=[933,,30]", "\r\nOK\r\n", 800},
        // Four digits of the +VTD time (350 ms) each: OK once they have played.
        {"AT+VTS=1,#,*,A", "\r\nOK\r\n", 1800},
        {"AT+VTS=[100,0,10]", "\r\nERROR\r\n"},
        {"AT+VTS=[1000,3001,10]", "\r\nERROR\r\n"},
        {"AT+VTS=[1000,0,4]", "\r\nERROR\r\n"},
        {"AT+VTS=[1000,0,501]", "\r\nERROR\r\n"},
        {"AT+VTS={1,10}", "\r\nERROR\r\n"},
        {"AT+VTS=E", "\r\nERROR\r\n"},
        {"AT+VLS=1", "\r\nOK\r\n"},
        {"AT+VLS?", "\r\n1\r\n\r\nOK\r\n"},
    });
    // The line is off hook: a transfer starts with CONNECT; the application ends it with DLE ETX.
    EXPECT_EQ(attest::Visible(Say("AT+VTX", 100)), attest::Visible("\r\nCONNECT\r\n"));
    modem_.Send("\x10\x03");
    EXPECT_EQ(attest::Visible(modem_.Read(400)), attest::Visible("\r\nOK\r\n"));
    // Recording the idle line: CONNECT, then A-law silence (0xD5) until DLE '!', then DLE ETX and OK.
    const std::string connect = "\r\nCONNECT\r\n";
    std::string recorded = Say("AT+VRX", 200);
    ASSERT_EQ(attest::Visible(recorded.substr(0, connect.size())), attest::Visible(connect));
    modem_.Send("\x10!");
    recorded += modem_.Read(400);
    const std::string end = "\x10\x03\r\nOK\r\n";
    ASSERT_GE(recorded.size(), connect.size() + end.size() + 800);
    EXPECT_EQ(attest::Visible(recorded.substr(recorded.size() - end.size())), attest::Visible(end));
    const std::string samples = recorded.substr(connect.size(), recorded.size() - connect.size() - end.size());
    EXPECT_EQ(samples.find_first_not_of('\xD5'), std::string::npos);
    Check({
        {"AT+VLS=0", "\r\nOK\r\n"},
        {"AT+VRX", "\r\nERROR\r\n"},
        {"AT+FCLASS=0", "\r\nOK\r\n"},
        {"AT+VLS?", "\r\nERROR\r\n"},
    });
}

// +VIT: the transfer ends when the application stays silent for n x 100 ms after its last byte; the line is
// released and the application is told with NO CARRIER.
TEST_F(VoiceAt, InactivityEndsTheTransfer)
{
    Check({{"AT+VLS=1", "\r\nOK\r\n"}, {"AT+VIT=3", "\r\nOK\r\n"}});
    EXPECT_EQ(attest::Visible(Say("AT+VTX", 100)), attest::Visible("\r\nCONNECT\r\n"));
    modem_.Send(std::string(80, '\xD5'));
    const std::string out = modem_.Read(1000);
    EXPECT_NE(out.find("\r\nNO CARRIER\r\n"), std::string::npos) << attest::Visible(out);
    Check({{"AT+VLS?", "\r\n0\r\n\r\nOK\r\n"}, {"AT+VRX", "\r\nERROR\r\n"}});
}

// An application that stops reading while it records is told once, with DLE 'o', when the recorded bytes
// back up; nothing else is lost from the stream's framing, and DLE '!' still ends it.
TEST_F(VoiceAt, RecordOverrunIsReportedOnce)
{
    Check({{"AT+VLS=1", "\r\nOK\r\n"}});
    modem_.Send("AT+VRX\r");
    platform::SleepMs(3000);  // nothing read meanwhile
    std::string out = modem_.Read(100);
    modem_.Send("\x10!");
    out += modem_.Read(1500);
    size_t overruns = 0;
    for (size_t p = out.find("\x10o"); p != std::string::npos; p = out.find("\x10o", p + 2))
        ++overruns;
    EXPECT_EQ(overruns, 1u);
    EXPECT_EQ(out.compare(out.size() - 8, 8, "\x10\x03\r\nOK\r\n"), 0) << attest::Visible(out.substr(out.size() - 40));
}

}  // namespace
