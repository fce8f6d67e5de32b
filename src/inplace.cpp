// ppdedit-inplace: edits PPD files in place, each exactly as ppdedit would
// write an edited copy of it, in one process, and says what became of each:
//
//   ppdedit-inplace [OPTION...] [/R] PARAMETER-FILE [PARAMETER...] -- [FILE...]
//
// A file is replaced whole, by a new file that takes its name, and only
// when the edit changes its text. The parameter file is read once, before
// any file, and a mistake that no file can mend ends the run there. Unlike
// ppdedit, this program follows the usual conventions: options anywhere
// before "--", usage errors on standard error, and an exit status.
#include "PPD.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <vector>

namespace {

enum { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// Room for what an edit prints: a message or two that name the files.
constexpr std::size_t kSaidMax = 4 * kPathMax + 256;

struct Options {
	int edit;   // kDryRun, kSync
	bool quiet; // report failures only
	bool done;  // --help or --version: nothing more to do
};

// The command line: what ppdedit would be given for one file, "ppdedit [/R]
// FILE FILE PARAMETER-FILE PARAMETER...", with FILE at fileAt; and the files.
struct Command {
	std::vector<char *> run;
	std::size_t fileAt;
	char **files;
	int count;
};

const char kUsage[] =
        "usage: ppdedit-inplace [OPTION...] [/R] PARAMETER-FILE [PARAMETER...] -- [FILE...]\n"
        "Edits each FILE in place as ppdedit would write an edited copy of it, and\n"
        "replaces it only when its text changes.\n"
        "\n"
        "  -n, --dry-run          report what would become of each file; write nothing\n"
        "  -q, --quiet            print only the failed: lines\n"
        "  -P, --parameter=VALUE  one more parameter, which may begin with '-'\n"
        "      --sync             flush each replaced file and its folder to the disk\n"
        "      --help             print this help\n"
        "      --version          print the version\n";

// Takes one option; false for one that is not known.
bool TakeOption(int c, Options *o, std::vector<char *> *words)
{
	switch (c) {
	case 'n':
		o->edit |= kDryRun;
		break;
	case 'q':
		o->quiet = true;
		break;
	case 's':
		o->edit |= kSync;
		break;
	case 'P':
		words->push_back(optarg);
		break;
	case 'h':
		fputs(kUsage, stdout), o->done = true;
		break;
	case 'v':
		printf("ppdedit-inplace %s\n", PPDEDIT_VERSION), o->done = true;
		break;
	default:
		return false;
	}
	return true;
}

// Reads the options wherever they stand before "--", and the other words
// in order into words; the words of -P are parameters. *files is where the
// files start after "--". False on a usage error.
bool ReadOptions(int argc, char *argv[], Options *o, std::vector<char *> *words, int *files,
                 std::size_t *forcedFrom)
{
	static const option kLong[] = {{"dry-run", no_argument, nullptr, 'n'},
	                               {"quiet", no_argument, nullptr, 'q'},
	                               {"parameter", required_argument, nullptr, 'P'},
	                               {"sync", no_argument, nullptr, 's'},
	                               {"help", no_argument, nullptr, 'h'},
	                               {"version", no_argument, nullptr, 'v'},
	                               {nullptr, 0, nullptr, 0}};
	*o = {0, false, false};
	*forcedFrom = SIZE_MAX;
	const char *lastValue = nullptr;
	int c;
	// "-": the other words come back in order, as the value of option 1.
	while ((c = getopt_long(argc, argv, "-nqP:", kLong, nullptr)) != -1) {
		if (c == 1) {
			words->push_back(optarg);
			continue;
		}
		if (c == 'P' && *forcedFrom == SIZE_MAX)
			*forcedFrom = words->size();
		if (!TakeOption(c, o, words))
			return false;
		lastValue = optarg;
	}
	*files = optind;
	// Options stop at "--", or at the end when there is none.
	return o->done ||
	       (optind > 1 && strcmp(argv[optind - 1], "--") == 0 && argv[optind - 1] != lastValue);
}

// Builds the command line for one file from the words before "--": [/R]
// PARAMETER-FILE PARAMETER... A word given with -P is never the mode or the
// parameter file. False when there is no parameter file.
bool BuildRun(char *argv0, const std::vector<char *> &words, std::size_t forcedFrom, Command *c)
{
	std::size_t w = 0;
	c->run.assign(1, argv0);
	if (w < words.size() && w < forcedFrom && strcmp(words[w], "/R") == 0)
		c->run.push_back(words[w++]);
	if (w >= words.size() || w >= forcedFrom)
		return false;
	c->fileAt = c->run.size();
	static char noFile[] = "";
	c->run.insert(c->run.end(), 2, noFile);
	c->run.insert(c->run.end(), words.begin() + static_cast<std::ptrdiff_t>(w), words.end());
	c->run.push_back(nullptr);
	return true;
}

// Runs fn with what ppdedit's code prints caught in said, as one line. That
// code prints its messages with printf, on standard output, which is pointed
// at a buffer meanwhile (glibc lets stdout be assigned).
template <typename Fn> int Catching(FILE *catcher, char *said, Fn fn)
{
	FILE *report = stdout;
	rewind(catcher);
	stdout = catcher;
	int outcome = fn();
	fflush(catcher);
	long n = ftell(catcher);
	stdout = report;
	std::size_t len = n > 0 ? std::min(static_cast<std::size_t>(n), kSaidMax - 1) : 0;
	said[len] = '\0';
	while (len > 0 && said[len - 1] == '\n')
		said[--len] = '\0';
	std::replace(said, said + len, '\n', ' ');
	return outcome;
}

bool IsControl(unsigned char c)
{
	return c < 0x20 || c == 0x7f;
}

bool NeedsEscape(unsigned char c)
{
	return IsControl(c) || c == '\\';
}

// Prints text as it is, or escaped when it holds control characters or a
// backslash (\n, \t, \\, octal for the rest), so that one report line is
// one file, and an escaped name is never another name as it is.
void PrintText(const char *text)
{
	const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
	if (std::none_of(p, p + strlen(text), NeedsEscape)) {
		fputs(text, stdout);
		return;
	}
	for (; *p; p++) {
		if (*p == '\\' || *p == '\n' || *p == '\t')
			printf("\\%c", *p == '\n' ? 'n' : *p == '\t' ? 't' : '\\');
		else if (IsControl(*p))
			printf("\\%03o", *p);
		else
			putchar(*p);
	}
}

// Prints what became of one file, and sends the line on at once, so that
// a run killed later has reported every file it changed. False when the
// report cannot be written.
bool Report(int outcome, const char *file, const char *said, bool quiet)
{
	static const char *const kHow[] = {
	        "failed: ", "changed: ", "unchanged: ", "unchanged: ", "unchanged: "};
	static const char *const kWhy[] = {": ", "", " (no anchor or key matched)",
	                                   " (the marker is there)",
	                                   " (already as the edit makes it)"};
	if (quiet && outcome != kEditFailed)
		return true;
	fputs(kHow[outcome], stdout);
	PrintText(file);
	fputs(kWhy[outcome], stdout);
	if (outcome == kEditFailed)
		PrintText(said);
	putchar('\n');
	return fflush(stdout) == 0;
}

void ReportError()
{
	fputs("ppdedit-inplace: standard output: write error\n", stderr);
}

// Edits every file in turn; kExitFailed when any of them failed.
int EditAll(Command *c, const Options &o, FILE *catcher, char *said)
{
	int status = kExitOk;
	for (int i = 0; i < c->count; i++) {
		c->run[c->fileAt] = c->run[c->fileAt + 1] = c->files[i];
		int outcome = Catching(catcher, said, [&] {
			return EditInPlace(static_cast<int>(c->run.size()) - 1, c->run.data(),
			                   o.edit);
		});
		if (!Report(outcome, c->files[i], said, o.quiet)) {
			ReportError();
			return kExitFailed;
		}
		if (outcome == kEditFailed)
			status = kExitFailed;
	}
	return status;
}

// Reads the parameter file once, then edits the files. kExitUsage, before
// any file is opened, when the parameter file cannot serve.
int Run(Command *c, const Options &o)
{
	static char said[kSaidMax];
	FILE *catcher = fmemopen(said, sizeof said, "w");
	if (!catcher) {
		fputs("ppdedit-inplace: out of memory\n", stderr);
		return kExitFailed;
	}
	int status = kExitUsage;
	if (Catching(catcher, said, [&] {
		    return KeepParameterFile(static_cast<int>(c->run.size()) - 1, c->run.data());
	    }))
		status = EditAll(c, o, catcher, said);
	else
		fprintf(stderr, "ppdedit-inplace: %s\n", said);
	fclose(catcher);
	return status;
}

} // namespace

int main(int argc, char *argv[])
{
	Options o;
	Command c;
	std::vector<char *> words;
	int files;
	std::size_t forcedFrom;
	if (!ReadOptions(argc, argv, &o, &words, &files, &forcedFrom) ||
	    (!o.done && !BuildRun(argv[0], words, forcedFrom, &c))) {
		fputs(kUsage, stderr);
		return kExitUsage;
	}
	if (o.done)
		return fflush(stdout) == 0 ? kExitOk : (ReportError(), kExitFailed);
	c.files = argv + files;
	c.count = argc - files;
	int status = Run(&c, o);
	if (fflush(stdout) != 0 || ferror(stdout)) {
		ReportError();
		return kExitFailed;
	}
	return status;
}
