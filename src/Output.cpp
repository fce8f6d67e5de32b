// The files that a run writes, and what undoes a run's work on them.
//
// A regular output with one link is written into a new temporary file in
// its folder, ".NAME.ppdedit-XXXXXX", given the output's mode, owner and
// group, and renamed over the output once every byte is written and the
// file closed without error. A reader, a second run, a failure and a signal
// thus see the old output or the new one, whole; only SIGKILL or a crash
// can leave the temporary file behind. Any other output (a FIFO, a device,
// a file with several links, or one whose owner, group or extended
// attributes a new file could not keep) is written in place: locked,
// emptied once claimed, emptied again on failure.
//
// The state lives in globals so that a signal handler can undo a run's work
// with async-signal-safe calls only.
#include "Output.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// The signals that end a run from outside: each first undoes the run's work
// on its output. SIGPIPE and SIGXFSZ are ignored instead: the write fails,
// and is reported.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU};
// What a temporary file's name holds after ".NAME": it says what made it.
constexpr char kTempInfix[] = ".ppdedit-";

// Why a file cannot be replaced by a new one.
enum Why { kReplaceable, kNotRegular, kLinks, kAttributes, kNoTemp, kOwner };

// The output's name as given, for messages; its status once opened.
const char *g_name;
struct stat g_st;
// Where the name leads: the name itself, or the real path of a symbolic
// link. The temporary file is renamed to it; a created output removed.
char g_target[PATH_MAX];
// The temporary file, removed by a failure or a signal while g_tempMade.
char g_temp[PATH_MAX];
volatile sig_atomic_t g_tempMade;
// An output created by this run: removed by a failure or a signal while
// set, when g_target still leads to it.
volatile sig_atomic_t g_created;
// An output written in place: emptied by a failure or a signal through this
// second descriptor, which holds the lock until the end.
volatile sig_atomic_t g_emptyFd = -1;
// The input that an edit in place replaces.
int g_inputFd = -1;
bool g_sync;

bool SameFile(const struct stat &a, const struct stat &b)
{
	return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes the output that this run created, if its name still leads to it.
// Async-signal-safe.
void RemoveCreated()
{
	struct stat st;
	if (g_created && stat(g_target, &st) == 0 && SameFile(st, g_st))
		unlink(g_target);
	g_created = 0;
}

// Undoes the run's work on its output. Async-signal-safe.
void Undo()
{
	if (g_tempMade)
		unlink(g_temp);
	g_tempMade = 0;
	if (g_emptyFd >= 0) {
		int rc = ftruncate(g_emptyFd, 0);
		(void)rc;
	}
	RemoveCreated();
}

// Undoes the run's work on its output, then ends the run by the same
// signal, so that its caller sees it was interrupted. Async-signal-safe.
void EndBySignal(int sig)
{
	Undo();
	signal(sig, SIG_DFL);
	raise(sig);
}

// Makes descriptors 0, 1 and 2 open, on /dev/null when they were closed:
// else the files of the run could land on them, and a message in a file.
void OpenStandardDescriptors()
{
	for (int fd = 0; fd <= 2; fd++) {
		if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
			continue;
		if (open("/dev/null", O_RDWR) != fd)
			_exit(127);
	}
}

// A signal that the caller ignores (nohup, a background job) stays ignored.
void SetSignalActions()
{
	signal(SIGPIPE, SIG_IGN);
	signal(SIGXFSZ, SIG_IGN);
	struct sigaction sa = {};
	sa.sa_handler = EndBySignal;
	sigfillset(&sa.sa_mask);
	for (int sig : kEndingSignals) {
		struct sigaction old;
		if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
			sigaction(sig, &sa, nullptr);
	}
}

// Holds off the ending signals while the state that undoes a step is not
// yet set, so that no signal can come between the step and its record.
void HoldSignals(bool hold, sigset_t *saved)
{
	if (!hold) {
		sigprocmask(SIG_SETMASK, saved, nullptr);
		return;
	}
	sigset_t set;
	sigemptyset(&set);
	for (int sig : kEndingSignals)
		sigaddset(&set, sig);
	sigprocmask(SIG_BLOCK, &set, saved);
}

// Opens path for writing, creating it when missing; *created says whether
// this call made it.
int OpenOrCreate(const char *path, bool *created)
{
	*created = false;
	int fd = open(path, O_WRONLY | O_CLOEXEC);
	if (fd >= 0 || errno != ENOENT)
		return fd;
	fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
	*created = fd >= 0;
	if (fd >= 0 || errno != EEXIST)
		return fd;
	// Made meanwhile, or a symbolic link to a missing file, which O_EXCL
	// refuses: opened as today's open would.
	return open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
}

// Finds where the output's name leads (g_target), and checks that it is the
// file opened (g_st). 0 when that cannot be told.
int FindTarget(const char *path)
{
	struct stat at;
	if (lstat(path, &at) != 0)
		return 0;
	if (S_ISLNK(at.st_mode)) {
		if (!realpath(path, g_target) || stat(g_target, &at) != 0)
			return 0;
	} else if (strlen(path) < sizeof g_target) {
		strcpy(g_target, path);
	} else {
		return 0;
	}
	return SameFile(at, g_st);
}

bool HasAttributes(int fd)
{
	return flistxattr(fd, nullptr, 0) > 0;
}

// Why the opened file (g_st, on fd) cannot be replaced, found without
// making anything; found says whether FindTarget found where it stands.
Why FirstObstacle(int fd, bool found)
{
	if (!S_ISREG(g_st.st_mode))
		return kNotRegular;
	if (g_st.st_nlink != 1)
		return kLinks;
	if (HasAttributes(fd))
		return kAttributes;
	return found ? kReplaceable : kNoTemp;
}

// The length of the folder part that g_target starts with, its last slash
// included; 0 for a file of the working folder.
int FolderLength()
{
	const char *slash = strrchr(g_target, '/');
	return slash ? static_cast<int>(slash - g_target) + 1 : 0;
}

// Writes the folder of g_target into g_temp ("." for the working folder).
// False when it does not fit.
bool FolderInTemp()
{
	int dir = FolderLength();
	int n = snprintf(g_temp, sizeof g_temp, "%.*s", dir ? dir : 1, dir ? g_target : ".");
	return n > 0 && static_cast<std::size_t>(n) < sizeof g_temp;
}

// Makes the temporary file beside g_target, recorded so that a failure or
// a signal removes it. -1 when it cannot be made.
int MakeTemp()
{
	int dir = FolderLength();
	int n = snprintf(g_temp, sizeof g_temp, "%.*s.%s%sXXXXXX", dir, g_target, g_target + dir,
	                 kTempInfix);
	if (n < 0 || static_cast<std::size_t>(n) >= sizeof g_temp)
		return -1;
	sigset_t saved;
	HoldSignals(true, &saved);
	int fd = mkostemp(g_temp, O_CLOEXEC);
	g_tempMade = fd >= 0;
	HoldSignals(false, &saved);
	return fd;
}

// Gives the temporary file the output's owner, group and mode, and checks
// that it carries nothing more, such as a folder's default ACL.
Why DressTemp(int fd)
{
	if (fchown(fd, g_st.st_uid, g_st.st_gid) != 0)
		return kOwner;
	if (fchmod(fd, g_st.st_mode & 07777) != 0 || HasAttributes(fd))
		return kAttributes;
	return kReplaceable;
}

// Makes the file that will replace the opened one (g_st, on fd), where
// FindTarget found it stands: its descriptor in *temp, or why it cannot be
// made.
Why StartTemp(int fd, bool found, int *temp)
{
	Why why = FirstObstacle(fd, found);
	if (why != kReplaceable)
		return why;
	*temp = MakeTemp();
	if (*temp < 0)
		return kNoTemp;
	why = DressTemp(*temp);
	if (why == kReplaceable)
		return why;
	close(*temp);
	unlink(g_temp);
	g_tempMade = 0;
	return why;
}

// Says why a file to be edited in place cannot be replaced.
void SayWhy(Why why)
{
	if (why == kNotRegular)
		printf("%s is not a regular file.\n", g_name);
	else if (why == kLinks)
		printf("%s has %ju hard links, which a new file would split.\n", g_name,
		       static_cast<std::uintmax_t>(g_st.st_nlink));
	else if (why == kAttributes)
		printf("%s has extended attributes that a new file would not keep.\n", g_name);
	else if (why == kOwner)
		printf("%s has an owner or group that a new file can not be given.\n", g_name);
	else
		printf("%s can not be replaced: no file can be made beside it.\n", g_name);
}

// Waits for any other run that writes the same output in place to finish,
// so that two runs never interleave. A file system without locks still
// gets its output.
void Lock(int fd)
{
	while (flock(fd, LOCK_EX) != 0 && errno == EINTR)
		;
}

int NotCreated()
{
	OutputNotCreated();
	return -1;
}

// Claims an output that is written in place: a regular file is locked, then
// emptied, and a second descriptor is kept to empty it again after a
// failure. An empty output is not truncated: on ext4 a truncation to zero
// makes the close flush the file.
int ClaimInPlace(int fd)
{
	if (!S_ISREG(g_st.st_mode))
		return fd;
	Lock(fd);
	struct stat now;
	int keep = fcntl(fd, F_DUPFD_CLOEXEC, 3);
	if (keep < 0 || fstat(fd, &now) != 0 || (now.st_size > 0 && ftruncate(fd, 0) != 0)) {
		if (keep >= 0)
			close(keep);
		close(fd);
		return NotCreated();
	}
	g_emptyFd = keep;
	return fd;
}

// Refuses an output that is a file being read, under whatever name it was
// opened (a link, /dev/fd/N, /proc/self/fd/N), or the file, FIFO, pipe or
// socket that standard output writes to: writing it would destroy what is
// being read, or mix the report into the output. A terminal or /dev/null
// as both is fine.
int CheckDistinct(const struct stat &in, const struct stat &para)
{
	struct stat out;
	bool stdoutFile = S_ISREG(g_st.st_mode) || S_ISFIFO(g_st.st_mode) || S_ISSOCK(g_st.st_mode);
	bool toStdout = stdoutFile && fstat(1, &out) == 0 && SameFile(out, g_st);
	if (!SameFile(g_st, in) && !SameFile(g_st, para) && !toStdout)
		return 1;
	printf("[ERROR] %s can not be both read and written.\n", g_name);
	return 0;
}

void Reset()
{
	g_tempMade = 0;
	g_created = 0;
	g_emptyFd = -1;
	g_inputFd = -1;
}

} // namespace

void PrepareProcess()
{
	static bool prepared;
	if (prepared)
		return;
	prepared = true;
	OpenStandardDescriptors();
	SetSignalActions();
}

int OpenOutputFile(const char *path, const struct stat &in, const struct stat &para)
{
	Reset();
	g_name = path;
	bool created;
	int fd = OpenOrCreate(path, &created);
	if (fd < 0)
		return NotCreated();
	if (fstat(fd, &g_st) != 0) {
		close(fd);
		return NotCreated();
	}
	// An output that this run created is removed again by a failure or a
	// signal, once it is known where it stands.
	bool found = FindTarget(path);
	g_created = created && found;
	if (!CheckDistinct(in, para)) {
		close(fd);
		Undo();
		return -1;
	}
	int temp;
	if (StartTemp(fd, found, &temp) != kReplaceable)
		return ClaimInPlace(fd);
	close(fd);
	return temp;
}

int OpenFileToReplace(const char *path)
{
	for (;;) {
		int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
		if (fd < 0)
			return -1;
		struct stat opened, named;
		if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
			close(fd);
			printf("%s is not a regular file.\n", path);
			return -2;
		}
		// Another edit may have replaced the file while this one waited.
		Lock(fd);
		if (stat(path, &named) == 0 && SameFile(named, opened))
			return fd;
		close(fd);
	}
}

int ReplaceLater(int fd, const char *path, const struct stat &in, const struct stat &para)
{
	Reset();
	g_name = path;
	g_st = in;
	g_inputFd = fd;
	if (!SameFile(in, para))
		return 1;
	printf("[ERROR] %s can not be both read and written.\n", path);
	return 0;
}

namespace {

// Whether this process may give a new file the owner and group of st.
bool MayGiveOwner(const struct stat &st)
{
	static gid_t groups[NGROUPS_MAX];
	uid_t uid = geteuid();
	if (uid == 0 || (st.st_uid == uid && st.st_gid == getegid()))
		return true;
	int n = st.st_uid == uid ? getgroups(static_cast<int>(std::size(groups)), groups) : 0;
	return std::find(groups, groups + std::max(n, 0), st.st_gid) != groups + std::max(n, 0);
}

// Whether a file can be made in the folder of g_target.
bool FolderWritable()
{
	return FolderInTemp() && faccessat(AT_FDCWD, g_temp, W_OK | X_OK, AT_EACCESS) == 0;
}

} // namespace

int CheckReplaceable()
{
	Why why = FirstObstacle(g_inputFd, FindTarget(g_name));
	if (why == kReplaceable && !FolderWritable())
		why = kNoTemp;
	if (why == kReplaceable && !MayGiveOwner(g_st))
		why = kOwner;
	if (why != kReplaceable)
		SayWhy(why);
	return why == kReplaceable;
}

int OpenReplacement(bool say)
{
	int temp = -1;
	Why why = StartTemp(g_inputFd, FindTarget(g_name), &temp);
	if (why == kReplaceable)
		return temp;
	if (say)
		SayWhy(why);
	return -1;
}

void SyncOutput(bool sync)
{
	g_sync = sync;
}

int SyncOutputFile(int fd)
{
	return !g_sync || fsync(fd) == 0;
}

namespace {

// Flushes the folder of g_target to the disk, so that the rename survives a
// power cut.
int SyncFolder()
{
	int fd = FolderInTemp() ? open(g_temp, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
	bool ok = fd >= 0 && fsync(fd) == 0;
	if (fd >= 0)
		close(fd);
	return ok;
}

} // namespace

int CommitOutputFile()
{
	// Renamed over an existing file, the new one is flushed to the disk
	// first (ext4's guard for programs that rename without fsync), which
	// costs more than writing it. An output that this run created is empty
	// and its own: removed first, a new output pays no such flush.
	if (g_tempMade)
		RemoveCreated();
	if (g_tempMade && rename(g_temp, g_target) != 0) {
		DiscardOutputFile();
		return OutputWriteError();
	}
	bool renamed = g_tempMade;
	g_tempMade = 0;
	g_created = 0;
	if (g_emptyFd >= 0)
		close(g_emptyFd);
	g_emptyFd = -1;
	if (renamed && g_sync && !SyncFolder())
		return OutputWriteError();
	return 1;
}

void DiscardOutputFile()
{
	Undo();
	if (g_emptyFd >= 0)
		close(g_emptyFd);
	g_emptyFd = -1;
}

int OutputNotCreated()
{
	printf("[ERROR] %s don't created.\n", g_name);
	return 0;
}

int OutputWriteError()
{
	printf("[ERROR] %s can not write.\n", g_name);
	return 0;
}
