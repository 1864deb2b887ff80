// The register file of the emulated DSP as the data pump uses it: the mailbox primitives (reply, command,
// receive and transmit chunks), the status register and notifications, and the device lock. Register names,
// bits and the ordered accessors are the window component's.
#pragma once

#include <cstdint>

#include "window/dsp_interface_block.h"
#include "window/icd_codes.h"
#include "window/register_map.h"
#include "window/window_access.h"

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
// Taking the lock moves a queued packet into a free reply mailbox and runs the mode's mailbox refill. UnlockDsp releases the lock and then makes
// the callbacks raised while it was held; after each round of callbacks it takes the lock again to move the
// next queued packet into the mailbox the controller freed.
void InitPumpLink(DspInterfaceBlock* block);
void LockDsp(DspInterfaceBlock* block);
int TryLockDsp(DspInterfaceBlock* block);
void UnlockDsp(DspInterfaceBlock* block);
// Counts one callback to be made when the lock is released.
void RaiseCallback(DspInterfaceBlock* block);
