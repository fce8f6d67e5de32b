// The files that a run writes, and what undoes a run's work on them.
//
// The output's name is followed once, symbolic links included, to the folder
// that holds the file; that folder is opened once, and every later step
// (opening the file, making the temporary file, checking the name again,
// renaming, removing) goes through its descriptor. Swapping a folder of the
// path for a link during the run then cannot send a step elsewhere.
//
// A new output, and a regular output with one link, are written into a new
// temporary file in that folder, ".NAME.ppdedit-XXXXXX". Once every byte is
// written it gets the old file's owner, group, extended attributes and mode,
// and takes the name by rename, if the name still leads to the old file (a
// new output: if it is still free). A reader, a second run, a failure and a
// signal thus see the old output or the new one, whole, or no output at all;
// only SIGKILL or a crash can leave the temporary file behind.
//
// A regular output that must keep its inode (several links, no room for a
// temporary file, attributes that a new file could not be given) is written
// into a stage, locked, and copied over the file only once the edit is
// whole. FIFOs and devices are written directly.
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
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/sendfile.h>
#include <sys/vfs.h>
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
constexpr int kTempRandom = 6;
// The part of the output's name that a temporary file's name repeats, so
// that the whole fits in a name: ".", the part, the infix, the random part.
constexpr std::size_t kTempNamePart = NAME_MAX - 1 - (sizeof kTempInfix - 1) - kTempRandom;
// Symbolic links followed to the last part of a name, as the kernel does.
constexpr int kMaxLinks = 40;
// Tries at opening a name that keeps being replaced meanwhile.
constexpr int kMaxTries = 8;
// The attribute that every write to a file removes, as setuid bits are.
constexpr char kCapability[] = "security.capability";

// Why a file cannot be replaced by a new one.
enum Why { kReplaceable, kLinks, kAttributes, kNoTemp, kOwner };

// What Locate finds at the end of a name.
enum Found { kGone = -1, kAbsent, kEntry, kMagic };
// How the output is written: a new file renamed into a free name, a new file
// renamed over the old one, a stage copied over the old one, or the file
// itself.
enum Kind { kNone, kNew, kReplace, kStaged, kStream };

// The output's name as given, for messages; the status of the file it
// leads to.
const char *g_name;
struct stat g_st;
// The folder that holds the output, opened once, and the output's name in it.
int g_dir = -1;
char g_base[NAME_MAX + 1];
// The temporary file's name in g_dir, removed by a failure or a signal while
// g_tempMade.
char g_temp[NAME_MAX + 1];
volatile sig_atomic_t g_tempMade;
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

bool SameFile(const struct stat &a, const struct stat &b)
{
	return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Undoes the run's work on its output. Async-signal-safe.
void Undo()
{
	if (g_tempMade)
		unlinkat(g_dir, g_temp, 0);
	g_tempMade = 0;
}

// Removes the temporary file outside a signal handler. 0 when it stays,
// said: an edit in place must not end well and leave it.
int RemoveTemp()
{
	int rc = 0;
	while (g_tempMade && (rc = unlinkat(g_dir, g_temp, 0)) != 0 && errno == EINTR)
		;
	bool stays = g_tempMade && rc != 0 && errno != ENOENT;
	g_tempMade = 0;
	if (stays)
		printf("%s was left as it was, but the hidden file %s beside it can not be "
		       "removed.\n",
		       g_name, g_temp);
	return !stays;
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

// Holds off the ending signals while a step and its record must go
// together, or a step must not be cut short.
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

// The ending signals held from a commit on, and the mask before.
sigset_t g_unheld;
bool g_held;

// Holds off the ending signals from the moment the output is put in place
// until the run has reported it: a signal then ends the run after.
void HoldForCommit()
{
	if (!g_held)
		HoldSignals(true, &g_unheld);
	g_held = true;
}

void CloseFd(int *fd)
{
	if (*fd >= 0)
		close(*fd);
	*fd = -1;
}

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
	Undo();
	Release();
	ReleaseSignals();
}

// Opens the folder part of the name in path (relative to at), and keeps the
// last part in g_base: "." for a name that ends in a slash, which names a
// folder. path is cut at its last slash.
int OpenFolderOf(int at, char *path)
{
	char *slash = strrchr(path, '/');
	const char *name = slash ? slash + 1 : path;
	std::size_t len = strlen(name);
	if (len > NAME_MAX || !*path) {
		errno = *path ? ENAMETOOLONG : ENOENT;
		return -1;
	}
	const char *folder = ".";
	if (len == 0)
		name = ".", len = 1, folder = path;
	else if (slash == path)
		folder = "/";
	else if (slash)
		*slash = '\0', folder = path;
	memcpy(g_base, name, len + 1);
	return openat(at, folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Whether a folder is one of /proc, whose links name open files that no
// path may lead to (a pipe, a deleted file): only the kernel follows them.
bool OnProc(int dir)
{
	struct statfs sf;
	return fstatfs(dir, &sf) == 0 && sf.f_type == PROC_SUPER_MAGIC;
}

// Whether the link whose status is link, in g_dir, may be followed. The
// kernel refuses a link in a sticky folder that everyone may write (such as
// /tmp) unless it belongs to the follower or to the folder's owner: one
// that another user planted there. Links followed here are refused alike.
bool MayFollow(const struct stat &link)
{
	struct stat dir;
	if (fstat(g_dir, &dir) != 0)
		return false;
	bool open = (dir.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH);
	if (open || link.st_uid == geteuid() || link.st_uid == dir.st_uid)
		return true;
	errno = EACCES;
	return false;
}

// Follows path, symbolic links included, to the folder entry it names, as
// open(2) would, opening each folder once: g_dir is the last, g_base the
// name in it. kEntry with its status in *st, kAbsent when no such entry
// exists, kMagic for a link of /proc (*st where it leads), kGone with errno
// when the path leads nowhere.
Found Locate(const char *path, struct stat *st)
{
	static char buf[PATH_MAX];
	CloseFd(&g_dir);
	if (strlen(path) >= sizeof buf) {
		errno = ENAMETOOLONG;
		return kGone;
	}
	strcpy(buf, path);
	int at = AT_FDCWD;
	for (int links = 0;; links++) {
		g_dir = OpenFolderOf(at, buf);
		if (at >= 0)
			close(at);
		if (g_dir < 0)
			return kGone;
		if (fstatat(g_dir, g_base, st, AT_SYMLINK_NOFOLLOW) != 0)
			return errno == ENOENT ? kAbsent : kGone;
		if (!S_ISLNK(st->st_mode))
			return kEntry;
		if (OnProc(g_dir))
			return fstatat(g_dir, g_base, st, 0) == 0 ? kMagic : kGone;
		if (!MayFollow(*st))
			return kGone;
		ssize_t n = links < kMaxLinks ? readlinkat(g_dir, g_base, buf, sizeof buf - 1) : -1;
		if (links >= kMaxLinks || n == sizeof buf - 1)
			errno = links >= kMaxLinks ? ELOOP : ENAMETOOLONG;
		if (n < 0 || n == sizeof buf - 1)
			return kGone;
		buf[n] = '\0';
		at = g_dir;
		g_dir = -1;
	}
}

// Opens what Locate found, and checks that it is the entry that was looked
// at: g_st is then its status. -2 when the name has changed meanwhile.
int OpenFound(Found found, const struct stat &seen, int flags)
{
	int fd = openat(g_dir, g_base, flags | O_CLOEXEC | (found == kEntry ? O_NOFOLLOW : 0));
	if (fd < 0)
		return found == kEntry && (errno == ELOOP || errno == ENOENT) ? -2 : -1;
	if (fstat(fd, &g_st) != 0) {
		close(fd);
		return -1;
	}
	if (!SameFile(g_st, seen)) {
		close(fd);
		return -2;
	}
	return fd;
}

// A random name part, from a generator seeded once a process.
void RandomPart(char *to)
{
	static const char kChars[] =
	        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
	static std::uint64_t state;
	if (state == 0 && getrandom(&state, sizeof state, GRND_NONBLOCK) != sizeof state)
		state = static_cast<std::uint64_t>(getpid()) << 32 ^
		        static_cast<std::uint64_t>(time(nullptr));
	for (int i = 0; i < kTempRandom; i++) {
		state ^= state << 13, state ^= state >> 7, state ^= state << 17;
		to[i] = kChars[state % (sizeof kChars - 1)];
	}
	to[kTempRandom] = '\0';
}

// Writes a temporary name for the output into name, but for its random
// part, and returns where that part goes.
int TempPrefix(char *name)
{
	int part = static_cast<int>(std::min(strlen(g_base), kTempNamePart));
	return snprintf(name, NAME_MAX + 1, ".%.*s%s", part, g_base, kTempInfix);
}

// Makes the temporary file in g_dir, recorded so that a failure or a signal
// removes it. -1 when it cannot be made.
int MakeTemp(mode_t mode)
{
	int n = TempPrefix(g_temp);
	for (int tries = 0; tries < 100; tries++) {
		RandomPart(g_temp + n);
		sigset_t saved;
		HoldSignals(true, &saved);
		int fd = openat(g_dir, g_temp, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
		g_tempMade = fd >= 0;
		HoldSignals(false, &saved);
		if (fd >= 0 || errno != EEXIST)
			return fd;
	}
	return -1;
}

// Copies every extended attribute of the file on from to the file on to, and
// removes from to those that from lacks (what it got from its folder, such
// as a default ACL). 0 when the system refuses one.
int CopyAttributes(int from, int to)
{
	static char names[XATTR_LIST_MAX];
	static char have[XATTR_LIST_MAX];
	static char value[XATTR_SIZE_MAX];
	ssize_t n = flistxattr(from, names, sizeof names);
	if (n < 0 && errno != ENOTSUP)
		return 0;
	for (ssize_t i = 0; i < n; i += static_cast<ssize_t>(strlen(names + i)) + 1) {
		ssize_t len = fgetxattr(from, names + i, value, sizeof value);
		if (len < 0 ||
		    fsetxattr(to, names + i, value, static_cast<std::size_t>(len), 0) != 0)
			return 0;
	}
	ssize_t m = flistxattr(to, have, sizeof have);
	if (m < 0)
		return errno == ENOTSUP && n <= 0;
	const char *namesEnd = names + std::max<ssize_t>(n, 0);
	for (ssize_t i = 0; i < m; i += static_cast<ssize_t>(strlen(have + i)) + 1) {
		bool kept = false;
		for (const char *p = names; p < namesEnd && !kept; p += strlen(p) + 1)
			kept = strcmp(p, have + i) == 0;
		if (!kept && fremovexattr(to, have + i) != 0)
			return 0;
	}
	return 1;
}

// Gives a replacement what the old file has beside its bytes: its owner
// and group, then its extended attributes (a change of owner drops some),
// then its mode, set bits included (a change of owner, and a write, drop
// those). The same steps for both programs, done once the bytes are in.
Why Dress(int temp)
{
	if (fchown(temp, g_st.st_uid, g_st.st_gid) != 0)
		return kOwner;
	if (!CopyAttributes(g_oldFd, temp))
		return kAttributes;
	return fchmod(temp, g_st.st_mode & 07777) == 0 ? kReplaceable : kOwner;
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

// Waits for any other run that writes the same file in place to finish, so
// that two runs never interleave. A file system without locks still gets
// its output.
void Lock(int fd)
{
	while (flock(fd, LOCK_EX) != 0 && errno == EINTR)
		;
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
	Lock(fd);
	g_oldFd = fd;
	g_kind = kStaged;
	int stage = Keep(memfd_create("ppdedit", MFD_CLOEXEC));
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
	int fd = OpenFound(kEntry, seen, O_WRONLY | O_NOCTTY);
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

void PrepareProcess()
{
	static bool prepared;
	if (prepared)
		return;
	prepared = true;
	OpenStandardDescriptors();
	SetSignalActions();
}

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
		if (found == kGone)
			return NotCreated();
		if (found == kAbsent)
			return StartNew();
		int fd = OpenFound(found, seen, O_WRONLY | O_NOCTTY);
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

void BackupAs(const char *suffix)
{
	g_backup = suffix;
}

void FindIn(int folder, const char *name)
{
	g_findDir = folder;
	g_findName = name;
}

namespace {

// Finds the file that a walk found, g_findName in g_findDir, without
// following a link: as Locate does.
Found LocateFound(struct stat *st)
{
	CloseFd(&g_dir);
	g_dir = fcntl(g_findDir, F_DUPFD_CLOEXEC, 3);
	if (g_dir < 0 || strlen(g_findName) > NAME_MAX)
		return kGone;
	strcpy(g_base, g_findName);
	if (fstatat(g_dir, g_base, st, AT_SYMLINK_NOFOLLOW) != 0)
		return errno == ENOENT ? kAbsent : kGone;
	return kEntry;
}

} // namespace

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
	Found found = g_findDir >= 0 ? LocateFound(&seen) : Locate(path, &seen);
	if (found == kGone || found == kAbsent) {
		errno = found == kAbsent ? ENOENT : errno;
		return -1;
	}
	// A link of /proc is followed by the kernel alone, at the open, where
	// it may lead elsewhere than it did; nor could its file be replaced.
	if (found == kMagic || !S_ISREG(seen.st_mode)) {
		if (found == kMagic)
			SayWhy(kNoTemp);
		else
			printf("%s is not a regular file.\n", path);
		return -2;
	}
	int fd = OpenFound(found, seen, O_RDONLY | O_NONBLOCK | O_NOCTTY);
	if (fd < 0)
		return fd == -2 ? -3 : -1;
	// Another edit may have replaced the file while this one waited.
	Lock(fd);
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
	Why why = g_st.st_nlink != 1 ? kLinks : kReplaceable;
	int temp = why == kReplaceable ? Keep(MakeTemp(0600)) : -1;
	if (temp < 0 && why == kReplaceable) {
		Undo(); // made, but no second descriptor to spare
		why = kNoTemp;
	}
	if (temp < 0 && say)
		SayWhy(why);
	return temp;
}

namespace {

// Whether the backup of the output can be made: its name fits, is no
// folder, and an older backup there is one that this process may replace.
// Said when not.
int BackupPossible()
{
	char name[NAME_MAX + 1];
	int n = snprintf(name, sizeof name, "%s%s", g_base, g_backup);
	struct stat dir, old;
	bool fits = n >= 0 && static_cast<std::size_t>(n) < sizeof name;
	bool none = fits && fstatat(g_dir, name, &old, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
	bool sticky = fstat(g_dir, &dir) == 0 && (dir.st_mode & S_ISVTX);
	uid_t me = geteuid();
	if (none || (fits && !S_ISDIR(old.st_mode) &&
	             (!sticky || me == 0 || old.st_uid == me || dir.st_uid == me)))
		return 1;
	printf("%s can not be backed up with the suffix %s.\n", g_name, g_backup);
	return 0;
}

} // namespace

int CheckReplaceable()
{
	int temp = OpenReplacement(true);
	if (temp < 0)
		return 0;
	Why why = Dress(temp);
	close(temp);
	CloseFd(&g_keptFd);
	if (!RemoveTemp())
		return 0;
	if (why != kReplaceable)
		SayWhy(why);
	return why == kReplaceable && (!g_backup || BackupPossible());
}

void SyncOutput(bool sync)
{
	g_sync = sync;
}

namespace {

// Whether the file system of the file on fd has room for it to grow from
// size now to size: what a file system that cannot reserve room allows to
// be checked beforehand.
bool RoomToGrow(int fd, off_t now, off_t size)
{
	struct statfs sf;
	if (size <= now || fstatfs(fd, &sf) != 0)
		return true;
	auto blocks = geteuid() == 0 ? sf.f_bfree : sf.f_bavail;
	if (static_cast<unsigned long long>(size - now) <= blocks * sf.f_bsize)
		return true;
	errno = ENOSPC;
	return false;
}

// Reserves the room for size bytes in the file on fd, which holds now bytes,
// so that a full disk is found before a byte of it changes.
bool Reserve(int fd, off_t now, off_t size)
{
	int rc;
	while ((rc = size ? fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) : 0) != 0 && errno == EINTR)
		;
	if (rc != 0 && (errno == EOPNOTSUPP || errno == ENOSYS))
		return RoomToGrow(fd, now, size);
	return rc == 0;
}

// Gives the old file back what writing to it takes away: its setuid and
// setgid bits, and its file capabilities (cap, len bytes, when len > 0).
bool Restore(const struct stat &old, const char *cap, ssize_t len)
{
	if ((old.st_mode & 06000) && fchmod(g_oldFd, old.st_mode & 07777) != 0)
		return false;
	return len <= 0 ||
	       fsetxattr(g_oldFd, kCapability, cap, static_cast<std::size_t>(len), 0) == 0;
}

// Copies the size bytes of the file on from over the file on to, from its
// start (where a freshly opened descriptor stands), then cuts it there.
bool CopyAll(int from, int to, off_t size)
{
	off_t at = 0;
	while (at < size) {
		ssize_t n = sendfile(to, from, &at, static_cast<std::size_t>(size - at));
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
	}
	int rc;
	while ((rc = ftruncate(to, size)) != 0 && errno == EINTR)
		;
	return rc == 0;
}

// Copies a whole staged output (on from) over the old file, under its lock.
// The ending signals wait for the copy: cut short, it would leave a part.
int CopyOver(int from)
{
	struct stat st, old;
	char cap[XATTR_SIZE_MAX];
	if (fstat(from, &st) != 0 || fstat(g_oldFd, &old) != 0)
		return OutputWriteError();
	ssize_t len = fgetxattr(g_oldFd, kCapability, cap, sizeof cap);
	HoldForCommit();
	bool ok = Reserve(g_oldFd, old.st_size, st.st_size) && CopyAll(from, g_oldFd, st.st_size) &&
	          Restore(old, cap, len);
	if (!ok)
		ReleaseSignals();
	return ok || OutputWriteError();
}

// A replacement that cannot be given what the old file has, ppdedit copies
// over the old file instead, as it would have staged it.
int StageInstead()
{
	Lock(g_oldFd);
	int ok = CopyOver(g_keptFd);
	return RemoveTemp() && ok;
}

} // namespace

namespace {

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
	Why why = Dress(g_keptFd);
	if (why == kReplaceable)
		return 1;
	if (g_inputFd >= 0)
		SayWhy(why);
	else if (StageInstead())
		g_kind = kStaged;
	return 0;
}

// Puts the new file in the output's place and keeps the old one as its
// backup, its name followed by the suffix: the two files are exchanged at
// once, the old one is checked to be the file read, and renamed over any
// older backup. Else they are exchanged back. So the name never lacks a
// file, and the old file is never lost, nor is an older backup but for a
// new one. Said when it fails.
int ExchangeWithBackup()
{
	char name[NAME_MAX + 1];
	snprintf(name, sizeof name, "%s%s", g_base, g_backup);
	if (renameat2(g_dir, g_temp, g_dir, g_base, RENAME_EXCHANGE) != 0)
		return OutputWriteError();
	struct stat st;
	bool read = fstatat(g_dir, g_temp, &st, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(st, g_st);
	if (read && renameat(g_dir, g_temp, g_dir, name) == 0) {
		g_tempMade = 0;
		return 1;
	}
	if (renameat2(g_dir, g_temp, g_dir, g_base, RENAME_EXCHANGE) != 0) {
		// The new file stays in place; the old one is kept where it is.
		g_tempMade = 0;
		printf("%s was replaced, but its old file is left as %s.\n", g_name, g_temp);
		return 0;
	}
	if (!read)
		return StillThere();
	printf("%s can not be backed up with the suffix %s.\n", g_name, g_backup);
	return 0;
}

// Puts the temporary file in the output's place, the old file kept as its
// backup when asked. From there on the ending signals wait until the run
// has said so (ReleaseSignals). 0 on failure, said.
int Rename()
{
	if (g_kind != kNew && (!StillThere() || (g_backup && !BackupPossible())))
		return 0;
	HoldForCommit();
	bool moved = g_kind == kNew ? RenameToFree()
	             : g_backup     ? ExchangeWithBackup()
	                            : renameat(g_dir, g_temp, g_dir, g_base) == 0;
	if (!moved) {
		ReleaseSignals();
		return g_backup && g_kind != kNew ? 0 : OutputWriteError();
	}
	g_tempMade = 0;
	if (!g_sync || SyncFolder())
		return 1;
	printf("%s was replaced, but can not be flushed to the disk.\n", g_name);
	return 0;
}

} // namespace

int CommitOutputFile()
{
	int ok = 1;
	if (g_kind == kStaged)
		ok = CopyOver(g_keptFd);
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
	int ok = RemoveTemp();
	DiscardOutputFile();
	return ok;
}

void DiscardOutputFile()
{
	Undo();
	Release();
}

void ReleaseSignals()
{
	if (g_held)
		HoldSignals(false, &g_unheld);
	g_held = false;
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
