// The hidden file that a new output is written into, beside the output in
// its folder: ".NAME.ppdedit-XXXXXX", made afresh and only by this run, and
// noted so that a failure or a signal removes it. Once every byte is written
// it takes the output's name, so that no one ever sees a part.
#include "TempFile.h"

#include "Folder.h"
#include "Signals.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>

char g_temp[NAME_MAX + 1];

namespace {

// What a temporary file's name holds after ".NAME": it says what made it.
constexpr char kTempInfix[] = ".ppdedit-";
constexpr int kTempRandom = 6;
// The part of the output's name that a temporary file's name repeats, so
// that the whole fits in a name: ".", the part, the infix, the random part.
constexpr std::size_t kTempNamePart = NAME_MAX - 1 - (sizeof kTempInfix - 1) - kTempRandom;

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

} // namespace

void HiddenName(const char *base, char *name)
{
	int part = static_cast<int>(std::min(strlen(base), kTempNamePart));
	int n = snprintf(name, NAME_MAX + 1, ".%.*s%s", part, base, kTempInfix);
	RandomPart(name + n);
}

int MakeTemp(mode_t mode)
{
	for (int tries = 0; tries < kTempTries; tries++) {
		HiddenName(g_base, g_temp);
		sigset_t saved;
		HoldSignals(true, &saved);
		int fd = openat(g_dir, g_temp, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
		if (fd >= 0)
			NoteHidden(g_dir, g_temp);
		else
			ForgetHidden();
		HoldSignals(false, &saved);
		if (fd >= 0 || errno != EEXIST)
			return fd;
	}
	return -1;
}

int RemoveTemp(const char *name)
{
	int rc = 0;
	while (HiddenMade() && (rc = unlinkat(g_dir, g_temp, 0)) != 0 && errno == EINTR)
		;
	bool stays = HiddenMade() && rc != 0 && errno != ENOENT;
	ForgetHidden();
	if (stays)
		printf("%s was left as it was, but the hidden file %s beside it can not be "
		       "removed.\n",
		       name, g_temp);
	return !stays;
}
