#include "line/exchange_caller_id.h"

#include <algorithm>
#include <cmath>

#include "line/line_model.h"

namespace {

constexpr double kTwoPi = 6.283185307179586476925;
constexpr double kMarkHz = 1300.0;   // V.23 forward channel: 1 (mark)
constexpr double kSpaceHz = 2100.0;  // 0 (space)
constexpr double kBitRate = 1200.0;

// Parameter types of the multiple data message format.
constexpr uint8_t kParamDateTime = 1;
constexpr uint8_t kParamNumber = 2;
constexpr uint8_t kParamNoNumber = 4;
constexpr uint8_t kParamName = 7;
constexpr uint8_t kWithheld = 'P';
constexpr size_t kDateTimeLength = 8;

void AddParameter(std::vector<uint8_t>* m, uint8_t type, const std::string& data)
{
    // The whole message length must stay within its one byte.
    const size_t room = 255 - (m->size() - 2) - 2;
    const size_t n = std::min(data.size(), room);
    m->push_back(type);
    m->push_back(static_cast<uint8_t>(n));
    m->insert(m->end(), data.begin(), data.begin() + static_cast<long>(n));
}

std::string DateTime(const std::string& s)
{
    std::string d = s.substr(0, kDateTimeLength);
    d.resize(kDateTimeLength, '0');
    return d;
}

void Finish(std::vector<uint8_t>* m)
{
    (*m)[1] = static_cast<uint8_t>(m->size() - 2);
    unsigned sum = 0;
    for (uint8_t b : *m)
        sum += b;
    m->push_back(static_cast<uint8_t>(-sum & 0xFF));
}

}  // namespace

std::vector<uint8_t> CallerIdMultipleMessage(const CallerIdFields& f)
{
    std::vector<uint8_t> m{kCallerIdMultiple, 0};
    AddParameter(&m, kParamDateTime, DateTime(f.dateTime));
    if (f.number.empty())
        AddParameter(&m, kParamNoNumber, std::string(1, kWithheld));
    else
        AddParameter(&m, kParamNumber, f.number);
    if (!f.name.empty())
        AddParameter(&m, kParamName, f.name);
    Finish(&m);
    return m;
}

std::vector<uint8_t> CallerIdSingleMessage(const CallerIdFields& f)
{
    std::vector<uint8_t> m{kCallerIdSingle, 0};
    const std::string d = DateTime(f.dateTime);
    m.insert(m.end(), d.begin(), d.end());
    const std::string number = f.number.empty() ? std::string(1, kWithheld) : f.number.substr(0, 245);
    m.insert(m.end(), number.begin(), number.end());
    Finish(&m);
    return m;
}

void CallerIdFskRender(const std::vector<uint8_t>& message, const CallerIdFskOptions& options,
                       std::vector<int16_t>* out)
{
    std::vector<uint8_t> bits;
    for (int i = 0; i < options.seizureBits; ++i)
        bits.push_back(static_cast<uint8_t>(i & 1));
    bits.insert(bits.end(), static_cast<size_t>(std::max(options.markBits, 0)), 1);
    for (uint8_t byte : message) {
        bits.push_back(0);
        for (int k = 0; k < 8; ++k)
            bits.push_back(static_cast<uint8_t>((byte >> k) & 1));
        bits.push_back(1);
    }
    bits.insert(bits.end(), static_cast<size_t>(std::max(options.trailingMarks, 0)), 1);
    const double amplitude = std::sqrt(2.0 * LinePowerOfDbm0(options.levelDbm0));
    // Bit k covers the samples from k × 8000 / 1200 on; the phase runs on across bit edges.
    double phase = 0.0;
    size_t sample = 0;
    for (size_t k = 0; k < bits.size(); ++k) {
        const size_t end = static_cast<size_t>(std::llround(static_cast<double>(k + 1) * kLineRate / kBitRate));
        const double step = kTwoPi * (bits[k] ? kMarkHz : kSpaceHz) / kLineRate;
        for (; sample < end; ++sample) {
            out->push_back(LineSaturate(amplitude * std::sin(phase)));
            phase = std::fmod(phase + step, kTwoPi);
        }
    }
}

void CallerIdToneRender(uint16_t hz, double levelDbm0, const uint16_t* onOffMs, size_t count,
                        std::vector<int16_t>* out)
{
    const double amplitude = std::sqrt(2.0 * LinePowerOfDbm0(levelDbm0));
    for (size_t k = 0; k < count; ++k) {
        const size_t n = static_cast<size_t>(onOffMs[k]) * (kLineRate / 1000);
        for (size_t i = 0; i < n; ++i) {
            const double v = (k % 2 == 0) ? amplitude * std::sin(kTwoPi * hz * static_cast<double>(i) / kLineRate) : 0.0;
            out->push_back(LineSaturate(v));
        }
    }
}

bool CallerIdSenderActive(const CallerIdSender& s)
{
    return s.position < s.samples.size();
}

void CallerIdSenderMix(CallerIdSender* s, int16_t* out, size_t n)
{
    for (size_t i = 0; i < n && s->position < s->samples.size(); ++i)
        out[i] = LineSaturate(static_cast<double>(out[i]) + s->samples[s->position++]);
}
