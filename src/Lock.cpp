// The lock that keeps two runs from writing one file at once: an flock(2)
// lock, taken on the file that an edit in place reads and on a staged
// output, and held until the run lets go of the file.
#include "Lock.h"

#include <cerrno>
#include <sys/file.h>

void Lock(int fd)
{
	while (flock(fd, LOCK_EX) != 0 && errno == EINTR)
		;
}
