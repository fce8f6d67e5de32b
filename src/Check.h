// The check of an edit: the faults that make the printing system refuse a
// PPD, or read it otherwise than its maker meant, that the edit brings in:
// found in the new text and not in the old, so that a file that was
// faulty already is not blamed for its old faults.
//
// The edit hands both texts over as it goes, in order: the bytes they
// share, the old bytes it drops and the new bytes it writes. The shared
// bytes and the dropped ones make the old text; the shared bytes and the
// written ones the new. It reads no file and prints nothing.
#ifndef CHECK_H
#define CHECK_H

#include <cstddef>

// Starts the check of one edit.
void CheckStart();
void CheckShared(const char *p, std::size_t n);
void CheckDropped(const char *p, std::size_t n);
void CheckWritten(const char *p, std::size_t n);
// At the end of both texts: null when the new text brings no fault, else a
// sentence that names the first fault it brings and its line in the new
// text.
[[nodiscard]] const char *CheckEnd();

#endif
