// The files that a run writes: the output, found once in its folder and
// checked against the files being read, then written into a temporary file
// that replaces it whole, or staged and copied over it when it must keep its
// inode; and, for an edit in place, the input itself. The process's signals,
// which must undo what the run has begun on those files, have a door of
// their own, Signals.h.
#ifndef OUTPUT_H
#define OUTPUT_H

#include "Backup.h"

#include <sys/stat.h>

// Whether two statuses show the same file, unchanged: its inode, size and
// modification time.
bool SameVersion(const struct stat &a, const struct stat &b);

// Opens the output named path for writing. It must be neither a file being
// read (in, para) nor the file that standard output writes to. A new output
// and a regular file with one link are written into a temporary file in
// their folder; another regular file into a stage copied over it at the
// end; a FIFO or a device directly. Returns the descriptor to write to, or
// -1 with the message printed.
[[nodiscard]] int OpenOutputFile(const char *path, const struct stat &in, const struct stat &para);
// The same, but only for an output written into a temporary file renamed
// into place (a new output, a regular file with one link), and without a
// word: -1, with nothing left, when it is not one or cannot be opened, so
// that OpenOutputFile can be tried later and say why.
[[nodiscard]] int OpenRenamedOutputFile(const char *path, const struct stat &in,
                                        const struct stat &para);

// How long a run waits for another program's lock on a file it writes in
// place, unless told otherwise, in seconds.
constexpr int kLockWait = 10;
// From now on, a file is locked after a wait of at most seconds.
void WaitForLocks(int seconds);
// From now on, a file edited in place that is replaced is kept beside it,
// as control says (kBackupSimple: its name followed by suffix); null: no
// backups.
void BackupAs(const char *suffix, int control);
// The next file to edit in place is name in the open folder folder, found
// without following links, instead of by its path (-1: by its path).
void FindIn(int folder, const char *name);
// Opens the folder named path for a walk, following only the links that an
// output's name may follow. Its descriptor; -1 when path names a folder
// that cannot be opened; -2 when it names no folder that may be walked (a
// file, nothing, a refused link), to be edited as a file, which says why.
[[nodiscard]] int OpenFolderToWalk(const char *path);
// Opens a regular file to be edited in place, locked against a second edit,
// once its name still leads to it. Returns the descriptor, -1 when it cannot
// be opened (errno says why; nothing printed), or -2 when it is refused
// (said).
[[nodiscard]] int OpenFileToReplace(const char *path);
// The output of an edit in place replaces its input, the file just opened on
// fd with status in, named path. 0 when that file is the parameter file or
// standard output's file (said).
[[nodiscard]] int ReplaceLater(int fd, const char *path, const struct stat &in,
                               const struct stat &para);
// Whether that input could be replaced now, found by making and removing an
// empty replacement: for a dry run. 0 with a sentence saying why not.
[[nodiscard]] int CheckReplaceable();
// Makes the temporary file that replaces that input and returns its
// descriptor, or -1, with a sentence saying why it cannot be replaced when
// say is set.
[[nodiscard]] int OpenReplacement(bool say);

// Asks that the written file and its folder reach the disk before the
// output is reported done.
void SyncOutput(bool sync);
// Once every byte is written and the output's descriptor closed without
// error: puts the output in place and lets go of it. A replacement gets the
// old file's owner, group, extended attributes and mode, then takes the
// name if it still leads where it did; a staged output is copied over the
// file. 0 on failure, reported, with the output left as it was.
[[nodiscard]] int CommitOutputFile();
// Drops a replacement that an edit in place made but did not need. 0 when
// it cannot be removed (said).
[[nodiscard]] int DropOutputFile();
// Undoes what was begun on the output (the temporary file removed) and lets
// go of it. Safe to call again. The descriptor written to is closed by the
// caller.
void DiscardOutputFile();
// From now on, a file edited in place that cannot be opened, read or
// written is said by the reason alone, the system's or the gzip stream's
// ("Permission denied", "not a valid gzip file (truncated)"), for a report
// that names the file already; off: by ppdedit's sentence that names it.
void SayReasonsAlone(bool on);
bool ReasonsAlone();
// Report that the output could not be made, or written (errno says why; 0:
// no reason known); return 0.
int OutputNotCreated();
int OutputWriteError();

#endif
