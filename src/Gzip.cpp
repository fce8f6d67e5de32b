// gzip streams through zlib, in fixed buffers: zlib's own state is carved
// from a static arena, so an edit of a compressed file allocates nothing on
// the heap either, and its memory does not grow with the file.
#include "Gzip.h"

#include "WriteAll.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr std::size_t kPackedSize = 128 * 1024;
// zlib's windowBits for a gzip wrapper around a 32 KiB window.
constexpr int kGzipWindow = 15 + 16;
// Room for one inflate state (about 40 KiB) and one deflate state at the
// default memory level (about 270 KiB).
constexpr std::size_t kArenaSize = 384 * 1024;

alignas(16) unsigned char g_arena[kArenaSize];
std::size_t g_arenaUsed;

struct Stream {
	z_stream z;
	int fd;
	bool ready;       // initialized; later starts only reset it
	bool memberEnded; // the input stands between two members
	bool later;       // the member being read is not the first
	unsigned char buf[kPackedSize];
};

Stream g_in;
Stream g_out;
// Why the input's stream failed: one of the texts below, or null when the
// file could not be read.
const char *g_fault;

const char kTruncated[] = "not a valid gzip file (truncated)";
const char kBadCheck[] = "not a valid gzip file (bad checksum)";
const char kTrailing[] = "not a valid gzip file (trailing garbage)";
const char kCorrupt[] = "not a valid gzip file (corrupt data)";

// zlib's allocator: a bump allocator over the arena; nothing is given back,
// since each stream is initialized once per run and then only reset.
voidpf ArenaAlloc(voidpf, uInt items, uInt size)
{
	std::size_t n = (static_cast<std::size_t>(items) * size + 15) / 16 * 16;
	if (n > kArenaSize - g_arenaUsed)
		return Z_NULL;
	voidpf p = g_arena + g_arenaUsed;
	g_arenaUsed += n;
	return p;
}

void ArenaFree(voidpf, voidpf) {}

void UseArena(z_stream *z)
{
	z->zalloc = ArenaAlloc;
	z->zfree = ArenaFree;
	z->opaque = Z_NULL;
}

// Reads more compressed input; 1, 0 at the end, -1 on an error.
int FillPacked(Stream *s)
{
	for (;;) {
		ssize_t n = read(s->fd, s->buf, sizeof s->buf);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return n < 0 ? -1 : 0;
		s->z.next_in = s->buf;
		s->z.avail_in = static_cast<uInt>(n);
		return 1;
	}
}

// Writes the compressed bytes that deflate has put in the buffer.
int DrainPacked(Stream *s)
{
	if (!WriteAll(s->fd, s->buf, sizeof s->buf - s->z.avail_out))
		return 0;
	s->z.next_out = s->buf;
	s->z.avail_out = sizeof s->buf;
	return 1;
}

// Runs deflate over what is in next_in with flush, writing as it fills.
int Deflate(int flush)
{
	z_stream *z = &g_out.z;
	for (;;) {
		int rc = deflate(z, flush);
		if (rc == Z_STREAM_ERROR)
			return 0;
		bool done = flush == Z_FINISH ? rc == Z_STREAM_END
		                              : z->avail_in == 0 && z->avail_out > 0;
		if (z->avail_out == 0 || done)
			if (!DrainPacked(&g_out))
				return 0;
		if (done)
			return 1;
	}
}

// Notes why the input's stream failed; -1.
ssize_t Fail(const char *fault)
{
	g_fault = fault;
	return -1;
}

// Whether the bytes after a member are no new member: the stream failed
// (inflate, or the end of the file) within the first n bytes of what was
// read as one, which hold the gzip magic. The first member's magic was seen
// before inflating began.
bool NoMember(const z_stream *z, uLong n)
{
	return g_in.later && z->total_in <= n;
}

// Why inflate gave rc. zlib tells the trailer's checks from the data's
// faults only by its message.
const char *InflateFault(const z_stream *z, int rc)
{
	if (rc != Z_DATA_ERROR)
		return kCorrupt;
	if (NoMember(z, 2))
		return kTrailing;
	bool check = z->msg && (strcmp(z->msg, "incorrect data check") == 0 ||
	                        strcmp(z->msg, "incorrect length check") == 0);
	return check ? kBadCheck : kCorrupt;
}

} // namespace

bool GzipMagic(const char *p, std::size_t n)
{
	return n >= 2 && static_cast<unsigned char>(p[0]) == 0x1f &&
	       static_cast<unsigned char>(p[1]) == 0x8b;
}

int GzipStartInput(int fd, const char *ahead, std::size_t n)
{
	if (n > sizeof g_in.buf)
		return 0;
	if (!g_in.ready) {
		UseArena(&g_in.z);
		g_in.z.next_in = Z_NULL;
		g_in.z.avail_in = 0;
		if (inflateInit2(&g_in.z, kGzipWindow) != Z_OK)
			return 0;
		g_in.ready = true;
	} else if (inflateReset(&g_in.z) != Z_OK) {
		return 0;
	}
	g_in.fd = fd;
	g_in.memberEnded = false;
	g_in.later = false;
	if (n > 0)
		memcpy(g_in.buf, ahead, n);
	g_in.z.next_in = g_in.buf;
	g_in.z.avail_in = static_cast<uInt>(n);
	return 1;
}

ssize_t GzipRead(char *to, std::size_t n)
{
	z_stream *z = &g_in.z;
	z->next_out = reinterpret_cast<unsigned char *>(to);
	z->avail_out = static_cast<uInt>(n);
	while (z->avail_out > 0) {
		if (z->avail_in == 0) {
			int got = FillPacked(&g_in);
			if (got < 0)
				return Fail(nullptr);
			if (got == 0 && !g_in.memberEnded)
				return Fail(NoMember(z, 1) ? kTrailing : kTruncated);
			if (got == 0)
				break;
		}
		if (g_in.memberEnded && inflateReset(z) != Z_OK)
			return Fail(kCorrupt);
		g_in.later = g_in.later || g_in.memberEnded;
		g_in.memberEnded = false;
		int rc = inflate(z, Z_NO_FLUSH);
		if (rc == Z_STREAM_END)
			g_in.memberEnded = true;
		else if (rc != Z_OK)
			return Fail(InflateFault(z, rc));
	}
	return static_cast<ssize_t>(n - z->avail_out);
}

const char *GzipFault()
{
	return g_fault;
}

int GzipStartOutput(int fd)
{
	if (!g_out.ready) {
		UseArena(&g_out.z);
		if (deflateInit2(&g_out.z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindow, 8,
		                 Z_DEFAULT_STRATEGY) != Z_OK)
			return 0;
		g_out.ready = true;
	} else if (deflateReset(&g_out.z) != Z_OK) {
		return 0;
	}
	g_out.fd = fd;
	g_out.z.next_out = g_out.buf;
	g_out.z.avail_out = sizeof g_out.buf;
	return 1;
}

int GzipWrite(const char *p, std::size_t n)
{
	g_out.z.next_in = reinterpret_cast<const Bytef *>(p);
	g_out.z.avail_in = static_cast<uInt>(n);
	return Deflate(Z_NO_FLUSH);
}

int GzipFinish()
{
	g_out.z.next_in = Z_NULL;
	g_out.z.avail_in = 0;
	return Deflate(Z_FINISH);
}
