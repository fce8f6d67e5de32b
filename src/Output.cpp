// The files that a run writes, and what undoes a run's work on them: the
// door that the I/O layer goes through. It chooses how each output is
// written and puts it in place; the steps live beside it, each in a file
// of its own: finding the folder (Folder.cpp), the hidden file
// (TempFile.cpp), the stage (Staging.cpp), the lock (Lock.cpp), attributes
// and mode (Attributes.cpp), backups (Backup.cpp), and the signals and
// standard descriptors (Signals.cpp).
//
// A new output, and a regular output with one link, are written into a new
// temporary file in the output's folder, ".NAME.ppdedit-XXXXXX". Once every
// byte is written it gets the old file's owner, group, extended attributes
// and mode, and takes the name by rename, if the name still leads to the old
// file (a new output: if it is still free). A reader, a second run, a
// failure and a signal thus see the old output or the new one, whole, or no
// output at all; only SIGKILL or a crash can leave the temporary file
// behind.
//
// A regular output that must keep its inode (several links, no room for a
// temporary file, attributes that a new file could not be given) is written
// into a stage, locked, and copied over the file only once the edit is
// whole. FIFOs and devices are written directly.
#include "Output.h"

#include "Attributes.h"
#include "Backup.h"
#include "Folder.h"
#include "Lock.h"
#include "Signals.h"
#include "Staging.h"
#include "TempFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Tries at opening a name that keeps being replaced meanwhile.
constexpr int kMaxTries = 8;

// How the output is written: a new file renamed into a free name, a new file
// renamed over the old one, a stage copied over the old one, or the file
// itself.
enum Kind { kNone, kNew, kReplace, kStaged, kStream };

// The output's name as given, for messages; the status of the file it
// leads to.
const char *g_name;
struct stat g_st;
// The suffix of the backups of replaced files, or null for none.
const char *g_backup;
// A folder that a walk opened, and the name in it of the next file to edit
// in place: found there without following links. -1 when not walking.
int g_findDir = -1;
const char *g_findName;
// The file being replaced or written over: its attributes are copied, and a
// staged output is copied over it. For an edit in place it is the input,
// which the caller closes.
int g_oldFd = -1;
int g_inputFd = -1;
// A second descriptor of the temporary file or the stage, which the writer
// closes: it is dressed, or copied over the old file, once that close has
// succeeded.
int g_keptFd = -1;
Kind g_kind;
bool g_sync;
// The longest wait for another program's lock, in seconds.
int g_wait = kLockWait;
// Whether a failure is said by its reason alone.
bool g_reasonsAlone;

// Lets go of the output: its folder, and the old file unless the caller
// owns it.
void Release()
{
	if (g_oldFd != g_inputFd)
		CloseFd(&g_oldFd);
	g_oldFd = g_inputFd = -1;
	CloseFd(&g_keptFd);
	CloseFd(&g_dir);
	g_kind = kNone;
}

void Reset()
{
	UndoHidden();
	Release();
	ReleaseSignals();
}

// Says why a file to be edited in place cannot be replaced.
void SayWhy(Why why)
{
	if (why == kLinks)
		printf("%s has %ju hard links, which a new file would split.\n", g_name,
		       static_cast<std::uintmax_t>(g_st.st_nlink));
	else if (why == kAttributes)
		printf("%s has extended attributes that a new file would not keep.\n", g_name);
	else if (why == kOwner)
		printf("%s has an owner or group that a new file can not be given.\n", g_name);
	else
		printf("%s can not be replaced: no file can be made beside it.\n", g_name);
}

int NotCreated()
{
	Reset();
	OutputNotCreated();
	return -1;
}

// Whether the output is none of the files being read, under whatever name
// it was opened (a link, /dev/fd/N, /proc/self/fd/N), nor the file, FIFO,
// pipe or socket that standard output writes to: writing it would destroy
// what is being read, or mix the report into the output. A terminal or
// /dev/null as both is fine.
bool Distinct(const struct stat &in, const struct stat &para)
{
	struct stat out;
	bool stdoutFile = S_ISREG(g_st.st_mode) || S_ISFIFO(g_st.st_mode) || S_ISSOCK(g_st.st_mode);
	bool toStdout = stdoutFile && fstat(1, &out) == 0 && SameFile(out, g_st);
	return !SameFile(g_st, in) && !SameFile(g_st, para) && !toStdout;
}

// Refuses an output that Distinct refuses.
int CheckDistinct(const struct stat &in, const struct stat &para)
{
	if (Distinct(in, para))
		return 1;
	printf("[ERROR] %s can not be both read and written.\n", g_name);
	return 0;
}

// Keeps a second descriptor of the file that the writer is given, and
// returns the first; -1 when there is none to spare.
int Keep(int fd)
{
	if (fd < 0)
		return -1;
	g_keptFd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
	if (g_keptFd >= 0)
		return fd;
	close(fd);
	return -1;
}

// A new output: a temporary file made as the name itself would be, so that
// it fails where opening the name would (a folder missing or not writable,
// no free inode), and takes the umask and a default ACL alike.
int StartNew()
{
	int temp = MakeTemp(0666);
	if (temp < 0)
		return NotCreated();
	g_kind = kNew;
	return temp;
}

// A regular output that keeps its inode: locked, so that a second run waits
// for this one, and written into a stage that is copied over it at the end.
int Stage(int fd)
{
	g_oldFd = fd;
	g_kind = kStaged;
	if (!Lock(fd, g_wait))
		return NotCreated();
	int stage = Keep(MakeStage());
	return stage >= 0 ? stage : NotCreated();
}

// Chooses how the opened output (fd, found as found) is written.
int StartExisting(int fd, Found found)
{
	if (!S_ISREG(g_st.st_mode)) {
		g_kind = kStream;
		return fd;
	}
	if (found == kEntry && g_st.st_nlink == 1) {
		int temp = MakeTemp(0600);
		if (temp >= 0) {
			g_oldFd = fd;
			g_kind = kReplace;
			return Keep(temp) >= 0 ? temp : NotCreated();
		}
	}
	return Stage(fd);
}

// Opens the regular file with one link that Locate found (seen) and makes
// its replacement, as StartExisting does, but only when that file is no
// file being read. -1, nothing said, when it cannot be.
int ReplaceQuietly(const struct stat &seen, const struct stat &in, const struct stat &para)
{
	int fd = OpenFound(kEntry, seen, O_WRONLY | O_NOCTTY, &g_st);
	if (fd < 0)
		return -1;
	if (g_st.st_nlink != 1 || !Distinct(in, para)) {
		close(fd);
		return -1;
	}
	g_oldFd = fd;
	g_kind = kReplace;
	return Keep(MakeTemp(0600));
}

} // namespace

bool SameVersion(const struct stat &a, const struct stat &b)
{
	return SameFile(a, b) && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
	       a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
	       a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

int OpenOutputFile(const char *path, const struct stat &in, const struct stat &para)
{
	Reset();
	g_name = path;
	for (int tries = 0; tries < kMaxTries; tries++) {
		struct stat seen;
		Found found = Locate(path, &seen);
		if (found == kGone || found == kRefused)
			return NotCreated();
		if (found == kAbsent)
			return StartNew();
		int fd = OpenFound(found, seen, O_WRONLY | O_NOCTTY, &g_st);
		if (fd == -1)
			return NotCreated();
		if (fd == -2)
			continue;
		if (!CheckDistinct(in, para)) {
			close(fd);
			Reset();
			return -1;
		}
		return StartExisting(fd, found);
	}
	return NotCreated();
}

int OpenRenamedOutputFile(const char *path, const struct stat &in, const struct stat &para)
{
	Reset();
	g_name = path;
	struct stat seen;
	Found found = Locate(path, &seen);
	int fd = -1;
	if (found == kAbsent && (fd = MakeTemp(0666)) >= 0)
		g_kind = kNew;
	else if (found == kEntry && S_ISREG(seen.st_mode) && seen.st_nlink == 1)
		fd = ReplaceQuietly(seen, in, para);
	if (fd < 0)
		Reset();
	return fd;
}

void WaitForLocks(int seconds)
{
	g_wait = seconds;
}

void BackupAs(const char *suffix, int control)
{
	g_backup = control == kBackupNone ? nullptr : suffix;
	BackupControl(control);
}

void FindIn(int folder, const char *name)
{
	g_findDir = folder;
	g_findName = name;
}

int OpenFolderToWalk(const char *path)
{
	struct stat st;
	Found found = Locate(path, &st);
	int fd = -2;
	int follow = found == kEntry ? O_NOFOLLOW : 0;
	if ((found == kEntry || found == kMagic) && S_ISDIR(st.st_mode))
		fd = openat(g_dir, g_base, O_RDONLY | O_DIRECTORY | O_CLOEXEC | follow);
	CloseFd(&g_dir);
	return fd;
}

namespace {

// Lets go of a file to be edited in place that cannot be: -1 with errno
// kept (not said), or -2 once said.
int Refuse(int rc)
{
	int e = errno;
	Reset();
	errno = e;
	return rc;
}

// Looks at a file to be edited in place, then opens it when it is a
// regular file, locked; -2 once said why it is refused, -1 when it cannot
// be opened, -3 when its name changed meanwhile.
int OpenToReplace(const char *path)
{
	struct stat seen;
	Found found = g_findDir >= 0 ? LocateIn(g_findDir, g_findName, &seen) : Locate(path, &seen);
	if (found == kRefused) {
		printf("%s is a link that another user made to a file that is not theirs.\n", path);
		return -2;
	}
	if (found == kGone || found == kAbsent) {
		errno = found == kAbsent ? ENOENT : errno;
		return -1;
	}
	// A link of /proc is followed by the kernel alone, at the open, where
	// it may lead elsewhere than it did; nor could its file be replaced.
	if (found == kMagic || !S_ISREG(seen.st_mode)) {
		if (found == kMagic)
			SayWhy(kNoTemp);
		else if (S_ISDIR(seen.st_mode))
			printf("%s is not a regular file (use -r to edit the PPDs under it).\n",
			       path);
		else
			printf("%s is not a regular file.\n", path);
		return -2;
	}
	int fd = OpenFound(found, seen, O_RDONLY | O_NONBLOCK | O_NOCTTY, &g_st);
	if (fd < 0)
		return fd == -2 ? -3 : -1;
	if (!Lock(fd, g_wait)) {
		close(fd);
		printf("%s is locked by another program.\n", path);
		return -2;
	}
	// Another edit may have replaced the file while this one waited.
	struct stat named;
	if (fstatat(g_dir, g_base, &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(named, g_st))
		return fd;
	close(fd);
	return -3;
}

} // namespace

int OpenFileToReplace(const char *path)
{
	Reset();
	g_name = path;
	for (int tries = 0; tries < kMaxTries; tries++) {
		int fd = OpenToReplace(path);
		if (fd != -3)
			return fd >= 0 ? fd : Refuse(fd);
	}
	Reset();
	printf("%s was replaced again and again while it was being opened.\n", path);
	return -2;
}

int ReplaceLater(int fd, const char *path, const struct stat &in, const struct stat &para)
{
	g_name = path;
	g_st = in;
	g_oldFd = g_inputFd = fd;
	g_kind = kReplace;
	struct stat out;
	bool toStdout = fstat(1, &out) == 0 && SameFile(out, in);
	if (!SameFile(in, para) && !toStdout)
		return 1;
	printf("[ERROR] %s can not be both read and written.\n", path);
	return 0;
}

int OpenReplacement(bool say)
{
	bool split = g_st.st_nlink != 1 && !(g_backup && IsOwnBackup(g_backup, g_st));
	Why why = split ? kLinks : kReplaceable;
	int temp = why == kReplaceable ? Keep(MakeTemp(0600)) : -1;
	if (temp < 0 && why == kReplaceable) {
		UndoHidden(); // made, but no second descriptor to spare
		why = kNoTemp;
	}
	if (temp < 0 && say)
		SayWhy(why);
	return temp;
}

int CheckReplaceable()
{
	int temp = OpenReplacement(true);
	if (temp < 0)
		return 0;
	Why why = Dress(temp, g_oldFd, g_st);
	close(temp);
	CloseFd(&g_keptFd);
	if (!RemoveTemp(g_name))
		return 0;
	if (why != kReplaceable)
		SayWhy(why);
	return why == kReplaceable && (!g_backup || BackupPossible(g_name, g_backup));
}

void SyncOutput(bool sync)
{
	g_sync = sync;
}

namespace {

// Copies a whole staged output (on from) over the old file, under its lock.
int CopyStage(int from)
{
	return CopyOver(from, g_oldFd) || OutputWriteError();
}

// A replacement that cannot be given what the old file has, ppdedit copies
// over the old file instead, as it would have staged it.
int StageInstead()
{
	int ok = Lock(g_oldFd, g_wait) ? CopyStage(g_keptFd) : OutputWriteError();
	return RemoveTemp(g_name) && ok;
}

// Flushes the output's folder to the disk, so that the rename survives a
// power cut.
int SyncFolder()
{
	int fd = openat(g_dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	bool ok = fd >= 0 && fsync(fd) == 0;
	if (fd >= 0)
		close(fd);
	return ok;
}

// Whether the name still leads to the file that the run replaces, and, for
// an edit in place, that file is still as it was read. Says why not.
int StillThere()
{
	struct stat now;
	if (g_inputFd >= 0 && (fstat(g_inputFd, &now) != 0 || !SameVersion(now, g_st))) {
		printf("%s changed while it was being edited.\n", g_name);
		return 0;
	}
	if (fstatat(g_dir, g_base, &now, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(now, g_st))
		return 1;
	if (g_inputFd >= 0)
		printf("%s was replaced by another file while it was being edited.\n", g_name);
	else
		OutputWriteError();
	return 0;
}

// Renames the temporary file to a name that must still be free: a file that
// appeared there meanwhile is another program's, and stays.
int RenameToFree()
{
	if (renameat2(g_dir, g_temp, g_dir, g_base, RENAME_NOREPLACE) == 0)
		return 1;
	struct stat st;
	if (errno != EINVAL || fstatat(g_dir, g_base, &st, AT_SYMLINK_NOFOLLOW) == 0 ||
	    errno != ENOENT)
		return 0;
	return renameat(g_dir, g_temp, g_dir, g_base) == 0;
}

// Gives the replacement what the old file has, or says why it cannot be:
// an edit in place then fails; ppdedit stages the output instead.
int Dressed()
{
	Why why = Dress(g_keptFd, g_oldFd, g_st);
	if (why == kReplaceable)
		return 1;
	if (g_inputFd >= 0)
		SayWhy(why);
	else if (StageInstead())
		g_kind = kStaged;
	return 0;
}

// Puts the temporary file in the output's place, the old file kept as its
// backup when asked. From there on the ending signals wait until the run
// has said so (ReleaseSignals). 0 on failure, said.
int Rename()
{
	bool backup = g_backup && g_kind == kReplace;
	if (g_kind != kNew && (!StillThere() || (backup && !BackupPossible(g_name, g_backup))))
		return 0;
	HoldForCommit();
	if (backup && !KeepBackup(g_name, g_backup, g_oldFd)) {
		ReleaseSignals();
		return 0;
	}
	bool moved = g_kind == kNew ? RenameToFree() : renameat(g_dir, g_temp, g_dir, g_base) == 0;
	if (!moved) {
		if (backup)
			UndoBackup(g_name);
		ReleaseSignals();
		return OutputWriteError();
	}
	ForgetHidden();
	int ok = !backup || DropOlderBackup(g_name);
	if (!g_sync || SyncFolder())
		return ok;
	printf("%s was replaced, but can not be flushed to the disk.\n", g_name);
	return 0;
}

} // namespace

int CommitOutputFile()
{
	int ok = 1;
	if (g_kind == kStaged)
		ok = CopyStage(g_keptFd);
	else if (g_kind == kReplace)
		ok = (Dressed() && (!g_sync || fsync(g_keptFd) == 0 || OutputWriteError()) &&
		      Rename()) ||
		     g_kind == kStaged;
	else if (g_kind == kNew)
		ok = Rename();
	DiscardOutputFile();
	return ok;
}

int DropOutputFile()
{
	CloseFd(&g_keptFd);
	int ok = RemoveTemp(g_name);
	DiscardOutputFile();
	return ok;
}

void DiscardOutputFile()
{
	UndoHidden();
	Release();
}

int OutputNotCreated()
{
	printf("[ERROR] %s don't created.\n", g_name);
	return 0;
}

int OutputWriteError()
{
	int err = errno;
	if (g_reasonsAlone && err != 0)
		printf("%s\n", strerror(err));
	else
		printf("[ERROR] %s can not write.\n", g_name);
	return 0;
}

void SayReasonsAlone(bool on)
{
	g_reasonsAlone = on;
}

bool ReasonsAlone()
{
	return g_reasonsAlone;
}
