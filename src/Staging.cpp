// Staged outputs. A regular output that must keep its inode (several links,
// no room for a temporary file, attributes that a new file could not be
// given) is written into a stage in memory, locked, and copied over the file
// only once the edit is whole: its room is reserved first, so that a full
// disk is found before a byte of it changes.
#include "Staging.h"

#include "Attributes.h"
#include "Signals.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

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

} // namespace

int MakeStage()
{
	return memfd_create("ppdedit", MFD_CLOEXEC);
}

bool CopyOver(int from, int to)
{
	struct stat st, old;
	char cap[XATTR_SIZE_MAX];
	if (fstat(from, &st) != 0 || fstat(to, &old) != 0)
		return false;
	ssize_t len = ReadCapability(to, cap, sizeof cap);
	HoldForCommit();
	bool ok = Reserve(to, old.st_size, st.st_size) && CopyAll(from, to, st.st_size) &&
	          Restore(to, old, cap, len);
	if (!ok)
		ReleaseSignals();
	return ok;
}
