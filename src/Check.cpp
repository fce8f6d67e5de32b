// The check of an edit. Each text is read as the printing system reads a
// PPD: lines that a quoted value spans are part of that value; every other
// line is blank, a comment or a keyword line; options open and close in
// groups. The two texts share most of their lines: while they stand alike
// (no part of a line held, the same quoting), a shared line is read once
// for both, and only the options and groups are followed in each. A line
// that only one text holds, or that the texts read differently, is read
// for that text alone, and its own faults (length, characters, keywords)
// are counted there: a shared line's are the same in both texts.
#include "Check.h"

#include "CheckConstraints.h"
#include "CheckFacts.h"

#include <cstdio>
#include <cstring>

namespace {

// The longest quoted value, and translation, that the printing system takes.
constexpr std::size_t kValueMax = 262142;
constexpr std::size_t kTranslationMax = 81;

// What one text has open at the line it has reached.
struct Text {
	LineCutter cut;
	long line;
	bool quoted;
	long quoteLine; // where the quoted value opened
	std::size_t valueLen;
	bool uiOpen;
	bool jcl;
	Option *ui;
	long uiLine;
	bool groupOpen;
	unsigned group;
	long badTranslations; // translations that languages would make faults
	long badLine;
};

Text g_texts[kTexts];
// The old text's cutter reads the shared bytes for both texts.
bool g_joined;
// Where the new text opened a quoted value that the old text does not
// have, which swallows the shared lines after it; 0 for none.
long g_swallowed;

constexpr Span kNone = {"", 0};

unsigned Bit(int t)
{
	return 1u << t;
}

// The line number to note a fault at: the new text's.
long NewLine()
{
	return g_texts[kNew].line;
}

void Fault(unsigned texts, FaultKind kind, Span name = kNone)
{
	NoteFault(texts, kind, NewLine(), name, kNone);
}

Span SpanOf(const char *s)
{
	return {s, strlen(s)};
}

// The option a "*OpenUI *NAME/...: TYPE" line names, without its '*'.
Span UiName(const PpdLine &pl)
{
	Span o = pl.option;
	if (o.n > 0 && o.p[0] == '*')
		o = {o.p + 1, o.n - 1};
	return o;
}

bool IsUiType(Span value)
{
	while (value.n > 0 && (value.p[value.n - 1] == ' ' || value.p[value.n - 1] == '\t'))
		value.n--;
	return SpanIs(value, "PickOne") || SpanIs(value, "PickMany") || SpanIs(value, "Boolean");
}

void OpenUi(int t, const PpdLine &pl, bool jcl)
{
	Text &x = g_texts[t];
	if (x.uiOpen)
		NoteFault(Bit(t), kNestedUI, NewLine(), UiName(pl),
		          x.ui ? SpanOf(OptionName(x.ui)) : kNone);
	if (!IsUiType(pl.value))
		Fault(Bit(t), kBadOpenUI, UiName(pl));
	x.uiOpen = true;
	x.jcl = jcl;
	x.uiLine = x.line;
	x.ui = FindOption(UiName(pl));
	if (x.ui)
		NoteOpen(x.ui, Bit(t), x.line, x.group);
}

void CloseUi(int t, bool jcl)
{
	Text &x = g_texts[t];
	if (!x.uiOpen || x.jcl != jcl)
		Fault(Bit(t), kBadCloseUI);
	x.uiOpen = false;
	x.ui = nullptr;
}

void OpenGroup(int t, const PpdLine &pl)
{
	Text &x = g_texts[t];
	if (x.groupOpen)
		Fault(Bit(t), kNestedGroup);
	x.groupOpen = true;
	x.group++;
	NoteGroup(pl.value, Bit(t), NewLine());
}

// The lines that open and close options and groups, followed in each text.
// False for another keyword.
bool Structure(unsigned texts, const PpdLine &pl)
{
	Span k = pl.keyword;
	bool ui = SpanIs(k, "OpenUI"), jclUi = !ui && SpanIs(k, "JCLOpenUI");
	bool close = SpanIs(k, "CloseUI"), jclClose = !close && SpanIs(k, "JCLCloseUI");
	bool group = SpanIs(k, "OpenGroup"), endGroup = SpanIs(k, "CloseGroup");
	if (!(ui || jclUi || close || jclClose || group || endGroup))
		return false;
	for (int t = kOld; t < kTexts; t++) {
		if (!(texts & Bit(t)))
			continue;
		if (ui || jclUi)
			OpenUi(t, pl, jclUi);
		else if (close || jclClose)
			CloseUi(t, jclClose);
		else if (group)
			OpenGroup(t, pl);
		else
			g_texts[t].groupOpen = false;
	}
	return true;
}

// The texts in which a "*KEYWORD CHOICE" line is a choice: those in which
// the option is open, and every text for the page size and page region,
// whose choices stand anywhere.
unsigned ChoiceTexts(unsigned texts, Span keyword)
{
	if (SpanIs(keyword, "PageSize") || SpanIs(keyword, "PageRegion"))
		return texts;
	unsigned in = 0;
	for (int t = kOld; t < kTexts; t++) {
		const Text &x = g_texts[t];
		if ((texts & Bit(t)) && x.ui && OptionNamed(x.ui, keyword))
			in |= Bit(t);
	}
	return in;
}

// A translation line "*LANGUAGE.KEYWORD CHOICE". touched: one text alone
// holds it, and the choice it translates is checked at the end.
void TranslationLine(unsigned texts, Span k, Span choice, bool touched)
{
	NoteTranslation(k, choice, texts);
	const char *dot = static_cast<const char *>(memchr(k.p, '.', k.n));
	Span of = {dot + 1, k.n - static_cast<std::size_t>(dot + 1 - k.p)};
	if (touched && !SpanIs(of, "Translation"))
		NoteTouched(of, choice, NewLine());
}

// A line "*KEYWORD CHOICE" that is no translation: a choice in the texts
// where it is one, and for the page size keywords an attribute of the size.
void ChoiceLine(unsigned texts, Span k, Span choice, bool touched)
{
	unsigned in = ChoiceTexts(texts, k);
	if (in)
		NoteChoice(k, choice, in, NewLine());
	bool size = (k.p[0] == 'I' && SpanIs(k, "ImageableArea")) ||
	            (k.p[0] == 'P' && SpanIs(k, "PaperDimension"));
	if (size)
		NoteAttribute(k, choice, texts);
	if (touched && (in || size))
		NoteTouched(k, choice, NewLine());
}

// A keyword line that texts hold. touched: one text alone holds it.
void KeywordLine(unsigned texts, const PpdLine &pl, bool touched)
{
	NoteRequired(pl.keyword, texts);
	if (Structure(texts, pl))
		return;
	Span k = pl.keyword;
	if (SpanStarts(k, "Default") && pl.colon)
		NoteDefault({k.p + 7, k.n - 7}, pl.value, texts, NewLine());
	else if (SpanIs(k, "cupsLanguages"))
		NoteLanguages(pl.value, texts);
	else if (SpanIs(k, "LanguageEncoding"))
		NoteEncoding(pl.value, texts);
	else if (SpanIs(k, "UIConstraints") || SpanIs(k, "NonUIConstraints") ||
	         SpanIs(k, "cupsUIConstraints"))
		NoteConstraint(pl.value, texts, NewLine());
	else if (pl.option.n > 0 && memchr(k.p, '.', k.n))
		TranslationLine(texts, k, pl.option, touched);
	else if (pl.option.n > 0)
		ChoiceLine(texts, k, pl.option, touched);
}

// Ends the quoted value that a line of text t spans, when it closes it: the
// entry, from its keyword to the closing quote, must fit in what the
// printing system reads as one.
void QuotedLine(int t, const TextLine &line)
{
	Text &x = g_texts[t];
	if (!ClosesQuote(line)) {
		x.valueLen += line.len + 1;
		return;
	}
	x.quoted = false;
	const void *quote = memrchr(line.p, '"', line.held);
	std::size_t upto =
	        quote ? static_cast<std::size_t>(static_cast<const char *>(quote) - line.p) + 1
	              : line.len;
	if (x.valueLen + upto > kValueMax)
		Fault(Bit(t), kLongValue);
}

void StartQuote(unsigned texts, const TextLine &line)
{
	for (int t = kOld; t < kTexts; t++) {
		if (!(texts & Bit(t)))
			continue;
		g_texts[t].quoted = true;
		g_texts[t].quoteLine = g_texts[t].line;
		g_texts[t].valueLen = line.len + 1;
	}
}

bool HasControl(const TextLine &line)
{
	for (std::size_t i = 0; i < line.held; i++) {
		unsigned char c = static_cast<unsigned char>(line.p[i]);
		if (c < 0x20 && c != '\t')
			return true;
	}
	return false;
}

bool OnlyBlanks(const TextLine &line)
{
	for (std::size_t i = 0; i < line.held; i++)
		if (line.p[i] != ' ' && line.p[i] != '\t')
			return false;
	return true;
}

// Whether text is UTF-8.
bool Utf8(Span s)
{
	for (std::size_t i = 0; i < s.n;) {
		unsigned char c = static_cast<unsigned char>(s.p[i]);
		std::size_t len = c < 0x80         ? 1
		                  : (c >> 5) == 6  ? 2
		                  : (c >> 4) == 14 ? 3
		                  : (c >> 3) == 30 ? 4
		                                   : 0;
		if (len == 0 || i + len > s.n)
			return false;
		for (std::size_t j = 1; j < len; j++)
			if ((static_cast<unsigned char>(s.p[i + j]) >> 6) != 2)
				return false;
		i += len;
	}
	return true;
}

bool Ascii(Span s)
{
	for (std::size_t i = 0; i < s.n; i++)
		if (static_cast<unsigned char>(s.p[i]) >= 0x80)
			return false;
	return true;
}

// Where *cupsLanguages asks for translations, they must be UTF-8, and the
// default ones, on the option and choice lines, plain ASCII. Whether it
// asks is known at the end: the lines that would be faults are counted.
bool BadTranslation(const PpdLine &pl)
{
	if (pl.translation.n == 0)
		return false;
	if (memchr(pl.keyword.p, '.', pl.keyword.n))
		return !Utf8(pl.translation);
	return !Ascii(pl.translation) && pl.option.n > 0;
}

// The faults of a keyword line's own text.
void KeywordFaults(int t, const PpdLine &pl)
{
	if (BadTranslation(pl) && g_texts[t].badTranslations++ == 0)
		g_texts[t].badLine = NewLine();
	Span k = pl.keyword;
	if (k.n == 0 || k.n > kKeywordMax || !KeywordChars(k))
		Fault(Bit(t), kBadKeyword, k);
	if (pl.option.n > kKeywordMax || !KeywordChars(pl.option))
		Fault(Bit(t), kBadOption);
	if (pl.translation.n > kTranslationMax)
		Fault(Bit(t), kLongTranslation);
	if (pl.strayBlank)
		Fault(Bit(t), kBlankBeforeColon);
	if (!pl.colon && !SpanIs(k, "End"))
		Fault(Bit(t), kNoColon, k);
}

// The faults of a line's own text in text t: its length and characters,
// and outside a quoted value its form.
void LineFaults(int t, const TextLine &line, const PpdLine *pl)
{
	if (line.len > kPpdLineMax)
		Fault(Bit(t), kLongLine);
	if (HasControl(line))
		Fault(Bit(t), kControl);
	if (!pl)
		return;
	if (pl->kind == kOtherLine && !OnlyBlanks(line))
		Fault(Bit(t), kNoAsterisk);
	if (pl->kind == kKeywordLine)
		KeywordFaults(t, *pl);
}

// A line of text t alone, or one the texts read differently.
void OwnLine(int t, const TextLine &line)
{
	Text &x = g_texts[t];
	x.line++;
	if (x.line == 1 && !(line.held >= 11 && memcmp(line.p, "*PPD-Adobe:", 11) == 0))
		Fault(Bit(t), kNoHeader);
	if (x.quoted) {
		LineFaults(t, line, nullptr);
		QuotedLine(t, line);
		return;
	}
	PpdLine pl;
	ParseLine(line, &pl);
	LineFaults(t, line, &pl);
	if (pl.kind != kKeywordLine)
		return;
	KeywordLine(Bit(t), pl, true);
	if (pl.opensQuote)
		StartQuote(Bit(t), line);
}

// How a shared line is read, by its keyword: whole, for the lines that
// open or close options and groups, or say a default, the languages or
// the encoding; its value alone, for a constraint; its keyword alone, for
// one that every PPD holds; its keyword and option keyword, for a choice
// or a translation; or not at all.
enum Reading { kPassOver, kWhole, kConstraintValue, kRequiredKeyword, kChoicePair };

Reading ReadingOf(Span k)
{
	switch (k.p[0]) {
	case 'O':
		return SpanIs(k, "OpenUI") || SpanIs(k, "OpenGroup") ? kWhole : kPassOver;
	case 'C':
		return SpanIs(k, "CloseUI") || SpanIs(k, "CloseGroup") ? kWhole : kPassOver;
	case 'J':
		return SpanIs(k, "JCLOpenUI") || SpanIs(k, "JCLCloseUI") ? kWhole : kPassOver;
	case 'D':
		return SpanStarts(k, "Default") ? kWhole : kPassOver;
	case 'c':
		return SpanIs(k, "cupsLanguages")       ? kWhole
		       : SpanIs(k, "cupsUIConstraints") ? kConstraintValue
		                                        : kPassOver;
	case 'L':
		return SpanIs(k, "LanguageEncoding")  ? kWhole
		       : SpanIs(k, "LanguageVersion") ? kRequiredKeyword
		                                      : kPassOver;
	case 'U':
		return SpanIs(k, "UIConstraints") ? kConstraintValue : kPassOver;
	case 'N':
		return SpanIs(k, "NonUIConstraints") ? kConstraintValue
		       : SpanIs(k, "NickName")       ? kRequiredKeyword
		                                     : kPassOver;
	case 'P':
		return SpanIs(k, "PPD-Adobe") || SpanIs(k, "PCFileName") || SpanIs(k, "Product") ||
		                       SpanIs(k, "PSVersion")
		               ? kRequiredKeyword
		               : kPassOver;
	case 'F':
		return SpanIs(k, "FormatVersion") || SpanIs(k, "FileVersion") ? kRequiredKeyword
		                                                              : kPassOver;
	case 'M':
		return SpanIs(k, "Manufacturer") || SpanIs(k, "ModelName") ? kRequiredKeyword
		                                                           : kPassOver;
	case 'S':
		return SpanIs(k, "ShortNickName") ? kRequiredKeyword : kPassOver;
	}
	return kPassOver;
}

bool IsSizeKeyword(Span k)
{
	return SpanIs(k, "PageSize") || SpanIs(k, "PageRegion") || SpanIs(k, "ImageableArea") ||
	       SpanIs(k, "PaperDimension");
}

// How a shared keyword line is read; option: the keyword is followed by
// what may be an option keyword.
Reading ReadingOf(Span k, bool dot, bool option)
{
	if (k.n == 0)
		return kWhole;
	Reading r = ReadingOf(k);
	if (r != kPassOver)
		return r;
	if (option && (dot || IsSizeKeyword(k)))
		return kChoicePair;
	for (const Text &x : g_texts)
		if (option && x.ui && OptionNamed(x.ui, k))
			return kChoicePair;
	return kPassOver;
}

// The option keyword of a line whose keyword ends at end: after blanks, up
// to a blank, a slash or the colon.
Span OptionAfter(const char *p, std::size_t end, std::size_t len)
{
	while (end < len && (p[end] == ' ' || p[end] == '\t'))
		end++;
	std::size_t i = end;
	while (i < len && p[i] != ' ' && p[i] != '\t' && p[i] != ':' && p[i] != '/')
		i++;
	return {p + end, i - end};
}

// The value of a line: after its first colon and the blanks after it.
Span ValueOf(const char *p, std::size_t len)
{
	const void *colon = memchr(p, ':', len);
	std::size_t i =
	        colon ? static_cast<std::size_t>(static_cast<const char *>(colon) - p) + 1 : len;
	while (i < len && (p[i] == ' ' || p[i] == '\t'))
		i++;
	return {p + i, len - i};
}

// A shared keyword line read in part, as r says.
void ReadPart(Reading r, Span k, const char *p, std::size_t end, std::size_t len)
{
	const unsigned both = kInOld | kInNew;
	if (r == kConstraintValue) {
		NoteConstraint(ValueOf(p, len), both, NewLine());
		return;
	}
	// Of the keywords every PPD holds, a choice's is the page size's or
	// page region's.
	if (r == kRequiredKeyword ||
	    (k.p[0] == 'P' && (SpanIs(k, "PageSize") || SpanIs(k, "PageRegion"))))
		NoteRequired(k, both);
	if (r != kChoicePair)
		return;
	Span option = OptionAfter(p, end, len);
	if (option.n == 0 || option.p[0] == '/')
		return;
	if (memchr(k.p, '.', k.n))
		TranslationLine(both, k, option, false);
	else
		ChoiceLine(both, k, option, false);
}

// A line that both texts hold and read alike. Its own faults are the same
// in both, and only what it says is followed.
void SharedLine(const TextLine &line)
{
	g_texts[kOld].line++;
	g_texts[kNew].line++;
	if (g_texts[kOld].quoted) {
		QuotedLine(kOld, line);
		QuotedLine(kNew, line);
		return;
	}
	PpdLine pl;
	ParseLine(line, &pl);
	if (pl.kind != kKeywordLine)
		return;
	KeywordLine(kInOld | kInNew, pl, false);
	if (pl.opensQuote)
		StartQuote(kInOld | kInNew, line);
}

// The first letters of the keywords that ReadingOf reads; translations'
// start with a small letter.
struct Firsts {
	bool read[256];
	constexpr Firsts() : read()
	{
		for (char c : "OCJDcLUNPFMSI")
			read[static_cast<unsigned char>(c)] = true;
		for (int c = 'a'; c <= 'z'; c++)
			read[c] = true;
	}
};
constexpr Firsts kFirsts;

// Whether a keyword line whose keyword starts with c may need more than its
// quotes read: it may be followed, a translation, or a choice of an open
// option.
bool MayRead(char c)
{
	if (kFirsts.read[static_cast<unsigned char>(c)])
		return true;
	for (const Text &x : g_texts)
		if (x.ui && OptionName(x.ui)[0] == c)
			return true;
	return false;
}

// A shared line that the skim has read: most say nothing the check
// follows, and cost no more. avail bytes of text follow p.
void SkimmedLine(const char *p, const LineSkim &s, std::size_t avail)
{
	bool quoted = g_texts[kOld].quoted;
	bool keyword =
	        !quoted && s.len >= 2 && p[0] == '*' && p[1] != '%' && p[1] != ' ' && p[1] != '\t';
	Reading r = kPassOver;
	bool dot = false;
	std::size_t end = 0;
	if (keyword && MayRead(p[1])) {
		end = MainKeywordEnd(p, s.len, avail, &dot);
		r = ReadingOf({p + 1, end - 1}, dot, end < s.len && p[end] != ':');
	}
	TextLine line = {p, s.len, s.len, 0, 0, "", avail};
	if ((quoted && s.oddQuotes) || r == kWhole) {
		SharedLine(line);
		return;
	}
	for (Text &x : g_texts) {
		x.line++;
		if (quoted)
			x.valueLen += s.len + 1;
	}
	if (r != kPassOver)
		ReadPart(r, {p + 1, end - 1}, p, end, s.len);
	if (keyword && s.oddAfterColon)
		StartQuote(kInOld | kInNew, line);
}

// Reads the shared lines of the n bytes at p that a skim can take, and
// returns where the rest starts.
std::size_t SkimShared(const char *p, std::size_t n)
{
	Skimmer k;
	LineSkim s;
	SkimStart(&k, p, n);
	while (NextSkimmed(&k, &s))
		SkimmedLine(p + s.start, s, n - s.start);
	return SkimmedTo(&k);
}

void Feed(int t, const char *p, std::size_t n)
{
	TextLine line;
	CutterFeed(&g_texts[t].cut, p, n);
	while (NextLine(&g_texts[t].cut, &line))
		OwnLine(t, line);
}

// Whether the texts stand alike, so that a shared line reads the same in
// both.
bool Alike()
{
	const Text &a = g_texts[kOld];
	const Text &b = g_texts[kNew];
	return CutterClear(&a.cut) && CutterClear(&b.cut) && a.quoted == b.quoted;
}

// The texts part: the part of a line read for both goes on in each.
void Part()
{
	if (!g_joined)
		return;
	g_joined = false;
	LineCutter &from = g_texts[kOld].cut;
	LineCutter &to = g_texts[kNew].cut;
	to = from;
}

void EndText(int t)
{
	Text &x = g_texts[t];
	TextLine line;
	if (LastLine(&x.cut, &line))
		OwnLine(t, line);
	if (x.uiOpen)
		NoteFault(Bit(t), kUnclosedUI, x.uiLine, x.ui ? SpanOf(OptionName(x.ui)) : kNone,
		          kNone);
	if (x.groupOpen)
		Fault(Bit(t), kUnclosedGroup);
	for (long i = 0; HasLanguages(t) && i < x.badTranslations; i++)
		NoteFault(Bit(t), kBadTranslation, x.badLine, kNone, kNone);
}

} // namespace

void CheckStart()
{
	FactsReset();
	ConstraintsReset();
	for (Text &x : g_texts) {
		CutterReset(&x.cut);
		x.line = 0;
		x.quoted = x.uiOpen = x.jcl = x.groupOpen = false;
		x.valueLen = 0;
		x.ui = nullptr;
		x.group = 0;
		x.badTranslations = x.badLine = 0;
	}
	g_joined = true;
	g_swallowed = 0;
}

void CheckShared(const char *p, std::size_t n)
{
	// Apart, the texts read the shared bytes each, a line at a time, until
	// they stand alike again: after the end of a changed line, or where
	// their quoted values end alike.
	g_joined = g_joined || Alike();
	while (!g_joined && n > 0) {
		const void *lf = memchr(p, '\n', n);
		std::size_t line =
		        lf ? static_cast<std::size_t>(static_cast<const char *>(lf) - p) + 1 : n;
		Feed(kOld, p, line);
		Feed(kNew, p, line);
		p += line;
		n -= line;
		g_joined = Alike();
		// Judged at whole lines only: a line cut by a chunk reads unquoted
		// in the old text until its end arrives.
		const Text &old = g_texts[kOld], &now = g_texts[kNew];
		if (lf && !g_swallowed && now.quoted && !old.quoted)
			g_swallowed = now.quoteLine;
	}
	LineCutter &c = g_texts[kOld].cut;
	std::size_t skimmed = CutterClear(&c) ? SkimShared(p, n) : 0;
	TextLine line;
	CutterFeed(&c, p + skimmed, n - skimmed);
	while (NextLine(&c, &line))
		SharedLine(line);
}

void CheckDropped(const char *p, std::size_t n)
{
	Part();
	Feed(kOld, p, n);
}

void CheckWritten(const char *p, std::size_t n)
{
	Part();
	Feed(kNew, p, n);
}

const char *CheckEnd()
{
	Part();
	EndText(kOld);
	EndText(kNew);
	ConstraintFaults();
	const char *fault = FactsVerdict();
	if (!fault || !g_swallowed)
		return fault;
	// The quote is what the edit did wrong; the fault is what it brings.
	static char said[640];
	snprintf(said, sizeof said,
	         "line %ld: a quoted value that runs on over the lines after it; %s", g_swallowed,
	         fault);
	return said;
}
