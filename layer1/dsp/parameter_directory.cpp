// The two parameter directories: registration, lookup, plain reads and writes, and the lists of every
// parameter the controller may address.
#include "layer1/dsp/parameter_directory.h"

#include <cstring>

#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/line_statistics.h"
#include "window/parameter_ids.h"

namespace {

const ParameterEntry* Find(const ParameterEntry* entries, int32_t count, uint32_t id)
{
    for (int32_t i = 0; i < count; ++i) {
        if (entries[i].id == id)
            return &entries[i];
    }
    return nullptr;
}

void Register(ParameterEntry* entries, int32_t* count, int32_t capacity, uint32_t id, void* pointer, uint32_t size)
{
    if (Find(entries, *count, id) != nullptr || *count >= capacity)
        return;
    entries[*count] = ParameterEntry{id, pointer, size};
    *count += 1;
}

uint32_t CopyOut(const ParameterEntry* e, void* out, uint32_t bytes)
{
    if (e == nullptr)
        return 0;
    const uint32_t n = e->size < bytes ? e->size : bytes;
    std::memcpy(out, e->pointer, n);
    return n;
}

uint32_t CopyIn(const ParameterEntry* e, const void* in, uint32_t bytes)
{
    if (e == nullptr)
        return 0;
    const uint32_t n = e->size < bytes ? e->size : bytes;
    std::memcpy(e->pointer, in, n);
    return n;
}

// The phase-2 kept words (low and high halves) and the Phase2Result record, in the order of their ids.
void RegisterPhase2Params(DspContext* ctx)
{
    DspInterfaceBlock* b = ctx->interfaceBlock;
    Phase2State& s = ctx->phase2;
    uint8_t* kept[2] = {reinterpret_cast<uint8_t*>(&s.keptWord0), reinterpret_cast<uint8_t*>(&s.keptWord1)};
    for (int i = 0; i < kParamKeptWordHalves; ++i)
        RegisterTableParam(b, kParamKeptWords + i, kept[i / 2] + 2 * (i % 2), 2);
    Phase2Result& r = ctx->phase2Result;
    uint8_t* words = reinterpret_cast<uint8_t*>(&r);
    for (int g = 0; g < 3; ++g)
        RegisterTableParam(b, kParamPhase2Result + 8 * g, words + 16 * g, 16);
    RegisterTableParam(b, kParamPhase2Info0, &r.info0FirstWord, 14);
    for (int g = 3; g < 5; ++g)
        RegisterTableParam(b, kParamPhase2Result + 8 * g, words + 16 * g, 16);
    RegisterTableParam(b, kParamPhase2FreqOffset, &r.freqOffset, 4);
    RegisterTableParam(b, kParamPhase2Result + 8 * 5, words + 16 * 5, 16);
    for (int k = 0; k < kParamPhase2SpectrumEntries; ++k)
        RegisterTableParam(b, kParamPhase2Spectrum + 8 * k, &r.spectrum[4 * k], 16);
}

void BuildTableDirectory(DspContext* ctx)
{
    DspInterfaceBlock* b = ctx->interfaceBlock;
    ParameterArea& a = ctx->parameters;
    RegisterTableParam(b, 256, &a.dspParam[0], 2);
    RegisterTableParam(b, 257, &a.dspParam[1], 2);
    RegisterTableParam(b, 6158, &a.pcmParam32, 4);
    RegisterTableParam(b, 6159, &a.pcmParam16, 2);
    RegisterPhase2Params(ctx);
    RegisterTableParam(b, 5907, a.detectorBlock, 8);
    RegisterTableParam(b, 5767, &ctx->txLevelDb, 2);
    RegisterTableParam(b, 5727, &a.modeWord, 2);
    RegisterTableParam(b, 6176, a.codecImage, 16);
    RegisterTableParam(b, 6184, &a.codecImage[8], 2);
    RegisterTableParam(b, 6191, ctx->tableParam6191, 6);
    RegisterTableParam(b, 6186, ctx->tableParam6186, 6);
    for (uint32_t k = 0; k < 12; ++k)
        RegisterTableParam(b, 0x8000 + 8 * k, a.v34Block[k], 16);
    for (uint32_t k = 0; k < 96; ++k)
        RegisterTableParam(b, 0x8100 + 8 * k, a.pcmBlock[k], 16);
    RegisterTableParam(b, kDownloadTableId, a.downloadTable, kDownloadTableBytes);
}

void BuildMemoryDirectory(DspContext* ctx)
{
    DspInterfaceBlock* b = ctx->interfaceBlock;
    ParameterArea& a = ctx->parameters;
    V34Link& v = ctx->v34;
    RegisterMemoryParam(b, 32, &a.word32, 2);
    RegisterMemoryParam(b, 51, &a.word51, 2);
    RegisterMemoryParam(b, 258, a.block258, 12);
    RegisterMemoryParam(b, 288, a.block258, 12);
    RegisterMemoryParam(b, 116, a.liveDummy, 2);
    RegisterMemoryParam(b, 65574, &a.word65574, 2);
    RegisterMemoryParam(b, 65603, a.liveDummy, 2);
    for (uint32_t k = 0; k < 32; ++k)
        RegisterMemoryParam(b, 6400 + 8 * k, a.liveDummy, 16);
    for (uint32_t k = 0; k < 10; ++k)
        RegisterMemoryParam(b, 67340 + 8 * k, v.equaliserTaps[1][4 * k], 16);
    for (uint32_t k = 0; k < 10; ++k)
        RegisterMemoryParam(b, 66800 + 8 * k, v.equaliserTaps[0][4 * k], 16);
    RegisterMemoryParam(b, 228, &a.word228, 2);
    RegisterMemoryParam(b, 192, a.liveDummy, 2);
    RegisterMemoryParam(b, 193, a.liveDummy, 2);
    for (uint32_t i = 0; i < 3; ++i)
        RegisterMemoryParam(b, 194 + i, &a.option[i], 2);
    for (uint32_t i = 0; i < 3; ++i)
        RegisterMemoryParam(b, 204 + i, &a.word204[i], 2);
    RegisterMemoryParam(b, 143, &a.word143, 4);
    for (uint32_t i = 0; i < 5; ++i)
        RegisterMemoryParam(b, 146 + 2 * i, &a.callProgressLevel[i], 4);
    RegisterMemoryParam(b, 226, &ctx->rxLevelParam, 2);
    RegisterMemoryParam(b, 66100, &a.voiceGains, 2);
    // Three detector coefficient sets at A, A + 7 and A + 14, each reloaded when its A + 14 is written.
    for (int s = 0; s < kDetectorCoefficientSets; ++s) {
        DetectorCoefficientSet& set = a.detectorSet[s];
        RegisterMemoryParam(b, kDetectorSetBase[s], set.first, 14);
        RegisterMemoryParam(b, kDetectorSetBase[s] + 7, set.second, 14);
        RegisterMemoryParam(b, kDetectorSetBase[s] + 14, &set.trigger, 2);
    }
    RegisterMemoryParam(b, 67340, v.equaliserTaps[1][0], 16);  // already present: the first wins
    for (uint32_t i = 0; i < 7; ++i)
        RegisterMemoryParam(b, 67576 + i, &ctx->pcm.words[i], 2);
    RegisterMemoryParam(b, 67584, &a.pcm67584, 4);
    RegisterMemoryParam(b, 67586, &a.pcm67586, 4);
    RegisterMemoryParam(b, 67588, &a.pcm67588, 2);
    RegisterLineStatistics(ctx);
}

}  // namespace

void RegisterMemoryParam(DspInterfaceBlock* block, uint32_t id, void* pointer, uint32_t size)
{
    Register(block->memoryDirectory, &block->memoryDirectoryCount, kMemoryDirectoryEntries, id, pointer, size);
}

void RegisterTableParam(DspInterfaceBlock* block, uint32_t id, void* pointer, uint32_t size)
{
    Register(block->tableDirectory, &block->tableDirectoryCount, kTableDirectoryEntries, id, pointer, size);
}

const ParameterEntry* FindMemoryParam(const DspInterfaceBlock* block, uint32_t id)
{
    return Find(block->memoryDirectory, block->memoryDirectoryCount, id);
}

const ParameterEntry* FindTableParam(const DspInterfaceBlock* block, uint32_t id)
{
    return Find(block->tableDirectory, block->tableDirectoryCount, id);
}

uint32_t MemoryParamSize(const DspInterfaceBlock* block, uint32_t id)
{
    const ParameterEntry* e = FindMemoryParam(block, id);
    return e != nullptr ? e->size : 0;
}

uint32_t TableParamSize(const DspInterfaceBlock* block, uint32_t id)
{
    const ParameterEntry* e = FindTableParam(block, id);
    return e != nullptr ? e->size : 0;
}

uint32_t ReadMemoryValue(const DspInterfaceBlock* block, uint32_t id, void* out, uint32_t bytes)
{
    return CopyOut(FindMemoryParam(block, id), out, bytes);
}

uint32_t WriteMemoryValue(DspInterfaceBlock* block, uint32_t id, const void* in, uint32_t bytes)
{
    return CopyIn(FindMemoryParam(block, id), in, bytes);
}

uint32_t ReadTableValue(const DspInterfaceBlock* block, uint32_t id, void* out, uint32_t bytes)
{
    return CopyOut(FindTableParam(block, id), out, bytes);
}

uint32_t WriteTableValue(DspInterfaceBlock* block, uint32_t id, const void* in, uint32_t bytes)
{
    return CopyIn(FindTableParam(block, id), in, bytes);
}

uint32_t WriteTableWords(DspInterfaceBlock* block, uint32_t id, uint32_t wordOffset, const void* in, uint32_t bytes)
{
    const ParameterEntry* e = FindTableParam(block, id);
    if (e == nullptr)
        return 0;
    const uint64_t start = static_cast<uint64_t>(wordOffset) * 2;
    if (start >= e->size)
        return 0;
    uint64_t n = bytes < 12 ? bytes : 12;
    if (n > e->size - start)
        n = e->size - start;
    std::memcpy(static_cast<uint8_t*>(e->pointer) + start, in, static_cast<size_t>(n));
    return static_cast<uint32_t>(n);
}

void BuildParameterDirectory(DspContext* ctx)
{
    BuildTableDirectory(ctx);
    BuildMemoryDirectory(ctx);
    std::memset(ctx->rateModeOptions, 0, sizeof(ctx->rateModeOptions));
    std::memset(ctx->detectorWork, 0, sizeof(ctx->detectorWork));
    ResetPhase2State(ctx);
    ResetV34Pump(ctx);
    ResetPcmState(ctx);
}
