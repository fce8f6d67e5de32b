// FindText: a candidate filter on the needle's first and last byte, then a
// memcmp of the bytes between. On x86-64, SSE2 (part of its baseline) tests
// 16 positions per step; elsewhere, and for the last positions, memchr finds
// each first byte. Both give memmem's answer.
#include "FindText.h"

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
// The starts i to i + 15 whose first and last bytes match, as a bit mask.
unsigned Candidates(const char *hay, std::size_t i, std::size_t m, __m128i first, __m128i last)
{
	__m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(hay + i));
	__m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(hay + i + m - 1));
	__m128i both = _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last));
	return static_cast<unsigned>(_mm_movemask_epi8(both));
}

// Tests 16 starts per step while all of them are possible starts; returns
// the hit or null, and in *next the first start not yet tested.
const char *FindVector(const char *hay, std::size_t last, const char *needle, std::size_t m,
                       std::size_t *next)
{
	const __m128i first = _mm_set1_epi8(needle[0]);
	const __m128i lastByte = _mm_set1_epi8(needle[m - 1]);
	std::size_t i = 0;
	for (; i + 15 <= last; i += 16) {
		for (unsigned mask = Candidates(hay, i, m, first, lastByte); mask;
		     mask &= mask - 1) {
			const char *at = hay + i + static_cast<unsigned>(__builtin_ctz(mask));
			if (memcmp(at + 1, needle + 1, m - 2) == 0)
				return at;
		}
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
