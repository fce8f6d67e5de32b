// FindText: a candidate filter on the needle's first and last byte, then a
// memcmp of the bytes between. On x86-64, SSE2 (part of its baseline)
// tests 64 positions per step; elsewhere, and for the last positions, memchr finds
// each first byte. Both give memmem's answer.
#include "FindText.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool MatchAt(const char *at, const char *needle, std::size_t m)
{
	return at[m - 1] == needle[m - 1] && memcmp(at + 1, needle + 1, m - 2) == 0;
}

// Tries every start from hay + i to hay + last with memchr on the first byte.
const char *FindFrom(const char *hay, std::size_t i, std::size_t last, const char *needle,
                     std::size_t m)
{
	while (i <= last) {
		const void *p = memchr(hay + i, needle[0], last - i + 1);
		if (!p)
			return nullptr;
		const char *at = static_cast<const char *>(p);
		if (MatchAt(at, needle, m))
			return at;
		i = static_cast<std::size_t>(at - hay) + 1;
	}
	return nullptr;
}

#if defined(__SSE2__)
// The two needle bytes tested, each in every lane, and the second's offset.
struct Filter {
	__m128i first, last;
	std::size_t lastAt;
};

__m128i Equal(const char *at, __m128i byte)
{
	return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(at)), byte);
}

// The starts i to i + 15 whose two tested bytes match, as a byte mask.
__m128i Candidates(const char *hay, std::size_t i, const Filter &f)
{
	return _mm_and_si128(Equal(hay + i, f.first), Equal(hay + i + f.lastAt, f.last));
}

// Compares the rest of the needle at the starts i to i + 63 set in mask.
const char *Confirm(const char *hay, std::size_t i, std::uint64_t mask, const char *needle,
                    std::size_t m)
{
	for (; mask; mask &= mask - 1) {
		const char *at = hay + i + static_cast<unsigned>(__builtin_ctzll(mask));
		// Most PPD lines start with '*': the second byte rules out most
		// candidates before the call.
		if (at[1] == needle[1] && memcmp(at + 1, needle + 1, m - 2) == 0)
			return at;
	}
	return nullptr;
}

std::uint64_t Bits(__m128i v)
{
	return static_cast<std::uint32_t>(_mm_movemask_epi8(v));
}

// Tests 64 starts per step while all of them are possible starts: the four
// 16-byte masks are joined first, so that a step without a candidate costs
// one branch. Returns the hit or null, and in *next the first start not yet
// tested.
const char *FindVector(const char *hay, std::size_t last, const char *needle, std::size_t m,
                       std::size_t *next)
{
	const Filter f = {_mm_set1_epi8(needle[0]), _mm_set1_epi8(needle[m - 1]), m - 1};
	std::size_t i = 0;
	for (; i + 63 <= last; i += 64) {
		__m128i c0 = Candidates(hay, i, f);
		__m128i c1 = Candidates(hay, i + 16, f);
		__m128i c2 = Candidates(hay, i + 32, f);
		__m128i c3 = Candidates(hay, i + 48, f);
		__m128i any = _mm_or_si128(_mm_or_si128(c0, c1), _mm_or_si128(c2, c3));
		if (_mm_movemask_epi8(any) == 0)
			continue;
		std::uint64_t mask = Bits(c0) | Bits(c1) << 16 | Bits(c2) << 32 | Bits(c3) << 48;
		if (const char *hit = Confirm(hay, i, mask, needle, m))
			return hit;
	}
	*next = i;
	return nullptr;
}
#endif

} // namespace

const char *FindText(const char *hay, std::size_t n, const char *needle, std::size_t m)
{
	if (m == 0)
		return hay;
	if (m > n)
		return nullptr;
	if (m == 1)
		return static_cast<const char *>(memchr(hay, needle[0], n));
	std::size_t last = n - m; // the last possible start
	std::size_t i = 0;
#if defined(__SSE2__)
	if (const char *hit = FindVector(hay, last, needle, m, &i))
		return hit;
#endif
	return FindFrom(hay, i, last, needle, m);
}
