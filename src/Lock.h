// The lock that keeps two runs from writing one file at once.
#ifndef LOCK_H
#define LOCK_H

// Waits for any other run that writes the file on fd in place to finish, and
// locks it. A file system without locks still gets its output.
void Lock(int fd);

#endif
