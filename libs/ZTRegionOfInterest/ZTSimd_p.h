#ifndef ZTSIMD_P_H
#define ZTSIMD_P_H

// Runtime choice between the baseline x86-64 code and AVX2 code for the hot loops of a few
// methods. Not installed.
//
// ZTSimd::run() compiles the hot loop that it is given twice: once for the baseline (SSE2), once
// with ZTROI_TARGET_AVX2, which lets the compiler widen the same loops to four doubles. Both
// variants perform the same IEEE operations in the same order: vectorising never reassociates
// without -ffast-math, AVX2 brings no fused multiply-add, and the library is compiled without
// contraction. So the choice changes the speed, never a bit of the result. A build configured
// with ZTROI_AVX2=OFF (as CI's sanitizer build is) keeps to the baseline, so that the tests run
// both variants.

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(ZTROI_NO_AVX2)
#define ZTROI_AVX2_DISPATCH 1
// Compiles a function, and everything that it calls and that can be inlined, for AVX2.
#define ZTROI_TARGET_AVX2 __attribute__((target("avx2"), flatten))
#else
#define ZTROI_AVX2_DISPATCH 0
#define ZTROI_TARGET_AVX2
#endif

namespace ZTSimd {

/** The instruction sets that the hot loops are compiled for. */
enum class Level { Baseline, Avx2 };

/** The best level that this processor runs. */
inline Level available()
{
#if ZTROI_AVX2_DISPATCH
    return __builtin_cpu_supports("avx2") ? Level::Avx2 : Level::Baseline;
#else
    return Level::Baseline;
#endif
}

template<typename Function>
auto runBaseline(const Function& function)
{
    return function();
}

template<typename Function>
ZTROI_TARGET_AVX2 auto runAvx2(const Function& function)
{
    return function();
}

/**
 * Returns @p function(), compiled with everything that it calls and that can be inlined for the
 * best level that this processor runs: ZTSimd::run([&] { return hotLoop(...); }).
 */
template<typename Function>
auto run(const Function& function)
{
    return available() == Level::Avx2 ? runAvx2(function) : runBaseline(function);
}

} // namespace ZTSimd

#endif // ZTSIMD_P_H
