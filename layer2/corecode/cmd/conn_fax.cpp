// Connection control's fax modulations: the start of a class 1 modulation (packet 0x73 with the modulation
// byte, the transmit hold, packet 0x86), its training countdown, the hold release and the word the fax
// receiver sends when its carrier is lost.
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_link.h"
#include "window/icd_codes.h"

namespace {

constexpr uint8_t kHoldNone = 0;
constexpr uint8_t kHoldReceive = 1;
constexpr uint8_t kHoldPending = 2;
constexpr uint8_t kReceiveFlag = 0x04;   // packet 0x73 byte 1 bit 2: receive
constexpr uint8_t kV17Set = 5;           // the data pump offers V.17 (and the rest)
constexpr uint16_t kTrainingMargin = 20; // ticks beyond the transmitter's training time

struct FaxCode {
    uint8_t code;
    uint8_t modulation;  // high nibble of the modulation byte
    uint16_t rate;
    uint16_t training;   // the transmitter's training in 10 ms ticks, rounded up (its sequence in symbols / baud)
};

// V.27ter trains 1538 symbols at 1600 baud (1448 at 1200), V.29 1366 at 2400, V.17 4340 long and 1338 short.
const FaxCode kCodes[] = {
    {24, 0xA, 2400, 121},   {48, 0xA, 4800, 97},    {72, 0xB, 7200, 57},    {73, 0xE, 7200, 181},
    {74, 0xD, 7200, 56},    {96, 0xB, 9600, 57},    {97, 0xE, 9600, 181},   {98, 0xD, 9600, 56},
    {121, 0xE, 12000, 181}, {122, 0xD, 12000, 56},  {145, 0xE, 14400, 181}, {146, 0xD, 14400, 56},
};

const FaxCode* find(uint8_t code)
{
    for (const FaxCode& c : kCodes)
        if (c.code == code)
            return &c;
    return nullptr;
}

void send(AcuContext* acu, uint8_t code, const uint8_t* payload, int length)
{
    if (acu->dsp != nullptr)
        dsp_send_command(&acu->dsp->link, code, payload, length, kReplyAck, nullptr);
}

}  // namespace

uint32_t conn_fax_line_rate(uint8_t code)
{
    const FaxCode* c = find(code);
    return c != nullptr ? c->rate : 300;
}

uint8_t conn_fax_modulation_byte(uint8_t code)
{
    const FaxCode* c = find(code);
    const uint8_t modulation = c != nullptr ? c->modulation : 0x3;
    return static_cast<uint8_t>((modulation << 4) | (conn_rate_code_table(conn_fax_line_rate(code)) & 0x0F));
}

void conn_fax_start_modulation(AcuContext* acu, uint8_t code, bool transmit)
{
    ConnControl& c = acu->conn;
    conn_fax_release_hold(acu);
    const uint8_t start[2] = {conn_fax_modulation_byte(code), static_cast<uint8_t>(transmit ? 0 : kReceiveFlag)};
    send(acu, IcdStartFaxPump, start, 2);
    if (transmit) {
        send(acu, IcdSetHold, nullptr, 0);
        c.fax_hold = kHoldPending;
    } else {
        c.fax_hold = kHoldReceive;
    }
    const uint8_t word[2] = {2, 0};
    send(acu, IcdSetWord86, word, 2);
    const FaxCode* f = find(code);
    c.fax_training = static_cast<uint16_t>((f != nullptr ? f->training : 0) + kTrainingMargin);
}

bool conn_fax_training_done(const AcuContext* acu) { return acu->conn.fax_training == 0; }

uint8_t conn_fax_capability(const AcuContext* acu)
{
    (void)acu;
    return kV17Set;
}

void conn_fax_release_hold(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    if (c.fax_hold == kHoldPending)
        send(acu, IcdReleaseHold, nullptr, 0);
    c.fax_hold = kHoldNone;
}

void conn_fax_idle(AcuContext* acu)
{
    const uint8_t none[2] = {0x00, 0x00};
    send(acu, IcdStartFaxPump, none, 2);
}

void conn_fax_set_word(AcuContext* acu, uint16_t value)
{
    const uint8_t word[2] = {static_cast<uint8_t>(value & 0xFFu), static_cast<uint8_t>(value >> 8)};
    send(acu, IcdSetWord86, word, 2);
}

void conn_fax_tick(AcuContext* acu)
{
    if (acu->conn.fax_training != 0)
        --acu->conn.fax_training;
}
