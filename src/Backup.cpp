// Backups: a file edited in place that is replaced is kept beside it, as
// cp and mv keep one: a simple backup, its name followed by the suffix, in
// place of any older one; or a numbered one, NAME.~N~, one more than the
// highest there, which replaces none.
//
// At every instant the old file has its name or its backup's, so that no
// failure and no kill can leave it under a hidden name alone. The steps:
//
// 1. An older simple backup, NAME.SUFFIX, is moved aside to a hidden name
//    that says what it holds: ".NAME.SUFFIX.ppdedit-XXXXXX". A numbered
//    backup's name is free: nothing is moved.
// 2. The old file, from the descriptor it was read on, is linked as
//    NAME.SUFFIX.
// 3. The new file is renamed over NAME: the same rename as a run without
//    backups, which a file system such as ext4 flushes to the disk as it
//    does a file written over (an exchange of the two names would not be).
// 4. The older backup, aside, is removed.
//
// A failure before step 3 gives the older backup its name again. A kill
// between steps 2 and 3 leaves NAME with two links, NAME and NAME.SUFFIX,
// which a later run with the same suffix recognizes and replaces (or, with
// numbered backups, keeps as the file's newest); a kill after step 1 may
// leave the older backup under its hidden name.
#include "Backup.h"

#include "Folder.h"
#include "TempFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The backup's name in g_dir, and where the older backup was moved aside
// (g_moved) while the new file takes its place.
char g_backupName[NAME_MAX + 1];
char g_aside[NAME_MAX + 1];
bool g_moved;

// How backups are made, and whether the backup being made is numbered: its
// name is then free, and no older backup is moved aside.
int g_control = kBackupSimple;
bool g_numbered;
// Whether KeepBackup linked the old file under g_backupName, for UndoBackup
// to remove.
bool g_linked;

// The highest number a numbered backup is given: a name with a larger one,
// which no run of this program made, is passed over rather than followed
// past what a number holds.
constexpr long kNumberMax = 999999999;

// N when name is a numbered backup's, base followed by ".~N~"; -1 when it is
// shaped as one but its number is larger than any given; else 0.
long BackupNumber(const char *name, const char *base, std::size_t len)
{
	if (strncmp(name, base, len) != 0 || strncmp(name + len, ".~", 2) != 0)
		return 0;
	const char *digits = name + len + 2, *p = digits;
	long n = 0;
	for (; *p >= '0' && *p <= '9'; p++)
		n = n > kNumberMax ? n : n * 10 + (*p - '0');
	bool shaped = p > digits && *digits != '0' && p[0] == '~' && p[1] == '\0';
	return !shaped ? 0 : n > kNumberMax ? -1 : n;
}

// The highest N among g_base's numbered backups in g_dir: 0 when there is
// none, -1 when the folder cannot be read.
long HighestNumbered()
{
	int fd = openat(g_dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	DIR *d = fd >= 0 ? fdopendir(fd) : nullptr;
	if (!d) {
		if (fd >= 0)
			close(fd);
		return -1;
	}
	std::size_t len = strlen(g_base);
	long high = 0;
	errno = 0;
	while (dirent *e = readdir(d)) {
		long n = BackupNumber(e->d_name, g_base, len);
		high = n > high ? n : high;
	}
	bool read = errno == 0;
	closedir(d);
	return read ? high : -1;
}

// Writes the name of g_base's backup into backup: the newest one there
// (latest), or the next to make. False when the name does not fit, or the
// folder cannot be read for the numbers.
bool BackupName(const char *suffix, char *backup, bool latest = false)
{
	long high = g_control == kBackupSimple ? 0 : HighestNumbered();
	g_numbered = g_control == kBackupNumbered || (g_control == kBackupExisting && high > 0);
	int n = g_numbered ? snprintf(backup, NAME_MAX + 1, "%s.~%ld~", g_base, high + !latest)
	                   : snprintf(backup, NAME_MAX + 1, "%s%s", g_base, suffix);
	return high >= 0 && n >= 0 && n <= NAME_MAX;
}

// Moves an older backup aside, to a hidden name of its own. 1 when moved, 0
// when there is none, -1 when it cannot be.
int MoveAside()
{
	for (int tries = 0; tries < kTempTries; tries++) {
		HiddenName(g_backupName, g_aside);
		if (renameat2(g_dir, g_backupName, g_dir, g_aside, RENAME_NOREPLACE) == 0)
			return 1;
		if (errno == ENOENT)
			return 0;
		if (errno != EEXIST)
			return -1;
	}
	return -1;
}

// Links the file open on fd under the backup's name: the file that was read,
// whatever its name leads to now.
bool LinkOld(int fd)
{
	if (linkat(fd, "", g_dir, g_backupName, AT_EMPTY_PATH) == 0)
		return true;
	// AT_EMPTY_PATH needs a capability that only root has: /proc then.
	char path[32];
	snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
	return errno == ENOENT &&
	       linkat(AT_FDCWD, path, g_dir, g_backupName, AT_SYMLINK_FOLLOW) == 0;
}

// Gives the older backup its name again: over the link just made (linked),
// or into a name that must still be free. Without an older backup, the link
// is removed. Said when the older backup stays aside.
void PutBack(const char *name, bool linked)
{
	if (!g_moved) {
		if (linked)
			unlinkat(g_dir, g_backupName, 0);
		return;
	}
	g_moved = false;
	unsigned flags = linked ? 0 : RENAME_NOREPLACE;
	if (renameat2(g_dir, g_aside, g_dir, g_backupName, flags) != 0)
		printf("%s was left as it was, but its older backup is left as %s.\n", name,
		       g_aside);
}

// Says that the file named name gets no backup: the simple one under
// suffix, or a numbered one.
void SayNoBackup(const char *name, const char *suffix)
{
	if (g_numbered)
		printf("%s can not be given a numbered backup.\n", name);
	else
		printf("%s can not be backed up with the suffix %s.\n", name, suffix);
}

} // namespace

int BackupPossible(const char *name, const char *suffix)
{
	char backup[NAME_MAX + 1];
	struct stat dir, old;
	bool fits = BackupName(suffix, backup);
	bool none =
	        fits && fstatat(g_dir, backup, &old, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
	bool sticky = fstat(g_dir, &dir) == 0 && (dir.st_mode & S_ISVTX);
	uid_t me = geteuid();
	if (none || (fits && !S_ISDIR(old.st_mode) &&
	             (!sticky || me == 0 || old.st_uid == me || dir.st_uid == me)))
		return 1;
	SayNoBackup(name, suffix);
	return 0;
}

bool IsOwnBackup(const char *suffix, const struct stat &st)
{
	char backup[NAME_MAX + 1];
	struct stat other;
	return st.st_nlink == 2 && BackupName(suffix, backup, true) &&
	       fstatat(g_dir, backup, &other, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(other, st);
}

int KeepBackup(const char *name, const char *suffix, int old)
{
	g_linked = false;
	struct stat st;
	if (g_control != kBackupSimple && fstat(old, &st) == 0 && IsOwnBackup(suffix, st) &&
	    g_numbered)
		return 1; // kept already, by a run killed before its rename
	for (int tries = 0; tries < kTempTries; tries++) {
		int moved = BackupName(suffix, g_backupName) ? g_numbered ? 0 : MoveAside() : -1;
		g_moved = moved > 0;
		g_linked = moved >= 0 && LinkOld(old);
		if (g_linked)
			return 1;
		bool taken = g_numbered && errno == EEXIST; // by another run: the next one
		PutBack(name, false);
		if (!taken)
			break;
	}
	SayNoBackup(name, suffix);
	return 0;
}

void UndoBackup(const char *name)
{
	PutBack(name, g_linked);
}

int DropOlderBackup(const char *name)
{
	bool stays = g_moved && unlinkat(g_dir, g_aside, 0) != 0;
	g_moved = false;
	if (stays)
		printf("%s was replaced, but its older backup is left as %s.\n", name, g_aside);
	return !stays;
}

void BackupControl(int control)
{
	g_control = control;
}

bool IsBackupName(const char *name, const char *suffix)
{
	std::size_t n = strlen(name), s = strlen(suffix);
	const char *tilde = n > 0 && name[n - 1] == '~' ? strrchr(name, '.') : nullptr;
	bool numbered = tilde && tilde[1] == '~' &&
	                BackupNumber(name, name, static_cast<std::size_t>(tilde - name)) != 0;
	return numbered || (n > s && strcmp(name + n - s, suffix) == 0);
}
