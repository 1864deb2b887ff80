// The codec table (eight entries, built from one row per codec; everything the rows share is filled by
// code), how each codec travels to the data pump, and the text helpers of the voice reports.
#include <cstring>

#include "layer2/corecode/voice/voice_codecs.h"
#include "layer2/corecode/voice/voice_stream.h"

namespace {

struct CodecRow {
    uint8_t method;
    const char* name;
    uint8_t bits;
    uint8_t pump_format;  // coding of the data pump (0x97 byte 1)
    uint8_t packing;      // VoicePacking
};

// The data pump codes every sample as one byte: A-law (0), 8-bit offset binary (2), 3-bit ADPCM (5) and
// 4-bit ADPCM (6). The 8-bit linear codecs are its offset binary; the 16-bit codecs travel as offset binary
// too (the pump has no 16-bit coding), widened and narrowed here; "CL1" is its A-law.
constexpr CodecRow kRows[kVoiceCodecCount] = {
    {0, "8-Bit Linear", 8, 2, VOICE_PACK_BYTE},
    {1, "UNSIGNED PCM", 16, 2, VOICE_PACK_LINEAR16},
    {2, "4-Bit ADPCM", 4, 6, VOICE_PACK_NIBBLE},
    {128, "8-Bit Linear", 8, 2, VOICE_PACK_BYTE},
    {129, "16-Bit Linear", 16, 2, VOICE_PACK_LINEAR16},
    {132, "4-Bit ADPCM", 4, 6, VOICE_PACK_NIBBLE},
    {140, "CL1", 8, 0, VOICE_PACK_BYTE},
    {141, "3-Bit ADPCM", 3, 5, VOICE_PACK_3BIT},
};

constexpr uint16_t kRates[kVoiceRateCount] = {4800, 7200, 8000, 9600, 11025};
constexpr uint32_t kPlayMask = 0x0B800160;
constexpr uint32_t kRecordMask = 0x0FE01860;
constexpr uint32_t kIdleMask = 0x9B803860;

}  // namespace

void voice_codecs_fill(VoiceCodecEntry table[kVoiceCodecCount])
{
    for (int i = 0; i < kVoiceCodecCount; ++i) {
        VoiceCodecEntry& e = table[i];
        e.method = kRows[i].method;
        e.name = kRows[i].name;
        e.vendor = "Morva";
        e.bits_count = 1;
        e.bits[0] = kRows[i].bits;
        e.rate_count = kVoiceRateCount;
        for (int r = 0; r < kVoiceRateCount; ++r)
            e.rates[r] = kRates[r];
        e.options[0] = e.options[1] = e.options[2] = 0;
        e.play_mask = kPlayMask;
        e.record_mask = kRecordMask;
        e.idle_mask = kIdleMask;
    }
}

uint8_t voice_codec_pump_format(uint8_t index) { return kRows[index < kVoiceCodecCount ? index : 6].pump_format; }

uint8_t voice_codec_packing(uint8_t index) { return kRows[index < kVoiceCodecCount ? index : 6].packing; }

uint8_t voice_rate_code(uint16_t rate)
{
    for (uint8_t k = 0; k < kVoiceRateCount; ++k)
        if (kRates[k] == rate)
            return k;
    return 2;
}

int voice_codec_by_method(const VoiceCodecEntry table[kVoiceCodecCount], uint32_t method)
{
    for (int i = 0; i < kVoiceCodecCount; ++i)
        if (table[i].method == method)
            return i;
    return -1;
}

void txt_append(char* text, unsigned size, const char* more)
{
    size_t used = std::strlen(text);
    while (*more != 0 && used + 1 < size)
        text[used++] = *more++;
    text[used] = 0;
}

void txt_append_dec(char* text, unsigned size, uint32_t value)
{
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char out[12];
    for (int i = 0; i < n; ++i)
        out[i] = digits[n - 1 - i];
    out[n] = 0;
    txt_append(text, size, out);
}

namespace {

void append_hex(char* text, unsigned size, uint32_t value, int digits)
{
    static const char kHex[] = "0123456789ABCDEF";
    char out[9];
    for (int i = 0; i < digits; ++i)
        out[i] = kHex[(value >> (4 * (digits - 1 - i))) & 0xFu];
    out[digits] = 0;
    txt_append(text, size, out);
}

}  // namespace

void txt_append_hex2(char* text, unsigned size, uint8_t value) { append_hex(text, size, value, 2); }

void txt_append_hex8(char* text, unsigned size, uint32_t value) { append_hex(text, size, value, 8); }
