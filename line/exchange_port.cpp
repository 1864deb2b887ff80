#include "line/exchange_port.h"

#include <algorithm>
#include <cstring>

namespace {

// Once per network tick: the hook changes the ports saw since the last one, then the exchange's frame.
void Sync(ExchangeBinding* b)
{
    std::lock_guard<std::mutex> hold(b->lock);
    const uint64_t tick = LineNetworkTicks(b->network);
    if (tick == b->lastTick)
        return;
    b->lastTick = tick;
    for (auto& link : b->links) {
        LineHookChange changes[kLineHookChanges];
        const size_t n = LinePortHookChanges(link->port, &link->hookCursor, changes, kLineHookChanges);
        for (size_t k = 0; k < n; ++k)
            ExchangeHook(b->exchange, link->line, changes[k].closed, changes[k].time);
    }
    ExchangeTick(b->exchange, static_cast<LONGLONG>(KeQueryInterruptTime()));
}

bool Produce(LineEndpoint* endpoint, int16_t* samples, size_t n)
{
    auto* link = static_cast<ExchangePortLink*>(endpoint->owner);
    Sync(link->binding);
    int16_t frame[kLineFrameSamples];
    ExchangeGet(link->binding->exchange, link->line, frame);
    const size_t m = std::min(n, kLineFrameSamples);
    std::memcpy(samples, frame, m * sizeof(int16_t));
    std::fill(samples + m, samples + n, 0);
    return true;
}

bool Consume(LineEndpoint* endpoint, const int16_t* samples, size_t n)
{
    auto* link = static_cast<ExchangePortLink*>(endpoint->owner);
    Sync(link->binding);
    int16_t frame[kLineFrameSamples] = {};
    std::memcpy(frame, samples, std::min(n, kLineFrameSamples) * sizeof(int16_t));
    ExchangePut(link->binding->exchange, link->line, frame);
    return true;
}

void Abort(LineEndpoint*) {}
void Close(LineEndpoint*) {}

const LineEndpointOps kExchangeOps = {Produce, Consume, Abort, Close};

}  // namespace

ExchangeBinding* ExchangeBind(Exchange* exchange, LineNetwork* network)
{
    auto* b = new ExchangeBinding();
    b->exchange = exchange;
    b->network = network;
    return b;
}

bool ExchangeBindPort(ExchangeBinding* b, LinePort* port, const std::string& number,
                      const LineConnectionParams& params, std::string* error)
{
    const int line = ExchangeAddLine(b->exchange, number, error);
    if (line < 0)
        return false;
    auto link = std::make_unique<ExchangePortLink>();
    link->endpoint.ops = &kExchangeOps;
    link->endpoint.owner = link.get();
    link->endpoint.kind = "exchange";
    link->binding = b;
    link->port = port;
    link->line = line;
    // The port's hook as it is now, then its changes from here on.
    LineHookChange skip[kLineHookChanges];
    while (LinePortHookChanges(port, &link->hookCursor, skip, kLineHookChanges) != 0) {
    }
    if (LinePortLoopClosed(port))
        ExchangeHook(b->exchange, line, true, static_cast<LONGLONG>(KeQueryInterruptTime()));
    ExchangePortLink* raw = link.get();
    {
        std::lock_guard<std::mutex> hold(b->lock);
        b->links.push_back(std::move(link));
    }
    // Outside the binding's lock: the line thread takes the network's lock before it.
    raw->connection = LineConnect(b->network, &port->endpoint, &raw->endpoint, params);
    return true;
}

void ExchangeUnbind(ExchangeBinding* b)
{
    if (b == nullptr)
        return;
    for (auto& link : b->links)
        if (link->connection != nullptr)
            LineDisconnect(b->network, link->connection);
    delete b;
}
