// Backups: with a suffix given, a file edited in place that is replaced is
// kept as its name followed by the suffix, beside it, in place of any older
// backup.
#include "Backup.h"

#include "Folder.h"
#include "Signals.h"
#include "TempFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

int BackupPossible(const char *name, const char *suffix)
{
	char backup[NAME_MAX + 1];
	int n = snprintf(backup, sizeof backup, "%s%s", g_base, suffix);
	struct stat dir, old;
	bool fits = n >= 0 && static_cast<std::size_t>(n) < sizeof backup;
	bool none =
	        fits && fstatat(g_dir, backup, &old, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
	bool sticky = fstat(g_dir, &dir) == 0 && (dir.st_mode & S_ISVTX);
	uid_t me = geteuid();
	if (none || (fits && !S_ISDIR(old.st_mode) &&
	             (!sticky || me == 0 || old.st_uid == me || dir.st_uid == me)))
		return 1;
	printf("%s can not be backed up with the suffix %s.\n", name, suffix);
	return 0;
}

Exchanged ExchangeWithBackup(const char *name, const char *suffix, const struct stat &st)
{
	char backup[NAME_MAX + 1];
	snprintf(backup, sizeof backup, "%s%s", g_base, suffix);
	if (renameat2(g_dir, g_temp, g_dir, g_base, RENAME_EXCHANGE) != 0)
		return kNotExchanged;
	struct stat out;
	bool read = fstatat(g_dir, g_temp, &out, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(out, st);
	if (read && renameat(g_dir, g_temp, g_dir, backup) == 0) {
		ForgetHidden();
		return kBackedUp;
	}
	if (renameat2(g_dir, g_temp, g_dir, g_base, RENAME_EXCHANGE) != 0) {
		// The new file stays in place; the old one is kept where it is.
		ForgetHidden();
		printf("%s was replaced, but its old file is left as %s.\n", name, g_temp);
		return kSaid;
	}
	if (!read)
		return kNotRead;
	printf("%s can not be backed up with the suffix %s.\n", name, suffix);
	return kSaid;
}
