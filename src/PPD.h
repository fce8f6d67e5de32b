// ppdedit: writes an edited copy of a PPD file, line by line.
//
// The run context (mode, the three path names and streams), the line text
// primitives and the two edit engines. src/main.cpp holds only main, so the
// tests link everything declared here as a library.
#ifndef PPD_H
#define PPD_H

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

// An edit in place, for ppdedit-inplace: what became of the file, and the
// options it takes.
enum { kEditFailed, kEditChanged, kEditUnchanged, kEditMarked };
enum { kDryRun = 1, kSync = 2 };
[[nodiscard]] int EditInPlace(int argc, char *argv[], int options);

// Line text primitives (TrimmedLength is in Lines.h). They print nothing and
// allocate nothing.
void StrTrim(char *line);
char *StrShift(char *start, std::ptrdiff_t distance);
[[nodiscard]] char *StrReplace(char *buffer, std::size_t size, const char *token,
                               const char *value);
[[nodiscard]] int ExpandParameters(char *line, std::size_t size, int count,
                                   char *const parameters[]);

#endif
