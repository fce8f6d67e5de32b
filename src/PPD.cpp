// ppdedit writes an edited copy of a PPD file without parsing it: it compares,
// copies and substitutes lines.
//
// Add mode refuses an input that already holds the parameter file's marker
// line, then copies the input and inserts the template lines after the first
// line equal to the anchor line. A regular input is read once for both: it
// is copied behind the search for the marker, and what was written is
// dropped if the marker turns up. Line Replace Mode ("/R") writes the input
// with each key line of the parameter file, in turn, replaced by the line
// that follows it there. Placeholders !0!, !1!... in the written lines are
// filled with the command-line parameters.
//
// A "line" is a piece of at most kPieceMax bytes: a longer line is handled
// as several lines. Lines are matched by their trimmed forms (trailing CR and
// LF cut). Every byte of the input that is not replaced reaches the output
// unchanged, NUL bytes and line endings included.
#include "PPD.h"

#include "Defaults.h"
#include "FileIO.h"
#include "Output.h"
#include "Signals.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

int g_nMode;
char g_szPathName[kPathCount][kPathMax];
FILE *g_infp;
FILE *g_outfp;
FILE *g_parafp;

namespace {

constexpr int kAddFirstParameter = 4;
constexpr int kReplaceFirstParameter = 5;

// What reading a parameter-file line gave.
enum { kParaNul = -2, kParaError = -1, kParaEnd = 0, kParaLine = 1 };

// The marker line, and the anchor line read with it so that one pass over
// the input finds both; the anchor is reported by Add when it is missing or
// not text. Whether Add makes the marker check itself, as it copies the
// input in one reading.
char g_marker[kLineMax];
char g_anchor[kLineMax];
int g_anchorRead;
bool g_oneReading;

// What is said while the input is read once, before the marker check is
// done: held back until the check tells whether it is said at all. Room
// for a message or two that name files; the stream that holds them, made
// once; where messages went before (null when none are held); and what a
// failure to write said, set aside (g_asideLen bytes of g_heldText) while
// the rest of the input is searched.
constexpr std::size_t kHeldMax = 4 * kPathMax + 256;
char g_heldText[kHeldMax];
FILE *g_held;
FILE *g_saying;
std::size_t g_asideLen;
bool g_aside;

// An edit in place: its output replaces its input, and only when changed.
bool g_inPlace;
int g_inPlaceOptions;
// Whether the marker check refused the input, and whether the anchor or a
// key matched a line.
bool g_marked;
bool g_matched;
// The parameter file of a run over many files, read once: its pieces one
// after another, where each ends, and whether the lines written are filled
// already. Parameter files are a few lines; these bounds are far above.
constexpr std::size_t kKeptMax = 1 << 20;
constexpr std::size_t kKeptPiecesMax = 1 << 16;
char g_keptText[kKeptMax];
std::size_t g_keptEnds[kKeptPiecesMax];
std::size_t g_keptCount;
bool g_keptPara;
// The defaults that every edit in place sets instead of a parameter file's
// edit, and what the report says beside a file.
const DefaultAsked *g_asked;
int g_askedCount;
char g_note[256];
// Whether the last edit in place found some of its keys, but not all.
bool g_inPart;

// Takes the next parameter-file line into line as text, and says what it
// gave; only a read error is reported here.
int TakeParaLine(char *line)
{
	Piece p;
	int got = NextParaPiece(&p);
	if (got <= 0)
		return got < 0 ? kParaError : kParaEnd;
	if (memchr(p.text, '\0', p.len))
		return kParaNul;
	memcpy(line, p.text, p.len);
	line[p.len] = '\0';
	return kParaLine;
}

// Reports what TakeParaLine gave: 1 for a line, 0 at the end, -1 on an
// error. A missing line is an error when it is required.
int ParaLineResult(int got, bool required)
{
	if (got == kParaNul)
		printf("[ERROR] %s is not a text file.\n", g_szPathName[kPathPara]);
	if (got == kParaEnd && required)
		printf("[ERROR] %s can not read.\n", g_szPathName[kPathPara]);
	if (got == kParaEnd)
		return required ? -1 : 0;
	return got == kParaLine ? 1 : -1;
}

// Reads the next parameter-file line into line as text. 1 for a line, 0 at
// the end of the file, -1 on an error.
int ReadParaLine(char *line)
{
	return ParaLineResult(TakeParaLine(line), false);
}

// Reads a parameter-file line that must be there; 0 when it is not.
int ReadRequiredParaLine(char *line)
{
	return ParaLineResult(TakeParaLine(line), true) > 0;
}

// Fills a parameter-file line's placeholders, unless the line was filled
// when the file was kept.
int Fill(char *line, int count, char *const parameters[])
{
	if (g_keptPara || ExpandParameters(line, kLineMax, count, parameters))
		return 1;
	printf("[ERROR] %s has a line too long after filling in parameters.\n",
	       g_szPathName[kPathPara]);
	return 0;
}

// When endings are kept: gives a filled line the line ending of the input
// piece it goes with, unless that piece has none (the file's last line).
int TakeEnding(char *line, const Piece &piece)
{
	std::size_t from = EndingStart(piece.text, piece.len);
	std::size_t n = piece.len - from;
	if (!(g_inPlaceOptions & kKeepEndings) || n == 0)
		return 1;
	std::size_t at = EndingStart(line, strlen(line));
	if (at + n >= kLineMax) {
		printf("[ERROR] %s has a line too long after filling in parameters.\n",
		       g_szPathName[kPathPara]);
		return 0;
	}
	memcpy(line + at, piece.text + from, n);
	line[at + n] = '\0';
	return 1;
}

// Writes every remaining parameter-file line, filled, after the anchor.
int WriteTemplate(int count, char *const parameters[])
{
	char line[kLineMax];
	int got;
	while ((got = ReadParaLine(line)) > 0)
		if (!Fill(line, count, parameters) || !TakeEnding(line, AnchorEnding()) ||
		    !WriteOut(line, strlen(line)))
			return 0;
	return got == 0;
}

// Fills a parameter-file line's placeholders and writes it in place of the
// input piece just taken.
int WriteInstead(const Piece &piece, char *line, int count, char *const parameters[])
{
	return Fill(line, count, parameters) && TakeEnding(line, piece) &&
	       ReplacePiece(piece, line, strlen(line));
}

// From now on, messages are held back. False when they cannot be.
bool HoldMessages()
{
	if (!g_held)
		g_held = fmemopen(g_heldText, sizeof g_heldText, "w");
	if (!g_held)
		return false;
	rewind(g_held);
	g_saying = stdout;
	stdout = g_held;
	g_aside = false;
	return true;
}

// Lets messages out again; returns how many bytes were held.
std::size_t EndHold()
{
	if (!g_saying)
		return 0;
	fflush(g_held);
	long n = ftell(g_held);
	stdout = g_saying;
	g_saying = nullptr;
	return n > 0 ? std::min(static_cast<std::size_t>(n), sizeof g_heldText) : 0;
}

// After a failure to write: what it said waits, and what follows is said.
void SetAside()
{
	if (!g_saying)
		return;
	g_asideLen = EndHold();
	g_aside = true;
}

// Says what was held, unless it was set aside.
void LetHeldOut()
{
	std::size_t n = EndHold();
	fwrite(g_heldText, 1, n, stdout);
}

// Says what a failure to write set aside; false when there was none.
bool SayAside()
{
	if (g_aside)
		fwrite(g_heldText, 1, g_asideLen, stdout);
	return g_aside;
}

// Ends a failed edit: the output undone, the run context closed.
int Abandon()
{
	Uninitialize();
	return 0;
}

// Copies the rest of the input and closes the output: the end of every
// successful edit.
int Finish()
{
	if (!FinishOutput()) {
		Uninitialize();
		return 0;
	}
	return 1;
}

void CloseStream(FILE **fp)
{
	if (*fp)
		fclose(*fp);
	*fp = nullptr;
}

// Copies the three file names into their slots; a name that does not fit is
// refused whole, since a cut name could name another file.
int StorePaths(char *const names[])
{
	int ok = 1;
	for (int i = 0; i < kPathCount; i++) {
		if (strlen(names[i]) >= kPathMax) {
			// In place, the output is the input: one name, one message.
			if (!g_inPlace || i != kPathOutput)
				printf("[ERROR] %s is too long.\n", names[i]);
			ok = 0;
		} else {
			strcpy(g_szPathName[i], names[i]);
		}
	}
	return ok;
}

// Opens the output: the named file, or for an edit in place a new file that
// replaces the input once the edit changes it.
int OpenRunOutput()
{
	const char *output = g_szPathName[kPathOutput];
	if (!g_inPlace)
		return OpenOutput(&g_outfp, output);
	return ReplaceInputWhenChanged(&g_outfp, output, g_inPlaceOptions & kDryRun,
	                               g_inPlaceOptions & kSync);
}

bool SameFile(const struct stat &a, const char *path)
{
	struct stat b;
	return stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Refuses an output that names the input or the parameter file, before
// anything is opened. The output's descriptor is checked again once open.
int CheckOutputDistinct()
{
	struct stat out;
	const char *output = g_szPathName[kPathOutput];
	if (stat(output, &out) != 0)
		return 1;
	if (SameFile(out, g_szPathName[kPathInput]) || SameFile(out, g_szPathName[kPathPara])) {
		printf("[ERROR] %s can not be both read and written.\n", output);
		return 0;
	}
	return 1;
}

// Opens a file to be edited in place: a regular file only (a FIFO would
// block, or lose what it holds to this run), locked against a second edit.
// 0 when it cannot be opened (errno says why), -1 when refused (said).
int OpenInPlace(FILE **fp, const char *path)
{
	int fd = OpenFileToReplace(path);
	if (fd == -2)
		return -1;
	*fp = fd >= 0 ? fdopen(fd, "rb") : nullptr;
	if (fd >= 0 && !*fp) {
		int e = errno;
		close(fd);
		errno = e;
	}
	return *fp != nullptr;
}

// Opens the input and the parameter file (unless it is kept), reporting
// each that fails.
int OpenInputs()
{
	int in = 1;
	if (g_inPlace)
		in = OpenInPlace(&g_infp, g_szPathName[kPathInput]);
	else
		g_infp = fopen(g_szPathName[kPathInput], "rb");
	int why = errno;
	if (in < 0)
		return 0;
	g_parafp = g_keptPara ? nullptr : fopen(g_szPathName[kPathPara], "rb");
	if (!g_infp)
		InputNotFound(g_szPathName[kPathInput], why);
	if (!g_parafp && !g_keptPara)
		printf("[ERROR] %s is not found.\n", g_szPathName[kPathPara]);
	return g_infp && (g_parafp || g_keptPara);
}

// Opens the run's input and parameter file and starts reading them.
int OpenReaders()
{
	return OpenInputs() &&
	       StartReaders(g_infp, g_szPathName[kPathInput], g_parafp, g_szPathName[kPathPara]);
}

std::size_t Trimmed(const char *line)
{
	return TrimmedLength(line, strlen(line));
}

// Says that the input holds the marker line.
void SayMarked()
{
	g_marked = true;
	printf("[ERROR] %s is already change.\n", g_szPathName[kPathInput]);
}

// Reads the whole input for the marker line, and meanwhile for the anchor,
// then starts it again. 0 when it is marked (said) or cannot be read again.
int CheckMarker()
{
	const char *anchor = g_anchorRead == kParaLine ? g_anchor : nullptr;
	int got = FindMarker(g_marker, Trimmed(g_marker), anchor, anchor ? Trimmed(anchor) : 0);
	if (got > 0)
		SayMarked();
	return got == 0 && RewindInput();
}

// Writes the input up to the anchor, then the filled template lines.
int InsertTemplate(int argc, char *argv[])
{
	return CopyThroughAnchor() &&
	       WriteTemplate(argc - kAddFirstParameter, argv + kAddFirstParameter);
}

// Add mode once the marker check is done and the input back at its start.
int AddAfterCheck(int argc, char *argv[])
{
	if (!OpenRunOutput())
		return Abandon();
	if (ParaLineResult(g_anchorRead, true) <= 0)
		return Abandon();
	g_matched = AnchorFound();
	if (AnchorFound() && !InsertTemplate(argc, argv))
		return Abandon();
	return Finish();
}

// Readies the one reading: messages held back, the input owed to the
// output, which is opened when its first byte must be written (an edit in
// place makes its file at its first change, as ever). 0 when it cannot be:
// the input is then checked first, and the output opened after.
int StartOneReading()
{
	if (!HoldMessages())
		return 0;
	if (g_inPlace && !OpenRunOutput()) {
		EndHold();
		return 0;
	}
	if (!g_inPlace)
		OpenOutputLater(&g_outfp, g_szPathName[kPathOutput]);
	CopyInput();
	return 1;
}

// Writes what the block owes the output before it reads on: opens the
// output first, and puts the template in after the anchor once passed. 0
// when a write fails (said). When the output cannot be opened before the
// check is done, the input is only searched, and read again after it.
int CatchUp(int argc, char *argv[])
{
	if (!OpenOutputEarly())
		return 1;
	return !InsertionWaits() || InsertTemplate(argc, argv);
}

// Reads the input once for the marker, as it is copied behind. After a
// failure to write, what it said is set aside and the rest only searched.
// 1 at the marker, 0 at the end, -1 when the input cannot be read (said).
int ReadCopying(int argc, char *argv[])
{
	std::size_t markerTrimmed = Trimmed(g_marker);
	std::size_t anchorTrimmed = Trimmed(g_anchor);
	int got;
	while ((got = FindMarker(g_marker, markerTrimmed, g_anchor, anchorTrimmed)) == kMustWrite ||
	       (got < 0 && !InputFailed())) {
		if (got != kMustWrite || !CatchUp(argc, argv)) {
			SetAside();
			StopCopying();
		}
	}
	return got;
}

// Add mode in one reading. Bytes are written only when the block must let
// go of them: an input that fits in the block is checked whole before the
// output is opened, as after a check made first. A larger one has its
// output written before the check is done: what was written is dropped when
// the marker turns up, and what a failure said waits until the marker is
// known to be absent and the input whole, so that the messages are those of
// a check made first.
int AddInOneReading(int argc, char *argv[])
{
	int got = ReadCopying(argc, argv);
	LetHeldOut();
	if (got > 0 && DropOutput())
		SayMarked();
	if (got != 0 || !InputUnchanged() || SayAside())
		return Abandon();
	if (ReadAgain())
		return RewindInput() ? AddAfterCheck(argc, argv) : Abandon();
	g_matched = AnchorFound();
	if (!g_inPlace && !g_outfp && !OpenRunOutput())
		return Abandon();
	if (InsertionWaits() && !InsertTemplate(argc, argv))
		return Abandon();
	return Finish();
}

} // namespace

// Prints the usage screen, naming the program by what follows the last
// backslash of argv0.
void PrintUsage(const char *argv0)
{
	const char *name = argv0 ? argv0 : "";
	const char *sep = strrchr(name, '\\');
	printf("usage:  %s [/R] 1 2 3 4 [5...]\n", sep ? sep + 1 : name);
	puts("  /R \t\tLine Replace Mode");
	puts("  1 \t\tinput ppd file name");
	puts("  2 \t\toutput ppd file name");
	puts("  3 \t\tparamerter file name");
	puts("  4 5... \tparamerter");
}

// Picks the mode and opens the input and the parameter file. The output is
// opened only once the edit will be written: here in Line Replace Mode, by
// Add after the marker check in Add mode. 1 when the files are open.
int Initialize(char *argv[])
{
	PrepareProcess();
	g_nMode = strcmp(argv[1], "/R") == 0 ? 1 : 0;
	if (!StorePaths(argv + 1 + g_nMode) || (!g_inPlace && !CheckOutputDistinct()) ||
	    !OpenReaders())
		return 0;
	return g_nMode == 0 || OpenRunOutput();
}

// Closes whichever of the three streams are open, undoing an output that is
// not finished; safe to call again.
void Uninitialize()
{
	DiscardOutput();
	CloseStream(&g_infp);
	CloseStream(&g_outfp);
	CloseStream(&g_parafp);
}

// Reads the marker line and refuses an input that holds it. The same pass
// finds the first line equal to the anchor line, when the parameter file
// has one, so that Add need not search again. On success the input is back
// at its start and the parameter file stands after the anchor line. A
// regular input, with an anchor line, is left for Add to check as it copies
// it: one reading instead of two.
int CheckInputPPD()
{
	if (!ReadRequiredParaLine(g_marker))
		return 0;
	g_anchorRead = TakeParaLine(g_anchor);
	if (g_anchorRead == kParaError)
		return 0;
	g_oneReading = g_anchorRead == kParaLine && InputIsFile();
	return g_oneReading || CheckMarker();
}

// Copies the input and inserts the filled template lines after the first
// line equal to the anchor line. Once the template is in, no later line can
// change: the rest is copied. When CheckInputPPD left the marker check to
// it, it makes the check in the same reading.
int Add(int argc, char *argv[])
{
	if (g_oneReading && StartOneReading())
		return AddInOneReading(argc, argv);
	if (g_oneReading && !CheckMarker())
		return Abandon();
	return AddAfterCheck(argc, argv);
}

namespace {

// Writes the edits that set the defaults, from a second reading of the
// input.
int WriteDefaults()
{
	DefaultEdit e;
	if (!RewindInput())
		return 0;
	while (NextDefaultEdit(&e))
		if (!CopyInputTo(e.at) || !ReplaceInput(e.len, e.text, e.n))
			return 0;
	return 1;
}

// Sets the defaults asked for: a reading of the whole input finds the
// lines to edit, since a choice may stand after the default that names it.
int SetDefaults()
{
	Piece chunk;
	int got;
	if (!OpenRunOutput())
		return Abandon();
	DefaultsStart(g_asked, g_askedCount);
	while ((got = NextInputChunk(&chunk)) > 0)
		DefaultsScan(chunk.text, chunk.len);
	if (got < 0)
		return Abandon();
	DefaultsOutcome outcome = DefaultsEnd(g_note, sizeof g_note);
	g_matched = outcome != kDefaultsNoOption;
	if (outcome == kDefaultsFailed || (outcome == kDefaultsChange && !WriteDefaults()))
		return Abandon();
	return Finish();
}

// Notes, for the report, the keys that found no line after the line of the
// key before them: every key after the first found ones, when some were.
void NoteKeysNotFound(std::size_t found)
{
	std::size_t keys = (g_keptCount + 1) / 2;
	std::size_t first = found + 1;
	g_inPart = found > 0 && found < keys;
	if (!g_inPart)
		return;
	if (first == keys)
		snprintf(g_note, sizeof g_note, "key %zu not found", first);
	else if (first + 1 == keys)
		snprintf(g_note, sizeof g_note, "keys %zu, %zu not found", first, keys);
	else
		snprintf(g_note, sizeof g_note, "keys %zu to %zu not found", first, keys);
}

} // namespace

// Copies the input, writing each key line's first match after the previous
// one as its filled replacement line.
int Replace(int argc, char *argv[])
{
	char key[kLineMax];
	char replacement[kLineMax];
	if (!ReadRequiredParaLine(key))
		return Abandon();
	std::size_t trimmed = TrimmedLength(key, strlen(key));
	CopyInput();
	Piece piece;
	int got;
	std::size_t found = 0;
	while ((got = FindInputPiece(key, trimmed, &piece)) > 0) {
		g_matched = true;
		found++;
		got = ReadParaLine(replacement);
		if (got <= 0)
			break; // a key without a replacement: its line stays as it is
		if (!WriteInstead(piece, replacement, argc - kReplaceFirstParameter,
		                  argv + kReplaceFirstParameter))
			return Abandon();
		if ((got = ReadParaLine(key)) <= 0)
			break;
		trimmed = TrimmedLength(key, strlen(key));
	}
	if (got < 0)
		return Abandon();
	if (g_inPlace)
		NoteKeysNotFound(found);
	return Finish();
}

// Line text primitives.

// Cuts the trailing line ending of line in place.
void StrTrim(char *line)
{
	if (line)
		line[TrimmedLength(line, strlen(line))] = '\0';
}

// Moves the string at start, terminator included, by distance bytes and
// returns its new start.
char *StrShift(char *start, std::ptrdiff_t distance)
{
	memmove(start + distance, start, strlen(start) + 1);
	return start + distance;
}

namespace {

std::size_t CountTokens(const char *text, const char *token, std::size_t tokenLen)
{
	std::size_t n = 0;
	for (const char *at = strstr(text, token); at; at = strstr(at + tokenLen, token))
		n++;
	return n;
}

} // namespace

// Replaces every occurrence of token in buffer by value, left to right,
// never searching the inserted text again. Returns buffer, or null with
// buffer unchanged when the result would not fit in size bytes.
char *StrReplace(char *buffer, std::size_t size, const char *token, const char *value)
{
	std::size_t t = strlen(token);
	std::size_t v = strlen(value);
	if (v > t) {
		std::size_t len = strlen(buffer);
		std::size_t count = CountTokens(buffer, token, t);
		if (len >= size || (count > 0 && v - t > (size - 1 - len) / count))
			return nullptr;
	}
	std::ptrdiff_t d = static_cast<std::ptrdiff_t>(v) - static_cast<std::ptrdiff_t>(t);
	for (char *at = strstr(buffer, token); at; at = strstr(at, token)) {
		char *next = StrShift(at + t, d);
		memcpy(at, value, v);
		at = next;
	}
	return buffer;
}

namespace {

// The index of the placeholder that starts at the '!' at text, as "!%d!"
// writes it (no sign, no leading zero), or -1 when none starts there.
long PlaceholderAt(const char *text)
{
	const char *p = text + 1;
	if (*p < '0' || *p > '9' || (*p == '0' && p[1] != '!'))
		return -1;
	long n = 0;
	for (; *p >= '0' && *p <= '9'; p++) {
		if (n > INT_MAX / 10)
			return -1;
		n = n * 10 + (*p - '0');
	}
	return *p == '!' && n <= INT_MAX ? n : -1;
}

// The smallest placeholder index in line from from on and below count, or
// -1 when the line holds none.
long NextPlaceholder(const char *line, long from, int count)
{
	long best = -1;
	for (const char *at = strchr(line, '!'); at; at = strchr(at + 1, '!')) {
		long n = PlaceholderAt(at);
		if (n >= from && n < count && (best < 0 || n < best))
			best = n;
	}
	return best;
}

} // namespace

// Fills !0!, !1!... with the parameters, in increasing order: every !0!
// first, then every !1! of the result, and so on, so that a value may bring
// in placeholders of higher indices. Only the indices that the line holds at
// their turn are replaced: the others would change nothing, and skipping
// them makes many parameters cost no more than the line's placeholders. 0
// when a step would make the line longer than size bytes can hold.
int ExpandParameters(char *line, std::size_t size, int count, char *const parameters[])
{
	char token[16];
	for (long n = NextPlaceholder(line, 0, count); n >= 0;
	     n = NextPlaceholder(line, n + 1, count)) {
		snprintf(token, sizeof token, "!%d!", static_cast<int>(n));
		if (!StrReplace(line, size, token, parameters[n]))
			return 0;
	}
	return 1;
}

namespace {

// Sets what an edit in place does beside the edit; undone with no options.
void UseInPlace(const InPlace *how)
{
	g_inPlace = how != nullptr;
	g_inPlaceOptions = how ? how->flags : 0;
	MatchByPrefix(how && (how->flags & kPrefix));
	CheckEdits(how && !(how->flags & kNoCheck));
	ShowChanges(how ? how->diff : -1, how ? how->label : nullptr);
	BackupAs(how ? how->backup : nullptr, how ? how->backupControl : kBackupNone);
	FindIn(how ? how->folder : -1, how ? how->name : nullptr);
	WaitForLocks(how && how->wait >= 0 ? how->wait : kLockWait);
	SayReasonsAlone(how != nullptr);
}

} // namespace

// Edits one file in place, as "ppdedit [/R] FILE FILE PARAMETER-FILE
// PARAMETER..." would write a copy of it; argv is that command line. The
// copy replaces the file only when it differs.
int EditInPlace(int argc, char *argv[], const InPlace &how)
{
	UseInPlace(&how);
	g_marked = g_matched = g_inPart = false;
	g_note[0] = '\0';
	int ok = Initialize(argv) &&
	         (g_askedCount   ? SetDefaults()
	          : g_nMode == 1 ? Replace(argc, argv)
	                         : CheckInputPPD() && Add(argc, argv));
	Uninitialize();
	UseInPlace(nullptr);
	if (!ok)
		return g_marked ? kEditMarked : kEditFailed;
	fputs(g_note, stdout);
	if (InputChanged())
		return kEditChanged;
	return g_matched ? kEditAlready : kEditUnchanged;
}

bool EditInPart()
{
	return g_inPart;
}

void FileReported()
{
	ReleaseSignals();
}

namespace {

// Whether parameter-file piece i is written out, and so filled: a template
// line in Add mode, a replacement line in Line Replace Mode.
bool IsWritten(std::size_t i)
{
	return g_nMode == 0 ? i >= 2 : i % 2 == 1;
}

// Refuses a filled line that still holds a placeholder that no parameter
// fills: the parameter was forgotten, and the line would be written as it is.
int AllFilled(const char *line, std::size_t number, int count)
{
	for (const char *at = strchr(line, '!'); at; at = strchr(at + 1, '!')) {
		long n = PlaceholderAt(at);
		if (n >= count) {
			printf("%s, line %zu: !%ld! has no parameter to fill it.\n",
			       g_szPathName[kPathPara], number, n);
			return 0;
		}
	}
	return 1;
}

// Keeps one more piece of the parameter file. 0 when there is no room.
int KeepPiece(const char *line)
{
	std::size_t at = g_keptCount ? g_keptEnds[g_keptCount - 1] : 0;
	std::size_t len = strlen(line);
	if (g_keptCount == kKeptPiecesMax || len > kKeptMax - at) {
		printf("%s is too large: a parameter file holds at most %zu bytes in %zu lines.\n",
		       g_szPathName[kPathPara], kKeptMax, kKeptPiecesMax);
		return 0;
	}
	memcpy(g_keptText + at, line, len);
	g_keptEnds[g_keptCount++] = at + len;
	return 1;
}

// Refuses a written line that ends in CR LF when it keeps its own ending:
// the files edited may end their lines with LF alone.
int NotCrLf(const char *line, std::size_t number)
{
	std::size_t n = strlen(line);
	if (n < 2 || strcmp(line + n - 2, "\r\n") != 0)
		return 1;
	printf("%s, line %zu: a CR LF line ending, which LF files would get too: give -e to end "
	       "written lines as each file does\n",
	       g_szPathName[kPathPara], number);
	return 0;
}

// Refuses a written last line without a line ending, when it keeps its own:
// it would be joined to the line after it.
int Ended(const char *line, std::size_t number)
{
	if (strchr(line, '\n'))
		return 1;
	printf("%s, line %zu: no line ending: %s (end it, or give -e)\n", g_szPathName[kPathPara],
	       number, line);
	return 0;
}

// Reads, fills and keeps every piece of the open parameter file. 0 when one
// cannot be kept, or there are fewer than the mode needs. Unless their
// endings are the edited lines' (keepEndings), written lines must end, and
// not in CR LF.
int KeepPieces(int count, char *const parameters[], bool keepEndings)
{
	char line[kLineMax];
	char last[kLineMax] = "\n";
	int got;
	while ((got = TakeParaLine(line)) == kParaLine) {
		std::size_t n = g_keptCount;
		bool checked = keepEndings || !IsWritten(n) || NotCrLf(line, n + 1);
		if (!keepEndings)
			strcpy(last, IsWritten(n) ? line : "\n");
		bool filled = !IsWritten(n) ||
		              (Fill(line, count, parameters) && AllFilled(line, n + 1, count));
		if (!checked || !filled || !KeepPiece(line))
			return 0;
	}
	if (got == kParaEnd && !Ended(last, g_keptCount))
		return 0;
	return ParaLineResult(got, g_keptCount < (g_nMode == 0 ? 2u : 1u)) == 0;
}

// Refuses a parameter file that is the file, FIFO or pipe that standard
// output writes to: the report would be written into it.
int NotStandardOutput(const char *path)
{
	struct stat para, out;
	if (fstat(fileno(g_parafp), &para) != 0 || fstat(1, &out) != 0 || S_ISCHR(out.st_mode) ||
	    para.st_dev != out.st_dev || para.st_ino != out.st_ino)
		return 1;
	printf("[ERROR] %s can not be both read and written.\n", path);
	return 0;
}

} // namespace

void KeepDefaults(const DefaultAsked *asked, int count)
{
	g_asked = asked;
	g_askedCount = count;
	g_keptPara = true;
	KeepParaPieces(g_keptText, g_keptEnds, 0);
}

int KeepParameterFile(int argc, char *argv[], bool keepEndings)
{
	g_nMode = strcmp(argv[1], "/R") == 0 ? 1 : 0;
	int first = g_nMode ? kReplaceFirstParameter : kAddFirstParameter;
	const char *path = argv[first - 1];
	if (strlen(path) >= kPathMax) {
		printf("[ERROR] %s is too long.\n", path);
		return 0;
	}
	strcpy(g_szPathName[kPathPara], path);
	g_parafp = fopen(path, "rb");
	if (!g_parafp) {
		printf("[ERROR] %s is not found.\n", path);
		return 0;
	}
	int ok = StartParaFile(g_parafp, path) && NotStandardOutput(path) &&
	         KeepPieces(argc - first, argv + first, keepEndings);
	CloseStream(&g_parafp);
	if (ok)
		KeepParaPieces(g_keptText, g_keptEnds, g_keptCount);
	g_keptPara = ok;
	return ok;
}
