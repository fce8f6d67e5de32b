// The hidden file written beside the output, ".NAME.ppdedit-XXXXXX" in its
// folder, until it takes the output's name.
#ifndef TEMPFILE_H
#define TEMPFILE_H

#include <climits>
#include <sys/types.h>

// The hidden file's name in g_dir.
extern char g_temp[NAME_MAX + 1];

// Makes the hidden file in g_dir, named after g_base, and notes it so that a
// failure or a signal removes it. Its descriptor, or -1.
int MakeTemp(mode_t mode);
// Removes the hidden file outside a signal handler, if it is noted. 0 when
// it stays, said naming the output name: an edit in place must not end well
// and leave it.
int RemoveTemp(const char *name);

#endif
