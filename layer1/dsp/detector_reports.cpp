// Notifications, event characters and detector reports of the detectors.
#include "layer1/dsp/detector_reports.h"

#include "layer1/dsp/register_window.h"

void NotifyController(DspInterfaceBlock* block)
{
    WriteRegister(block, REG_NOTIFY, 1);
}

void PostEventChar(DspInterfaceBlock* block, uint8_t character)
{
    PostReply(block, IcdEventChar, 1, &character);
}

void PostDetectorReport(DspInterfaceBlock* block, uint16_t kind, uint16_t timeStamp, uint16_t value)
{
    const uint8_t payload[6] = {
        static_cast<uint8_t>(kind & 0xFF),      static_cast<uint8_t>(kind >> 8),
        static_cast<uint8_t>(timeStamp & 0xFF), static_cast<uint8_t>(timeStamp >> 8),
        static_cast<uint8_t>(value & 0xFF),     static_cast<uint8_t>(value >> 8),
    };
    PostReply(block, IcdDetectorReport, sizeof(payload), payload);
}
