// JSON text to a tree, a tree to compact text and the release of a parsed tree on the shared workloads
// (twitter, citm_catalog, canada), side by side with RapidJSON, nlohmann/json, simdjson and jsoncpp; and
// property lookup, insertion and removal in objects of 10, 1,000 and 100,000 keys. Parsing starts from the
// file's UTF-8 bytes, so ours includes decoding them, as loading a file does; each parse row also shows the
// most heap one parse held at once ("peak_mem", the parsed tree included). Throughput counts the file's
// bytes for every library.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <json/json.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include "JSONMemoryMeter.h"
#include "JSONWorkloads.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"

namespace {

using velk::VJSONObject;
using velk::VJSONValue;
using velk::VString;

bool ParseOurs(const std::string& bytes, VJSONValue& value)
{
	VString text;
	velk::VTextConverters::Get()->ConvertToVString(bytes.data(), bytes.size(), 7, text);
	return value.ParseFromString(text) == 0;
}

void BM_Velk_Parse(benchmark::State& state, const std::string& bytes)
{
	for (auto _ : state)
	{
		VJSONValue value;
		if (!ParseOurs(bytes, value))
		{
			state.SkipWithError("the text parser refused the workload");
			break;
		}
		benchmark::DoNotOptimize(value);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
	velk::bench::ReportPeakMemory(state, [&] {
		VJSONValue value;
		ParseOurs(bytes, value);
	});
}

// Freeing a parsed tree: the time from dropping the last reference to the root until every container and
// string is gone.
void BM_Velk_Release(benchmark::State& state, const std::string& bytes)
{
	for (auto _ : state)
	{
		VJSONValue value;
		if (!ParseOurs(bytes, value))
		{
			state.SkipWithError("the text parser refused the workload");
			break;
		}
		const auto start = std::chrono::steady_clock::now();
		value.SetUndefined();
		state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_Velk_Write(benchmark::State& state, const std::string& bytes)
{
	VJSONValue value;
	if (!ParseOurs(bytes, value))
	{
		state.SkipWithError("the text parser refused the workload");
		return;
	}
	for (auto _ : state)
	{
		VString text;
		// Quoted names and strings: the text a reader of JSON expects.
		if (value.Stringify(text, VString::kJSON_WITH_QUOTES) != 0)
		{
			state.SkipWithError("the text writer refused the workload");
			break;
		}
		benchmark::DoNotOptimize(text);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_RapidJSON_Parse(benchmark::State& state, const std::string& bytes)
{
	for (auto _ : state)
	{
		rapidjson::Document document;
		document.Parse(bytes.c_str(), bytes.size());
		benchmark::DoNotOptimize(document.HasParseError());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
	velk::bench::ReportPeakMemory(state, [&] {
		rapidjson::Document document;
		document.Parse(bytes.c_str(), bytes.size());
		benchmark::DoNotOptimize(document.HasParseError());
	});
}

void BM_RapidJSON_Release(benchmark::State& state, const std::string& bytes)
{
	for (auto _ : state)
	{
		auto document = std::make_unique<rapidjson::Document>();
		document->Parse(bytes.c_str(), bytes.size());
		const auto start = std::chrono::steady_clock::now();
		document.reset();
		state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_RapidJSON_Write(benchmark::State& state, const std::string& bytes)
{
	rapidjson::Document document;
	document.Parse(bytes.c_str(), bytes.size());
	for (auto _ : state)
	{
		rapidjson::StringBuffer buffer;
		rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
		document.Accept(writer);
		benchmark::DoNotOptimize(buffer.GetString());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_Nlohmann_Parse(benchmark::State& state, const std::string& bytes)
{
	for (auto _ : state)
		benchmark::DoNotOptimize(nlohmann::json::parse(bytes, nullptr, false));
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
	velk::bench::ReportPeakMemory(state, [&] { benchmark::DoNotOptimize(nlohmann::json::parse(bytes, nullptr, false)); });
}

void BM_Nlohmann_Release(benchmark::State& state, const std::string& bytes)
{
	for (auto _ : state)
	{
		auto document = std::make_unique<nlohmann::json>(nlohmann::json::parse(bytes, nullptr, false));
		const auto start = std::chrono::steady_clock::now();
		document.reset();
		state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_Nlohmann_Write(benchmark::State& state, const std::string& bytes)
{
	const nlohmann::json document = nlohmann::json::parse(bytes, nullptr, false);
	for (auto _ : state)
		benchmark::DoNotOptimize(document.dump());
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_Simdjson_Parse(benchmark::State& state, const std::string& bytes)
{
	const simdjson::padded_string padded(bytes);
	simdjson::dom::parser parser;
	for (auto _ : state)
	{
		simdjson::dom::element root;
		benchmark::DoNotOptimize(parser.parse(padded).get(root));
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
	// A fresh parser: its buffers are part of what one parse holds.
	velk::bench::ReportPeakMemory(state, [&] {
		simdjson::dom::parser fresh;
		simdjson::dom::element root;
		benchmark::DoNotOptimize(fresh.parse(padded).get(root));
	});
}

void BM_Simdjson_Write(benchmark::State& state, const std::string& bytes)
{
	const simdjson::padded_string padded(bytes);
	simdjson::dom::parser parser;
	simdjson::dom::element root;
	if (parser.parse(padded).get(root) != simdjson::SUCCESS)
	{
		state.SkipWithError("simdjson refused the workload");
		return;
	}
	for (auto _ : state)
		benchmark::DoNotOptimize(simdjson::to_string(root));
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_Jsoncpp_Parse(benchmark::State& state, const std::string& bytes)
{
	Json::CharReaderBuilder builder;
	const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
	for (auto _ : state)
	{
		Json::Value root;
		std::string errors;
		benchmark::DoNotOptimize(reader->parse(bytes.data(), bytes.data() + bytes.size(), &root, &errors));
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
	velk::bench::ReportPeakMemory(state, [&] {
		Json::Value root;
		std::string errors;
		benchmark::DoNotOptimize(reader->parse(bytes.data(), bytes.data() + bytes.size(), &root, &errors));
	});
}

void BM_Jsoncpp_Write(benchmark::State& state, const std::string& bytes)
{
	Json::CharReaderBuilder reading;
	const std::unique_ptr<Json::CharReader> reader(reading.newCharReader());
	Json::Value root;
	std::string errors;
	reader->parse(bytes.data(), bytes.data() + bytes.size(), &root, &errors);
	Json::StreamWriterBuilder writing;
	writing["indentation"] = "";
	for (auto _ : state)
		benchmark::DoNotOptimize(Json::writeString(writing, root));
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

// Registers the text benchmarks of every workload found; none when the shared data is absent.
const bool sRegistered = velk::bench::RegisterJSONWorkloads({"twitter", "citm_catalog", "canada"}, {
	{"Velk_Parse", BM_Velk_Parse},         {"RapidJSON_Parse", BM_RapidJSON_Parse},
	{"Nlohmann_Parse", BM_Nlohmann_Parse}, {"Simdjson_Parse", BM_Simdjson_Parse},
	{"Jsoncpp_Parse", BM_Jsoncpp_Parse},   {"Velk_Write", BM_Velk_Write},
	{"RapidJSON_Write", BM_RapidJSON_Write}, {"Nlohmann_Write", BM_Nlohmann_Write},
	{"Simdjson_Write", BM_Simdjson_Write}, {"Jsoncpp_Write", BM_Jsoncpp_Write},
});
// Releases are timed by hand: only the freeing counts, not the parse that makes each tree.
const bool sReleaseRegistered = velk::bench::RegisterJSONWorkloads({"twitter", "citm_catalog", "canada"}, {
	{"Velk_Release", BM_Velk_Release}, {"RapidJSON_Release", BM_RapidJSON_Release},
	{"Nlohmann_Release", BM_Nlohmann_Release},
}, true);

// Property names "key0", "key1"... of an object of `count` keys.
std::vector<VString> MakeNames(int64_t count)
{
	std::vector<VString> names;
	names.reserve(size_t(count));
	for (int64_t i = 0; i < count; ++i)
		names.emplace_back(("key" + std::to_string(i)).c_str());
	return names;
}

VJSONObject* MakeObject(const std::vector<VString>& names)
{
	VJSONObject* object = new VJSONObject(nullptr, nullptr, false);
	for (size_t i = 0; i < names.size(); ++i)
		object->SetProperty(names[i], VJSONValue(double(i)));
	return object;
}

void BM_JSONObject_Lookup(benchmark::State& state)
{
	const std::vector<VString> names = MakeNames(state.range(0));
	VJSONObject* object = MakeObject(names);
	for (auto _ : state)
	{
		for (const VString& name : names)
			benchmark::DoNotOptimize(object->GetProperty(name));
	}
	object->Release();
	state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_JSONObject_Lookup)->Arg(10)->Arg(1000)->Arg(100000);

void BM_JSONObject_Insert(benchmark::State& state)
{
	const std::vector<VString> names = MakeNames(state.range(0));
	for (auto _ : state)
	{
		VJSONObject* object = MakeObject(names);
		benchmark::DoNotOptimize(object->GetPropertyCount());
		object->Release();
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_JSONObject_Insert)->Arg(10)->Arg(1000)->Arg(100000);

void BM_JSONObject_Remove(benchmark::State& state)
{
	const std::vector<VString> names = MakeNames(state.range(0));
	for (auto _ : state)
	{
		state.PauseTiming();
		VJSONObject* object = MakeObject(names);
		state.ResumeTiming();
		for (const VString& name : names)
			object->RemoveProperty(name);
		benchmark::DoNotOptimize(object->GetPropertyCount());
		state.PauseTiming();
		object->Release();
		state.ResumeTiming();
	}
	state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_JSONObject_Remove)->Arg(10)->Arg(1000)->Arg(100000);

}  // namespace
