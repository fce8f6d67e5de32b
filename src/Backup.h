// Backups of the files that an edit in place replaces: the old file kept as
// its name followed by a suffix, beside it.
#ifndef BACKUP_H
#define BACKUP_H

#include <sys/stat.h>

// Whether the output's backup, g_base followed by suffix in g_dir, can be
// made: its name fits, is no folder, and an older backup there is one that
// this process may replace. Said, naming name, when not.
int BackupPossible(const char *name, const char *suffix);

// What became of an exchange with the backup.
enum Exchanged { kBackedUp, kNotExchanged, kSaid, kNotRead };
// Puts g_temp in the output's place and keeps the old file, of status st, as
// its backup: the two files are exchanged at once, the old one is checked to
// be the file read, and renamed over any older backup. Else they are
// exchanged back. So the name never lacks a file, and the old file is never
// lost, nor is an older backup but for a new one. kBackedUp; kNotExchanged
// when nothing changed; kSaid, said; kNotRead when the file
// exchanged out was not the one read, and is back in place.
Exchanged ExchangeWithBackup(const char *name, const char *suffix, const struct stat &st);

#endif
