// The constraints of a PPD: choices of two options or more that must not
// all be defaults together ("*UIConstraints: *Duplex DuplexTumble *PageSize
// A5", or "*cupsUIConstraints NAME: ..." for more). PPDs hold thousands, and
// most edits change no default: they are kept as text, and read at the end
// only for the options whose defaults differ between the texts, and for the
// constraints of lines that one text alone holds.
#ifndef CHECKCONSTRAINTS_H
#define CHECKCONSTRAINTS_H

#include "PpdText.h"

// Starts afresh for one edit.
void ConstraintsReset();
// Notes a constraint's value of texts, found at line.
void NoteConstraint(Span value, unsigned texts, long line);
// Once both texts are read: notes each constraint that the defaults of a
// text break, where that can differ between the texts.
void ConstraintFaults();

#endif
