// The data-pump stand-in of the controller tests: a register window whose command entry takes the command
// from registers 64-83, logs it and answers in registers 0-19 (acknowledgement, version report, parameter
// values), and calls the controller's notification routine. It can be made to misbehave: never take a
// command, or never answer. The same stand-in serves bound straight to a DSP link (DspIcdPumpBindDevice) and
// as a driver in a device stack (FakePumpDriverEntry).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "layer1/dsp/dsp_context.h"
#include "platform/kernel.h"

struct DspDevice;
struct DspLinkHooks;

struct IcdLogEntry {
    uint8_t code;
    uint8_t length;
    std::vector<uint8_t> payload;
};

struct DspIcdPump {
    DspContext context;  // first: the command entry finds the pump through it
    DspInterfaceBlock block;
    void (*notify)(void* arg);
    void* notifyArg;
    bool neverTake;
    bool neverReply;
    uint16_t memoryValue;  // answered to memory and table reads
    // Answers to the connection queries: 0x70 (rate byte), 0x72 (modulation) and 0x91 (link parameters).
    uint8_t rateByte = 4;
    uint8_t modeByte = 7;
    uint8_t linkParams[8] = {};
    std::mutex logLock;
    std::vector<IcdLogEntry> log;
};

void DspIcdPumpInit(DspIcdPump* pump, void (*notify)(void*), void* arg);
// Posts a packet into the reply mailbox as the block thread would (false when the mailbox is busy).
bool DspIcdPumpPost(DspIcdPump* pump, uint8_t code, const uint8_t* payload, int length);
std::vector<IcdLogEntry> DspIcdPumpLog(DspIcdPump* pump);
// A logged command as it went over the wire: code, length, payload.
std::vector<uint8_t> IcdWireBytes(const IcdLogEntry& entry);
// Prepares a controller device with `hooks` (null: none), binds it to the stand-in pump, whose notifications
// then reach the device's link, and marks the port ready.
void DspIcdPumpBindDevice(DspIcdPump* pump, DspDevice* dev, const DspLinkHooks* hooks);

// The stand-in as a lower filter below the controller: it answers the start request with the stand-in's
// DspContext (whose interface block holds the register window), remembers the controller's event routine,
// and completes or passes on everything else. Under a driver it never takes a command (as a data pump that
// does not run), unless a test clears neverTake.
struct FakePumpExtension : DspIcdPump {
    PDEVICE_OBJECT device;
    PDEVICE_OBJECT lower;
    ControllerCallback controller_callback;  // handed down at start
    bool answer_null_context;                // start completes with no DspContext
    bool answer_null_block;                  // the DspContext has no interface block
    int creates;
    int closes;
};

NTSTATUS FakePumpDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path);
FakePumpExtension* FakePumpOf(PDEVICE_OBJECT pump_device);
