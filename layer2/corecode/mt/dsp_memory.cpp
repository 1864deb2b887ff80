// DSP memory and table reads and writes by DSP address (packet codes 9 to 14).
#include "layer2/corecode/mt/dsp_link.h"
#include "window/icd_packet.h"

int dsp_read_value(DspLink* link, const DspValueRequest* request, uint8_t* reply_out)
{
    if (request->address == 0)
        return kIcdSent;
    uint8_t payload[4] = {};
    if (request->selector == 0) {
        IcdEncodeMemoryAddress(request->address, payload);
        return dsp_send_command(link, IcdMemoryReadCode(request->address), payload, 4, kReplyExpected, reply_out);
    }
    IcdEncodeTableAddress(request->address, payload);
    return dsp_send_command(link, IcdReadTable, payload, 4, kReplyExpected, reply_out);
}

int dsp_write_value(DspLink* link, const DspValueRequest* request, const uint16_t* words, int count)
{
    uint8_t payload[kIcdMaxPayload] = {};
    if (count < 0)
        count = 0;
    int at = 0;
    uint8_t code;
    if (request->selector == 0) {
        if (count > kIcdMemoryWriteWords)
            count = kIcdMemoryWriteWords;
        at = IcdEncodeMemoryAddress(request->address, payload);
        code = IcdMemoryWriteCode(request->address);
    } else {
        if (count > kIcdTableWriteWords)
            count = kIcdTableWriteWords;
        at = IcdEncodeTableAddress(request->address, payload);
        code = IcdWriteTable;
    }
    at = IcdEncodeWords(payload, at, words, count);
    return dsp_send_command(link, code, payload, at, kReplyNone, nullptr);
}
