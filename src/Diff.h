// The changes that an edit makes to a text, and the unified diff they give:
// what "diff -u OLD NEW" prints for the old text and the new, both bearing
// the file's name, the old one dated by its file's modification time and the
// new one by the time of the diff, so that "patch -p0" applies it. The old
// text is read again from its file (the decompressed text of a gzip file),
// twice, in a fixed buffer; only the changed lines are kept, so memory does
// not grow with the file. Like read(2) and write(2), these print nothing.
#ifndef DIFF_H
#define DIFF_H

#include <cstddef>
#include <sys/types.h>

// Forgets the changes recorded for the previous text.
void DiffReset();
// Records that the old text's bytes [at, at + len) become the n bytes of
// text. Changes come in the order of at; an insertion where the previous
// change ends extends it. 0 when there is no more room.
[[nodiscard]] int DiffRecord(off_t at, std::size_t len, const char *text, std::size_t n);
// Writes the diff of the recorded changes to fd: the old text is read again
// from the start of the file on in, decompressed when gz. 0 on an error, or
// when a changed line is too long to be kept.
[[nodiscard]] int DiffWrite(int fd, const char *label, int in, bool gz);

#endif
