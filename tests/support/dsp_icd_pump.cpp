#include "support/dsp_icd_pump.h"

#include <atomic>
#include <cstring>

#include "layer2/corecode/mt/dsp_device.h"
#include "platform/byte_order.h"
#include "window/icd_packet.h"

namespace {

std::mutex g_postLock;  // one reply mailbox writer at a time across the stand-in's threads

uint8_t get(DspIcdPump* p, int reg)
{
    return std::atomic_ref<uint8_t>(p->block.window.reg[reg]).load(std::memory_order_acquire);
}

void put(DspIcdPump* p, int reg, uint8_t v)
{
    std::atomic_ref<uint8_t>(p->block.window.reg[reg]).store(v, std::memory_order_release);
}

bool post_locked(DspIcdPump* p, uint8_t code, const uint8_t* payload, int length)
{
    if (get(p, 0) != 0)
        return false;
    put(p, 1, 0);
    put(p, 2, static_cast<uint8_t>(length));
    put(p, 3, 0);
    for (int i = 0; i < length && i < 16; ++i)
        put(p, 4 + i, payload[i]);
    put(p, 0, code);
    return true;
}

void command_entry(DspContext* context)
{
    DspIcdPump* p = reinterpret_cast<DspIcdPump*>(context);
    const uint8_t code = get(p, 64);
    if (code == 0 || p->neverTake)
        return;
    IcdLogEntry e;
    e.code = code;
    e.length = get(p, 66);
    const int n = e.length > 16 ? 16 : e.length;
    for (int i = 0; i < n; ++i)
        e.payload.push_back(get(p, 68 + i));
    put(p, 64, 0);
    {
        std::lock_guard<std::mutex> g(p->logLock);
        p->log.push_back(e);
    }
    p->notify(p->notifyArg);
    if (p->neverReply)
        return;
    uint8_t reply[16] = {};
    bool posted;
    {
        std::lock_guard<std::mutex> g(g_postLock);
        if (code == IcdQueryVersion) {
            uint8_t v[kIcdVersionLength];
            posted = post_locked(p, IcdVersionReport, v, IcdEncode(IcdVersionPayload{{1, 4, 4, 67}}, v));
        } else if (code == IcdReadTable || code == IcdReadMemory || code == IcdReadMemoryHigh) {
            WriteLe16(reply, static_cast<uint16_t>(p->memoryValue));
            posted = post_locked(p, code == IcdReadTable ? IcdTableParamValue : IcdMemoryValue, reply, 2);
        } else {
            reply[0] = code;
            posted = post_locked(p, IcdAck, reply, 1);
        }
    }
    if (posted)
        p->notify(p->notifyArg);
}

}  // namespace

void DspIcdPumpInit(DspIcdPump* pump, void (*notify)(void*), void* arg)
{
    std::memset(&pump->context, 0, sizeof pump->context);
    std::memset(&pump->block, 0, sizeof pump->block);
    pump->context.interfaceBlock = &pump->block;
    pump->context.commandEntry = command_entry;
    pump->block.commandEntry = command_entry;
    pump->notify = notify;
    pump->notifyArg = arg;
    pump->neverTake = false;
    pump->neverReply = false;
    pump->memoryValue = 0;
    pump->log.clear();
}

bool DspIcdPumpPost(DspIcdPump* pump, uint8_t code, const uint8_t* payload, int length)
{
    bool posted;
    {
        std::lock_guard<std::mutex> g(g_postLock);
        posted = post_locked(pump, code, payload, length);
    }
    if (posted)
        pump->notify(pump->notifyArg);
    return posted;
}

std::vector<IcdLogEntry> DspIcdPumpLog(DspIcdPump* pump)
{
    std::lock_guard<std::mutex> g(pump->logLock);
    return pump->log;
}

void DspIcdPumpBindDevice(DspIcdPump* pump, DspDevice* dev, const DspLinkHooks* hooks)
{
    dsp_device_init(dev, hooks);
    DspIcdPumpInit(pump, [](void* d) { dsp_notify_callback(&static_cast<DspDevice*>(d)->link); }, dev);
    dsp_device_bind(dev, &pump->block, &pump->context);
    dsp_set_port_ready(&dev->link, true);
}

std::vector<uint8_t> IcdWireBytes(const IcdLogEntry& entry)
{
    std::vector<uint8_t> b;
    b.reserve(2 + entry.payload.size());
    b.push_back(entry.code);
    b.push_back(entry.length);
    b.insert(b.end(), entry.payload.begin(), entry.payload.end());
    return b;
}
