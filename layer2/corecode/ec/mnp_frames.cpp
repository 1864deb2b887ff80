// MNP frame builders and the header check of received frames.
#include <initializer_list>

#include "layer2/corecode/ec/mnp_internal.h"

namespace {

uint16_t put(uint8_t* out, std::initializer_list<uint8_t> octets)
{
    uint16_t n = 0;
    for (uint8_t o : octets)
        out[n++] = o;
    return n;
}

// The header's parameter pairs "PI PL" that precede a one-octet value: 1 1 and 2 1.
bool pair_at(const uint8_t* f, int at, uint8_t pi) { return f[at] == pi && f[at + 1] == 1; }

}  // namespace

uint16_t mnp_build_ld(uint8_t reason, uint8_t user_reason, uint8_t* out)
{
    if (reason == MNP_REASON_USER)
        return put(out, {7, MNP_LD, 1, 1, MNP_REASON_USER, 2, 1, user_reason});
    return put(out, {4, MNP_LD, 1, 1, reason});
}

uint16_t mnp_build_lt_header(bool fixed_field, uint8_t ns, uint8_t* out)
{
    if (fixed_field)
        return put(out, {2, MNP_LT, ns});
    return put(out, {4, MNP_LT, 1, 1, ns});
}

uint16_t mnp_build_la(bool fixed_field, uint8_t nr, uint8_t credit, uint8_t* out)
{
    if (fixed_field)
        return put(out, {3, MNP_LA, nr, credit});
    return put(out, {7, MNP_LA, 1, 1, nr, 2, 1, credit});
}

uint16_t mnp_build_ln(uint8_t seq, uint8_t type, uint8_t* out) { return put(out, {7, MNP_LN, 1, 1, seq, 2, 1, type}); }

uint16_t mnp_build_lna(uint8_t seq, uint8_t* out) { return put(out, {4, MNP_LNA, 1, 1, seq}); }

uint16_t mnp_build_rr(uint8_t ns, uint8_t* out) { return put(out, {4, MNP_RR, 1, 1, ns}); }

// The header length LI must lie inside the frame; each type has its fixed header forms.
bool mnp_parse(const uint8_t* f, uint16_t length, MnpFrameView* v)
{
    *v = MnpFrameView{};
    if (length < 2 || f[0] == 0 || f[0] >= length)
        return false;
    const uint8_t li = f[0];
    v->type = f[1];
    switch (v->type) {
    case MNP_LR: return li >= 2;
    case MNP_LT:
        if (li == 2) {
            v->a = f[2];
        } else if (li == 4 && pair_at(f, 2, 1)) {
            v->a = f[4];
        } else {
            return false;
        }
        v->info = f + li + 1;
        v->info_length = static_cast<uint16_t>(length - li - 1);
        return true;
    case MNP_LA:
        if (li == 3) {
            v->a = f[2];
            v->b = f[3];
            return true;
        }
        if (li == 7 && pair_at(f, 2, 1) && pair_at(f, 5, 2)) {
            v->a = f[4];
            v->b = f[7];
            return true;
        }
        return false;
    case MNP_LD:
        if (li < 4 || !pair_at(f, 2, 1))
            return false;
        v->a = f[4];
        if (v->a == MNP_REASON_USER && li >= 7 && pair_at(f, 5, 2))
            v->b = f[7];
        return true;
    case MNP_LN:
        if (li != 7 || !pair_at(f, 2, 1) || !pair_at(f, 5, 2))
            return false;
        v->a = f[4];
        v->b = f[7];
        return true;
    case MNP_LNA:
    case MNP_RR:
        if (li != 4 || !pair_at(f, 2, 1))
            return false;
        v->a = f[4];
        return true;
    default: return false;
    }
}
