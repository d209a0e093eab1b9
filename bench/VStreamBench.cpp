// Reading a 50 MB UTF-8 text line by line into UTF-16: the stream's GetTextLine against std::getline with
// ICU's u_strFromUTF8 on each line. The text is made in memory: lines of 5 to 20 words, mostly ASCII with
// accented Latin and some CJK.
#include <benchmark/benchmark.h>

#include <unicode/ustring.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <sstream>
#include <string>

#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VStream.h"

namespace {

using namespace velk;

constexpr size_t kTextBytes = 50u << 20;

const std::string& Text()
{
	static const std::string text = [] {
		static const char* const kWords[] = {"the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog,", "d\xC3\xA9j\xC3\xA0",
											 "caf\xC3\xA9", "\xC3\xBC" "ber", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "42", "and"};
		std::mt19937 random(7);
		std::uniform_int_distribution<int> pickWord(0, int(std::size(kWords)) - 1);
		std::uniform_int_distribution<int> pickCount(5, 20);
		std::string out;
		out.reserve(kTextBytes + 256);
		while (out.size() < kTextBytes)
		{
			const int count = pickCount(random);
			for (int i = 0; i < count; ++i)
			{
				if (i > 0)
					out += ' ';
				out += kWords[pickWord(random)];
			}
			out += '\n';
		}
		return out;
	}();
	return text;
}

// A read-only stream over bytes in memory.
class StBytesStream : public VStream
{
public:
	explicit StBytesStream(const std::string& bytes) : fBytes(bytes) {}

protected:
	VError DoPutData(const void*, size_t) override { return VE_STREAM_NOT_OPENED_FOR_WRITING; }
	VError DoGetData(void* buffer, size_t* ioCount) override
	{
		const size_t pos = size_t(GetPos());
		const size_t left = pos < fBytes.size() ? fBytes.size() - pos : 0;
		const size_t count = std::min(*ioCount, left);
		std::memcpy(buffer, fBytes.data() + pos, count);
		const bool shortRead = count < *ioCount;
		*ioCount = count;
		return shortRead ? VE_STREAM_EOF : VE_OK;
	}
	int64 DoGetSize() override { return int64(fBytes.size()); }
	VError DoSetSize(int64) override { return VE_STREAM_NOT_OPENED_FOR_WRITING; }

private:
	const std::string& fBytes;
};

void BM_VStreamGetTextLine(benchmark::State& state)
{
	const std::string& text = Text();
	for (auto _ : state)
	{
		StBytesStream stream(text);
		stream.SetCharSet(kCharSet_UTF8);
		stream.OpenReading();
		VString line;
		int64 units = 0;
		while (stream.GetTextLine(line) == VE_OK)
			units += line.GetLength();
		stream.CloseReading();
		benchmark::DoNotOptimize(units);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_VStreamGetTextLine)->Unit(benchmark::kMillisecond);

void BM_StdGetlineICU(benchmark::State& state)
{
	const std::string& text = Text();
	for (auto _ : state)
	{
		std::istringstream input(text);
		std::string line;
		std::u16string units(256, u'\0');
		int64_t total = 0;
		while (std::getline(input, line))
		{
			if (units.size() < line.size() + 1)
				units.resize(line.size() + 1);
			int32_t length = 0;
			UErrorCode status = U_ZERO_ERROR;
			u_strFromUTF8(reinterpret_cast<UChar*>(units.data()), int32_t(units.size()), &length, line.data(), int32_t(line.size()), &status);
			total += length;
		}
		benchmark::DoNotOptimize(total);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_StdGetlineICU)->Unit(benchmark::kMillisecond);

}  // namespace
