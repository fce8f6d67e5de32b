// The process's standard descriptors, the signals that end a run from
// outside, and the hidden file that such a signal removes first.
//
// The record of the hidden file lives here, in globals, so that a signal
// handler can undo a run's work with async-signal-safe calls only.
#include "Signals.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The signals that end a run from outside: each first undoes the run's work
// on its output. SIGPIPE and SIGXFSZ are ignored instead: the write fails,
// and is reported.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU};

// The hidden file that a signal removes: its folder and name, while made.
int g_hiddenDir = -1;
char g_hidden[NAME_MAX + 1];
volatile sig_atomic_t g_hiddenMade;

// The ending signals held from a commit on, and the mask before.
sigset_t g_unheld;
bool g_held;

// Undoes the run's work on its output, then ends the run by the same
// signal, so that its caller sees it was interrupted. Async-signal-safe.
void EndBySignal(int sig)
{
	UndoHidden();
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

void HoldForCommit()
{
	if (!g_held)
		HoldSignals(true, &g_unheld);
	g_held = true;
}

void ReleaseSignals()
{
	if (g_held)
		HoldSignals(false, &g_unheld);
	g_held = false;
}

void NoteHidden(int dir, const char *name)
{
	g_hiddenDir = dir;
	strcpy(g_hidden, name);
	g_hiddenMade = 1;
}

void ForgetHidden()
{
	g_hiddenMade = 0;
}

bool HiddenMade()
{
	return g_hiddenMade;
}

void UndoHidden()
{
	if (g_hiddenMade)
		unlinkat(g_hiddenDir, g_hidden, 0);
	g_hiddenMade = 0;
}
