// ppdedit: writes an edited copy of a PPD file, line by line.
//
// The run context (mode, the three path names and streams), the line text
// primitives and the two edit engines. src/main.cpp holds only main, so the
// tests link everything declared here as a library.
#ifndef PPD_H
#define PPD_H

#include "Defaults.h"
#include "Lines.h"

#include <cstddef>
#include <cstdio>

// One path slot, the terminator included.
constexpr std::size_t kPathMax = 1024;

enum { kPathInput, kPathOutput, kPathPara, kPathCount };

extern int g_nMode; // 0 Add mode, 1 Line Replace Mode
extern char g_szPathName[kPathCount][kPathMax];
extern FILE *g_infp;
extern FILE *g_outfp;
extern FILE *g_parafp;

// Run context.
void PrintUsage(const char *argv0);
[[nodiscard]] int Initialize(char *argv[]);
void Uninitialize();

// Edit engines: 1 on success, 0 on failure (the message is already printed).
[[nodiscard]] int CheckInputPPD();
[[nodiscard]] int Add(int argc, char *argv[]);
[[nodiscard]] int Replace(int argc, char *argv[]);

// An edit in place, for ppdedit-inplace: what became of the file (changed;
// unchanged as nothing matched, or as the marker is there, or as the edit
// gives the same text), and the options it takes. argv is the command line
// that ppdedit would be given for the file. An edit that succeeds may print
// a note for the report: the options a file does not have.
enum { kEditFailed, kEditChanged, kEditUnchanged, kEditMarked, kEditAlready };
enum { kDryRun = 1, kSync = 2, kPrefix = 4, kKeepEndings = 8, kNoCheck = 16 };
struct InPlace {
	int flags;          // kDryRun, kSync, kPrefix (lines match by their
	                    // beginning), kKeepEndings (written lines end as
	                    // the lines they go with), kNoCheck (the new text
	                    // is not checked)
	const char *backup; // a replaced file is kept as its name and this, or null
	int backupControl;  // or numbered: kBackupSimple... (Backup.h)
	int diff;           // where the diff of a change goes first, or -1
	const char *label;  // the file's name in the diff
	int folder;         // the file is name in this open folder, found without
	const char *name;   // following links; -1: found by its path
	int wait;           // the longest wait for another program's lock, in
	                    // seconds; -1: ppdedit's
};
[[nodiscard]] int EditInPlace(int argc, char *argv[], const InPlace &how);
// Whether the last edit in place found some of its keys, but not all: its
// note says which were not.
[[nodiscard]] bool EditInPart();
// Once a changed file is reported: the signals that end the run, held from
// the change on, come in again.
void FileReported();
// For a run over many files: reads the parameter file named in such a
// command line once, and keeps its lines, the written ones filled, for
// every later edit. Refuses what no file can mend: a missing or unreadable
// file, too few lines, a NUL byte, a line too long after filling, or one
// that keeps a placeholder no parameter fills; and unless the written lines
// take the endings of the lines they go with (keepEndings), one that ends
// in CR LF or a last one without an ending. 1, or 0 with the message
// printed.
[[nodiscard]] int KeepParameterFile(int argc, char *argv[], bool keepEndings);
// For a run that sets defaults instead: every later edit sets these, and
// its command line names no parameter file.
void KeepDefaults(const DefaultAsked *asked, int count);

// Line text primitives (TrimmedLength is in Lines.h). They print nothing and
// allocate nothing.
void StrTrim(char *line);
char *StrShift(char *start, std::ptrdiff_t distance);
[[nodiscard]] char *StrReplace(char *buffer, std::size_t size, const char *token,
                               const char *value);
[[nodiscard]] int ExpandParameters(char *line, std::size_t size, int count,
                                   char *const parameters[]);

#endif
