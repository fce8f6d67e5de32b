// End-to-end table: each row runs the built binary in a fresh folder with a
// chosen argv (argv[0] included) and compares its stdout, its exit status,
// that stderr stays empty, and every file of the folder afterwards.
#include "gzip_text.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Files = std::map<std::string, std::string>;

struct Case {
	const char *name;
	Files files;                   // written into the folder first
	std::string setup;             // then this shell command runs there
	std::vector<std::string> args; // argv, argv[0] included
	std::string out;               // expected stdout
	Files changed;                 // files created or changed, with their bytes
	// While the tool runs, this shell command runs in the folder, with the
	// tool's pid in $PID and the binary in $PPDEDIT.
	std::string during = "";
	int signal = 0;          // the signal the tool must die by; 0: exit status 0
	rlim_t fileLimit = 0;    // RLIMIT_FSIZE in bytes for the tool, when not 0
	bool closeStdout = false; // start the tool with descriptor 1 closed
	std::string after = "";   // a shell check in the folder once the tool has run
	std::string stdoutFile = ""; // the file of the folder that stdout appends to, if any
	int exit = 0;                // the exit status the run must end with
	std::string err = "";        // what it must print on stderr
	// Commands the row needs ("root": to run as root); without them it is
	// skipped, but fails under CI, which installs them.
	std::string needs = "";
};

// A file's expected bytes that the row does not fix (runs that race).
const std::string kAny = "<any bytes>";

std::string Slurp(int fd)
{
	std::string s;
	char buf[4096];
	ssize_t n;
	while ((n = read(fd, buf, sizeof buf)) > 0)
		s.append(buf, static_cast<std::size_t>(n));
	return s;
}

// Every entry of the folder: a file's bytes, or what kind of entry it is.
Files Snapshot(const std::string &dir)
{
	Files files;
	DIR *d = opendir(dir.c_str());
	while (dirent *e = readdir(d)) {
		std::string name = e->d_name, path = dir + "/" + name;
		struct stat st;
		if (name == "." || name == ".." || lstat(path.c_str(), &st) != 0)
			continue;
		if (S_ISREG(st.st_mode)) {
			std::ifstream in(path, std::ios::binary);
			files[name] = std::string(std::istreambuf_iterator<char>(in), {});
		} else {
			files[name] = S_ISDIR(st.st_mode)   ? "<dir>"
			              : S_ISLNK(st.st_mode) ? "<link>"
			                                    : "<other>";
		}
	}
	closedir(d);
	return files;
}

struct Result {
	std::string out, err;
	int status;
};

// The program that a row's argv[0] names.
const char *Binary(const std::string &name)
{
	if (name == "ppdedit-inplace")
		return PPDEDIT_INPLACE_BIN;
	return name == "strace" ? "/usr/bin/strace" : name == "setpriv" ? "/usr/bin/setpriv" : PPDEDIT_BIN;
}

// Runs the tool in dir with only descriptors 0 to 2 open, as a shell would
// start it, and the case's limits; runs the case's "during" command meanwhile.
Result Run(const std::string &dir, const Case &c)
{
	int out[2], err[2];
	if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
		std::abort();
	std::vector<char *> argv;
	for (const auto &a : c.args)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);
	const std::string so = dir + "/" + c.stdoutFile;
	// vfork: the test process is large, and the child only sets up and execs.
	pid_t pid = vfork();
	if (pid == 0) {
		dup2(out[1], 1);
		dup2(err[1], 2);
		close_range(3, ~0U, 0);
		if (c.closeStdout)
			close(1);
		if (!c.stdoutFile.empty())
			dup2(open(so.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666), 1);
		struct rlimit noCore = {0, 0};
		setrlimit(RLIMIT_CORE, &noCore);
		if (c.fileLimit) {
			struct rlimit rl = {c.fileLimit, c.fileLimit};
			setrlimit(RLIMIT_FSIZE, &rl);
		}
		if (chdir(dir.c_str()) == 0)
			execv(Binary(c.args[0]), argv.data());
		_exit(127);
	}
	close(out[1]);
	close(err[1]);
	if (!c.during.empty()) {
		setenv("PID", std::to_string(pid).c_str(), 1);
		setenv("PPDEDIT", PPDEDIT_BIN, 1);
		setenv("PPDEDIT_INPLACE", PPDEDIT_INPLACE_BIN, 1);
		EXPECT_EQ(std::system(("cd " + dir + " && " + c.during).c_str()), 0) << c.during;
	}
	Result r;
	r.out = Slurp(out[0]);
	r.err = Slurp(err[0]);
	close(out[0]);
	close(err[0]);
	waitpid(pid, &r.status, 0);
	return r;
}

// Whether the row can run here; a row that cannot is skipped, and fails
// under CI.
bool HasNeeds(const Case &c)
{
	std::istringstream words(c.needs);
	std::string need;
	while (words >> need) {
		bool ok = need == "root" ? geteuid() == 0
		                         : std::system(("command -v " + need + " > /dev/null").c_str()) == 0;
		if (!ok && std::getenv("CI"))
			ADD_FAILURE() << c.name << " needs " << need;
		if (!ok)
			return false;
	}
	return true;
}

// Whether a ppdedit-inplace run was asked for its failures only.
bool Quiet(const Case &c)
{
	for (const auto &a : c.args) {
		if (a == "--")
			break;
		if (a == "--quiet" || (a.size() > 1 && a[0] == '-' && a[1] != '-' &&
		                       a.find('q') != std::string::npos))
			return true;
	}
	return false;
}

// The summary that ends a ppdedit-inplace run's standard error, as far as
// the report fixes it: the counts of its lines.
std::string SummaryOf(const std::string &out, bool dry)
{
	std::map<std::string, long> n;
	long inPart = 0;
	std::istringstream lines(out);
	for (std::string line; std::getline(lines, line);) {
		std::string how = line.substr(0, line.find(": ") + 1);
		n[how]++;
		inPart += how == "changed:" && line.find(" not found)") != std::string::npos;
	}
	long files = n["changed:"] + n["unchanged:"] + n["failed:"];
	std::string s = std::to_string(files) + (files == 1 ? " file: " : " files: ") +
	                std::to_string(n["changed:"]) + (dry ? " would change" : " changed");
	if (inPart)
		s += " (" + std::to_string(inPart) + " only in part)";
	s += ", " + std::to_string(n["unchanged:"]) + " unchanged, " + std::to_string(n["failed:"]) +
	     " failed";
	if (n["skipped:"])
		s += ", " + std::to_string(n["skipped:"]) + " skipped";
	return s;
}

// A ppdedit-inplace run that reached its files ends standard error with a
// summary of the report, unless asked to be quiet: checked against the
// report, and cut off.
std::string WithoutSummary(const Case &c, const std::string &out, std::string err)
{
	bool dry = std::find(c.args.begin(), c.args.end(), "-n") != c.args.end() ||
	           std::find(c.args.begin(), c.args.end(), "--dry-run") != c.args.end();
	bool fixed = c.err.find(" files: ") != std::string::npos; // by the row itself
	bool inPlace = std::count(c.args.begin(), c.args.end(), "ppdedit-inplace") +
	               std::count(c.args.begin(), c.args.end(), PPDEDIT_INPLACE_BIN);
	if (!inPlace || c.exit == 2 || c.signal || Quiet(c) || fixed)
		return err;
	std::size_t at = err.rfind('\n', err.size() - 2);
	at = at == std::string::npos ? 0 : at + 1;
	if (c.out == kAny || !c.stdoutFile.empty()) // a report the row does not fix
		EXPECT_TRUE(std::regex_search(err.substr(at), std::regex("^[0-9]+ files?: "))) << err;
	else
		EXPECT_EQ(err.substr(at, SummaryOf(out, dry).size()), SummaryOf(out, dry));
	return err.substr(0, at);
}


// What a run printed, each diff header's time, once it is in diff's form,
// written "<time>": a row cannot know when it runs.
std::string Undated(const std::string &out)
{
	static const std::regex kHeader("((---|\\+\\+\\+) [^\t]*\t)[0-9]{4}-[0-9]{2}-[0-9]{2} "
	                                "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{9} [-+][0-9]{4}");
	std::istringstream lines(out);
	std::string s, line;
	while (std::getline(lines, line)) {
		std::smatch m;
		s += std::regex_match(line, m, kHeader) ? m.str(1) + "<time>" : line;
		s += lines.eof() ? "" : "\n";
	}
	return s;
}

void Check(const Case &c)
{
	if (!HasNeeds(c))
		GTEST_SKIP() << "needs " << c.needs;
	char tmpl[] = "/tmp/ppdedit-e2e-XXXXXX";
	std::string dir = mkdtemp(tmpl);
	for (const auto &[name, bytes] : c.files)
		std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
	if (!c.setup.empty()) {
		ASSERT_EQ(std::system(("cd " + dir + " && " + c.setup).c_str()), 0) << c.setup;
	}
	Files want = Snapshot(dir);
	for (const auto &[name, bytes] : c.changed)
		want[name] = bytes;
	Result r = Run(dir, c);
	// What the run printed, for the check after it, when the row fixes none.
	if (c.out == kAny)
		std::ofstream(dir + "/out.txt", std::ios::binary) << r.out;
	if (!c.after.empty()) {
		setenv("PPDEDIT", PPDEDIT_BIN, 1);
		setenv("PPDEDIT_INPLACE", PPDEDIT_INPLACE_BIN, 1);
		EXPECT_EQ(std::system(("cd " + dir + " && " + c.after).c_str()), 0) << c.after;
	}
	if (c.out != kAny) {
		EXPECT_EQ(Undated(r.out), c.out);
	}
	if (c.err == kAny)
		EXPECT_NE(r.err, "");
	else
		EXPECT_EQ(WithoutSummary(c, r.out, r.err), c.err);
	if (c.signal)
		EXPECT_TRUE(WIFSIGNALED(r.status) && WTERMSIG(r.status) == c.signal) << r.status;
	else
		EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == c.exit) << r.status;
	Files got = Snapshot(dir);
	EXPECT_EQ(got.size(), want.size());
	for (const auto &[name, bytes] : want) {
		auto it = got.find(name);
		ASSERT_NE(it, got.end()) << name << " is missing";
		EXPECT_TRUE(bytes == kAny || it->second == bytes)
		        << name << ": got " << it->second.size() << " bytes, want " << bytes.size();
	}
	std::filesystem::remove_all(dir);
}

const std::string kUsageTail = "  /R \t\tLine Replace Mode\n"
                               "  1 \t\tinput ppd file name\n"
                               "  2 \t\toutput ppd file name\n"
                               "  3 \t\tparamerter file name\n"
                               "  4 5... \tparamerter\n";

std::string Usage(const std::string &name)
{
	return "usage:  " + name + " [/R] 1 2 3 4 [5...]\n" + kUsageTail;
}

std::vector<std::string> AddArgs(std::vector<std::string> params = {})
{
	std::vector<std::string> a = {"ppdedit", "in.ppd", "out.ppd", "p.txt"};
	a.insert(a.end(), params.begin(), params.end());
	return a;
}

std::vector<std::string> ReplaceArgs(std::vector<std::string> params = {})
{
	std::vector<std::string> a = {"ppdedit", "/R", "in.ppd", "out.ppd", "p.txt"};
	a.insert(a.end(), params.begin(), params.end());
	return a;
}

const std::string kOk = "Output : out.ppd\n";
const std::string kPpd = "*PPD-Adobe: \"4.3\"\n*OpenGroup: General\n*DefaultPageSize: Letter\n"
                         "*DefaultResolution: 300dpi\n*CloseGroup: General\n";
const std::string kHeadCrlf = "*PPD-Adobe: \"4.3\"\r\n*OpenGroup: General\r\n";
const std::string kPpdCrlf =
        kHeadCrlf +
        "*DefaultPageSize: Letter\r\n*DefaultResolution: 300dpi\r\n*CloseGroup: General\r\n";
const std::string kHead = "*PPD-Adobe: \"4.3\"\n*OpenGroup: General\n";
const std::string kTail =
        "*DefaultPageSize: Letter\n*DefaultResolution: 300dpi\n*CloseGroup: General\n";
const std::string kAdd = "*Marker\n*OpenGroup: General\n*T !0! !1!\n";
const std::string kReplace = "*DefaultPageSize: Letter\n*DefaultPageSize: !0!\n"
                             "*DefaultResolution: 300dpi\n*DefaultResolution: !1!\n";
const std::string kNotFound = "[ERROR] p.txt can not read.\n";

std::string Repeat(char c, std::size_t n)
{
	return std::string(n, c);
}
// "././.../name" of exactly len bytes: a long name for a short path.
std::string LongName(std::size_t len, const std::string &name)
{
	std::size_t pad = len - name.size();
	std::string s = pad % 2 ? ".//" : "";
	while (s.size() < pad)
		s += "./";
	return s + name;
}

// Short lines that fill the first block, so that what follows crosses it.
const std::string kFiller = [] {
	std::string s;
	for (int i = 0; s.size() < 131000; i++)
		s += "*% filler line " + std::to_string(i) + "\n";
	return s;
}();

// A megabyte: twice what a block holds at once, and many times the output
// pipe. (Each test process builds the table, with some copies of this.)
const std::string kBig = [] {
	std::string s;
	for (int i = 0; i < 8; i++)
		s += kFiller;
	return s;
}();
const std::string kOld = "*% an older output\n";
const std::string kBigReplaced = "*% B5\n" + kBig.substr(17);

const std::string kBigFirst = "*% first\n" + kBig.substr(17) + "*% more input\n";
// Larger than a block, its anchor in the first: the run writes its output
// before it can have read the marker at its end, as its last line.
const std::string kBigMarked = kHead + kBig + kTail + "*Marker";
// The anchor after the first block, and much after it.
const std::string kLargeHead = kFiller + kFiller + kFiller + kFiller + kFiller + kHead;
// A marker that starts 4 bytes before the end of the first 512 KiB read.
const std::string kMarkerAcrossBlock = kHead + kBig.substr(0, 524284 - kHead.size() - 1) + "\n*Marker\n" + kTail;

// The temporary file that a run writes beside out.ppd.
const std::string kTemp = ".out.ppd.ppdedit-*";

// Waits, in a row's shell, until the condition cond holds, looking every
// 10 ms; the row fails after a minute. Rows wait for events, never for a
// time, so that they hold on a busy machine.
std::string Await(const std::string &cond)
{
	return "t=$(($(date +%s) + 60)) && until " + cond + "; do [ $(date +%s) -lt $t ] || exit 1; sleep 0.01; done && ";
}
// The number of flock locks held on file (waiting: waited for), from
// /proc/locks, where the file is known by its inode.
std::string Locks(const std::string &file, bool waiting)
{
	return "$(grep -c -E \"^[0-9]+: " + std::string(waiting ? " *-> " : "") + "FLOCK .*:$(stat -c %i " + file +
	       ") \" /proc/locks)";
}
// Waits until a process holds a lock on file, or until n wait for it.
std::string Locked(const std::string &file)
{
	return Await("[ " + Locks(file, false) + " -ge 1 ]");
}
std::string Waiting(const std::string &file, int n = 1)
{
	return Await("[ " + Locks(file, true) + " -ge " + std::to_string(n) + " ]");
}
// Holds a lock on file, in the background, until the file "go" appears (or
// two minutes have passed, should the row fail first).
std::string HeldLock(const std::string &file)
{
	return "(flock " + file + " sh -c 't=$(($(date +%s) + 120)); until [ -e go ] || [ $(date +%s) -ge $t ]; do sleep 0.01; done' "
	       "> /dev/null 2>&1 &) && " + Locked(file) + "true";
}
// Waits until the tool has exited.
const std::string kExited = Await("[ \"$(cut -d' ' -f3 /proc/$PID/stat)\" = Z ]");

// A run under strace: $C is the tool, strace's child once it runs the tool
// (strace may first start a child of its own, to probe the kernel).
const std::string kTraced = Await("C=$(for c in $(cat /proc/$PID/task/$PID/children); do grep -qs '^ppdedit' /proc/$c/comm && "
                                  "echo $c; done) && [ -n \"$C\" ]");
// Waits until that tool, stopped by strace on the system call numbered nr,
// goes no further, then lets it go on (again and again, in case it stopped
// after the first SIGCONT) until it has ended.
std::string StoppedAt(long nr)
{
	return kTraced + Await("[ \"$(cut -d' ' -f3 /proc/$C/stat)\" = t ] && [ \"$(cut -d' ' -f1 /proc/$C/syscall)\" = " +
	                       std::to_string(nr) + " ]");
}
const std::string kGoOn = Await("! kill -CONT $C 2> /dev/null") + "true";
// Strace, as a row's argv, before a command of the tool.
std::vector<std::string> Traced(std::vector<std::string> args)
{
	// (The leak checker of a sanitizer build cannot run under ptrace.)
	std::vector<std::string> a = {"strace", "-f", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0"};
	a.insert(a.end(), args.begin(), args.end());
	return a;
}

// Holds the run in the middle of its output: its input is the FIFO f, which
// the shell keeps open on descriptor 3 once it has fed it big.ppd, and
// waits until the file that the run writes holds something.
std::string Holding(const std::string &written)
{
	return "exec 3>f && cat big.ppd >&3 && " + Await("[ -s " + written + " ]");
}
// The same for an output written in place, which is staged in memory until
// the run ends: the wait is for the stage.
const std::string kHoldingStage = "exec 3>f && cat big.ppd >&3 && " + Await("ls -l /proc/$PID/fd | grep -q memfd:");

// Starts a second run on out.ppd, a file with two links and so written in
// place, while the first is held in the middle of its output, then gives
// the first the rest of its input. The second must wait for the first to
// finish, and its output must be what is left, whole.
const std::string kSecondWriter =
        kHoldingStage + "{ \"$PPDEDIT\" /R in.ppd out.ppd p.txt B5 > second.txt 3>&- & } && " + Waiting("out.ppd") +
        "echo '*% more input' >&3 && exec 3>&- && wait";

const std::string kA4 = kHead + "*DefaultPageSize: A4\n*DefaultResolution: !1!\n*CloseGroup: General\n";
// ppdedit-inplace refuses a placeholder that no parameter fills: its rows
// replace one line.
const std::string kPageSize = "*DefaultPageSize: Letter\n*DefaultPageSize: !0!\n";
const std::string kA4Only = kHead + "*DefaultPageSize: A4\n*DefaultResolution: 300dpi\n*CloseGroup: General\n";
const std::string kLong = Repeat('v', 5200);
const std::string kTooLong = "[ERROR] p.txt has a line too long after filling in parameters.\n";

Case Gz(const char *name, Files files, std::vector<std::string> args, std::string out,
        Files changed, std::string after = "")
{
	Case c{name, std::move(files), "", std::move(args), std::move(out), std::move(changed)};
	c.after = std::move(after);
	return c;
}

// Gives file a mode, and as root another owner and group, and notes them;
// the check that they are still the file's.
std::string Owned(const std::string &file)
{
	return "chmod 640 " + file + " && (chown 1234:5678 " + file + " 2>/dev/null || true) && stat -c %u:%g:%a " +
	       file + " > was";
}
std::string OwnerKept(const std::string &file)
{
	return "[ \"$(stat -c %u:%g:%a " + file + ")\" = \"$(cat was)\" ]";
}

// A row that runs ppdedit-inplace with args after its name.
Case InPlace(const char *name, Files files, std::string setup, std::vector<std::string> args, std::string out,
             Files changed, int exit = 0, std::string after = "", std::string during = "")
{
	Case c{name, std::move(files), std::move(setup), {"ppdedit-inplace"}, std::move(out), std::move(changed)};
	c.args.insert(c.args.end(), args.begin(), args.end());
	c.exit = exit;
	c.after = std::move(after);
	c.during = std::move(during);
	return c;
}

// Notes the inode and modification time of the files, and checks them.
std::string Stamp(const std::string &files)
{
	return "touch -d 2001-01-01 " + files + " && stat -c %n:%i:%Y " + files + " > was";
}
std::string SameStamp(const std::string &files)
{
	return "[ \"$(stat -c %n:%i:%Y " + files + ")\" = \"$(cat was)\" ]";
}

// Eight more runs, each adding its own block to a.ppd while the row's own
// run adds one: with each file locked from its reading to its rename, no
// run loses another's block.
const std::string kRacers =
        "for k in 1 2 3 4 5 6 7 8; do \"$PPDEDIT_INPLACE\" --no-check p$k.txt -- a.ppd > /dev/null & done; wait";
const std::string kEveryBlock = "for k in 0 1 2 3 4 5 6 7 8; do [ $(grep -c \"^\\*T$k$\" a.ppd) = 1 ] || exit 1; done";
Files Racers()
{
	Files f = {{"a.ppd", kPpd}};
	for (int k = 0; k <= 8; k++)
		f["p" + std::to_string(k) + ".txt"] = "*M" + std::to_string(k) + "\n*OpenGroup: General\n*T" + std::to_string(k) + "\n";
	return f;
}

const std::string kGzOk = "Output : out.gz\n";
const std::string kGzPpd = Gzip(kPpd);
// A byte in the middle of the compressed data flipped; the stream cut short.
const std::string kGzCorrupt = kGzPpd.substr(0, 20) + static_cast<char>(kGzPpd[20] ^ 0x55) + kGzPpd.substr(21);
const std::string kGzTruncated = kGzPpd.substr(0, kGzPpd.size() - 6);
// The CRC in the trailer flipped; the first block given a block type that
// does not exist.
const std::string kGzBadCrc = kGzPpd.substr(0, kGzPpd.size() - 8) + static_cast<char>(kGzPpd[kGzPpd.size() - 8] ^ 0x55) +
                              kGzPpd.substr(kGzPpd.size() - 7);
const std::string kGzBadBlock = kGzPpd.substr(0, 10) + static_cast<char>(kGzPpd[10] | 0x06) + kGzPpd.substr(11);
// The same run again gives the same bytes, and gzip itself takes them.
const std::string kGzSame = "$PPDEDIT in.gz again.gz p.txt a b > /dev/null && cmp out.gz again.gz && "
                            "rm again.gz && gzip -t out.gz";

// A folder d that another user could swap, during the run, for a link to a
// folder of root's holding a file of the same name: that file must keep its
// bytes, owner and inode, and gain no neighbour.
const std::string kSwapSetup = "mkdir d other && printf old > d/passwd && echo secret > other/passwd && "
                               "chmod 700 other && stat -c %u:%g:%i other/passwd > was";
const std::string kSwap = "mv d d.real && ln -s other d";
const std::string kOtherKept = "[ \"$(cat other/passwd)\" = secret ] && [ \"$(ls -A other)\" = passwd ] && "
                               "[ \"$(stat -c %u:%g:%i other/passwd)\" = \"$(cat was)\" ] && cmp d.real/passwd want";
const Files kSwapped = {{"d", "<link>"}, {"d.real", "<dir>"}};

// Waits until the run blocks reading a FIFO, with its temporary file made.
const std::string kAtTemplate = Await("ls .out.ppd.ppdedit-* > /dev/null 2>&1 && grep -q pipe_read /proc/$PID/wchan");

// What a file has beside its bytes: owner, group, mode with its set bits,
// and every extended attribute (a security label too, as root).
std::string Dressed(const std::string &f)
{
	return "(chown 1234:5678 " + f + " 2>/dev/null || true) && setfacl -m u:1234:r " + f + " && setfattr -n user.x -v 1 " + f +
	       " && { [ $(id -u) != 0 ] || setfattr -n security.selinux -v ppd_t " + f + "; } && chmod 6750 " + f +
	       " && { stat -c %u:%g:%a " + f + "; getfattr -d -m - " + f + "; } > was";
}
std::string DressKept(const std::string &f)
{
	return "[ \"$({ stat -c %u:%g:%a " + f + "; getfattr -d -m - " + f + "; })\" = \"$(cat was)\" ]";
}
const std::string kAttrTools = "setfattr getfattr setfacl";

// A ppdedit-inplace run refused before any file, with one message.
Case Refused(const char *name, std::vector<std::string> args, const std::string &message,
             const std::string &para = kPageSize)
{
	Case c = InPlace(name, {{"a.ppd", kPpd}, {"p.txt", para}}, "", std::move(args), "", {}, 2);
	c.err = "ppdedit-inplace: " + message + "\n";
	return c;
}

Case Needing(Case c, std::string needs)
{
	c.needs = std::move(needs);
	return c;
}

// A small PPD that cupstestppd passes, with a constraint between two
// defaults.
const std::string kValid =
        "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
        "*LanguageEncoding: ISOLatin1\n*PCFileName: \"TEST.PPD\"\n*Manufacturer: \"Test\"\n*Product: \"(Test)\"\n"
        "*ModelName: \"Test\"\n*ShortNickName: \"Test\"\n*NickName: \"Test\"\n*PSVersion: \"(3010.000) 0\"\n"
        "*OpenGroup: General/General\n"
        "*OpenUI *PageSize/Media Size: PickOne\n*DefaultPageSize: Letter\n"
        "*PageSize Letter/US Letter: \"<</PageSize[612 792]>>setpagedevice\"\n"
        "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n*CloseUI: *PageSize\n"
        "*OpenUI *PageRegion/Media Size: PickOne\n*DefaultPageRegion: Letter\n"
        "*PageRegion Letter/US Letter: \"<</PageSize[612 792]>>setpagedevice\"\n"
        "*PageRegion A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n*CloseUI: *PageRegion\n"
        "*OpenUI *Duplex/Two-Sided: PickOne\n*DefaultDuplex: None\n*Duplex None/Off: \"<</Duplex false>>setpagedevice\"\n"
        "*Duplex DuplexNoTumble/Long Edge: \"<</Duplex true>>setpagedevice\"\n*CloseUI: *Duplex\n"
        "*CloseGroup: General\n*UIConstraints: *PageSize A4 *Duplex DuplexNoTumble\n"
        "*DefaultImageableArea: Letter\n*ImageableArea Letter/US Letter: \"12 12 600 780\"\n"
        "*ImageableArea A4/A4: \"12 12 583 830\"\n*DefaultPaperDimension: Letter\n"
        "*PaperDimension Letter/US Letter: \"612 792\"\n*PaperDimension A4/A4: \"595 842\"\n";
// The same in German too.
const std::string kValidDe = kValid + "*cupsLanguages: \"de\"\n*de.Translation PageSize/Papier: \"\"\n"
                             "*de.PageSize Letter/Letter: \"\"\n*de.PageSize A4/A4: \"\"\n"
                             "*de.Translation Duplex/Duplex: \"\"\n*de.Duplex None/Aus: \"\"\n"
                             "*de.Duplex DuplexNoTumble/Lang: \"\"\n";

std::string Replaced(std::string text, const std::string &from, const std::string &to)
{
	return text.replace(text.find(from), from.size(), to);
}

std::string Quoted(const std::vector<std::string> &words)
{
	std::string s;
	for (const auto &w : words)
		s += " '" + w + "'";
	return s;
}

// An edit of a.ppd (base) that the check refuses, naming the fault: a.ppd
// keeps its bytes, and cupstestppd, where installed, agrees: it passes
// a.ppd and fails what --no-check writes.
Case Refuses(const char *name, const std::string &para, std::vector<std::string> args, const std::string &fault,
             const std::string &base = kValid)
{
	std::string agrees = "{ ! command -v cupstestppd > /dev/null && [ -z \"$CI\" ]; } || { cupstestppd -q a.ppd && "
	                     "\"$PPDEDIT_INPLACE\" --no-check" + Quoted(args) + " -- b.ppd > /dev/null && ! cupstestppd -q b.ppd; }";
	args.insert(args.end(), {"--", "a.ppd"});
	return InPlace(name, {{"a.ppd", base}, {"p.txt", para}}, "cp a.ppd b.ppd", std::move(args),
	               "failed: a.ppd: " + fault + "\n", {{"b.ppd", kAny}}, 1, agrees);
}

// Sets defaults with -o in a.ppd (base): the line it prints, and a.ppd's
// new bytes (none: it keeps them).
Case Defaults(const char *name, std::vector<std::string> options, const std::string &out, const std::string &now = "",
              int exit = 0, const std::string &base = kValid)
{
	options.insert(options.end(), {"--", "a.ppd"});
	Files changed;
	if (!now.empty())
		changed["a.ppd"] = now;
	return InPlace(name, {{"a.ppd", base}}, "", std::move(options), out, changed, exit);
}

const std::string kName255 = std::string(251, 'n') + ".ppd";

// One row a line or two, easier to read than the formatter's layout.
// clang-format off
const Case kCases[] = {
	// Usage screen.
	{"NoArguments", {}, "", {"ppdedit"}, Usage("ppdedit"), {}},
	{"TwoArguments", {}, "", {"ppdedit", "a", "b"}, Usage("ppdedit"), {}},
	{"ReplaceWithTwoNames", {}, "", {"ppdedit", "/R", "a", "b"}, Usage("ppdedit"), {}},
	{"BackslashProgramName", {}, "", {"C:\\bin\\tools\\ppdedit.exe", "x"}, Usage("ppdedit.exe"), {}},
	{"SlashProgramName", {}, "", {"/usr/bin/ppdedit"}, Usage("/usr/bin/ppdedit"), {}},
	{"TrailingBackslash", {}, "", {"tools\\"}, Usage(""), {}},

	// Opening the files.
	{"InputAndParaMissing", {}, "", AddArgs(),
	 "[ERROR] in.ppd is not found.\n[ERROR] p.txt is not found.\n", {}},
	{"OutputFolderMissing", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "",
	 {"ppdedit", "in.ppd", "no/out.ppd", "p.txt"}, "[ERROR] no/out.ppd don't created.\n", {}},
	{"LowerCaseR", {}, "", {"ppdedit", "/r", "a", "b", "c"},
	 "[ERROR] /r is not found.\n[ERROR] b is not found.\n", {}},
	{"NameOf1023Bytes", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "",
	 {"ppdedit", LongName(1023, "in.ppd"), "out.ppd", "p.txt", "a", "b"}, kOk,
	 {{"out.ppd", kHead + "*T a b\n" + kTail}}},
	{"NamesOf1024Bytes", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "",
	 {"ppdedit", LongName(1024, "in.ppd"), LongName(1024, "out.ppd"), "p.txt"},
	 "[ERROR] " + LongName(1024, "in.ppd") + " is too long.\n[ERROR] " + LongName(1024, "out.ppd") +
	     " is too long.\n",
	 {}},
	{"OutputIsInput", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "",
	 {"ppdedit", "in.ppd", "./in.ppd", "p.txt"}, "[ERROR] ./in.ppd can not be both read and written.\n", {}},
	{"OutputIsSymlinkToInput", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "ln -s in.ppd l.ppd",
	 {"ppdedit", "/R", "in.ppd", "l.ppd", "p.txt"}, "[ERROR] l.ppd can not be both read and written.\n", {}},
	{"OutputIsHardLinkToInput", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "ln in.ppd h.ppd",
	 {"ppdedit", "in.ppd", "h.ppd", "p.txt"}, "[ERROR] h.ppd can not be both read and written.\n", {}},
	{"OutputIsParaFile", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "",
	 {"ppdedit", "in.ppd", "p.txt", "p.txt"}, "[ERROR] p.txt can not be both read and written.\n", {}},
	{"InputIsParaFile", {{"in.ppd", "*X\n*Y\n"}}, "", {"ppdedit", "/R", "in.ppd", "out.ppd", "in.ppd"},
	 kOk, {{"out.ppd", "*Y\n*Y\n"}}},

	// Files that the run was not asked to write stay as they are: the output
	// is touched only once the edit will be written, and never when it is
	// an open input under another name.
	{"LowerCaseRKeepsInput", {{"good.ppd", kPpd}, {"a4.txt", kReplace}}, "",
	 {"ppdedit", "/r", "good.ppd", "out.ppd", "a4.txt"}, "[ERROR] /r is not found.\n[ERROR] out.ppd is not found.\n", {}},
	{"DashRKeepsInput", {{"good.ppd", kPpd}, {"a4.txt", kReplace}}, "",
	 {"ppdedit", "-R", "good.ppd", "out.ppd", "a4.txt"}, "[ERROR] -R is not found.\n[ERROR] out.ppd is not found.\n", {}},
	{"SwappedNamesKeepInput", {{"good.ppd", kPpd}, {"p.txt", kAdd}}, "", {"ppdedit", "new.ppd", "good.ppd", "p.txt"},
	 "[ERROR] new.ppd is not found.\n", {}},
	{"OutputKeptWhenMarked", {{"in.ppd", kPpd + "*Marker\n"}, {"p.txt", kAdd}, {"out.ppd", kOld}}, "", AddArgs(),
	 "[ERROR] in.ppd is already change.\n", {}},
	{"OutputKeptWhenParaMissing", {{"in.ppd", kPpd}, {"out.ppd", kOld}}, "", ReplaceArgs(), "[ERROR] p.txt is not found.\n", {}},
	{"OutputKeptWhenParaEmpty", {{"in.ppd", kPpd}, {"p.txt", ""}, {"out.ppd", kOld}}, "", AddArgs(), kNotFound, {}},
	{"FifoOutputParaMissingDoesNotBlock", {{"in.ppd", kPpd}}, "mkfifo out.ppd", AddArgs(), "[ERROR] p.txt is not found.\n", {}},
	{"DevFdNamesInput", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "", {"ppdedit", "in.ppd", "/dev/fd/3", "p.txt", "A", "B"},
	 "[ERROR] /dev/fd/3 can not be both read and written.\n", {}},
	{"ProcSelfFdNamesInput", {{"in.ppd", kPpd}, {"p.txt", kReplace}}, "", {"ppdedit", "/R", "in.ppd", "/proc/self/fd/3", "p.txt"},
	 "[ERROR] /proc/self/fd/3 can not be both read and written.\n", {}},
	{"DevFdNamesParaFile", {{"in.ppd", kPpd}, {"p.txt", kReplace}}, "", {"ppdedit", "/R", "in.ppd", "/dev/fd/4", "p.txt"},
	 "[ERROR] /dev/fd/4 can not be both read and written.\n", {}},
	{"DevStdoutWhileStdoutClosed", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "", {"ppdedit", "in.ppd", "/dev/stdout", "p.txt"},
	 "", {}, "", 0, 0, true},

	// Signals: a write that the kernel refuses is a write error; a run ended
	// from outside leaves an empty output and dies by its signal.
	{"FileSizeLimit", {{"in.ppd", kBig}, {"p.txt", "*Nowhere\n"}}, "", ReplaceArgs(),
	 "[ERROR] out.ppd can not write.\n", {}, "", 0, 100000},
	{"FifoOutputReaderLeaves", {{"in.ppd", kBig}, {"p.txt", kAdd}}, "mkfifo o && (head -c 1000 o > /dev/null &)",
	 {"ppdedit", "in.ppd", "o", "p.txt"}, "[ERROR] o can not write.\n", {}},
	{"SigquitKeepsOldOutput", {{"big.ppd", kBig}, {"p.txt", "*Nowhere\n"}, {"out.ppd", kOld}}, "mkfifo f",
	 {"ppdedit", "/R", "f", "out.ppd", "p.txt"}, "", {}, Holding(kTemp) + "kill -QUIT $PID", SIGQUIT},
	{"SigtermRemovesNewOutput", {{"big.ppd", kBig}, {"p.txt", "*Nowhere\n"}}, "mkfifo f",
	 {"ppdedit", "/R", "f", "out.ppd", "p.txt"}, "", {}, Holding(kTemp) + "kill -TERM $PID", SIGTERM},
	{"SigtermKeepsLinkedOutput", {{"big.ppd", kBig}, {"p.txt", "*Nowhere\n"}, {"out.ppd", kOld}}, "mkfifo f && ln out.ppd l.ppd",
	 {"ppdedit", "/R", "f", "out.ppd", "p.txt"}, "", {}, kHoldingStage + "kill -TERM $PID", SIGTERM},
	{"ReaderSeesOldOutputWhole", {{"big.ppd", kBig}, {"p.txt", "*% filler line 0\n*% !0!\n"}, {"out.ppd", kOld}, {"old", kOld}},
	 "mkfifo f", {"ppdedit", "/R", "f", "out.ppd", "p.txt", "first"}, kOk, {{"out.ppd", kBigFirst}},
	 Holding(kTemp) + "cmp out.ppd old && echo '*% more input' >&3 && exec 3>&-"},
	{"SecondWriterWaitsInPlace", {{"big.ppd", kBig}, {"in.ppd", kBig}, {"p.txt", "*% filler line 0\n*% !0!\n"}, {"out.ppd", ""}},
	 "mkfifo f && ln out.ppd l.ppd", {"ppdedit", "/R", "f", "out.ppd", "p.txt", "first"}, kOk,
	 {{"out.ppd", kBigReplaced}, {"l.ppd", kBigReplaced}, {"second.txt", kOk}}, kSecondWriter},

	// Each kind of output, after a run that succeeds and one that fails once
	// it has begun: a regular file is replaced whole or left as it was; one
	// with several links, a FIFO or a device is written in place.
	{"ExistingOutputReplacedKeepsOwnerAndMode", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"out.ppd", kOld}},
	 Owned("out.ppd"), ReplaceArgs({"A4"}), kOk, {{"out.ppd", kA4}}, "", 0, 0, false, OwnerKept("out.ppd")},
	{"ExistingOutputKeptOnFailure", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"out.ppd", kOld}}, "", ReplaceArgs({kLong}), kTooLong, {}},
	{"NewOutputRemovedOnFailure", {{"in.ppd", kPpd}, {"p.txt", kReplace}}, "", ReplaceArgs({kLong}), kTooLong, {}},
	{"LinkedOutputWrittenInPlace", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"out.ppd", kOld}}, "ln out.ppd l.ppd",
	 ReplaceArgs({"A4"}), kOk, {{"out.ppd", kA4}, {"l.ppd", kA4}}, "", 0, 0, false, "[ $(stat -c %h l.ppd) = 2 ]"},
	{"LinkedOutputKeptOnFailure", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"out.ppd", kOld}}, "ln out.ppd l.ppd",
	 ReplaceArgs({kLong}), kTooLong, {}, "", 0, 0, false, "[ $(stat -c %h l.ppd) = 2 ]"},
	{"SymlinkedOutputTargetReplaced", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"t.ppd", kOld}}, "ln -s t.ppd out.ppd",
	 ReplaceArgs({"A4"}), kOk, {{"t.ppd", kA4}}},
	{"SymlinkedOutputKeptOnFailure", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"t.ppd", kOld}}, "ln -s t.ppd out.ppd",
	 ReplaceArgs({kLong}), kTooLong, {}},
	{"FifoOutputWritten", {{"in.ppd", kPpd}, {"p.txt", kReplace}}, "mkfifo out.ppd", ReplaceArgs({"A4"}), kOk,
	 {{"got", kA4}}, "cat out.ppd > got"},
	{"FifoOutputFailure", {{"in.ppd", kPpd}, {"p.txt", kReplace}}, "mkfifo out.ppd", ReplaceArgs({kLong}), kTooLong,
	 {{"got", ""}}, "cat out.ppd > got"},
	{"OutputIsStdoutPipe", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "", {"ppdedit", "in.ppd", "/dev/stdout", "p.txt"},
	 "[ERROR] /dev/stdout can not be both read and written.\n", {}},
	{"OutputIsStdoutFile", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "", {"ppdedit", "in.ppd", "/dev/stdout", "p.txt"},
	 "", {{"so.ppd", "[ERROR] /dev/stdout can not be both read and written.\n"}}, "", 0, 0, false, "", "so.ppd"},
	{"OutputIsDevNull", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "", {"ppdedit", "in.ppd", "/dev/null", "p.txt"},
	 "Output : /dev/null\n", {}},
	// A caller that holds a lock on the output (flock out.ppd ppdedit ...)
	// must not make the run wait for ever: a replaced output takes no lock.
	{"OutputLockedByCaller", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"out.ppd", kOld}},
	 HeldLock("out.ppd"), ReplaceArgs({"A4"}), kOk, {{"out.ppd", kA4}, {"go", ""}}, kExited + "touch go"},
	// A staged output waits for another program's lock ten seconds at most.
	{"StagedOutputLockedTooLong", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"out.ppd", kOld}}, "ln out.ppd l.ppd && " + HeldLock("out.ppd"),
	 ReplaceArgs({"A4"}), "[ERROR] out.ppd don't created.\n", {{"go", ""}}, "", 0, 0, false, "touch go"},
	// Add mode reads its input twice: a file that changes between the
	// passes is refused. The run is held before its first pass, reading
	// its parameter file from a FIFO.
	{"InputChangedBetweenPasses", {{"in.ppd", kPpd}}, "mkfifo p.txt", AddArgs(), "[ERROR] in.ppd can not read.\n",
	 {{"in.ppd", kPpd + "*X\n"}},
	 "exec 3>p.txt && " + Await("grep -q pipe_read /proc/$PID/wchan") +
	 "echo '*X' >> in.ppd && printf '%s' '" + kAdd + "' >&3 && exec 3>&-"},

	// Add mode.
	{"AddFillsTemplate", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "", AddArgs({"a", "b"}), kOk,
	 {{"out.ppd", kHead + "*T a b\n" + kTail}}},
	{"AddOneParameterLeavesSecond", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "", AddArgs({"a"}), kOk,
	 {{"out.ppd", kHead + "*T a !1!\n" + kTail}}},
	{"AddCrlfInputLfAnchor", {{"in.ppd", kPpdCrlf}, {"p.txt", kAdd}}, "", AddArgs({"a", "b"}), kOk,
	 {{"out.ppd", kHeadCrlf + "*T a b\n" + kPpdCrlf.substr(kHeadCrlf.size())}}},
	{"AddMarkerAsLastLineWithoutEnding", {{"in.ppd", kPpd + "*Marker"}, {"p.txt", kAdd}}, "", AddArgs(),
	 "[ERROR] in.ppd is already change.\n", {}},
	{"AddMarkerCrlf", {{"in.ppd", "*Marker\r\n"}, {"p.txt", kAdd}}, "", AddArgs(),
	 "[ERROR] in.ppd is already change.\n", {}},
	{"AddMarkerTrailingBlankIsOtherLine", {{"in.ppd", "*Marker \n"}, {"p.txt", kAdd}}, "", AddArgs(), kOk,
	 {{"out.ppd", "*Marker \n"}}},
	{"AddEmptyParaFile", {{"in.ppd", kPpd}, {"p.txt", ""}}, "", AddArgs(), kNotFound, {}},
	{"AddParaFileOneLine", {{"in.ppd", kPpd}, {"p.txt", "*Marker\n"}, {"out.ppd", kOld}}, "", AddArgs(), kNotFound, {}},
	{"AddParaFileTwoLines", {{"in.ppd", kPpd}, {"p.txt", "*M\n*OpenGroup: General\n"}}, "", AddArgs(),
	 kOk, {{"out.ppd", kPpd}}},
	{"AddAnchorTwiceFirstOnly", {{"in.ppd", kPpd + kPpd}, {"p.txt", kAdd}}, "", AddArgs({"a", "b"}), kOk,
	 {{"out.ppd", kHead + "*T a b\n" + kTail + kPpd}}},
	{"AddAnchorMissingCopies", {{"in.ppd", kPpd}, {"p.txt", "*M\n*Nowhere\n*T\n"}}, "", AddArgs(), kOk,
	 {{"out.ppd", kPpd}}},
	{"AddAnchorLastLineNoEnding", {{"in.ppd", "*A\n*B"}, {"p.txt", "*M\n*B\n*T1\n*T2"}}, "", AddArgs(),
	 kOk, {{"out.ppd", "*A\n*B*T1\n*T2"}}},
	{"AddTemplateRunsOn", {{"in.ppd", "*A\n*B\n"}, {"p.txt", "*M\n*A\n*T"}}, "", AddArgs(), kOk,
	 {{"out.ppd", "*A\n*T*B\n"}}},
	{"AddBlankLinesDifferByEnding", {{"in.ppd", "*A\r\n\r\n\n*B\n"}, {"p.txt", "*M\n\n*T\n"}}, "",
	 AddArgs(), kOk, {{"out.ppd", "*A\r\n\r\n\n*T\n*B\n"}}},
	{"AddRunTwiceRefused", {{"in.ppd", kHead + "*T a b\n" + kTail}, {"p.txt", "*T a b\n*OpenGroup: General\n*T !0! !1!\n"}},
	 "", AddArgs({"a", "b"}), "[ERROR] in.ppd is already change.\n", {}},
	// A regular input is read once: copied, the template in, as the marker
	// is looked for. A marker found late drops what was written, and says
	// only what a check made first would say.
	{"AddLargeAnchorInSecondBlock", {{"in.ppd", kLargeHead + kBig + kTail}, {"p.txt", kAdd}, {"out.ppd", kOld}}, "", AddArgs({"a", "b"}),
	 kOk, {{"out.ppd", kLargeHead + "*T a b\n" + kBig + kTail}}},
	{"AddLargeLinkedOutputReadTwice", {{"in.ppd", kLargeHead + kBig + kTail}, {"p.txt", kAdd}, {"out.ppd", kOld}}, "ln out.ppd l.ppd",
	 AddArgs({"a", "b"}), kOk, {{"out.ppd", kLargeHead + "*T a b\n" + kBig + kTail}, {"l.ppd", kLargeHead + "*T a b\n" + kBig + kTail}}},
	Gz("GzLargeAdd", {{"in.gz", Gzip(kLargeHead + kBig + kTail)}, {"p.txt", kAdd}}, {"ppdedit", "in.gz", "out.gz", "p.txt", "a", "b"},
	   kGzOk, {{"out.gz", Gzip(kLargeHead + "*T a b\n" + kBig + kTail)}}),
	{"AddLateMarkerKeepsOutput", {{"in.ppd", kBigMarked}, {"p.txt", kAdd}, {"out.ppd", kOld}}, "", AddArgs(),
	 "[ERROR] in.ppd is already change.\n", {}},
	{"AddMarkerInFirstBlockOfMany", {{"in.ppd", kHead + "*Marker\n" + kBig}, {"p.txt", kAdd}}, "", AddArgs(),
	 "[ERROR] in.ppd is already change.\n", {}},
	{"AddMarkerAcrossBlocks", {{"in.ppd", kMarkerAcrossBlock}, {"p.txt", kAdd}}, "", AddArgs(), "[ERROR] in.ppd is already change.\n", {}},
	Gz("GzLateMarker", {{"in.gz", Gzip(kBigMarked)}, {"p.txt", kAdd}}, {"ppdedit", "in.gz", "out.gz", "p.txt"},
	   "[ERROR] in.gz is already change.\n", {}),
	{"AddLateMarkerOutputUnmakable", {{"in.ppd", kBigMarked}, {"p.txt", kAdd}}, "", {"ppdedit", "in.ppd", "no/out.ppd", "p.txt"},
	 "[ERROR] in.ppd is already change.\n", {}},
	{"AddLateMarkerAfterTooLongLine", {{"in.ppd", kBigMarked}, {"p.txt", kAdd}}, "", AddArgs({kLong}),
	 "[ERROR] in.ppd is already change.\n", {}},
	{"AddLateMarkerAfterWriteError", {{"in.ppd", kBigMarked}, {"p.txt", kAdd}}, "", AddArgs(),
	 "[ERROR] in.ppd is already change.\n", {}, "", 0, 100000},
	{"AddWriteErrorSaidAfterCheck", {{"in.ppd", kHead + kBig}, {"p.txt", kAdd}}, "", AddArgs(),
	 "[ERROR] out.ppd can not write.\n", {}, "", 0, 100000},
	// Killed while it writes its new file, held as it reads the template
	// from a FIFO: the old output, or none.
	{"AddKilledKeepsOldOutput", {{"in.ppd", kBig + kPpd}, {"out.ppd", kOld}}, "mkfifo p.txt", AddArgs(), "", {},
	 "exec 3>p.txt && printf '*M\\n*OpenGroup: General\\n' >&3 && " + kAtTemplate + "kill -KILL $PID", SIGKILL,
	 0, false, "rm .out.ppd.ppdedit-*"},
	{"AddKilledLeavesNoOutput", {{"in.ppd", kBig + kPpd}}, "mkfifo p.txt", AddArgs(), "", {},
	 "exec 3>p.txt && printf '*M\\n*OpenGroup: General\\n' >&3 && " + kAtTemplate + "kill -KILL $PID", SIGKILL,
	 0, false, "rm .out.ppd.ppdedit-*"},

	// Line Replace Mode.
	{"ReplaceTwoDefaults", {{"in.ppd", kPpd}, {"p.txt", kReplace}}, "", ReplaceArgs({"A4", "600dpi"}),
	 kOk,
	 {{"out.ppd", kHead + "*DefaultPageSize: A4\n*DefaultResolution: 600dpi\n*CloseGroup: General\n"}}},
	{"ReplaceCrlfInputKeepsReplacementEnding", {{"in.ppd", kPpdCrlf}, {"p.txt", kReplace}}, "",
	 ReplaceArgs({"A4"}), kOk,
	 {{"out.ppd", kHeadCrlf + "*DefaultPageSize: A4\n"
	              "*DefaultResolution: !1!\n*CloseGroup: General\r\n"}}},
	{"ReplaceOppositeOrder",
	 {{"in.ppd", kPpd}, {"p.txt", "*DefaultResolution: 300dpi\n*R\n*DefaultPageSize: Letter\n*P\n"}}, "",
	 ReplaceArgs(), kOk,
	 {{"out.ppd", kHead + "*DefaultPageSize: Letter\n*R\n*CloseGroup: General\n"}}},
	{"ReplaceKeyWithoutReplacement", {{"in.ppd", kPpd}, {"p.txt", "*OpenGroup: General\n"}}, "",
	 ReplaceArgs(), kOk, {{"out.ppd", kPpd}}},
	{"ReplaceThreeLines", {{"in.ppd", "*A\n*B\n*A\n*B\n"}, {"p.txt", "*B\n*X\n*B\n"}}, "", ReplaceArgs(),
	 kOk, {{"out.ppd", "*A\n*X\n*A\n*B\n"}}},
	{"ReplaceSameKeyTwice", {{"in.ppd", "*A\n*A\n*A\n"}, {"p.txt", "*A\n*1\n*A\n*2\n"}}, "",
	 ReplaceArgs(), kOk, {{"out.ppd", "*1\n*2\n*A\n"}}},
	{"ReplaceNoMatchCopies", {{"in.ppd", kPpd}, {"p.txt", "*Nowhere\n*X\n"}}, "", ReplaceArgs(), kOk,
	 {{"out.ppd", kPpd}}},
	{"ReplaceEmptyParaFile", {{"in.ppd", kPpd}, {"p.txt", ""}, {"out.ppd", kOld}}, "", ReplaceArgs({"A4"}), kNotFound, {}},
	{"ReplaceOutputNotSearchedAgain", {{"in.ppd", "*A\n*B\n"}, {"p.txt", "*A\n*B\n*B\n*C\n"}}, "",
	 ReplaceArgs(), kOk, {{"out.ppd", "*B\n*C\n"}}},

	// Read and write failures.
	{"InputIsFolder", {{"p.txt", kAdd}}, "mkdir in.ppd", AddArgs(), "[ERROR] in.ppd can not read.\n",
	 {}},
	{"ParaFileIsFolder", {{"in.ppd", kPpd}}, "mkdir p.txt", ReplaceArgs(), kNotFound, {}},
	{"ReplaceInputFolderKeepsOutput", {{"p.txt", kReplace}, {"out.ppd", kOld}}, "mkdir in.ppd", ReplaceArgs(),
	 "[ERROR] in.ppd can not read.\n", {}},
	{"OutputIsFolder", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "mkdir out.ppd", AddArgs(),
	 "[ERROR] out.ppd don't created.\n", {}},
	{"FifoInputAddRefused", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "mkfifo f && (cat in.ppd > f &)",
	 {"ppdedit", "f", "out.ppd", "p.txt"}, "[ERROR] f can not read.\n", {}},
	{"FifoInputReplaceWorks", {{"in.ppd", kPpd}, {"p.txt", kReplace}}, "mkfifo f && (cat in.ppd > f &)",
	 {"ppdedit", "/R", "f", "out.ppd", "p.txt", "A4", "1"}, kOk,
	 {{"out.ppd", kHead + "*DefaultPageSize: A4\n*DefaultResolution: 1\n*CloseGroup: General\n"}}},
	{"OutputDevFull", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "", {"ppdedit", "in.ppd", "/dev/full", "p.txt"},
	 "[ERROR] /dev/full can not write.\n", {}},
	{"ReplaceDevFullAfterPairs", {{"in.ppd", kFiller + kFiller}, {"p.txt", "*% filler line 0\n"}}, "",
	 {"ppdedit", "/R", "in.ppd", "/dev/full", "p.txt"}, "[ERROR] /dev/full can not write.\n", {}},

	// Filled lines that outgrow the line buffer.
	{"FilledLineTooLong", {{"in.ppd", kPpd}, {"p.txt", kAdd}, {"out.ppd", kOld}}, "", AddArgs({Repeat('v', 5200)}),
	 "[ERROR] p.txt has a line too long after filling in parameters.\n", {}},
	{"FilledLineGrowsThenShrinks", {{"in.ppd", kPpd}, {"p.txt", "*M\n*OpenGroup: General\n!0!!1!\n"}}, "",
	 AddArgs({Repeat('v', 5119), ""}), "[ERROR] p.txt has a line too long after filling in parameters.\n", {}},
	{"FilledLineFitsExactly", {{"in.ppd", "*A\n"}, {"p.txt", "*M\n*A\n!0!"}}, "",
	 AddArgs({Repeat('v', 5119)}), kOk, {{"out.ppd", "*A\n" + Repeat('v', 5119)}}},

	// NUL bytes: copied and compared whole; refused in the parameter file.
	{"InputNulCopied", {{"in.ppd", std::string("*A\0x\n*A\n*B\0\n", 12)}, {"p.txt", "*M\n*A\n*T\n"}}, "",
	 AddArgs(), kOk, {{"out.ppd", std::string("*A\0x\n*A\n*T\n*B\0\n", 15)}}},
	{"ReplaceNulLineNotMatched", {{"in.ppd", std::string("*A\0\n*A\n", 7)}, {"p.txt", "*A\n*X\n"}}, "",
	 ReplaceArgs(), kOk, {{"out.ppd", std::string("*A\0\n*X\n", 7)}}},
	{"ParaFileNul", {{"in.ppd", kPpd}, {"p.txt", std::string("*M\n*Open\0Group\n", 15)}, {"out.ppd", kOld}}, "", AddArgs(),
	 "[ERROR] p.txt is not a text file.\n", {}},
	{"ParaFileNulNeverRead", {{"in.ppd", kPpd}, {"p.txt", std::string("*M\n*Nowhere\n*T\0\n", 16)}}, "",
	 AddArgs(), kOk, {{"out.ppd", kPpd}}},

	// Long lines are handled as pieces of 5119 bytes.
	{"LongLineSplitsAnchor", {{"in.ppd", Repeat('x', 5119) + "\n*B\n"}, {"p.txt", "*M\n" + Repeat('x', 5119) + "\n*T\n"}},
	 "", AddArgs(), kOk, {{"out.ppd", Repeat('x', 5119) + "\n*T\n\n*B\n"}}},
	{"LongLine5120", {{"in.ppd", Repeat('x', 5120) + "\n"}, {"p.txt", "*M\nx\n*T\n"}}, "", AddArgs(), kOk,
	 {{"out.ppd", Repeat('x', 5120) + "\n*T\n"}}},
	{"MiddlePieceAcrossBlocks",
	 {{"in.ppd", kFiller + Repeat('A', 5119) + Repeat('B', 5119) + Repeat('A', 1762) + "\n*E\n"},
	  {"p.txt", "*M\n" + Repeat('B', 5119) + "\n*T\n"}},
	 "", AddArgs(), kOk,
	 {{"out.ppd", kFiller + Repeat('A', 5119) + Repeat('B', 5119) + "\n*T\n" + Repeat('A', 1762) + "\n*E\n"}}},
	{"ReplaceLongKeyPiece",
	 {{"in.ppd", kFiller + Repeat('k', 12000) + "\n"}, {"p.txt", Repeat('k', 5119) + "\n"}}, "",
	 ReplaceArgs(), kOk, {{"out.ppd", kFiller + "\n" + Repeat('k', 12000 - 5119) + "\n"}}},
	{"AnchorTextInsideOtherLines", {{"in.ppd", "x*A\n*A y\n*A\n*A\n"}, {"p.txt", "*M\n*A\n*T\n"}}, "", AddArgs(), kOk,
	 {{"out.ppd", "x*A\n*A y\n*A\n*T\n*A\n"}}},
	{"AnchorTextAcrossPieceEnd", {{"in.ppd", "*B\n" + Repeat('a', 5118) + "*A\n*A\n"}, {"p.txt", "*M\n*A\n*T\n"}}, "", AddArgs(), kOk,
	 {{"out.ppd", "*B\n" + Repeat('a', 5118) + "*A\n*A\n*T\n"}}},
	{"AnchorAtPieceStart", {{"in.ppd", "*B\n" + Repeat('a', 5119) + "*A\n*A\n"}, {"p.txt", "*M\n*A\n*T\n"}}, "", AddArgs(), kOk,
	 {{"out.ppd", "*B\n" + Repeat('a', 5119) + "*A\n*T\n*A\n"}}},
	{"ReplaceKeyAtSecondPieceStart", {{"in.ppd", "*B\n" + Repeat('a', 10238) + "*K\n"}, {"p.txt", "*K\n*R\n"}}, "", ReplaceArgs(), kOk,
	 {{"out.ppd", "*B\n" + Repeat('a', 10238) + "*R\n"}}},
	{"ParaLine5120", {{"in.ppd", "*A\n"}, {"p.txt", "*M\n*A\n" + Repeat('t', 5120) + "\n"}}, "", AddArgs(), kOk,
	 {{"out.ppd", "*A\n" + Repeat('t', 5120) + "\n"}}},
	{"ParaLine12000Filled", {{"in.ppd", "*A\n"}, {"p.txt", "*M\n*A\n" + Repeat('t', 5117) + "!0!" + Repeat('t', 6880) + "\n"}}, "",
	 AddArgs({"v"}), kOk, {{"out.ppd", "*A\n" + Repeat('t', 5117) + "!0!" + Repeat('t', 6880) + "\n"}}},
	{"MarkerAfterFirstBlock", {{"in.ppd", kFiller + "*Marker\n"}, {"p.txt", kAdd}}, "", AddArgs(),
	 "[ERROR] in.ppd is already change.\n", {}},
	{"ReplaceAcrossBlocks", {{"in.ppd", kFiller + kPpd}, {"p.txt", kReplace}}, "",
	 ReplaceArgs({"A4", "600dpi"}), kOk,
	 {{"out.ppd", kFiller + kHead + "*DefaultPageSize: A4\n*DefaultResolution: 600dpi\n*CloseGroup: General\n"}}},

	// A gzip-compressed input is edited as its text, and written compressed.
	Gz("GzAdd", {{"in.gz", kGzPpd}, {"p.txt", kAdd}}, {"ppdedit", "in.gz", "out.gz", "p.txt", "a", "b"}, kGzOk,
	   {{"out.gz", Gzip(kHead + "*T a b\n" + kTail)}}, kGzSame),
	Gz("GzMarkedRefused", {{"in.gz", Gzip(kPpd + "*Marker\n")}, {"p.txt", kAdd}}, {"ppdedit", "in.gz", "out.gz", "p.txt"},
	   "[ERROR] in.gz is already change.\n", {}),
	Gz("GzReplace", {{"in.gz", kGzPpd}, {"p.txt", kReplace}}, {"ppdedit", "/R", "in.gz", "out.gz", "p.txt", "A4", "1"}, kGzOk,
	   {{"out.gz", Gzip(kHead + "*DefaultPageSize: A4\n*DefaultResolution: 1\n*CloseGroup: General\n")}}),
	Gz("GzNoAnchorCopies", {{"in.gz", kGzPpd}, {"plain.ppd", kPpd}, {"p.txt", "*M\n*Nowhere\n*T\n"}},
	   {"ppdedit", "in.gz", "out.gz", "p.txt"}, kGzOk, {{"out.gz", kGzPpd}}, "gzip -dc out.gz | cmp - plain.ppd"),
	Gz("GzCrlf", {{"in.gz", Gzip(kPpdCrlf)}, {"p.txt", kAdd}}, {"ppdedit", "in.gz", "out.gz", "p.txt", "a", "b"}, kGzOk,
	   {{"out.gz", Gzip(kHeadCrlf + "*T a b\n" + kPpdCrlf.substr(kHeadCrlf.size()))}}),
	Gz("GzTwoMembers", {{"in.gz", Gzip(kHead) + Gzip(kTail)}, {"p.txt", kAdd}}, {"ppdedit", "in.gz", "out.gz", "p.txt", "a", "b"},
	   kGzOk, {{"out.gz", Gzip(kHead + "*T a b\n" + kTail)}}),
	Gz("GzLargeReplace", {{"in.gz", Gzip(kBig)}, {"p.txt", "*% filler line 0\n*% !0!\n"}},
	   {"ppdedit", "/R", "in.gz", "out.gz", "p.txt", "B5"}, kGzOk, {{"out.gz", Gzip(kBigReplaced)}}),
	{"GzFromFifo", {{"in.gz", kGzPpd}, {"p.txt", kReplace}}, "mkfifo f && (cat in.gz > f &)",
	 {"ppdedit", "/R", "f", "out.gz", "p.txt", "A4"}, kGzOk,
	 {{"out.gz", Gzip(kHead + "*DefaultPageSize: A4\n*DefaultResolution: !1!\n*CloseGroup: General\n")}}},
	Gz("GzCorrupt", {{"in.gz", kGzCorrupt}, {"p.txt", kReplace}}, {"ppdedit", "/R", "in.gz", "out.gz", "p.txt"},
	   "[ERROR] in.gz can not read.\n", {}),
	Gz("GzTruncated", {{"in.gz", kGzTruncated}, {"p.txt", kAdd}}, {"ppdedit", "in.gz", "out.gz", "p.txt"},
	   "[ERROR] in.gz can not read.\n", {}),
	Gz("GzTrailingGarbage", {{"in.gz", kGzPpd + "junk"}, {"p.txt", kReplace}, {"out.gz", kOld}},
	   {"ppdedit", "/R", "in.gz", "out.gz", "p.txt"}, "[ERROR] in.gz can not read.\n", {}),

	// ppdedit-inplace: each file edited as ppdedit would write its copy, and
	// replaced only when that differs; one line a file says what became of it.
	InPlace("InPlaceChanged", {{"a.ppd", kPpd}, {"b.gz", kGzPpd}, {"p.txt", kPageSize}}, "",
	        {"/R", "p.txt", "A4", "--", "a.ppd", "b.gz"}, "changed: a.ppd\nchanged: b.gz\n",
	        {{"a.ppd", kA4Only}, {"b.gz", Gzip(kA4Only)}}),
	InPlace("InPlaceMarker", {{"a.ppd", kPpd + "*Marker\n"}, {"p.txt", kAdd}}, "", {"p.txt", "a", "b", "--", "a.ppd"},
	        "unchanged: a.ppd (the marker is there)\n", {}),
	InPlace("InPlaceSameTextNotRewritten", {{"a.ppd", kPpd}, {"b.gz", kGzPpd}, {"p.txt", kReplace}}, Stamp("a.ppd b.gz"),
	        {"/R", "p.txt", "Letter", "300dpi", "--", "a.ppd", "b.gz"},
	        "unchanged: a.ppd (already as the edit makes it)\nunchanged: b.gz (already as the edit makes it)\n", {}, 0,
	        SameStamp("a.ppd b.gz")),
	// Larger than a block: the change comes after the start has left it.
	InPlace("InPlaceLargeChangedAtEnd", {{"a.ppd", kBig + "*Last\n"}, {"b.gz", Gzip(kBig + "*Last\n")}, {"p.txt", "*Last\n*New\n"}},
	        "", {"/R", "p.txt", "--", "a.ppd", "b.gz"}, "changed: a.ppd\nchanged: b.gz\n",
	        {{"a.ppd", kBig + "*New\n"}, {"b.gz", Gzip(kBig + "*New\n")}}),
	InPlace("InPlaceLargeAdd", {{"a.ppd", kHead + kBig}, {"b.gz", Gzip(kHead + kBig)}, {"p.txt", kAdd}}, "",
	        {"--no-check", "p.txt", "a", "b", "--", "a.ppd", "b.gz"}, "changed: a.ppd\nchanged: b.gz\n",
	        {{"a.ppd", kHead + "*T a b\n" + kBig}, {"b.gz", Gzip(kHead + "*T a b\n" + kBig)}}),
	InPlace("InPlaceLateMarker", {{"a.ppd", kBigMarked}, {"b.gz", Gzip(kBigMarked)}, {"p.txt", kAdd}}, Stamp("a.ppd b.gz"),
	        {"p.txt", "a", "b", "--", "a.ppd", "b.gz"}, "unchanged: a.ppd (the marker is there)\nunchanged: b.gz (the marker is there)\n",
	        {}, 0, SameStamp("a.ppd b.gz")),
	InPlace("InPlaceLargeUnchanged", {{"a.ppd", kBig}, {"b.gz", Gzip(kBig)}, {"p.txt", "*Nowhere\n*X\n"}}, Stamp("a.ppd b.gz"),
	        {"/R", "p.txt", "--", "a.ppd", "b.gz"},
	        "unchanged: a.ppd (no anchor or key matched)\nunchanged: b.gz (no anchor or key matched)\n", {}, 0,
	        SameStamp("a.ppd b.gz")),
	InPlace("InPlaceFailures", {{"a.ppd", kPpd}, {"l.ppd", kPpd}, {"p.txt", kPageSize}}, "mkdir dir && ln l.ppd l2.ppd && mkfifo fifo",
	        {"/R", "p.txt", "A4", "--", "missing.ppd", "dir", "fifo", "/dev/null", "l.ppd", "a.ppd"},
	        "failed: missing.ppd: No such file or directory\nfailed: dir: dir is not a regular file (use -r to edit the PPDs under it).\n"
	        "failed: fifo: fifo is not a regular file.\nfailed: /dev/null: /dev/null is not a regular file.\n"
	        "failed: l.ppd: l.ppd has 2 hard links, which a new file would split.\n"
	        "changed: a.ppd\n", {{"a.ppd", kA4Only}}, 1),
	// A file that cannot be read or written says why, in the system's words,
	// or what is wrong with its gzip stream; bytes after the last member that
	// start no new one, zeros too, are refused.
	Needing([] {
		Case c = InPlace("InPlaceUnreadable", {{"a.ppd", kPpd}, {"p.txt", kPageSize}},
		                 "chmod 755 . && chmod 000 a.ppd && mkdir d && cp a.ppd d/b.ppd && chmod 444 d", {},
		                 "failed: a.ppd: Permission denied\nfailed: d/b.ppd: Permission denied\n", {}, 1);
		c.args = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", PPDEDIT_INPLACE_BIN, "-r", "/R", "p.txt", "A4", "--", "a.ppd", "d"};
		return c;
	}(), "root setpriv"),
	InPlace("InPlaceGzipFaults", {{"t.gz", kGzTruncated}, {"c.gz", kGzBadCrc}, {"b.gz", kGzBadBlock}, {"g.gz", kGzPpd + "junk"},
	                              {"z.gz", kGzPpd + std::string(8, '\0')}, {"p.txt", kPageSize}},
	        "", {"/R", "p.txt", "A4", "--", "t.gz", "c.gz", "b.gz", "g.gz", "z.gz"},
	        "failed: t.gz: not a valid gzip file (truncated)\nfailed: c.gz: not a valid gzip file (bad checksum)\n"
	        "failed: b.gz: not a valid gzip file (corrupt data)\nfailed: g.gz: not a valid gzip file (trailing garbage)\n"
	        "failed: z.gz: not a valid gzip file (trailing garbage)\n", {}, 1),
	[] {
		Case c = InPlace("InPlaceWriteFails", {{"a.ppd", kBig + "*Last\n"}, {"p.txt", "*Last\n*New\n"}}, "", {"/R", "p.txt", "--", "a.ppd"},
		                 "failed: a.ppd: File too large\n", {}, 1);
		c.fileLimit = 100000;
		return c;
	}(),
	InPlace("InPlaceLinkedUnchanged", {{"l.ppd", kPpd}, {"p.txt", "*Nowhere\n*X\n"}}, "ln l.ppd l2.ppd", {"/R", "p.txt", "--", "l.ppd"},
	        "unchanged: l.ppd (no anchor or key matched)\n", {}),
	Refused("InPlaceParaMissing", {"/R", "nope.txt", "--", "a.ppd"}, "[ERROR] nope.txt is not found."),
	Refused("InPlaceNulInTemplate", {"p.txt", "--", "a.ppd"}, "[ERROR] p.txt is not a text file.",
	        std::string("*M\n*OpenGroup: General\n*T1\n*T\0\n", 31)),
	InPlace("InPlaceCrlf", {{"a.ppd", kPpdCrlf}, {"p.txt", kPageSize}}, "", {"/R", "p.txt", "A4", "--", "a.ppd"}, "changed: a.ppd\n",
	        {{"a.ppd", kHeadCrlf + "*DefaultPageSize: A4\n*DefaultResolution: 300dpi\r\n*CloseGroup: General\r\n"}}),
	InPlace("InPlaceSymlinkTargetReplaced", {{"t.ppd", kPpd}, {"p.txt", kPageSize}}, "ln -s t.ppd l.ppd",
	        {"/R", "p.txt", "A4", "--", "l.ppd"}, "changed: l.ppd\n", {{"t.ppd", kA4Only}}),
	InPlace("InPlaceKeepsOwnerAndMode", {{"a.ppd", kPpd}, {"p.txt", kPageSize}}, Owned("a.ppd"), {"/R", "p.txt", "A4", "--", "a.ppd"},
	        "changed: a.ppd\n", {{"a.ppd", kA4Only}}, 0, OwnerKept("a.ppd")),
	InPlace("InPlaceDryRunWritesNothing", {{"a.ppd", kPpd}, {"l.ppd", kPpd}, {"p.txt", kPageSize}}, "ln l.ppd l2.ppd",
	        {"-n", "/R", "p.txt", "A4", "--", "a.ppd", "l.ppd"},
	        "changed: a.ppd\nfailed: l.ppd: l.ppd has 2 hard links, which a new file would split.\n", {}, 1),
	InPlace("InPlaceQuiet", {{"a.ppd", kPpd}, {"p.txt", kPageSize}}, "", {"-q", "/R", "p.txt", "A4", "--", "a.ppd", "c.ppd"},
	        "failed: c.ppd: No such file or directory\n", {{"a.ppd", kA4Only}}, 1),
	InPlace("InPlaceConcurrentRunsKeepEveryEdit", Racers(), "", {"--no-check", "p0.txt", "--", "a.ppd"}, "changed: a.ppd\n",
	        {{"a.ppd", kAny}}, 0, kEveryBlock, kRacers),
	// The output is found once in its folder, and published only through it.
	{"FolderSwappedDuringRun", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"want", kA4}}, kSwapSetup + " && mkfifo f",
	 {"ppdedit", "/R", "f", "d/passwd", "p.txt", "A4"}, "Output : d/passwd\n", kSwapped,
	 "exec 3>f && cat in.ppd >&3 && " + Await("ls d/.passwd.ppdedit-* > /dev/null 2>&1") +
	     kSwap + " && exec 3>&-", 0, 0, false, kOtherKept},
	[] {
		Files swapped = kSwapped;
		swapped["go"] = "";
		return InPlace("InPlaceFolderSwappedDuringRun", {{"p.txt", kPageSize}, {"want", kA4Only}},
		               kSwapSetup + " && printf '%s' '" + kPpd + "' > d/passwd && " + HeldLock("d/passwd"),
		               {"/R", "p.txt", "A4", "--", "d/passwd"}, "changed: d/passwd\n", swapped, 0, kOtherKept,
		               Waiting("d/passwd") + kSwap + " && touch go");
	}(),
	// A new output's name that another program takes meanwhile stays its.
	{"NewOutputNameTakenMeanwhile", {{"big.ppd", kBig}, {"p.txt", "*Nowhere\n"}}, "mkfifo f", {"ppdedit", "/R", "f", "out.ppd", "p.txt"},
	 "[ERROR] out.ppd can not write.\n", {{"out.ppd", "other\n"}}, Holding(kTemp) + "echo other > out.ppd && exec 3>&-"},
	// A staged output's room is reserved before a byte of it changes.
	Needing({"StagedOutputNoRoom", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"out.ppd", kOld}}, "ln out.ppd l.ppd",
	         Traced({"-e", "inject=fallocate:error=ENOSPC", PPDEDIT_BIN, "/R", "in.ppd", "out.ppd", "p.txt", "A4"}),
	         "[ERROR] out.ppd can not write.\n", {}}, "strace"),
	{"NewOutputAbsentWhileRunningAndAfterKill", {{"big.ppd", kBig}, {"p.txt", "*Nowhere\n"}}, "mkfifo f",
	 {"ppdedit", "/R", "f", "out.ppd", "p.txt"}, "", {}, Holding(kTemp) + "[ ! -e out.ppd ] && kill -KILL $PID", SIGKILL,
	 0, false, "rm -f .out.ppd.ppdedit-*"},
	{"DanglingLinkTargetAbsentOnFailure", {{"in.ppd", kPpd}, {"p.txt", kReplace}}, "ln -s t.ppd out.ppd", ReplaceArgs({kLong}),
	 kTooLong, {}},
	{"AddInputEmptiedDuringSecondPass", {{"in.ppd", kPpd}}, "mkfifo p.txt", AddArgs(), "[ERROR] in.ppd can not read.\n",
	 {{"in.ppd", ""}},
	 "exec 3>p.txt && printf '*M\\n*OpenGroup: General\\n' >&3 && " + kAtTemplate + ": > in.ppd && echo '*T' >&3 && exec 3>&-"},
	// A rewrite that keeps the input's size and modification time still
	// changes its status: the run fails.
	{"InputRewrittenKeepingSizeAndTime", {{"in.ppd", kPpd}}, "mkfifo p.txt && cp -p in.ppd was", ReplaceArgs({"A4"}),
	 "[ERROR] in.ppd can not read.\n", {{"in.ppd", kAny}},
	 "exec 3>p.txt && echo '*DefaultPageSize: Letter' >&3 && " + kAtTemplate +
	     "printf X | dd of=in.ppd conv=notrunc status=none && touch -r was in.ppd && echo '*P' >&3 && exec 3>&-"},
	// A link that another user planted in a sticky folder is not followed.
	Needing({"PlantedLinkNotFollowed", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"victim", kOld}},
	         "mkdir -m 1777 t && ln -s ../victim t/out.ppd && chown -h 1234 t/out.ppd", {"ppdedit", "/R", "in.ppd", "t/out.ppd", "p.txt"},
	         "[ERROR] t/out.ppd don't created.\n", {}}, "root"),
	// A link is followed only when root or the running user made it, or when
	// it leads to its maker's own file or folder: an unprivileged user's
	// links to root's file, to root's folder, to nothing in root's folder
	// are refused; the same user's link to their own file is followed.
	Needing({"ForeignLinkedOutputRefused", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"victim", kOld}},
	         "mkdir home && chown nobody home && ln -s ../victim home/out.ppd && chown -h nobody home/out.ppd",
	         {"ppdedit", "/R", "in.ppd", "home/out.ppd", "p.txt"}, "[ERROR] home/out.ppd don't created.\n", {}}, "root"),
	Needing(InPlace("InPlaceForeignLinksRefused", {{"a.ppd", kPpd}, {"p.txt", kPageSize}},
	                "mkdir home && printf '%s' '" + kPpd + "' > home/own.ppd && chown nobody home home/own.ppd && "
	                "ln -s ../a.ppd home/s.ppd && ln -s .. home/up && ln -s ../gone.ppd home/new.ppd && ln -s own.ppd home/o.ppd && "
	                "chown -h nobody home/s.ppd home/up home/new.ppd home/o.ppd",
	                {"-r", "-b", "/R", "p.txt", "A4", "--", "home/s.ppd", "home/up/a.ppd", "home/up", "home/new.ppd", "home/o.ppd"},
	                "failed: home/s.ppd: home/s.ppd is a link that another user made to a file that is not theirs.\n"
	                "failed: home/up/a.ppd: home/up/a.ppd is a link that another user made to a file that is not theirs.\n"
	                "failed: home/up: home/up is a link that another user made to a file that is not theirs.\n"
	                "failed: home/new.ppd: home/new.ppd is a link that another user made to a file that is not theirs.\n"
	                "changed: home/o.ppd\n", {}, 1, "grep -q A4 home/own.ppd && cmp home/own.ppd.orig a.ppd"), "root"),
	// A staged output keeps what a write takes away: set-id bits, file
	// capabilities.
	Needing({"StagedKeepsCapability", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"out.ppd", kOld}},
	         "ln out.ppd l.ppd && chmod 6755 out.ppd && setcap cap_net_raw+ep out.ppd", ReplaceArgs({"A4"}), kOk,
	         {{"out.ppd", kA4}, {"l.ppd", kA4}}, "", 0, 0, false,
	         "[ $(stat -c %a out.ppd) = 6755 ] && getcap out.ppd | grep -q cap_net_raw"}, "root setcap getcap"),
	{"OutputName255Replaced", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {kName255, kOld}}, "ls -i " + kName255 + " > was",
	 {"ppdedit", "/R", "in.ppd", kName255, "p.txt", "A4"}, "Output : " + kName255 + "\n", {{kName255, kA4}}, "", 0, 0, false,
	 "[ \"$(ls -i " + kName255 + ")\" != \"$(cat was)\" ]"},
	Needing({"AttributesKeptByNewFile", {{"in.ppd", kPpd}, {"p.txt", kReplace}, {"out.ppd", kOld}},
	         Dressed("out.ppd") + " && ls -i out.ppd > ino", ReplaceArgs({"A4"}), kOk, {{"out.ppd", kA4}}, "", 0, 0, false,
	         DressKept("out.ppd") + " && [ \"$(ls -i out.ppd)\" != \"$(cat ino)\" ]"}, kAttrTools),
	Needing(InPlace("InPlaceAttributesKept", {{"a.ppd", kPpd}, {"p.txt", kPageSize}}, Dressed("a.ppd"), {"/R", "p.txt", "A4", "--", "a.ppd"},
	                "changed: a.ppd\n", {{"a.ppd", kA4Only}}, 0, DressKept("a.ppd")), kAttrTools),
	Needing(InPlace("InPlaceDefaultAclDropped", {{"a.ppd", kPpd}, {"p.txt", kPageSize}}, "setfacl -d -m u:1234:rwx .",
	                {"/R", "p.txt", "A4", "--", "a.ppd"}, "changed: a.ppd\n", {{"a.ppd", kA4Only}}, 0,
	                "[ -z \"$(getfattr -d -m - a.ppd)\" ]"), kAttrTools),
	[] {
		Case c = InPlace("InPlaceStdoutIsOneOfTheFiles", {{"a.ppd", kPpd}, {"p.txt", kPageSize}}, "", {"/R", "p.txt", "A4", "--", "a.ppd"},
		                 "", {{"a.ppd", kPpd + "failed: a.ppd: [ERROR] a.ppd can not be both read and written.\n"}}, 1);
		c.stdoutFile = "a.ppd";
		return c;
	}(),
	InPlace("InPlaceNameEscaped", {{"a\tb\\c\nd\x01.ppd", kPpd}, {"p.txt", kPageSize}}, "", {"/R", "p.txt", "A4", "--", "a\tb\\c\nd\x01.ppd"},
	        "changed: a\\tb\\\\c\\nd\\001.ppd\n", {{"a\tb\\c\nd\x01.ppd", kA4Only}}),
	// C1 controls and bytes that are not UTF-8 are escaped too, in the report
	// and the diff; other UTF-8 is printed as it is.
	[] {
		const std::string one = "*DefaultPageSize: Letter\n";
		auto shown = [](const std::string &name) {
			return "changed: " + name + "\n--- " + name + "\t<time>\n+++ " + name + "\t<time>\n@@ -1 +1 @@\n-*DefaultPageSize: Letter\n+*DefaultPageSize: A4\n";
		};
		return InPlace("InPlaceNamesEscapedAsLsDoes", {{"c1\xc2\x9bm.ppd", one}, {"bad\xff\xfe.ppd", one}, {"\xc3\xa9.ppd", one}, {"p.txt", kPageSize}}, "",
		               {"-n", "--diff", "/R", "p.txt", "A4", "--", "c1\xc2\x9bm.ppd", "bad\xff\xfe.ppd", "\xc3\xa9.ppd"},
		               shown("c1\\302\\233m.ppd") + shown("bad\\377\\376.ppd") + shown("\xc3\xa9.ppd"), {});
	}(),
	// A second edit that waited for the lock of a file that the first then
	// replaced edits the new file: both blocks are kept.
	InPlace("InPlaceRecheckAfterLock", {{"a.ppd", kPpd}, {"pa.txt", "*MA\n*OpenGroup: General\n*TA\n"}, {"pb.txt", "*MB\n*OpenGroup: General\n*TB\n"}},
	        HeldLock("a.ppd"), {"--no-check", "pa.txt", "--", "a.ppd"}, "changed: a.ppd\n", {{"a.ppd", kAny}, {"b.txt", "changed: a.ppd\n"}, {"go", ""}},
	        0, "[ $(grep -c '^*T[AB]$' a.ppd) = 2 ]",
	        Waiting("a.ppd") + "{ \"$PPDEDIT_INPLACE\" --no-check pb.txt -- a.ppd > b.txt & } && " + Waiting("a.ppd", 2) + "touch go && wait"),
	// A file edited in place that another program rewrites between its
	// reading and its replacement, keeping its size and modification time,
	// keeps that program's version.
	[] {
		Case c = InPlace("InPlaceRewrittenBeforeRename", {{"a.ppd", kPpd}, {"p.txt", kPageSize}}, "cp -p a.ppd was", {},
		                 "failed: a.ppd: a.ppd changed while it was being edited.\n", {{"a.ppd", "X" + kPpd.substr(1)}}, 1, "",
		                 StoppedAt(SYS_fchmod) + "printf X | dd of=a.ppd conv=notrunc status=none && touch -r was a.ppd && " + kGoOn);
		c.args = Traced({"-e", "inject=fchmod:signal=SIGSTOP:when=1", PPDEDIT_INPLACE_BIN, "/R", "p.txt", "A4", "--", "a.ppd"});
		return Needing(c, "strace");
	}(),
	// A file replaced each time the run has opened it and waits for its
	// lock: the run gives up after eight tries.
	InPlace("InPlaceReplacedAgainAndAgain", {{"a.ppd", kPpd}, {"p.txt", kPageSize}}, "cp a.ppd keep && " + HeldLock("a.ppd"),
	        {"/R", "p.txt", "A4", "--", "a.ppd"}, "failed: a.ppd: a.ppd was replaced again and again while it was being opened.\n",
	        {{"go", ""}}, 1, "",
	        "i=0 && while [ $i -lt 12 ]; do " + Await("[ " + Locks("a.ppd", true) + " -ge 1 ] || [ \"$(cut -d' ' -f3 /proc/$PID/stat)\" = Z ]") +
	            "{ [ \"$(cut -d' ' -f3 /proc/$PID/stat)\" != Z ] || break; } && cp keep n && exec 5<n && flock 5 && mv n a.ppd && "
	            "touch go && exec 4<&5 5<&- && i=$((i + 1)) || exit 1; done && [ $i -le 8 ]"),
	// A file that another program keeps locked fails after the wait; the run
	// goes on.
	InPlace("InPlaceLockWaitBounded", {{"a.ppd", kPpd}, {"b.ppd", kPpd}, {"p.txt", kPageSize}}, HeldLock("a.ppd"),
	        {"--wait=1", "/R", "p.txt", "A4", "--", "a.ppd", "b.ppd"},
	        "failed: a.ppd: a.ppd is locked by another program.\nchanged: b.ppd\n", {{"b.ppd", kA4Only}, {"go", ""}}, 1, "touch go"),
	Refused("InPlaceUsage", {"/R", "p.txt", "A4", "a.ppd"},
	        "missing '--' before the files\nTry 'ppdedit-inplace --help' for more information."),

	// ppdedit-inplace reads its command line and parameter file once, and
	// refuses before any file what no file can mend.
	Refused("InPlaceForgottenParameter", {"/R", "p.txt", "--", "a.ppd"}, "p.txt, line 2: !0! has no parameter to fill it."),
	Refused("InPlaceForgottenSecondParameter", {"p.txt", "Two-Sided", "--", "a.ppd"},
	        "p.txt, line 3: !1! has no parameter to fill it.", kAdd),
	Refused("InPlaceParameterWithLineBreak", {"/R", "p.txt", "-P", "A4\n*Injected: yes", "--", "a.ppd"},
	        "the parameter for !0! holds a line break: A4\\n*Injected: yes"),
	InPlace("InPlaceOptionAfterParameters", {{"a.ppd", kPpd}, {"p.txt", kPageSize}}, "", {"/R", "p.txt", "A4", "-n", "--", "a.ppd"},
	        "changed: a.ppd\n", {}),
	InPlace("InPlaceParameterWithDash", {{"a.ppd", kPpd}, {"p.txt", kPageSize}}, "", {"/R", "p.txt", "-P", "-A4", "--", "a.ppd"},
	        "changed: a.ppd\n", {{"a.ppd", kHead + "*DefaultPageSize: -A4\n*DefaultResolution: 300dpi\n*CloseGroup: General\n"}}),
	InPlace("InPlaceParaFileFromPipe", {{"a.ppd", kPpd}, {"b.ppd", kPpd}, {"p.txt", kPageSize}}, "mkfifo pf",
	        {"/R", "pf", "A4", "--", "a.ppd", "b.ppd"}, "changed: a.ppd\nchanged: b.ppd\n", {{"a.ppd", kA4Only}, {"b.ppd", kA4Only}},
	        0, "", "cat p.txt > pf"),
	[] {
		Case c = Refused("InPlaceStdoutIsParameterFile", {"/R", "p.txt", "A4", "--", "a.ppd"},
		                 "[ERROR] p.txt can not be both read and written.");
		c.stdoutFile = "p.txt";
		return c;
	}(),
	InPlace("InPlaceEmptyList", {{"p.txt", kPageSize}}, "", {"/R", "p.txt", "A4", "--"}, "", {}),
	[] {
		Case c = InPlace("InPlaceUnknownOption", {{"a.ppd", kPpd}, {"p.txt", kPageSize}}, "", {"-x", "/R", "p.txt", "A4", "--", "a.ppd"},
		                 "", {}, 2);
		c.err = kAny;
		return c;
	}(),
	// The report is out line by line: a run killed while it waits for the
	// second file's lock has reported the first.
	[] {
		Case c = InPlace("InPlaceKilledRunReported", {{"a.ppd", kPpd}, {"b.ppd", kPpd}, {"p.txt", kPageSize}},
		                 HeldLock("b.ppd"), {"/R", "p.txt", "A4", "--", "a.ppd", "b.ppd"}, "changed: a.ppd\n",
		                 {{"a.ppd", kA4Only}, {"go", ""}}, 0, "", Waiting("b.ppd") + "kill -TERM $PID && touch go");
		c.signal = SIGTERM;
		return c;
	}(),
	// ppdedit-inplace's options for everyday jobs.
	InPlace("InPlacePrefixKeysInOrder", {{"a.ppd", kPpd}, {"p.txt", "*DefaultPageSize:\n*DefaultPageSize: !0!\n*DefaultResolution:\n*DefaultResolution: !1!\n"}},
	        "", {"-p", "/R", "p.txt", "A4", "600dpi", "--", "a.ppd"}, "changed: a.ppd\n",
	        {{"a.ppd", kHead + "*DefaultPageSize: A4\n*DefaultResolution: 600dpi\n*CloseGroup: General\n"}}),
	InPlace("InPlacePrefixMarker", {{"a.ppd", kPpd + "*OpenUI *Duplex/Two-Sided: PickOne\n"}, {"p.txt", "*OpenUI *Duplex\n*OpenGroup: General\n*OpenUI *Duplex/Duplex: PickOne\n"}},
	        "", {"-p", "p.txt", "--", "a.ppd"}, "unchanged: a.ppd (the marker is there)\n", {}),
	InPlace("InPlaceKeepEndings", {{"a.ppd", kPpd}, {"b.ppd", kPpdCrlf}, {"c.ppd", "*A\r\n*DefaultPageSize: Letter"}, {"p.txt", kPageSize}},
	        "", {"-e", "/R", "p.txt", "A4", "--", "a.ppd", "b.ppd", "c.ppd"}, "changed: a.ppd\nchanged: b.ppd\nchanged: c.ppd\n",
	        {{"a.ppd", kA4Only}, {"b.ppd", kHeadCrlf + "*DefaultPageSize: A4\r\n*DefaultResolution: 300dpi\r\n*CloseGroup: General\r\n"},
	         {"c.ppd", "*A\r\n*DefaultPageSize: A4\n"}}),
	InPlace("InPlaceKeepEndingsAdd", {{"a.ppd", kPpdCrlf}, {"p.txt", "*M\n*OpenGroup: General\n*T1\n\n"}}, "", {"--no-check", "-e", "p.txt", "--", "a.ppd"},
	        "changed: a.ppd\n", {{"a.ppd", kHeadCrlf + "*T1\r\n\r\n" + kPpdCrlf.substr(kHeadCrlf.size())}}),
	InPlace("InPlaceBackupOnChangeOnly", {{"a.ppd", kPpd}, {"a.ppd.orig", kOld}, {"b.ppd.gz", kGzPpd}, {"c.ppd", kHead}, {"p.txt", kPageSize}},
	        "ls -i a.ppd | cut -d' ' -f1 > was", {"-b", "/R", "p.txt", "A4", "--", "a.ppd", "b.ppd.gz", "c.ppd"},
	        "changed: a.ppd\nchanged: b.ppd.gz\nunchanged: c.ppd (no anchor or key matched)\n",
	        {{"a.ppd", kA4Only}, {"a.ppd.orig", kPpd}, {"b.ppd.gz", Gzip(kA4Only)}, {"b.ppd.gz.orig", kGzPpd}}, 0,
	        "[ \"$(ls -i a.ppd.orig | cut -d' ' -f1)\" = \"$(cat was)\" ]"),
	InPlace("InPlaceDiffPreview", {{"a.ppd", kPpd}, {"p.txt", kPageSize}}, "", {"-n", "--diff", "/R", "p.txt", "A4", "--", "a.ppd"},
	        "changed: a.ppd\n--- a.ppd\t<time>\n+++ a.ppd\t<time>\n@@ -1,5 +1,5 @@\n *PPD-Adobe: \"4.3\"\n *OpenGroup: General\n"
	        "-*DefaultPageSize: Letter\n+*DefaultPageSize: A4\n *DefaultResolution: 300dpi\n *CloseGroup: General\n", {}),
	// Larger than a block, a last line without its newline, compressed.
	Needing(InPlace("InPlaceDiffAsDiffPrints", {{"a.ppd", kBig + "*OpenGroup: General\n*% end"}, {"b.gz", Gzip(kPpd)}, {"p.txt", kAdd}},
	                "cp a.ppd a.old && gzip -dc b.gz > b.old", {"--no-check", "--diff", "p.txt", "X", "Y", "--", "a.ppd", "b.gz"}, kAny,
	                {{"a.ppd", kAny}, {"b.gz", kAny}, {"out.txt", kAny}, {"want", kAny}}, 0,
	                "{ echo changed: a.ppd; diff -u --label a.ppd --label a.ppd a.old a.ppd; echo changed: b.gz;"
	                " gzip -dc b.gz | diff -u --label b.gz --label b.gz b.old -; } > want;"
	                " sed -E 's/^((---|[+]{3}) [^\t]*)\t.*/\\1/' out.txt | cmp - want"), "diff"),
	// Headers as diff writes them, the old text dated by its file: patch
	// finds a name with a blank, and applies a compressed file's diff to its
	// text.
	Needing(InPlace("InPlaceDiffPatchApplies", {{"a b.ppd", kPpd}, {"c.ppd.gz", kGzPpd}, {"p.txt", kPageSize}, {"want", kA4Only}},
	                "touch -d '2001-02-03 04:05:06.123456789' 'a b.ppd' && mkdir t && cp 'a b.ppd' t/ && gzip -dc c.ppd.gz > t/c.ppd",
	                {"-n", "--diff", "/R", "p.txt", "A4", "--", "a b.ppd", "c.ppd.gz"}, kAny, {{"out.txt", kAny}}, 0,
	                "grep -qxF -e \"--- a b.ppd\t$(date -r 'a b.ppd' '+%Y-%m-%d %H:%M:%S.%N %z')\" out.txt && "
	                "sed '/^changed: c/,$d' out.txt | (cd t && patch -s -p0) && cmp 't/a b.ppd' want && "
	                "sed -n '/^changed: c/,$p' out.txt | patch -s t/c.ppd && cmp t/c.ppd want"), "patch"),
	// A backup that cannot be linked, or a new file that cannot take the name
	// once the backup is made, leaves the file as it was and gives the older
	// backup its name again. A dry run foresees a backup name that a folder
	// holds.
	[] {
		Case c = InPlace("InPlaceBackupFailureKeepsOlder", {{"a.ppd", kPpd}, {"a.ppd.orig", kOld}, {"b.ppd", kPpd}, {"b.ppd.orig", kOld}, {"p.txt", kPageSize}},
		                 "", {}, "failed: a.ppd: a.ppd can not be backed up with the suffix .orig.\nfailed: b.ppd: Input/output error\n",
		                 {}, 1, "[ $(stat -c %h a.ppd) = 1 ] && [ $(stat -c %h b.ppd) = 1 ]");
		// (The leak checker of a sanitizer build cannot run under ptrace.)
		c.args = {"strace", "-f", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-e", "inject=linkat:error=EIO:when=1",
		          "-e", "inject=renameat:error=EIO:when=1", PPDEDIT_INPLACE_BIN, "-b", "/R", "p.txt", "A4", "--", "a.ppd", "b.ppd"};
		return Needing(c, "strace");
	}(),
	// Killed between the backup's link and the rename, a run leaves the old
	// file under both names (and the older backup under a hidden one), which
	// a second run replaces. The new file takes the name by a plain rename,
	// which file systems flush as they flush a file written over.
	[] {
		Case c = InPlace("InPlaceBackupKilledBeforeRename", {{"a.ppd", kPpd}, {"a.ppd.orig", kOld}, {"p.txt", kPageSize}}, "", {}, "",
		                 {{"a.ppd", kA4Only}, {"a.ppd.orig", kPpd}, {"older", kOld}, {"trace", kAny}, {"out.txt", "changed: a.ppd\n"}}, 0,
		                 "[ $(stat -c %i a.ppd) = $(stat -c %i a.ppd.orig) ] && rm .a.ppd.ppdedit-* && mv .a.ppd.orig.ppdedit-* older && "
		                 "ASAN_OPTIONS=detect_leaks=0 strace -o trace -e trace=renameat,renameat2 \"$PPDEDIT_INPLACE\" -b /R p.txt A4 -- a.ppd > out.txt && "
		                 "grep -q '^renameat([0-9]*, \".a.ppd.ppdedit-[^\"]*\", [0-9]*, \"a.ppd\") = 0' trace && "
		                 "[ $(stat -c %h a.ppd) = 1 ] && [ $(stat -c %h a.ppd.orig) = 1 ]");
		c.args = {"strace", "-f", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-e", "inject=renameat:signal=SIGKILL:when=1",
		          PPDEDIT_INPLACE_BIN, "-b", "/R", "p.txt", "A4", "--", "a.ppd"};
		c.signal = SIGKILL;
		return Needing(c, "strace");
	}(),
	// A file made before the marker turned up, that cannot be removed.
	[] {
		Case c = InPlace("InPlaceLateMarkerDropFailureSaid", {{"a.ppd", kBigMarked}, {"p.txt", kAdd}}, "", {}, kAny, {{"out.txt", kAny}}, 1,
		                 "grep -q '^failed: a.ppd: a.ppd was left as it was, but the hidden file .a.ppd.ppdedit-.* beside it can not be removed.$' out.txt"
		                 " && rm .a.ppd.ppdedit-*");
		c.args = {"strace", "-f", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-e", "inject=unlinkat:error=EIO:when=1",
		          PPDEDIT_INPLACE_BIN, "p.txt", "a", "b", "--", "a.ppd"};
		return Needing(c, "strace");
	}(),
	InPlace("InPlaceDryRunBackupRefused", {{"a.ppd", kPpd}, {"p.txt", kPageSize}}, "mkdir a.ppd.orig", {"-n", "-b", "/R", "p.txt", "A4", "--", "a.ppd"},
	        "failed: a.ppd: a.ppd can not be backed up with the suffix .orig.\n", {}, 1),
	InPlace("InPlaceDiffNameEscaped", {{"n\n.ppd", kPpd}, {"p.txt", kPageSize}}, "", {"-n", "--diff", "/R", "p.txt", "A4", "--", "n\n.ppd"},
	        "changed: n\\n.ppd\n--- n\\n.ppd\t<time>\n+++ n\\n.ppd\t<time>\n@@ -1,5 +1,5 @@\n *PPD-Adobe: \"4.3\"\n *OpenGroup: General\n"
	        "-*DefaultPageSize: Letter\n+*DefaultPageSize: A4\n *DefaultResolution: 300dpi\n *CloseGroup: General\n", {}),
	// A walk edits compressed PPDs by their name, in any case, as they are.
	InPlace("InPlaceRecursiveCompressed", {{"a.ppd.gz", kGzPpd}, {"B.PPD.GZ", kGzPpd}, {"c.gz", kGzPpd}, {"p.txt", kPageSize}}, "",
	        {"-r", "/R", "p.txt", "A4", "--", "."}, "changed: ./B.PPD.GZ\nchanged: ./a.ppd.gz\n",
	        {{"a.ppd.gz", Gzip(kA4Only)}, {"B.PPD.GZ", Gzip(kA4Only)}}),
	[] {
		Case c = InPlace("InPlaceRecursiveWithBackups", {{"p.txt", kPageSize}}, "mkdir -p d/s d/t && printf '%s' '" + kPpd + "' > d/s/a.PPD && "
		                 "cp d/s/a.PPD d/t/x.ppd && cp d/s/a.PPD d/notes.txt && ln -s ../t/x.ppd d/s/l.ppd && ln -s t d/u && mkfifo d/t/f.ppd",
		                 {"-r", "-b", "/R", "p.txt", "A4", "--", "d"},
		                 "changed: d/s/a.PPD\nskipped: d/s/l.ppd (a symbolic link)\nskipped: d/t/f.ppd (a FIFO)\nchanged: d/t/x.ppd\nskipped: d/u (a symbolic link)\n", {}, 0,
		                 "[ \"$(find d | sort | tr '\\n' ' ')\" = 'd d/notes.txt d/s d/s/a.PPD d/s/a.PPD.orig d/s/l.ppd d/t d/t/f.ppd d/t/x.ppd d/t/x.ppd.orig d/u ' ] && "
		                 "grep -q A4 d/s/a.PPD && grep -q Letter d/notes.txt");
		return c;
	}(),
	// Backups as cp and mv make them; a backup's name is never edited, so a
	// second run over "dir/*" keeps the first one's originals.
	InPlace("BackupNamesPassedOver", {{"a.ppd", kPpd}, {"a.ppd.orig", kOld}, {"a.ppd.~2~", kOld}, {"p.txt", kPageSize}}, "",
	        {"-b", "/R", "p.txt", "A4", "--", "a.ppd", "a.ppd.orig", "a.ppd.~2~"},
	        "changed: a.ppd\nunchanged: a.ppd.orig (a backup)\nunchanged: a.ppd.~2~ (a backup)\n",
	        {{"a.ppd", kA4Only}, {"a.ppd.~3~", kPpd}}),
	InPlace("BackupNumberedKeepsEvery", {{"a.ppd", kPpd}, {"p.txt", kPageSize}, {"q.txt", "*DefaultPageSize: A4\n*DefaultPageSize: B5\n"}}, "",
	        {"--backup=numbered", "/R", "p.txt", "A4", "--", "a.ppd"}, "changed: a.ppd\n",
	        {{"a.ppd", Replaced(kPpd, "Letter", "B5")}, {"a.ppd.~1~", kPpd}, {"a.ppd.~2~", kA4Only}}, 0,
	        "\"$PPDEDIT_INPLACE\" --backup=t /R q.txt -- a.ppd > /dev/null 2>&1"),
	InPlace("BackupSuffixAndEnvironment", {{"a.ppd", kPpd}, {"b.ppd", kPpd}, {"p.txt", kPageSize}}, "",
	        {"-S", ".bak", "/R", "p.txt", "A4", "--", "a.ppd"}, "changed: a.ppd\n",
	        {{"a.ppd", kA4Only}, {"a.ppd.bak", kPpd}, {"b.ppd", kA4Only}, {"b.ppd.old", kPpd}}, 0,
	        "VERSION_CONTROL=never SIMPLE_BACKUP_SUFFIX=.old \"$PPDEDIT_INPLACE\" -b /R p.txt A4 -- b.ppd > /dev/null 2>&1"),
	Refused("BackupSuffixAsOnceGiven", {"-b", ".bak", "/R", "p.txt", "A4", "--", "a.ppd"},
	        "[ERROR] .bak is not found.\nppdedit-inplace: -b takes no suffix: -S .bak gives one"),
	Refused("BackupSuffixMakingPpdNames", {"-S", ".gz", "/R", "p.txt", "A4", "--", "a.ppd"},
	        "a backup suffix may not be empty, hold a slash, or end or make a PPD's name: .gz"),
	// A number that no run gave is not followed past what a number holds.
	InPlace("BackupNumberPlanted", {{"a.ppd", kPpd}, {"a.ppd.~9223372036854775807~", kOld}, {"a.ppd.~99999999999999999999~", kOld}, {"p.txt", kPageSize}}, "",
	        {"--backup=numbered", "/R", "p.txt", "A4", "--", "a.ppd"}, "changed: a.ppd\n", {{"a.ppd", kA4Only}, {"a.ppd.~1~", kPpd}}),
	Refused("BackupControlUnknown", {"--backup=.bak", "/R", "p.txt", "A4", "--", "a.ppd"},
	        "invalid backup type '.bak' in --backup: none, numbered, existing or simple (a suffix is given with -S)"),
	// What a parameter file's line endings would do to files that end their
	// lines otherwise is refused, unless -e ends written lines as the file does.
	Refused("ParaLastLineUnended", {"/R", "p.txt", "A4", "--", "a.ppd"},
	        "p.txt, line 2: no line ending: *DefaultPageSize: !0! (end it, or give -e)", "*DefaultPageSize: Letter\n*DefaultPageSize: !0!"),
	Refused("ParaCrLfWithoutKeepEndings", {"/R", "p.txt", "A4", "--", "a.ppd"},
	        "p.txt, line 2: a CR LF line ending, which LF files would get too: give -e to end written lines as each file does",
	        "*DefaultPageSize: Letter\r\n*DefaultPageSize: !0!\r\n"),
	InPlace("ParaEndingsTakenWithKeepEndings", {{"a.ppd", kPpd}, {"p.txt", "*DefaultPageSize: Letter\r\n*DefaultPageSize: !0!"}}, "",
	        {"-e", "/R", "p.txt", "A4", "--", "a.ppd"}, "changed: a.ppd\n", {{"a.ppd", kA4Only}}),
	// The report says which keys found no line, and the summary how many
	// files were edited only in part, and when none of many matched.
	InPlace("KeysNotFound", {{"a.ppd", kPpd}, {"p.txt", kPageSize + "*DefaultDuplex: None\n*DefaultDuplex: !0!\n*X\n*Y\n"}}, "",
	        {"/R", "p.txt", "A4", "--", "a.ppd"}, "changed: a.ppd (keys 2, 3 not found)\n", {{"a.ppd", kA4Only}}),
	[] {
		Case c = InPlace("SummaryNoneMatched", {{"a.ppd", kPpd}, {"b.ppd", kPpd}, {"p.txt", "*DefaultPageSize:\n*DefaultPageSize: !0!\n"}}, "",
		                 {"-n", "/R", "p.txt", "A4", "--", "a.ppd", "b.ppd"},
		                 "unchanged: a.ppd (no anchor or key matched)\nunchanged: b.ppd (no anchor or key matched)\n", {});
		c.err = "2 files: 0 would change, 2 unchanged, 0 failed; no anchor or key matched in any\n";
		return c;
	}(),
	// -o sets defaults as the printing system does; every edit in place is
	// checked, and fails when it brings a fault that the old text lacked.
	Defaults("DefaultsSet", {"-o", "PageSize=A4"}, "changed: a.ppd\n",
	         Replaced(Replaced(Replaced(Replaced(kValid, "Size: Letter", "Size: A4"), "Region: Letter", "Region: A4"),
	                           "Area: Letter", "Area: A4"), "Dimension: Letter", "Dimension: A4")),
	Defaults("DefaultsAlready", {"-o", "PageSize=Letter", "-o", "InputSlot=Upper"},
	         "unchanged: a.ppd (already as the edit makes it; no option InputSlot)\n"),
	Defaults("DefaultsNoOption", {"-o", "InputSlot=Upper"}, "unchanged: a.ppd (no option InputSlot)\n"),
	Defaults("DefaultsNotAChoice", {"-o", "Duplex=None", "-o", "PageSize=Legal"},
	         "failed: a.ppd: Legal is not a choice of PageSize (Letter A4)\n", "", 1),
	Defaults("DefaultsCheckedToo", {"-o", "PageSize=A4", "-o", "Duplex=DuplexNoTumble"},
	         "failed: a.ppd: line 30: the defaults PageSize A4 and Duplex DuplexNoTumble break a constraint\n", "", 1),
	// A default line keeps its blanks, tabs and ending; an option without one
	// gets one after its *OpenUI line, with that line's ending.
	Defaults("DefaultsKeepEveryOtherByte", {"-o", "Duplex=None", "-o", "PageSize=A4"}, "changed: a.ppd\n",
	         "*OpenUI *Duplex: PickOne\r\n*DefaultDuplex: None\r\n*Duplex None: \"\"\r\n*CloseUI: *Duplex\r\n"
	         "*OpenUI *PageSize: PickOne\n*PageSize A4: \"\"\n*CloseUI: *PageSize\n*DefaultPageSize:\tA4 ", 0,
	         "*OpenUI *Duplex: PickOne\r\n*Duplex None: \"\"\r\n*CloseUI: *Duplex\r\n"
	         "*OpenUI *PageSize: PickOne\n*PageSize A4: \"\"\n*CloseUI: *PageSize\n*DefaultPageSize:\tLetter "),
	InPlace("DefaultsCompressedPreview", {{"a.ppd.gz", Gzip(kValid)}}, "", {"-n", "--diff", "-o", "Duplex=DuplexNoTumble", "--", "a.ppd.gz"},
	        "changed: a.ppd.gz\n--- a.ppd.gz\t<time>\n+++ a.ppd.gz\t<time>\n@@ -22,7 +22,7 @@\n *PageRegion A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
	        " *CloseUI: *PageRegion\n *OpenUI *Duplex/Two-Sided: PickOne\n-*DefaultDuplex: None\n+*DefaultDuplex: DuplexNoTumble\n"
	        " *Duplex None/Off: \"<</Duplex false>>setpagedevice\"\n *Duplex DuplexNoTumble/Long Edge: \"<</Duplex true>>setpagedevice\"\n"
	        " *CloseUI: *Duplex\n", {}),
	InPlace("DefaultsBackupsTree", {{"a.ppd", kValid}}, "mkdir d && mv a.ppd d/", {"-b", "-r", "--sync", "-o", "Duplex=DuplexNoTumble", "--", "d"},
	        "changed: d/a.ppd\n", {{"d", "<dir>"}}, 0, "cmp d/a.ppd.orig - <<'EOF'\n" + kValid + "EOF\ngrep -q 'Duplex: DuplexNoTumble' d/a.ppd"),
	Refused("DefaultsNoChoice", {"-o", "PageSize", "--", "a.ppd"}, "-o PageSize is not OPTION=CHOICE"),
	Refused("DefaultsStarred", {"-o", "*PageSize=A4", "--", "a.ppd"}, "-o *PageSize=A4 names the option with its '*': give it without"),
	Refused("DefaultsTwice", {"-o", "PageSize=A4", "-o", "PageSize=Letter", "--", "a.ppd"},
	        "-o PageSize=Letter asks for two defaults of one option"),
	Refused("DefaultsWithParameterFile", {"-o", "PageSize=A4", "/R", "p.txt", "--", "a.ppd"},
	        "-o sets defaults by itself: no parameter file, /R, -P, -p or -e"),
	Refuses("CheckDefaultNotAChoice", "*DefaultDuplex: None\n*DefaultDuplex: Simplex\n", {"/R", "p.txt"},
	        "line 25: *DefaultDuplex Simplex is not one of its choices"),
	Refuses("CheckNoDefault", "*DefaultDuplex: None\n*% no default\n", {"/R", "p.txt"}, "line 24: *Duplex has no *DefaultDuplex"),
	Refuses("CheckUnclosedOption", "*OpenUI *Quality\n*CloseUI: *PageSize\n*OpenUI *Quality/Quality: PickOne\n*DefaultQuality: Draft\n*Quality Draft/Draft: \"\"\n",
	        {"p.txt"}, "line 22: *PageRegion opens before *Quality is closed"),
	Refuses("CheckGroupInGroup", "*OpenGroup: Extra\n*OpenGroup: General/General\n*OpenGroup: Extra/Extra\n*CloseGroup: Extra\n",
	        {"p.txt"}, "line 14: a group opens before the last is closed"),
	Refuses("CheckQuoteLeftOpen", "*Note\n*CloseUI: *PageSize\n*Note: \"unclosed\n", {"p.txt"},
	        "line 19: a quoted value that runs on over the lines after it; line 21: page size Letter has no *ImageableArea"),
	Refuses("CheckLongLine", "*ModelName: \"Test\"\n*ModelName: \"" + Repeat('m', 250) + "\"\n", {"/R", "p.txt"},
	        "line 9: longer than 255 bytes"),
	Refuses("CheckKeyword", "*Note\n*CloseGroup: General\n*" + Repeat('K', 41) + ": \"x\"\n", {"p.txt"},
	        "line 30: *" + Repeat('K', 41) + " is no keyword of 1 to 40 printable characters"),
	Refuses("CheckChoiceTwice", "*Note\n*DefaultDuplex: None\n*Duplex None/Off again: \"\"\n", {"p.txt"},
	        "line 27: *Duplex offers None twice, or in two cases"),
	Refuses("CheckRequiredGone", "*ModelName: \"Test\"\n*% no model\n", {"/R", "p.txt"}, "*ModelName is gone, which every PPD holds"),
	Refuses("CheckTranslation", "*OpenUI *Quality\n*CloseUI: *Duplex\n*OpenUI *Quality/Quality: PickOne\n*DefaultQuality: Draft\n"
	        "*Quality Draft/Draft: \"\"\n*CloseUI: *Quality\n", {"p.txt"}, "line 29: *Quality has no de translation, which *cupsLanguages asks for", kValidDe),
	// A file that was faulty already is not blamed for its old faults; -n
	// checks alike; --no-check writes what the edit makes.
	InPlace("CheckOldFaultsStay", {{"a.ppd", Replaced(kValid, "*DefaultDuplex: None\n", "")}}, "", {"-o", "PageSize=A4", "--", "a.ppd"},
	        "changed: a.ppd\n", {{"a.ppd", kAny}}),
	InPlace("CheckDryRunAlike", {{"a.ppd", kValid}, {"p.txt", "*DefaultDuplex: None\n*DefaultDuplex: Simplex\n"}}, "",
	        {"-n", "/R", "p.txt", "--", "a.ppd"}, "failed: a.ppd: line 25: *DefaultDuplex Simplex is not one of its choices\n", {}, 1),
	InPlace("CheckOff", {{"a.ppd", kValid}, {"p.txt", "*DefaultDuplex: None\n*DefaultDuplex: Simplex\n"}}, "",
	        {"--no-check", "/R", "p.txt", "--", "a.ppd"}, "changed: a.ppd\n", {{"a.ppd", Replaced(kValid, "Duplex: None", "Duplex: Simplex")}}),
};
// clang-format on

// A row of the table, by its index: each test process builds the table
// once, and copies none of its files' bytes, some megabytes.
struct Row {
	std::size_t index;
};

void PrintTo(const Row &row, std::ostream *os)
{
	*os << kCases[row.index].name;
}

class EndToEnd : public testing::TestWithParam<Row> {};

TEST_P(EndToEnd, Run)
{
	Check(kCases[GetParam().index]);
}

std::vector<Row> AllRows()
{
	std::vector<Row> rows;
	for (std::size_t i = 0; i < std::size(kCases); i++)
		rows.push_back({i});
	return rows;
}

INSTANTIATE_TEST_SUITE_P(Table, EndToEnd, testing::ValuesIn(AllRows()),
                         [](const testing::TestParamInfo<Row> &row) { return kCases[row.param.index].name; });

// Generated runs, checked against a model of what each must print and leave
// behind: random command lines over a few short lines, with missing, marked
// and aliased files and, often, an output that exists already.

using Lines = std::vector<std::string>;

std::string Join(const Lines &lines)
{
	std::string s;
	for (const auto &l : lines)
		s += l;
	return s;
}

std::string Trimmed(const std::string &line)
{
	std::size_t n = line.find_last_not_of("\r\n");
	return n == std::string::npos ? line : line.substr(0, n + 1);
}

// Fills line, or gives nothing when a step makes it longer than a line
// buffer holds.
std::optional<std::string> Filled(std::string line, const Lines &params)
{
	for (std::size_t n = 0; n < params.size(); n++) {
		std::string token = "!" + std::to_string(n) + "!";
		for (std::size_t at = line.find(token); at != std::string::npos;
		     at = line.find(token, at + params[n].size()))
			line.replace(at, token.size(), params[n]);
		if (line.size() > 5119)
			return std::nullopt;
	}
	return line;
}

bool Holds(const Lines &input, const std::string &line)
{
	for (const auto &l : input)
		if (Trimmed(l) == Trimmed(line))
			return true;
	return false;
}

// The output of each mode, or nothing when a filled line is too long.
std::optional<std::string> ModelAdd(const Lines &in, const Lines &para, const Lines &params)
{
	std::string out;
	bool done = false;
	for (const auto &l : in) {
		out += l;
		if (!done && Trimmed(l) == Trimmed(para[1])) {
			for (std::size_t i = 2; i < para.size(); i++) {
				auto filled = Filled(para[i], params);
				if (!filled)
					return filled;
				out += *filled;
			}
			done = true;
		}
	}
	return out;
}

std::optional<std::string> ModelReplace(const Lines &in, const Lines &para, const Lines &params)
{
	std::string out;
	std::size_t k = 0;
	for (const auto &l : in) {
		if (k < para.size() && Trimmed(l) == Trimmed(para[k]) && k + 1 < para.size()) {
			auto filled = Filled(para[k + 1], params);
			if (!filled)
				return filled;
			out += *filled;
			k += 2;
		} else {
			if (k < para.size() && Trimmed(l) == Trimmed(para[k]))
				k = para.size();
			out += l;
		}
	}
	return out;
}

enum class In { Missing, File, Folder };
enum class Out { Absent, Exists, InputName, ParaName, DevFdInput, ProcFdPara, Folder, NoFolder, Linked, Symlink };

struct Drawn {
	bool replace;
	In in;
	bool paraMissing;
	Out out;
	Lines input, para, params;
};

const char *OutputName(Out o)
{
	switch (o) {
	case Out::InputName: return "in.ppd";
	case Out::ParaName: return "./p.txt";
	case Out::DevFdInput: return "/dev/fd/3";
	case Out::ProcFdPara: return "/proc/self/fd/4";
	case Out::NoFolder: return "no/out.ppd";
	default: return "out.ppd";
	}
}

// What opening the output prints when it fails, or "" when it opens.
std::string OpenOutputFails(const Drawn &g)
{
	const std::string name = OutputName(g.out);
	if (g.out == Out::Folder || g.out == Out::NoFolder)
		return "[ERROR] " + name + " don't created.\n";
	if (g.out == Out::DevFdInput || g.out == Out::ProcFdPara)
		return "[ERROR] " + name + " can not be both read and written.\n";
	return "";
}

// Fills c.changed with what a run that opened its output leaves: the new
// text (text) or, after a failure, every output as it was (a new one
// absent), two links still two.
void ModelFiles(const Drawn &g, const std::optional<std::string> &text, Case &c)
{
	if (g.out == Out::Linked)
		c.after = "[ $(stat -c %h l.ppd) = 2 ]";
	if (text && g.out == Out::Linked)
		c.changed["out.ppd"] = c.changed["l.ppd"] = *text;
	else if (text && (g.out == Out::Absent || g.out == Out::Exists))
		c.changed["out.ppd"] = *text;
	else if (text && g.out == Out::Symlink)
		c.changed["t.ppd"] = *text;
}

// Fills c.out and c.changed with what the run must print and write.
void Model(const Drawn &g, Case &c)
{
	const std::string out = OutputName(g.out);
	bool named = (g.out == Out::InputName && g.in != In::Missing) || (g.out == Out::ParaName && !g.paraMissing);
	if (named) {
		c.out = "[ERROR] " + out + " can not be both read and written.\n";
		return;
	}
	if (g.in == In::Missing || g.paraMissing) {
		c.out = std::string(g.in == In::Missing ? "[ERROR] in.ppd is not found.\n" : "") +
		        (g.paraMissing ? "[ERROR] p.txt is not found.\n" : "");
		return;
	}
	const std::string readPara = "[ERROR] p.txt can not read.\n";
	if (g.in == In::Folder) {
		c.out = "[ERROR] in.ppd can not read.\n";
		return;
	}
	if (!g.replace && (g.para.empty() || Holds(g.input, g.para[0]))) {
		c.out = g.para.empty() ? readPara : "[ERROR] in.ppd is already change.\n";
		return;
	}
	c.out = OpenOutputFails(g);
	if (!c.out.empty())
		return;
	bool shortPara = g.para.size() < (g.replace ? 1u : 2u);
	std::optional<std::string> text;
	if (!shortPara)
		text = g.replace ? ModelReplace(g.input, g.para, g.params) : ModelAdd(g.input, g.para, g.params);
	c.out = shortPara ? readPara : !text ? kTooLong : "Output : " + out + "\n";
	ModelFiles(g, text, c);
}

Lines RandomLines(std::mt19937 &rng, int most)
{
	static const char *const kVocabulary[] = {"*A\n", "*B\n", "*C\r\n", "*M\n", "*T !0! !1!\n", "*A", "\n"};
	Lines lines;
	for (int n = static_cast<int>(rng() % static_cast<unsigned>(most + 1)); n > 0; n--)
		lines.push_back(kVocabulary[rng() % std::size(kVocabulary)]);
	// Only the last line may lack its line ending, or two would join.
	for (std::size_t i = 0; i + 1 < lines.size(); i++)
		if (lines[i].back() != '\n')
			lines[i] += "\n";
	return lines;
}

Case Generate(std::mt19937 &rng, Drawn *g)
{
	g->replace = rng() % 2;
	g->in = static_cast<In>(rng() % 8 == 0 ? 0 : rng() % 9 == 0 ? 2 : 1);
	g->paraMissing = rng() % 8 == 0;
	g->out = static_cast<Out>(rng() % 10);
	g->input = RandomLines(rng, 8);
	g->para = RandomLines(rng, 5);
	g->params.clear();
	for (int n = static_cast<int>(rng() % 3); n > 0; n--) {
		unsigned k = rng() % 16;
		g->params.push_back(k == 0 ? kLong : k % 2 ? "v" : "!1!");
	}

	Case c{"generated", {}, "", {"ppdedit"}, "", {}};
	if (g->replace)
		c.args.push_back("/R");
	for (const char *name : {"in.ppd", OutputName(g->out), "p.txt"})
		c.args.push_back(name);
	c.args.insert(c.args.end(), g->params.begin(), g->params.end());
	if (g->in == In::File)
		c.files["in.ppd"] = Join(g->input);
	if (!g->paraMissing)
		c.files["p.txt"] = Join(g->para);
	if (g->out == Out::Exists || g->out == Out::Linked)
		c.files["out.ppd"] = kOld;
	if (g->out == Out::Symlink)
		c.files["t.ppd"] = kOld;
	// Most cases need no shell to set them up: that saves a process each.
	auto add = [&c](const std::string &cmd) { c.setup += (c.setup.empty() ? "" : " && ") + cmd; };
	if (g->in == In::Folder)
		add("mkdir in.ppd");
	if (g->out == Out::Folder)
		add("mkdir out.ppd");
	if (g->out == Out::Linked)
		add("ln out.ppd l.ppd");
	if (g->out == Out::Symlink)
		add("ln -s t.ppd out.ppd");
	Model(*g, c);
	return c;
}

// The generated cases run in shards, each a test of its own that fits its
// time-out with room to spare on a busy machine under the sanitizers. Shard
// k runs cases 200k to 200k+199 of one sequence.
constexpr int kShards = 5;
constexpr int kShardCases = 200;

class Generated : public testing::TestWithParam<int> {};

TEST_P(Generated, AgreeWithModel)
{
	// A sanitizer build's leak check at each exit costs more than the rest
	// of a run; ppdedit allocates nothing on its edit path, and the table's
	// rows keep the check.
	const char *asan = std::getenv("ASAN_OPTIONS");
	setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
	std::mt19937 rng(20261208);
	int first = GetParam() * kShardCases;
	for (int i = 0; i < first + kShardCases; i++) {
		Drawn g;
		Case c = Generate(rng, &g);
		if (i < first)
			continue;
		Check(c);
		if (testing::Test::HasFailure()) {
			std::string argv;
			for (const auto &a : c.args)
				argv += " " + a;
			FAIL() << "case " << i << ":" << argv << "\ninput: " << Join(g.input) << "\nparameter file: " << Join(g.para);
		}
	}
}

INSTANTIATE_TEST_SUITE_P(Shards, Generated, testing::Range(0, kShards));

} // namespace
