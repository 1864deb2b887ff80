// Commands 0x09-0x0E: parameter reads (replies 0x14 and 0x15) and writes (no reply) by DSP address. An id the
// directory does not hold leaves the record as fetched, so the command comes back as its own echo. Replies
// carry at most 16 bytes; writes copy only the bytes the command carried and never past the entry's end.
#include <cstring>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/line_statistics.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "platform/byte_order.h"
#include "window/icd_packet.h"
#include "window/parameter_ids.h"

namespace {

constexpr uint32_t kCodecModeLive = 4;
constexpr uint32_t kCodecReadA = 0x2000000;
constexpr uint32_t kCodecReadB = 0x1000000;
constexpr uint32_t kCodecSelectorA = 0x100005C;  // codec setting A (table 6191)
constexpr uint32_t kCodecSelectorB = 0x1000062;  // codec setting B (table 6186)

uint32_t CodecRead(DspContext* ctx, uint32_t selector)
{
    LowerCodecAccess access{selector, 0};
    LowerControl(ctx->lowerAudio, LOWER_CODE_CODEC_READ, &access, &access);
    return access.value;
}

void CodecWrite(DspContext* ctx, uint32_t selector, uint32_t value)
{
    LowerCodecAccess access{selector, value};
    LowerCodecAccess out{};
    LowerControl(ctx->lowerAudio, LOWER_CODE_CODEC_WRITE, &access, &out);
}

// ((((f6 x 2 + f5) x 8 + f4) x 2 + f3) x 16 + f2) x 32 + f1.
uint16_t PackRateRecord(const uint16_t f[6])
{
    const uint32_t v = ((((static_cast<uint32_t>(f[5]) * 2 + f[4]) * 8 + f[3]) * 2 + f[2]) * 16 + f[1]) * 32 + f[0];
    return static_cast<uint16_t>(v);
}

// Four 32-bit codec values of register indices 4k .. 4k + 3 of one address table; zero addresses give 0.
void ReadCodecGroup(DspContext* ctx, const uint32_t* table, uint32_t bank, uint32_t k, uint8_t* out)
{
    for (uint32_t j = 0; j < 4; ++j) {
        const uint32_t address = table[4 * k + j];
        WriteLe32(out + 4 * j, address != 0 ? CodecRead(ctx, bank | address) : 0);
    }
}

// Four complex 32-bit taps as four pairs of 16-bit high halves.
void ReadTaps(const int32_t (*taps)[2], uint8_t* out)
{
    for (int j = 0; j < 4; ++j) {
        WriteLe16(out + 4 * j, static_cast<uint16_t>(static_cast<uint32_t>(taps[j][0]) >> 16));
        WriteLe16(out + 4 * j + 2, static_cast<uint16_t>(static_cast<uint32_t>(taps[j][1]) >> 16));
    }
}

// Reads the codec register image live: eight words, each one query OR the low byte of the next shifted up
// by 8, then the low byte of a ninth query in the high half of the word after the image.
void ReadCodecImage(DspContext* ctx)
{
    static constexpr uint32_t kPairs[8][2] = {{1, 2},   {5, 6},   {7, 8},   {9, 10},
                                              {11, 12}, {13, 14}, {15, 16}, {17, 18}};
    uint16_t* image = ctx->parameters.codecImage;
    for (int i = 0; i < 8; ++i) {
        const uint32_t low = CodecRead(ctx, kPairs[i][0]);
        const uint32_t high = CodecRead(ctx, kPairs[i][1]);
        image[i] = static_cast<uint16_t>((low & 0xFFFFu) | ((high & 0xFFu) << 8));
    }
    image[8] = static_cast<uint16_t>((CodecRead(ctx, 19) & 0xFFu) << 8);
}

// Level code of a voice-gain nibble: 0 -> 3, 1-9 -> 2, 10-15 -> 1.
uint32_t VoiceLevelCode(uint32_t nibble)
{
    if (nibble == 0)
        return 3;
    return nibble <= 9 ? 2 : 1;
}

int DetectorSetOfTrigger(uint32_t id)
{
    for (int s = 0; s < kDetectorCoefficientSets; ++s) {
        if (id == kDetectorSetBase[s] + 14)
            return s;
    }
    return -1;
}

uint32_t CarriedBytes(const CommandRecord& r, uint32_t header)
{
    return r.length > header ? r.length - header : 0;
}

}  // namespace

void ReadMemoryParam(DspContext* ctx, uint32_t bank)
{
    CommandRecord& r = ctx->command;
    const uint32_t id = IcdDecodeParamId(r.payload) | bank;
    const uint32_t size = MemoryParamSize(ctx->interfaceBlock, id);
    if (size == 0)
        return;
    uint8_t value[kIcdMaxPayload] = {};
    const LowerDeviceRecord& device = ctx->deviceRecord;
    if (id == 116) {
        WriteLe16(value, static_cast<uint16_t>(ctx->v34.pumpWord116 >> 16));
    } else if (id == 192) {
        WriteLe16(value, PackRateRecord(ctx->parameters.rateRecord));
    } else if (id == 193) {
        WriteLe16(value, PackRateRecord(ctx->v34.rateLimit));
    } else if (id == 65603) {
        WriteLe16(value, static_cast<uint16_t>(ctx->v34.counter65603 / 4875u));
    } else if (id >= 6400 && id < 6528 && (id - 6400) % 8 == 0) {
        ReadCodecGroup(ctx, device.codecAddressA, kCodecReadA, (id - 6400) / 8, value);
    } else if (id >= 6528 && id < 6656 && (id - 6528) % 8 == 0) {
        ReadCodecGroup(ctx, device.codecAddressB, kCodecReadB, (id - 6528) / 8, value);
    } else if (id >= 66800 && id < 66880 && (id - 66800) % 8 == 0) {
        ReadTaps(&ctx->v34.equaliserTaps[0][4 * ((id - 66800) / 8)], value);
    } else if (id >= 67340 && id < 67420 && (id - 67340) % 8 == 0) {
        ReadTaps(&ctx->v34.equaliserTaps[1][4 * ((id - 67340) / 8)], value);
    } else if (IsLineStatistic(id)) {
        ReadLineStatistic(ctx, id, value);
    } else if (id == 67578) {
        WriteLe16(value, ctx->pcm.liveWord);
    } else {
        ReadMemoryValue(ctx->interfaceBlock, id, value, sizeof(value));
    }
    SetReply(ctx, IcdMemoryValue, static_cast<uint8_t>(size < kIcdMaxPayload ? size : kIcdMaxPayload), value);
}

void ReadTableParam(DspContext* ctx)
{
    CommandRecord& r = ctx->command;
    const uint32_t id = IcdDecodeParamId(r.payload);
    const uint32_t size = TableParamSize(ctx->interfaceBlock, id);
    if (size == 0)
        return;
    uint8_t value[kIcdMaxPayload] = {};
    const bool live = ctx->deviceRecord.codecMode == kCodecModeLive;
    if (id == 6176) {
        if (live) {
            ReadCodecImage(ctx);
            std::memcpy(value, ctx->parameters.codecImage, 16);
        }
    } else if (id == 6184) {
        if (live)
            WriteLe16(value, ctx->parameters.codecImage[8]);
    } else {
        ReadTableValue(ctx->interfaceBlock, id, value, sizeof(value));
    }
    // The download table is longer than a reply: its first 16 bytes are sent.
    SetReply(ctx, IcdTableParamValue, static_cast<uint8_t>(size < kIcdMaxPayload ? size : kIcdMaxPayload), value);
}

void WriteTableParam(DspContext* ctx)
{
    CommandRecord& r = ctx->command;
    DspInterfaceBlock* block = ctx->interfaceBlock;
    const uint32_t id = IcdDecodeParamId(r.payload);
    const uint32_t carried = CarriedBytes(r, 4);
    const bool download = id >= kDownloadTableId && id <= kDownloadTableLastId;
    const uint32_t size = download ? carried : TableParamSize(block, id);
    if (size == 0)
        return;
    r.code = 0;
    const uint8_t* in = r.payload + 4;
    if (id == 6191 || id == 6186) {
        const uint32_t x = in[0];
        const uint32_t y = in[1];
        if (ctx->deviceRecord.codecMode == kCodecModeLive) {
            WriteTableValue(block, id, in, carried);
            CodecWrite(ctx, kCodecReadB | y, x);
        } else if (id == 6191) {
            const uint32_t c = CodecRead(ctx, kCodecSelectorA);
            CodecWrite(ctx, kCodecSelectorA, (c & ~0xA2u) | (x & 0x21u) | ((x & 0x4Eu) * 2));
        } else {
            const uint32_t c = CodecRead(ctx, kCodecSelectorB);
            CodecWrite(ctx, kCodecSelectorB, (c & ~0x18u) | (x & 0x18u));
        }
        return;
    }
    if (download) {
        ctx->parameters.downloadCounter = static_cast<uint16_t>(ctx->parameters.downloadCounter + size);
        WriteTableWords(block, kDownloadTableId, id - kDownloadTableId, in, carried);
        return;
    }
    WriteTableValue(block, id, in, carried);
    static constexpr uint32_t kChangedBits[4] = {4, 1, 2, 8};
    if (id >= kParamKeptWords && id < kParamKeptWords + kParamKeptWordHalves)
        ctx->parameters.parameterChanged |= kChangedBits[id - kParamKeptWords];
}

void WriteMemoryParam(DspContext* ctx, uint32_t bank)
{
    CommandRecord& r = ctx->command;
    DspInterfaceBlock* block = ctx->interfaceBlock;
    const uint32_t id = IcdDecodeParamId(r.payload) | bank;
    if (MemoryParamSize(block, id) == 0)
        return;
    static constexpr uint32_t kOptionBits[3] = {0x10, 0x40, 0x20};
    if (id >= 194 && id <= 196)
        ctx->parameters.parameterChanged |= kOptionBits[id - 194];
    const int set = DetectorSetOfTrigger(id);
    if (set >= 0)
        RequestSectionReload(ctx, set);
    WriteMemoryValue(block, id, r.payload + 2, CarriedBytes(r, 2));
    if (id == 66100) {
        const uint32_t v = ctx->parameters.voiceGains;
        SetLowerGain30(ctx->lowerAudio, 3, v, VoiceLevelCode((v >> 8) & 0xFu));
        SetLowerGain30(ctx->lowerAudio, 4, v, VoiceLevelCode((v >> 12) & 0xFu));
    }
    r.code = 0;
}
