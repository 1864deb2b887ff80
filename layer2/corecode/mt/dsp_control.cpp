// DSP control requests, the power steps and the connection status screen.
#include "layer2/corecode/mt/dsp_control.h"

#include <cstdio>

namespace {

constexpr uint8_t kPrintEndText = 2;
constexpr uint8_t kPrintText = 3;

int send(DspDevice* dev, uint8_t code, const uint8_t* payload, int length)
{
    return dsp_send_command(&dev->link, code, payload, length, kReplyAck, nullptr);
}

const char* const kModulationNames[25] = {
    "BELL_103", "BELL_212", "V21",    "V21_CHAN2", "V23_ADX", "V23_HDX", "V22",    "V22BIS", "V27_SHORT",
    "V27_LONG", "V27_TER",  "V29",    "V32",       "V32_TCM", "V17",     "V33",    "V32BIS", "V34_SYM",
    "V34",      nullptr,    nullptr,  nullptr,     "X2",      "V90",     "V92",
};

}  // namespace

int dsp_detector_reset(DspDevice* dev)
{
    dev->line.detectorMode = 0;
    const uint8_t payload[2] = {0, 1};
    return send(dev, IcdConfigDetectors, payload, 2);
}

int dsp_set_detector_mode(DspDevice* dev, uint8_t mode)
{
    const uint8_t last = dev->line.detectorMode;
    dev->line.detectorMode = mode;
    if (mode > 2 || (mode == 0 && last == 0))
        return kIcdSent;
    const uint8_t payload[2] = {mode, 1};
    return send(dev, IcdConfigDetectors, payload, 2);
}

void dsp_link_reset(DspDevice* dev)
{
    DspLink* link = &dev->link;
    dsp_reg_write(link, kRegDspRestart, static_cast<uint8_t>(dsp_reg_read(link, kRegDspRestart) | 1));
    dsp_callback_lock(link);
    link->traceRead = 0;
    link->traceWrite = 0;
    dsp_callback_unlock(link);
    dsp_reg_write(link, kRegDspControl, 2);
    dsp_reg_write(link, kRegCommandLength, 1);
    dsp_reg_write(link, kRegDspControl, 1);
}

int dsp_reset_to_idle(DspDevice* dev)
{
    dsp_detector_reset(dev);
    dsp_relay_voice(&dev->link, false);
    dsp_relay_caller_id(&dev->link, false);
    dsp_relay_speaker_handset(&dev->link, false);
    dsp_set_hook(&dev->line, false);
    dsp_msg_dispatch(&dev->queue);
    dsp_link_reset(dev);
    const uint8_t payload[2] = {0, 0};
    return send(dev, IcdReset, payload, 2);
}

int dsp_light_reset(DspDevice* dev)
{
    const uint8_t payload[2] = {1, 0};
    return send(dev, IcdReset, payload, 2);
}

int dsp_caller_id_detector(DspDevice* dev, bool on)
{
    const uint8_t payload[2] = {static_cast<uint8_t>(on ? 128 : 0), 0};
    return send(dev, IcdNop7D, payload, 2);
}

uint8_t dsp_timing_byte(uint16_t ms)
{
    return static_cast<uint8_t>(ms > 255 ? 255 : ms);
}

int dsp_set_dtmf_timing(DspDevice* dev, uint8_t on_time, uint8_t off_time, uint8_t flag, uint16_t duration)
{
    uint8_t payload[6] = {on_time, off_time, flag, 0, static_cast<uint8_t>(duration),
                          static_cast<uint8_t>(duration >> 8)};
    if (flag == 1) {
        payload[0] = off_time;
        payload[1] = on_time;
    }
    return send(dev, IcdSetDtmfTiming, payload, 6);
}

int dsp_start_digit(DspDevice* dev, uint8_t digit)
{
    return send(dev, IcdStartDigit, &digit, 1);
}

int dsp_set_tx_level(DspDevice* dev, uint8_t level_mode, uint16_t word)
{
    const uint8_t payload[2] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
    const uint8_t code = (level_mode == 0 || level_mode == 5) ? IcdSetDualToneLevels : IcdSetTxLevel;
    return send(dev, code, payload, 2);
}

void dsp_send_line_profile(DspDevice* dev)
{
    dev->line.resetState = 2;
    dev->context.ready = 3;
    dsp_msg_send(&dev->queue, kMsgHook, 9, false, nullptr, 0);
    dsp_msg_dispatch(&dev->queue);
}

void dsp_connection_state_reset(DspDevice* dev)
{
    dev->line.connectionState = 0;
}

uint8_t dsp_read_status(DspDevice* dev)
{
    return dsp_reg_read(&dev->link, kRegStatus);
}

// D0: detector and link set-up, then notifications on (so the data pump's reports reach the controller
// again). D2 and D3: detector reset, the notification register read, link set-up, reset to idle and
// notifications off. D1 and the command-mode part of the others belong to the AT interpreter.
void dsp_power_step(DspDevice* dev, int step)
{
    DspLink* link = &dev->link;
    switch (step) {
    case 6:
        dsp_detector_reset(dev);
        dsp_link_start(dev);
        dsp_reg_write(link, kRegHostControl, 2);
        return;
    case 8:
    case 9:
        dsp_detector_reset(dev);
        (void)dsp_read_notify(link);
        dsp_link_start(dev);
        dsp_reset_to_idle(dev);
        dsp_reg_write(link, kRegHostControl, 0);
        return;
    default:
        return;
    }
}

const char* dsp_modulation_name(uint8_t code, bool v92)
{
    if (code >= 25)
        return nullptr;
    if (code == 23 && v92)
        return "V92";
    return kModulationNames[code];
}

void ShowConnectionStatus(DspDevice* dev, const DspConnectionFacts* facts, int argument, DspPrint print,
                          void* ctx, void (*log_print)(void* ctx))
{
    char text[96];
    print(ctx, "Connection Status: ", argument == 0 ? kPrintText : kPrintEndText);
    const uint8_t state = dsp_read_status(dev) & 0x0F;
    switch (state) {
    case 0: print(ctx, "Idle", kPrintText); break;
    case 2: {
        const char* name = dsp_modulation_name(facts->modulation, facts->v92 != 0);
        if (name != nullptr)
            std::snprintf(text, sizeof text, "Connected %s TX=%u RX=%u", name, static_cast<unsigned>(facts->txRate),
                          static_cast<unsigned>(facts->rxRate));
        else
            std::snprintf(text, sizeof text, "Connected %u TX=%u RX=%u", facts->modulation,
                          static_cast<unsigned>(facts->txRate), static_cast<unsigned>(facts->rxRate));
        print(ctx, text, kPrintText);
        if (facts->modulation == 23 && facts->pcm) {
            print(ctx, "PCM Signature: ", kPrintEndText);
            for (int i = 0; i < facts->pcmSignatureLength && i < 8; ++i) {
                std::snprintf(text, sizeof text, "%02X", facts->pcmSignature[i]);
                print(ctx, text, kPrintText);
            }
            std::snprintf(text, sizeof text, "Timing Offset       : %d", static_cast<int>(facts->timingOffset));
            print(ctx, text, kPrintEndText);
            std::snprintf(text, sizeof text, "Sqrint              : %d", static_cast<int>(facts->sqrint));
            print(ctx, text, kPrintEndText);
        }
        break;
    }
    case 3: print(ctx, "Retraining", kPrintText); break;
    case 4: print(ctx, "Dropping", kPrintText); break;
    case 13: print(ctx, "Renegotiating", kPrintText); break;
    default: print(ctx, "Other", kPrintText); break;
    }
    std::snprintf(text, sizeof text, "Retrains : %u", static_cast<unsigned>(facts->retrains));
    print(ctx, text, kPrintEndText);
    std::snprintf(text, sizeof text, "Renegs   : %u", static_cast<unsigned>(facts->renegotiations));
    print(ctx, text, kPrintEndText);
    if (facts->noiseReport != nullptr && facts->noiseLength >= 0) {
        print(ctx, "DSP NR:", kPrintEndText);
        for (int i = 0; i < facts->noiseLength + 4; ++i) {
            std::snprintf(text, sizeof text, " %02X", facts->noiseReport[i]);
            print(ctx, text, kPrintText);
        }
    }
    if (log_print != nullptr)
        log_print(ctx);
}
