// The hidden files made beside the output in its folder: ".NAME.ppdedit-
// XXXXXX" holds what was, or is to become, NAME.
#ifndef TEMPFILE_H
#define TEMPFILE_H

#include <climits>
#include <sys/types.h>

// The hidden file's name in g_dir.
extern char g_temp[NAME_MAX + 1];
// Names tried for a hidden file before giving up.
constexpr int kTempTries = 100;

// Writes into name a hidden name for a file that holds what was, or will
// be, base: ".BASE.ppdedit-XXXXXX", with a random part (and base shortened
// so that the whole fits).
void HiddenName(const char *base, char *name);

// Makes the hidden file in g_dir, named after g_base, and notes it so that a
// failure or a signal removes it. Its descriptor, or -1.
int MakeTemp(mode_t mode);
// Removes the hidden file outside a signal handler, if it is noted. 0 when
// it stays, said naming the output name: an edit in place must not end well
// and leave it.
int RemoveTemp(const char *name);

#endif
