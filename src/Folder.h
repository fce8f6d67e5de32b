// Where the output is: the folder that holds it, found once from its name
// and opened once, and its name in that folder. Every later step on the
// output (opening it, making a file beside it, checking the name again,
// renaming, removing) goes through that folder's descriptor.
#ifndef FOLDER_H
#define FOLDER_H

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

// What Locate finds at the end of a name: nothing (errno says why), a link
// on the way that may not be followed, no such entry, an entry, or a link
// of /proc that only the kernel may follow.
enum Found { kGone = -2, kRefused, kAbsent, kEntry, kMagic };

// The folder that holds the output, opened once, and the output's name in it.
extern int g_dir;
extern char g_base[NAME_MAX + 1];

inline bool SameFile(const struct stat &a, const struct stat &b)
{
	return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

inline void CloseFd(int *fd)
{
	if (*fd >= 0)
		close(*fd);
	*fd = -1;
}

// Follows path, symbolic links included, to the folder entry it names, as
// open(2) would, opening each folder once: g_dir is the last, g_base the
// name in it. kEntry with its status in *st, kAbsent when no such entry
// exists (*st its folder's), kMagic for a link of /proc (*st where it
// leads), kRefused for a link on the way that neither the running user nor
// root made and that leads to a file or folder not its maker's, kGone with
// errno when the path leads nowhere.
Found Locate(const char *path, struct stat *st);
// Finds name in the open folder folder, without following a link, as
// Locate does.
Found LocateIn(int folder, const char *name, struct stat *st);
// Opens what Locate found, with flags, and checks that it is the entry that
// was looked at (seen): *opened is then its status. -2 when the name has
// changed meanwhile, -1 when it cannot be opened.
int OpenFound(Found found, const struct stat &seen, int flags, struct stat *opened);

#endif
