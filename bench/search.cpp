// Times FindText against memmem as the tool uses them: over a file, one
// 512 KiB block at a time, each block just copied into the block buffer (as
// read(2) leaves it, in the cache). Only the searches are timed: the median
// of 9 passes over the file for each needle, every block searched whole.
//   search FILE NEEDLE...
#include "FindText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBlock = 512 * 1024;
char g_block[kBlock];

using Search = const char *(*)(const char *, std::size_t, const char *, std::size_t);

const char *ByMemmem(const char *hay, std::size_t n, const char *needle, std::size_t m)
{
	return static_cast<const char *>(memmem(hay, n, needle, m));
}

// One pass over the file; returns the time spent searching, and in *hits
// the sum of the hits' offsets in their blocks, to compare the two.
double PassMs(Search search, const std::string &file, const std::string &needle, std::size_t *hits)
{
	std::chrono::duration<double, std::milli> spent{};
	*hits = 0;
	for (std::size_t at = 0; at < file.size(); at += kBlock) {
		std::size_t n = std::min(kBlock, file.size() - at);
		memcpy(g_block, file.data() + at, n);
		auto t0 = std::chrono::steady_clock::now();
		const char *hit = search(g_block, n, needle.data(), needle.size());
		spent += std::chrono::steady_clock::now() - t0;
		*hits += hit ? static_cast<std::size_t>(hit - g_block) + 1 : 0;
	}
	return spent.count();
}

double MedianMs(Search search, const std::string &file, const std::string &needle,
                std::size_t *hits)
{
	std::vector<double> ms;
	for (int i = 0; i < 9; i++)
		ms.push_back(PassMs(search, file, needle, hits));
	std::sort(ms.begin(), ms.end());
	return ms[ms.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
	if (argc < 3) {
		fprintf(stderr, "usage: search FILE NEEDLE...\n");
		return 2;
	}
	std::ifstream in(argv[1], std::ios::binary);
	std::string hay(std::istreambuf_iterator<char>(in), {});
	printf("%-32s %10s %10s %8s\n", "needle", "memmem ms", "FindText", "speed-up");
	for (int i = 2; i < argc; i++) {
		std::string needle = argv[i];
		std::size_t a, b;
		double m = MedianMs(ByMemmem, hay, needle, &a);
		double f = MedianMs(FindText, hay, needle, &b);
		if (a != b) {
			fprintf(stderr, "FindText and memmem disagree on %s\n", argv[i]);
			return 1;
		}
		printf("%-32s %10.1f %10.1f %7.2fx\n", argv[i], m, f, m / f);
	}
	return 0;
}
