// The 1- to 8-point kernels (see small_kernels.h): one template per size on complex values, run by the
// complex, split and real adaptors. E is the element type, A the arithmetic type (E itself for the SSE
// forms, long double for the x87 forms). The parenthesisation below is the evaluation order.
#include "layer1/vek/fft/small_kernels.h"

#include <cstring>

namespace {

template <class A>
struct Cx {
    A re;
    A im;
};

template <class A>
Cx<A> operator+(Cx<A> a, Cx<A> b)
{
    return {a.re + b.re, a.im + b.im};
}
template <class A>
Cx<A> operator-(Cx<A> a, Cx<A> b)
{
    return {a.re - b.re, a.im - b.im};
}
template <class A>
Cx<A> operator*(Cx<A> a, A f)
{
    return {a.re * f, a.im * f};
}
// a + s*i*b with s = +1 or -1 (the sign of i in the direction at hand).
template <class A>
Cx<A> plus_i(Cx<A> a, Cx<A> b, bool negI)
{
    return negI ? Cx<A>{a.re + b.im, a.im - b.re} : Cx<A>{a.re - b.im, a.im + b.re};
}
template <class A>
Cx<A> minus_i(Cx<A> a, Cx<A> b, bool negI)
{
    return plus_i(a, b, !negI);
}

// A value passed through the element type (the x87 forms' stores and reloads; no effect when A is E).
template <class E, class A>
Cx<A> through(Cx<A> v)
{
    return {A(E(v.re)), A(E(v.im))};
}

// The stored constants, rounded to the element type.
template <class E>
struct K;
template <>
struct K<float> {
    static constexpr float half = -0.5f;
    static constexpr float sin3 = static_cast<float>(-0.86602540378443864676);
    static constexpr float r = static_cast<float>(0.70710678118654752440);
    static constexpr float t = static_cast<float>(1.41421356237309504880);
};
template <>
struct K<double> {
    static constexpr double half = -0.5;
    static constexpr double sin3 = -0.86602540378443864676;
    static constexpr double r = 0.70710678118654752440;
    static constexpr double t = 1.41421356237309504880;
};

// Complex transforms of z[0..N-1] into x[0..N-1]; scaled: the first stage times f.
template <class E, class A, bool Inv, bool Sc>
void complex2(const Cx<A>* z, Cx<A>* x, A f)
{
    x[0] = z[0] + z[1];
    x[1] = z[0] - z[1];
    if (Sc) {
        x[0] = x[0] * f;
        x[1] = x[1] * f;
    }
}

template <class E, class A, bool Inv, bool Sc>
void complex3(const Cx<A>* z, Cx<A>* x, A f)
{
    const A c = K<E>::sin3, h = K<E>::half;
    Cx<A> z0 = z[0], s = z[1] + z[2], d = z[1] - z[2];
    if (Sc) {
        z0 = z0 * f;
        s = s * f;
        d = d * f;
    }
    x[0] = z0 + s;
    const Cx<A> m = s * h + z0;
    const Cx<A> a{m.re - d.im * c, m.im + d.re * c};
    const Cx<A> b{m.re + d.im * c, m.im - d.re * c};
    x[1] = Inv ? b : a;
    x[2] = Inv ? a : b;
}

template <class E, class A, bool Inv, bool Sc>
void complex4(const Cx<A>* z, Cx<A>* x, A f)
{
    Cx<A> a = z[0] + z[2], b = z[0] - z[2], e = z[1] + z[3], d = z[1] - z[3];
    if (Sc) {
        a = a * f;
        b = b * f;
        e = e * f;
        d = d * f;
    }
    x[0] = a + e;
    x[2] = a - e;
    x[1] = minus_i(b, d, Inv);  // b - i*d forward
    x[3] = plus_i(b, d, Inv);
}

template <class E, class A, bool Inv, bool Sc>
void complex8(const Cx<A>* z, Cx<A>* x, A f)
{
    const A r = K<E>::r;
    Cx<A> a[4], b[4];
    for (int n = 0; n < 4; ++n) {
        a[n] = z[n] + z[n + 4];
        b[n] = z[n] - z[n + 4];
        if (Sc) {
            a[n] = a[n] * f;
            b[n] = b[n] * f;
        }
    }
    const Cx<A> s02 = through<E>(a[0] + a[2]), d02 = through<E>(a[0] - a[2]), d13 = through<E>(a[1] - a[3]);
    const Cx<A> s13 = a[1] + a[3];
    x[0] = s02 + s13;
    x[4] = s02 - s13;
    x[2] = minus_i(d02, d13, Inv);
    x[6] = plus_i(d02, d13, Inv);
    const Cx<A> p = through<E>(minus_i(b[0], b[2], Inv)), q = minus_i(b[1], b[3], Inv);
    const Cx<A> pp = through<E>(plus_i(b[0], b[2], Inv)), qq = through<E>(plus_i(b[1], b[3], Inv));
    // q times e^(-i pi/4) and qq times e^(-3i pi/4) forward; the conjugate rotations inverse.
    const Cx<A> w = Inv ? Cx<A>{(q.re - q.im) * r, (q.im + q.re) * r} : Cx<A>{(q.re + q.im) * r, (q.im - q.re) * r};
    const Cx<A> v = Inv ? Cx<A>{(qq.re + qq.im) * -r, (qq.im - qq.re) * -r}
                        : Cx<A>{(qq.re - qq.im) * -r, (qq.im + qq.re) * -r};
    x[1] = p + w;
    x[5] = p - w;
    x[3] = pp + v;
    x[7] = pp - v;
}

template <class E, class A, int N, bool Inv, bool Sc>
void complex_n(const Cx<A>* z, Cx<A>* x, A f)
{
    if constexpr (N == 1) {
        x[0] = Sc ? z[0] * f : z[0];
    } else if constexpr (N == 2) {
        complex2<E, A, Inv, Sc>(z, x, f);
    } else if constexpr (N == 3) {
        complex3<E, A, Inv, Sc>(z, x, f);
    } else if constexpr (N == 4) {
        complex4<E, A, Inv, Sc>(z, x, f);
    } else {
        complex8<E, A, Inv, Sc>(z, x, f);
    }
}

template <class E, class A, int N, bool Inv, bool Sc>
void complex_kernel(const E* src, E* dst, E f)
{
    Cx<A> z[N], x[N];
    for (int n = 0; n < N; ++n) {
        z[n] = {A(src[2 * n]), A(src[2 * n + 1])};
    }
    complex_n<E, A, N, Inv, Sc>(z, x, A(f));
    for (int k = 0; k < N; ++k) {
        dst[2 * k] = E(x[k].re);
        dst[2 * k + 1] = E(x[k].im);
    }
}

template <class E, class A, int N, bool Inv, bool Sc>
void split_kernel(const E* sr, const E* si, E* dr, E* di, E f)
{
    Cx<A> z[N], x[N];
    for (int n = 0; n < N; ++n) {
        z[n] = {A(sr[n]), A(si[n])};
    }
    complex_n<E, A, N, Inv, Sc>(z, x, A(f));
    for (int k = 0; k < N; ++k) {
        dr[k] = E(x[k].re);
        di[k] = E(x[k].im);
    }
}

// Real data, forward: x[0..N-1] to the packed spectrum y[0..N-1].
template <class E, class A, int N, bool Sc>
void real_fwd(const A* x, A* y, A f)
{
    auto sc = [f](A v) { return Sc ? v * f : v; };
    if constexpr (N == 1) {
        y[0] = sc(x[0]);
    } else if constexpr (N == 2) {
        y[0] = sc(x[0] + x[1]);
        y[1] = sc(x[0] - x[1]);
    } else if constexpr (N == 3) {
        const A x0 = sc(x[0]), s = sc(x[1] + x[2]), d = sc(x[1] - x[2]);
        y[0] = x0 + s;
        y[1] = K<E>::half * s + x0;
        y[2] = d * K<E>::sin3;
    } else if constexpr (N == 4) {
        const A a = sc(x[0] + x[2]), e = sc(x[3] + x[1]), b = sc(x[0] - x[2]), g = sc(x[3] - x[1]);
        y[0] = a + e;
        y[1] = a - e;
        y[2] = b;
        y[3] = g;
    } else {
        const A r = K<E>::r;
        A a[4], b[4];
        for (int n = 0; n < 4; ++n) {
            a[n] = sc(x[n] + x[n + 4]);
            b[n] = sc(x[n] - x[n + 4]);
        }
        y[0] = (a[0] + a[2]) + (a[1] + a[3]);
        y[1] = (a[0] + a[2]) - (a[1] + a[3]);
        y[4] = a[0] - a[2];
        y[5] = a[3] - a[1];
        y[2] = b[0] + (b[1] - b[3]) * r;
        y[6] = b[0] - (b[1] - b[3]) * r;
        y[3] = (b[1] + b[3]) * -r - b[2];
        y[7] = b[2] + (b[1] + b[3]) * -r;
    }
}

// Real data, inverse: the packed spectrum p[0..N-1] to y[0..N-1] (unnormalised).
template <class E, class A, int N, bool Sc>
void real_inv(const A* p, A* y, A f)
{
    auto sc = [f](A v) { return Sc ? v * f : v; };
    if constexpr (N <= 2) {
        real_fwd<E, A, N, Sc>(p, y, f);
    } else if constexpr (N == 3) {
        const A r0 = sc(p[0]), pp = sc(p[1] + p[1]), q = sc(p[2] + p[2]);
        y[0] = r0 + pp;
        const A m = K<E>::half * pp + r0;
        y[1] = m + q * K<E>::sin3;
        y[2] = m - q * K<E>::sin3;
    } else if constexpr (N == 4) {
        const A u = sc(p[0] + p[1]), v = sc(p[0] - p[1]), pp = sc(p[2] + p[2]), q = sc(p[3] + p[3]);
        y[0] = u + pp;
        y[1] = v - q;
        y[2] = u - pp;
        y[3] = v + q;
    } else {
        const A t = K<E>::t;
        const A u = sc(p[0] + p[1]), v = sc(p[0] - p[1]), pp = sc(p[4] + p[4]), q = sc(p[5] + p[5]);
        const A a = sc(p[2] + p[6]), b = sc(p[2] - p[6]), c = sc(p[3] + p[7]), d = sc(p[3] - p[7]);
        const A a2 = a + a, d2 = d + d;
        const A e0 = u + pp, e1 = u - pp, o0 = v - q, o1 = A(E(v + q));
        y[0] = e0 + a2;
        y[4] = e0 - a2;
        y[2] = e1 - d2;
        y[6] = e1 + d2;
        y[1] = o0 + (b - c) * t;
        y[5] = o0 - (b - c) * t;
        y[3] = o1 + (b + c) * -t;
        y[7] = o1 - (b + c) * -t;
    }
}

template <class E, class A, int N, bool Inv, bool Sc>
void real_kernel(const E* src, E* dst, E f)
{
    A x[N], y[N];
    for (int n = 0; n < N; ++n) {
        x[n] = A(src[n]);
    }
    if (Inv) {
        real_inv<E, A, N, Sc>(x, y, A(f));
    } else {
        real_fwd<E, A, N, Sc>(x, y, A(f));
    }
    for (int k = 0; k < N; ++k) {
        dst[k] = E(y[k]);
    }
}

}  // namespace

// Arithmetic type of each form.
#define VEK_SMALL_ACC_wd(E) E
#define VEK_SMALL_ACC_ss(E) E
#define VEK_SMALL_ACC_gen(E) long double
#define VEK_SMALL_CALL_c(E, A, N, Inv, Sc, f) complex_kernel<E, A, N, Inv, Sc>(src, dst, f)
#define VEK_SMALL_CALL_r(E, A, N, Inv, Sc, f) real_kernel<E, A, N, Inv, Sc>(src, dst, f)
#define VEK_SMALL_CALL_s(E, A, N, Inv, Sc, f) split_kernel<E, A, N, Inv, Sc>(srcRe, srcIm, dstRe, dstIm, f)

#define VEK_SMALL_DEFINE_S(L, t, E, name, N, Inv, form)                                                           \
    void vek_k_small_##L##t##name##_scaled_##form(VEK_SMALL_ARGS_##L(E), E factor)                                 \
    {                                                                                                              \
        VEK_SMALL_CALL_##L(E, VEK_SMALL_ACC_##form(E), N, Inv, true, factor);                                      \
    }
#define VEK_SMALL_DEFINE_P(L, t, E, name, N, Inv, form)                                                           \
    void vek_k_small_##L##t##name##_##form(VEK_SMALL_ARGS_##L(E))                                                  \
    {                                                                                                              \
        VEK_SMALL_CALL_##L(E, VEK_SMALL_ACC_##form(E), N, Inv, false, E(0));                                       \
    }
VEK_SMALL_32F_ALL(VEK_SMALL_DEFINE_S, VEK_SMALL_DEFINE_P)
VEK_SMALL_64F_ALL(VEK_SMALL_DEFINE_S, VEK_SMALL_DEFINE_P)

// The 1-point unscaled 32f kernels copy the 32-bit words, NaN payloads included.
void vek_k_small_c32f_n1(const float* src, float* dst) { std::memmove(dst, src, 8); }
void vek_k_small_s32f_n1(const float* srcRe, const float* srcIm, float* dstRe, float* dstIm)
{
    std::memmove(dstRe, srcRe, 4);
    std::memmove(dstIm, srcIm, 4);
}
void vek_k_small_r32f_n1(const float* src, float* dst) { std::memmove(dst, src, 4); }

// ---- The tables --------------------------------------------------------------------------------------------
// One group: scaled 1 and 2 points in their forms s1, s2, the larger sizes A and B in form f; unscaled 1 point
// with suffix p1 (empty: the plain copy), 2 points in form p2.
#define VEK_SMALL_GROUP(L, t, d, A, B, s1, s2, p1, p2, f)                                                         \
    {{vek_k_small_##L##t##_n1_scaled_##s1, vek_k_small_##L##t##_n2_scaled_##s2,                                    \
      vek_k_small_##L##t##_##d##_##A##_scaled_##f, vek_k_small_##L##t##_##d##_##B##_scaled_##f},                   \
     {vek_k_small_##L##t##_n1##p1, vek_k_small_##L##t##_n2_##p2, vek_k_small_##L##t##_##d##_##A##_##f,             \
      vek_k_small_##L##t##_##d##_##B##_##f}}
// A table: complex groups with their own 1- and 2-point forms (cs1, cs2, cp2), real scaled 1 point rs1.
#define VEK_SMALL_TABLE(t, A, B, cs1, cs2, cp2, rs1, p1, f)                                                        \
    {VEK_SMALL_GROUP(c, t, fwd, A, B, cs1, cs2, p1, cp2, f), VEK_SMALL_GROUP(c, t, inv, A, B, cs1, cs2, p1, cp2, f), \
     VEK_SMALL_GROUP(s, t, fwd, A, B, f, f, p1, f, f),       VEK_SMALL_GROUP(s, t, inv, A, B, f, f, p1, f, f),       \
     VEK_SMALL_GROUP(r, t, fwd, A, B, rs1, f, p1, f, f),     VEK_SMALL_GROUP(r, t, inv, A, B, rs1, f, p1, f, f)}

const SmallKernelTable<float> vek_fft32f_small_kernels_wd = VEK_SMALL_TABLE(32f, n4, n8, ss, ss, wd, wd, , wd);
const SmallKernelTable<float> vek_fft32f_small_kernels_ss = VEK_SMALL_TABLE(32f, n4, n8, ss, ss, wd, wd, , ss);
const SmallKernelTable<float> vek_fft32f_small_kernels_mm = VEK_SMALL_TABLE(32f, n4, n8, gen, gen, gen, gen, , gen);
const SmallKernelTable<float> vek_fft32f_small_kernels_gen = VEK_SMALL_TABLE(32f, n4, n8, gen, gen, gen, gen, , gen);
const SmallKernelTable<float> vek_dft32f_small_kernels_wd = VEK_SMALL_TABLE(32f, n3, n4, ss, ss, wd, wd, , wd);
const SmallKernelTable<float> vek_dft32f_small_kernels_ss = VEK_SMALL_TABLE(32f, n3, n4, ss, ss, wd, wd, , ss);
const SmallKernelTable<float> vek_dft32f_small_kernels_mm = VEK_SMALL_TABLE(32f, n3, n4, gen, gen, gen, gen, , gen);
const SmallKernelTable<float> vek_dft32f_small_kernels_gen = VEK_SMALL_TABLE(32f, n3, n4, gen, gen, gen, gen, , gen);
const SmallKernelTable<double> vek_fft64f_small_kernels_wd = VEK_SMALL_TABLE(64f, n4, n8, wd, wd, wd, wd, _wd, wd);
const SmallKernelTable<double> vek_fft64f_small_kernels_ss = VEK_SMALL_TABLE(64f, n4, n8, gen, gen, gen, gen, _gen, gen);
const SmallKernelTable<double> vek_fft64f_small_kernels_mm = VEK_SMALL_TABLE(64f, n4, n8, gen, gen, gen, gen, _gen, gen);
const SmallKernelTable<double> vek_fft64f_small_kernels_gen = VEK_SMALL_TABLE(64f, n4, n8, gen, gen, gen, gen, _gen, gen);
