// What a file has beside its bytes: owner, group, mode with its set bits,
// extended attributes. A new file that replaces an old one is given them;
// a file written over gets back what a write takes away.
#ifndef ATTRIBUTES_H
#define ATTRIBUTES_H

#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>

// Why a file cannot be replaced by a new one.
enum Why { kReplaceable, kLinks, kAttributes, kNoTemp, kOwner };

// Gives the new file on temp what the old file on old, of status st, has
// beside its bytes. kReplaceable, or why it cannot be given.
Why Dress(int temp, int old, const struct stat &st);
// Reads the file capabilities of the file on fd into cap, of size bytes:
// their length, or -1 when it has none.
ssize_t ReadCapability(int fd, char *cap, std::size_t size);
// Gives the file on fd, of status old before it was written, back what
// writing to it takes away: its setuid and setgid bits, and its file
// capabilities (cap, len bytes, when len > 0).
bool Restore(int fd, const struct stat &old, const char *cap, ssize_t len);

#endif
