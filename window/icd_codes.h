// The ICD packet codes: every command the controller sends through registers 64-83 and every reply, report
// and event the data pump posts in registers 0-19. One list for both drivers.
#pragma once

#include <cstdint>

enum IcdCode : uint8_t {
    // Parameter access by DSP address (through the parameter directories).
    IcdReadTable = 0x09,
    IcdReadMemory = 0x0A,
    IcdReadMemoryHigh = 0x0B,      // address | 0x10000
    IcdWriteTable = 0x0C,
    IcdWriteMemory = 0x0D,
    IcdWriteMemoryHigh = 0x0E,     // address | 0x10000
    IcdTableParamValue = 0x14,     // reply to 0x09
    IcdMemoryValue = 0x15,         // reply to 0x0A and 0x0B

    // Commands of the data pump's command table (0x60-0xA3).
    IcdReset = 0x60,
    IcdSetFraming = 0x61,
    IcdSetOption62 = 0x62,
    IcdSetPumpOptions = 0x64,
    IcdConfigDetectors = 0x65,
    IcdSetDtmfTiming = 0x66,
    IcdStartDigit = 0x67,
    IcdStartConnection = 0x68,
    IcdRetrain = 0x69,
    IcdRenegotiate = 0x6B,
    IcdSetOption6C = 0x6C,
    IcdStartDataPump = 0x6E,
    IcdQueryRate = 0x70,
    IcdQueryMode = 0x72,
    IcdStartFaxPump = 0x73,
    IcdReleaseHold = 0x74,
    IcdSetHold = 0x75,
    IcdSetLineFlowControl = 0x79,
    IcdSetTxLevel = 0x7B,
    IcdPlayTonePair = 0x7C,
    IcdNop7D = 0x7D,
    IcdSetLowerOption = 0x81,
    IcdQueryLinkStatus = 0x82,
    IcdSetRateLimit = 0x85,
    IcdSetWord86 = 0x86,
    IcdSetDualToneLevels = 0x88,
    IcdRestartFramer = 0x8B,
    IcdSetPhase2Params = 0x90,
    IcdQueryLinkParams = 0x91,
    IcdSetCallerIdMode = 0x93,
    IcdQueryVersion = 0x94,
    IcdVoiceMode = 0x95,
    IcdSetVoiceParams = 0x96,
    IcdStartVoice = 0x97,
    IcdGoIdle = 0x98,
    IcdSetByte99 = 0x99,
    IcdSetLineControl = 0x9C,
    IcdRestartPhase2 = 0xA0,
    IcdPcmControl = 0xA1,
    IcdSetLineByte = 0xA2,
    IcdEndDownload = 0xA3,

    // Replies, reports and events of the data pump.
    IcdAck = 0xC0,                 // {command code}
    IcdRateReport = 0xC1,
    IcdModeReport = 0xC2,
    IcdEventChar = 0xC4,           // {character}
    IcdLinkParamsReport = 0xC6,
    IcdVersionReport = 0xCB,
    IcdStatusReport = 0xCC,
    IcdIgnoredCF = 0xCF,
    IcdDetectorReport = 0xD1,      // {kind, time stamp, value}, 16 bits each
    IcdEvent = 0xD4,               // {value, kind}
    IcdTraceRecord = 0xD5,
    IcdTraceAppend = 0xD6,
};

// The command table's range of codes.
constexpr uint8_t kFirstTableCode = IcdReset;
constexpr uint8_t kLastTableCode = IcdEndDownload;
constexpr int kCommandTableSlots = kLastTableCode - kFirstTableCode + 1;
