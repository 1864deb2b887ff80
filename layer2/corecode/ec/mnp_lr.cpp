// The link request: the own parameters, building the frame, reading a received one and negotiating it.
//
// The header is LI, the type 1 and one constant octet 2; LI counts every octet after it, so the frame is
// LI + 1 octets long (the parameter octets + 2 in LI).
#include <algorithm>

#include "layer2/corecode/ec/mnp_internal.h"

namespace {

constexpr uint8_t kLrConstant = 2;
constexpr uint8_t kLevel = 1;  // first octet of the constant parameter: the protocol level
constexpr uint8_t kConstantParam[] = {kLevel, 0, 0, 0, 0, 0xFF};
constexpr uint8_t kInfoParam[] = {0x40, 0x00};
constexpr uint16_t kLtMin = 8;
constexpr uint16_t kP1Min = 512;

uint16_t own_max_lt(const MnpSetup& s)
{
    if (s.info_size == 0)
        return MNP_LT_MAX;
    return std::clamp<uint16_t>(s.info_size, kLtMin, MNP_LT_MAX);
}

struct Writer {
    uint8_t* out;
    uint16_t n;
    void param(uint8_t pi, const uint8_t* value, uint8_t length)
    {
        out[n++] = pi;
        out[n++] = length;
        for (uint8_t i = 0; i < length; ++i)
            out[n++] = value[i];
    }
    void param1(uint8_t pi, uint8_t value) { param(pi, &value, 1); }
};

}  // namespace

void mnp_own_values(MnpLink* link)
{
    const MnpSetup& s = link->setup;
    MnpNegotiated& n = link->neg;
    n = MnpNegotiated{};
    n.service_class = s.service_class != 0 ? s.service_class : 2;
    n.window = MNP_WINDOW_MAX;
    n.ack_threshold = (MNP_WINDOW_MAX + 1) / 2;
    n.max_lt = own_max_lt(s);
    n.fixed_field = s.fixed_field != 0;
    n.mnp5 = s.mnp5_request != 0;
    n.c4 = s.c4_option;
}

// An originator sends its own values; an answerer the negotiated ones.
uint16_t mnp_build_lr(const MnpLink* link, uint8_t* out)
{
    const MnpNegotiated& n = link->neg;
    const bool originator = link->request == 0;
    Writer w{out, 3};
    w.param(MNP_PI_CONSTANT, kConstantParam, sizeof kConstantParam);
    w.param1(MNP_PI_CLASS, n.service_class);
    w.param1(MNP_PI_WINDOW, n.window);
    w.param(MNP_PI_INFO, kInfoParam, sizeof kInfoParam);
    uint8_t opt = 0;
    if (n.max_lt > MNP_LT_SMALL)
        opt |= MNP_OPT_LARGE_LT;
    if (n.fixed_field)
        opt |= MNP_OPT_FIXED;
    if (link->setup.alt_framing)
        opt |= MNP_OPT_ALT;
    if (originator)
        opt |= MNP_OPT_ORIGINATOR;
    w.param1(MNP_PI_OPTIMISE, opt);
    if (n.mnp5)
        w.param1(MNP_PI_MNP5, 1);
    if (n.c4)
        w.param1(MNP_PI_C4, n.c4);
    out[0] = static_cast<uint8_t>(w.n - 1);
    out[1] = MNP_LR;
    out[2] = kLrConstant;
    return w.n;
}

// Walks the parameters within LI and the frame; a parameter that runs past them, or a PL the parameter does
// not allow, refuses the request.
uint8_t mnp_take_lr(const uint8_t* f, uint16_t length, MnpOffer* o)
{
    *o = MnpOffer{};
    if (length < 3 || f[0] < 2)
        return MNP_REFUSE_LENGTH;
    const uint16_t end = std::min<uint16_t>(static_cast<uint16_t>(f[0] + 1), length);
    uint16_t i = 3;
    while (i < end) {
        if (i + 2 > end)
            return MNP_REFUSE_LENGTH;
        const uint8_t pi = f[i];
        const uint8_t pl = f[i + 1];
        const uint8_t* v = f + i + 2;
        if (i + 2 + pl > end)
            return MNP_REFUSE_LENGTH;
        switch (pi) {
        case MNP_PI_CONSTANT:
            o->has_constant = 1;
            o->level = pl != 0 ? v[0] : 0;
            break;
        case MNP_PI_CLASS:
        case MNP_PI_WINDOW:
        case MNP_PI_OPTIMISE:
        case MNP_PI_MNP5:
            if (pl != 1)
                return MNP_REFUSE_LENGTH;
            if (pi == MNP_PI_CLASS)
                o->service_class = v[0];
            else if (pi == MNP_PI_WINDOW)
                o->window = v[0];
            else if (pi == MNP_PI_OPTIMISE)
                o->optimise = v[0];
            else
                o->mnp5 = v[0];
            break;
        case MNP_PI_12:
        case MNP_PI_13:
            if (pl != 1 && pl != 2)
                return MNP_REFUSE_LENGTH;
            break;
        case MNP_PI_V42BIS:
            if (pl != 4)
                return MNP_REFUSE_LENGTH;
            o->v42bis = 1;
            o->p0 = v[0];
            o->p1 = static_cast<uint16_t>(v[1] | (v[2] << 8));
            o->p2 = v[3];
            if (o->p1 < kP1Min)
                return MNP_REFUSE_P1;
            break;
        case MNP_PI_C4:
            if (pl >= 1)
                o->c4 = v[0];
            break;
        default: break;
        }
        i = static_cast<uint16_t>(i + 2 + pl);
    }
    return 0;
}

uint8_t mnp_negotiate(MnpLink* link, const MnpOffer* o, bool originator)
{
    if (!o->has_constant)
        return MNP_REFUSE_NO_PI1;
    const uint8_t own_class = link->setup.service_class != 0 ? link->setup.service_class : 2;
    const uint8_t peer_class = o->service_class != 0 ? o->service_class : 1;
    if (originator && o->level > kLevel)
        return MNP_REFUSE_LEVEL;
    // The answer may not ask more than the request offered.
    if (originator && own_class < peer_class)
        return MNP_REFUSE_CLASS;
    MnpNegotiated& n = link->neg;
    n.service_class = std::min(own_class, peer_class);
    n.window = std::clamp<uint8_t>(o->window, 1, MNP_WINDOW_MAX);
    n.ack_threshold = static_cast<uint8_t>((n.window + 1) / 2);
    n.max_lt = own_max_lt(link->setup);
    if ((o->optimise & MNP_OPT_LARGE_LT) == 0)
        n.max_lt = std::min<uint16_t>(n.max_lt, MNP_LT_SMALL);
    n.fixed_field = link->setup.fixed_field != 0 && (o->optimise & MNP_OPT_FIXED) != 0;
    n.mnp5 = link->setup.mnp5_request != 0 && (o->mnp5 & 1) != 0;
    n.c4 = o->c4 != 0 ? link->setup.c4_option : 0;
    n.v42bis = o->v42bis;
    n.p0 = o->p0;
    n.p1 = o->p1;
    n.p2 = o->p2;
    return 0;
}
