// The modem record's life: the library objects, start, the per-sample loop, retrain and renegotiation.
#include "layer1/modem/v32/v32_rx_internal.h"
#include "layer1/vek/core/vek_dispatch.h"

namespace {

LmsState* MakeReal(int32_t taps)
{
    LmsState* s = nullptr;
    return vek_lms_init_real(&s, nullptr, taps, nullptr, 0, 1, 0, 0) == 0 ? s : nullptr;
}

LmsState* MakeComplex(int32_t taps)
{
    LmsState* s = nullptr;
    return vek_lms_init_complex(&s, nullptr, taps, nullptr, 0, 1, 0, 0) == 0 ? s : nullptr;
}

void Status(V32Modem* m, uint8_t value, int set)
{
    if (m->port.status)
        m->port.status(m->port.owner, value, set);
}

void ClearExchange(V32Modem* m)
{
    m->received[0] = m->received[1] = 0;
    m->agreed = 0;
    m->progress = V32_PROGRESS_NONE;
    m->detectFlag = 0;
    m->aaEnded = 0;
    m->delayMeasured = 0;
    m->dataRunning = 0;
    m->renegotiate = 0;
    m->gaveUp = 0;
}

}  // namespace

bool V32Create(V32Modem* m)
{
    if (!m->echo.near)
        m->echo.near = MakeReal(kV32NearEchoTaps);
    if (!m->echo.far)
        m->echo.far = MakeReal(kV32FarEchoTaps);
    if (!m->rx.eq)
        m->rx.eq = MakeComplex(kV32EqualiserTaps);
    return m->echo.near && m->echo.far && m->rx.eq;
}

void V32Destroy(V32Modem* m)
{
    if (m->echo.near)
        vek_lms_free(m->echo.near);
    if (m->echo.far)
        vek_lms_free(m->echo.far);
    if (m->rx.eq)
        vek_lms_free_complex(m->rx.eq);
    m->echo.near = m->echo.far = nullptr;
    m->rx.eq = nullptr;
}

void V32Start(V32Modem* m, const V32Port& port, int32_t startType, int32_t procedureKind, int32_t mode,
              uint16_t capability, int32_t gain, int32_t latency, int32_t originate)
{
    m->echo.latency = latency < 0 ? 0 : (latency > kV32EchoHistory / 2 ? kV32EchoHistory / 2 : latency);
    m->port = port;
    m->startType = startType;
    m->answering = startType == V32_START_ANSWERER || (startType == V32_START_DIRECT && !originate) ? 1 : 0;
    m->procedureKind = procedureKind;
    m->mode = mode;
    m->capability = capability;
    m->rateCode = 0;
    m->retrains = 0;
    ClearExchange(m);
    m->echoDelay = 0;
    if (startType == V32_START_DIRECT) {
        // Each end offers every rate it has (in a start from a connection's rate code that is the one rate),
        // and both agree on the best of those the two words share.
        m->received[0] = m->received[1] = capability;
        m->delayMeasured = 1;
    }
    m->tx.gain = gain;
    V32TxStart(m);
    V32RxStart(m);
    V32EchoReset(&m->echo, 0);
}

void V32Block(V32Modem* m, const int16_t* in, int16_t* out, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        const int16_t sent = V32TxSample(m);
        out[i] = sent;
        // A direct start runs without the echo canceller (its line has none, and both ends train at once).
        if (m->startType == V32_START_DIRECT) {
            V32RxSample(m, in[i]);
            continue;
        }
        const int32_t estimate = V32EchoEstimate(&m->echo, sent);
        const int32_t x = in[i] - estimate;
        V32EchoAdapt(&m->echo, x);
        V32RxSample(m, x);
    }
}

void V32ModemRetrain(V32Modem* m)
{
    Status(m, 3, 1);
    ClearExchange(m);
    m->retrains += 1;
    V32EchoReset(&m->echo, 0);
    const int32_t type = m->startType == V32_START_DIRECT ? (m->answering ? V32_START_ANSWERER : V32_START_CALLER)
                                                         : m->startType;
    const int32_t saved = m->startType;
    m->startType = type;
    V32TxStart(m);
    V32RxStart(m);
    m->startType = saved;
    m->rx.noFallback = 1;
    if (m->answering)
        m->tx.state = 48;
}

bool V32ModemRenegotiate(V32Modem* m)
{
    if (!m->dataRunning || m->tx.state != 9 || m->renegotiate)
        return false;
    m->renegotiate = 1;
    return true;
}

int32_t V32ModemGrade(const V32Modem* m)
{
    if (!m->dataRunning)
        return 1;
    return V32QualityGrade(m->rateCode, m->rx.smoothedError >> 15);
}
