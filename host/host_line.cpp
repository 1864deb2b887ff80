#include "host/host_line.h"

#include "stack/country_exchange.h"
#include "line/exchange_port.h"
#include "line/line_network.h"

HostLine::~HostLine()
{
    Destroy();
}

bool HostLine::Build(const HostOptions& options, std::string* error)
{
    network_ = LineNetworkCreate();
    const size_t modems = HostModemCount(options);
    for (size_t k = 0; k < modems; ++k) {
        LinePortConfig config;
        config.name = "modem" + std::to_string(k + 1);
        ports_.push_back(LineNetworkAddPort(network_, config));
    }
    if (options.line.rfind("socket:", 0) == 0) {
        endpoint_ = LineSocketEndpointCreate(options.line.substr(7), error);
    } else if (options.line.rfind("file:", 0) == 0) {
        std::string spec = options.line.substr(5);
        std::size_t comma = spec.find(',');
        std::string in = spec.substr(0, comma);
        std::string out = comma == std::string::npos ? std::string() : spec.substr(comma + 1);
        endpoint_ = LineFileEndpointCreate(in, out, error);
    } else {
        return true;  // idle, or the exchange later
    }
    if (endpoint_ == nullptr)
        return false;
    connection_ = LineConnect(network_, &ports_[0]->endpoint, endpoint_, LineConnectionParams());
    return true;
}

bool HostLine::StartExchange(const CountryBlock& block, const std::vector<std::string>& numbers, std::string* error)
{
    exchange_ = ExchangeCreate(country_exchange_signals(block));
    binding_ = ExchangeBind(exchange_, network_);
    for (size_t k = 0; k < numbers.size() && k < ports_.size(); ++k)
        if (!ExchangeBindPort(binding_, ports_[k], numbers[k], LineConnectionParams(), error))
            return false;
    return true;
}

void HostLine::Destroy()
{
    ExchangeUnbind(binding_);
    binding_ = nullptr;
    if (connection_ != nullptr && network_ != nullptr)
        LineDisconnect(network_, connection_);
    connection_ = nullptr;
    if (network_ != nullptr)
        LineNetworkDestroy(network_);
    network_ = nullptr;
    ports_.clear();
    if (endpoint_ != nullptr)
        LineEndpointDestroy(endpoint_);
    endpoint_ = nullptr;
    ExchangeDestroy(exchange_);
    exchange_ = nullptr;
}
