// Backups of the files that an edit in place replaces: the old file kept
// beside it, as its name followed by a suffix in place of any older backup,
// or under a number of its own.
#ifndef BACKUP_H
#define BACKUP_H

#include <sys/stat.h>

// How backups are made, as cp and mv make them: none; NAME followed by the
// suffix (simple); NAME.~N~, one more than the highest N there (numbered);
// numbered where the file has numbered backups already, else simple
// (existing).
enum { kBackupNone, kBackupSimple, kBackupNumbered, kBackupExisting };
// From now on, backups are made so.
void BackupControl(int control);
// Whether name is a backup's name: it ends in suffix, or in ".~N~".
bool IsBackupName(const char *name, const char *suffix);

// Whether the output's backup, g_base followed by suffix (or its number) in g_dir, can be
// made: its name fits, is no folder, and an older backup there is one that
// this process may replace. Said, naming name, when not.
int BackupPossible(const char *name, const char *suffix);
// Whether the file of status st has two links, its name and its backup's:
// what a run killed while it kept a backup leaves, and a replacement does
// not split.
bool IsOwnBackup(const char *suffix, const struct stat &st);

// Keeps the old file, open on old, as the output's backup before the new
// file takes its name: moves an older backup aside, to a hidden name, and
// links the old file under the backup's name. 0, said, when it cannot;
// nothing is then changed.
int KeepBackup(const char *name, const char *suffix, int old);
// Undoes KeepBackup when the new file could not take the name: the older
// backup takes its name again. Said when it cannot.
void UndoBackup(const char *name);
// Once the new file has taken the name: removes the older backup that was
// moved aside. 0, said, when it stays.
int DropOlderBackup(const char *name);

#endif
