// Finding the output's folder: the output's name is followed once,
// symbolic links included, to the folder that holds the file; that folder is
// opened once, and the rest of the run goes through its descriptor. Swapping
// a folder of the path for a link during the run then cannot send a step
// elsewhere.
#include "Folder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>

int g_dir = -1;
char g_base[NAME_MAX + 1];

namespace {

// Symbolic links followed to the last part of a name, as the kernel does.
constexpr int kMaxLinks = 40;

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

} // namespace

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
