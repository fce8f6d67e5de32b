// The check's tables: the options of both texts, every choice they offer
// and every translation, the page sizes, the keywords every PPD holds, and
// the faults found. Entries belong to one edit: a table is emptied by
// moving on to the next generation, not by clearing it, so that a small
// file costs no more than its own lines.
#include "CheckFacts.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kPairSlots = std::size_t{1} << 16;
constexpr std::size_t kOptionSlots = 1024;
constexpr std::size_t kFaultSlots = 1024;
// A table holds at most this share of its slots (in eighths).
constexpr std::size_t kFill = 6;
// The choices of the lines that one text alone holds, checked for their
// translations and, for a page size, its other keywords.
constexpr std::size_t kTouchedMax = 256;
constexpr std::size_t kLanguagesMax = 32;
// A name as long as any keyword, and its terminator; a default value may
// be longer, and is cut.
constexpr std::size_t kNameSize = kKeywordMax + 1;

// A pair "KEYWORD NAME": a choice of an option, an attribute such as a page
// size's imageable area, or a translation. Found by its folded key, so
// that names that differ only in case meet; the exact key tells them apart.
struct Pair {
	std::uint64_t key;
	std::uint64_t exact;
	std::uint32_t gen;
	unsigned char texts;
};

} // namespace

struct Option {
	std::uint64_t key;
	std::uint32_t gen;
	char name[kNameSize];
	std::size_t nameLen;
	int opens[kTexts];
	long openLine[kTexts];
	unsigned group[kTexts];
	bool hasDefault[kTexts];
	char value[kTexts][kNameSize];
	std::uint64_t valueKey[kTexts]; // the exact key of "NAME VALUE"
	long defaultLine[kTexts];
	bool touched; // a line of one text alone offers a choice of it
};

namespace {

struct Fault {
	std::uint64_t key;
	std::uint32_t gen;
	FaultKind kind;
	long count[kTexts];
	long line; // where the new text first shows it on a line of its own
	char name[2 * kNameSize];
	char more[2 * kNameSize];
};

struct Touched {
	char option[kNameSize];
	char choice[kNameSize];
	long line;
};

struct Languages {
	char list[kLanguagesMax][kNameSize];
	std::size_t count;
};

std::uint32_t g_gen;
Pair g_pairs[kPairSlots];
std::size_t g_pairCount;
Option g_options[kOptionSlots];
std::size_t g_optionUsed[kOptionSlots];
std::size_t g_optionCount;
Fault g_faults[kFaultSlots];
std::size_t g_faultUsed[kFaultSlots];
std::size_t g_faultCount;
Touched g_touched[kTouchedMax];
std::size_t g_touchedCount;
// Per text: whether *cupsLanguages names a language, and whether the
// *LanguageEncoding is the one that translations need.
bool g_latin1[kTexts];
Languages g_languages[kTexts];
// The keywords every PPD holds, and how many lines of each text hold them.
const char *const kRequiredKeywords[] = {"PPD-Adobe",
                                         "FormatVersion",
                                         "FileVersion",
                                         "LanguageVersion",
                                         "LanguageEncoding",
                                         "PCFileName",
                                         "Manufacturer",
                                         "Product",
                                         "PSVersion",
                                         "ModelName",
                                         "NickName",
                                         "ShortNickName",
                                         "PageSize",
                                         "PageRegion",
                                         "DefaultImageableArea",
                                         "DefaultPaperDimension"};
constexpr std::size_t kRequiredCount = sizeof kRequiredKeywords / sizeof kRequiredKeywords[0];
long g_required[kTexts][kRequiredCount];
// Too many entries for a table: the verdict can not be trusted.
bool g_overflow;
// A line of one text alone is a translation, or names a page size's
// keyword: the faults they bear on may differ between the texts.
bool g_translationsTouched;
bool g_sizesTouched;

void CopyName(char *to, std::size_t size, Span s)
{
	std::size_t n = s.n < size ? s.n : size - 1;
	if (n > 0)
		memcpy(to, s.p, n);
	to[n] = '\0';
}

Span SpanOf(const char *s)
{
	return {s, strlen(s)};
}

// The slot of key in a table of slots entries: the one that holds it, or
// the free one where it goes.
template <typename Entry> std::size_t Slot(Entry *table, std::size_t slots, std::uint64_t key)
{
	std::size_t i = static_cast<std::size_t>(key) & (slots - 1);
	while (table[i].gen == g_gen && table[i].key != key)
		i = (i + 1) & (slots - 1);
	return i;
}

// Whether a table may take one more entry; notes an overflow when not.
bool Room(std::size_t count, std::size_t slots)
{
	if (count < slots / 8 * kFill)
		return true;
	g_overflow = true;
	return false;
}

// Whether faults of a kind are told apart by what they name. A fault of a
// line's own form, or of the options' and groups' nesting, is one fault
// whatever line shows it: a file whose old text has one is not blamed for
// an edited line that has it too.
bool Named(FaultKind kind)
{
	return kind >= kNoDefault && kind != kBadTranslation && kind != kNoHeader;
}

Fault *FindFault(FaultKind kind, Span name, Span more)
{
	Span none = {"", 0};
	std::uint64_t key = HashSpans(Named(kind) ? name : none, Named(kind) ? more : none) ^
	                    (static_cast<std::uint64_t>(kind) << 58);
	std::size_t i = Slot(g_faults, kFaultSlots, key);
	Fault &f = g_faults[i];
	if (f.gen == g_gen)
		return &f;
	if (!Room(g_faultCount, kFaultSlots))
		return nullptr;
	f = {};
	f.key = key;
	f.gen = g_gen;
	f.kind = kind;
	f.line = -1;
	CopyName(f.name, sizeof f.name, name);
	CopyName(f.more, sizeof f.more, more);
	g_faultUsed[g_faultCount++] = i;
	return &f;
}

// Adds texts to the pair "keyword choice". Returns the texts that held it
// already, and in *cased those that held it with another case.
unsigned AddPair(Span keyword, Span choice, unsigned texts, unsigned *cased)
{
	std::uint64_t exact, folded;
	HashBoth(keyword, choice, &exact, &folded);
	*cased = 0;
	Pair &p = g_pairs[Slot(g_pairs, kPairSlots, folded)];
	if (p.gen != g_gen) {
		if (!Room(g_pairCount, kPairSlots))
			return 0;
		p = {folded, exact, g_gen, 0};
		g_pairCount++;
	}
	unsigned had = p.texts & texts;
	p.texts = static_cast<unsigned char>(p.texts | texts);
	if (p.exact == exact)
		return had;
	*cased = had;
	return 0;
}

// The texts that hold the pair "keyword choice": spelt alike, or in any
// case.
unsigned PairTexts(Span keyword, Span choice, bool anyCase)
{
	std::uint64_t exact, folded;
	HashBoth(keyword, choice, &exact, &folded);
	const Pair &p = g_pairs[Slot(g_pairs, kPairSlots, folded)];
	return p.gen == g_gen && (anyCase || p.exact == exact) ? p.texts : 0;
}

} // namespace

Span DefaultValue(Span v)
{
	while (v.n > 0 && (v.p[v.n - 1] == ' ' || v.p[v.n - 1] == '\t'))
		v.n--;
	if (v.n >= 2 && v.p[0] == '"' && v.p[v.n - 1] == '"')
		v = {v.p + 1, v.n - 2};
	const void *slash = v.n > 0 ? memchr(v.p, '/', v.n) : nullptr;
	if (slash)
		v.n = static_cast<std::size_t>(static_cast<const char *>(slash) - v.p);
	return v;
}

namespace {

std::uint64_t OptionKey(Span name)
{
	return HashSpans({"*option", 7}, name);
}

// Whether an option's default differs between the texts.
bool DefaultDiffers(const Option &o)
{
	return (o.opens[kOld] > 0) != (o.opens[kNew] > 0) ||
	       o.hasDefault[kOld] != o.hasDefault[kNew] || o.valueKey[kOld] != o.valueKey[kNew];
}

} // namespace

void FactsReset()
{
	g_gen++;
	g_pairCount = g_optionCount = g_faultCount = g_touchedCount = 0;
	g_latin1[kOld] = g_latin1[kNew] = true;
	g_languages[kOld].count = g_languages[kNew].count = 0;
	memset(g_required, 0, sizeof g_required);
	g_overflow = g_translationsTouched = g_sizesTouched = false;
}

void NoteFault(unsigned texts, FaultKind kind, long line, Span name, Span more)
{
	Fault *f = FindFault(kind, name, more);
	if (!f)
		return;
	for (int t = kOld; t < kTexts; t++)
		if (texts & (1u << t))
			f->count[t]++;
	if (texts != kInNew || f->line >= 0)
		return;
	f->line = line;
	CopyName(f->name, sizeof f->name, name);
	CopyName(f->more, sizeof f->more, more);
}

Option *FindOption(Span name)
{
	std::uint64_t key = OptionKey(name);
	std::size_t i = Slot(g_options, kOptionSlots, key);
	Option &o = g_options[i];
	if (o.gen == g_gen)
		return &o;
	if (!Room(g_optionCount, kOptionSlots))
		return nullptr;
	o = {};
	o.key = key;
	o.gen = g_gen;
	CopyName(o.name, sizeof o.name, name);
	o.nameLen = strlen(o.name);
	g_optionUsed[g_optionCount++] = i;
	return &o;
}

const char *OptionName(const Option *o)
{
	return o->name;
}

const Option *LookupOption(Span name)
{
	const Option &o = g_options[Slot(g_options, kOptionSlots, OptionKey(name))];
	return o.gen == g_gen ? &o : nullptr;
}

const char *OptionDefault(const Option *o, int t)
{
	return o->opens[t] > 0 && o->hasDefault[t] ? o->value[t] : nullptr;
}

std::size_t DifferingOptions(const Option **list, std::size_t most)
{
	std::size_t n = 0;
	for (std::size_t i = 0; i < g_optionCount; i++) {
		const Option &o = g_options[g_optionUsed[i]];
		if (DefaultDiffers(o) && n == most)
			g_overflow = true;
		else if (DefaultDiffers(o))
			list[n++] = &o;
	}
	return n;
}

void NoteOverflow()
{
	g_overflow = true;
}

bool OptionNamed(const Option *o, Span name)
{
	return name.n == o->nameLen && memcmp(name.p, o->name, name.n) == 0;
}

void NoteOpen(Option *o, unsigned texts, long line, unsigned group)
{
	for (int t = kOld; t < kTexts; t++) {
		if (!(texts & (1u << t)))
			continue;
		if (o->opens[t] > 0 && o->group[t] != group)
			NoteFault(1u << t, kOptionTwice, line, SpanOf(o->name), {"", 0});
		if (o->opens[t]++ > 0)
			continue;
		o->openLine[t] = line;
		o->group[t] = group;
		// Another option whose name differs only in case.
		unsigned cased;
		AddPair(SpanOf("*OpenUI"), SpanOf(o->name), 1u << t, &cased);
		if (cased)
			NoteFault(cased, kCaseTwice, line, SpanOf(o->name), {"", 0});
	}
}

void NoteDefault(Span name, Span value, unsigned texts, long line)
{
	Option *o = FindOption(name);
	if (!o)
		return;
	Span v = DefaultValue(value);
	for (int t = kOld; t < kTexts; t++) {
		if (!(texts & (1u << t)))
			continue;
		o->hasDefault[t] = true;
		CopyName(o->value[t], sizeof o->value[t], v);
		o->valueKey[t] = HashSpans(name, v);
		o->defaultLine[t] = line;
	}
}

void NoteTouched(Span keyword, Span choice, long line)
{
	// Texts that read hundreds of lines apart differ in faults beyond these.
	if (g_touchedCount == kTouchedMax)
		return;
	Touched &w = g_touched[g_touchedCount++];
	CopyName(w.option, sizeof w.option, keyword);
	CopyName(w.choice, sizeof w.choice, choice);
	w.line = line;
}

// Notes that a line of one text alone names keyword and choice.
void Touch(Span keyword, unsigned texts)
{
	if (texts == (kInOld | kInNew))
		return;
	if (SpanIs(keyword, "PageSize") || SpanIs(keyword, "PageRegion") ||
	    SpanIs(keyword, "ImageableArea") || SpanIs(keyword, "PaperDimension"))
		g_sizesTouched = true;
	Option *o = FindOption(keyword);
	if (o)
		o->touched = true;
}

void NoteChoice(Span keyword, Span choice, unsigned texts, long line)
{
	if (texts != (kInOld | kInNew))
		Touch(keyword, texts);
	// Choices that differ only in case are one choice twice too.
	unsigned cased;
	unsigned had = AddPair(keyword, choice, texts, &cased) | cased;
	if (had)
		NoteFault(had, kTwiceChoice, line, keyword, choice);
}

void NoteAttribute(Span keyword, Span choice, unsigned texts)
{
	Touch(keyword, texts);
	unsigned cased;
	AddPair(keyword, choice, texts, &cased);
}

void NoteTranslation(Span keyword, Span choice, unsigned texts)
{
	g_translationsTouched = g_translationsTouched || texts != (kInOld | kInNew);
	unsigned cased;
	AddPair(keyword, choice, texts, &cased);
}

void NoteEncoding(Span value, unsigned texts)
{
	bool latin1 = SpanIs(DefaultValue(value), "ISOLatin1");
	for (int t = kOld; t < kTexts; t++)
		if (texts & (1u << t))
			g_latin1[t] = latin1;
}

bool HasLanguages(int t)
{
	return g_languages[t].count > 0;
}

void NoteGroup(Span name, unsigned texts, long line)
{
	const void *slash = memchr(name.p, '/', name.n);
	if (slash)
		name.n = static_cast<std::size_t>(static_cast<const char *>(slash) - name.p);
	unsigned cased;
	AddPair(SpanOf("*OpenGroup"), name, texts, &cased);
	if (cased)
		NoteFault(cased, kCaseTwice, line, name, {"", 0});
}

void NoteLanguages(Span value, unsigned texts)
{
	Span v = DefaultValue(value);
	for (int t = kOld; t < kTexts; t++) {
		if (!(texts & (1u << t)))
			continue;
		Languages &l = g_languages[t];
		l.count = 0;
		for (std::size_t i = 0; i < v.n && l.count < kLanguagesMax;) {
			std::size_t j = i;
			while (j < v.n && v.p[j] != ' ')
				j++;
			if (j > i)
				CopyName(l.list[l.count++], kNameSize, {v.p + i, j - i});
			i = j + 1;
		}
	}
}

void NoteRequired(Span keyword, unsigned texts)
{
	if (keyword.n < 7 || keyword.n > 21)
		return;
	for (std::size_t i = 0; i < kRequiredCount; i++) {
		const char *k = kRequiredKeywords[i];
		if (keyword.p[0] != k[0] || keyword.p[1] != k[1] || !SpanEquals(keyword, k))
			continue;
		for (int t = kOld; t < kTexts; t++)
			if (texts & (1u << t))
				g_required[t][i]++;
		return;
	}
}

namespace {

bool IsUnknown(const char *value)
{
	return strcmp(value, "Unknown") == 0;
}

// Whether text t lacks a language's translation of keyword "LANGUAGE.of"
// for choice.
bool Untranslated(int t, const char *language, const char *of, Span choice)
{
	char keyword[2 * kNameSize + 1];
	int n = snprintf(keyword, sizeof keyword, "%s.%s", language, of);
	Span k = {keyword, static_cast<std::size_t>(n)};
	return !(PairTexts(k, choice, true) & (1u << t));
}

// The languages of text t that translations must be given for: all it
// names but English, in which the PPD is written.
bool Translated(const char *language)
{
	return strcmp(language, "en") != 0;
}

// The translations that text t lacks for an option it opens. The page
// region needs none: it is the page size's.
void OptionTranslations(const Option &o, int t)
{
	const Languages &l = g_languages[t];
	if (strcmp(o.name, "PageRegion") == 0)
		return;
	for (std::size_t i = 0; i < l.count; i++)
		if (Translated(l.list[i]) &&
		    Untranslated(t, l.list[i], "Translation", SpanOf(o.name)))
			NoteFault(1u << t, kNoTranslation, o.openLine[t], SpanOf(o.name),
			          SpanOf(l.list[i]));
}

// A page size default of text t: the imageable area's or the paper
// dimension's, which must name a page size.
void SizeDefault(const Option &o, int t)
{
	if (!IsUnknown(o.value[t]) &&
	    !(PairTexts(SpanOf("PageSize"), SpanOf(o.value[t]), true) & (1u << t)))
		NoteFault(1u << t, kBadDefault, o.defaultLine[t], SpanOf(o.name),
		          SpanOf(o.value[t]));
}

// The faults of one option in text t.
void OptionFaults(const Option &o, int t)
{
	bool sized = strcmp(o.name, "ImageableArea") == 0 || strcmp(o.name, "PaperDimension") == 0;
	if (sized && o.hasDefault[t])
		SizeDefault(o, t);
	if (o.opens[t] == 0)
		return;
	if (!o.hasDefault[t])
		NoteFault(1u << t, kNoDefault, o.openLine[t], SpanOf(o.name), {"", 0});
	else if (!IsUnknown(o.value[t]) &&
	         !(PairTexts(SpanOf(o.name), SpanOf(o.value[t]), false) & (1u << t)))
		NoteFault(1u << t, kBadDefault, o.defaultLine[t], SpanOf(o.name),
		          SpanOf(o.value[t]));
	OptionTranslations(o, t);
}

// The translations that a choice of the changed lines lacks, in each text
// that offers it.
void ChoiceTranslations(const Touched &w)
{
	Span choice = SpanOf(w.choice);
	unsigned texts = PairTexts(SpanOf(w.option), choice, false);
	Option *o = FindOption(SpanOf(w.option));
	char more[2 * kNameSize];
	for (int t = kOld; o && t < kTexts; t++) {
		const Languages &l = g_languages[t];
		if (!(texts & (1u << t)) || o->opens[t] == 0 || strcmp(w.option, "PageRegion") == 0)
			continue;
		for (std::size_t i = 0; i < l.count; i++) {
			if (!Translated(l.list[i]) || !Untranslated(t, l.list[i], w.option, choice))
				continue;
			int n = snprintf(more, sizeof more, "%s %s", l.list[i], w.choice);
			NoteFault(1u << t, kNoTranslation, w.line, SpanOf(w.option),
			          {more, static_cast<std::size_t>(n)});
		}
	}
}

// The keywords that a page size of the changed lines needs beside its
// *PageSize line, in each text that offers it.
void SizeFaults(const Touched &w)
{
	static const char *const kNeeded[] = {"ImageableArea", "PaperDimension", "PageRegion"};
	Span size = SpanOf(w.choice);
	unsigned texts = PairTexts(SpanOf("PageSize"), size, false);
	Option *region = FindOption(SpanOf("PageRegion"));
	for (int t = kOld; t < kTexts; t++) {
		for (const char *k : kNeeded) {
			bool asked =
			        strcmp(k, "PageRegion") != 0 || (region && region->opens[t] > 0);
			if ((texts & (1u << t)) && asked &&
			    !(PairTexts(SpanOf(k), size, false) & (1u << t)))
				NoteFault(1u << t, kSizeIncomplete, w.line, size, SpanOf(k));
		}
	}
}

bool IsSizeKeyword(const char *k)
{
	return strcmp(k, "PageSize") == 0 || strcmp(k, "PageRegion") == 0 ||
	       strcmp(k, "ImageableArea") == 0 || strcmp(k, "PaperDimension") == 0;
}

// The faults that the choices of the changed lines may bring.
void TouchedFaults(const Touched &w)
{
	ChoiceTranslations(w);
	if (IsSizeKeyword(w.option))
		SizeFaults(w);
}

// Translations need the encoding that the printing system reads them in.
void EncodingFaults()
{
	for (int t = kOld; t < kTexts; t++)
		if (HasLanguages(t) && !g_latin1[t])
			NoteFault(1u << t, kEncoding, -1, SpanOf("LanguageEncoding"), {"", 0});
}

void RequiredFaults()
{
	for (std::size_t i = 0; i < kRequiredCount; i++)
		for (int t = kOld; t < kTexts; t++)
			if (g_required[t][i] == 0 && g_required[kOld][i] != g_required[kNew][i])
				NoteFault(1u << t, kRequired, -1, SpanOf(kRequiredKeywords[i]),
				          {"", 0});
}

bool SameLanguages()
{
	const Languages &a = g_languages[kOld], &b = g_languages[kNew];
	bool same = a.count == b.count;
	for (std::size_t i = 0; same && i < a.count; i++)
		same = strcmp(a.list[i], b.list[i]) == 0;
	return same;
}

// Whether an option stands alike in both texts, and so bears the same
// faults in both.
bool Alike(const Option &o, bool languages)
{
	bool sized = strcmp(o.name, "ImageableArea") == 0 || strcmp(o.name, "PaperDimension") == 0;
	return languages && !DefaultDiffers(o) && !o.touched && !(sized && g_sizesTouched);
}

// Finds the faults that each text shows as a whole.
void WholeTextFaults()
{
	bool languages = SameLanguages() && !g_translationsTouched;
	for (std::size_t i = 0; i < g_optionCount; i++) {
		const Option &o = g_options[g_optionUsed[i]];
		for (int t = kOld; t < kTexts && !Alike(o, languages); t++)
			OptionFaults(o, t);
	}
	for (std::size_t i = 0; i < g_touchedCount; i++)
		TouchedFaults(g_touched[i]);
	EncodingFaults();
	RequiredFaults();
}

// What a fault of the new text is, after "line N: ", naming what it names;
// the faults of no one line stand alone.
int Describe(char *s, std::size_t size, const Fault &f)
{
	const char *n = f.name, *m = f.more;
	switch (f.kind) {
	case kLongLine:
		return snprintf(s, size, "longer than 255 bytes");
	case kControl:
		return snprintf(s, size, "a control character");
	case kNoAsterisk:
		return snprintf(s, size, "not blank, and no '*' at its start");
	case kBadKeyword:
		return snprintf(s, size, "*%s is no keyword of 1 to 40 printable characters", n);
	case kBadOption:
		return snprintf(s, size,
		                "an option keyword that is not 1 to 40 printable characters");
	case kLongTranslation:
		return snprintf(s, size, "a translation longer than 81 bytes");
	case kBlankBeforeColon:
		return snprintf(s, size, "a blank before the colon");
	case kNoColon:
		return snprintf(s, size, "*%s without a colon and value", n);
	case kLongValue:
		return snprintf(s, size, "the end of a quoted value longer than 262142 bytes");
	case kNestedUI:
		return *m ? snprintf(s, size, "*%s opens before *%s is closed", n, m)
		          : snprintf(s, size, "*%s opens inside another option", n);
	case kBadCloseUI:
		return snprintf(s, size, "a close of no open option of its kind");
	case kBadOpenUI:
		return snprintf(s, size, "*%s is not PickOne, PickMany or Boolean", n);
	case kUnclosedUI:
		return snprintf(s, size, "*%s is never closed", n);
	case kNestedGroup:
		return snprintf(s, size, "a group opens before the last is closed");
	case kUnclosedGroup:
		return snprintf(s, size, "a group that is never closed");
	case kNoDefault:
		return snprintf(s, size, "*%s has no *Default%s", n, n);
	case kBadDefault:
		return snprintf(s, size, "*Default%s %s is not %s", n, m,
		                strcmp(n, "ImageableArea") == 0 || strcmp(n, "PaperDimension") == 0
		                        ? "a page size"
		                        : "one of its choices");
	case kTwiceChoice:
		return snprintf(s, size, "*%s offers %s twice, or in two cases", n, m);
	case kOptionTwice:
		return snprintf(s, size, "*%s is opened in a second group", n);
	case kNoTranslation: {
		const char *choice = strchr(m, ' ');
		int language = static_cast<int>(choice ? choice - m
		                                       : static_cast<std::ptrdiff_t>(strlen(m)));
		return snprintf(s, size,
		                "*%s%s has no %.*s translation, which *cupsLanguages asks for", n,
		                choice ? choice : "", language, m);
	}
	case kRequired:
		return snprintf(s, size, "*%s is gone, which every PPD holds", n);
	case kConflict:
		return snprintf(s, size, "the defaults %s and %s break a constraint", n, m);
	case kCaseTwice:
		return snprintf(s, size, "%s differs from another name only in case", n);
	case kSizeIncomplete:
		return snprintf(s, size, "page size %s has no *%s", n, m);
	case kBadTranslation:
		return snprintf(s, size,
		                "a translation that is not UTF-8, or a default one that is not "
		                "ASCII, where *cupsLanguages asks for translations");
	case kEncoding:
		return snprintf(s, size, "*cupsLanguages needs *LanguageEncoding: ISOLatin1");
	case kNoHeader:
		return snprintf(s, size, "no *PPD-Adobe header");
	case kFaultKinds:
		break;
	}
	return 0;
}

// A fault of the new text, as a sentence: its line, and what it is.
const char *Say(const Fault &f)
{
	static char s[512];
	int n = f.line > 0 ? snprintf(s, sizeof s, "line %ld: ", f.line) : 0;
	Describe(s + n, sizeof s - static_cast<std::size_t>(n), f);
	return s;
}

} // namespace

const char *FactsVerdict()
{
	WholeTextFaults();
	if (g_overflow)
		return "the file has more options, choices or constraints than the check can hold";
	const Fault *first = nullptr;
	for (std::size_t i = 0; i < g_faultCount; i++) {
		const Fault &f = g_faults[g_faultUsed[i]];
		if (f.count[kNew] <= f.count[kOld])
			continue;
		if (!first || (f.line > 0 && (first->line <= 0 || f.line < first->line)))
			first = &f;
	}
	return first ? Say(*first) : nullptr;
}
