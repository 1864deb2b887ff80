// Notifications, event characters and detector reports of the detectors.
#include "layer1/dsp/detector_reports.h"

#include "layer1/dsp/register_window.h"
#include "window/icd_packet.h"

void NotifyController(DspInterfaceBlock* block)
{
    WriteRegister(block, kRegNotify, 1);
}

void PostEventChar(DspInterfaceBlock* block, uint8_t character)
{
    PostReply(block, IcdEventChar, 1, &character);
}

void PostDetectorReport(DspInterfaceBlock* block, uint16_t kind, uint16_t timeStamp, uint16_t value)
{
    uint8_t payload[kIcdDetectorReportLength];
    const int length = IcdEncode(IcdDetectorReportPayload{kind, timeStamp, value}, payload);
    PostReply(block, IcdDetectorReport, static_cast<uint8_t>(length), payload);
}
