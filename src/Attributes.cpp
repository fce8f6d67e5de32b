// Attributes and mode: a replacement gets the old file's owner and group,
// then its extended attributes (a change of owner drops some), then its
// mode, set bits included (a change of owner, and a write, drop those). A
// staged output, copied over its file, gives the file back its set bits and
// capabilities, which the write removed.
#include "Attributes.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// The attribute that every write to a file removes, as setuid bits are.
constexpr char kCapability[] = "security.capability";

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

} // namespace

Why Dress(int temp, int old, const struct stat &st)
{
	if (fchown(temp, st.st_uid, st.st_gid) != 0)
		return kOwner;
	if (!CopyAttributes(old, temp))
		return kAttributes;
	return fchmod(temp, st.st_mode & 07777) == 0 ? kReplaceable : kOwner;
}

ssize_t ReadCapability(int fd, char *cap, std::size_t size)
{
	return fgetxattr(fd, kCapability, cap, size);
}

bool Restore(int fd, const struct stat &old, const char *cap, ssize_t len)
{
	if ((old.st_mode & 06000) && fchmod(fd, old.st_mode & 07777) != 0)
		return false;
	return len <= 0 || fsetxattr(fd, kCapability, cap, static_cast<std::size_t>(len), 0) == 0;
}
