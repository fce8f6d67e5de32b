// The unified diff of an edit. The edit records its changes as byte ranges
// of the old text and the bytes that replace them; a first reading of the
// old text turns them into blocks of whole lines (old lines that become new
// ones), a second prints the hunks: three lines of context, hunks whose
// context would touch joined, "\ No newline at end of file" after a last
// line without one. An insertion of lines is moved down past the lines that
// equal its first one, as diff places it.
#include "Diff.h"

#include "Gzip.h"
#include "WriteAll.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr long kContext = 3;
// The bytes of the recorded changes, and of the new lines of the blocks.
constexpr std::size_t kTextMax = 1 << 20;
constexpr std::size_t kChangesMax = 1 << 15;
constexpr std::size_t kBufSize = 128 * 1024;
constexpr char kNoNewline[] = "\n\\ No newline at end of file\n";

struct Change {
	off_t at;
	off_t len;
	std::size_t text; // where its bytes start in g_text
	std::size_t n;
};

// Old lines [o1, o2) become the `lines` new lines g_lines[text, text + n).
struct Block {
	long o1, o2;
	std::size_t text, n;
	long lines;
};

Change g_changes[kChangesMax];
std::size_t g_count;
char g_text[kTextMax];
std::size_t g_textLen;
Block g_blocks[kChangesMax];
std::size_t g_blockCount;
char g_lines[kTextMax];
std::size_t g_linesLen;
long g_oldLines;

// The old text, read again from its start: buf[pos] is text offset off,
// after line LFs; the current line starts at lineStart, and its bytes stay in
// the buffer while it fits in half of it.
struct Old {
	int fd;
	bool gz;
	bool eof;
	off_t next; // a plain file's offset to read next
	off_t off;
	long line;
	off_t lineStart;
	std::size_t pos, end;
	char buf[kBufSize];
};
Old g_old;

// The diff, written out through a buffer.
int g_outFd;
char g_out[64 * 1024];
std::size_t g_outLen;

int Restart(int fd, bool gz)
{
	Old &o = g_old;
	o.fd = fd;
	o.gz = gz;
	o.eof = false;
	o.next = o.off = o.lineStart = 0;
	o.line = 0;
	o.pos = o.end = 0;
	return !gz || (lseek(fd, 0, SEEK_SET) == 0 && GzipStartInput(fd, nullptr, 0));
}

// Reads more of the old text after the buffer's bytes. 0 on a read error.
int More()
{
	Old &o = g_old;
	off_t first = o.off - static_cast<off_t>(o.pos); // text offset of buf[0]
	std::size_t keep = o.pos;
	if (o.lineStart >= first &&
	    o.end - static_cast<std::size_t>(o.lineStart - first) < kBufSize / 2)
		keep = static_cast<std::size_t>(o.lineStart - first);
	memmove(o.buf, o.buf + keep, o.end - keep);
	o.end -= keep;
	o.pos -= keep;
	ssize_t n;
	do {
		n = o.gz ? GzipRead(o.buf + o.end, kBufSize - o.end)
		         : pread(o.fd, o.buf + o.end, kBufSize - o.end, o.next);
	} while (n < 0 && errno == EINTR);
	if (n < 0)
		return 0;
	o.next += n;
	o.end += static_cast<std::size_t>(n);
	o.eof = n == 0;
	return 1;
}

// Passes over n buffered bytes, counting their lines.
void Pass(std::size_t n)
{
	Old &o = g_old;
	const char *p = o.buf + o.pos;
	for (const char *lf = static_cast<const char *>(memchr(p, '\n', n)); lf;
	     lf = static_cast<const char *>(
	             memchr(lf + 1, '\n', n - static_cast<std::size_t>(lf + 1 - p)))) {
		o.line++;
		o.lineStart = o.off + (lf + 1 - p);
	}
	o.pos += n;
	o.off += static_cast<off_t>(n);
}

// Passes over the old text up to offset to. 0 when it ends before.
int Advance(off_t to)
{
	Old &o = g_old;
	while (o.off < to) {
		if (o.pos == o.end && (o.eof || !More() || o.pos == o.end))
			return 0;
		Pass(std::min(o.end - o.pos, static_cast<std::size_t>(to - o.off)));
	}
	return 1;
}

bool AtLineStart()
{
	return g_old.off == g_old.lineStart;
}

int Keep(const char *p, std::size_t n)
{
	if (n > kTextMax - g_linesLen)
		return 0;
	memcpy(g_lines + g_linesLen, p, n);
	g_linesLen += n;
	return 1;
}

// Keeps the current line's bytes before the read position: the start of a
// changed line. 0 when the line no longer fits in the buffer.
int KeepLineStart()
{
	Old &o = g_old;
	off_t first = o.off - static_cast<off_t>(o.pos);
	if (o.lineStart < first)
		return 0;
	return Keep(o.buf + (o.lineStart - first), static_cast<std::size_t>(o.off - o.lineStart));
}

// Keeps the old bytes from the read position through the next LF, or up to
// offset limit. 1 after an LF, 2 at the limit, 3 at the end, 0 on an error.
int KeepRestOfLine(off_t limit)
{
	Old &o = g_old;
	for (;;) {
		if (o.off == limit)
			return 2;
		if (o.pos == o.end && !o.eof && !More())
			return 0;
		if (o.pos == o.end)
			return 3;
		std::size_t n = std::min(o.end - o.pos, static_cast<std::size_t>(limit - o.off));
		const void *lf = memchr(o.buf + o.pos, '\n', n);
		if (lf)
			n = static_cast<std::size_t>(static_cast<const char *>(lf) -
			                             (o.buf + o.pos)) +
			    1;
		if (!Keep(o.buf + o.pos, n))
			return 0;
		Pass(n);
		if (lf)
			return 1;
	}
}

// The next old line, whole in the buffer, without passing over it: false
// at the end, or when it does not fit.
bool PeekLine(const char **p, std::size_t *n)
{
	Old &o = g_old;
	for (;;) {
		const void *lf = memchr(o.buf + o.pos, '\n', o.end - o.pos);
		if (lf) {
			*p = o.buf + o.pos;
			*n = static_cast<std::size_t>(static_cast<const char *>(lf) - *p) + 1;
			return true;
		}
		if (o.eof || (o.pos == 0 && o.end == kBufSize) || !More())
			return false;
	}
}

// Where the line at the read position ends: after its LF, or at the end of
// the text. -1 when that cannot be told: a line longer than the buffer.
off_t NextLineEnd()
{
	const char *p;
	std::size_t n;
	if (PeekLine(&p, &n))
		return g_old.off + static_cast<off_t>(n);
	return g_old.eof ? g_old.off + static_cast<off_t>(g_old.end - g_old.pos) : -1;
}

long CountLines(const char *p, std::size_t n)
{
	return std::count(p, p + n, '\n') + (n > 0 && p[n - 1] != '\n');
}

// Moves an insertion of lines (b, before the old line at the read position)
// down past each old line that equals its first line, as diff does.
int Slide(Block *b, std::size_t next)
{
	const char *line;
	std::size_t n;
	while (PeekLine(&line, &n)) {
		bool reached =
		        next < g_count && g_changes[next].at <= g_old.off + static_cast<off_t>(n);
		if (reached || n > b->n || memcmp(g_lines + b->text, line, n) != 0)
			return 1;
		memmove(g_lines + b->text, g_lines + b->text + n, b->n - n);
		memcpy(g_lines + b->text + b->n - n, line, n);
		if (!Advance(g_old.off + static_cast<off_t>(n)))
			return 0;
		b->o1 = b->o2 = g_old.line;
	}
	return 1;
}

// After a change: completes the line that it ends in with the old bytes up
// to the next LF. 2 when the next change starts first (it joins the block),
// 1 when old and new lines both end here, 0 on an error.
int EndLine(const Block &b, std::size_t i)
{
	off_t limit = i < g_count ? g_changes[i].at : LLONG_MAX;
	for (;;) {
		if (limit == g_old.off)
			return 2;
		bool lineEnds = g_linesLen == b.text || g_lines[g_linesLen - 1] == '\n';
		// The next change, inside the next line (a piece of a long line),
		// changes that line too: it joins the block.
		off_t next = AtLineStart() && lineEnds && limit != LLONG_MAX ? NextLineEnd() : -1;
		if (AtLineStart() && lineEnds && (next < 0 || limit >= next))
			return 1;
		int got = KeepRestOfLine(limit);
		if (got == 0 || got == 3)
			return got ? 1 : 0;
	}
}

// Turns the changes from *i on that touch the same or adjacent lines into
// one block: the old lines they touch, and those lines as the changes make
// them.
int MakeBlock(std::size_t *i)
{
	std::size_t first = *i;
	if (!Advance(g_changes[first].at))
		return 0;
	Block b = {g_old.line, 0, g_linesLen, 0, 0};
	bool insertion = AtLineStart() && g_changes[first].len == 0;
	if (!KeepLineStart())
		return 0;
	for (int got = 2; got == 2;) {
		const Change &c = g_changes[(*i)++];
		if (!Keep(g_text + c.text, c.n) || !Advance(c.at + c.len) ||
		    !(got = EndLine(b, *i)))
			return 0;
	}
	b.o2 = g_old.line + (AtLineStart() ? 0 : 1);
	b.n = g_linesLen - b.text;
	if (insertion && *i == first + 1 && b.o1 == b.o2 && !Slide(&b, *i))
		return 0;
	b.lines = CountLines(g_lines + b.text, b.n);
	g_blocks[g_blockCount++] = b;
	return 1;
}

// The first reading: the blocks, and the old text's number of lines.
int FindBlocks(int in, bool gz)
{
	g_blockCount = 0;
	g_linesLen = 0;
	if (!Restart(in, gz))
		return 0;
	for (std::size_t i = 0; i < g_count;)
		if (!MakeBlock(&i))
			return 0;
	Advance(LLONG_MAX);
	g_oldLines = g_old.line + (AtLineStart() ? 0 : 1);
	return g_old.eof;
}

int Flush()
{
	bool ok = WriteAll(g_outFd, g_out, g_outLen);
	g_outLen = 0;
	return ok;
}

int Put(const char *p, std::size_t n)
{
	while (n > 0) {
		if (g_outLen == sizeof g_out && !Flush())
			return 0;
		std::size_t k = std::min(n, sizeof g_out - g_outLen);
		memcpy(g_out + g_outLen, p, k);
		g_outLen += k;
		p += k;
		n -= k;
	}
	return 1;
}

int PutString(const char *s)
{
	return Put(s, strlen(s));
}

// Prints count old lines, each after mark, or passes over them when mark is
// 0. A last line without its LF is followed by diff's note.
int OldLines(char mark, long count)
{
	Old &o = g_old;
	for (; count > 0 && o.line < g_oldLines; count--) {
		if (mark && !Put(&mark, 1))
			return 0;
		for (bool ended = false; !ended;) {
			if (o.pos == o.end && !o.eof && !More())
				return 0;
			if (o.pos == o.end) { // the last line, without its LF
				o.line++;
				if (mark && !PutString(kNoNewline))
					return 0;
				break;
			}
			const void *lf = memchr(o.buf + o.pos, '\n', o.end - o.pos);
			std::size_t n =
			        lf ? static_cast<std::size_t>(static_cast<const char *>(lf) -
			                                      (o.buf + o.pos)) +
			                        1
			           : o.end - o.pos;
			if (mark && !Put(o.buf + o.pos, n))
				return 0;
			Pass(n);
			ended = lf != nullptr;
		}
	}
	return 1;
}

// Prints the new lines of a block, each after "+".
int NewLines(const Block &b)
{
	const char *p = g_lines + b.text;
	const char *end = p + b.n;
	while (p < end) {
		const char *lf = static_cast<const char *>(
		        memchr(p, '\n', static_cast<std::size_t>(end - p)));
		const char *next = lf ? lf + 1 : end;
		if (!Put("+", 1) || !Put(p, static_cast<std::size_t>(next - p)) ||
		    (!lf && !PutString(kNoNewline)))
			return 0;
		p = next;
	}
	return 1;
}

// Prints a range of a hunk's header: the first line and the count, as diff
// writes them (a count of 1 left out; an empty range named by the line
// before it).
int PutRange(long start, long count)
{
	char s[64];
	if (count == 1)
		snprintf(s, sizeof s, "%ld", start + 1);
	else
		snprintf(s, sizeof s, "%ld,%ld", count ? start + 1 : start, count);
	return PutString(s);
}

// Prints the hunk of blocks [b, e), whose new lines start delta lines off
// the old ones.
int Hunk(std::size_t b, std::size_t e, long delta)
{
	long from = std::max(0L, g_blocks[b].o1 - kContext);
	long to = std::min(g_oldLines, g_blocks[e - 1].o2 + kContext);
	long grown = 0;
	for (std::size_t k = b; k < e; k++)
		grown += g_blocks[k].lines - (g_blocks[k].o2 - g_blocks[k].o1);
	if (!PutString("@@ -") || !PutRange(from, to - from) || !PutString(" +") ||
	    !PutRange(from + delta, to - from + grown) || !PutString(" @@\n") ||
	    !OldLines(0, from - g_old.line))
		return 0;
	for (std::size_t k = b; k < e; k++) {
		const Block &x = g_blocks[k];
		if (!OldLines(' ', x.o1 - g_old.line) || !OldLines('-', x.o2 - x.o1) ||
		    !NewLines(x))
			return 0;
	}
	return OldLines(' ', to - g_old.line);
}

// Prints a header line: mark, the name, a tab and the time t as diff writes
// a file's time, to the nanosecond in the local zone. The tab ends the name
// for patch, which then reads a name with blanks whole.
int PutHeader(const char *mark, const char *label, const timespec &t)
{
	struct tm tm;
	char date[32], zone[16], line[80];
	if (!localtime_r(&t.tv_sec, &tm) ||
	    strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tm) == 0 ||
	    strftime(zone, sizeof zone, "%z", &tm) == 0)
		return 0;
	snprintf(line, sizeof line, "\t%s.%09ld %s\n", date, t.tv_nsec, zone);
	return PutString(mark) && PutString(label) && PutString(line);
}

// The second reading: every hunk.
int PrintHunks(int in, bool gz)
{
	if (!Restart(in, gz))
		return 0;
	long delta = 0;
	for (std::size_t b = 0, e; b < g_blockCount; b = e) {
		for (e = b + 1;
		     e < g_blockCount && g_blocks[e].o1 - g_blocks[e - 1].o2 <= 2 * kContext; e++)
			;
		if (!Hunk(b, e, delta))
			return 0;
		for (std::size_t k = b; k < e; k++)
			delta += g_blocks[k].lines - (g_blocks[k].o2 - g_blocks[k].o1);
	}
	return 1;
}

} // namespace

void DiffReset()
{
	g_count = 0;
	g_textLen = 0;
}

int DiffRecord(off_t at, std::size_t len, const char *text, std::size_t n)
{
	if (n > kTextMax - g_textLen)
		return 0;
	Change *last = g_count ? &g_changes[g_count - 1] : nullptr;
	bool extends = last && len == 0 && at == last->at + last->len;
	if (!extends && g_count == kChangesMax)
		return 0;
	if (!extends)
		g_changes[g_count++] = {at, static_cast<off_t>(len), g_textLen, 0};
	memcpy(g_text + g_textLen, text, n);
	g_textLen += n;
	g_changes[g_count - 1].n += n;
	return 1;
}

int DiffWrite(int fd, const char *label, int in, bool gz)
{
	g_outFd = fd;
	g_outLen = 0;
	struct stat st;
	timespec now;
	return fstat(in, &st) == 0 && clock_gettime(CLOCK_REALTIME, &now) == 0 &&
	       FindBlocks(in, gz) && PutHeader("--- ", label, st.st_mtim) &&
	       PutHeader("+++ ", label, now) && PrintHunks(in, gz) && Flush();
}
