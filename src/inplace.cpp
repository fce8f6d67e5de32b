// ppdedit-inplace: edits PPD files in place, each exactly as ppdedit would
// write an edited copy of it, in one process, and says what became of each:
//
//   ppdedit-inplace [OPTION...] [/R] PARAMETER-FILE [PARAMETER...] -- FILE...
//
// A file is replaced whole, by a new file that takes its name, and only
// when the edit changes its text. Unlike ppdedit, this program follows the
// usual conventions: usage errors on standard error, and an exit status.
#include "PPD.h"

#include <algorithm>
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
};

const char kUsage[] =
        "usage: ppdedit-inplace [OPTION...] [/R] PARAMETER-FILE [PARAMETER...] -- FILE...\n"
        "Edits each FILE in place as ppdedit would write an edited copy of it, and\n"
        "replaces it only when its text changes.\n"
        "\n"
        "  -n, --dry-run  report what would become of each file; write nothing\n"
        "  -q, --quiet    print only the failed: lines\n"
        "      --sync     flush each replaced file and its folder to the disk\n"
        "      --help     print this help\n"
        "      --version  print the version\n";

// Reads the options. kExitOk to go on with the edits at argv[*next], or
// the status to end with at once.
int ReadOptions(int argc, char *argv[], Options *o, int *next, bool *done)
{
	static const option kLong[] = {
	        {"dry-run", no_argument, nullptr, 'n'}, {"quiet", no_argument, nullptr, 'q'},
	        {"sync", no_argument, nullptr, 's'},    {"help", no_argument, nullptr, 'h'},
	        {"version", no_argument, nullptr, 'v'}, {nullptr, 0, nullptr, 0}};
	*o = {0, false};
	*done = false;
	int c;
	// "+": options come first; the edit's own arguments are not options.
	while ((c = getopt_long(argc, argv, "+nq", kLong, nullptr)) != -1) {
		if (c == 'n')
			o->edit |= kDryRun;
		else if (c == 'q')
			o->quiet = true;
		else if (c == 's')
			o->edit |= kSync;
		else if (c == 'h' || c == 'v')
			*done = true;
		else
			return kExitUsage;
		if (c == 'h')
			fputs(kUsage, stdout);
		if (c == 'v')
			printf("ppdedit-inplace %s\n", PPDEDIT_VERSION);
		if (*done)
			return kExitOk;
	}
	*next = optind;
	return kExitOk;
}

// Builds the command line that ppdedit would be given for one file, from
// the arguments after the options: "ppdedit [/R] FILE FILE PARAMETER-FILE
// PARAMETER...". *fileAt is where FILE goes, *files where the files start.
// False when the arguments are not [/R] PARAMETER-FILE [PARAMETER...] --
// FILE...
bool BuildRun(int argc, char *argv[], int next, std::vector<char *> *run, int *fileAt, int *files)
{
	run->assign(1, argv[0]);
	if (next < argc && strcmp(argv[next], "/R") == 0)
		run->push_back(argv[next++]);
	*fileAt = static_cast<int>(run->size());
	run->insert(run->end(), 2, nullptr);
	int separator = next;
	while (separator < argc && strcmp(argv[separator], "--") != 0)
		separator++;
	if (separator == next || separator + 1 >= argc)
		return false;
	run->insert(run->end(), argv + next, argv + separator);
	run->push_back(nullptr);
	*files = separator + 1;
	return true;
}

// Runs one edit with what it prints caught in said, as one line. The edit
// prints ppdedit's messages with printf, on standard output; that is
// pointed at a buffer meanwhile (glibc lets stdout be assigned).
int EditCatching(std::vector<char *> &run, int options, FILE *catcher, char *said)
{
	FILE *report = stdout;
	rewind(catcher);
	stdout = catcher;
	int outcome = EditInPlace(static_cast<int>(run.size()) - 1, run.data(), options);
	fflush(catcher);
	long n = ftell(catcher);
	stdout = report;
	std::size_t len = n > 0 ? std::min(static_cast<std::size_t>(n), kSaidMax - 1) : 0;
	said[len] = '\0';
	while (len > 0 && said[len - 1] == '\n')
		said[--len] = '\0';
	for (char *nl = strchr(said, '\n'); nl; nl = strchr(nl, '\n'))
		*nl = ' ';
	return outcome;
}

bool IsControl(unsigned char c)
{
	return c < 0x20 || c == 0x7f;
}

// Prints text as it is, or escaped when it holds control characters (\n,
// \t, \\, octal for the rest), so that one report line is one file.
void PrintText(const char *text)
{
	const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
	if (std::none_of(p, p + strlen(text), IsControl)) {
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

// Prints what became of one file.
void Report(int outcome, const char *file, const char *said, bool quiet)
{
	if (quiet && outcome != kEditFailed)
		return;
	static const char *const kHow[] = {"failed: ", "changed: ", "unchanged: ", "unchanged: "};
	static const char *const kWhy[] = {": ", "", " (no anchor or key matched)",
	                                   " (the marker is there)"};
	fputs(kHow[outcome], stdout);
	PrintText(file);
	fputs(kWhy[outcome], stdout);
	if (outcome == kEditFailed)
		PrintText(said);
	putchar('\n');
}

// Edits every file in turn; kExitFailed when any of them failed.
int EditAll(int argc, char *argv[], std::vector<char *> &run, int fileAt, int files,
            const Options &o)
{
	static char said[kSaidMax];
	FILE *catcher = fmemopen(said, sizeof said, "w");
	if (!catcher) {
		fputs("ppdedit-inplace: out of memory\n", stderr);
		return kExitFailed;
	}
	int status = kExitOk;
	for (int i = files; i < argc; i++) {
		run[static_cast<std::size_t>(fileAt)] = run[static_cast<std::size_t>(fileAt) + 1] =
		        argv[i];
		int outcome = EditCatching(run, o.edit, catcher, said);
		Report(outcome, argv[i], said, o.quiet);
		if (outcome == kEditFailed)
			status = kExitFailed;
	}
	fclose(catcher);
	return status;
}

} // namespace

int main(int argc, char *argv[])
{
	Options o;
	int next = 1, fileAt, files;
	bool done;
	std::vector<char *> run;
	int status = ReadOptions(argc, argv, &o, &next, &done);
	if (status == kExitOk && !done && !BuildRun(argc, argv, next, &run, &fileAt, &files))
		status = kExitUsage;
	if (status == kExitUsage)
		fputs(kUsage, stderr);
	else if (!done)
		status = EditAll(argc, argv, run, fileAt, files, o);
	if (fflush(stdout) != 0 || ferror(stdout)) {
		fputs("ppdedit-inplace: standard output: write error\n", stderr);
		return kExitFailed;
	}
	return status;
}
