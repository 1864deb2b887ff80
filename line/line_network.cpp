#include "line/line_network.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"

namespace {

constexpr size_t kFrame = kLineFrameSamples;

void ServeIdle(LineEndpoint* e)
{
    int16_t frame[kFrame];
    e->ops->produce(e, frame, kFrame);
    std::memset(frame, 0, sizeof(frame));
    e->ops->consume(e, frame, kFrame);
}

void EndConnection(LineConnection* c, LineEndpoint* culprit)
{
    c->ended = true;
    c->endReason = std::string(culprit->kind) + ": " + culprit->endReason;
    DbgPrint("line: connection %s - %s ended: %s\n", c->a->kind, c->b->kind, c->endReason.c_str());
}

// One frame both ways. Endpoints that must take the network's frame first (the raw-sample socket) get it
// before they give theirs; a hybrid echo is added only where the side's own frame is known in time.
void ServeConnection(LineConnection* c)
{
    int16_t xa[kFrame], xb[kFrame], ya[kFrame], yb[kFrame];
    if (!c->a->consumeFirst && !c->b->consumeFirst) {
        if (!c->a->ops->produce(c->a, xa, kFrame))
            return EndConnection(c, c->a);
        if (!c->b->ops->produce(c->b, xb, kFrame))
            return EndConnection(c, c->b);
        c->aToB.Process(xa, yb, kFrame);
        c->bToA.Process(xb, ya, kFrame);
        c->echoA.Apply(xa, ya, kFrame);
        c->echoB.Apply(xb, yb, kFrame);
        if (!c->a->ops->consume(c->a, ya, kFrame))
            return EndConnection(c, c->a);
        if (!c->b->ops->consume(c->b, yb, kFrame))
            return EndConnection(c, c->b);
    } else {
        const bool aFirst = c->a->consumeFirst && !c->b->consumeFirst;
        LineEndpoint* p = aFirst ? c->b : c->a;  // gives first
        LineEndpoint* s = aFirst ? c->a : c->b;  // takes first
        LineDirection& toS = aFirst ? c->bToA : c->aToB;
        LineDirection& toP = aFirst ? c->aToB : c->bToA;
        LineEcho& echoP = aFirst ? c->echoB : c->echoA;
        if (!p->ops->produce(p, xa, kFrame))
            return EndConnection(c, p);
        toS.Process(xa, yb, kFrame);
        if (!s->ops->consume(s, yb, kFrame))
            return EndConnection(c, s);
        if (!s->ops->produce(s, xb, kFrame))
            return EndConnection(c, s);
        toP.Process(xb, ya, kFrame);
        echoP.Apply(xa, ya, kFrame);
        if (!p->ops->consume(p, ya, kFrame))
            return EndConnection(c, p);
    }
    ++c->frames;
}

LONGLONG PortDue(LinePort* port, bool* started)
{
    KIRQL irql;
    KeAcquireSpinLock(&port->lock, &irql);
    *started = port->started;
    const LONGLONG due = port->nextDue;
    KeReleaseSpinLock(&port->lock, irql);
    return due;
}

void NetworkTick(LineNetwork* net)
{
    std::lock_guard<std::mutex> guard(net->configLock);
    std::vector<LineEndpoint*> served;
    for (auto& c : net->connections) {
        if (!c->ended)
            ServeConnection(c.get());
        // Ports of a connection that has ended hear silence, as do ports with no connection.
        if (!c->ended) {
            served.push_back(c->a);
            served.push_back(c->b);
        }
    }
    for (auto& port : net->ports) {
        bool started;
        PortDue(port.get(), &started);
        if (!started)
            continue;
        if (std::find(served.begin(), served.end(), &port->endpoint) == served.end())
            ServeIdle(&port->endpoint);
    }
    InterlockedIncrement(&net->ticks);
}

std::vector<LinePort*> PortList(LineNetwork* net)
{
    std::vector<LinePort*> ports;
    std::lock_guard<std::mutex> guard(net->configLock);
    for (auto& p : net->ports)
        ports.push_back(p.get());
    return ports;
}

// The earliest of the next network tick and the started ports' next blocks.
LONGLONG NextDue(LineNetwork* net, const std::vector<LinePort*>& ports)
{
    LONGLONG due = net->nextTick;
    for (LinePort* p : ports) {
        bool started;
        const LONGLONG d = PortDue(p, &started);
        if (started)
            due = std::min(due, d);
    }
    return due;
}

// Blocks first: the block a pump wrote reaches the network in this tick.
void ServeDue(LineNetwork* net, const std::vector<LinePort*>& ports, LONGLONG now)
{
    for (LinePort* p : ports) {
        bool started;
        if (PortDue(p, &started) <= now && started)
            LinePortBlockTick(p, now);
    }
    if (net->nextTick <= now) {
        NetworkTick(net);
        net->nextTick += kLineTickPeriod;
    }
}

VOID LineThread(PVOID context)
{
    auto* net = static_cast<LineNetwork*>(context);
    KeSetPriorityThread(KeGetCurrentThread(), LOW_REALTIME_PRIORITY + 12);
    for (;;) {
        const std::vector<LinePort*> ports = PortList(net);
        LARGE_INTEGER timeout;
        timeout.QuadPart = NextDue(net, ports) + net->systemTimeBase;
        KeWaitForSingleObject(&net->wake, Executive, KernelMode, FALSE, &timeout);
        if (InterlockedCompareExchange(&net->stop, 0, 0) != 0)
            break;
        ServeDue(net, ports, static_cast<LONGLONG>(KeQueryInterruptTime()));
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

// The line thread's work as a clock routine: what is due now, then the next time.
void LineRoutine(void* context)
{
    auto* net = static_cast<LineNetwork*>(context);
    ServeDue(net, PortList(net), static_cast<LONGLONG>(KeQueryInterruptTime()));
    net->clock->ScheduleRoutine(net->routine, NextDue(net, PortList(net)));
}

bool HasLockstepEndpoint(LineNetwork* net)
{
    std::lock_guard<std::mutex> guard(net->endpointsLock);
    for (LineEndpoint* e : net->endpoints)
        if (e->consumeFirst)
            return true;
    return false;
}

bool StartThread(LineNetwork* net)
{
    KeInitializeEvent(&net->wake, SynchronizationEvent, FALSE);
    InterlockedExchange(&net->stop, 0);
    HANDLE handle = nullptr;
    NTSTATUS status = PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, LineThread, net);
    if (!NT_SUCCESS(status)) {
        DbgPrint("line: cannot start the line thread (0x%08x)\n", static_cast<unsigned>(status));
        return false;
    }
    PVOID object = nullptr;
    status = ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, nullptr, KernelMode, &object, nullptr);
    ZwClose(handle);
    if (!NT_SUCCESS(status)) {
        InterlockedExchange(&net->stop, 1);
        KeSetEvent(&net->wake, IO_NO_INCREMENT, FALSE);
        DbgPrint("line: cannot reference the line thread (0x%08x)\n", static_cast<unsigned>(status));
        return false;
    }
    net->thread = static_cast<PKTHREAD>(object);
    return true;
}

// Starts serving the network from now: as a clock routine in virtual time without lockstep endpoints, else
// on the line thread.
bool StartService(LineNetwork* net)
{
    LARGE_INTEGER system;
    KeQuerySystemTime(&system);
    const LONGLONG now = static_cast<LONGLONG>(KeQueryInterruptTime());
    net->systemTimeBase = system.QuadPart - now;
    net->nextTick = now;
    platform::Clock* clock = platform::CurrentClock();
    if (clock != nullptr && !HasLockstepEndpoint(net)) {
        net->routine = clock->CreateRoutine(LineRoutine, net, "line");
        if (net->routine != nullptr) {
            net->clock = clock;
            clock->ScheduleRoutine(net->routine, NextDue(net, PortList(net)));
            return true;
        }
    }
    return StartThread(net);
}

void StopRoutine(LineNetwork* net)
{
    if (net->routine == nullptr)
        return;
    net->clock->DeleteRoutine(net->routine);
    net->routine = nullptr;
    net->clock = nullptr;
}

void StopThread(LineNetwork* net)
{
    StopRoutine(net);
    if (net->thread == nullptr)
        return;
    InterlockedExchange(&net->stop, 1);
    {
        // An endpoint waiting for its peer holds the line thread: let it go.
        std::lock_guard<std::mutex> guard(net->endpointsLock);
        for (LineEndpoint* e : net->endpoints)
            e->ops->abort(e);
    }
    KeSetEvent(&net->wake, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(net->thread, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(net->thread);
    net->thread = nullptr;
}

}  // namespace

void LineEndpointEnd(LineEndpoint* endpoint, const std::string& reason)
{
    if (!endpoint->ended) {
        endpoint->ended = true;
        endpoint->endReason = reason;
    }
}

LineNetwork* LineNetworkCreate()
{
    return new LineNetwork();
}

void LineNetworkDestroy(LineNetwork* network)
{
    if (network == nullptr)
        return;
    {
        std::lock_guard<std::mutex> guard(network->threadLock);
        StopThread(network);
    }
    for (auto& port : network->ports)
        LinePortCloseCaptures(port.get());
    delete network;
}

LinePort* LineNetworkAddPort(LineNetwork* network, const LinePortConfig& config)
{
    auto port = std::make_unique<LinePort>();
    LinePortInit(port.get(), network, config);
    std::lock_guard<std::mutex> guard(network->configLock);
    network->ports.push_back(std::move(port));
    return network->ports.back().get();
}

LineConnection* LineConnect(LineNetwork* network, LineEndpoint* a, LineEndpoint* b, const LineConnectionParams& params)
{
    auto c = std::make_unique<LineConnection>();
    c->a = a;
    c->b = b;
    c->aToB.Configure(params.aToB);
    c->bToA.Configure(params.bToA);
    c->echoA.Configure(params.echoA);
    c->echoB.Configure(params.echoB);
    std::unique_lock<std::mutex> guard(network->configLock);
    std::unique_lock<std::mutex> endpoints(network->endpointsLock);
    network->endpoints.push_back(a);
    network->endpoints.push_back(b);
    network->connections.push_back(std::move(c));
    LineConnection* made = network->connections.back().get();
    if (a->consumeFirst || b->consumeFirst) {
        // An endpoint that waits for its peer: the line must be served by its own thread from now on.
        endpoints.unlock();
        guard.unlock();
        std::lock_guard<std::mutex> service(network->threadLock);
        if (network->routine != nullptr) {
            StopRoutine(network);
            if (!StartThread(network))
                network->activePorts = 0;
        }
    }
    return made;
}

void LineDisconnect(LineNetwork* network, LineConnection* connection)
{
    std::lock_guard<std::mutex> guard(network->configLock);
    std::lock_guard<std::mutex> endpoints(network->endpointsLock);
    auto& e = network->endpoints;
    for (LineEndpoint* end : {connection->a, connection->b}) {
        auto it = std::find(e.begin(), e.end(), end);
        if (it != e.end())
            e.erase(it);
    }
    auto& list = network->connections;
    list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& c) { return c.get() == connection; }),
               list.end());
}

bool LineConnectionEnded(LineNetwork* network, LineConnection* connection, std::string* reason)
{
    std::lock_guard<std::mutex> guard(network->configLock);
    if (reason != nullptr)
        *reason = connection->endReason;
    return connection->ended;
}

uint64_t LineNetworkTicks(LineNetwork* network)
{
    return static_cast<uint64_t>(InterlockedCompareExchange(&network->ticks, 0, 0));
}

void LineNetworkPortStarted(LineNetwork* network, LinePort* port)
{
    std::lock_guard<std::mutex> guard(network->threadLock);
    if (network->activePorts++ == 0) {
        if (!StartService(network))
            network->activePorts = 0;
    } else if (network->routine != nullptr) {
        // The port's first block (the routine keeps an earlier time it already has).
        bool started;
        network->clock->ScheduleRoutine(network->routine, PortDue(port, &started));
    } else {
        KeSetEvent(&network->wake, IO_NO_INCREMENT, FALSE);
    }
}

void LineNetworkPortStopping(LineNetwork* network, LinePort*)
{
    std::lock_guard<std::mutex> guard(network->threadLock);
    if (network->activePorts > 0 && --network->activePorts == 0)
        StopThread(network);
}

CM_PARTIAL_RESOURCE_DESCRIPTOR LinePortResource(LinePort* port)
{
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypeMemory;
    d.u.Memory.Start.QuadPart = static_cast<LONGLONG>(reinterpret_cast<uintptr_t>(port));
    d.u.Memory.Length = static_cast<ULONG>(sizeof(LinePort));
    return d;
}
