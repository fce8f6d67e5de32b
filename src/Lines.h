// What the engines and the I/O layer agree a line is: the size of a line
// buffer, the longest piece of a line handled as one line, and the length
// that two lines are compared by.
#ifndef LINES_H
#define LINES_H

#include <cstddef>

// One line buffer: a line is read in pieces of at most kLineMax - 1 bytes.
constexpr std::size_t kLineMax = 5120;
constexpr std::size_t kPieceMax = kLineMax - 1;

// Where the line ending of line starts: its trailing CR and LF characters.
inline std::size_t EndingStart(const char *line, std::size_t len)
{
	while (len > 0 && (line[len - 1] == '\r' || line[len - 1] == '\n'))
		len--;
	return len;
}

// The length of line without its trailing CR and LF characters; a line made
// only of them keeps its whole length.
inline std::size_t TrimmedLength(const char *line, std::size_t len)
{
	std::size_t n = EndingStart(line, len);
	return n == 0 ? len : n;
}

#endif
