// Table tests of the line text primitives: input text in, expected text out.
#include "FindText.h"
#include "PPD.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct TrimCase {
	std::string in, want;
};

TEST(StrTrim, CutsOnlyTrailingLineEnding)
{
	const TrimCase cases[] = {
	        {"abc\r\n", "abc"},     {"abc\n", "abc"},   {"a\n", "a"},     {"abc", "abc"},
	        {"a b \t\n", "a b \t"}, {"xy\n\r\n", "xy"}, {"ab\r", "ab"},   {"\n", "\n"},
	        {"\r\n", "\r\n"},       {"", ""},           {"\na\n", "\na"}, {" \n", " "},
	};
	for (const auto &c : cases) {
		std::string buf = c.in;
		StrTrim(buf.data());
		EXPECT_STREQ(buf.c_str(), c.want.c_str()) << "in: " << c.in;
	}
	StrTrim(nullptr);
}

TEST(StrShift, MovesTailBothWays)
{
	char buf[16] = "abcdef";
	EXPECT_EQ(StrShift(buf + 2, 3), buf + 5);
	EXPECT_STREQ(buf + 5, "cdef");
	EXPECT_EQ(StrShift(buf + 5, -4), buf + 1);
	EXPECT_STREQ(buf, "acdef");
}

struct ReplaceCase {
	std::string text, token, value, want;
};

TEST(StrReplace, ReplacesLeftToRightWithoutRescanning)
{
	const ReplaceCase cases[] = {
	        {"x!0!y!0!", "!0!", "Q", "xQyQ"},     {"x!0!y", "!0!", "!0!", "x!0!y"},
	        {"!0!0!", "!0!", "V", "V0!"},         {"!10!", "!1!", "Z", "!10!"},
	        {"a!0!b", "!0!", "", "ab"},           {"!0!", "!0!", "long value", "long value"},
	        {"no token", "!0!", "v", "no token"}, {"!0!!0!", "!0!", "!0!!0!", "!0!!0!!0!!0!"},
	};
	for (const auto &c : cases) {
		std::vector<char> buf(c.text.begin(), c.text.end());
		buf.resize(kLineMax);
		EXPECT_EQ(StrReplace(buf.data(), kLineMax, c.token.c_str(), c.value.c_str()),
		          buf.data());
		EXPECT_STREQ(buf.data(), c.want.c_str()) << "text: " << c.text;
	}
}

TEST(StrReplace, RefusesWhatWouldNotFitAndLeavesTextAlone)
{
	// Growth by exactly the room left fits; one byte more does not.
	const struct {
		std::size_t textLen, valueLen;
		bool fits;
	} cases[] = {
	        {kLineMax - 1, 3, true},
	        {kLineMax - 1, 4, false},
	        {100, kLineMax - 1 - 97, true},
	        {100, kLineMax - 97, false},
	};
	for (const auto &c : cases) {
		std::string text = "!0!" + std::string(c.textLen - 3, 'a');
		std::vector<char> buf(text.begin(), text.end());
		buf.resize(kLineMax);
		std::string value(c.valueLen, 'v');
		char *got = StrReplace(buf.data(), kLineMax, "!0!", value.c_str());
		EXPECT_EQ(got != nullptr, c.fits) << c.textLen << " + " << c.valueLen;
		EXPECT_EQ(std::string(buf.data()), c.fits ? value + text.substr(3) : text);
	}
}

struct ExpandCase {
	std::string line;
	std::vector<std::string> params;
	std::string want;
};

TEST(ExpandParameters, FillsInIncreasingOrder)
{
	const ExpandCase cases[] = {
	        {"A=!0! B=!1!", {"!1!", "x"}, "A=x B=x"},
	        {"A=!1! B=!0!", {"a", "!0!"}, "A=!0! B=a"},
	        {"!0!!1!!5!", {"a", "b"}, "ab!5!"},
	        {"!0! !1!", {}, "!0! !1!"},
	        {"!0!", {"!0!"}, "!0!"},
	        {"!10!!1!", {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "ten"}, "ten1"},
	        {"!2!!0!", {"!1!", "one", "two"}, "twoone"},
	        {"!1!2!!00!!01!", {"a", "!2!", "c"}, "c2!!00!!01!"},
	};
	for (const auto &c : cases) {
		std::vector<char *> argv;
		for (const auto &p : c.params)
			argv.push_back(const_cast<char *>(p.c_str()));
		std::vector<char> buf(c.line.begin(), c.line.end());
		buf.resize(kLineMax);
		EXPECT_EQ(ExpandParameters(buf.data(), kLineMax, static_cast<int>(argv.size()),
		                           argv.data()),
		          1);
		EXPECT_STREQ(buf.data(), c.want.c_str()) << "line: " << c.line;
	}
}

// The indices between the line's placeholders are passed over, not lost.
TEST(ExpandParameters, ManyParameters)
{
	std::vector<std::string> values;
	for (int n = 0; n < 100000; n++)
		values.push_back("v" + std::to_string(n));
	values[5] = "!99999!";
	std::vector<char *> argv;
	for (auto &v : values)
		argv.push_back(v.data());
	char buf[kLineMax] = "!5! !70000! !100000!";
	EXPECT_EQ(ExpandParameters(buf, kLineMax, static_cast<int>(argv.size()), argv.data()), 1);
	EXPECT_STREQ(buf, "v99999 v70000 !100000!");
}

TEST(ExpandParameters, FailsWhenAnyStepOverflows)
{
	// The first step grows the line past the buffer although the second
	// would shrink it again.
	std::string big(kLineMax, 'x');
	char *params[] = {big.data(), const_cast<char *>("")};
	char buf[kLineMax] = "!0!!1!";
	EXPECT_EQ(ExpandParameters(buf, kLineMax, 2, params), 0);
}

struct FindCase {
	std::string hay, needle;
};

// FindText must give memmem's answer: the first occurrence, wherever it is.
TEST(FindText, AgreesWithMemmem)
{
	const std::string longHay = std::string(100, 'a') + "*Key\n" + std::string(40, 'a');
	const FindCase cases[] = {
	        {"", "x"},
	        {"abc", ""},
	        {"abc", "abcd"},
	        {"x", "x"},
	        {"abcabc", "c"},
	        {"abcabc", "ca"},
	        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "ab"},
	        {"*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*B", "*A*B"},
	        {longHay, "*Key\n"},
	        {longHay, "*Key\r\n"},
	        {std::string(64, 'a') + "b", "ab"},
	        {std::string(64, 'a') + "b", std::string(64, 'a') + "b"},
	        {std::string(48, 'a'), "aa"},
	        {std::string(31, 'z') + std::string(1, '\0') + "*", std::string(1, '\0') + "*"},
	};
	for (const auto &c : cases) {
		const void *want = memmem(c.hay.data(), c.hay.size(), c.needle.data(), c.needle.size());
		EXPECT_EQ(FindText(c.hay.data(), c.hay.size(), c.needle.data(), c.needle.size()), want)
		        << "needle: " << c.needle;
	}
}

// Hits at every place in the last 32 bytes of a block, and every needle
// length up to 40, against the vector steps and the tail that follows them.
TEST(FindText, HitsNearTheEnd)
{
	for (std::size_t m = 1; m <= 40; m++) {
		for (std::size_t at = 0; at + m <= 64; at++) {
			std::string hay(64, '.');
			std::string needle(m, 'n');
			needle[0] = '*';
			hay.replace(at, m, needle);
			const char *got = FindText(hay.data(), hay.size(), needle.data(), m);
			EXPECT_EQ(got, hay.data() + at) << "m " << m << " at " << at;
		}
	}
}

} // namespace
