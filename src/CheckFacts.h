// What the check learns of the old text and the new, and the faults it
// finds in each: the tables behind Check.cpp. Each fact and fault is kept
// once for both texts, with a mark of the texts that hold it, so that the
// lines the texts share cost one entry.
#ifndef CHECKFACTS_H
#define CHECKFACTS_H

#include "PpdText.h"

#include <cstddef>
#include <cstdint>

enum { kOld, kNew, kTexts };
// A mark of the texts: bit kOld, bit kNew.
constexpr unsigned kInOld = 1;
constexpr unsigned kInNew = 2;

// The faults the check knows, as the printing system's reader and its PPD
// test see them.
enum FaultKind {
	// A line's own form.
	kLongLine,        // a line over 255 bytes
	kControl,         // a control character other than a tab
	kNoAsterisk,      // a line that is not blank and does not start with '*'
	kBadKeyword,      // a main keyword that is empty, too long or not keyword text
	kBadOption,       // an option keyword too long or not keyword text
	kLongTranslation, // a translation over 81 bytes
	kBlankBeforeColon,
	kNoColon,        // a keyword line without its value
	kLongValue,      // a quoted value over 262142 bytes
	kBadTranslation, // a translation that is not UTF-8, or a default one that is not
	                 // ASCII, where *cupsLanguages asks for translations
	kNoHeader,       // a first line that is not *PPD-Adobe
	// The nesting of options and groups.
	kNestedUI,      // an option opened while another is open
	kBadCloseUI,    // a close with no option of its kind open
	kBadOpenUI,     // an option whose type is not PickOne, PickMany or Boolean
	kUnclosedUI,    // an option still open at the end
	kNestedGroup,   // a group opened while another is open
	kUnclosedGroup, // a group still open at the end
	// What the options, choices and defaults say, fault by fault.
	kNoDefault,      // an option, imageable area or paper dimension without a default
	kBadDefault,     // a default that is not a choice (or, for the imageable area
	                 // and paper dimension, not a page size)
	kTwiceChoice,    // a choice that an option offers twice
	kOptionTwice,    // an option opened in two groups
	kNoTranslation,  // an option or choice that a language of *cupsLanguages lacks
	kRequired,       // a keyword that every PPD must hold is gone
	kConflict,       // defaults that a constraint forbids together
	kCaseTwice,      // options, choices or groups whose names differ only in case
	kSizeIncomplete, // a page size without its imageable area, paper dimension or
	                 // page region
	kEncoding,       // translations in a file whose encoding is not ISOLatin1
	kFaultKinds
};

// Starts the tables afresh for one edit.
void FactsReset();

// Notes a fault of one text, found at line (of that text, from 1). shared:
// the line belongs to both texts, and is noted in both alike. name and more
// are what the message names.
void NoteFault(unsigned texts, FaultKind kind, long line, Span name, Span more);

// One option of the texts, by name.
struct Option;
Option *FindOption(Span name);
bool OptionNamed(const Option *o, Span name);
const char *OptionName(const Option *o);
// The option named, or null when no line names it.
const Option *LookupOption(Span name);
// The default of an option in text t, or null when that text does not
// open it or says no default.
const char *OptionDefault(const Option *o, int t);
// The options whose defaults differ between the texts, at most most of
// them in list: how many.
std::size_t DifferingOptions(const Option **list, std::size_t most);
// Notes that a table is full: the verdict can not be trusted.
void NoteOverflow();
// A default value as the printing system takes it: without the quotes
// around it, and up to a slash.
Span DefaultValue(Span value);
// Notes that texts open the option at line, in group (a number that each
// group opening changes).
void NoteOpen(Option *o, unsigned texts, long line, unsigned group);
// Notes a "*DefaultNAME: value" line of texts.
void NoteDefault(Span name, Span value, unsigned texts, long line);
// Notes a choice of an option that texts hold.
void NoteChoice(Span keyword, Span choice, unsigned texts, long line);
// Notes a "*KEYWORD NAME" line of texts that is no option's choice, such
// as the imageable area of a page size.
void NoteAttribute(Span keyword, Span choice, unsigned texts);
// Notes a choice (or attribute, or translation's choice) that a line of
// one text alone names: checked at the end for the translations and, for
// a page size, the keywords it needs.
void NoteTouched(Span keyword, Span choice, long line);
// Notes a group's name, "NAME/TRANSLATION", opened by texts.
void NoteGroup(Span name, unsigned texts, long line);
// Notes a *LanguageEncoding value of texts.
void NoteEncoding(Span value, unsigned texts);
// Whether text t names languages in *cupsLanguages.
bool HasLanguages(int t);
// Notes a translation line ("*LANGUAGE.OPTION CHOICE" or
// "*LANGUAGE.Translation OPTION") of texts.
void NoteTranslation(Span keyword, Span choice, unsigned texts);
// Notes the languages of a "*cupsLanguages:" value of texts.
void NoteLanguages(Span value, unsigned texts);
// Notes a keyword line of texts, for the keywords every PPD holds.
void NoteRequired(Span keyword, unsigned texts);

// Ends the check: the faults that each text shows as a whole, then the
// first fault of the new text that the old one lacks, as a sentence; null
// for none.
const char *FactsVerdict();

#endif
