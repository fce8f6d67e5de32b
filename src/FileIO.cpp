// ppdedit's I/O layer: blocks, pieces, the output's opening, locking and
// emptying, the kernel copy, and the process's descriptors and signals.
//
// A "piece" is a line of at most kPieceMax bytes: a longer line is handed
// out as several pieces. Every input byte that the engines do not replace
// reaches the output unchanged, in long runs straight from the block.
//
// An input that starts with the gzip magic is read decompressed, and its
// output is written compressed; the engines see only the text.
#include "FileIO.h"

#include "FindText.h"
#include "Gzip.h"
#include "PPD.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Files are read in blocks; each line piece is a slice of its block.
constexpr std::size_t kBlockSize = 512 * 1024;
static_assert(kBlockSize >= 2 * kPieceMax, "a whole piece must fit after a refill");
// The most that one copy_file_range call is asked to move.
constexpr std::size_t kCopyChunk = std::size_t{1} << 30;
// What is read of a pipe to see whether it is compressed: it cannot be read
// again, so these bytes are kept for the reader.
constexpr std::size_t kLookAhead = 64 * 1024;
// The signals that end a run from outside: each empties the output first.
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGTERM};

// A file read in blocks. Bytes before pos are consumed; when copy is set,
// the consumed bytes from keep on are still owed to the output and are
// written in one run before the block moves or something else is written.
// base is the file offset of the block's first byte; fills counts the
// refills, so that what was found in an earlier fill is known to be stale.
struct Reader {
	int fd;
	const char *path;
	bool copy;
	bool eof;
	bool gz; // the file is gzip-compressed; the block holds its text
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
// Where the first input piece equal to the anchor ends, found by the marker
// check, and whether there is one.
off_t g_anchorEnd;
bool g_anchorFound;

// Whether the output is written compressed, as the input is.
bool g_gzOutput;

// The regular output that a failure or a signal must empty, or -1: set once
// the output is claimed, cleared once it is closed or emptied.
volatile sig_atomic_t g_discardFd = -1;

void StartReader(Reader *r, FILE *fp, const char *path)
{
	r->fd = fileno(fp);
	r->path = path;
	r->copy = false;
	r->eof = false;
	r->gz = false;
	r->base = 0;
	r->fills = 1;
	r->pos = r->end = r->keep = 0;
}

int ReadError(const char *path)
{
	printf("[ERROR] %s can not read.\n", path);
	return 0;
}

// Reads up to n bytes of the file's text: the count, 0 at the end, -1 on an
// error.
ssize_t ReadText(Reader *r, char *to, std::size_t n)
{
	if (r->gz)
		return GzipRead(to, n);
	for (;;) {
		ssize_t got = read(r->fd, to, n);
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

// Starts reading the input from its first byte, decompressed when it starts
// with the gzip magic. A file is looked at in place; a pipe through the
// first bytes read, which the reader then keeps.
int StartInput(Reader *r)
{
	StartReader(r, g_infp, g_szPathName[kPathInput]);
	char magic[2];
	ssize_t n = pread(r->fd, magic, sizeof magic, 0);
	if (n < 0 && errno == ESPIPE) {
		if (!LookAhead(r))
			return 0;
		if (!GzipMagic(r->block, r->end))
			return 1;
		r->gz = true;
		std::size_t ahead = r->end;
		r->end = 0;
		return GzipStartInput(r->fd, r->block, ahead) || ReadError(r->path);
	}
	r->gz = n > 0 && GzipMagic(magic, static_cast<std::size_t>(n));
	return !r->gz || GzipStartInput(r->fd, nullptr, 0) || ReadError(r->path);
}

int WriteError()
{
	printf("[ERROR] %s can not write.\n", g_szPathName[kPathOutput]);
	return 0;
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
	r->base += static_cast<off_t>(r->pos);
	r->fills++;
	r->pos = r->keep = 0;
	r->end = rest;
	ssize_t n = ReadText(r, r->block + r->end, kBlockSize - r->end);
	if (n < 0)
		return ReadError(r->path);
	r->end += static_cast<std::size_t>(n);
	r->eof = n == 0;
	return 1;
}

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

// Copies up to count bytes of the input from its current offset in the
// kernel, when that pays, and returns how many it copied. The copy stops at
// the end or at any error; the plain copy that follows it confirms the end,
// and names a real error with the file it belongs to.
off_t CopyInKernel(Reader *r, off_t count)
{
	if (r->gz || !KernelCopyPays(r->fd, fileno(g_outfp)))
		return 0;
	off_t done = 0;
	while (done < count) {
		std::size_t want =
		        static_cast<std::size_t>(std::min<off_t>(count - done, kCopyChunk));
		ssize_t n = copy_file_range(r->fd, nullptr, fileno(g_outfp), nullptr, want, 0);
		if (n <= 0)
			break;
		done += n;
	}
	return done;
}

// Writes the input unchanged from the consumed bytes up to file offset limit
// of its text, or to its end: in the kernel where it can, else through the
// block.
int CopyUpTo(Reader *r, off_t limit)
{
	r->copy = true;
	if (r->pos == r->end) {
		if (!FlushRun(r, r->end))
			return 0;
		r->base += static_cast<off_t>(r->end);
		r->pos = r->keep = r->end = 0;
		r->base += CopyInKernel(r, limit - r->base);
	}
	while (r->base + static_cast<off_t>(r->end) < limit && !r->eof) {
		r->pos = r->end;
		if (!Refill(r))
			return 0;
	}
	r->pos = static_cast<std::size_t>(std::min(limit - r->base, static_cast<off_t>(r->end)));
	return FlushRun(r, r->pos);
}

bool SameFile(const struct stat &a, FILE *fp)
{
	struct stat b;
	return fstat(fileno(fp), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Refuses an output descriptor that reaches the open input or parameter
// file, whatever name it was opened by (a link, /dev/fd/N, /proc/self/fd/N):
// emptying it would destroy what is being read.
int CheckOutputDescriptor(int fd)
{
	struct stat st;
	if (fstat(fd, &st) == 0 && !SameFile(st, g_infp) && !SameFile(st, g_parafp))
		return 1;
	printf("[ERROR] %s can not be both read and written.\n", g_szPathName[kPathOutput]);
	return 0;
}

// Waits for any other run that writes the same output to finish, so that two
// runs never interleave. A file system without locks still gets its output.
void LockOutput(int fd)
{
	while (flock(fd, LOCK_EX) != 0 && errno == EINTR)
		;
}

// Empties a regular output, locked first; other outputs (a FIFO, a device)
// are written as they are. An empty output is not truncated: on ext4 a
// truncation to zero makes the close flush the file, which for a new file
// would cost more than writing it.
int ClaimOutput(int fd)
{
	struct stat st;
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
		return 1;
	LockOutput(fd);
	if (fstat(fd, &st) == 0 && st.st_size > 0 && ftruncate(fd, 0) != 0) {
		printf("[ERROR] %s don't created.\n", g_szPathName[kPathOutput]);
		return 0;
	}
	g_discardFd = fd;
	return 1;
}

// Empties the output that the run has opened, then ends the run by the same
// signal, so that its caller sees it was interrupted. Async-signal-safe.
void EndBySignal(int sig)
{
	if (g_discardFd >= 0) {
		int rc = ftruncate(g_discardFd, 0);
		(void)rc;
	}
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

// A write to a closed pipe or past the file size limit fails and is reported
// like any write error, instead of killing the run without a word. Signals
// that end the run empty the output first; one that the caller ignores
// (nohup, a background job) stays ignored.
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
	OpenStandardDescriptors();
	SetSignalActions();
}

int StartReaders()
{
	StartReader(&g_paraReader, g_parafp, g_szPathName[kPathPara]);
	return StartInput(&g_inReader);
}

int NextParaPiece(Piece *piece)
{
	return NextPiece(&g_paraReader, piece);
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
	Needle *looking = anchor ? &a : nullptr;
	g_anchorFound = false;
	Piece piece;
	for (;;) {
		int got = NextCandidate(r, &m, looking, &piece);
		if (got <= 0 || SameLine(piece, marker, markerTrimmed))
			return got;
		if (looking && SameLine(piece, anchor, anchorTrimmed)) {
			g_anchorEnd = r->base + static_cast<off_t>(r->pos);
			g_anchorFound = true;
			looking = nullptr;
		}
	}
}

bool AnchorFound()
{
	return g_anchorFound;
}

int CopyThroughAnchor()
{
	return CopyUpTo(&g_inReader, g_anchorEnd);
}

int RewindInput()
{
	if (lseek(g_inReader.fd, 0, SEEK_SET) != 0)
		return ReadError(g_szPathName[kPathInput]);
	return StartInput(&g_inReader);
}

void CopyInput()
{
	g_inReader.copy = true;
}

int OpenOutput()
{
	const char *path = g_szPathName[kPathOutput];
	// Not truncated on opening: the output may yet prove to be an input.
	int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
	if (fd < 0) {
		printf("[ERROR] %s don't created.\n", path);
		return 0;
	}
	if (!CheckOutputDescriptor(fd) || !ClaimOutput(fd)) {
		close(fd);
		return 0;
	}
	g_gzOutput = g_inReader.gz;
	g_outfp = fdopen(fd, "wb");
	if (g_outfp && (!g_gzOutput || GzipStartOutput(fd)))
		return 1;
	if (!g_outfp)
		close(fd);
	g_discardFd = -1; // nothing was written; the descriptor is going
	printf("[ERROR] %s don't created.\n", path);
	return 0;
}

int WriteOut(const char *p, std::size_t n)
{
	if (g_gzOutput)
		return GzipWrite(p, n) || WriteError();
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

int DropPiece(const Piece &piece)
{
	if (!FlushRun(&g_inReader, g_inReader.pos - piece.len))
		return 0;
	g_inReader.keep = g_inReader.pos;
	return 1;
}

void DiscardOutput()
{
	if (g_discardFd >= 0) {
		int rc = ftruncate(g_discardFd, 0);
		(void)rc;
	}
	g_discardFd = -1;
}

namespace {

// Ends a compressed output's stream and closes the output. A failure is a
// failed write, and empties a regular output through a second descriptor,
// which also keeps the lock till then.
int CloseOutput()
{
	bool ok = !g_gzOutput || GzipFinish();
	int keep = g_discardFd >= 0 ? dup(g_discardFd) : -1;
	ok = fclose(g_outfp) == 0 && ok;
	g_outfp = nullptr;
	g_discardFd = keep;
	if (!ok)
		DiscardOutput();
	g_discardFd = -1;
	if (keep >= 0)
		close(keep);
	return ok ? 1 : WriteError();
}

} // namespace

int FinishOutput()
{
	// The rest of the block is consumed: all of it is owed to the output.
	g_inReader.pos = g_inReader.end;
	if (!CopyUpTo(&g_inReader, std::numeric_limits<off_t>::max())) {
		DiscardOutput();
		return 0;
	}
	return CloseOutput();
}
