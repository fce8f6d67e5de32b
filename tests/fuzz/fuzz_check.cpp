// Fuzzes the check of an edit: a text, one change in it, and the ways the
// edit may hand the texts over. Whatever the chunks the bytes come in, the
// verdict is the same; and an edit that writes back the bytes it drops
// brings no fault, however the texts are read apart.
#include "Check.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

namespace {

void Check(bool ok)
{
	if (!ok)
		abort();
}

// Hands text over in chunks whose lengths the fuzzer picks.
void InChunks(FuzzedDataProvider *in, void (*feed)(const char *, std::size_t), const std::string &text)
{
	std::size_t at = 0;
	while (at < text.size()) {
		std::size_t n = in->ConsumeIntegralInRange<std::size_t>(1, text.size() - at);
		feed(text.data() + at, n);
		at += n;
	}
}

// The verdict on old with [from, to) replaced by written: handed over
// whole, or in chunks when in is given.
std::string Verdict(const std::string &old, std::size_t from, std::size_t to,
                    const std::string &written, FuzzedDataProvider *in)
{
	std::string before = old.substr(0, from), dropped = old.substr(from, to - from),
	            after = old.substr(to);
	CheckStart();
	if (in) {
		InChunks(in, CheckShared, before);
		InChunks(in, CheckDropped, dropped);
		InChunks(in, CheckWritten, written);
		InChunks(in, CheckShared, after);
	} else {
		CheckShared(before.data(), before.size());
		CheckDropped(dropped.data(), dropped.size());
		CheckWritten(written.data(), written.size());
		CheckShared(after.data(), after.size());
	}
	const char *fault = CheckEnd();
	return fault ? fault : "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)
{
	FuzzedDataProvider in(data, size);
	std::string written = in.ConsumeRandomLengthString(512);
	std::size_t a = in.ConsumeIntegral<std::uint16_t>();
	std::size_t b = in.ConsumeIntegral<std::uint16_t>();
	std::string old = in.ConsumeRandomLengthString(1 << 16);
	a = old.empty() ? 0 : a % (old.size() + 1);
	b = old.empty() ? 0 : b % (old.size() + 1);
	if (a > b)
		std::swap(a, b);
	std::string whole = Verdict(old, a, b, written, nullptr);
	Check(Verdict(old, a, b, written, &in) == whole);
	Check(Verdict(old, a, b, old.substr(a, b - a), nullptr).empty());
	return 0;
}
