// Number text: radix digits checked against independent conversions, the packed-decimal conversion on
// hand-built numbers, the denormal flag, and texts that stay the same under a comma locale.
#include "kernel/values/VNumberText.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kernel/strings/VString.h"
#include "kernel/values/VReal.h"

#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace velk {
namespace {

constexpr size_t kROOM = 2200;

std::string Radix(double value, int radix)
{
	char buffer[kROOM];
	const size_t length = v8import::DoubleToRadixString(value, radix, buffer, sizeof(buffer));
	return std::string(buffer, length);
}

// The exact digits of a double in radix 2^bits, from its mantissa and exponent: digit d covers the bit
// positions d * bits to d * bits + bits - 1 of m x 2^e.
std::string PowerOfTwoDigits(double value, int bits)
{
	int exponent;
	const double fraction = std::frexp(std::fabs(value), &exponent);
	const uint64 mantissa = uint64(std::ldexp(fraction, 53));
	const int low = exponent - 53;
	const int high = low + 52;
	auto floorDiv = [](int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
	auto bit = [&](int position) {
		const int index = position - low;
		return index >= 0 && index < 53 ? int((mantissa >> index) & 1) : 0;
	};
	std::string text = value < 0 ? "-" : "";
	const int top = std::max(floorDiv(high, bits), 0);
	const int bottom = std::min(floorDiv(low, bits), 0);
	for (int d = top; d >= bottom; --d)
	{
		if (d == -1)
			text += '.';
		int digit = 0;
		for (int k = bits - 1; k >= 0; --k)
			digit = digit * 2 + bit(d * bits + k);
		text += "0123456789abcdef"[digit];
	}
	while (text.find('.') != std::string::npos && (text.back() == '0' || text.back() == '.'))
		text.pop_back();
	return text;
}

// Digits of a whole number by repeated division.
std::string IntegerDigits(uint64 value, int radix)
{
	std::string text;
	do
	{
		text.insert(text.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[value % uint64(radix)]);
		value /= uint64(radix);
	} while (value != 0);
	return text;
}

TEST(VNumberTextTest, PowerOfTwoRadixesGiveTheExactDigits)
{
	std::mt19937_64 random(7);
	std::uniform_int_distribution<uint64> mantissa(0, (uint64(1) << 52) - 1);
	std::uniform_int_distribution<int> exponent(-70, 60);
	for (int i = 0; i < 3000; ++i)
	{
		const double value = std::ldexp(double((uint64(1) << 52) | mantissa(random)), exponent(random) - 52) * (i % 3 == 0 ? -1 : 1);
		SCOPED_TRACE(testing::Message() << std::hexfloat << value);
		const std::string binary = Radix(value, 2);
		EXPECT_EQ(binary, PowerOfTwoDigits(value, 1));
		const std::string hex = Radix(value, 16);
		EXPECT_EQ(hex, PowerOfTwoDigits(value, 4));
		// strtod reads hexadecimal text too: the digits read back to the same double.
		const std::string prefixed = (value < 0 ? "-0x" : "0x") + hex.substr(value < 0 ? 1 : 0);
		EXPECT_EQ(std::strtod(prefixed.c_str(), nullptr), value) << prefixed;
	}
	// The extremes of the range.
	EXPECT_EQ(Radix(std::numeric_limits<double>::denorm_min(), 2), "0." + std::string(1073, '0') + "1");
	EXPECT_EQ(Radix(DBL_MAX, 2), std::string(53, '1') + std::string(971, '0'));
	EXPECT_EQ(Radix(-DBL_MAX, 16), "-" + std::string(13, 'f') + "8" + std::string(242, '0'));
}

TEST(VNumberTextTest, WholeNumbersInEveryRadix)
{
	std::mt19937_64 random(11);
	std::uniform_int_distribution<uint64> whole(0, (uint64(1) << 53) - 1);
	for (int radix = 2; radix <= 36; ++radix)
	{
		for (int i = 0; i < 200; ++i)
		{
			const uint64 value = i < 3 ? uint64(i) : whole(random) >> (i % 50);
			ASSERT_EQ(Radix(double(value), radix), IntegerDigits(value, radix)) << value << " in radix " << radix;
		}
		EXPECT_EQ(Radix(-double(radix), radix), "-10");
	}
}

// Decimal digits of any real read back to the same double, with or without an exponent.
TEST(VNumberTextTest, DecimalDigitsReadBack)
{
	std::mt19937_64 random(13);
	std::uniform_real_distribution<double> exponent(-323.0, 308.0);
	for (int i = 0; i < 5000; ++i)
	{
		const double value = std::pow(10.0, exponent(random)) * (i % 2 == 0 ? 1 : -1);
		const std::string text = Radix(value, 10);
		ASSERT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
		const std::string shown = [&] {
			std::string narrow;
			const VString s = VReal(value).ToString(10);
			for (int32 k = 0; k < s.GetLength(); ++k)
				narrow += char(s.GetCPointer()[k]);
			return narrow;
		}();
		ASSERT_EQ(std::strtod(shown.c_str(), nullptr), value) << shown;
	}
}

TEST(VNumberTextTest, SmallBuffersAreNeverOverrun)
{
	for (const size_t size : {size_t(2), size_t(3), size_t(8), size_t(40)})
	{
		std::vector<char> buffer(size + 8, '#');
		const size_t length = v8import::DoubleToRadixString(-1234.0625, 2, buffer.data(), size);
		EXPECT_LE(length, size);
		for (size_t i = size; i < buffer.size(); ++i)
			EXPECT_EQ(buffer[i], '#') << size;
	}
	char buffer[8];
	EXPECT_EQ(v8import::DoubleToRadixString(1.0, 37, buffer, sizeof(buffer)), 0u);
	EXPECT_EQ(v8import::DoubleToRadixString(1.0, 10, nullptr, 8), 0u);
	EXPECT_EQ(v8import::DoubleToRadixString(1.0, 10, buffer, 1), 0u);
	EXPECT_EQ(Radix(-std::numeric_limits<double>::infinity(), 10), "-INF");
}

#if defined(__x86_64__) || defined(__i386__)
TEST(VNumberTextTest, FlushDenormalsFollowsTheControlRegister)
{
	const unsigned int saved = _mm_getcsr();
	_mm_setcsr(saved & ~0x8040u);
	EXPECT_FALSE(v8import::GetFlushDenormals());
	// DBL_MIN's neighbour is a denormal away: without flushing its fraction digits are written.
	EXPECT_GT(Radix(DBL_MIN, 2).size(), 1000u);
	_mm_setcsr((saved & ~0x8040u) | 0x8000u);
	EXPECT_TRUE(v8import::GetFlushDenormals());
	const std::string flushed = Radix(DBL_MIN, 2);
	_mm_setcsr((saved & ~0x8040u) | 0x0040u);
	EXPECT_TRUE(v8import::GetFlushDenormals());
	_mm_setcsr(saved);
	// With denormals flushed the distance to the neighbour is 0: no fraction digits at all.
	EXPECT_EQ(flushed, "0");
}
#endif

std::vector<uint8> Packed(int32 exponent, uint8 sign, int32 count, std::vector<uint8> pairs)
{
	// One byte in front, so that nothing is read aligned.
	std::vector<uint8> bytes(1 + 9 + pairs.size() + 1, 0xEE);
	std::memcpy(bytes.data() + 1, &exponent, 4);
	bytes[5] = sign;
	std::memcpy(bytes.data() + 6, &count, 4);
	if (!pairs.empty())
		std::memcpy(bytes.data() + 10, pairs.data(), pairs.size());
	return bytes;
}

TEST(VNumberTextTest, PackedDecimalNumbers)
{
	struct Row
	{
		int32 exponent;
		uint8 sign;
		int32 count;
		std::vector<uint8> pairs;
		double expected;
	};
	const Row rows[] = {
		{2, 1, 3, {12, 30}, 12.3},
		{2, 0xFF, 3, {12, 30}, -12.3},
		{3, 0x7F, 4, {31, 41}, 314.1},
		{1, 1, 1, {70}, 7.0},
		{-2, 1, 2, {25}, 0.0025},
		{0, 0, 5, {99, 99, 99}, 0.0},
		{1, 1, 17, {31, 41, 59, 26, 53, 58, 97, 93, 20}, 3.1415926535897932},
		{400, 1, 1, {10}, std::numeric_limits<double>::infinity()},
		{-400, 0xFF, 1, {10}, -0.0},
		{1, 1, 0, {}, 0.0},
		{1, 1, -5, {}, 0.0},
		{1, 1, 2, {100}, 0.0},
		{1, 1, 4, {12, 255}, 0.0},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(&row - rows);
		const std::vector<uint8> packed = Packed(row.exponent, row.sign, row.count, row.pairs);
		const double result = MAPM_FloatToReal(packed.data() + 1);
		EXPECT_EQ(result, row.expected);
		EXPECT_EQ(std::signbit(result), std::signbit(row.expected));
	}

	// 1 + 2^-53 lies exactly between two doubles; a non-zero digit far behind it decides for the upper
	// one, however many digits come before it.
	const std::string half = "100000000000000011102230246251565404236316680908203125";
	for (const size_t zeros : {size_t(100), size_t(900)})
	{
		std::string digits = half + std::string(zeros, '0') + "1";
		if (digits.size() % 2 != 0)
			digits += '0';
		std::vector<uint8> pairs;
		for (size_t i = 0; i < digits.size(); i += 2)
			pairs.push_back(uint8((digits[i] - '0') * 10 + (digits[i + 1] - '0')));
		const std::vector<uint8> packed = Packed(1, 1, int32(digits.size()), pairs);
		EXPECT_EQ(MAPM_FloatToReal(packed.data() + 1), 1.0 + DBL_EPSILON) << zeros;
	}
}

// The digit tables are filled by whichever call comes first; every thread must see them filled.
TEST(VNumberTextTest, PackedDecimalsFromSeveralThreadsAtOnce)
{
	const std::vector<uint8> packed = Packed(5, 1, 6, {98, 76, 54});
	std::vector<std::thread> threads;
	std::vector<double> results(8, 0.0);
	for (size_t i = 0; i < results.size(); ++i)
		threads.emplace_back([&, i] { results[i] = MAPM_FloatToReal(packed.data() + 1); });
	for (std::thread& thread : threads)
		thread.join();
	for (const double result : results)
		EXPECT_EQ(result, 98765.4);
}

// Switches the process to a locale whose decimal point is a comma for the scope: an installed one, or one
// built with localedef into a temporary folder.
class StCommaLocale
{
public:
	StCommaLocale()
	{
		const char* current = std::setlocale(LC_ALL, nullptr);
		fSaved = current != nullptr ? current : "C";
		for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
		{
			if (_Use(name))
				return;
		}
		std::error_code error;
		fFolder = std::filesystem::temp_directory_path(error) / ("velk-comma-locale-" + std::to_string(::getpid()));
		if (error || !std::filesystem::create_directories(fFolder, error))
			return;
		const std::string command = "localedef -i de_DE -f UTF-8 '" + (fFolder / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
		if (std::system(command.c_str()) != 0)
			return;
		::setenv("LOCPATH", fFolder.c_str(), 1);
		fLocPathSet = true;
		_Use("de_DE.UTF-8");
	}

	~StCommaLocale()
	{
		std::setlocale(LC_ALL, fSaved.c_str());
		if (fLocPathSet)
			::unsetenv("LOCPATH");
		if (!fFolder.empty())
		{
			std::error_code error;
			std::filesystem::remove_all(fFolder, error);
		}
	}

	bool IsActive() const { return fActive; }

private:
	bool _Use(const char* name)
	{
		if (std::setlocale(LC_ALL, name) == nullptr)
			return false;
		char text[16];
		std::snprintf(text, sizeof(text), "%.1f", 0.5);
		fActive = std::strcmp(text, "0,5") == 0;
		if (!fActive)
			std::setlocale(LC_ALL, fSaved.c_str());
		return fActive;
	}

	std::string fSaved;
	std::filesystem::path fFolder;
	bool fLocPathSet = false;
	bool fActive = false;
};

TEST(VNumberTextTest, TextsIgnoreACommaLocale)
{
	StCommaLocale comma;
	if (!comma.IsActive())
		GTEST_SKIP() << "no locale with a decimal comma is installed and none could be built with localedef";

	VString text;
	VReal::RealToXMLString(0.5, text);
	EXPECT_TRUE(text.EqualToStringRaw(VString("0.5")));
	VReal::RealToJSONString(-1.25e-9, text);
	EXPECT_TRUE(text.EqualToStringRaw(VString("-1.25E-09")));
	char buffer[32];
	VNumberText::FormatG14(1234.5678, buffer);
	EXPECT_STREQ(buffer, "1234.5678");

	VReal value;
	ASSERT_TRUE(value.FromXMLString(VString("2.5")));
	EXPECT_EQ(value.Get(), 2.5);
	ASSERT_TRUE(value.FromXMLString(VString("2,75")));
	EXPECT_EQ(value.Get(), 2.75);
	EXPECT_EQ(VNumberText::Parse("1.5"), 1.5);
	double parsed = 0.0;
	EXPECT_FALSE(VNumberText::ParseWhole("1,5", 3, parsed));

	const VString radix = VReal(123.456).ToString(10);
	EXPECT_TRUE(radix.EqualToStringRaw(VString("123.456")));
	const std::vector<uint8> packed = Packed(2, 1, 3, {12, 30});
	EXPECT_EQ(MAPM_FloatToReal(packed.data() + 1), 12.3);
}

}  // namespace
}  // namespace velk
