// Setting options' defaults. A scan of the whole text comes first, since a
// choice may stand anywhere, before or after the default that names it:
// it finds, for each keyword whose default is set, whether the file opens
// it as an option, whether the choice asked for is one of its choices, and
// the default lines and the option's first *OpenUI line. The edits follow
// from that: each default line takes the choice as its value, every other
// byte kept; an option that says no default gets one right after its
// *OpenUI line, with that line's ending.
#include "Defaults.h"

#include "PpdText.h"

#include <cstdio>
#include <cstring>

namespace {

// The most keywords whose defaults one run sets: each default asked for,
// and three more for a page size.
constexpr int kAskedMax = 64;
constexpr int kTargetsMax = kAskedMax * 4;
// The default lines of one file that can be edited: a PPD has one for
// each option.
constexpr std::size_t kEditsMax = 1024;
// The names of an option's choices kept for a message.
constexpr std::size_t kNamesMax = 120;

// The keywords that a page size sets too, where the file says their
// defaults: each needs the page size among its own choices.
const char *const kPageKeywords[] = {"PageRegion", "ImageableArea", "PaperDimension"};

// One keyword whose default is set, and what the scan found of it.
struct Target {
	const char *keyword;
	const char *choice;
	int parent;           // the option asked for that sets this one too, or -1
	bool opened;          // *OpenUI or *JCLOpenUI names it
	bool hasChoice;       // a line "*KEYWORD CHOICE..." is there
	int defaults;         // its "*DefaultKEYWORD:" lines
	std::int64_t openEnd; // where the line after the first *OpenUI starts
	char openEnding[3];
	char names[kNamesMax + 5]; // its choices, for a message, " ..." when cut
	std::size_t namesLen;
	bool namesCut;
};

// An edit found by the scan: a default line's value, or a line to insert.
struct Found {
	std::int64_t at;
	std::size_t len;
	int target;
	bool insert;
};

Target g_targets[kTargetsMax];
int g_targetCount;
Found g_edits[kEditsMax];
std::size_t g_editCount;
bool g_tooMany;
std::size_t g_nextEdit;
LineCutter g_cutter;
bool g_quoted;
// The text offset of the chunk at hand.
std::int64_t g_base;
// The text of an inserted line.
char g_line[2 * kKeywordMax + 16];

bool IsKeywordByte(char ch)
{
	unsigned char c = static_cast<unsigned char>(ch);
	return c >= 0x21 && c <= 0x7e && c != ':' && c != '/';
}

bool KeywordText(const char *s)
{
	std::size_t n = strlen(s);
	if (n == 0 || n > kKeywordMax)
		return false;
	for (std::size_t i = 0; i < n; i++)
		if (!IsKeywordByte(s[i]))
			return false;
	return true;
}

bool IsPageKeyword(const char *s)
{
	for (const char *k : kPageKeywords)
		if (strcmp(s, k) == 0)
			return true;
	return false;
}

void AddTarget(const char *keyword, const char *choice, int parent)
{
	Target &t = g_targets[g_targetCount++];
	t = {};
	t.keyword = keyword;
	t.choice = choice;
	t.parent = parent;
}

// Whether the file's defaults of the target are set: an option asked for
// when the file opens it; a keyword that a page size sets when the file
// opens the page size and says the keyword's default.
bool Live(const Target &t)
{
	return t.parent < 0 ? t.opened : g_targets[t.parent].opened && t.defaults > 0;
}

// The target whose keyword is k, or -1.
int TargetOf(Span k)
{
	for (int i = 0; i < g_targetCount; i++)
		if (SpanEquals(k, g_targets[i].keyword))
			return i;
	return -1;
}

// The target whose default a "*DefaultKEYWORD" line says, or -1.
int TargetOfDefault(Span k)
{
	if (!SpanStarts(k, "Default"))
		return -1;
	return TargetOf({k.p + 7, k.n - 7});
}

void NoteName(Target *t, Span name)
{
	if (t->namesCut)
		return;
	if (t->namesLen + 1 + name.n > kNamesMax) {
		t->namesCut = true;
		memcpy(t->names + t->namesLen, " ...", 5);
		return;
	}
	if (t->namesLen > 0)
		t->names[t->namesLen++] = ' ';
	memcpy(t->names + t->namesLen, name.p, name.n);
	t->namesLen += name.n;
	t->names[t->namesLen] = '\0';
}

void Record(std::int64_t at, std::size_t len, int target, bool insert)
{
	if (g_editCount == kEditsMax) {
		g_tooMany = true;
		return;
	}
	g_edits[g_editCount++] = {at, len, target, insert};
}

// An "*OpenUI *KEYWORD" or "*JCLOpenUI *KEYWORD" line: the first opens the
// option.
void SeeOpen(const TextLine &line, const PpdLine &pl)
{
	if (!pl.option.n || pl.option.p[0] != '*')
		return;
	int i = TargetOf({pl.option.p + 1, pl.option.n - 1});
	if (i < 0 || g_targets[i].opened)
		return;
	Target &t = g_targets[i];
	t.opened = true;
	t.openEnd = line.start + static_cast<std::int64_t>(line.len + strlen(line.ending));
	snprintf(t.openEnding, sizeof t.openEnding, "%s", line.ending);
}

// The value of a default line: up to the blanks that end it.
Span ValueOf(const PpdLine &pl)
{
	Span v = pl.value;
	while (v.n > 0 && (v.p[v.n - 1] == ' ' || v.p[v.n - 1] == '\t'))
		v.n--;
	return v;
}

void SeeDefault(const TextLine &line, const PpdLine &pl, int i)
{
	Target &t = g_targets[i];
	Span v = ValueOf(pl);
	t.defaults++;
	if (!SpanEquals(v, t.choice))
		Record(line.start + (v.p - line.p), v.n, i, false);
}

void SeeKeywordLine(const TextLine &line, const PpdLine &pl)
{
	if (SpanIs(pl.keyword, "OpenUI") || SpanIs(pl.keyword, "JCLOpenUI")) {
		SeeOpen(line, pl);
		return;
	}
	int i = TargetOfDefault(pl.keyword);
	if (i >= 0 && pl.colon && !pl.option.n && !pl.opensQuote) {
		SeeDefault(line, pl, i);
		return;
	}
	if (!pl.option.n || (i = TargetOf(pl.keyword)) < 0)
		return;
	Target &t = g_targets[i];
	NoteName(&t, pl.option);
	t.hasChoice = t.hasChoice || SpanEquals(pl.option, t.choice);
}

// Whether a line whose keyword starts with c may say what the edit needs:
// a default, an *OpenUI, or a choice of a target.
bool MaySay(char c)
{
	if (c == 'D' || c == 'O' || c == 'J')
		return true;
	for (int i = 0; i < g_targetCount; i++)
		if (g_targets[i].keyword[0] == c)
			return true;
	return false;
}

void SeeLine(const TextLine &line)
{
	if (g_quoted) {
		g_quoted = !ClosesQuote(line);
		return;
	}
	PpdLine pl;
	ParseLine(line, &pl);
	if (pl.kind != kKeywordLine)
		return;
	g_quoted = pl.opensQuote;
	SeeKeywordLine(line, pl);
}

// Whether the target can take its default: said when not.
int Settable(const Target &t)
{
	if (t.hasChoice)
		return 1;
	printf("%s is not a choice of %s (%s)\n", t.choice, t.keyword,
	       t.namesLen ? t.names : "it has none");
	return 0;
}

// The options asked for that the file does not open, in note.
void NoteMissing(char *note, std::size_t size)
{
	std::size_t len = 0;
	note[0] = '\0';
	for (int i = 0; i < g_targetCount; i++) {
		const Target &t = g_targets[i];
		if (t.parent >= 0 || t.opened)
			continue;
		int n = snprintf(note + len, size - len, "%s%s", len ? ", " : "no option ",
		                 t.keyword);
		if (n < 0 || static_cast<std::size_t>(n) >= size - len)
			break;
		len += static_cast<std::size_t>(n);
	}
}

// Adds the inserted default of each opened option that says none. 0, said,
// when its *OpenUI line is the last, without an ending.
int InsertMissing()
{
	for (int i = 0; i < g_targetCount; i++) {
		Target &t = g_targets[i];
		if (t.parent >= 0 || !t.opened || t.defaults > 0)
			continue;
		if (!t.openEnding[0]) {
			printf("*OpenUI *%s is the last line, and no default can follow it\n",
			       t.keyword);
			return 0;
		}
		Record(t.openEnd, 0, i, true);
	}
	return 1;
}

// Keeps the edits of the targets that are set, in the order of the text:
// the inserted lines go among the edits of default lines found in that
// order already.
void SortEdits()
{
	std::size_t kept = 0;
	for (std::size_t i = 0; i < g_editCount; i++)
		if (Live(g_targets[g_edits[i].target]))
			g_edits[kept++] = g_edits[i];
	g_editCount = kept;
	for (std::size_t i = 1; i < g_editCount; i++) {
		Found f = g_edits[i];
		std::size_t j = i;
		for (; j > 0 && g_edits[j - 1].at > f.at; j--)
			g_edits[j] = g_edits[j - 1];
		g_edits[j] = f;
	}
}

} // namespace

const char *TakeDefaultWord(char *word, DefaultAsked *asked)
{
	char *eq = strchr(word, '=');
	if (!eq)
		return "is not OPTION=CHOICE";
	*eq = '\0';
	asked->option = word;
	asked->choice = eq + 1;
	if (word[0] == '*')
		return "names the option with its '*': give it without";
	if (!KeywordText(word))
		return "names no option keyword (1 to 40 printable characters, no blank, ':' or "
		       "'/')";
	if (!KeywordText(eq + 1))
		return "names no choice keyword (1 to 40 printable characters, no blank, ':' or "
		       "'/')";
	return nullptr;
}

const char *DefaultsClash(const DefaultAsked &a, const DefaultAsked &b)
{
	if (strcmp(a.option, b.option) == 0)
		return "asks for two defaults of one option";
	bool page = strcmp(a.option, "PageSize") == 0 || strcmp(b.option, "PageSize") == 0;
	if (page && (IsPageKeyword(a.option) || IsPageKeyword(b.option)))
		return "asks for a page size, which sets the page region, imageable area and paper "
		       "dimension too";
	return nullptr;
}

void DefaultsStart(const DefaultAsked *asked, int count)
{
	g_targetCount = 0;
	for (int i = 0; i < count && i < kAskedMax; i++) {
		int parent = g_targetCount;
		AddTarget(asked[i].option, asked[i].choice, -1);
		if (strcmp(asked[i].option, "PageSize") == 0)
			for (const char *k : kPageKeywords)
				AddTarget(k, asked[i].choice, parent);
	}
	g_editCount = g_nextEdit = 0;
	g_tooMany = g_quoted = false;
	g_base = 0;
	CutterReset(&g_cutter);
}

namespace {

// A line that the skim found: most say nothing the edit needs, and are
// passed over but for the quoted value they may open.
void SkimmedLine(const char *p, const LineSkim &s, std::size_t avail)
{
	const char *ending = p[s.len] == '\r' ? "\r\n" : "\n";
	TextLine line = {p,      s.len, s.len, 0, g_base + static_cast<std::int64_t>(s.start),
	                 ending, avail};
	bool keyword = s.len >= 2 && p[0] == '*' && p[1] != '%' && p[1] != ' ' && p[1] != '\t';
	if (g_quoted ? s.oddQuotes : keyword && MaySay(p[1]))
		SeeLine(line);
	else if (!g_quoted && keyword && s.oddAfterColon)
		g_quoted = true;
}

} // namespace

void DefaultsScan(const char *p, std::size_t n)
{
	std::size_t skimmed = 0;
	if (CutterClear(&g_cutter)) {
		Skimmer k;
		LineSkim s;
		SkimStart(&k, p, n);
		while (NextSkimmed(&k, &s))
			SkimmedLine(p + s.start, s, n - s.start);
		skimmed = SkimmedTo(&k);
	}
	TextLine line;
	CutterPass(&g_cutter, skimmed);
	CutterFeed(&g_cutter, p + skimmed, n - skimmed);
	while (NextLine(&g_cutter, &line))
		SeeLine(line);
	g_base += static_cast<std::int64_t>(n);
}

DefaultsOutcome DefaultsEnd(char *note, std::size_t size)
{
	TextLine line;
	if (LastLine(&g_cutter, &line))
		SeeLine(line);
	note[0] = '\0';
	bool any = false;
	for (int i = 0; i < g_targetCount; i++) {
		const Target &t = g_targets[i];
		if (Live(t) && !Settable(t))
			return kDefaultsFailed;
		any = any || (t.parent < 0 && t.opened);
	}
	NoteMissing(note, size);
	if (!any)
		return kDefaultsNoOption;
	if (!InsertMissing())
		return kDefaultsFailed;
	if (g_tooMany) {
		printf("the file has more than %zu default lines to set\n", kEditsMax);
		return kDefaultsFailed;
	}
	SortEdits();
	return g_editCount > 0 ? kDefaultsChange : kDefaultsAlready;
}

int NextDefaultEdit(DefaultEdit *edit)
{
	if (g_nextEdit == g_editCount)
		return 0;
	const Found &f = g_edits[g_nextEdit++];
	const Target &t = g_targets[f.target];
	*edit = {f.at, f.len, t.choice, strlen(t.choice)};
	if (f.insert) {
		int n = snprintf(g_line, sizeof g_line, "*Default%s: %s%s", t.keyword, t.choice,
		                 t.openEnding);
		*edit = {f.at, 0, g_line, static_cast<std::size_t>(n)};
	}
	return 1;
}
