// Staged outputs: a regular output that must keep its inode is written into
// memory, then copied over the file once the edit is whole.
#ifndef STAGING_H
#define STAGING_H

// Makes the stage: a file in memory. Its descriptor, or -1.
int MakeStage();
// Copies the whole stage on from over the file on to, from its start, its
// room reserved first, and gives the file back what the write takes away.
// The ending signals wait from the copy on (HoldForCommit): cut short, it
// would leave a part. False on failure, with the signals let in again.
bool CopyOver(int from, int to);

#endif
