#include "support/line_fake_pump.h"

namespace linetest {

FakePump::FakePump(LinePort* port) : port_(port)
{
    KeInitializeEvent(&event_, NotificationEvent, FALSE);
    iface_ = LinePortStart(port, &event_);
    running_ = true;
}

FakePump::~FakePump()
{
    Stop();
}

void FakePump::Stop()
{
    if (running_) {
        LinePortStop(port_);
        running_ = false;
    }
}

void FakePump::Run(int n, const std::function<void(int)>& block)
{
    for (int i = 0; i < n; ++i) {
        KeWaitForSingleObject(&event_, Executive, KernelMode, FALSE, nullptr);
        KeResetEvent(&event_);
        lastEvent_ = static_cast<LONGLONG>(KeQueryInterruptTime());
        block(i);
    }
}

std::vector<int16_t> FakePump::Read(uint16_t length)
{
    std::vector<int16_t> x(length);
    if (iface_->readBlock(iface_->handle, x.data(), 2u * length) == 0)
        x.clear();
    return x;
}

bool FakePump::Write(const std::vector<int16_t>& samples)
{
    std::vector<int16_t> copy = samples;
    return iface_->writeBlock(iface_->handle, copy.data(), static_cast<uint32_t>(2 * copy.size())) != 0;
}

NTSTATUS FakePump::Control(uint32_t code, void* input, void* output, bool second)
{
    return (second ? iface_->secondControl : iface_->control)(iface_->handle, code, input, output);
}

}  // namespace linetest
