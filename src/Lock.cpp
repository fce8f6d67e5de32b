// The lock that keeps two runs from writing one file at once: an flock(2)
// lock, taken on the file that an edit in place reads and on a staged
// output, and held until the run lets go of the file.
//
// flock(2) waits without a bound, and a root run must not wait for ever on
// a file that another user keeps locked. A timer interrupts the wait: its
// signal, caught without SA_RESTART, ends flock(2) with EINTR once the
// wait is over. It fires again every tick after that, so that a signal that
// came just before flock(2) began is followed by one that ends it.
#include "Lock.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <sys/file.h>

namespace {

// How often the timer fires again once the wait is over.
constexpr long kTickNs = 50 * 1000 * 1000;

timer_t g_timer;

void Woken(int) {}

// Makes the timer, once a process. False when it cannot be made.
bool MakeTimer()
{
	static bool made;
	if (made)
		return true;
	struct sigaction sa = {};
	sa.sa_handler = Woken;
	sigemptyset(&sa.sa_mask);
	struct sigevent ev = {};
	ev.sigev_notify = SIGEV_SIGNAL;
	ev.sigev_signo = SIGRTMIN;
	made = sigaction(SIGRTMIN, &sa, nullptr) == 0 &&
	       timer_create(CLOCK_MONOTONIC, &ev, &g_timer) == 0;
	return made;
}

// Sets the timer to fire after seconds, then every tick; 0 stops it.
bool SetTimer(int seconds)
{
	struct itimerspec when = {};
	when.it_value.tv_sec = seconds;
	when.it_interval.tv_nsec = seconds ? kTickNs : 0;
	return timer_settime(g_timer, 0, &when, nullptr) == 0;
}

// Whether the monotonic clock has reached deadline.
bool Over(const timespec &deadline)
{
	timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	return now.tv_sec > deadline.tv_sec ||
	       (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

// Waits for the lock on fd for seconds. 0, or -1 with errno: EINTR when
// the wait is over, or when no timer can bound it.
int WaitForLock(int fd, int seconds)
{
	timespec deadline;
	clock_gettime(CLOCK_MONOTONIC, &deadline);
	deadline.tv_sec += seconds;
	if (!MakeTimer() || !SetTimer(seconds)) {
		errno = EINTR;
		return -1;
	}
	int rc;
	while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR && !Over(deadline))
		;
	int e = errno;
	SetTimer(0);
	errno = e;
	return rc;
}

} // namespace

bool Lock(int fd, int seconds)
{
	int rc;
	while ((rc = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR)
		;
	if (rc != 0 && errno == EWOULDBLOCK && seconds > 0)
		rc = WaitForLock(fd, seconds);
	return rc == 0 || (errno != EWOULDBLOCK && errno != EINTR);
}
