#include "layer1/drivers/wdm/lower_audio.h"

#include <cstring>

namespace {

constexpr int32_t kStatusInvalidParameter = static_cast<int32_t>(0xC000000D);
constexpr int32_t kStatusInvalidDeviceRequest = static_cast<int32_t>(0xC0000010);

int32_t CallControl(LowerControlRoutine routine, void* handle, uint32_t code, void* input, void* output)
{
    if (routine == nullptr)
        return kStatusInvalidDeviceRequest;
    return routine(handle, code, input, output);
}

bool UsesSecondControl(uint32_t code)
{
    return (code >= 22 && code <= 27) || code == 30 || code == 32 || code == 33;
}

}  // namespace

const int16_t kGainTable[kGainTableEntries] = {
    32767, 31990, 28511, 25411, 22647, 20184, 17989, 16033, 14289, 12735, 11350, 10116, 9016, 8035, 7161, 6383,
    5688,  5070,  4518,  4027,  3589,  3199,  2851,  2541,  2264,  2018,  1798,  1603,  1428, 1273, 1135, 1011,
    901,   803,   716,   638,   568,   507,   451,   402,   358,   319,   285,   254,   226,  201,  179,  160,
    142,   127,   113,   101,   90,    80,    71,    63,    56,    50,    45,    40,    35,   31,   28,   25,
    22,    20,    17,    16,    14,    12,    11,    10,    9,     8,     7,     6,     5,    5,    4,    4,
    3,     3,     2,     2,     2,     2,     1,     1,     1,     1,     1,     1,     0,    0,    0,    0,
};

LowerAudioInterface* SetupLowerAudio(LowerAudioInterface* la, LowerDriverInterface* lower)
{
    if (la == nullptr || lower == nullptr)
        return nullptr;
    std::memset(la, 0, sizeof(*la));
    la->lower = lower;
    la->format.rate = 9600;
    la->format.blockLength = 96;
    std::memcpy(la->gainTable, kGainTable, sizeof(kGainTable));
    return la;
}

void ResetBlockIndices(LowerAudioInterface* la)
{
    la->readIndex = 0;
    la->writeIndex = 0;
}

// The first read of a block fetches the whole block from below; later reads hand out what is left of it.
int32_t ReadSampleBlock(LowerAudioInterface* la, int16_t* destination, int32_t n)
{
    const int32_t b = la->format.blockLength;
    if (n < 0 || n > b) {
        la->status = kLowerStatusBadCount;
        return 0;
    }
    la->status = kLowerStatusOk;
    if (la->readIndex == 0) {
        LowerDriverInterface* lower = la->lower;
        if (lower->readBlock == nullptr ||
            lower->readBlock(lower->handle, la->rxBuffer, static_cast<uint32_t>(2 * b)) == 0) {
            la->status = kLowerStatusIoFailure;
            return 0;
        }
    }
    const int32_t r = la->readIndex;
    if (r > b)
        return 0;
    const int32_t take = (r + n <= b) ? n : b - r;
    if (take > 0)
        std::memcpy(destination, la->rxBuffer + r, static_cast<size_t>(take) * sizeof(int16_t));
    la->readIndex = r + take;
    return take;
}

// Samples are collected until the block is complete; the write that completes it hands it down. Samples beyond
// the block are not taken.
int32_t WriteSampleBlock(LowerAudioInterface* la, const int16_t* source, int32_t n)
{
    const int32_t b = la->format.blockLength;
    if (n < 0 || n > b) {
        la->status = kLowerStatusBadCount;
        return 0;
    }
    la->status = kLowerStatusOk;
    const int32_t w = la->writeIndex;
    if (w >= b)
        return 0;
    if (n < b - w) {
        if (n > 0)
            std::memcpy(la->txBuffer + w, source, static_cast<size_t>(n) * sizeof(int16_t));
        la->writeIndex = w + n;
        return n;
    }
    const int32_t take = b - w;
    std::memcpy(la->txBuffer + w, source, static_cast<size_t>(take) * sizeof(int16_t));
    la->writeIndex = b;
    LowerDriverInterface* lower = la->lower;
    if (lower->writeBlock == nullptr ||
        lower->writeBlock(lower->handle, la->txBuffer, static_cast<uint32_t>(2 * b)) == 0) {
        la->status = kLowerStatusIoFailure;
        return 0;
    }
    return take;
}

int32_t LowerControl(LowerAudioInterface* la, uint32_t code, void* input, void* output)
{
    LowerDriverInterface* lower = la->lower;
    if (code == LOWER_CODE_FORMAT) {
        // A block longer than the sample buffers (or empty) would overrun them on the next read: refuse it.
        LowerFormat f{};
        if (input != nullptr)
            std::memcpy(&f, input, sizeof(f));
        if (input == nullptr || f.rate == 0 || f.blockLength == 0 || f.blockLength > kLowerBufferSamples) {
            la->status = kStatusInvalidParameter;
            return la->status;
        }
    }
    if (code == LOWER_CODE_OPTION8) {
        // The speaker option goes first to the voice-gain path as selector 3.
        LowerGain30 gain{3, 0, 0};
        if (input != nullptr)
            std::memcpy(&gain.level, input, sizeof(gain.level));
        LowerGain30 gainOut{};
        la->status = CallControl(lower->secondControl, lower->handle, LOWER_CODE_GAIN30, &gain, &gainOut);
    }
    const LowerControlRoutine routine = UsesSecondControl(code) ? lower->secondControl : lower->control;
    la->status = CallControl(routine, lower->handle, code, input, output);
    switch (code) {
    case LOWER_CODE_LOOP_CLOSE:
        la->streamByte = 1;
        break;
    case LOWER_CODE_LOOP_OPEN:
        la->streamByte = 0;
        break;
    case LOWER_CODE_FORMAT:
        std::memcpy(&la->format, input, sizeof(la->format));
        break;
    case 8:
        if (input != nullptr)
            std::memcpy(la->lastArg8, input, 4);
        break;
    case 13:
        if (input != nullptr)
            std::memcpy(la->lastArg13, input, 4);
        break;
    case 14:
        if (input != nullptr)
            std::memcpy(la->lastArg14, input, 4);
        break;
    default:
        break;
    }
    return la->status;
}

int32_t StopLowerStream(LowerAudioInterface* la)
{
    return LowerControl(la, LOWER_CODE_LOOP_CLOSE, nullptr, nullptr);
}

int32_t StartLowerStream(LowerAudioInterface* la)
{
    return LowerControl(la, LOWER_CODE_LOOP_OPEN, nullptr, nullptr);
}

int32_t SetLowerFormat(LowerAudioInterface* la, uint16_t rate, uint16_t blockLength)
{
    LowerFormat in{rate, blockLength};
    uint8_t out[4] = {};
    return LowerControl(la, LOWER_CODE_FORMAT, &in, out);
}

namespace {
int32_t SendWord(LowerAudioInterface* la, uint32_t code, uint32_t value)
{
    uint32_t out = 0;
    return LowerControl(la, code, &value, &out);
}
}  // namespace

int32_t SetLowerOption8(LowerAudioInterface* la, uint32_t value) { return SendWord(la, LOWER_CODE_OPTION8, value); }
int32_t SetLowerCallerId(LowerAudioInterface* la, uint32_t value) { return SendWord(la, LOWER_CODE_CALLER_ID, value); }
int32_t SetLowerHostControl(LowerAudioInterface* la, uint32_t value) { return SendWord(la, LOWER_CODE_HOST_CONTROL, value); }
int32_t SetLowerHostActive(LowerAudioInterface* la, uint32_t value) { return SendWord(la, LOWER_CODE_HOST_ACTIVE, value); }

int32_t SetLowerHostIdle(LowerAudioInterface* la)
{
    return LowerControl(la, LOWER_CODE_HOST_IDLE, nullptr, nullptr);
}

int32_t SetLowerGain30(LowerAudioInterface* la, uint32_t selector, uint32_t value, uint32_t level)
{
    LowerGain30 in{selector, value, level};
    LowerGain30 out{};
    return LowerControl(la, LOWER_CODE_GAIN30, &in, &out);
}

int16_t DbToGain(LowerAudioInterface* la, int32_t dB)
{
    // Index = -dB, computed without overflow for any int32.
    if (dB > 0 || dB < -(kGainTableEntries - 1)) {
        la->status = kLowerStatusBadGainIndex;
        return 0;
    }
    la->status = kLowerStatusOk;
    return la->gainTable[-dB];
}
