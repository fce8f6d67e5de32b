// ppdedit's I/O layer: blocks, pieces, the kernel copy, and the output's
// writing; Output.cpp opens the output file and puts it in place.
//
// A "piece" is a line of at most kPieceMax bytes: a longer line is handed
// out as several pieces. Every input byte that the engines do not replace
// reaches the output unchanged, in long runs straight from the block.
//
// An input that starts with the gzip magic is read decompressed, and its
// output is written compressed; the engines see only the text.
//
// An edit in place writes nothing until its first change: what it has
// passed over so far is the input's own text, which the new file then
// starts with, copied in the kernel. An edit that changes nothing makes no
// file at all.
//
// Add mode's marker check may copy the input as it searches it: the block
// then keeps what it owes the output until the output is open and, past the
// anchor, until the template is in (kMustWrite hands that back to the
// engine), so that an input that fits in the block is checked whole before
// anything is written.
#include "FileIO.h"

#include "Check.h"
#include "Diff.h"
#include "FindText.h"
#include "Gzip.h"
#include "Lines.h"
#include "Output.h"
#include "WriteAll.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Files are read in blocks; each line piece is a slice of its block.
constexpr std::size_t kBlockSize = 512 * 1024;
constexpr std::size_t kPageSize = 4096;
static_assert(kBlockSize >= 2 * kPieceMax + kPageSize, "a whole piece must fit after a refill");
// A limit of CopyUpTo: the input's end, wherever it is.
constexpr off_t kToTheEnd = std::numeric_limits<off_t>::max();
// The most that one copy_file_range call is asked to move.
constexpr std::size_t kCopyChunk = std::size_t{1} << 30;
// What is read of a pipe to see whether it is compressed: it cannot be read
// again, so these bytes are kept for the reader.
constexpr std::size_t kLookAhead = 64 * 1024;

// A file read in blocks. Bytes before pos are consumed; when copy is set,
// the consumed bytes from keep on are still owed to the output and are
// written in one run before the block moves or something else is written.
// base is the text offset of the block's first byte; fills counts the
// refills, so that what was found in an earlier fill is known to be stale.
// A plain file that can seek is read at explicit offsets (base + end), so
// that no seek can fail and leave the reading elsewhere.
struct Reader {
	int fd;
	const char *path;
	bool copy;
	bool eof;
	bool gz;         // the file is gzip-compressed; the block holds its text
	bool positional; // a plain file read at its text offsets
	bool failed;     // a read failed (said)
	off_t base;
	unsigned long fills;
	std::size_t pos;
	std::size_t end;
	std::size_t keep;
	char block[kBlockSize];
};

// A parameter-file line looked for in the input: its trimmed text, and
// where in the block, at or after pos, it may next start.
struct Needle {
	const char *text;
	std::size_t len;
	std::size_t hit;
	unsigned long fill; // the fill that hit was found in; 0 for none yet
};

Reader g_inReader;
Reader g_paraReader;
// The parameter file's pieces, when read once for many edits: each edit
// takes them from the first, g_keptNext the next one.
const char *g_keptText;
const std::size_t *g_keptEnds;
std::size_t g_keptCount;
std::size_t g_keptNext;
// The input's status when it was first opened: a second pass must find the
// same file. The parameter file's, to tell the output from it.
struct stat g_inStat;
struct stat g_paraStat;
// Where the first input piece equal to the anchor ends, found by the marker
// check, whether there is one, and its line ending. When the check copies
// the input as it goes, the template waits to go in there: the block keeps
// the bytes after the anchor until it is written.
off_t g_anchorEnd;
bool g_anchorFound;
bool g_insertWaits;
char g_anchorEnding[kLineMax];
std::size_t g_anchorEndingLen;
// Lines match when the input line begins with the parameter-file line.
bool g_byPrefix;
// Where the diff of an edit in place that changes its file goes, or -1,
// and the name it gives the file.
int g_diffFd = -1;
const char *g_diffLabel;

// What becomes of the output: none yet; later, opened only when its first
// byte must be written (g_outPath); pending, for an edit in place that has
// not changed anything yet (nothing is made); or written to g_outFd, whose
// offset is g_outAt.
enum OutputState { kNoOutput, kLater, kPending, kWriting };
OutputState g_outState;
FILE **g_outStream;
const char *g_outPath;
// The output could not be opened early: the input is read again from its
// start once the check is done.
bool g_readAgain;
int g_outFd = -1;
off_t g_outAt;
// Whether the output is written compressed, as the input is.
bool g_gzOutput;
// An edit in place: its output replaces the input, and only when changed.
bool g_replacesInput;
bool g_dryRun;
// Whether anything differing from the input was written, and the input's
// text offset up to which the output is the input's own text.
bool g_changed;
off_t g_same;
// The text before g_same is no longer in the block of a compressed input.
bool g_prefixLost;
// Whether the edit in place is checked, whether its check has begun, and
// the input's text handed to the check so far. The check begins at the
// first change, with the text before it, which the block still holds; a
// block that lets go of text before a change hands it over first, so that
// an edit that changes nothing costs no check.
bool g_checks;
bool g_checkBegun;
off_t g_checked;

const char kChanged[] = "changed while it was being read";

void StartReader(Reader *r, int fd, const char *path)
{
	r->fd = fd;
	r->path = path;
	r->copy = false;
	r->eof = false;
	r->gz = false;
	r->positional = false;
	r->failed = false;
	r->base = 0;
	r->fills = 1;
	r->pos = r->end = r->keep = 0;
}

// Says that the file named path cannot be read: ppdedit's sentence, or the
// reason alone, why, when one is known. 0.
int CannotRead(const char *path, const char *why)
{
	if (ReasonsAlone() && why)
		printf("%s\n", why);
	else
		printf("[ERROR] %s can not read.\n", path);
	return 0;
}

// A read that failed, errno saying why.
int ReadError(const char *path)
{
	return CannotRead(path, strerror(errno));
}

// A file that was cut short or rewritten while it was being read.
int ChangedError(const char *path)
{
	return CannotRead(path, kChanged);
}

// Why a read of r failed: the gzip stream's fault, or errno's.
const char *ReadFault(const Reader *r)
{
	const char *fault = r->gz ? GzipFault() : nullptr;
	return fault ? fault : strerror(errno);
}

// Reads up to n bytes of the file's text: the count, 0 at the end, -1 on an
// error.
ssize_t ReadText(Reader *r, char *to, std::size_t n)
{
	if (r->gz)
		return GzipRead(to, n);
	for (;;) {
		ssize_t got = r->positional ? pread(r->fd, to, n,
		                                    r->base + static_cast<off_t>(to - r->block))
		                            : read(r->fd, to, n);
		if (got >= 0 || errno != EINTR)
			return got;
	}
}

// Reads the first bytes of a pipe into the block, enough to tell whether it
// is compressed. 0 on a read error.
int LookAhead(Reader *r)
{
	while (r->end < 2) {
		ssize_t n = read(r->fd, r->block + r->end, kLookAhead - r->end);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0)
			return ReadError(r->path);
		if (n == 0)
			break;
		r->end += static_cast<std::size_t>(n);
	}
	return 1;
}

// Reads a file's first two bytes where they stand, through short reads:
// the count, or -1 on an error (errno says which).
ssize_t ReadMagic(int fd, char *magic)
{
	ssize_t got = 0;
	while (got < 2) {
		ssize_t n = pread(fd, magic + got, static_cast<std::size_t>(2 - got), got);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return n < 0 ? -1 : got;
		got += n;
	}
	return got;
}

// Starts reading a pipe: its first bytes, read to tell whether it is
// compressed, stay in the block.
int StartPipe(Reader *r)
{
	if (!LookAhead(r))
		return 0;
	if (!GzipMagic(r->block, r->end))
		return 1;
	r->gz = true;
	std::size_t ahead = r->end;
	r->end = 0;
	return GzipStartInput(r->fd, r->block, ahead) || CannotRead(r->path, nullptr);
}

// Starts reading the input from its first byte, decompressed when it starts
// with the gzip magic.
int StartInput(Reader *r, int fd, const char *path)
{
	StartReader(r, fd, path);
	char magic[2];
	ssize_t n = ReadMagic(r->fd, magic);
	if (n < 0 && errno == ESPIPE)
		return StartPipe(r);
	if (n < 0)
		return ReadError(path);
	r->gz = GzipMagic(magic, static_cast<std::size_t>(n));
	r->positional = !r->gz;
	return !r->gz || GzipStartInput(r->fd, nullptr, 0) || CannotRead(path, nullptr);
}

// Writes n bytes of output text to the output's file, compressed when the
// input was.
int Emit(const char *p, std::size_t n)
{
	if (g_gzOutput)
		return GzipWrite(p, n) || OutputWriteError();
	if (!WriteAll(g_outFd, p, n))
		return OutputWriteError();
	g_outAt += static_cast<off_t>(n);
	return 1;
}

// Writes the owed bytes of the block up to offset upto. They are the
// input's own text, which an edit in place that has changed nothing yet
// need not write.
int FlushRun(Reader *r, std::size_t upto)
{
	if (r->copy && upto > r->keep && g_outState == kWriting &&
	    !Emit(r->block + r->keep, upto - r->keep))
		return 0;
	if (r->copy)
		g_same = r->base + static_cast<off_t>(upto);
	r->keep = upto;
	return 1;
}

int StartWriting(int fd);
int CopyPrefix(off_t n);

// Hands the check the input's text that the copy has consumed up to offset
// to, as both texts' own. The block still holds it.
void CheckUpTo(const Reader *r, off_t to)
{
	if (!g_checks || !r->copy || r != &g_inReader)
		return;
	if (!g_checkBegun)
		CheckStart();
	g_checkBegun = true;
	if (to > g_checked)
		CheckShared(r->block + (g_checked - r->base), static_cast<std::size_t>(to - g_checked));
	g_checked = std::max(g_checked, to);
}

// Hands the check a change at offset at: the len old bytes at old become
// the n bytes at p.
void CheckChange(off_t at, const char *old, std::size_t len, const char *p, std::size_t n)
{
	CheckUpTo(&g_inReader, at);
	if (!g_checks)
		return;
	CheckDropped(old, len);
	CheckWritten(p, n);
	g_checked = at + static_cast<off_t>(len);
}

// Before the block lets go of bytes that an edit in place may yet have to
// write: for a compressed input they cannot be had again, so its new file
// is made now, and dropped at the end if nothing changed. When it cannot be
// made, a change will say why.
int KeepPrefix(Reader *r)
{
	if (g_outState != kPending || !r->copy || !r->gz || g_dryRun || r->pos == 0 || g_prefixLost)
		return 1;
	int fd = OpenReplacement(false);
	g_prefixLost = fd < 0;
	return fd < 0 || (StartWriting(fd) && CopyPrefix(g_same));
}

// Where in the block the unconsumed bytes go when it is compacted. Copied
// to a plain output, a byte's address in the block and its offset in the
// output should stand half a page apart: at the same place in their pages,
// or close, the processor's copy stalls on loads that seem to depend on the
// stores just made, and an edit that shifts the output by a few bytes
// measured up to twice as slow. 0 for bytes not owed to a plain output.
std::size_t AlignedStart(const Reader *r)
{
	if (!r->copy || g_outState != kWriting || g_gzOutput)
		return 0;
	auto block = reinterpret_cast<std::uintptr_t>(r->block);
	auto want = static_cast<std::uintptr_t>(g_outAt) + kPageSize / 2;
	return (want - block) % kPageSize;
}

// Moves the unconsumed bytes to the block's start, or near it, once the
// bytes owed before them are written.
int Compact(Reader *r)
{
	CheckUpTo(r, r->base + static_cast<off_t>(r->pos));
	if (!KeepPrefix(r) || !FlushRun(r, r->pos))
		return 0;
	std::size_t rest = r->end - r->pos;
	std::size_t to = AlignedStart(r);
	memmove(r->block + to, r->block + r->pos, rest);
	r->base += static_cast<off_t>(r->pos) - static_cast<off_t>(to);
	r->pos = r->keep = to;
	r->end = to + rest;
	return 1;
}

// Whether the block must not let go of the bytes it owes the output yet:
// they cannot be written before the output is open, nor those after the
// anchor before the template.
bool MustWriteFirst(const Reader *r)
{
	return r->copy && (g_outState == kLater || g_insertWaits);
}

// Reads more of the file after the block's bytes, moving them to its start
// first when the room after them could not hold a whole piece. 1, 0 on an
// error, or kMustWrite when they may not move yet.
int Refill(Reader *r)
{
	if (kBlockSize - r->end < kPieceMax && MustWriteFirst(r))
		return kMustWrite;
	if (kBlockSize - r->end < kPieceMax && !Compact(r))
		return 0;
	r->fills++;
	ssize_t n = ReadText(r, r->block + r->end, kBlockSize - r->end);
	if (n < 0) {
		r->failed = true;
		return CannotRead(r->path, ReadFault(r));
	}
	r->end += static_cast<std::size_t>(n);
	r->eof = n == 0;
	return 1;
}

// Takes the next piece: 1, 0 at the end, -1 on an error, or kMustWrite.
int NextPiece(Reader *r, Piece *piece)
{
	for (;;) {
		const char *start = r->block + r->pos;
		std::size_t avail = r->end - r->pos;
		const void *lf = memchr(start, '\n', std::min(avail, kPieceMax));
		std::size_t len;
		int got;
		if (lf)
			len = static_cast<std::size_t>(static_cast<const char *>(lf) - start) + 1;
		else if (avail >= kPieceMax || (r->eof && avail > 0))
			len = std::min(avail, kPieceMax);
		else if (r->eof)
			return 0;
		else if ((got = Refill(r)) != 1)
			return got == 0 ? -1 : got;
		else
			continue;
		piece->text = start;
		piece->len = len;
		r->pos += len;
		return 1;
	}
}

// Whether an input piece equals a parameter-file line in trimmed form, or
// begins with it when lines match by their beginning.
bool SameLine(const Piece &piece, const char *line, std::size_t lineTrimmed)
{
	std::size_t has = TrimmedLength(piece.text, piece.len);
	return (g_byPrefix ? has >= lineTrimmed : has == lineTrimmed) &&
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

// The block offset where the needle may next start: its next occurrence at
// or after pos, or the first place where it could still run on into bytes
// not read yet. Kept until pos passes it or the block is refilled.
std::size_t NextHit(const Reader *r, Needle *n)
{
	if (n->fill == r->fills && n->hit >= r->pos)
		return n->hit;
	std::size_t avail = r->end - r->pos;
	const char *hit = FindText(r->block + r->pos, avail, n->text, n->len);
	if (hit)
		n->hit = static_cast<std::size_t>(hit - r->block);
	else
		n->hit = avail >= n->len ? r->end - n->len + 1 : r->pos;
	n->fill = r->fills;
	return n->hit;
}

// Takes the next piece that may equal needle a or, when given, needle b,
// passing over the pieces that cannot. Only FindText looks at their bytes.
int NextCandidate(Reader *r, Needle *a, Needle *b, Piece *piece)
{
	std::size_t t = NextHit(r, a);
	if (b)
		t = std::min(t, NextHit(r, b));
	r->pos = PieceStartAt(r, t);
	return NextPiece(r, piece);
}

// Whether the kernel should copy the rest of the input from offset at. It
// beats read and write only while input and output offsets stand at the
// same place in their pages: shifted by an edit, its copy makes the output
// much slower to flush and close (measured on ext4).
bool KernelCopyPays(off_t at)
{
	return (g_outAt - at) % getpagesize() == 0;
}

// Passes over up to count bytes of a plain input without reading them, for
// an edit in place that has changed nothing yet: they are the input's own
// text, which a change copies from the file. Returns how many it passed:
// what the file held when reading started. A file cut short meanwhile is
// found when those bytes are copied, or by the check before the rename.
off_t SkipAhead(const Reader *r, off_t count)
{
	return std::max<off_t>(0, std::min(count, g_inStat.st_size - r->base));
}

// Copies up to count bytes of the input from the block's offset in the
// kernel, when that pays, and returns how many it copied. The copy stops at
// the end or at any error; the plain copy that follows it confirms the end,
// and names a real error with the file it belongs to.
off_t CopyInKernel(Reader *r, off_t count)
{
	// What the kernel copies or passes over, the check does not see.
	if (!r->positional || g_checks)
		return 0;
	if (g_outState == kPending)
		return SkipAhead(r, count);
	if (!KernelCopyPays(r->base))
		return 0;
	off_t at = r->base;
	while (at - r->base < count) {
		std::size_t want = static_cast<std::size_t>(
		        std::min<off_t>(count - (at - r->base), kCopyChunk));
		ssize_t n = copy_file_range(r->fd, &at, g_outFd, nullptr, want, 0);
		if (n <= 0)
			break;
		g_outAt += n;
	}
	return at - r->base;
}

// Lets go of a block whose bytes are all consumed, once what it owes is
// written.
int EmptyBlock(Reader *r)
{
	CheckUpTo(r, r->base + static_cast<off_t>(r->end));
	if (!KeepPrefix(r) || !FlushRun(r, r->end))
		return 0;
	r->base += static_cast<off_t>(r->end);
	r->pos = r->keep = r->end = 0;
	return 1;
}

// Writes the input unchanged from the consumed bytes up to file offset limit
// of its text, or to its end: in the kernel where it can, else through the
// block.
int CopyUpTo(Reader *r, off_t limit)
{
	r->copy = true;
	if (r->pos == r->end) {
		if (!EmptyBlock(r))
			return 0;
		r->base += CopyInKernel(r, limit - r->base);
	}
	while (r->base + static_cast<off_t>(r->end) < limit && !r->eof) {
		r->pos = r->end;
		if (Refill(r) != 1)
			return 0;
	}
	// The input ends before a place that an earlier pass found in it.
	if (r->base + static_cast<off_t>(r->end) < limit && limit != kToTheEnd)
		return ChangedError(r->path);
	r->pos = static_cast<std::size_t>(std::min(limit - r->base, static_cast<off_t>(r->end)));
	return FlushRun(r, r->pos);
}

// Starts writing the output on fd, through *g_outStream for the run
// context. On failure the output is discarded, and nothing said.
bool BeginWriting(int fd)
{
	g_gzOutput = g_inReader.gz;
	g_outFd = fd;
	g_outAt = 0;
	g_outState = kWriting;
	*g_outStream = fdopen(fd, "wb");
	if (!*g_outStream)
		close(fd);
	if (*g_outStream && (!g_gzOutput || GzipStartOutput(fd)))
		return true;
	DiscardOutput();
	return false;
}

int StartWriting(int fd)
{
	return BeginWriting(fd) || OutputNotCreated();
}

// Copies the input's first n bytes of text, all unchanged so far, to the
// new file of an edit in place: from the file, in the kernel, or for a
// compressed input from the block, which still holds them.
int CopyPrefix(off_t n)
{
	Reader *r = &g_inReader;
	if (r->gz)
		return Emit(r->block, static_cast<std::size_t>(n));
	off_t at = 0;
	while (at < n) {
		std::size_t want = static_cast<std::size_t>(std::min<off_t>(n - at, kCopyChunk));
		ssize_t got = copy_file_range(r->fd, &at, g_outFd, nullptr, want, 0);
		if (got <= 0)
			got = sendfile(g_outFd, r->fd, &at, want);
		// The file ends before what was read of it: it was cut meanwhile.
		if (got == 0)
			return ChangedError(r->path);
		if (got < 0)
			return OutputWriteError();
		g_outAt += got;
	}
	return 1;
}

// Makes the new file of an edit in place and gives it the input's text that
// the edit has passed over so far.
int MakeReplacement()
{
	int fd = OpenReplacement(true);
	if (fd < 0)
		return 0;
	if (g_prefixLost) {
		close(fd);
		DiscardOutputFile();
		errno = 0; // no system call failed: there is no reason to give
		return OutputWriteError();
	}
	return StartWriting(fd) && CopyPrefix(g_same);
}

// Notes that the output is about to differ from the input: an edit in place
// then makes its new file, or in a dry run checks that it could.
int NoteChange()
{
	if (g_changed)
		return 1;
	g_changed = true;
	if (g_outState != kPending)
		return 1;
	return g_dryRun ? CheckReplaceable() : MakeReplacement();
}

// Writes the block's owed bytes before the piece just taken, and drops that
// piece: it is replaced by what is written next.
int DropPiece(const Piece &piece)
{
	if (!FlushRun(&g_inReader, g_inReader.pos - piece.len))
		return 0;
	g_inReader.keep = g_inReader.pos;
	return 1;
}

// Whether the input is still the file that reading started on: else what
// was read may lack what another program wrote meanwhile.
int SameInput()
{
	struct stat now;
	if (fstat(g_inReader.fd, &now) != 0)
		return ReadError(g_inReader.path);
	return SameVersion(now, g_inStat) || ChangedError(g_inReader.path);
}

// Whether a regular input, all read, is still the file that reading started
// on. An edit in place checks its input later, just before the rename.
int InputAsStarted()
{
	return g_replacesInput || !S_ISREG(g_inStat.st_mode) || SameInput();
}

// Closes the output's stream, if it is open; false when the close fails.
bool EndStream()
{
	bool ok = true;
	if (g_outState == kWriting && *g_outStream)
		ok = fclose(*g_outStream) == 0;
	if (g_outState == kWriting)
		*g_outStream = nullptr;
	g_outFd = -1;
	g_outState = kNoOutput;
	return ok;
}

// Records a change for the diff, when one is asked for.
int RecordChange(off_t at, std::size_t len, const char *p, std::size_t n)
{
	if (g_diffFd < 0 || DiffRecord(at, len, p, n))
		return 1;
	printf("%s has more changes than a diff can show.\n", g_inReader.path);
	return 0;
}

// Writes the diff of an edit in place that changed its file, before the
// change is put in place, from the input that is still open.
int WriteDiff()
{
	if (g_diffFd < 0 || !g_changed)
		return 1;
	if (DiffWrite(g_diffFd, g_diffLabel, g_inReader.fd, g_inReader.gz))
		return 1;
	printf("%s: the diff of its change can not be shown.\n", g_inReader.path);
	return 0;
}

// Ends the output's stream and closes it, then puts the output in place. An
// edit in place that made its file but changed nothing drops it.
int CloseOutput()
{
	bool unneeded = g_replacesInput && !g_changed;
	bool ok = unneeded || !g_gzOutput || GzipFinish() || OutputWriteError();
	bool closed = EndStream();
	if (unneeded)
		return DropOutputFile();
	if (ok && !closed)
		ok = OutputWriteError();
	if (!ok || !WriteDiff()) {
		DiscardOutputFile();
		return 0;
	}
	return CommitOutputFile();
}

// Reads the rest of the input into the check of a changed text, and says
// whether the new text brings a fault: 0, said, when it does.
int CheckVerdict()
{
	Reader *r = &g_inReader;
	if (!g_checks || !g_changed)
		return 1;
	for (;;) {
		CheckUpTo(r, r->base + static_cast<off_t>(r->end));
		if (r->eof)
			break;
		r->pos = r->end;
		if (Refill(r) != 1)
			return 0;
	}
	const char *fault = CheckEnd();
	if (fault)
		printf("%s\n", fault);
	return fault == nullptr;
}

// Ends an edit in place that has changed nothing: no file is made. The rest
// of a compressed input is still read, so that a corrupt stream fails as it
// does in a copy; a plain one has nothing to prove.
int PassRest()
{
	Reader *r = &g_inReader;
	g_outState = kNoOutput;
	r->copy = false;
	while (r->gz && !r->eof) {
		r->pos = r->end;
		if (Refill(r) != 1)
			return 0;
	}
	return 1;
}

// Notes where the anchor's piece, just taken, ends, and its line ending.
void NoteAnchor(const Reader *r, const Piece &piece)
{
	g_anchorEnd = r->base + static_cast<off_t>(r->pos);
	g_anchorFound = true;
	g_insertWaits = r->copy;
	std::size_t at = EndingStart(piece.text, piece.len);
	g_anchorEndingLen = piece.len - at;
	memcpy(g_anchorEnding, piece.text + at, g_anchorEndingLen);
}

} // namespace

void InputNotFound(const char *path, int err)
{
	if (ReasonsAlone())
		printf("%s\n", strerror(err));
	else
		printf("[ERROR] %s is not found.\n", path);
}

int StartParaFile(FILE *para, const char *path)
{
	if (fstat(fileno(para), &g_paraStat) != 0)
		return ReadError(path);
	StartReader(&g_paraReader, fileno(para), path);
	return 1;
}

void KeepParaPieces(const char *text, const std::size_t *ends, std::size_t count)
{
	g_keptText = text;
	g_keptEnds = ends;
	g_keptCount = count;
}

int StartReaders(FILE *in, const char *inPath, FILE *para, const char *paraPath)
{
	g_outState = kNoOutput;
	g_replacesInput = g_changed = g_prefixLost = g_checkBegun = false;
	g_anchorFound = g_insertWaits = g_readAgain = false;
	g_same = g_checked = 0;
	g_keptNext = 0;
	DiffReset();
	if (para && !StartParaFile(para, paraPath))
		return 0;
	if (fstat(fileno(in), &g_inStat) != 0)
		return ReadError(inPath);
	return StartInput(&g_inReader, fileno(in), inPath);
}

int NextParaPiece(Piece *piece)
{
	if (!g_keptText)
		return NextPiece(&g_paraReader, piece);
	if (g_keptNext == g_keptCount)
		return 0;
	std::size_t start = g_keptNext ? g_keptEnds[g_keptNext - 1] : 0;
	piece->text = g_keptText + start;
	piece->len = g_keptEnds[g_keptNext++] - start;
	return 1;
}

int FindInputPiece(const char *line, std::size_t lineTrimmed, Piece *piece)
{
	Needle n = {line, lineTrimmed, 0, 0};
	for (;;) {
		int got = NextCandidate(&g_inReader, &n, nullptr, piece);
		if (got <= 0 || SameLine(*piece, line, lineTrimmed))
			return got;
	}
}

int FindMarker(const char *marker, std::size_t markerTrimmed, const char *anchor,
               std::size_t anchorTrimmed)
{
	Reader *r = &g_inReader;
	Needle m = {marker, markerTrimmed, 0, 0};
	Needle a = {anchor, anchorTrimmed, 0, 0};
	Needle *looking = anchor && !g_anchorFound ? &a : nullptr;
	Piece piece;
	for (;;) {
		int got = NextCandidate(r, &m, looking, &piece);
		if (got <= 0 || SameLine(piece, marker, markerTrimmed))
			return got;
		if (looking && SameLine(piece, anchor, anchorTrimmed)) {
			NoteAnchor(r, piece);
			looking = nullptr;
		}
	}
}

bool AnchorFound()
{
	return g_anchorFound;
}

Piece AnchorEnding()
{
	return {g_anchorEnding, g_anchorEndingLen};
}

void MatchByPrefix(bool on)
{
	g_byPrefix = on;
}

bool InsertionWaits()
{
	return g_insertWaits;
}

int CopyThroughAnchor()
{
	Reader *r = &g_inReader;
	if (!g_insertWaits)
		return CopyUpTo(r, g_anchorEnd);
	// The block still holds the anchor's end, and owes the bytes up to it.
	g_insertWaits = false;
	return FlushRun(r, static_cast<std::size_t>(g_anchorEnd - r->base));
}

bool InputIsFile()
{
	return S_ISREG(g_inStat.st_mode);
}

bool InputFailed()
{
	return g_inReader.failed;
}

int InputUnchanged()
{
	return SameInput();
}

int RewindInput()
{
	Reader *r = &g_inReader;
	if (!SameInput())
		return 0;
	if (lseek(r->fd, 0, SEEK_SET) != 0)
		return ReadError(r->path);
	g_checkBegun = false;
	g_checked = 0;
	return StartInput(r, r->fd, r->path);
}

bool ReadAgain()
{
	return g_readAgain;
}

void CopyInput()
{
	g_inReader.copy = true;
}

int NextInputChunk(Piece *chunk)
{
	Reader *r = &g_inReader;
	while (r->pos == r->end) {
		if (r->eof)
			return 0;
		if (Refill(r) != 1)
			return -1;
	}
	*chunk = {r->block + r->pos, r->end - r->pos};
	r->pos = r->end;
	return 1;
}

int CopyInputTo(off_t at)
{
	return CopyUpTo(&g_inReader, at);
}

int ReplaceInput(std::size_t len, const char *p, std::size_t n)
{
	Reader *r = &g_inReader;
	while (r->end - r->pos < len && !r->eof)
		if (Refill(r) != 1)
			return 0;
	// The input ends before a place that the first reading found in it.
	if (r->end - r->pos < len)
		return ChangedError(r->path);
	Piece piece = {r->block + r->pos, len};
	r->pos += len;
	return ReplacePiece(piece, p, n);
}

void StopCopying()
{
	g_inReader.copy = false;
	g_insertWaits = false;
}

int OpenOutput(FILE **stream, const char *path)
{
	g_outStream = stream;
	int fd = OpenOutputFile(path, g_inStat, g_paraStat);
	return fd >= 0 && StartWriting(fd);
}

void OpenOutputLater(FILE **stream, const char *path)
{
	g_outStream = stream;
	g_outPath = path;
	g_outState = kLater;
}

int OpenOutputEarly()
{
	if (g_outState != kLater)
		return 1;
	int fd = OpenRenamedOutputFile(g_outPath, g_inStat, g_paraStat);
	if (fd >= 0 && BeginWriting(fd))
		return 1;
	g_outState = kNoOutput;
	g_readAgain = true;
	StopCopying();
	return 0;
}

int ReplaceInputWhenChanged(FILE **stream, const char *path, bool dryRun, bool sync)
{
	g_outStream = stream;
	g_replacesInput = true;
	g_dryRun = dryRun;
	SyncOutput(sync);
	if (!ReplaceLater(g_inReader.fd, path, g_inStat, g_paraStat))
		return 0;
	g_outState = kPending;
	return 1;
}

int WriteOut(const char *p, std::size_t n)
{
	if (n == 0)
		return 1;
	// What the block owed is written: the output stands at keep.
	const Reader *r = &g_inReader;
	off_t at = r->base + static_cast<off_t>(r->keep);
	CheckChange(at, nullptr, 0, p, n);
	return NoteChange() && RecordChange(at, 0, p, n) && (g_outState != kWriting || Emit(p, n));
}

int ReplacePiece(const Piece &piece, const char *p, std::size_t n)
{
	if (n == piece.len && memcmp(p, piece.text, n) == 0)
		return 1;
	const Reader *r = &g_inReader;
	off_t at = r->base + static_cast<off_t>(r->pos - piece.len);
	CheckChange(at, piece.text, piece.len, p, n);
	return NoteChange() && RecordChange(at, piece.len, p, n) && DropPiece(piece) &&
	       (g_outState != kWriting || Emit(p, n));
}

void ShowChanges(int fd, const char *label)
{
	g_diffFd = fd;
	g_diffLabel = label;
}

void CheckEdits(bool on)
{
	g_checks = on;
}

int FinishOutput()
{
	if (g_outState == kPending)
		return CheckVerdict() && PassRest() && WriteDiff();
	// The rest of the block is consumed: all of it is owed to the output.
	g_inReader.pos = g_inReader.end;
	if (!CopyUpTo(&g_inReader, kToTheEnd) || !InputAsStarted() || !CheckVerdict()) {
		DiscardOutput();
		return 0;
	}
	return CloseOutput();
}

void DiscardOutput()
{
	EndStream();
	DiscardOutputFile();
}

int DropOutput()
{
	EndStream();
	if (g_replacesInput)
		return DropOutputFile();
	DiscardOutputFile();
	return 1;
}

bool InputChanged()
{
	return g_changed;
}
