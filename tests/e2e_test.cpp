// End-to-end table: each row runs the built binary in a fresh folder with a
// chosen argv (argv[0] included) and compares its stdout, its exit status,
// that stderr stays empty, and every file of the folder afterwards.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
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
};

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

Result Run(const std::string &dir, const std::vector<std::string> &args)
{
	int out[2], err[2];
	if (pipe(out) != 0 || pipe(err) != 0)
		std::abort();
	pid_t pid = fork();
	if (pid == 0) {
		dup2(out[1], 1);
		dup2(err[1], 2);
		std::vector<char *> argv;
		for (const auto &a : args)
			argv.push_back(const_cast<char *>(a.c_str()));
		argv.push_back(nullptr);
		if (chdir(dir.c_str()) == 0)
			execv(PPDEDIT_BIN, argv.data());
		_exit(127);
	}
	close(out[1]);
	close(err[1]);
	Result r;
	r.out = Slurp(out[0]);
	r.err = Slurp(err[0]);
	close(out[0]);
	close(err[0]);
	waitpid(pid, &r.status, 0);
	return r;
}

void Check(const Case &c)
{
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
	Result r = Run(dir, c.args);
	EXPECT_EQ(r.out, c.out);
	EXPECT_EQ(r.err, "");
	EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.status;
	Files got = Snapshot(dir);
	EXPECT_EQ(got.size(), want.size());
	for (const auto &[name, bytes] : want) {
		auto it = got.find(name);
		ASSERT_NE(it, got.end()) << name << " is missing";
		EXPECT_TRUE(it->second == bytes)
		        << name << ": got " << it->second.size() << " bytes, want " << bytes.size();
	}
	std::system(("rm -rf " + dir).c_str());
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
	 "[ERROR] in.ppd is not found.\n[ERROR] p.txt is not found.\n", {{"out.ppd", ""}}},
	{"OutputFolderMissing", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "",
	 {"ppdedit", "in.ppd", "no/out.ppd", "p.txt"}, "[ERROR] no/out.ppd don't created.\n", {}},
	{"LowerCaseR", {}, "", {"ppdedit", "/r", "a", "b", "c"},
	 "[ERROR] /r is not found.\n[ERROR] b is not found.\n", {{"a", ""}}},
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

	// Add mode.
	{"AddFillsTemplate", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "", AddArgs({"a", "b"}), kOk,
	 {{"out.ppd", kHead + "*T a b\n" + kTail}}},
	{"AddOneParameterLeavesSecond", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "", AddArgs({"a"}), kOk,
	 {{"out.ppd", kHead + "*T a !1!\n" + kTail}}},
	{"AddCrlfInputLfAnchor", {{"in.ppd", kPpdCrlf}, {"p.txt", kAdd}}, "", AddArgs({"a", "b"}), kOk,
	 {{"out.ppd", kHeadCrlf + "*T a b\n" + kPpdCrlf.substr(kHeadCrlf.size())}}},
	{"AddMarkerAsLastLineWithoutEnding", {{"in.ppd", kPpd + "*Marker"}, {"p.txt", kAdd}}, "", AddArgs(),
	 "[ERROR] in.ppd is already change.\n", {{"out.ppd", ""}}},
	{"AddMarkerCrlf", {{"in.ppd", "*Marker\r\n"}, {"p.txt", kAdd}}, "", AddArgs(),
	 "[ERROR] in.ppd is already change.\n", {{"out.ppd", ""}}},
	{"AddMarkerTrailingBlankIsOtherLine", {{"in.ppd", "*Marker \n"}, {"p.txt", kAdd}}, "", AddArgs(), kOk,
	 {{"out.ppd", "*Marker \n"}}},
	{"AddEmptyParaFile", {{"in.ppd", kPpd}, {"p.txt", ""}}, "", AddArgs(), kNotFound, {{"out.ppd", ""}}},
	{"AddParaFileOneLine", {{"in.ppd", kPpd}, {"p.txt", "*Marker\n"}}, "", AddArgs(), kNotFound,
	 {{"out.ppd", ""}}},
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
	 "", AddArgs({"a", "b"}), "[ERROR] in.ppd is already change.\n", {{"out.ppd", ""}}},

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
	{"ReplaceEmptyParaFile", {{"in.ppd", kPpd}, {"p.txt", ""}}, "", ReplaceArgs(), kNotFound,
	 {{"out.ppd", ""}}},
	{"ReplaceOutputNotSearchedAgain", {{"in.ppd", "*A\n*B\n"}, {"p.txt", "*A\n*B\n*B\n*C\n"}}, "",
	 ReplaceArgs(), kOk, {{"out.ppd", "*B\n*C\n"}}},

	// Read and write failures.
	{"InputIsFolder", {{"p.txt", kAdd}}, "mkdir in.ppd", AddArgs(), "[ERROR] in.ppd can not read.\n",
	 {{"out.ppd", ""}}},
	{"ParaFileIsFolder", {{"in.ppd", kPpd}}, "mkdir p.txt", ReplaceArgs(), kNotFound, {{"out.ppd", ""}}},
	{"OutputIsFolder", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "mkdir out.ppd", AddArgs(),
	 "[ERROR] out.ppd don't created.\n", {}},
	{"FifoInputAddRefused", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "mkfifo f && (cat in.ppd > f &)",
	 {"ppdedit", "f", "out.ppd", "p.txt"}, "[ERROR] f can not read.\n", {{"out.ppd", ""}}},
	{"FifoInputReplaceWorks", {{"in.ppd", kPpd}, {"p.txt", kReplace}}, "mkfifo f && (cat in.ppd > f &)",
	 {"ppdedit", "/R", "f", "out.ppd", "p.txt", "A4", "1"}, kOk,
	 {{"out.ppd", kHead + "*DefaultPageSize: A4\n*DefaultResolution: 1\n*CloseGroup: General\n"}}},
	{"OutputDevFull", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "", {"ppdedit", "in.ppd", "/dev/full", "p.txt"},
	 "[ERROR] /dev/full can not write.\n", {}},
	{"ReplaceDevFullAfterPairs", {{"in.ppd", kFiller + kFiller}, {"p.txt", "*% filler line 0\n"}}, "",
	 {"ppdedit", "/R", "in.ppd", "/dev/full", "p.txt"}, "[ERROR] /dev/full can not write.\n", {}},

	// Filled lines that outgrow the line buffer.
	{"FilledLineTooLong", {{"in.ppd", kPpd}, {"p.txt", kAdd}}, "", AddArgs({Repeat('v', 5200)}),
	 "[ERROR] p.txt has a line too long after filling in parameters.\n", {{"out.ppd", ""}}},
	{"FilledLineGrowsThenShrinks", {{"in.ppd", kPpd}, {"p.txt", "*M\n*OpenGroup: General\n!0!!1!\n"}}, "",
	 AddArgs({Repeat('v', 5119), ""}), "[ERROR] p.txt has a line too long after filling in parameters.\n",
	 {{"out.ppd", ""}}},
	{"FilledLineFitsExactly", {{"in.ppd", "*A\n"}, {"p.txt", "*M\n*A\n!0!"}}, "",
	 AddArgs({Repeat('v', 5119)}), kOk, {{"out.ppd", "*A\n" + Repeat('v', 5119)}}},

	// NUL bytes: copied and compared whole; refused in the parameter file.
	{"InputNulCopied", {{"in.ppd", std::string("*A\0x\n*A\n*B\0\n", 12)}, {"p.txt", "*M\n*A\n*T\n"}}, "",
	 AddArgs(), kOk, {{"out.ppd", std::string("*A\0x\n*A\n*T\n*B\0\n", 15)}}},
	{"ReplaceNulLineNotMatched", {{"in.ppd", std::string("*A\0\n*A\n", 7)}, {"p.txt", "*A\n*X\n"}}, "",
	 ReplaceArgs(), kOk, {{"out.ppd", std::string("*A\0\n*X\n", 7)}}},
	{"ParaFileNul", {{"in.ppd", kPpd}, {"p.txt", std::string("*M\n*Open\0Group\n", 15)}}, "", AddArgs(),
	 "[ERROR] p.txt is not a text file.\n", {{"out.ppd", ""}}},
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
	 "[ERROR] in.ppd is already change.\n", {{"out.ppd", ""}}},
	{"ReplaceAcrossBlocks", {{"in.ppd", kFiller + kPpd}, {"p.txt", kReplace}}, "",
	 ReplaceArgs({"A4", "600dpi"}), kOk,
	 {{"out.ppd", kFiller + kHead + "*DefaultPageSize: A4\n*DefaultResolution: 600dpi\n*CloseGroup: General\n"}}},
};
// clang-format on

void PrintTo(const Case &c, std::ostream *os)
{
	*os << c.name;
}

class EndToEnd : public testing::TestWithParam<Case> {};

TEST_P(EndToEnd, Run)
{
	Check(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Table, EndToEnd, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &row) { return row.param.name; });

} // namespace
