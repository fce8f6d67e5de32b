// ppdedit writes an edited copy of a PPD file without parsing it: it compares,
// copies and substitutes lines.
//
// Add mode refuses an input that already holds the parameter file's marker
// line, then copies the input and inserts the template lines after the first
// line equal to the anchor line. Line Replace Mode ("/R") writes the input
// with each key line of the parameter file, in turn, replaced by the line
// that follows it there. Placeholders !0!, !1!... in the written lines are
// filled with the command-line parameters.
//
// A "line" is a piece of at most kPieceMax bytes: a longer line is handled
// as several lines. Lines are matched by their trimmed forms (trailing CR and
// LF cut). Every byte of the input that is not replaced reaches the output
// unchanged, NUL bytes and line endings included.
#include "PPD.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int g_nMode;
char g_szPathName[kPathCount][kPathMax];
FILE *g_infp;
FILE *g_outfp;
FILE *g_parafp;

namespace {

// Files are read in blocks; each line piece is a slice of its block.
constexpr std::size_t kBlockSize = 512 * 1024;
static_assert(kBlockSize >= 2 * kPieceMax, "a whole piece must fit after a refill");
// The most that one copy_file_range call is asked to move.
constexpr std::size_t kCopyChunk = std::size_t{1} << 30;
constexpr int kAddFirstParameter = 4;
constexpr int kReplaceFirstParameter = 5;

struct Piece {
	const char *text;
	std::size_t len;
};

// A file read in blocks. Bytes before pos are consumed; when copy is set,
// the consumed bytes from keep on are still owed to the output and are
// written in one run before the block moves or something else is written.
struct Reader {
	int fd;
	const char *path;
	bool copy;
	bool eof;
	std::size_t pos;
	std::size_t end;
	std::size_t keep;
	char block[kBlockSize];
};

Reader g_inReader;
Reader g_paraReader;

void StartReader(Reader *r, FILE *fp, const char *path)
{
	r->fd = fileno(fp);
	r->path = path;
	r->copy = false;
	r->eof = false;
	r->pos = r->end = r->keep = 0;
}

int ReadError(const char *path)
{
	printf("[ERROR] %s can not read.\n", path);
	return 0;
}

int WriteError()
{
	printf("[ERROR] %s can not write.\n", g_szPathName[kPathOutput]);
	return 0;
}

// Writes n bytes to the output; 0 on failure.
int WriteOut(const char *p, std::size_t n)
{
	int fd = fileno(g_outfp);
	while (n > 0) {
		ssize_t w = write(fd, p, n);
		if (w < 0 && errno == EINTR)
			continue;
		if (w <= 0)
			return WriteError();
		p += w;
		n -= static_cast<std::size_t>(w);
	}
	return 1;
}

// Writes the owed bytes of the block up to offset upto.
int FlushRun(Reader *r, std::size_t upto)
{
	if (r->copy && upto > r->keep && !WriteOut(r->block + r->keep, upto - r->keep))
		return 0;
	r->keep = upto;
	return 1;
}

// Moves the unconsumed bytes to the block's start and reads more after them.
int Refill(Reader *r)
{
	if (!FlushRun(r, r->pos))
		return 0;
	std::size_t rest = r->end - r->pos;
	memmove(r->block, r->block + r->pos, rest);
	r->pos = r->keep = 0;
	r->end = rest;
	for (;;) {
		ssize_t n = read(r->fd, r->block + r->end, kBlockSize - r->end);
		if (n >= 0) {
			r->end += static_cast<std::size_t>(n);
			r->eof = n == 0;
			return 1;
		}
		if (errno != EINTR)
			return ReadError(r->path);
	}
}

// Takes the next line piece: it ends after its LF, after kPieceMax bytes, or
// at the end of the file. 1 for a piece, 0 at the end, -1 on a read error.
int NextPiece(Reader *r, Piece *piece)
{
	for (;;) {
		const char *start = r->block + r->pos;
		std::size_t avail = r->end - r->pos;
		const void *lf = memchr(start, '\n', std::min(avail, kPieceMax));
		std::size_t len;
		if (lf)
			len = static_cast<std::size_t>(static_cast<const char *>(lf) - start) + 1;
		else if (avail >= kPieceMax || (r->eof && avail > 0))
			len = std::min(avail, kPieceMax);
		else if (r->eof)
			return 0;
		else if (!Refill(r))
			return -1;
		else
			continue;
		piece->text = start;
		piece->len = len;
		r->pos += len;
		return 1;
	}
}

// Whether an input piece equals a parameter-file line in trimmed form.
bool SameLine(const Piece &piece, const char *line, std::size_t lineTrimmed)
{
	return TrimmedLength(piece.text, piece.len) == lineTrimmed &&
	       memcmp(piece.text, line, lineTrimmed) == 0;
}

// The start of the piece that holds block offset t, for t at or after pos.
// Pieces start after an LF and every kPieceMax bytes after that.
std::size_t PieceStartAt(const Reader *r, std::size_t t)
{
	const void *lf = memrchr(r->block + r->pos, '\n', t - r->pos);
	std::size_t base =
	        lf ? static_cast<std::size_t>(static_cast<const char *>(lf) - r->block) + 1
	           : r->pos;
	return base + (t - base) / kPieceMax * kPieceMax;
}

// Moves pos over the pieces that cannot equal the text: to the piece that
// holds its next occurrence in the block, or near the block's end when
// there is none. Only memmem looks at the bytes skipped.
void SkipAhead(Reader *r, const char *text, std::size_t len)
{
	std::size_t avail = r->end - r->pos;
	const void *hit = memmem(r->block + r->pos, avail, text, len);
	std::size_t t;
	if (hit)
		t = static_cast<std::size_t>(static_cast<const char *>(hit) - r->block);
	else
		t = avail >= len ? r->end - len + 1 : r->pos;
	r->pos = PieceStartAt(r, t);
}

// Takes the next piece that equals a parameter-file line in trimmed form.
// 1 when found, 0 at the end of the file, -1 on a read error.
int FindPiece(Reader *r, const char *line, std::size_t lineTrimmed, Piece *piece)
{
	for (;;) {
		SkipAhead(r, line, lineTrimmed);
		int got = NextPiece(r, piece);
		if (got <= 0 || SameLine(*piece, line, lineTrimmed))
			return got;
	}
}

// Whether the kernel should copy the rest of the input. It beats read and
// write only while input and output offsets stand at the same place in
// their pages: shifted by an edit, its copy makes the output much slower to
// flush and close (measured on ext4).
bool KernelCopyPays(int in, int out)
{
	off_t i = lseek(in, 0, SEEK_CUR);
	off_t o = lseek(out, 0, SEEK_CUR);
	return i >= 0 && o >= 0 && (o - i) % getpagesize() == 0;
}

// Writes the rest of the file after the consumed bytes unchanged: in the
// kernel where it can, else through the block.
int CopyRest(Reader *r)
{
	if (!FlushRun(r, r->end))
		return 0;
	r->pos = r->keep = r->end = 0;
	if (r->eof)
		return 1;
	// A copy moves both offsets alike, so alignment is checked once. The
	// copy stops at the end or at any error; the plain copy after it confirms
	// the end, and names a real error with the file it belongs to.
	if (KernelCopyPays(r->fd, fileno(g_outfp)))
		while (copy_file_range(r->fd, nullptr, fileno(g_outfp), nullptr, kCopyChunk, 0) > 0)
			;
	for (;;) {
		ssize_t n = read(r->fd, r->block, kBlockSize);
		if (n == 0)
			break;
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0)
			return ReadError(r->path);
		if (!WriteOut(r->block, static_cast<std::size_t>(n)))
			return 0;
	}
	r->eof = true;
	return 1;
}

// Reads the next parameter-file line into line as text. 1 for a line, 0 at
// the end of the file, -1 on an error.
int ReadParaLine(char *line)
{
	Piece p;
	int got = NextPiece(&g_paraReader, &p);
	if (got <= 0)
		return got;
	if (memchr(p.text, '\0', p.len)) {
		printf("[ERROR] %s is not a text file.\n", g_szPathName[kPathPara]);
		return -1;
	}
	memcpy(line, p.text, p.len);
	line[p.len] = '\0';
	return 1;
}

// Reads a parameter-file line that must be there; 0 when it is not.
int ReadRequiredParaLine(char *line)
{
	int got = ReadParaLine(line);
	if (got == 0)
		ReadError(g_szPathName[kPathPara]);
	return got > 0;
}

// Fills a parameter-file line's placeholders and writes it out.
int WriteFilled(char *line, int count, char *const parameters[])
{
	if (!ExpandParameters(line, kLineMax, count, parameters)) {
		printf("[ERROR] %s has a line too long after filling in parameters.\n",
		       g_szPathName[kPathPara]);
		return 0;
	}
	return WriteOut(line, strlen(line));
}

// Writes every remaining parameter-file line, filled.
int WriteTemplate(int count, char *const parameters[])
{
	char line[kLineMax];
	int got;
	while ((got = ReadParaLine(line)) > 0)
		if (!WriteFilled(line, count, parameters))
			return 0;
	return got == 0;
}

// Writes the filled template after the input line just taken.
int InsertTemplate(int count, char *const parameters[])
{
	return FlushRun(&g_inReader, g_inReader.pos) && WriteTemplate(count, parameters);
}

// Writes a filled replacement line in place of the input piece just taken.
int WriteInstead(const Piece &piece, char *line, int count, char *const parameters[])
{
	if (!FlushRun(&g_inReader, g_inReader.pos - piece.len))
		return 0;
	g_inReader.keep = g_inReader.pos;
	return WriteFilled(line, count, parameters);
}

int RewindInput()
{
	if (lseek(g_inReader.fd, 0, SEEK_SET) != 0)
		return ReadError(g_szPathName[kPathInput]);
	StartReader(&g_inReader, g_infp, g_szPathName[kPathInput]);
	return 1;
}

// Empties the output after a failure, so that no partial copy survives.
void DiscardOutput()
{
	struct stat st;
	if (g_outfp && fstat(fileno(g_outfp), &st) == 0 && S_ISREG(st.st_mode)) {
		int rc = ftruncate(fileno(g_outfp), 0);
		(void)rc;
	}
}

// Ends a failed edit: the output emptied, the run context closed.
int Abandon()
{
	DiscardOutput();
	Uninitialize();
	return 0;
}

// Closes the output; a failed close is a failed write.
int CloseOutput()
{
	struct stat st;
	bool regular = fstat(fileno(g_outfp), &st) == 0 && S_ISREG(st.st_mode);
	int rc = fclose(g_outfp);
	g_outfp = nullptr;
	if (rc == 0)
		return 1;
	if (regular) {
		rc = truncate(g_szPathName[kPathOutput], 0);
		(void)rc;
	}
	return WriteError();
}

// Copies the rest of the input and closes the output: the end of every
// successful edit.
int Finish()
{
	if (!CopyRest(&g_inReader) || !CloseOutput())
		return Abandon();
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
			printf("[ERROR] %s is too long.\n", names[i]);
			ok = 0;
		} else {
			strcpy(g_szPathName[i], names[i]);
		}
	}
	return ok;
}

bool SameFile(const struct stat &a, const char *path)
{
	struct stat b;
	return stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Refuses an output that is the input or the parameter file: opening it for
// writing would empty the file before it is read.
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

// Picks the mode and opens the three files. All three opens are tried, so
// the output is created even when an input is missing. 1 when all are open.
int Initialize(char *argv[])
{
	g_nMode = strcmp(argv[1], "/R") == 0 ? 1 : 0;
	if (!StorePaths(argv + 1 + g_nMode) || !CheckOutputDistinct())
		return 0;
	g_infp = fopen(g_szPathName[kPathInput], "rb");
	g_outfp = fopen(g_szPathName[kPathOutput], "wb");
	g_parafp = fopen(g_szPathName[kPathPara], "rb");
	if (!g_infp)
		printf("[ERROR] %s is not found.\n", g_szPathName[kPathInput]);
	if (!g_outfp)
		printf("[ERROR] %s don't created.\n", g_szPathName[kPathOutput]);
	if (!g_parafp)
		printf("[ERROR] %s is not found.\n", g_szPathName[kPathPara]);
	if (!g_infp || !g_outfp || !g_parafp)
		return 0;
	StartReader(&g_inReader, g_infp, g_szPathName[kPathInput]);
	StartReader(&g_paraReader, g_parafp, g_szPathName[kPathPara]);
	return 1;
}

// Closes whichever of the three streams are open; safe to call again.
void Uninitialize()
{
	CloseStream(&g_infp);
	CloseStream(&g_outfp);
	CloseStream(&g_parafp);
}

// Reads the marker line and refuses an input that holds it. On success the
// input is back at its start and the parameter file stands after the marker.
int CheckInputPPD()
{
	char marker[kLineMax];
	if (!ReadRequiredParaLine(marker))
		return 0;
	std::size_t trimmed = TrimmedLength(marker, strlen(marker));
	Piece piece;
	int got = FindPiece(&g_inReader, marker, trimmed, &piece);
	if (got > 0)
		printf("[ERROR] %s is already change.\n", g_szPathName[kPathInput]);
	return got == 0 && RewindInput();
}

// Copies the input and inserts the filled template lines after the first
// line equal to the anchor line.
int Add(int argc, char *argv[])
{
	char anchor[kLineMax];
	if (!ReadRequiredParaLine(anchor))
		return Abandon();
	std::size_t trimmed = TrimmedLength(anchor, strlen(anchor));
	g_inReader.copy = true;
	Piece piece;
	int got = FindPiece(&g_inReader, anchor, trimmed, &piece);
	// Once the template is in, no later line can change: the rest is copied.
	if (got < 0 ||
	    (got > 0 && !InsertTemplate(argc - kAddFirstParameter, argv + kAddFirstParameter)))
		return Abandon();
	return Finish();
}

// Copies the input, writing each key line's first match after the previous
// one as its filled replacement line.
int Replace(int argc, char *argv[])
{
	char key[kLineMax];
	char replacement[kLineMax];
	if (!ReadRequiredParaLine(key))
		return Abandon();
	std::size_t trimmed = TrimmedLength(key, strlen(key));
	g_inReader.copy = true;
	Piece piece;
	int got;
	while ((got = FindPiece(&g_inReader, key, trimmed, &piece)) > 0) {
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
	return Finish();
}

// Line text primitives.

// The length of line without its trailing CR and LF characters; a line made
// only of them keeps its whole length.
std::size_t TrimmedLength(const char *line, std::size_t len)
{
	std::size_t n = len;
	while (n > 0 && (line[n - 1] == '\r' || line[n - 1] == '\n'))
		n--;
	return n == 0 ? len : n;
}

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

// Fills !0!, !1!... with the parameters, in increasing order. 0 when a step
// would make the line longer than size bytes can hold.
int ExpandParameters(char *line, std::size_t size, int count, char *const parameters[])
{
	char token[16];
	for (int n = 0; n < count; n++) {
		snprintf(token, sizeof token, "!%d!", n);
		if (!StrReplace(line, size, token, parameters[n]))
			return 0;
	}
	return 1;
}
