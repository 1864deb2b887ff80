// Quick connect: the shortened start-up that reuses line data stored from an earlier call, one step per
// connection-control pass while it is armed, and the quick-connect data area.
#include <cstring>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_ext.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/cmd/country.h"
#include "layer2/corecode/cmd/modem_hold.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_device.h"

namespace {

enum QcState : uint8_t {
    QC_IDLE = 0,
    QC_ORIGINATE = 2,
    QC_ANSWER = 3,
    QC_PREPARE = 4,
    QC_AWAIT_STATUS = 5,
    QC_CHOOSE = 7,
    QC_AWAIT_DETECTOR = 10,
    QC_AWAIT_DETECTOR_CLEAR = 11,
    QC_PCM = 12,
    QC_START = 13,
    QC_VOICE_PATH = 14,
};

constexpr uint8_t kArmAnswer = 32;
constexpr uint8_t kArmOriginate = 64;
constexpr uint8_t kPqcOff = 3;
constexpr uint8_t kPssLongStart = 2;
constexpr uint16_t kAnswerCountdown = 23;
constexpr uint16_t kPcmCountdown = 150;
constexpr uint8_t kStatusPcm = 0x01;
constexpr uint8_t kStatusShortStart = 0x04;
constexpr uint8_t kDetectorQuickConnect = 0x01;  // register 57 bit 0

// The voice-path words written before the quick start: 7 + 7 + 1 at the voice-path addresses, then the two
// single words.
constexpr int16_t kVoiceWordsA[7] = {8192, -13120, 8192, -8982, 11066, 8192, -15774};
constexpr int16_t kVoiceWordsB[7] = {8192, -2296, 10040, 32767, 24576, 256, 2048};
constexpr uint16_t kVoiceWordC = 256;
constexpr uint32_t kQuickWordAddress1 = 0x101F3;
constexpr uint32_t kQuickWordAddress2 = 0x1020D;

int send(AcuContext* acu, uint8_t code, const uint8_t* payload, int length)
{
    if (acu->dsp == nullptr)
        return kIcdNotTaken;
    return dsp_send_command(&acu->dsp->link, code, payload, length, kReplyAck, nullptr);
}

void send2(AcuContext* acu, uint8_t code, uint8_t a, uint8_t b)
{
    const uint8_t payload[2] = {a, b};
    send(acu, code, payload, 2);
}

void write_words(AcuContext* acu, uint32_t address, const int16_t* words, int count)
{
    uint16_t w[8];
    for (int k = 0; k < count; ++k)
        w[k] = static_cast<uint16_t>(words[k]);
    const DspValueRequest request{address, 0};
    dsp_write_value(&acu->dsp->link, &request, w, count);
}

void voice_path(AcuContext* acu)
{
    QuickConnect& q = acu->qc;
    if ((q.flags & kQcCountdown) && q.countdown != 0)
        return;
    if (acu->dsp == nullptr)
        return;
    dsp_light_reset(acu->dsp);
    send2(acu, IcdConfigDetectors, 2, 0);
    if (acu->speaker_volume != 0)
        dsp_set_speaker(&acu->dsp->line, true);
    write_words(acu, kVoicePathAddress[0], kVoiceWordsA, 7);
    write_words(acu, kVoicePathAddress[1], kVoiceWordsB, 7);
    const int16_t c = static_cast<int16_t>(kVoiceWordC);
    const int16_t zero = 0;
    write_words(acu, kVoicePathAddress[2], &c, 1);
    write_words(acu, kQuickWordAddress1, &zero, 1);
    write_words(acu, kQuickWordAddress2, &zero, 1);
    q.state = QC_AWAIT_DETECTOR;
}

void start_connection(AcuContext* acu)
{
    QuickConnect& q = acu->qc;
    ConnControl& c = acu->conn;
    c.requested_modulation = c.modulation;
    q.start_octet_exchange = 0;
    const bool retrain = (q.flags & kQcRetrain) != 0;
    conn_send_start_packet(acu, acu->moh.originate != 0);
    q.start_octet_exchange = 1;
    if (retrain)
        c.state = CONN_RETRAINING;
    q.flags &= kQcRetrain;
    q.state = QC_IDLE;
}

bool detector_bit(AcuContext* acu)
{
    return acu->dsp != nullptr && (dsp_reg_read(&acu->dsp->link, kRegDetector) & kDetectorQuickConnect) != 0;
}

}  // namespace

const uint8_t kQcOriginateBlock[kQcBlockLength] = {0xFF, 0x55, 0x84, 0xFF, 0x55, 0x84};
const uint8_t kQcAnswerBlock[kQcBlockLength] = {0xFF, 0x55, 0x86, 0xFF, 0x55, 0x86};

void qc_data_init(AcuContext* acu)
{
    QuickConnect& q = acu->qc;
    std::memset(q.area, kQcEmpty, sizeof q.area);
    if (acu->settings == nullptr)
        return;
    ULONG taken = 0;
    qc_data_load(acu->settings, q.area, QC_DATA_SIZE, &taken);
}

void qc_data_save(AcuContext* acu, const uint8_t* bytes, unsigned length)
{
    if (length > QC_DATA_SIZE || (bytes == nullptr && length != 0))
        return;
    if (acu->settings != nullptr)
        qc_data_store(acu->settings, bytes, length);
    std::memcpy(acu->qc.area, bytes, length);
}

void qc_data_clear(AcuContext* acu)
{
    std::memset(acu->qc.area, kQcEmpty, sizeof acu->qc.area);
    if (acu->settings != nullptr)
        qc_data_store(acu->settings, acu->qc.area, QC_DATA_SIZE);
}

bool qc_data_present(const AcuContext* acu)
{
    for (int k = 0; k < kQcPresenceBytes; ++k)
        if (acu->qc.area[k] != 0 && acu->qc.area[k] != kQcEmpty)
            return true;
    return false;
}

void qc_arm(AcuContext* acu, uint8_t mode)
{
    QuickConnect& q = acu->qc;
    q.status = 0;
    q.status_arrived = 0;
    if (mode == 0) {
        q.flags = kQcDataUsable;
        q.sender = q.area;
        return;
    }
    if (mode != kArmAnswer && mode != kArmOriginate)
        return;
    const AtExtSettings& e = acu->ext;
    const uint8_t configured = MsModulation[e.ms_row < MS_ROWS ? e.ms_row : 0].code;
    if (e.pqc == kPqcOff || !qc_data_present(acu) || e.pss == kPssLongStart || !(q.flags & kQcDataUsable) ||
        configured <= MOD_X2 || e.v92_mark == 0)
        return;
    if (mode == kArmAnswer) {
        q.flags |= kQcArmed | kQcAnswer;
        q.state = QC_PREPARE;
    } else {
        q.flags |= kQcArmed | kQcOriginate;
        q.state = QC_ORIGINATE;
    }
}

void qc_status_received(AcuContext* acu, uint8_t status)
{
    QuickConnect& q = acu->qc;
    q.status = status;
    q.status_arrived = 1;
    q.flags &= static_cast<uint16_t>(~kQcAwaitStatus);
}

bool qc_short_start(const AcuContext* acu) { return acu->qc.short_start != 0; }

void qc_step(AcuContext* acu)
{
    QuickConnect& q = acu->qc;
    if (!(q.flags & kQcArmed))
        return;
    switch (q.state) {
    case QC_ORIGINATE:
        q.start_octets = kQcOriginateBlock;
        q.flags = static_cast<uint16_t>((q.flags | kQcPrepared) & ~kQcAwaitStatus);
        q.state = QC_PREPARE;
        break;
    case QC_ANSWER:
        q.flags &= static_cast<uint16_t>(~kQcAwaitStatus);
        if (q.send_block != nullptr)
            q.send_block(q.send_ctx, kQcAnswerBlock, kQcBlockLength);
        q.countdown = kAnswerCountdown;
        q.state = QC_CHOOSE;
        break;
    case QC_PREPARE:
        if (!(q.flags & kQcPrepared)) {
            q.flags |= kQcAwaitStatus;
            send2(acu, IcdSetWord86, 5, 0);
            q.state = QC_AWAIT_STATUS;
        }
        break;
    case QC_AWAIT_STATUS:
        if (q.status_arrived) {
            q.status_arrived = 0;
            if (q.flags & kQcAnswer) {
                q.state = QC_ANSWER;
            } else {
                q.countdown = 0;
                q.state = QC_CHOOSE;
            }
            if (moh_flags(acu) & kHoldInForce)
                moh_set_flags(acu, kHoldEvent8);
        }
        break;
    case QC_CHOOSE:
        if (q.countdown == 0) {
            q.start_octet_exchange = 0;
            q.short_start = (q.status & kStatusShortStart) ? 1 : 0;
            if (!(q.status & kStatusPcm)) {
                q.modulation = MOD_V34;
                q.v34_flag = 1;
                q.state = QC_VOICE_PATH;
            } else {
                q.modulation = MOD_V90;
                q.state = QC_PCM;
            }
        }
        break;
    case QC_AWAIT_DETECTOR:
        if (detector_bit(acu)) {
            send2(acu, IcdPcmControl, 0, 0);
            q.state = QC_AWAIT_DETECTOR_CLEAR;
        }
        break;
    case QC_AWAIT_DETECTOR_CLEAR:
        if (!detector_bit(acu)) {
            send2(acu, IcdPcmControl, 2, 0);
            start_connection(acu);
        }
        break;
    case QC_PCM: {
        const uint8_t payload[4] = {6, 0, static_cast<uint8_t>(q.status >> 6), 0};
        send(acu, IcdPcmControl, payload, 4);
        q.flags |= kQcCountdown;
        q.countdown = kPcmCountdown;
        q.state = QC_VOICE_PATH;
        break;
    }
    case QC_START: start_connection(acu); break;
    case QC_VOICE_PATH: voice_path(acu); break;
    default: break;
    }
}
