#pragma once

// SSE2 steps that the PNG filters (PngFilter) and their undoing (PngDecoder)
// share, on sixteen unsigned bytes at a time.

#if defined(__SSE2__)
#include <emmintrin.h>

namespace PngSimd {

inline __m128i lessOrEqual(__m128i x, __m128i y)
{
    return _mm_cmpeq_epi8(_mm_min_epu8(x, y), x);
}

inline __m128i select8(__m128i mask, __m128i yes, __m128i no)
{
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

inline __m128i absDifference(__m128i x, __m128i y)
{
    return _mm_or_si128(_mm_subs_epu8(x, y), _mm_subs_epu8(y, x));
}

// The Paeth predictor of left (a), above (b) and above left (c): whichever
// is nearest to a + b - c, ties in that order. pc = |(b - c) + (a - c)| is
// pa + pb when both differences have one sign, where 8 bits may saturate;
// but then pc is at least pa and pb and every comparison comes out the
// same. Otherwise it is |pa - pb|, exact.
inline __m128i paeth8(__m128i a, __m128i b, __m128i c)
{
    const __m128i pa = absDifference(b, c);
    const __m128i pb = absDifference(a, c);
    const __m128i sameSign = _mm_cmpeq_epi8(lessOrEqual(c, b), lessOrEqual(c, a));
    const __m128i pc = select8(sameSign, _mm_adds_epu8(pa, pb), absDifference(pa, pb));
    const __m128i takeA = _mm_and_si128(lessOrEqual(pa, pb), lessOrEqual(pa, pc));
    return select8(takeA, a, select8(lessOrEqual(pb, pc), b, c));
}

// floor((a + b) / 2), the "average" filter's prediction: _mm_avg_epu8
// rounds up, so take back the odd bit.
inline __m128i floorMean(__m128i a, __m128i b)
{
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

// The first and third bytes of each 32-bit word swapped: 0xAARRGGBB words
// (B, G, R, A in memory on x86) to R, G, B, A bytes, and back.
inline __m128i swapRedBlue(__m128i w)
{
    const __m128i keep = _mm_set1_epi32(int(0xff00ff00));
    const __m128i low = _mm_set1_epi32(0xff);
    const __m128i third = _mm_and_si128(_mm_srli_epi32(w, 16), low);
    const __m128i first = _mm_slli_epi32(_mm_and_si128(w, low), 16);
    return _mm_or_si128(_mm_and_si128(w, keep), _mm_or_si128(third, first));
}

} // namespace PngSimd
#endif
