// The telephone line side of modemhost: the line network with one port per modem and what the options
// connect them to (nothing, a raw-sample socket, a file, or an exchange on which each modem has a number).
#pragma once

#include <string>
#include <vector>

#include "host/host_options.h"

struct CountryBlock;
struct Exchange;
struct ExchangeBinding;
struct LineConnection;
struct LineEndpoint;
struct LineNetwork;
struct LinePort;

class HostLine {
public:
    HostLine() = default;
    ~HostLine();
    HostLine(const HostLine&) = delete;
    HostLine& operator=(const HostLine&) = delete;

    // The network and one port per modem, connected as the options say (the exchange comes later, once the
    // first modem has chosen its country). False with a message.
    bool Build(const HostOptions& options, std::string* error);
    LinePort* Port(size_t k) const { return k < ports_.size() ? ports_[k] : nullptr; }
    // --line exchange: an exchange with the tones and ringing of this country block, one line per number
    // on the ports in order.
    bool StartExchange(const CountryBlock& block, const std::vector<std::string>& numbers, std::string* error);
    // After every modem's device stack has been removed.
    void Destroy();

private:
    LineNetwork* network_ = nullptr;
    std::vector<LinePort*> ports_;
    LineEndpoint* endpoint_ = nullptr;
    LineConnection* connection_ = nullptr;
    Exchange* exchange_ = nullptr;
    ExchangeBinding* binding_ = nullptr;
};
