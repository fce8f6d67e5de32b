// The lock that keeps two runs from writing one file at once.
#ifndef LOCK_H
#define LOCK_H

// Locks the file on fd, waiting at most seconds (0: not at all) for any
// other run that writes it in place to finish. False when another program
// still held it then; a file system without locks still gets its output.
bool Lock(int fd, int seconds);

#endif
