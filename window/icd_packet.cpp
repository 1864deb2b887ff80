// Encode and decode of the shared ICD packet payloads.
#include "window/icd_packet.h"

#include "platform/byte_order.h"

uint8_t IcdMemoryReadCode(uint32_t address)
{
    return address >= kIcdHighBank ? IcdReadMemoryHigh : IcdReadMemory;
}

uint8_t IcdMemoryWriteCode(uint32_t address)
{
    return address >= kIcdHighBank ? IcdWriteMemoryHigh : IcdWriteMemory;
}

int IcdEncodeMemoryAddress(uint32_t address, uint8_t* payload)
{
    WriteLe16(payload, static_cast<uint16_t>(address & 0xFFFFu));
    return kIcdMemoryHeader;
}

int IcdEncodeTableAddress(uint32_t address, uint8_t* payload)
{
    payload[0] = static_cast<uint8_t>(address & 0xFF);
    payload[1] = static_cast<uint8_t>(((address >> 8) & 0xFF) + ((address & 0x38000u) ? 0x80 : 0));
    payload[2] = static_cast<uint8_t>((address >> 10) & 0xE0);
    payload[3] = 0;
    return kIcdTableHeader;
}

uint32_t IcdDecodeParamId(const uint8_t* payload)
{
    return ReadLe16(payload);
}

int IcdEncodeWords(uint8_t* payload, int at, const uint16_t* words, int count)
{
    for (int i = 0; i < count; ++i, at += 2)
        WriteLe16(payload + at, words[i]);
    return at;
}

int IcdEncode(const IcdConnectionPayload& p, uint8_t* payload)
{
    payload[0] = static_cast<uint8_t>((p.rateCode & 0x3F) | (p.rateOption << 6));
    payload[1] = static_cast<uint8_t>((p.mode & 0x1F) | (p.modeOption << 6));
    payload[2] = static_cast<uint8_t>((p.lineOption & 3) | ((p.originate & 1) << 2) | ((p.procedureKind & 3) << 3) |
                                      ((p.singleTone & 1) << 5) | ((p.flag6 & 1) << 6));
    payload[3] = static_cast<uint8_t>((p.phase2Kind & 3) | ((p.phase2Flags[0] & 1) << 2) |
                                      ((p.phase2Flags[1] & 1) << 3));
    return kIcdConnectionLength;
}

IcdConnectionPayload IcdDecodeConnection(const uint8_t* payload)
{
    IcdConnectionPayload p{};
    p.rateCode = payload[0] & 0x3F;
    p.rateOption = payload[0] >> 6;
    p.mode = payload[1] & 0x1F;
    p.modeOption = payload[1] >> 6;
    p.lineOption = payload[2] & 3;
    p.originate = (payload[2] >> 2) & 1;
    p.procedureKind = (payload[2] >> 3) & 3;
    p.singleTone = (payload[2] >> 5) & 1;
    p.flag6 = (payload[2] >> 6) & 1;
    p.phase2Kind = payload[3] & 3;
    p.phase2Flags[0] = (payload[3] >> 2) & 1;
    p.phase2Flags[1] = (payload[3] >> 3) & 1;
    return p;
}

int IcdEncode(const IcdTonePairPayload& p, uint8_t* payload)
{
    WriteLe16(payload, p.step1);
    WriteLe16(payload + 2, p.step2);
    payload[4] = p.control;
    payload[5] = 0;
    return kIcdTonePairLength;
}

IcdTonePairPayload IcdDecodeTonePair(const uint8_t* payload)
{
    return IcdTonePairPayload{ReadLe16(payload), ReadLe16(payload + 2), payload[4]};
}

int IcdEncode(const IcdVersionPayload& p, uint8_t* payload)
{
    for (int i = 0; i < 4; ++i)
        WriteLe16(payload + 2 * i, p.part[i]);
    return kIcdVersionLength;
}

IcdVersionPayload IcdDecodeVersion(const uint8_t* payload)
{
    IcdVersionPayload p{};
    for (int i = 0; i < 4; ++i)
        p.part[i] = ReadLe16(payload + 2 * i);
    return p;
}

int IcdEncode(const IcdDetectorReportPayload& p, uint8_t* payload)
{
    WriteLe16(payload, p.kind);
    WriteLe16(payload + 2, p.timeStamp);
    WriteLe16(payload + 4, p.value);
    return kIcdDetectorReportLength;
}

IcdDetectorReportPayload IcdDecodeDetectorReport(const uint8_t* payload)
{
    return IcdDetectorReportPayload{ReadLe16(payload), ReadLe16(payload + 2), ReadLe16(payload + 4)};
}

int IcdEncode(const IcdEventPayload& p, uint8_t* payload)
{
    payload[0] = p.value;
    payload[1] = p.kind;
    return kIcdEventLength;
}

IcdEventPayload IcdDecodeEvent(const uint8_t* payload)
{
    return IcdEventPayload{payload[0], payload[1]};
}

int16_t IcdTxLevelOfWord(uint16_t word)
{
    for (const IcdTxLevelWord& g : kIcdTxLevelWords) {
        if (g.word == word)
            return g.dB;
    }
    return kIcdTxLevelOther;
}

uint16_t IcdTxLevelWordOf(int dB)
{
    const IcdTxLevelWord* best = &kIcdTxLevelWords[0];
    for (const IcdTxLevelWord& g : kIcdTxLevelWords) {
        const int d = g.dB > dB ? g.dB - dB : dB - g.dB;
        const int b = best->dB > dB ? best->dB - dB : dB - best->dB;
        if (d < b || (d == b && g.dB < best->dB))
            best = &g;
    }
    return best->word;
}
