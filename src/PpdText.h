// PPD text as a PPD reader sees it: lines cut at LF, CR LF or a lone CR,
// and each line's parts: the main keyword, the option keyword, its
// translation and the value, and whether the line opens or closes a quoted
// value. The check and the defaults edit read PPD text through it. It knows
// nothing of files and prints nothing.
#ifndef PPDTEXT_H
#define PPDTEXT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// The longest line a PPD may hold, its ending left out, and the longest
// keyword.
constexpr std::size_t kPpdLineMax = 255;
constexpr std::size_t kKeywordMax = 40;
// The part of a line that is kept when the line is cut between two pieces
// of text: far more than a valid line holds.
constexpr std::size_t kHeldMax = 4096;

struct Span {
	const char *p;
	std::size_t n;
};

// One line, without its ending: its first held bytes at p, its whole
// length, the double quotes of the part past the held bytes, where it
// starts in the text, and its ending ("" for the text's last line when it
// has none). The bytes from p on that may be read, past the line too, are
// at least held: a scan may read them in blocks.
struct TextLine {
	const char *p;
	std::size_t held;
	std::size_t len;
	std::size_t quotesPast;
	std::int64_t start;
	const char *ending;
	std::size_t avail;
};

// Cuts text, handed over in chunks, into lines. A line that runs on from
// one chunk into the next is held here until it ends.
struct LineCutter {
	const char *p; // the chunk, its offset in the text, and where the next
	std::size_t n; // line starts in it
	std::int64_t base;
	std::size_t at;
	std::size_t bareCr; // where the chunk's next lone CR is, or n
	bool crEnded;       // the last line ended in a CR at the end of a chunk
	char carry[kHeldMax];
	std::size_t carried;
	std::size_t carriedLen;
	std::size_t carriedQuotes;
	std::int64_t carriedStart;
};

void CutterReset(LineCutter *c);
// Hands the cutter the next chunk of text; it must stay put until
// NextLine has taken every line of it.
void CutterFeed(LineCutter *c, const char *p, std::size_t n);
// Takes the next whole line of the chunk: false when the chunk has no more
// (a line that it starts is held for the next chunk).
bool NextLine(LineCutter *c, TextLine *line);
// Passes over n bytes of whole lines that were read without the cutter,
// so that the offsets of the lines after them stay right.
void CutterPass(LineCutter *c, std::size_t n);
// Takes the held line at the end of the text, if there is one.
bool LastLine(LineCutter *c, TextLine *line);
// Whether the cutter holds nothing: no part of a line, no CR pending.
bool CutterClear(const LineCutter *c);

// What a line is, read outside a quoted value.
enum LineKind { kOtherLine, kCommentLine, kKeywordLine };

// The parts of a keyword line "*Keyword Option/Translation: Value".
struct PpdLine {
	LineKind kind;
	Span keyword; // after the '*'
	Span option;  // empty when there is none
	Span translation;
	Span value; // after the colon and its blanks; empty without a colon
	bool colon;
	bool opensQuote; // an odd number of double quotes after the colon
	bool strayBlank; // a blank where the keyword, option or translation should
	                 // meet the colon
};

void ParseLine(const TextLine &line, PpdLine *parsed);
// Whether a keyword line leaves a quoted value open: an odd number of
// double quotes after its first colon, which comes after byte from.
bool OpensQuote(const TextLine &line, std::size_t from);
// A line that a skim of text found: where it starts and its length
// without the ending, and whether its double quotes, all of them and
// those after its first colon, are odd in number.
struct LineSkim {
	std::size_t start;
	std::size_t len;
	bool oddQuotes;
	bool oddAfterColon;
};

// Skims whole lines of text, 64 bytes at a time: the line ends, quotes
// and colons of each window are found at once, as bits, so that a line
// costs a few instructions more than its bytes. It stops at the end of the
// last whole window, or before a line that holds a CR that is no part of
// CR LF.
struct Skimmer {
	const char *p;
	std::size_t n;
	bool crs;         // the text holds a CR
	std::size_t base; // the window's offset
	std::uint64_t lf, quotes, colons;
	unsigned pos;      // where the window is read up to
	std::size_t start; // where the line being read starts
	// The quotes of the line so far, whose parity tells the count's: all of
	// them, and those after its first colon, once it has one.
	std::uint64_t odd, oddAfter;
	bool colon;
	bool stopped;
};
void SkimStart(Skimmer *k, const char *p, std::size_t n);
// Reads the next window of a skim. False when the text at hand holds no
// whole window more, or the window holds a CR that no LF follows.
bool NextWindow(Skimmer *k);
// Where the main keyword of a line "*K..." of len bytes ends, avail bytes
// being readable at p, and whether it holds a dot.
std::size_t MainKeywordEnd(const char *p, std::size_t len, std::size_t avail, bool *dot);
// The bits below to, of 64.
inline std::uint64_t Below(unsigned to)
{
	return to >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << to) - 1;
}

// Takes the quotes and colons of the window's bits from pos up to to for
// the line being read; a colon as the line's first byte opens no value.
inline void TakeQuotes(Skimmer *k, unsigned to)
{
	if (k->pos >= to)
		return;
	std::uint64_t range = Below(to) & ~Below(k->pos);
	std::uint64_t quotes = k->quotes & range;
	// Most lines hold no quote: their colon does not matter either, unless
	// the line goes on into the next window.
	if (!quotes && (k->colon || to < 64))
		return;
	k->odd ^= quotes;
	if (!k->colon) {
		std::uint64_t colons = k->colons & range;
		if (k->start == k->base + k->pos)
			colons &= ~(std::uint64_t{1} << k->pos);
		if (!colons)
			return;
		k->colon = true;
		quotes &= ~Below(static_cast<unsigned>(__builtin_ctzll(colons)) + 1);
	}
	k->oddAfter ^= quotes;
}

// The next line of the skim; false when it stops. Inline, with its helpers:
// the check reads every line through it.
inline bool NextSkimmed(Skimmer *k, LineSkim *line)
{
	while (!k->stopped) {
		std::uint64_t ends = k->pos < 64 ? k->lf & ~Below(k->pos) : 0;
		if (!ends) {
			TakeQuotes(k, 64);
			k->base += 64;
			k->stopped = !NextWindow(k);
			continue;
		}
		unsigned lf = static_cast<unsigned>(__builtin_ctzll(ends));
		TakeQuotes(k, lf);
		std::size_t end = k->base + lf;
		std::size_t len = end - k->start;
		if (len > 0 && k->p[end - 1] == '\r')
			len--;
		// Most lines hold no quote, or two.
		*line = {k->start, len, k->odd && __builtin_parityll(k->odd),
		         k->oddAfter && __builtin_parityll(k->oddAfter)};
		k->start = end + 1;
		k->pos = lf + 1;
		k->odd = k->oddAfter = 0;
		k->colon = false;
		return true;
	}
	return false;
}

// Where the text that the skim did not take starts.
std::size_t SkimmedTo(const Skimmer *k);
// Whether a line inside a quoted value closes it: an odd number of quotes.
bool ClosesQuote(const TextLine &line);
// Whether a keyword holds only the characters that PPD keywords may.
bool KeywordChars(Span keyword);
// Whether a span is, or starts with, a text: a literal, or any string.
template <std::size_t N> bool SpanIs(Span s, const char (&text)[N])
{
	return s.n == N - 1 && memcmp(s.p, text, N - 1) == 0;
}
template <std::size_t N> bool SpanStarts(Span s, const char (&text)[N])
{
	return s.n >= N - 1 && memcmp(s.p, text, N - 1) == 0;
}
bool SpanEquals(Span s, const char *text);

// A hash of two spans, for the tables of keywords and choices; the folded
// hash takes no account of case (of ASCII letters, and of a few signs
// besides, which the exact hash tells apart).
std::uint64_t HashSpans(Span a, Span b);
void HashBoth(Span a, Span b, std::uint64_t *exact, std::uint64_t *folded);

#endif
