// The constraints of both texts. Each is kept as the text of its value,
// and read only where it could break in one text and not the other.
#include "CheckConstraints.h"

#include "CheckFacts.h"
#include "FindText.h"

#include <cstdio>
#include <cstring>

namespace {

// A constraint of either text ("*A a *B b", the defaults it names must not
// all be taken together): its text, kept in g_said, read only when the
// defaults of an option it names differ between the texts. PPDs hold
// thousands; most edits change no default.
constexpr int kConstraintOptions = 4;
// An option's name and a choice, as a message names them.
constexpr std::size_t kNameSize = kKeywordMax + 1;
constexpr std::size_t kConstraintsMax = 32768;
constexpr std::size_t kSaidMax = std::size_t{1} << 21;
struct Constraint {
	std::size_t at;
	std::size_t n;
	unsigned texts;
	long line;
};

Constraint g_constraints[kConstraintsMax];
std::size_t g_constraintCount;
char g_said[kSaidMax];
std::size_t g_saidLen;
// The constraints of lines that one text alone holds.
constexpr std::size_t kOwnConstraintsMax = 256;
std::size_t g_ownConstraints[kOwnConstraintsMax];
std::size_t g_ownConstraintCount;

} // namespace

void ConstraintsReset()
{
	g_constraintCount = g_saidLen = g_ownConstraintCount = 0;
}

void NoteConstraint(Span value, unsigned texts, long line)
{
	if (g_constraintCount == kConstraintsMax || value.n > kSaidMax - g_saidLen) {
		NoteOverflow();
		return;
	}
	if (texts != (kInOld | kInNew) && g_ownConstraintCount == kOwnConstraintsMax) {
		NoteOverflow();
		return;
	}
	if (texts != (kInOld | kInNew))
		g_ownConstraints[g_ownConstraintCount++] = g_constraintCount;
	memcpy(g_said + g_saidLen, value.p, value.n);
	g_constraints[g_constraintCount++] = {g_saidLen, value.n, texts, line};
	g_saidLen += value.n;
}

namespace {

// Whether the default of option o in text t takes the choice that a
// constraint names; a constraint that names no choice takes every one but
// the choices that mean "off".
bool Takes(const Option *o, int t, Span choice)
{
	const char *v = OptionDefault(o, t);
	if (!v)
		return false;
	if (choice.n)
		return SpanEquals(choice, v);
	return strcmp(v, "None") != 0 && strcmp(v, "False") != 0 && strcmp(v, "Off") != 0;
}

const Option *Taken(int t, Span option, Span choice)
{
	const Option *o = LookupOption(option);
	return o && Takes(o, t, choice) ? o : nullptr;
}

// The options whose defaults differ between the texts: only their
// constraints, and the constraints of one text alone, can break in one
// text and not the other.
constexpr std::size_t kDifferingMax = 64;
const Option *g_differing[kDifferingMax];
std::size_t g_differingCount;

// The options and choices a constraint names, up to kConstraintOptions:
// how many.
int Words(Span text, Span *options, Span *choices)
{
	if (text.n > 0 && text.p[0] == '"')
		text = DefaultValue(text);
	int count = 0;
	for (std::size_t i = 0; i < text.n;) {
		std::size_t j = i;
		while (j < text.n && text.p[j] != ' ' && text.p[j] != '\t')
			j++;
		Span word = {text.p + i, j - i};
		if (word.n > 1 && word.p[0] == '*' && count < kConstraintOptions) {
			options[count] = {word.p + 1, word.n - 1};
			choices[count++] = {"", 0};
		} else if (word.n > 0 && count > 0) {
			choices[count - 1] = word;
		}
		i = j + 1;
	}
	return count;
}

// Notes the constraint as broken in text t, when the defaults of t take
// all its choices.
void ConstraintFault(const Span *options, const Span *choices, int count, const Constraint &c,
                     int t)
{
	const Option *taken[kConstraintOptions];
	for (int k = 0; k < count; k++)
		if (!(taken[k] = Taken(t, options[k], choices[k])))
			return;
	char first[2 * kNameSize + 2];
	char second[2 * kNameSize + 2];
	int a = snprintf(first, sizeof first, "%s %s", OptionName(taken[0]),
	                 OptionDefault(taken[0], t));
	int b = snprintf(second, sizeof second, "%s %s", OptionName(taken[1]),
	                 OptionDefault(taken[1], t));
	NoteFault(1u << t, kConflict, c.line, {first, static_cast<std::size_t>(a)},
	          {second, static_cast<std::size_t>(b)});
}

// The texts in which the option o, which a constraint names, takes the
// constraint's choice for it: only they can break it.
unsigned TakenIn(const Option *o, const Span *options, const Span *choices, int count)
{
	unsigned texts = 0;
	for (int k = 0; k < count; k++)
		for (int t = kOld; t < kTexts; t++)
			if (OptionNamed(o, options[k]) && Takes(o, t, choices[k]))
				texts |= 1u << t;
	return texts;
}

// Notes the constraint, as broken in each text whose defaults take all its
// choices. o: an option whose default differs that it names, which a text
// must take for it to break there; null for a constraint of one text.
void ConstraintFaults(const Constraint &c, const Option *o)
{
	Span options[kConstraintOptions], choices[kConstraintOptions];
	int count = Words({g_said + c.at, c.n}, options, choices);
	unsigned texts = o ? TakenIn(o, options, choices, count) : c.texts;
	for (int t = kOld; count >= 2 && t < kTexts; t++)
		if (texts & (1u << t))
			ConstraintFault(options, choices, count, c, t);
}

// Whether either text's default of option o takes the choice that
// constraint c names for it, after offset at of the kept text: most
// constraints of an option whose default changed name other choices.
bool EitherTakes(const Option *o, const Constraint &c, std::size_t at)
{
	std::size_t end = c.at + c.n;
	while (at < end && (g_said[at] == ' ' || g_said[at] == '\t'))
		at++;
	std::size_t j = at;
	while (j < end && g_said[j] != ' ' && g_said[j] != '\t' && g_said[j] != '"')
		j++;
	Span choice = j > at && g_said[at] != '*' ? Span{g_said + at, j - at} : Span{"", 0};
	return Takes(o, kOld, choice) || Takes(o, kNew, choice);
}

// The constraints of both texts that name option o, whose default differs
// between them: found in the kept text at once, since PPDs hold thousands.
void ConstraintsNaming(const Option *o)
{
	char word[kNameSize + 1];
	int n = snprintf(word, sizeof word, "*%s", OptionName(o));
	std::size_t len = static_cast<std::size_t>(n), i = 0;
	const char *end = g_said + g_saidLen;
	for (const char *at = g_said;
	     (at = FindText(at, static_cast<std::size_t>(end - at), word, len)); at++) {
		std::size_t off = static_cast<std::size_t>(at - g_said);
		while (g_constraints[i].at + g_constraints[i].n <= off)
			i++;
		const Constraint &c = g_constraints[i];
		bool whole = off + len == c.at + c.n || at[len] == ' ' || at[len] == '\t' ||
		             at[len] == '"';
		if (whole && c.texts == (kInOld | kInNew) && EitherTakes(o, c, off + len))
			ConstraintFaults(c, o);
	}
}

} // namespace

void ConstraintFaults()
{
	g_differingCount = DifferingOptions(g_differing, kDifferingMax);
	for (std::size_t i = 0; i < g_ownConstraintCount; i++)
		ConstraintFaults(g_constraints[g_ownConstraints[i]], nullptr);
	for (std::size_t i = 0; i < g_differingCount; i++)
		ConstraintsNaming(g_differing[i]);
}
