// The DSP patch download: words from a patch table into DSP memory or tables, asked for by the data pump's
// trace records. Tables are read within their size, whatever their entries say.
#include <cstring>

#include "layer2/corecode/mt/dsp_link.h"

namespace {

constexpr uint8_t kTableEnd = '0';

struct TableReader {
    const DspPatchTable* table;
    bool has(uint32_t position) const
    {
        return table->bytes != nullptr && table->stride != 0 &&
               static_cast<uint64_t>(position) * table->stride < table->size;
    }
    uint8_t at(uint32_t position) const { return table->bytes[position * table->stride]; }
};

int send_words(DspLink* link, uint16_t address, uint8_t bank, const uint8_t* data, int bytes)
{
    const bool table = (bank & 1) != 0;
    const int chunk = table ? 12 : 14;
    for (int at = 0; at < bytes; at += chunk) {
        const int n = bytes - at < chunk ? bytes - at : chunk;
        uint8_t payload[kIcdMaxPayload] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)};
        int length = 2;
        uint8_t code;
        if (table) {
            payload[2] = static_cast<uint8_t>((bank & 0xFE) << 4);
            payload[3] = 0;
            length = 4;
            code = IcdWriteTable;
        } else {
            code = (bank & 0x0E) != 0 ? IcdWriteMemoryHigh : IcdWriteMemory;
        }
        std::memcpy(payload + length, data + at, static_cast<size_t>(n));
        const int result = dsp_send_command(link, code, payload, length + n, kReplyNone, nullptr);
        if (result != kIcdSent)
            return result;
        address = static_cast<uint16_t>(address + n / 2);
    }
    return kIcdSent;
}

void write_window(DspLink* link, uint16_t address, const uint8_t* data, int bytes)
{
    dsp_reg_write(link, kRegPatchAddressHigh, static_cast<uint8_t>(address >> 8));
    dsp_reg_write(link, kRegPatchAddressLow, static_cast<uint8_t>(address));
    for (int i = 0; i < bytes; ++i)
        dsp_reg_write(link, kRegPatchData, data[i]);
}

}  // namespace

int dsp_patch_download(DspLink* link, uint8_t kind, uint8_t id, uint16_t address, uint8_t bank)
{
    const bool builtin = kind == 0x50 || kind == 0x60;
    const TableReader table{builtin ? &link->builtinPatch : &link->uploadPatch};
    if (kind == 0x60)
        dsp_reg_write(link, kRegDspControl, 10);
    uint32_t pos = 0;
    while (table.has(pos + 5) && table.at(pos) != kTableEnd) {
        const uint8_t flags = table.at(pos);
        const uint8_t entryId = table.at(pos + 1);
        const uint16_t entryAddress = static_cast<uint16_t>(table.at(pos + 2) | (table.at(pos + 3) << 8));
        const uint32_t count = table.at(pos + 4) | (table.at(pos + 5) << 8);
        const uint32_t bytes = count * 2;
        if (!table.has(pos + 6 + bytes - (bytes != 0 ? 1 : 0)) && bytes != 0)
            break;  // an entry cut short by the table's end is not sent
        if (entryId == id) {
            uint8_t data[512];
            uint32_t sent = 0;
            uint16_t at = kind == 0x40 ? address : entryAddress;
            const uint8_t entryBank = kind == 0x40 ? bank : flags;
            while (sent < bytes) {
                const uint32_t n = bytes - sent < sizeof data ? bytes - sent : sizeof data;
                for (uint32_t i = 0; i < n; ++i)
                    data[i] = table.at(pos + 6 + sent + i);
                if (kind == 0x60) {
                    if (sent == 0)
                        write_window(link, at, data, static_cast<int>(n));
                    else
                        for (uint32_t i = 0; i < n; ++i)
                            dsp_reg_write(link, kRegPatchData, data[i]);
                } else {
                    const int result = send_words(link, at, entryBank, data, static_cast<int>(n));
                    if (result != kIcdSent)
                        return result;
                    at = static_cast<uint16_t>(at + n / 2);
                }
                sent += n;
            }
        }
        pos += 6 + bytes;
    }
    if (kind == 0x60) {
        dsp_reg_write(link, kRegCommandLength, 1);
        dsp_reg_write(link, kRegDspControl, 9);
        link->patchLoaded = 1;
    }
    const uint8_t end[2] = {id, kind};
    const int result = dsp_send_command(link, IcdEndDownload, end, 2, kReplyAck, nullptr);
    return result == kIcdSent ? 1 : result;
}
