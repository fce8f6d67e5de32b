// Fuzzes the line text primitives in a buffer of exactly one line's size,
// so that AddressSanitizer sees any write past it, and checks what their
// rules imply without restating them.
#include "FindText.h"
#include "PPD.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool ok)
{
	if (!ok)
		abort();
}

bool IsEnding(char c)
{
	return c == '\r' || c == '\n';
}

// What StrTrim cut is all CR and LF, and what it kept ends otherwise.
void CheckTrim(const std::string &line)
{
	std::vector<char> buf(line.begin(), line.end());
	buf.push_back('\0');
	StrTrim(buf.data());
	std::size_t kept = strlen(buf.data());
	Check(line.compare(0, kept, buf.data()) == 0);
	for (std::size_t i = kept; i < line.size(); i++)
		Check(IsEnding(line[i]));
	bool allEndings = line.find_first_not_of("\r\n") == std::string::npos;
	Check(allEndings ? kept == line.size() : !IsEnding(line[kept - 1]));
}

// A byte that occurs in neither text, or 0 when every byte does.
char AbsentByte(const std::string &a, const std::string &b)
{
	for (int c = 1; c < 256; c++)
		if (a.find(static_cast<char>(c)) == std::string::npos &&
		    b.find(static_cast<char>(c)) == std::string::npos)
			return static_cast<char>(c);
	return 0;
}

// Replacing the token by a byte the text lacks and back restores the text;
// a replacement that does not fit leaves the buffer as it was.
void CheckReplace(const std::string &line, const std::string &token, const std::string &value)
{
	std::vector<char> buf(kLineMax, '\0');
	memcpy(buf.data(), line.data(), line.size());
	if (!StrReplace(buf.data(), kLineMax, token.c_str(), value.c_str())) {
		Check(line == buf.data());
		return;
	}
	char u = AbsentByte(line, token);
	if (u == 0)
		return;
	const char mark[2] = {u, '\0'};
	memcpy(buf.data(), line.c_str(), line.size() + 1);
	Check(StrReplace(buf.data(), kLineMax, token.c_str(), mark) != nullptr);
	Check(StrReplace(buf.data(), kLineMax, mark, token.c_str()) != nullptr);
	Check(line == buf.data());
}

// With values free of '!' and digits, no filled placeholder can remain.
// ExpandParameters replaces only the indices the line holds at their turn:
// it must give what replacing every index in turn gives, values that bring
// in placeholders included.
void CheckCascade(const std::string &line, std::vector<std::string> values)
{
	std::vector<char *> params;
	for (auto &v : values)
		params.push_back(v.data());
	std::vector<char> fast(kLineMax, '\0'), each(kLineMax, '\0');
	memcpy(fast.data(), line.data(), line.size());
	memcpy(each.data(), line.data(), line.size());
	int ok = ExpandParameters(fast.data(), kLineMax, static_cast<int>(params.size()),
	                          params.data());
	bool fits = true;
	for (std::size_t n = 0; n < params.size() && fits; n++)
		fits = StrReplace(each.data(), kLineMax, ("!" + std::to_string(n) + "!").c_str(),
		                  params[n]) != nullptr;
	Check(ok == fits && (!ok || strcmp(fast.data(), each.data()) == 0));
}

void CheckExpand(const std::string &line, std::vector<std::string> values)
{
	std::vector<char *> params;
	for (auto &v : values) {
		for (char &c : v)
			if (c == '!' || (c >= '0' && c <= '9'))
				c = 'x';
		v += 'v';
		params.push_back(v.data());
	}
	std::vector<char> buf(kLineMax, '\0');
	memcpy(buf.data(), line.data(), line.size());
	if (!ExpandParameters(buf.data(), kLineMax, static_cast<int>(params.size()), params.data()))
		return;
	for (std::size_t n = 0; n < params.size(); n++)
		Check(strstr(buf.data(), ("!" + std::to_string(n) + "!").c_str()) == nullptr);
}

std::string Text(FuzzedDataProvider &fdp, std::size_t max)
{
	std::string s = fdp.ConsumeRandomLengthString(max);
	s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
	return s;
}

} // namespace

// The line search gives memmem's answer, on the line and on every suffix
// of it (so that hits fall at every distance from the end).
void CheckFind(const std::string &hay, const std::string &needle)
{
	for (std::size_t from = 0; from <= hay.size(); from += 1 + from / 8) {
		const char *h = hay.data() + from;
		std::size_t n = hay.size() - from;
		Check(FindText(h, n, needle.data(), needle.size()) ==
		      memmem(h, n, needle.data(), needle.size()));
	}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
	FuzzedDataProvider fdp(data, size);
	std::string line = Text(fdp, kPieceMax);
	std::string token = fdp.ConsumeBool()
	                            ? "!" + std::to_string(fdp.ConsumeIntegral<uint8_t>()) + "!"
	                            : Text(fdp, 16);
	if (token.empty())
		token = "!0!";
	std::vector<std::string> values;
	while (values.size() < 12 && fdp.remaining_bytes() > 0)
		values.push_back(Text(fdp, fdp.ConsumeBool() ? 8 : kLineMax));
	CheckTrim(line);
	CheckReplace(line, token, values.empty() ? "" : values[0]);
	CheckExpand(line, values);
	CheckCascade(line, values);
	CheckFind(line, token);
	CheckFind(line, line.substr(line.size() / 3, token.size())); // one that is there
	return 0;
}
