// Reals to JSON text and back (VReal::RealToJSONString, VReal::FromJSONString) against std::to_chars and
// strtod on the same numbers.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "kernel/strings/VString.h"
#include "kernel/values/VReal.h"

namespace {

using velk::VReal;
using velk::VString;

constexpr size_t kCOUNT = 1024;

// What JSON documents carry: whole numbers, prices and measures with a few decimals, and reals of any
// magnitude, in equal parts.
const std::vector<double>& Numbers()
{
	static const std::vector<double> numbers = [] {
		std::mt19937_64 random(42);
		std::uniform_int_distribution<int64_t> whole(-1000000, 1000000);
		std::uniform_int_distribution<int64_t> cents(0, 10000000);
		std::uniform_real_distribution<double> exponent(-20.0, 20.0);
		std::vector<double> values;
		values.reserve(kCOUNT);
		for (size_t i = 0; i < kCOUNT; ++i)
		{
			switch (i % 3)
			{
				case 0:
					values.push_back(double(whole(random)));
					break;
				case 1:
					values.push_back(double(cents(random)) / 100.0);
					break;
				default:
					values.push_back(std::pow(10.0, exponent(random)) * (i % 2 == 0 ? 1 : -1));
					break;
			}
		}
		return values;
	}();
	return numbers;
}

// The JSON texts of the numbers, as the toolbox writes them.
const std::vector<std::string>& Texts()
{
	static const std::vector<std::string> texts = [] {
		std::vector<std::string> result;
		VString text;
		for (const double value : Numbers())
		{
			VReal::RealToJSONString(value, text);
			std::string narrow;
			for (velk::int32 i = 0; i < text.GetLength(); ++i)
				narrow += char(text.GetCPointer()[i]);
			result.push_back(narrow);
		}
		return result;
	}();
	return texts;
}

void BM_VReal_RealToJSONString(benchmark::State& state)
{
	const std::vector<double>& numbers = Numbers();
	VString text;
	for (auto _ : state)
	{
		for (const double value : numbers)
		{
			VReal::RealToJSONString(value, text);
			benchmark::DoNotOptimize(text.GetCPointer());
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(numbers.size()));
}
BENCHMARK(BM_VReal_RealToJSONString);

// The same 14-digit form without a string object.
void BM_to_chars_Precision14(benchmark::State& state)
{
	const std::vector<double>& numbers = Numbers();
	char buffer[64];
	for (auto _ : state)
	{
		for (const double value : numbers)
		{
			const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::general, 14);
			benchmark::DoNotOptimize(r.ptr);
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(numbers.size()));
}
BENCHMARK(BM_to_chars_Precision14);

// The shortest text that reads back exactly, what a plain JSON writer would use.
void BM_to_chars_Shortest(benchmark::State& state)
{
	const std::vector<double>& numbers = Numbers();
	char buffer[64];
	for (auto _ : state)
	{
		for (const double value : numbers)
		{
			const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof(buffer), value);
			benchmark::DoNotOptimize(r.ptr);
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(numbers.size()));
}
BENCHMARK(BM_to_chars_Shortest);

void BM_VReal_FromJSONString(benchmark::State& state)
{
	std::vector<VString> texts;
	for (const std::string& text : Texts())
		texts.emplace_back(text.c_str());
	VReal value;
	for (auto _ : state)
	{
		for (const VString& text : texts)
		{
			value.FromJSONString(text);
			benchmark::DoNotOptimize(value.Get());
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(texts.size()));
}
BENCHMARK(BM_VReal_FromJSONString);

void BM_strtod(benchmark::State& state)
{
	const std::vector<std::string>& texts = Texts();
	for (auto _ : state)
	{
		for (const std::string& text : texts)
		{
			char* end = nullptr;
			const double value = std::strtod(text.c_str(), &end);
			benchmark::DoNotOptimize(value);
			benchmark::DoNotOptimize(end);
		}
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(texts.size()));
}
BENCHMARK(BM_strtod);

}  // namespace
