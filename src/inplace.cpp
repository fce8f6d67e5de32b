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
#include "Output.h"
#include "PPD.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <string>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

enum { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// What the report says of a file beside what an edit made of it: passed
// over as a backup's name, or as what no edit opens (a link, a FIFO).
enum { kPassedBackup = kEditAlready + 1, kSkipped, kOutcomes };

// Room for what an edit prints: a message or two that name the files.
constexpr std::size_t kSaidMax = 4 * kPathMax + 256;

struct Options {
	InPlace how;    // what each edit does beside the edit
	bool backups;   // -b, --backup or -S: replaced files are kept
	const char *control; // how, as --backup gave it; null: VERSION_CONTROL's
	bool quiet;     // report failures only
	bool diff;      // show each change
	bool recursive; // walk folders
	bool done;      // --help or --version: nothing more to do
	bool said;      // a usage error is said: no usage screen
	std::vector<DefaultAsked> defaults; // -o: set these instead
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
        "usage: ppdedit-inplace [OPTION...] -o OPTION=CHOICE... -- [FILE...]\n"
        "       ppdedit-inplace [OPTION...] [/R] PARAMETER-FILE [PARAMETER...] -- [FILE...]\n"
        "Sets options' defaults in PPD files, or edits each FILE as ppdedit would\n"
        "write an edited copy of it; replaces a file only when its text changes, and\n"
        "only when the new text brings no fault that the old one lacked.\n"
        "\n"
        "  -o, --default=OPTION=CHOICE  set OPTION's default to CHOICE, as lpadmin -o\n"
        "                         does (PageSize also sets PageRegion, ImageableArea\n"
        "                         and PaperDimension); repeatable\n"
        "  -n, --dry-run          report what would become of each file; write nothing\n"
        "  -q, --quiet            print only the failed: lines\n"
        "  -P, --parameter=VALUE  one more parameter, which may begin with '-'\n"
        "  -p, --prefix           the marker, the anchor and the keys match a line that\n"
        "                         begins with them\n"
        "  -e, --keep-endings     written lines end as the anchor or the replaced line\n"
        "  -b                     keep each replaced file, as --backup without CONTROL\n"
        "      --backup[=CONTROL] keep each replaced file beside it: CONTROL is\n"
        "                         numbered (t) as FILE.~N~, simple (never) as\n"
        "                         FILE.orig, existing (nil, the default) numbered\n"
        "                         where FILE has numbered backups, or none (off)\n"
        "  -S, --suffix=SUFFIX    simple backups end in SUFFIX, not .orig\n"
        "      --diff             show each change as a unified diff\n"
        "  -r, --recursive        edit the .ppd and .ppd.gz files under each folder\n"
        "      --sync             flush each replaced file and its folder to the disk\n"
        "      --no-check         write a new text even when it brings a fault\n"
        "      --wait=SECONDS     wait at most SECONDS (10) for a file that another\n"
        "                         program has locked; then it fails\n"
        "      --help             print this help\n"
        "      --version          print the version\n"
        "\n"
        "Examples:\n"
        "  ppdedit-inplace -r -o PageSize=A4 -o Duplex=DuplexNoTumble -- /etc/cups/ppd\n"
        "  ppdedit-inplace -n -o PageSize=A4 -- *.ppd              what would change\n"
        "With pair.txt holding \"*DefaultPageSize:\" and \"*DefaultPageSize: !0!\":\n"
        "  ppdedit-inplace -n -p /R pair.txt A4 -- *.ppd           what would change\n"
        "  ppdedit-inplace -q -p /R pair.txt A4 -- *.ppd           failures only\n"
        "  ppdedit-inplace -p /R offset.txt -P -2mm -- *.ppd       a parameter \"-2mm\"\n"
        "  ppdedit-inplace -p -e add-duplex-any.txt X Y -- *.ppd   add where missing\n"
        "  ppdedit-inplace -p -e /R pair.txt A4 -- *.ppd           LF and CR LF files\n"
        "  ppdedit-inplace --backup=numbered -p /R pair.txt A4 -- *.ppd  keep every original\n"
        "  ppdedit-inplace -n --diff -p /R pair.txt A4 -- *.ppd    preview\n"
        "  ppdedit-inplace -r -p -e /R pair.txt A4 -- /etc/cups/ppd  a whole tree\n"
        "  ppdedit-inplace --sync -p /R pair.txt A4 -- *.ppd       survive a power cut\n";

std::string Escaped(const char *text);

// Whether name ends in tail, in any case.
bool EndsIn(const char *name, const char *tail)
{
	std::size_t n = strlen(name), t = strlen(tail);
	return n >= t && strcasecmp(name + n - t, tail) == 0;
}

// Whether a file is a PPD by its name: *.ppd or *.ppd.gz, in any case.
bool IsPpdName(const char *name)
{
	return EndsIn(name, ".ppd") || EndsIn(name, ".ppd.gz");
}

// Whether a backup suffix can serve: one that would name the file itself,
// or another folder, cannot; nor one that gives a PPD's backup a PPD's name
// (a walk would edit it; with .gz, a.ppd's would be a.ppd.gz), nor one that
// every PPD's name ends in (each would be passed over as a backup).
bool GoodSuffix(const char *suffix)
{
	std::string backup = std::string(".ppd") + suffix;
	return *suffix && !strchr(suffix, '/') && !IsPpdName(backup.c_str()) &&
	       !IsPpdName((".ppd.gz" + backup.substr(4)).c_str()) && !EndsIn(".ppd", suffix) &&
	       !EndsIn(".ppd.gz", suffix);
}

// Takes the suffix of simple backups, which asks for backups.
bool TakeSuffix(const char *suffix, Options *o)
{
	o->backups = true;
	o->how.backup = suffix;
	if (GoodSuffix(suffix))
		return true;
	fprintf(stderr,
	        "ppdedit-inplace: a backup suffix may not be empty, hold a slash, or end or make a "
	        "PPD's name: %s\n",
	        Escaped(suffix).c_str());
	o->said = true;
	return false;
}

// The backup control named by word, or by a word it begins that names no
// other, as cp reads one: -1 when none.
int ControlNamed(const char *word)
{
	static const struct {
		const char *name;
		int control;
	} kControls[] = {{"none", kBackupNone},         {"off", kBackupNone},
	                 {"simple", kBackupSimple},     {"never", kBackupSimple},
	                 {"existing", kBackupExisting}, {"nil", kBackupExisting},
	                 {"numbered", kBackupNumbered}, {"t", kBackupNumbered}};
	int found = -1;
	std::size_t n = strlen(word);
	for (const auto &c : kControls) {
		if (strcmp(word, c.name) == 0)
			return c.control;
		if (n > 0 && strncmp(word, c.name, n) == 0)
			found = found < 0 || found == c.control ? c.control : -2;
	}
	return found >= 0 ? found : -1;
}

// Settles how backups are made, once every option is read: as --backup
// said, or VERSION_CONTROL, or existing; simple ones under the suffix of -S,
// or SIMPLE_BACKUP_SUFFIX, or .orig. False, said, on a control not known.
bool SettleBackups(Options *o)
{
	if (!o->backups)
		return true;
	const char *from = o->control ? "--backup" : "VERSION_CONTROL";
	const char *word = o->control ? o->control : getenv("VERSION_CONTROL");
	int control = word && *word ? ControlNamed(word) : kBackupExisting;
	const char *env = getenv("SIMPLE_BACKUP_SUFFIX");
	if (!o->how.backup)
		o->how.backup = env && GoodSuffix(env) ? env : ".orig";
	o->how.backupControl = control;
	if (control >= 0)
		return true;
	fprintf(stderr,
	        "ppdedit-inplace: invalid backup type '%s' in %s: none, numbered, existing or "
	        "simple (a suffix is given with -S)\n",
	        word, from);
	return false;
}

// Takes a default asked for with -o: false, said, when it can not be set.
bool TakeDefault(char *word, Options *o)
{
	std::string given = word;
	DefaultAsked asked;
	const char *why = TakeDefaultWord(word, &asked);
	for (std::size_t i = 0; !why && i < o->defaults.size(); i++)
		why = DefaultsClash(o->defaults[i], asked);
	if (!why) {
		o->defaults.push_back(asked);
		return true;
	}
	fprintf(stderr, "ppdedit-inplace: -o %s %s\n", given.c_str(), why);
	o->said = true;
	return false;
}

// Takes the longest wait for another program's lock: a whole number of
// seconds.
bool TakeWait(const char *seconds, Options *o)
{
	char *end;
	errno = 0;
	long n = strtol(seconds, &end, 10);
	if (isdigit(static_cast<unsigned char>(*seconds)) && !*end && errno == 0 && n <= INT_MAX) {
		o->how.wait = static_cast<int>(n);
		return true;
	}
	fputs("ppdedit-inplace: --wait takes a whole number of seconds\n", stderr);
	return false;
}

// Takes one option; false for one that is not known.
bool TakeOption(int c, Options *o, std::vector<char *> *words)
{
	switch (c) {
	case 'o':
		return TakeDefault(optarg, o);
	case 'c':
		o->how.flags |= kNoCheck;
		return true;
	case 'n':
		o->how.flags |= kDryRun;
		return true;
	case 'q':
		o->quiet = true;
		return true;
	case 's':
		o->how.flags |= kSync;
		return true;
	case 'p':
		o->how.flags |= kPrefix;
		return true;
	case 'e':
		o->how.flags |= kKeepEndings;
		return true;
	case 'b':
		o->backups = true;
		return true;
	case 'B':
		o->backups = true;
		o->control = optarg;
		return true;
	case 'S':
		return TakeSuffix(optarg, o);
	case 'd':
		o->diff = true;
		return true;
	case 'r':
		o->recursive = true;
		return true;
	case 'P':
		words->push_back(optarg);
		return true;
	case 'w':
		return TakeWait(optarg, o);
	case 'h':
		fputs(kUsage, stdout);
		break;
	case 'v':
		printf("ppdedit-inplace %s\n", PPDEDIT_VERSION);
		break;
	default:
		return false;
	}
	o->done = true;
	return true;
}

// Says that the command line lacks the "--" before the files: false. A
// command line of no words at all gets the usage screen instead.
bool NoDashes(int argc, Options *o)
{
	if (argc < 2)
		return false;
	fputs("ppdedit-inplace: missing '--' before the files\n"
	      "Try 'ppdedit-inplace --help' for more information.\n",
	      stderr);
	o->said = true;
	return false;
}

// Reads the options wherever they stand before "--", and the other words
// in order into words; the words of -P are parameters, from *forcedFrom on.
// *files is where the files start after "--". False on a usage error.
bool ReadOptions(int argc, char *argv[], Options *o, std::vector<char *> *words, int *files,
                 std::size_t *forcedFrom)
{
	static const option kLong[] = {{"default", required_argument, nullptr, 'o'},
	                               {"no-check", no_argument, nullptr, 'c'},
	                               {"dry-run", no_argument, nullptr, 'n'},
	                               {"quiet", no_argument, nullptr, 'q'},
	                               {"parameter", required_argument, nullptr, 'P'},
	                               {"prefix", no_argument, nullptr, 'p'},
	                               {"keep-endings", no_argument, nullptr, 'e'},
	                               {"backup", optional_argument, nullptr, 'B'},
	                               {"suffix", required_argument, nullptr, 'S'},
	                               {"diff", no_argument, nullptr, 'd'},
	                               {"recursive", no_argument, nullptr, 'r'},
	                               {"sync", no_argument, nullptr, 's'},
	                               {"wait", required_argument, nullptr, 'w'},
	                               {"help", no_argument, nullptr, 'h'},
	                               {"version", no_argument, nullptr, 'v'},
	                               {nullptr, 0, nullptr, 0}};
	*o = {{0, nullptr, kBackupNone, -1, nullptr, -1, nullptr, -1}, false, nullptr, false, false,
	      false, false, false, {}};
	*forcedFrom = SIZE_MAX;
	const char *lastValue = nullptr;
	int c;
	// "-": the other words come back in order, as the value of option 1.
	while ((c = getopt_long(argc, argv, "-o:nqP:pebS:r", kLong, nullptr)) != -1) {
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
	       (optind > 1 && strcmp(argv[optind - 1], "--") == 0 &&
	        argv[optind - 1] != lastValue) ||
	       NoDashes(argc, o);
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

// Builds the command line for one file of a run that sets defaults: no
// mode, no parameter file. False, said, when the words before "--" or the
// options give an edit of lines too.
bool BuildDefaultsRun(char *argv0, const std::vector<char *> &words, const Options &o,
                      Command *c)
{
	if (!words.empty() || (o.how.flags & (kPrefix | kKeepEndings))) {
		fputs("ppdedit-inplace: -o sets defaults by itself: no parameter file, /R, -P, -p or -e\n",
		      stderr);
		return false;
	}
	static char noFile[] = "";
	c->run.assign({argv0, noFile, noFile, noFile, nullptr});
	c->fileAt = 1;
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

// The length of the UTF-8 character that starts at p, or 0 when the bytes
// there are none: a byte that cannot start one, a sequence cut short, an
// overlong form, a surrogate, or a code point past U+10FFFF.
std::size_t Utf8Length(const unsigned char *p)
{
	unsigned char c = p[0];
	std::size_t len = c < 0x80   ? 1
	                  : c < 0xc2 ? 0
	                  : c < 0xe0 ? 2
	                  : c < 0xf0 ? 3
	                  : c < 0xf5 ? 4
	                             : 0;
	for (std::size_t i = 1; i < len; i++)
		if ((p[i] & 0xc0) != 0x80)
			return 0;
	bool outside = (c == 0xe0 && p[1] < 0xa0) || (c == 0xed && p[1] > 0x9f) ||
	               (c == 0xf0 && p[1] < 0x90) || (c == 0xf4 && p[1] > 0x8f);
	return outside ? 0 : len;
}

// How many bytes at p a terminal could take for something else, and so are
// escaped: a control character, C1 (U+0080 to U+009F) as well as C0 and
// DEL, or a byte that is not UTF-8. 0 for a character printed as it is.
std::size_t Unprintable(const unsigned char *p)
{
	std::size_t len = Utf8Length(p);
	if (len == 0)
		return 1;
	bool control = len == 1 ? IsControl(*p) : len == 2 && p[0] == 0xc2 && p[1] < 0xa0;
	return control ? len : 0;
}

// Appends the n bytes at p to s, escaped: \n, \t, \\, octal for the rest.
void AppendEscaped(std::string *s, const unsigned char *p, std::size_t n)
{
	char octal[8];
	for (std::size_t i = 0; i < n; i++) {
		unsigned char c = p[i];
		if (c == '\n' || c == '\t' || c == '\\')
			*s += {'\\', c == '\n' ? 'n' : c == '\t' ? 't' : '\\'};
		else
			s->append(octal, static_cast<std::size_t>(
			                         snprintf(octal, sizeof octal, "\\%03o", c)));
	}
}

// Text as it is, or, when it holds control characters, bytes that are not
// UTF-8 or a backslash, with those escaped as ls escapes them, so that one
// report line is one file, a name cannot drive the terminal, and an escaped
// name is never another name as it is.
std::string Escaped(const char *text)
{
	const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
	auto plain = [](unsigned char c) { return c >= 0x20 && c < 0x7f && c != '\\'; };
	if (std::all_of(p, p + strlen(text), plain))
		return text;
	std::string s;
	while (*p) {
		std::size_t n = *p == '\\' ? 1 : Unprintable(p);
		if (n)
			AppendEscaped(&s, p, n);
		else
			s.append(reinterpret_cast<const char *>(p), n = Utf8Length(p));
		p += n;
	}
	return s;
}

void PrintText(const char *text)
{
	fputs(Escaped(text).c_str(), stdout);
}

// Refuses a parameter that holds a CR or an LF: filled into a line, it
// would write lines of its own that no parameter file holds. False, said.
bool OneLineParameters(const Command &c)
{
	for (std::size_t i = c.fileAt + 3; i + 1 < c.run.size(); i++) {
		if (!strpbrk(c.run[i], "\r\n"))
			continue;
		fprintf(stderr, "ppdedit-inplace: the parameter for !%zu! holds a line break: %s\n",
		        i - c.fileAt - 3, Escaped(c.run[i]).c_str());
		return false;
	}
	return true;
}

// Says once that the report cannot be written.
void ReportError()
{
	static bool said;
	if (!said)
		fputs("ppdedit-inplace: standard output: write error\n", stderr);
	said = true;
}

// Sends the report on at once, so that a run killed later has reported
// every file it changed. False, said, when it cannot be written.
bool SendReport()
{
	if (fflush(stdout) == 0)
		return true;
	ReportError();
	return false;
}

// Prints what became of one file. False, said, when the report cannot be
// written.
bool Report(int outcome, const char *file, const char *said, bool quiet)
{
	static const char *const kHow[] = {"failed: ",    "changed: ",   "unchanged: ", "unchanged: ",
	                                   "unchanged: ", "unchanged: ", "skipped: "};
	static const char *const kWhy[] = {"",
	                                   "",
	                                   "no anchor or key matched",
	                                   "the marker is there",
	                                   "already as the edit makes it",
	                                   "a backup",
	                                   ""};
	if (quiet && outcome != kEditFailed)
		return true;
	fputs(kHow[outcome], stdout);
	PrintText(file);
	// What an edit that succeeds says goes with the outcome, or instead of
	// its "nothing matched"; a marked file's message is the outcome itself.
	if (outcome == kEditMarked)
		said = "";
	const char *why = outcome == kEditUnchanged && *said ? "" : kWhy[outcome];
	if (outcome == kEditFailed)
		fputs(": ", stdout);
	else if (*why || *said)
		printf(" (%s%s", why, *why && *said ? "; " : "");
	PrintText(said);
	if (outcome != kEditFailed && (*why || *said))
		putchar(')');
	putchar('\n');
	return SendReport();
}

// Stops the run when the diffs cannot be kept in memory: false, said.
bool DiffsFail()
{
	fputs("ppdedit-inplace: the diffs can not be kept in memory\n", stderr);
	return false;
}

// What the run goes on with: the command line for one file, the options,
// where ppdedit's messages are caught, and where a diff is put first.
struct Run {
	Command *cmd;
	const Options *opt;
	FILE *catcher;
	char *said;
	bool failed;
	long counts[kOutcomes]; // files by outcome, for the summary
	long inPart;            // changed files with keys not found
};

// Reports what became of one file, and counts it. False when the report
// cannot be written.
bool Tell(Run *r, int outcome, const char *file, const char *said)
{
	r->counts[outcome]++;
	r->failed = r->failed || outcome == kEditFailed;
	return Report(outcome, file, said, r->opt->quiet);
}

// The name of the file at path, after its folders.
const char *BaseName(const char *path)
{
	const char *slash = strrchr(path, '/');
	return slash ? slash + 1 : path;
}

// Whether the file found as path, or as name in a walk, bears a backup's
// name, when backups are made: the backups of an earlier run, taken in by a
// glob, are not edited (a backup of a backup), nor failed (every such run
// would fail).
bool IsBackup(const Run &r, const char *path, const char *name)
{
	const InPlace &how = r.opt->how;
	return how.backupControl != kBackupNone &&
	       IsBackupName(name ? name : BaseName(path), how.backup);
}

// Copies the diff of the file just changed after its report line. False,
// said, on an error.
bool PrintDiff(int fd)
{
	static char buf[64 * 1024];
	off_t at = 0;
	ssize_t n;
	while ((n = pread(fd, buf, sizeof buf, at)) > 0) {
		fwrite(buf, 1, static_cast<std::size_t>(n), stdout);
		at += n;
	}
	return n == 0 ? SendReport() : DiffsFail();
}

// Edits one file, named path in the report: found by its path, or as name
// in the open folder folder. False when the report cannot be written.
bool EditOne(Run *r, char *path, int folder, const char *name)
{
	Command *c = r->cmd;
	InPlace how = r->opt->how;
	if (IsBackup(*r, path, name))
		return Tell(r, kPassedBackup, path, "");
	std::string label = Escaped(path);
	how.folder = folder;
	how.name = name;
	how.label = label.c_str();
	if (how.diff >= 0 && (ftruncate(how.diff, 0) != 0 || lseek(how.diff, 0, SEEK_SET) != 0))
		return DiffsFail();
	c->run[c->fileAt] = c->run[c->fileAt + 1] = path;
	int outcome = Catching(r->catcher, r->said, [&] {
		return EditInPlace(static_cast<int>(c->run.size()) - 1, c->run.data(), how);
	});
	r->inPart += outcome == kEditChanged && EditInPart();
	bool shown = r->opt->quiet || outcome != kEditChanged || how.diff < 0;
	bool ok = Tell(r, outcome, path, r->said) && (shown || PrintDiff(how.diff));
	FileReported();
	return ok;
}

// Reports an entry that a walk cannot go on with, saying why (a format
// that names it). False when the report cannot be written.
bool WalkFails(Run *r, const std::string &path, const char *why)
{
	snprintf(r->said, kSaidMax, why, path.c_str());
	return Tell(r, kEditFailed, path.c_str(), r->said);
}

bool FolderFails(Run *r, const std::string &path)
{
	return WalkFails(r, path, "%s is a folder that can not be read.");
}

// Reports an entry that a walk cannot look at, errno saying why in the
// system's words (which hold no '%').
bool EntryFails(Run *r, const std::string &path)
{
	return WalkFails(r, path, strerror(errno));
}

// The names of an open folder, in byte order, the folder closed. False
// when it cannot be read.
bool SortedNames(int dir, std::vector<std::string> *names)
{
	DIR *d = fdopendir(dir);
	if (!d) {
		close(dir);
		return false;
	}
	errno = 0;
	while (dirent *e = readdir(d))
		if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
			names->emplace_back(e->d_name);
	bool ok = errno == 0;
	closedir(d);
	std::sort(names->begin(), names->end());
	return ok;
}

bool Walk(Run *r, int dir, const std::string &path);

// What a walk passes over with a word, as of status st: a link, which it
// never follows, or what is named as a PPD but is no file. Null for what
// it passes over without one (another kind of file).
const char *Skipped(const struct stat &st, const char *name)
{
	if (S_ISLNK(st.st_mode))
		return "a symbolic link";
	if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode) || !IsPpdName(name))
		return nullptr;
	return S_ISFIFO(st.st_mode) ? "a FIFO" : S_ISSOCK(st.st_mode) ? "a socket" : "a device";
}

// Walks into the entry name of the open folder dir, named path: a folder
// is walked, not through a link; a PPD edited; a link, or what is named as
// a PPD but is none, reported as skipped; anything else passed over.
bool WalkEntry(Run *r, int dir, const std::string &path, const char *name)
{
	struct stat st;
	std::string child = path + (path.back() == '/' ? "" : "/") + name;
	if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
		return EntryFails(r, child);
	bool wanted = S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && IsPpdName(name));
	// A file's path is only what the report calls it, but it must fit the
	// slot that holds it; the depth of a walk is bound with it.
	if (wanted && child.size() >= kPathMax)
		return WalkFails(r, child, "[ERROR] %s is too long.");
	if (S_ISDIR(st.st_mode)) {
		int sub = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
		return sub >= 0 ? Walk(r, sub, child) : FolderFails(r, child);
	}
	if (const char *what = Skipped(st, name))
		return Tell(r, kSkipped, child.c_str(), what);
	if (!S_ISREG(st.st_mode) || !IsPpdName(name))
		return true;
	return EditOne(r, &child[0], dir, name);
}

// Walks the open folder dir, named path, in name order; closes it. False
// when the report cannot be written.
bool Walk(Run *r, int dir, const std::string &path)
{
	int keep = fcntl(dir, F_DUPFD_CLOEXEC, 3);
	std::vector<std::string> names;
	if (keep < 0 || !SortedNames(dir, &names)) {
		if (keep >= 0)
			close(keep);
		return FolderFails(r, path);
	}
	bool ok = true;
	for (std::size_t i = 0; ok && i < names.size(); i++)
		ok = WalkEntry(r, keep, path, names[i].c_str());
	close(keep);
	return ok;
}

// Says on standard error, unless quiet, how many files the run took and what
// became of them; and when none of many matched, that it may have been
// asked for the wrong lines.
void Summarize(const Run &r)
{
	const long *n = r.counts;
	long unchanged = n[kEditUnchanged] + n[kEditMarked] + n[kEditAlready] + n[kPassedBackup];
	long files = n[kEditChanged] + unchanged + n[kEditFailed];
	bool dry = r.opt->how.flags & kDryRun;
	if (r.opt->quiet)
		return;
	fprintf(stderr, "%ld file%s: %ld %s", files, files == 1 ? "" : "s", n[kEditChanged],
	        dry ? "would change" : "changed");
	if (r.inPart)
		fprintf(stderr, " (%ld only in part)", r.inPart);
	fprintf(stderr, ", %ld unchanged, %ld failed", unchanged, n[kEditFailed]);
	if (n[kSkipped])
		fprintf(stderr, ", %ld skipped", n[kSkipped]);
	if (n[kEditUnchanged] > 1 && n[kEditUnchanged] == unchanged - n[kPassedBackup] &&
	    n[kEditChanged] == 0)
		fputs(r.opt->defaults.empty() ? "; no anchor or key matched in any"
		                              : "; none has the options",
		      stderr);
	fputc('\n', stderr);
}

// Edits every file in turn, walking the folders among them when asked;
// kExitFailed when any of them failed.
int EditAll(Run *r)
{
	for (int i = 0; i < r->cmd->count; i++) {
		char *path = r->cmd->files[i];
		int dir = r->opt->recursive ? OpenFolderToWalk(path) : -2;
		bool ok = dir == -2  ? EditOne(r, path, -1, nullptr)
		          : dir >= 0 ? Walk(r, dir, path)
		                     : FolderFails(r, path);
		if (!ok)
			return kExitFailed;
	}
	return r->failed ? kExitFailed : kExitOk;
}

// After a parameter file that could not serve: when it looks like a backup
// suffix given to -b, as 1.3.0 took one, says how one is given now.
void HintSuffix(const Command &c, const Options &o)
{
	const char *para = c.run[c.fileAt + 2];
	if (o.backups && !o.control && para[0] == '.' && !strchr(para, '/') && access(para, F_OK) != 0)
		fprintf(stderr, "ppdedit-inplace: -b takes no suffix: -S %s gives one\n",
		        Escaped(para).c_str());
}

// Reads the parameter file once, then edits the files. kExitUsage, before
// any file is opened, when the parameter file cannot serve.
int RunAll(Command *c, Options *o)
{
	static char said[kSaidMax];
	FILE *catcher = fmemopen(said, sizeof said, "w");
	if (o->diff)
		o->how.diff = memfd_create("ppdedit-inplace-diff", MFD_CLOEXEC);
	if (!catcher || (o->diff && o->how.diff < 0)) {
		fputs("ppdedit-inplace: out of memory\n", stderr);
		return kExitFailed;
	}
	Run r = {c, o, catcher, said, false, {}, 0};
	int status = kExitUsage;
	if (!o->defaults.empty())
		KeepDefaults(o->defaults.data(), static_cast<int>(o->defaults.size()));
	if (!o->defaults.empty() || Catching(catcher, said, [&] {
		    return KeepParameterFile(static_cast<int>(c->run.size()) - 1, c->run.data(),
		                             o->how.flags & kKeepEndings);
	    })) {
		status = EditAll(&r);
		Summarize(r);
	} else {
		fprintf(stderr, "ppdedit-inplace: %s\n", said);
		HintSuffix(*c, *o);
	}
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
	bool read = ReadOptions(argc, argv, &o, &words, &files, &forcedFrom);
	if (read && !o.done && !o.defaults.empty() && !BuildDefaultsRun(argv[0], words, o, &c))
		return kExitUsage;
	if (!read || (!o.done && o.defaults.empty() && !BuildRun(argv[0], words, forcedFrom, &c))) {
		if (!o.said)
			fputs(kUsage, stderr);
		return kExitUsage;
	}
	if (o.done)
		return fflush(stdout) == 0 ? kExitOk : (ReportError(), kExitFailed);
	if (!SettleBackups(&o) || !OneLineParameters(c))
		return kExitUsage;
	c.files = argv + files;
	c.count = argc - files;
	int status = RunAll(&c, &o);
	if (fflush(stdout) != 0 || ferror(stdout)) {
		ReportError();
		return kExitFailed;
	}
	return status;
}
