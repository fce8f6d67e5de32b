/* Preloaded into a benchmarked process: at exit, appends the process's
 * resident set size in KiB, read exactly from /proc/self/smaps_rollup, to
 * the file named by RSS_AT_EXIT. getrusage's peak comes from counters that
 * the kernel batches per CPU, which drift by hundreds of KiB; for a process
 * whose memory only grows, the exact size at exit is its peak. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

__attribute__((destructor)) static void report(void)
{
	const char *path = getenv("RSS_AT_EXIT");
	FILE *in = fopen("/proc/self/smaps_rollup", "r");
	char line[256];
	long kib = -1;
	if (!path || !in)
		return;
	while (fgets(line, sizeof line, in))
		if (strncmp(line, "Rss:", 4) == 0)
			kib = strtol(line + 4, NULL, 10);
	fclose(in);
	FILE *out = fopen(path, "a");
	if (out) {
		fprintf(out, "%ld\n", kib);
		fclose(out);
	}
}
