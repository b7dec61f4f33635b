// What the double-precision loops of the newer analyses (the equivalent-linear loop, the
// smoothing) are built for, chosen once at run time, and the mark of a loop whose iterations touch
// separate places (the compiler then vectorizes it without checking the arrays for overlap, which
// it gives up on past a few arrays). Every variant does the same operations in the same order,
// element by element, so all give the same bits.
#pragma once

namespace sitewave::arith {

enum class vectors { baseline, avx2, avx512 };

// The widest vectors this processor has.
inline vectors widest_vectors() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f")) {
        return vectors::avx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return vectors::avx2;
    }
#endif
    return vectors::baseline;
}

// The vectors in use: the widest, unless a test has chosen narrower ones.
inline vectors& vectors_in_use() {
    static vectors level = widest_vectors();
    return level;
}
inline vectors vector_level() { return vectors_in_use(); }

// For tests, while no loop runs: `want`, or the widest this processor has if narrower. Returns
// the level now in use.
inline vectors use_vectors(vectors want) {
    const vectors widest = widest_vectors();
    vectors_in_use() = static_cast<int>(want) < static_cast<int>(widest) ? want : widest;
    return vectors_in_use();
}

} // namespace sitewave::arith

// Clang checks the arrays for overlap at run time without such a limit, and warns where it was
// asked to vectorize and could not (sanitized builds): it is left to itself.
#if defined(__GNUC__) && !defined(__clang__)
#define SITEWAVE_INDEPENDENT _Pragma("GCC ivdep")
#else
#define SITEWAVE_INDEPENDENT
#endif
