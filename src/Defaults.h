// Setting options' defaults as the printing system does: which lines of a
// PPD say an option's default, which choices it offers, and the edits that
// give it the default asked for. A page size is also the default page
// region, imageable area and paper dimension where the PPD says those.
// It reads PPD text handed to it in chunks, and knows nothing of files.
#ifndef DEFAULTS_H
#define DEFAULTS_H

#include <cstddef>
#include <cstdint>

// One default asked for: OPTION=CHOICE, without the option's '*'.
struct DefaultAsked {
	const char *option;
	const char *choice;
};

// What a file's scan found, for the edit as a whole.
enum DefaultsOutcome {
	kDefaultsFailed,   // a choice is missing, or a line can not be edited
	kDefaultsChange,   // at least one line changes
	kDefaultsAlready,  // every line says the default asked for already
	kDefaultsNoOption, // the file has none of the options
};

// One edit of the text: the bytes [at, at + len) become the n bytes at text.
struct DefaultEdit {
	std::int64_t at;
	std::size_t len;
	const char *text;
	std::size_t n;
};

// Splits OPTION=CHOICE, in place, into the default asked for; null when
// it names a keyword and a choice that a PPD can hold, else why not.
[[nodiscard]] const char *TakeDefaultWord(char *word, DefaultAsked *asked);
// Why two defaults asked for can not go together (one option twice, or a
// page size with the page region, imageable area or paper dimension it
// sets too), or null.
[[nodiscard]] const char *DefaultsClash(const DefaultAsked &a, const DefaultAsked &b);

// Starts the scan of a file's text for the defaults asked for.
void DefaultsStart(const DefaultAsked *asked, int count);
// Scans the next chunk of the text.
void DefaultsScan(const char *p, std::size_t n);
// Ends the scan and decides. kDefaultsFailed prints why; the others leave
// in note what the report says beside the file ("" for nothing): the
// options the file does not have.
[[nodiscard]] DefaultsOutcome DefaultsEnd(char *note, std::size_t size);
// The edits, in the order of the text: 0 after the last.
[[nodiscard]] int NextDefaultEdit(DefaultEdit *edit);

#endif
