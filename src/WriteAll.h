// A whole write: write(2) may take fewer bytes than it is given, or be cut
// short by a signal, and the rest must follow.
#ifndef WRITEALL_H
#define WRITEALL_H

#include <cerrno>
#include <cstddef>
#include <unistd.h>

// Writes the n bytes at p to fd. False on an error (errno says which).
inline bool WriteAll(int fd, const void *p, std::size_t n)
{
	const char *at = static_cast<const char *>(p);
	while (n > 0) {
		ssize_t w = write(fd, at, n);
		if (w < 0 && errno == EINTR)
			continue;
		if (w <= 0)
			return false;
		at += w;
		n -= static_cast<std::size_t>(w);
	}
	return true;
}

#endif
