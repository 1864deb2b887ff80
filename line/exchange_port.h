// The exchange on the line network: each subscriber line is a connection between a card's port and an
// endpoint of the exchange, through the line model of that connection (the subscriber's loop: attenuation,
// noise, codec). The exchange reads the port's hook changes with their times and runs one frame per network
// tick, at the first of its endpoints the tick serves.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "line/exchange.h"
#include "line/line_network.h"

struct ExchangeBinding;

struct ExchangePortLink {
    LineEndpoint endpoint;         // the exchange's side of the connection
    ExchangeBinding* binding = nullptr;
    LinePort* port = nullptr;
    int line = -1;
    uint64_t hookCursor = 0;
    LineConnection* connection = nullptr;
};

struct ExchangeBinding {
    Exchange* exchange = nullptr;
    LineNetwork* network = nullptr;
    std::mutex lock;               // the links and the tick; taken inside the network's configLock
    std::vector<std::unique_ptr<ExchangePortLink>> links;
    uint64_t lastTick = ~0ULL;
};

ExchangeBinding* ExchangeBind(Exchange* exchange, LineNetwork* network);
// Gives the port a line of the exchange with this number; false with a message.
bool ExchangeBindPort(ExchangeBinding* binding, LinePort* port, const std::string& number,
                      const LineConnectionParams& params, std::string* error);
// Removes the connections (the network stays) and frees the binding; the exchange stays with its creator.
void ExchangeUnbind(ExchangeBinding* binding);
