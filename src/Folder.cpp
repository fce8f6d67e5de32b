// Finding the output's folder: the output's name is followed once, part by
// part, symbolic links included, to the folder that holds the file; each
// folder on the way is opened once, from the one before, and the last is
// kept: the rest of the run goes through its descriptor. Swapping a folder
// of the path for a link during the run then cannot send a step elsewhere.
//
// Links are followed here, not by the kernel, so that each can be checked
// once what it leads to is known: a run follows a link only when the running
// user or root made it, or when it leads to its maker's own file or folder.
// A name with no link on its way, the common case, is left to the kernel,
// told to follow none.
#include "Folder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/vfs.h>

int g_dir = -1;
char g_base[NAME_MAX + 1];

namespace {

// Symbolic links followed in one name, as the kernel does.
constexpr int kMaxLinks = 40;

// A link met on the way that is not checked yet: its owner, and the length
// of the path left after it. Once no more than that is left, the link has
// been followed to its end, and what the walk stands on is what it leads to.
struct Pending {
	uid_t owner;
	std::size_t left;
};

// A walk along a path, part by part: the rest of the path, at the end of
// buf so that a link's target can be put before it; the folder reached,
// open; the links met, and those not checked yet; whether one was refused.
struct Walk {
	char buf[PATH_MAX];
	char *rest;
	int dir;
	int links;
	Pending pending[kMaxLinks];
	int pendingCount;
	bool refused;
};

Walk g_walk;

// Whether a folder is one of /proc, whose links name open files that no
// path may lead to (a pipe, a deleted file): only the kernel follows them.
bool OnProc(int dir)
{
	struct statfs sf;
	return fstatfs(dir, &sf) == 0 && sf.f_type == PROC_SUPER_MAGIC;
}

// Whether a link that owner made may lead to what has status to: a link of
// the running user's or root's, or of the owner of what it leads to. A link
// that another user made to someone else's file or folder could make a root
// run write where that user may not.
bool MayFollow(uid_t owner, const struct stat &to)
{
	return owner == geteuid() || owner == 0 || owner == to.st_uid;
}

// Checks the links that the walk has followed to their end, now that it
// stands on what has status to. False, noted, when one is refused.
bool Settle(Walk *w, const struct stat &to)
{
	std::size_t left = strlen(w->rest);
	while (w->pendingCount > 0 && w->pending[w->pendingCount - 1].left >= left) {
		if (!MayFollow(w->pending[--w->pendingCount].owner, to))
			w->refused = true;
	}
	return !w->refused;
}

// Starts again from the root when the rest of the path is absolute, and
// steps past its slashes. False when the root cannot be opened.
bool FromRoot(Walk *w)
{
	if (*w->rest != '/')
		return true;
	CloseFd(&w->dir);
	w->dir = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
	while (*w->rest == '/')
		w->rest++;
	struct stat root;
	return w->dir >= 0 && fstat(w->dir, &root) == 0 && Settle(w, root);
}

// Starts a walk along path from the working folder.
bool StartWalk(Walk *w, const char *path)
{
	std::size_t len = strlen(path);
	w->links = w->pendingCount = 0;
	w->refused = false;
	if (len == 0 || len >= sizeof w->buf) {
		errno = len ? ENAMETOOLONG : ENOENT;
		return false;
	}
	w->rest = w->buf + sizeof w->buf - 1 - len;
	memcpy(w->rest, path, len + 1);
	w->dir = openat(AT_FDCWD, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
	return w->dir >= 0 && FromRoot(w);
}

// Takes the next part of the path into part, and the slashes after it: 1
// for a folder (a part followed by a slash), 0 for the last part ("." when
// the path ends in a slash), -1 for a part too long.
int NextPart(Walk *w, char *part)
{
	std::size_t len = strcspn(w->rest, "/");
	if (len > NAME_MAX) {
		errno = ENAMETOOLONG;
		return -1;
	}
	memcpy(part, len ? w->rest : ".", len ? len : 1);
	part[len ? len : 1] = '\0';
	w->rest += len;
	bool folder = *w->rest == '/';
	while (*w->rest == '/')
		w->rest++;
	return folder;
}

// Puts the target of the link part, of status link, before the rest of the
// path; the target of a folder part keeps the slash.
bool Splice(Walk *w, const char *part, const struct stat &link, bool folder)
{
	static char target[PATH_MAX];
	if (w->links++ == kMaxLinks) {
		errno = ELOOP;
		return false;
	}
	ssize_t n = readlinkat(w->dir, part, target, sizeof target);
	std::size_t left = strlen(w->rest), slash = left || folder ? 1 : 0;
	std::size_t room = static_cast<std::size_t>(w->rest - w->buf);
	if (n <= 0 || static_cast<std::size_t>(n) + slash > room) {
		errno = n < 0 ? errno : n == 0 ? ENOENT : ENAMETOOLONG;
		return false;
	}
	w->pending[w->pendingCount++] = {link.st_uid, left};
	if (slash)
		*--w->rest = '/';
	w->rest -= n;
	memcpy(w->rest, target, static_cast<std::size_t>(n));
	return FromRoot(w);
}

// Steps into the folder part of the walk's folder: through it, when it is
// a link of /proc, which the kernel alone follows.
bool Enter(Walk *w, const char *part, bool magic)
{
	int next =
	        openat(w->dir, part, O_PATH | O_DIRECTORY | O_CLOEXEC | (magic ? 0 : O_NOFOLLOW));
	if (next < 0)
		return false;
	CloseFd(&w->dir);
	w->dir = next;
	struct stat folder;
	return w->pendingCount == 0 || (fstat(next, &folder) == 0 && Settle(w, folder));
}

// Ends the walk on its last part, found as found with status seen: g_dir
// and g_base are then its folder and its name, and *st what it leads to.
Found Finish(Walk *w, const char *part, Found found, const struct stat &seen, struct stat *st)
{
	g_dir = w->dir;
	w->dir = -1;
	strcpy(g_base, part);
	*st = seen;
	if (found == kAbsent && fstat(g_dir, st) != 0)
		return kGone;
	if (found == kEntry && S_ISLNK(seen.st_mode)) {
		if (fstatat(g_dir, g_base, st, 0) != 0)
			return kGone;
		found = kMagic;
	}
	return found == kGone || Settle(w, *st) ? found : kRefused;
}

// Opens the folder part of path in one call when no link stands on its way
// (the common case, and the walk's result then), and finds the last part
// there, when it is no link either. False when the walk must do it.
bool Direct(const char *path, struct stat *st, Found *found)
{
	static char folder[PATH_MAX];
	const char *slash = strrchr(path, '/');
	std::size_t len = slash ? static_cast<std::size_t>(slash - path) : 0;
	std::size_t nameLen = slash ? strlen(slash + 1) : 0;
	if (len == 0 || len >= sizeof folder || nameLen == 0 || nameLen > NAME_MAX)
		return false;
	memcpy(folder, path, len);
	folder[len] = '\0';
	open_how how = {};
	how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
	how.resolve = RESOLVE_NO_SYMLINKS;
	int dir = static_cast<int>(syscall(SYS_openat2, AT_FDCWD, folder, &how, sizeof how));
	if (dir < 0)
		return false;
	int rc = fstatat(dir, slash + 1, st, AT_SYMLINK_NOFOLLOW);
	if ((rc == 0 && S_ISLNK(st->st_mode)) || (rc != 0 && errno != ENOENT)) {
		close(dir);
		return false;
	}
	g_dir = dir;
	strcpy(g_base, slash + 1);
	*found = rc == 0 ? kEntry : fstat(dir, st) == 0 ? kAbsent : kGone;
	return true;
}

// Walks path part by part, as Locate.
Found Walked(const char *path, struct stat *st)
{
	Walk *w = &g_walk;
	bool on = StartWalk(w, path);
	char part[NAME_MAX + 1];
	while (on) {
		int folder = NextPart(w, part);
		struct stat seen = {};
		int rc = folder < 0 ? -1 : fstatat(w->dir, part, &seen, AT_SYMLINK_NOFOLLOW);
		Found found = rc == 0 ? kEntry : errno == ENOENT ? kAbsent : kGone;
		bool link = rc == 0 && S_ISLNK(seen.st_mode);
		bool magic = link && OnProc(w->dir);
		if (link && !magic)
			on = Splice(w, part, seen, folder);
		else if (folder == 0)
			return Finish(w, part, found, seen, st);
		else
			on = folder > 0 && Enter(w, part, magic);
	}
	int e = errno;
	CloseFd(&w->dir);
	errno = e;
	return w->refused ? kRefused : kGone;
}

} // namespace

Found Locate(const char *path, struct stat *st)
{
	CloseFd(&g_dir);
	Found found;
	return Direct(path, st, &found) ? found : Walked(path, st);
}

Found LocateIn(int folder, const char *name, struct stat *st)
{
	CloseFd(&g_dir);
	g_dir = fcntl(folder, F_DUPFD_CLOEXEC, 3);
	if (g_dir < 0 || strlen(name) > NAME_MAX)
		return kGone;
	strcpy(g_base, name);
	if (fstatat(g_dir, g_base, st, AT_SYMLINK_NOFOLLOW) != 0)
		return errno == ENOENT ? kAbsent : kGone;
	return kEntry;
}

int OpenFound(Found found, const struct stat &seen, int flags, struct stat *opened)
{
	int fd = openat(g_dir, g_base, flags | O_CLOEXEC | (found == kEntry ? O_NOFOLLOW : 0));
	if (fd < 0)
		return found == kEntry && (errno == ELOOP || errno == ENOENT) ? -2 : -1;
	if (fstat(fd, opened) != 0) {
		close(fd);
		return -1;
	}
	if (!SameFile(*opened, seen)) {
		close(fd);
		return -2;
	}
	return fd;
}
