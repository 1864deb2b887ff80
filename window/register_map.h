// The register window's map: every register number, register bit and mailbox size that the data pump and
// the controller share. Both drivers name registers only through this header.
//
// 0-19 reply or event packet from the data pump (code, 0, length, 0, payload); 20-53 receive data chunk;
// 54 status; 55 line quality; 56/57 detector events; 64-83 command packet from the controller (the code is
// written last and read back as 0 once taken); 84-117 transmit data chunk; 240-245 general-purpose I/O;
// 247 control and status; 254 doorbell; 255 notification.
#pragma once

#include <cstdint>

enum WindowRegister : int {
    kRegReplyCode = 0,
    kRegReplyReserved1 = 1,     // always 0
    kRegReplyLength = 2,
    kRegReplyReserved3 = 3,     // always 0
    kRegReplyPayload = 4,       // 4-19
    kRegRxData = 20,            // 20-51
    kRegRxCount = 52,           // count and flags: one 16-bit pair
    kRegRxFlags = 53,
    kRegStatus = 54,
    kRegLineQuality = 55,
    kRegProgress = 56,
    kRegDetector = 57,
    kRegFramingOptions = 60,    // bit 3 (kFramingHdlc) set while the data path runs HDLC frames
    kRegResetMarker = 61,
    kRegCommandCode = 64,
    kRegCommandLength = 66,
    kRegCommandPayload = 68,    // 68-83
    kRegTxData = 84,            // 84-115
    kRegTxCount = 116,          // count and flags: one 16-bit pair
    kRegTxFlags = 117,
    kRegCallWaitingTone = 126,  // bit 0: the call-waiting tone is heard during a connection
    kRegGpioEnable0 = 240,
    kRegGpioEnable1 = 241,
    kRegGpioData0 = 242,        // the line-interface outputs (kRelay*) and inputs (kInput*)
    kRegGpioClear0 = 243,
    kRegGpioData1 = 244,
    kRegGpioClear1 = 245,
    kRegDspRestart = 246,       // bit 0 set by the controller's link start and reset
    kRegHostControl = 247,
    kRegPatchAddressLow = 248,  // a patch written straight through the window: address,
    kRegPatchAddressHigh = 249,
    kRegPatchData = 250,        // then its bytes
    kRegDspControl = 252,       // the controller's restart and patch sequence steps
    kRegDoorbell = 254,
    kRegNotify = 255,
};

constexpr int kWindowRegisters = 256;
constexpr int kIcdMaxPayload = 16;   // payload bytes of a command or reply packet
constexpr int kMailboxBytes = 32;    // data bytes of a receive or transmit chunk

// Register 247: with bit 1 set, a write to register 255 calls the controller instead of storing the value.
constexpr uint8_t kNotifyEnable = 0x02;

// Register 54: the pump state in the low nibble, flags above it.
constexpr uint8_t kStatusPumpStateMask = 0x0F;
constexpr uint8_t kStatusConnected = 0x10;  // a data connection is up
constexpr uint8_t kStatusFaxFlags = 0x20;   // a page receiver heard control-frame flags (V.21) instead
constexpr uint8_t kTxDataWantedBit = 0x40;  // transmit data wanted
// Pump states of the low nibble written by the modulations.
enum PumpState : uint8_t {
    kPumpStateIdle = 0,
    kPumpStateProcedure = 1,     // a connection procedure runs
    kPumpStateData = 2,          // trained, in data
    kPumpStateRetrain = 3,
    kPumpStateGivenUp = 4,       // the pump went idle: carrier lost or a list ended
    kPumpStateQuickData = 5,     // in data after a start by 0x6E
    kPumpStateRenegotiating = 13,  // a V.34 rate renegotiation runs
};

// Register 242: line-interface outputs, each active low, and the local-phone input. The hook relay (bit 2)
// set means on hook; clear means off hook. The sample stream runs in both states.
constexpr uint8_t kRelayHook = 0x04;
constexpr uint8_t kRelayVoice = 0x40;
constexpr uint8_t kRelayCallerId = 0x80;
constexpr uint8_t kRelaySpeakerHandset = 0x10;
constexpr uint8_t kInputLocalPhone = 0x02;

// Register 60: the framing the controller chose for the data path.
constexpr uint8_t kFramingHdlc = 0x08;

// Receive chunk flags (register 53): the status of the bytes in the chunk.
constexpr uint8_t kRxGoodFrame = 1;
constexpr uint8_t kRxBadFrame = 2;
constexpr uint8_t kRxAbort = 3;
constexpr uint8_t kRxBreak = 4;
constexpr uint8_t kRxBreakEnd = 5;
constexpr uint8_t kRxOverrun = 6;      // bytes were lost before this chunk

// Transmit chunk flags (register 117) as the data pump's transmit side reads them.
constexpr uint8_t kTxEndOfFrame = 1;    // HDLC: send the FCS and a closing flag
constexpr uint8_t kTxAbort = 3;         // HDLC: 3 or more abort the frame
constexpr uint8_t kTxIdle = 2;          // asynchronous: 2 and 4 send mark
constexpr uint8_t kTxIdle2 = 4;
constexpr uint8_t kTxBreak = 3;         // asynchronous: send a break
constexpr uint8_t kTxStop = 6;          // asynchronous: stop the current character stream
