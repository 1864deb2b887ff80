// The V.34 receiver's readings for the diagnostic screens.
#include "layer1/modem/v34/v34_rx_readings.h"

#include <cmath>

#include "layer1/modem/v34/complex_fixed.h"
#include "layer1/modem/v34/v34_pump.h"
#include "layer1/vek/util/root.h"
#include "window/parameter_ids.h"

namespace {

constexpr uint64_t kSnrFactorNum = 8944;     // 10^0.9516: the 9.5 dB the SNR formula takes out
constexpr uint64_t kSnrFactorDen = 1000;
constexpr double kSamplePhase = 1518500249.0;  // the timing phase of one sample
constexpr double kPpmReading = 1518.0;
constexpr double kTurn = 4294967296.0;

uint32_t Root(uint64_t v)
{
    const uint64_t r = vek::root::isqrt(v);
    return static_cast<uint32_t>(r > 0xFFFFFFFFu ? 0xFFFFFFFFu : r);
}

int16_t Held16(double v)
{
    const long r = std::lround(v);
    return static_cast<int16_t>(r > 32767 ? 32767 : (r < -32768 ? -32768 : r));
}

// The phase a loop turns per symbol through its integrator.
double LoopRate(const PhaseLoop& l) { return static_cast<double>(MulQ31(l.integrator, l.output)); }

}  // namespace

void ReadV34Receiver(const V34Pump* p, V34ReceiverReadings* out)
{
    const V34Receiver& rx = p->receiver;
    *out = V34ReceiverReadings{};
    out->error = rx.errorPower;
    out->signal = rx.errorPower != 0 ? Root(uint64_t{rx.signalPower} * kSnrFactorNum / kSnrFactorDen) : 0;
    // The loop turns against the offset it follows.
    out->frequency = Held16(-LoopRate(rx.carrier) * 360.0 / kTurn);
    out->timing = Held16(LoopRate(rx.timing) / (3.0 * kSamplePhase) * 1e6 * kPpmReading);
    if (p->watch.dataMode != 0) {
        const int32_t states = p->rxData.decoder.states;
        const uint16_t trellis = states == 64 ? 2 : states == 32 ? 1 : 0;
        out->options = static_cast<uint16_t>((trellis << kDiagOptionTrellisShift) |
                                             (rx.reencode.nonlinear != 0 ? kDiagOptionNonlinear : 0) |
                                             (p->rxData.demapper.frame.row != 0 ? kDiagOptionExpanded : 0));
    }
}
