// PPD text, cut into lines and parts as a PPD reader cuts it. Lines end at
// LF, CR LF or a CR alone, as the printing system reads them; the quotes
// that matter are those after a keyword line's colon, and every one of the
// lines that a quoted value runs on into.
#include "PpdText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

#if defined(__SSE2__)
// The bytes of the sixteen at p that equal ch, as bits.
unsigned Bits(__m128i v, char ch)
{
	return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(ch))));
}

__m128i Load(const char *p)
{
	return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}
#endif

// The bits below n, of sixteen.
unsigned Below(std::size_t n)
{
	return n >= 16 ? 0xffffu : (1u << n) - 1;
}

// Whether the bytes [i, n) of p hold an odd number of double quotes,
// reading p in blocks while avail allows: a value holds a few, so they are
// compared sixteen at a time (SSE2 is part of x86-64's baseline) rather
// than found one call each.
bool OddQuotes(const char *p, std::size_t i, std::size_t n, std::size_t avail)
{
	unsigned odd = 0;
#if defined(__SSE2__)
	for (; i < n && i + 16 <= avail; i += 16)
		odd ^= static_cast<unsigned>(
		        __builtin_parity(Bits(Load(p + i), '"') & Below(n - i)));
#else
	(void)avail;
#endif
	for (; i < n; i++)
		odd ^= p[i] == '"';
	return odd;
}

std::size_t CountQuotes(const char *p, std::size_t n)
{
	std::size_t k = 0;
	for (std::size_t i = 0; i < n; i++)
		k += p[i] == '"';
	return k;
}

// The first CR at or after at that no LF follows within the chunk; a CR at
// its very end counts as followed, since the next chunk may start with LF.
std::size_t FindBareCr(const char *p, std::size_t n, std::size_t at)
{
	while (at < n) {
		const void *cr = memchr(p + at, '\r', n - at);
		if (!cr)
			return n;
		at = static_cast<std::size_t>(static_cast<const char *>(cr) - p);
		if (at + 1 < n && p[at + 1] != '\n')
			return at;
		at++;
	}
	return n;
}

// Adds the bytes of a line that runs past the chunk to the held line.
void Hold(LineCutter *c, const char *p, std::size_t n)
{
	if (c->carriedLen == 0)
		c->carriedStart = c->base + static_cast<std::int64_t>(p - c->p);
	std::size_t room = kHeldMax - c->carried;
	std::size_t k = std::min(room, n);
	memcpy(c->carry + c->carried, p, k);
	c->carried += k;
	c->carriedQuotes += CountQuotes(p + k, n - k);
	c->carriedLen += n;
}

// The line held so far, once it ends.
void TakeHeld(LineCutter *c, TextLine *line, const char *ending)
{
	*line = {c->carry,        c->carried, c->carriedLen, c->carriedQuotes,
	         c->carriedStart, ending,     kHeldMax};
	c->carried = c->carriedLen = c->carriedQuotes = 0;
}

constexpr char kLf[] = "\n";
constexpr char kCrLf[] = "\r\n";
constexpr char kCr[] = "\r";

// Where the line from at ends in the chunk, and its ending; n and null
// when it does not end there.
std::size_t LineEnd(LineCutter *c, const char **ending)
{
	std::size_t left = c->n - c->at;
	const void *lf = memchr(c->p + c->at, '\n', left);
	std::size_t end =
	        lf ? static_cast<std::size_t>(static_cast<const char *>(lf) - c->p) : c->n;
	if (c->bareCr < c->at)
		c->bareCr = FindBareCr(c->p, c->n, c->at);
	if (c->bareCr < end) {
		*ending = kCr;
		return c->bareCr;
	}
	*ending = lf ? kLf : nullptr;
	if (lf && end > c->at && c->p[end - 1] == '\r')
		*ending = kCrLf, end--;
	return end;
}

} // namespace

void CutterReset(LineCutter *c)
{
	c->p = nullptr;
	c->base = 0;
	c->n = c->at = c->bareCr = 0;
	c->crEnded = false;
	c->carried = c->carriedLen = c->carriedQuotes = 0;
}

void CutterFeed(LineCutter *c, const char *p, std::size_t n)
{
	c->base += static_cast<std::int64_t>(c->n);
	c->p = p;
	c->n = n;
	c->at = 0;
	// A CR that ended the last chunk and an LF that starts this one are
	// one line ending.
	if (c->crEnded && n > 0 && p[0] == '\n')
		c->at = 1;
	if (n > 0)
		c->crEnded = false;
	c->bareCr = FindBareCr(p, n, c->at);
}

bool NextLine(LineCutter *c, TextLine *line)
{
	if (c->at >= c->n)
		return false;
	const char *ending;
	std::size_t end = LineEnd(c, &ending);
	// A CR as the chunk's last byte may be the first half of CR LF.
	bool crLast = !ending && c->p[c->n - 1] == '\r';
	if (crLast)
		end--, ending = kCr;
	if (!ending) {
		Hold(c, c->p + c->at, end - c->at);
		c->at = c->n;
		return false;
	}
	if (c->carriedLen > 0) {
		Hold(c, c->p + c->at, end - c->at);
		TakeHeld(c, line, ending);
	} else {
		std::size_t len = end - c->at;
		*line = {c->p + c->at,
		         len,
		         len,
		         0,
		         c->base + static_cast<std::int64_t>(c->at),
		         ending,
		         c->n - c->at};
	}
	c->at = end + strlen(ending);
	c->crEnded = crLast;
	return true;
}

void CutterPass(LineCutter *c, std::size_t n)
{
	c->base += static_cast<std::int64_t>(c->n);
	c->p = nullptr;
	c->n = n;
	c->at = n;
	c->bareCr = n;
}

bool LastLine(LineCutter *c, TextLine *line)
{
	if (c->carriedLen == 0)
		return false;
	TakeHeld(c, line, "");
	return true;
}

bool CutterClear(const LineCutter *c)
{
	return c->carriedLen == 0 && !c->crEnded && c->at >= c->n;
}

namespace {

bool Blank(char ch)
{
	return ch == ' ' || ch == '\t';
}

// The bytes that end a main keyword, an option keyword and a translation,
// as bits of a table: a line is read through these runs at every line.
enum { kEndsKeyword = 1, kEndsOption = 2, kEndsTranslation = 4 };
struct Stops {
	unsigned char bits[256];
	constexpr Stops() : bits()
	{
		for (int c : {' ', '\t', ':'})
			bits[c] = kEndsKeyword | kEndsOption;
		bits[static_cast<unsigned char>('/')] = kEndsOption;
		bits[static_cast<unsigned char>(':')] |= kEndsTranslation;
	}
};
constexpr Stops kStops;

// The length of what starts at i and runs to the first byte that stop
// marks, or to n.
std::size_t RunTo(const char *p, std::size_t i, std::size_t n, unsigned stop)
{
	std::size_t j = i;
	while (j < n && !(kStops.bits[static_cast<unsigned char>(p[j])] & stop))
		j++;
	return j - i;
}

std::size_t SkipBlanks(const char *p, std::size_t i, std::size_t n)
{
	while (i < n && Blank(p[i]))
		i++;
	return i;
}

} // namespace

void ParseLine(const TextLine &line, PpdLine *out)
{
	const char *p = line.p;
	std::size_t n = line.held;
	// Empty spans still point somewhere, so that they compare and search
	// like any other.
	constexpr Span none = {"", 0};
	*out = {};
	out->keyword = out->option = out->translation = out->value = none;
	// "*%" starts a comment; so does "* ", which the printing system
	// passes over too.
	if (n == 0 || p[0] != '*') {
		out->kind = kOtherLine;
		return;
	}
	if (n > 1 && (p[1] == '%' || Blank(p[1]))) {
		out->kind = kCommentLine;
		return;
	}
	out->kind = kKeywordLine;
	out->keyword = {p + 1, RunTo(p, 1, n, kEndsKeyword)};
	std::size_t i = 1 + out->keyword.n;
	std::size_t j = SkipBlanks(p, i, n);
	bool option = j > i && j < n && p[j] != ':' && p[j] != '/';
	if (option) {
		out->option = {p + j, RunTo(p, j, n, kEndsOption)};
		i = j + out->option.n;
		j = SkipBlanks(p, i, n);
	}
	out->strayBlank = j > i && j < n && (option || p[j] == ':' || p[j] == '/');
	if (j < n && p[j] == '/') {
		out->translation = {p + j + 1, RunTo(p, j + 1, n, kEndsTranslation)};
		j += 1 + out->translation.n;
	}
	out->opensQuote = OpensQuote(line, 1 + out->keyword.n);
	if (j >= n || p[j] != ':')
		return;
	out->colon = true;
	j = SkipBlanks(p, j + 1, n);
	out->value = {p + j, n - j};
}

std::size_t MainKeywordEnd(const char *p, std::size_t len, std::size_t avail, bool *dot)
{
#if defined(__SSE2__)
	if (avail >= 17) {
		__m128i v = Load(p + 1);
		unsigned limit = len >= 17 ? 0xffffu : (1u << (len - 1)) - 1;
		unsigned stops = (Bits(v, ' ') | Bits(v, '\t') | Bits(v, ':')) & limit;
		unsigned dots = Bits(v, '.') & limit;
		if (stops) {
			unsigned j = static_cast<unsigned>(__builtin_ctz(stops));
			*dot = (dots & ((1u << j) - 1)) != 0;
			return 1 + j;
		}
		if (len <= 17) {
			*dot = dots != 0;
			return len;
		}
	}
#else
	(void)avail;
#endif
	std::size_t i = 1;
	*dot = false;
	for (; i < len && p[i] != ' ' && p[i] != '\t' && p[i] != ':'; i++)
		*dot = *dot || p[i] == '.';
	return i;
}

bool OpensQuote(const TextLine &line, std::size_t from)
{
	const void *colon = memchr(line.p + from, ':', line.held - from);
	if (!colon)
		return false;
	std::size_t at = static_cast<std::size_t>(static_cast<const char *>(colon) - line.p) + 1;
	return OddQuotes(line.p, at, line.held, line.avail) != (line.quotesPast % 2 == 1);
}

namespace {

// The bits of the 64 bytes at p that are LF, '"', ':' and, when asked, CR.
void WindowBits(const char *p, bool crs, std::uint64_t *lf, std::uint64_t *quotes,
                std::uint64_t *colons, std::uint64_t *cr)
{
	*lf = *quotes = *colons = *cr = 0;
	for (unsigned i = 0; i < 64; i += 16) {
#if defined(__SSE2__)
		__m128i v = Load(p + i);
		*lf |= static_cast<std::uint64_t>(Bits(v, '\n')) << i;
		*quotes |= static_cast<std::uint64_t>(Bits(v, '"')) << i;
		*colons |= static_cast<std::uint64_t>(Bits(v, ':')) << i;
		if (crs)
			*cr |= static_cast<std::uint64_t>(Bits(v, '\r')) << i;
#else
		for (unsigned j = i; j < i + 16; j++) {
			*lf |= static_cast<std::uint64_t>(p[j] == '\n') << j;
			*quotes |= static_cast<std::uint64_t>(p[j] == '"') << j;
			*colons |= static_cast<std::uint64_t>(p[j] == ':') << j;
			*cr |= static_cast<std::uint64_t>(crs && p[j] == '\r') << j;
		}
#endif
	}
}

} // namespace

bool NextWindow(Skimmer *k)
{
	if (k->base + 64 > k->n)
		return false;
	std::uint64_t crs;
	WindowBits(k->p + k->base, k->crs, &k->lf, &k->quotes, &k->colons, &crs);
	crs &= ~(k->lf >> 1);
	if ((crs >> 63) && k->base + 64 < k->n && k->p[k->base + 64] == '\n')
		crs &= ~(std::uint64_t{1} << 63);
	k->pos = 0;
	return crs == 0;
}

void SkimStart(Skimmer *k, const char *p, std::size_t n)
{
	*k = {};
	k->p = p;
	k->n = n;
	k->crs = memchr(p, '\r', n) != nullptr;
	k->stopped = !NextWindow(k);
}

std::size_t SkimmedTo(const Skimmer *k)
{
	return k->start;
}

bool ClosesQuote(const TextLine &line)
{
	return OddQuotes(line.p, 0, line.held, line.avail) != (line.quotesPast % 2 == 1);
}

bool KeywordChars(Span keyword)
{
	for (std::size_t i = 0; i < keyword.n; i++) {
		unsigned char ch = static_cast<unsigned char>(keyword.p[i]);
		if (ch < 0x21 || ch > 0x7e || ch == ':' || ch == '/')
			return false;
	}
	return true;
}

bool SpanEquals(Span s, const char *text)
{
	std::size_t n = strlen(text);
	return s.n == n && memcmp(s.p, text, n) == 0;
}

namespace {

std::uint64_t Mix(std::uint64_t h, std::uint64_t word)
{
	h ^= word;
	h *= 0x9e3779b97f4a7c15ULL;
	return h ^ (h >> 29);
}

constexpr std::uint64_t kSeed = 0x243f6a8885a308d3ULL;
// Sets the 0x20 bit of every byte: upper-case ASCII letters become lower.
constexpr std::uint64_t kFold = 0x2020202020202020ULL;

// Hashes s into h, and folded into f when f is given.
void HashInto(std::uint64_t *h, std::uint64_t *f, Span s)
{
	std::size_t i = 0;
	for (; i + 8 <= s.n; i += 8) {
		std::uint64_t w;
		memcpy(&w, s.p + i, 8);
		*h = Mix(*h, w);
		if (f)
			*f = Mix(*f, w | kFold);
	}
	std::uint64_t w = 0;
	if (s.n > i)
		memcpy(&w, s.p + i, s.n - i);
	std::uint64_t len = static_cast<std::uint64_t>(s.n) << 56;
	*h = Mix(*h, w ^ len);
	if (f)
		*f = Mix(*f, (w | kFold) ^ len);
}

} // namespace

std::uint64_t HashSpans(Span a, Span b)
{
	std::uint64_t h = kSeed;
	HashInto(&h, nullptr, a);
	HashInto(&h, nullptr, b);
	return h;
}

void HashBoth(Span a, Span b, std::uint64_t *exact, std::uint64_t *folded)
{
	*exact = *folded = kSeed;
	HashInto(exact, folded, a);
	HashInto(exact, folded, b);
}
