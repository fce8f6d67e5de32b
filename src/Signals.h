// The process's standard descriptors and the signals that end a run from
// outside, and the one hidden file that such a signal removes on its way
// out. A door of its own: the run context prepares the process and lets the
// held signals in again; the output's files note and forget the hidden file.
#ifndef SIGNALS_H
#define SIGNALS_H

#include <csignal>

// Opens standard descriptors that are closed and sets the signal actions;
// the first call of a process does it, later ones nothing.
void PrepareProcess();

// Holds off the ending signals (hold), keeping the mask before in *saved,
// or sets that mask again (!hold).
void HoldSignals(bool hold, sigset_t *saved);
// Holds off the ending signals from the moment the output is put in place
// until the run has reported it: a signal then ends the run after.
void HoldForCommit();
// Lets the ending signals in again once the run has reported an output that
// was put in place: from the rename on, they wait, so that a signal cannot
// end the run between a change and its report.
void ReleaseSignals();

// The hidden file name in the open folder dir has just been made: an ending
// signal removes it until it is forgotten. Called with the signals held.
void NoteHidden(int dir, const char *name);
// The hidden file has taken another name, or is gone.
void ForgetHidden();
bool HiddenMade();
// Removes the hidden file, if one is noted, and forgets it.
// Async-signal-safe.
void UndoHidden();

#endif
