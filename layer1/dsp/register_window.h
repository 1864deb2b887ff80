// The register file of the emulated DSP as the data pump uses it: numbered registers, the mailbox primitives
// (reply, command, receive and transmit chunks), the status register and notifications, and the device lock.
//
// Mailboxes are published in order: the payload first, then the code or count with release ordering; a
// reader loads the code or count with acquire ordering before the payload. The receive count and flags
// (52/53) and the transmit count and flags (116/117) are published and consumed as one 16-bit access, so a
// reader never sees flags without their bytes.
#pragma once

#include <cstdint>

#include "layer1/dsp/dsp_interface_block.h"

enum HostRegister : int {
    REG_REPLY_CODE = 0,
    REG_REPLY_LENGTH = 2,
    REG_REPLY_PAYLOAD = 4,
    REG_RX_DATA = 20,
    REG_RX_COUNT = 52,
    REG_RX_FLAGS = 53,
    REG_STATUS = 54,
    REG_LINE_QUALITY = 55,
    REG_PROGRESS = 56,
    REG_DETECTOR = 57,
    REG_RESET_MARKER = 61,
    REG_COMMAND_CODE = 64,
    REG_COMMAND_LENGTH = 66,
    REG_COMMAND_PAYLOAD = 68,
    REG_TX_DATA = 84,
    REG_TX_COUNT = 116,
    REG_TX_FLAGS = 117,
    REG_STREAM_CONTROL = 242,
    REG_HOST_CONTROL = 247,
    REG_DOORBELL = 254,
    REG_NOTIFY = 255,
};

constexpr int kIcdMaxPayload = 16;      // payload bytes of a command or reply packet
constexpr int kMailboxBytes = 32;       // data bytes of a receive or transmit chunk
constexpr uint8_t kNotifyEnable = 0x02; // register 247 bit 1

// Single-register and register-pair accesses of the window, for both sides of it. A pair is two adjacent
// registers starting at an even number: the low register in the low byte.
uint8_t WindowLoad(const DspInterfaceBlock* block, int reg);
void WindowStore(DspInterfaceBlock* block, int reg, uint8_t value);
uint16_t WindowLoadPair(const DspInterfaceBlock* block, int reg);
void WindowStorePair(DspInterfaceBlock* block, int reg, uint16_t value);

// Register access of the data pump.
void WriteRegister(DspInterfaceBlock* block, int reg, uint8_t value);
uint8_t ReadRegister(DspInterfaceBlock* block, int reg);
void SetRegister(DspInterfaceBlock* block, int reg, uint8_t value);
uint8_t GetRegister(const DspInterfaceBlock* block, int reg);
void UpdateStatusRegister(DspInterfaceBlock* block, uint8_t value, int set);

// Mailboxes. PostReply returns 1 when the packet was written or queued behind a busy mailbox, 0 when the
// queue was full and the packet was lost (counted in link.droppedPackets).
int PostReply(DspInterfaceBlock* block, uint8_t code, uint8_t length, const uint8_t* payload);
int FetchCommand(DspInterfaceBlock* block, uint8_t* code, uint8_t* length, uint8_t* payload);
int PostRxBytes(DspInterfaceBlock* block, uint8_t flags, uint8_t count, const uint8_t* bytes);
int RxMailboxFree(const DspInterfaceBlock* block);
int FetchTxBytes(DspInterfaceBlock* block, uint8_t* flags, uint8_t* count, uint8_t* bytes);
uint8_t ReadTxCount(const DspInterfaceBlock* block);
uint8_t ReadTxFlags(const DspInterfaceBlock* block);

// Moves the oldest queued packet into the reply mailbox when register 0 is free. Returns 1 when one moved.
int FlushReplyQueue(DspInterfaceBlock* block);

// The device lock: a mutex, waited for through the platform, so a block may wait inside it and virtual time
// moves on. TryLockDsp only polls it (the one form allowed at DISPATCH_LEVEL); it returns 1 when taken.
// Taking the lock moves a queued packet into a free reply mailbox. UnlockDsp releases the lock and then makes
// the callbacks raised while it was held; after each round of callbacks it takes the lock again to move the
// next queued packet into the mailbox the controller freed.
void InitPumpLink(DspInterfaceBlock* block);
void LockDsp(DspInterfaceBlock* block);
int TryLockDsp(DspInterfaceBlock* block);
void UnlockDsp(DspInterfaceBlock* block);
// Counts one callback to be made when the lock is released.
void RaiseCallback(DspInterfaceBlock* block);
