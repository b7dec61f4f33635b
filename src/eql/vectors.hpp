// What the loop's vector code is built for, chosen once at run time, and the mark of a loop whose
// iterations touch separate places (the compiler then vectorizes it without checking the arrays
// for overlap, which it gives up on past a few arrays). Every variant does the same operations in
// the same order, element by element, so all give the same bits.
#pragma once

namespace sitewave::eql::detail {

enum class vectors { baseline, avx2, avx512 };

inline vectors vector_level() {
#if defined(__x86_64__)
    static const vectors level =
        __builtin_cpu_supports("avx512f")
            ? vectors::avx512
            : (__builtin_cpu_supports("avx2") ? vectors::avx2 : vectors::baseline);
    return level;
#else
    return vectors::baseline;
#endif
}

} // namespace sitewave::eql::detail

#if defined(__clang__)
#define SITEWAVE_INDEPENDENT _Pragma("clang loop vectorize(assume_safety)")
#elif defined(__GNUC__)
#define SITEWAVE_INDEPENDENT _Pragma("GCC ivdep")
#else
#define SITEWAVE_INDEPENDENT
#endif
