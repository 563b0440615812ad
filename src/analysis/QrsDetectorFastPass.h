// The filter kernels' pass, written once for every instruction set of
// QrsDetectorFastX86.cpp, which includes this file inside each set's
// namespace and under its target pragma, after that set's Vec, W, Zero, Load,
// Store, Madd and Pack. No include guard: it is meant to be included again.

// One pass: G groups of W outputs, walking the loads once and feeding each
// to every group it serves (see the top of QrsDetectorFastX86.cpp).
template <int P, const int32_t (&even)[P][16], const int32_t (&odd)[P][16]>
void Filter(const int16_t* x, int16_t* out, uint32_t m)
{
    constexpr int G = 4, H = W / 2;
    RunPasses<W * G>(x, out, m, [](const int16_t* xs, int16_t* os) {
        Vec e[G], o[G];
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            e[g] = o[g] = Zero();
#pragma GCC unroll 128
        for (int s = 0; s < P + H * (G - 1); ++s) {
            const Vec d = Load(xs + 2 * s);
#pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
                const int i = s - H * g;
                if (i >= 0 && i < P) {
                    e[g] = Madd(e[g], d, even[i]);
                    o[g] = Madd(o[g], d, odd[i]);
                }
            }
        }
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g)
            Store(os + W * g, Pack(e[g], o[g]));
    });
}

inline KernelSet Kernels()
{
    return {Filter<BAND_PAIRS, g_bandEven, g_bandOdd>, Filter<ENV_PAIRS, g_envEven, g_envOdd>};
}
