// gzip streams for the I/O layer: a compressed input is read decompressed,
// and its output is written compressed. Like read(2) and write(2), these
// print nothing; the I/O layer reports failures with the file's name.
#ifndef GZIP_H
#define GZIP_H

#include <cstddef>
#include <sys/types.h>

// Whether bytes that start a file start a gzip stream.
bool GzipMagic(const char *p, std::size_t n);

// Starts decompressing the file on fd from its current offset; the n bytes
// at ahead were read from it already. 0 on failure.
[[nodiscard]] int GzipStartInput(int fd, const char *ahead, std::size_t n);
// Reads up to n decompressed bytes: the count, 0 at the end, -1 when the
// stream is corrupt or truncated or cannot be read. Members that follow one
// another are read as one text, as gzip -d reads them; bytes after the last
// member that start no new one (zeros too) make the stream corrupt.
[[nodiscard]] ssize_t GzipRead(char *to, std::size_t n);
// Why the last GzipRead gave -1, as a report says it ("not a valid gzip file
// (truncated)"); null when the file could not be read (errno says why).
const char *GzipFault();

// Starts compressing into fd: default level, no file name, time stamp 0, so
// that the same input always gives the same bytes. 0 on failure.
[[nodiscard]] int GzipStartOutput(int fd);
// Compresses n bytes into the output. 0 on failure.
[[nodiscard]] int GzipWrite(const char *p, std::size_t n);
// Ends the stream and writes what is left. 0 on failure.
[[nodiscard]] int GzipFinish();

#endif
