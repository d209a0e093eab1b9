// Binary JSON on the shared workloads (citm_catalog, twitter): our binary form written from and read into a
// tree, side by side with nlohmann/json's CBOR and MessagePack on the same documents, and with our own text
// round trip (Stringify, then parse). Throughput counts the JSON text's bytes for every case, so the rows
// compare as work done on the same document.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "JSONWorkloads.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/json/VJSONBinaryImporter.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"

namespace {

using velk::VJSONBinaryImporter;
using velk::VJSONBinaryWriter;
using velk::VJSONValue;
using velk::VString;

const char* const kWorkloads[] = {"citm_catalog", "twitter"};

// One workload in every form the cases start from.
struct Workload
{
	std::string fText;
	VJSONValue fTree;
	std::vector<uint8_t> fBinary;
	nlohmann::json fDocument;
	std::vector<uint8_t> fCBOR;
	std::vector<uint8_t> fMsgPack;
};

bool WriteBinary(const VJSONValue& tree, VJSONBinaryWriter::Buffer& buffer)
{
	VJSONBinaryWriter writer(0);
	return writer.StreamValue(tree, buffer) == 0;
}

std::shared_ptr<const Workload> LoadWorkload(const char* name)
{
	auto workload = std::make_shared<Workload>();
	workload->fText = velk::bench::ReadJSONWorkload(name);
	if (workload->fText.empty())
		return nullptr;
	VString text;
	velk::VTextConverters::Get()->ConvertToVString(workload->fText.data(), workload->fText.size(), 7, text);
	if (workload->fTree.ParseFromString(text) != 0)
		return nullptr;
	VJSONBinaryWriter::Buffer buffer;
	if (!WriteBinary(workload->fTree, buffer))
		return nullptr;
	workload->fBinary.assign(buffer.GetDataPtr(), buffer.GetDataPtr() + buffer.GetDataSize());
	workload->fDocument = nlohmann::json::parse(workload->fText, nullptr, false);
	workload->fCBOR = nlohmann::json::to_cbor(workload->fDocument);
	workload->fMsgPack = nlohmann::json::to_msgpack(workload->fDocument);
	return workload;
}

void BM_Velk_BinaryWrite(benchmark::State& state, const Workload& workload)
{
	for (auto _ : state)
	{
		VJSONBinaryWriter::Buffer buffer;
		if (!WriteBinary(workload.fTree, buffer))
		{
			state.SkipWithError("the binary writer refused the workload");
			break;
		}
		benchmark::DoNotOptimize(buffer.GetDataPtr());
	}
}

void BM_Velk_BinaryRead(benchmark::State& state, const Workload& workload)
{
	for (auto _ : state)
	{
		VJSONValue tree;
		VJSONBinaryImporter importer(workload.fBinary.data(), workload.fBinary.size());
		if (importer.GetValue(tree) != 0)
		{
			state.SkipWithError("the binary reader refused the workload");
			break;
		}
		benchmark::DoNotOptimize(tree);
	}
}

void BM_Velk_BinaryRoundTrip(benchmark::State& state, const Workload& workload)
{
	for (auto _ : state)
	{
		VJSONBinaryWriter::Buffer buffer;
		VJSONValue tree;
		if (!WriteBinary(workload.fTree, buffer)
			|| VJSONBinaryImporter(buffer.GetDataPtr(), size_t(buffer.GetDataSize())).GetValue(tree) != 0)
		{
			state.SkipWithError("the binary form refused the workload");
			break;
		}
		benchmark::DoNotOptimize(tree);
	}
}

void BM_Velk_TextRoundTrip(benchmark::State& state, const Workload& workload)
{
	for (auto _ : state)
	{
		VString text;
		VJSONValue tree;
		if (workload.fTree.Stringify(text, VString::kJSON_WITH_QUOTES) != 0 || tree.ParseFromString(text) != 0)
		{
			state.SkipWithError("the text form refused the workload");
			break;
		}
		benchmark::DoNotOptimize(tree);
	}
}

void BM_Nlohmann_CBORWrite(benchmark::State& state, const Workload& workload)
{
	for (auto _ : state)
		benchmark::DoNotOptimize(nlohmann::json::to_cbor(workload.fDocument));
}

void BM_Nlohmann_CBORRead(benchmark::State& state, const Workload& workload)
{
	for (auto _ : state)
		benchmark::DoNotOptimize(nlohmann::json::from_cbor(workload.fCBOR));
}

void BM_Nlohmann_CBORRoundTrip(benchmark::State& state, const Workload& workload)
{
	for (auto _ : state)
		benchmark::DoNotOptimize(nlohmann::json::from_cbor(nlohmann::json::to_cbor(workload.fDocument)));
}

void BM_Nlohmann_MsgPackWrite(benchmark::State& state, const Workload& workload)
{
	for (auto _ : state)
		benchmark::DoNotOptimize(nlohmann::json::to_msgpack(workload.fDocument));
}

void BM_Nlohmann_MsgPackRead(benchmark::State& state, const Workload& workload)
{
	for (auto _ : state)
		benchmark::DoNotOptimize(nlohmann::json::from_msgpack(workload.fMsgPack));
}

void BM_Nlohmann_MsgPackRoundTrip(benchmark::State& state, const Workload& workload)
{
	for (auto _ : state)
		benchmark::DoNotOptimize(nlohmann::json::from_msgpack(nlohmann::json::to_msgpack(workload.fDocument)));
}

// Registers the cases of every workload found; none when the shared data is absent.
const bool sRegistered = [] {
	using Runner = void (*)(benchmark::State&, const Workload&);
	const std::pair<const char*, Runner> runners[] = {
		{"Velk_Write", BM_Velk_BinaryWrite},
		{"Velk_Read", BM_Velk_BinaryRead},
		{"Velk_RoundTrip", BM_Velk_BinaryRoundTrip},
		{"Velk_TextRoundTrip", BM_Velk_TextRoundTrip},
		{"NlohmannCBOR_Write", BM_Nlohmann_CBORWrite},
		{"NlohmannCBOR_Read", BM_Nlohmann_CBORRead},
		{"NlohmannCBOR_RoundTrip", BM_Nlohmann_CBORRoundTrip},
		{"NlohmannMsgPack_Write", BM_Nlohmann_MsgPackWrite},
		{"NlohmannMsgPack_Read", BM_Nlohmann_MsgPackRead},
		{"NlohmannMsgPack_RoundTrip", BM_Nlohmann_MsgPackRoundTrip},
	};
	for (const char* name : kWorkloads)
	{
		const std::shared_ptr<const Workload> workload = LoadWorkload(name);
		if (!workload)
			continue;
		for (const auto& [caseName, runner] : runners)
		{
			benchmark::RegisterBenchmark((std::string("BM_BinaryJSON_") + caseName + "/" + name).c_str(),
				[workload, run = runner](benchmark::State& state) {
					run(state, *workload);
					state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(workload->fText.size()));
				})
				->Unit(benchmark::kMillisecond);
		}
	}
	return true;
}();

}  // namespace
