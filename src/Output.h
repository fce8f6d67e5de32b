// The files that a run writes: the output, opened and checked against the
// files being read, then written into a temporary file that replaces it
// whole, or in place when it cannot be replaced; and, for an edit in place,
// the input itself. Also the process's standard descriptors and signals,
// since a signal must undo what the run has begun on those files.
#ifndef OUTPUT_H
#define OUTPUT_H

#include <sys/stat.h>

// Opens standard descriptors that are closed and sets the signal actions;
// the first call of a process does it, later ones nothing.
void PrepareProcess();

// Opens the output named path for writing, created when missing. It must be
// neither a file being read (in, para) nor the file that standard output
// writes to. A regular file with one link is then written into a temporary
// file beside it; any other output in place, locked and emptied. Returns
// the descriptor to write to, or -1 with the message printed.
[[nodiscard]] int OpenOutputFile(const char *path, const struct stat &in, const struct stat &para);

// Opens a file to be edited in place, locked against a second edit, once
// its name still leads to it. Returns the descriptor, -1 when it cannot be
// opened (errno says why; nothing printed), or -2 when it is not a regular
// file (said).
[[nodiscard]] int OpenFileToReplace(const char *path);
// The output of an edit in place replaces its input, the file open on fd
// with status in, named path. 0 when that file is the parameter file.
[[nodiscard]] int ReplaceLater(int fd, const char *path, const struct stat &in,
                               const struct stat &para);
// Whether that input could be replaced now, judged without making a file:
// for a dry run. 0 with a sentence saying why not.
[[nodiscard]] int CheckReplaceable();
// Makes the temporary file that replaces that input and returns its
// descriptor, or -1, with a sentence saying why it cannot be replaced when
// say is set.
[[nodiscard]] int OpenReplacement(bool say);

// Asks that the written file and its folder reach the disk before the
// output is reported done.
void SyncOutput(bool sync);
// Before the output's descriptor is closed: flushes it to the disk when
// asked. 0 on failure.
[[nodiscard]] int SyncOutputFile(int fd);
// Once the output's descriptor is closed without error: puts the output in
// place (the temporary file takes its name) and lets go of it. 0 on
// failure, reported, with the output left as it was.
[[nodiscard]] int CommitOutputFile();
// Undoes what was begun on the output: the temporary file removed, an
// output written in place emptied, one that this run created removed.
// Safe to call again. The descriptor written to is closed by the caller.
void DiscardOutputFile();
// Report that the output could not be made or written; return 0.
int OutputNotCreated();
int OutputWriteError();

#endif
