// DSP memory and table reads and writes by DSP address (packet codes 9 to 14).
#include "layer2/corecode/mt/dsp_link.h"

namespace {

// Second and third bytes of a table address: id high byte with 0x80 when any of address bits 15-17 is
// set, and the bank bits.
void table_address(uint32_t address, uint8_t* out)
{
    out[0] = static_cast<uint8_t>(address & 0xFF);
    out[1] = static_cast<uint8_t>(((address >> 8) & 0xFF) + ((address & 0x38000u) ? 0x80 : 0));
    out[2] = static_cast<uint8_t>((address >> 10) & 0xE0);
    out[3] = 0;
}

}  // namespace

int dsp_read_value(DspLink* link, const DspValueRequest* request, uint8_t* reply_out)
{
    if (request->address == 0)
        return kIcdSent;
    uint8_t payload[4] = {};
    if (request->selector == 0) {
        payload[0] = static_cast<uint8_t>(request->address & 0xFF);
        payload[1] = static_cast<uint8_t>((request->address >> 8) & 0xFF);
        return dsp_send_command(link, request->address > 0xFFFF ? IcdReadMemoryHigh : IcdReadMemory, payload, 4,
                                kReplyExpected, reply_out);
    }
    table_address(request->address, payload);
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
        if (count > 7)
            count = 7;
        payload[at++] = static_cast<uint8_t>(request->address & 0xFF);
        payload[at++] = static_cast<uint8_t>((request->address >> 8) & 0xFF);
        code = request->address >= 0x10000 ? IcdWriteMemoryHigh : IcdWriteMemory;
    } else {
        if (count > 6)
            count = 6;
        table_address(request->address, payload);
        at = 4;
        code = IcdWriteTable;
    }
    for (int i = 0; i < count; ++i) {
        payload[at++] = static_cast<uint8_t>(words[i] & 0xFF);
        payload[at++] = static_cast<uint8_t>(words[i] >> 8);
    }
    return dsp_send_command(link, code, payload, at, kReplyNone, nullptr);
}
