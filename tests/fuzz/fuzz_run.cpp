// Fuzzes whole runs of both modes in-process: the input, the parameter file
// and the parameters come from the fuzz bytes, the tool's main runs on files
// in a scratch folder, and the output is checked against what any run must
// give. Built with src/main.cpp, whose main is renamed PpdeditMain. Some
// runs take the input gzip-compressed: the output must then be compressed
// too, and its text must pass the same checks.
#include "../gzip_text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int PpdeditMain(int argc, char *argv[]);

namespace {

std::string g_dir;

void Check(bool ok)
{
	if (!ok)
		abort();
}

void Write(const std::string &path, const std::string &bytes)
{
	std::ofstream(path, std::ios::binary) << bytes;
}

std::string Read(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), {});
}

// A line that no piece of the input can equal: made of a byte it lacks.
bool AbsentLine(const std::string &input, std::string *line)
{
	for (int c = 'A'; c < 256; c++) {
		if (input.find(static_cast<char>(c)) == std::string::npos) {
			*line = std::string(3, static_cast<char>(c)) + "\n";
			return true;
		}
	}
	return false;
}

// Add mode output is the input with one block put in at one place: what the
// two share at their start and at their end covers the whole input.
bool InputAroundBlock(const std::string &in, const std::string &out)
{
	if (out.size() < in.size())
		return false;
	std::size_t head = 0, tail = 0;
	while (head < in.size() && in[head] == out[head])
		head++;
	while (tail < in.size() && in[in.size() - 1 - tail] == out[out.size() - 1 - tail])
		tail++;
	return head + tail >= in.size();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	char tmpl[] = "/tmp/ppdedit-fuzz-XXXXXX";
	g_dir = mkdtemp(tmpl);
	Check(freopen("/dev/null", "w", stdout) != nullptr);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
	FuzzedDataProvider fdp(data, size);
	bool replace = fdp.ConsumeBool();
	bool absent = fdp.ConsumeBool();
	bool gz = fdp.ConsumeBool();
	std::vector<std::string> args = {"ppdedit"};
	if (replace)
		args.push_back("/R");
	for (const char *name : {"/in.ppd", "/out.ppd", "/p.txt"})
		args.push_back(g_dir + name);
	for (int n = fdp.ConsumeIntegralInRange(0, 3); n > 0; n--)
		args.push_back(fdp.ConsumeRandomLengthString(fdp.ConsumeBool() ? 8 : 6000));
	std::string para = fdp.ConsumeRandomLengthString(fdp.ConsumeBool() ? 64 : 12000);
	std::string input = fdp.ConsumeRemainingBytesAsString();

	std::string line;
	if (absent && !AbsentLine(input, &line))
		return 0;
	if (absent) // marker and anchor, or a key, that the input lacks
		para = line + line + para;
	Write(args[replace ? 2 : 1], gz ? Gzip(input) : input);
	Write(args[replace ? 4 : 3], para);
	std::remove(args[replace ? 3 : 2].c_str());

	std::vector<char *> argv;
	for (auto &a : args)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	PpdeditMain(static_cast<int>(args.size()), argv.data());

	// A failed run leaves the output empty, so a non-empty one succeeded.
	std::string out = Read(args[replace ? 3 : 2]);
	if (gz && !out.empty())
		out = Gunzip(out);
	if (absent)
		Check(out == input);
	if (!replace && !out.empty())
		Check(InputAroundBlock(input, out));
	return 0;
}
