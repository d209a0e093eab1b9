// The bag's binary form against libplist's binary property lists on the same tree: 10,000 log-like bags of
// 12 attributes (strings, integers, reals and times), every fourth with a list of two error bags, held as
// one list under a root. Writing makes the whole record in memory; reading rebuilds the whole tree and
// frees it again, on both sides.
#include <benchmark/benchmark.h>

#include <plist/plist.h>

#include <cstdint>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VConstPtrStream.h"
#include "kernel/values/VPtrStream.h"
#include "kernel/values/VTime.h"

namespace {

using velk::StPackedDictionaryKey;
using velk::VValueBag;

constexpr int32_t kBAGS = 10000;
// Seconds from 1970 to 2001, where property-list dates start.
constexpr int64_t kPLIST_EPOCH = 978307200;

struct Message
{
	std::string fText;
	std::string fSource;
	std::string fTaskName;
	std::string fHost;
	int64_t fLevel;
	int64_t fSequence;
	int64_t fErrorCode;
	int64_t fTaskID;
	int64_t fSignature;
	double fDuration;
	double fLoad;
	int64_t fTimeMs;  // milliseconds since 1970
};

std::vector<Message> Messages()
{
	std::vector<Message> messages;
	messages.reserve(kBAGS);
	for (int32_t i = 0; i < kBAGS; ++i)
	{
		messages.push_back({"request " + std::to_string(i) + " finished after a retry of the upload step",
			"updater.swap", "worker " + std::to_string(i % 8), "host-" + std::to_string(i % 5) + ".example.org",
			int64_t(i % 6), int64_t(i), int64_t(-(i % 300)), int64_t(1000 + i % 16), int64_t(0x76656C6B),
			0.001 * double(i % 997), double(i % 100) / 7.0, int64_t(1733800000000) + int64_t(i) * 1375});
	}
	return messages;
}

struct Keys
{
	StPackedDictionaryKey fMessage{"message"}, fSource{"source"}, fTaskName{"task_name"}, fHost{"host"};
	StPackedDictionaryKey fLevel{"level"}, fSequence{"sequence"}, fErrorCode{"error_code"}, fTaskID{"task_id"};
	StPackedDictionaryKey fSignature{"component_signature"}, fDuration{"duration"}, fLoad{"load"}, fTime{"time"};
	StPackedDictionaryKey fError{"error"}, fMessages{"msg"};
};

VValueBag* MakeTree(const std::vector<Message>& messages)
{
	static const Keys sKeys;
	VValueBag* root = new VValueBag();
	velk::VBagArray* list = new velk::VBagArray();
	for (size_t i = 0; i < messages.size(); ++i)
	{
		const Message& m = messages[i];
		VValueBag* bag = new VValueBag();
		bag->SetString(sKeys.fMessage, velk::VString(m.fText.c_str()));
		bag->SetString(sKeys.fSource, velk::VString(m.fSource.c_str()));
		bag->SetString(sKeys.fTaskName, velk::VString(m.fTaskName.c_str()));
		bag->SetString(sKeys.fHost, velk::VString(m.fHost.c_str()));
		bag->SetLong8(sKeys.fLevel, m.fLevel);
		bag->SetLong8(sKeys.fSequence, m.fSequence);
		bag->SetLong8(sKeys.fErrorCode, m.fErrorCode);
		bag->SetLong8(sKeys.fTaskID, m.fTaskID);
		bag->SetLong8(sKeys.fSignature, m.fSignature);
		bag->SetReal(sKeys.fDuration, m.fDuration);
		bag->SetReal(sKeys.fLoad, m.fLoad);
		velk::VTime time;
		time.FromUTCTime(1970, 1, 1, 0, 0, 0, 0);
		time.AddMilliseconds(m.fTimeMs);
		bag->SetTime(sKeys.fTime, time);
		if (i % 4 == 0)
		{
			for (int32_t e = 0; e < 2; ++e)
			{
				VValueBag* error = new VValueBag();
				error->SetLong8(sKeys.fErrorCode, m.fErrorCode - e);
				error->SetString(sKeys.fMessage, velk::VString("the volume went away"));
				bag->AddElement(sKeys.fError, error);
				error->Release();
			}
		}
		list->AddTail(bag);
		bag->Release();
	}
	root->SetElements(sKeys.fMessages, list);
	list->Release();
	return root;
}

plist_t MakePlist(const std::vector<Message>& messages)
{
	plist_t root = plist_new_dict();
	plist_t list = plist_new_array();
	for (size_t i = 0; i < messages.size(); ++i)
	{
		const Message& m = messages[i];
		plist_t dict = plist_new_dict();
		plist_dict_set_item(dict, "message", plist_new_string(m.fText.c_str()));
		plist_dict_set_item(dict, "source", plist_new_string(m.fSource.c_str()));
		plist_dict_set_item(dict, "task_name", plist_new_string(m.fTaskName.c_str()));
		plist_dict_set_item(dict, "host", plist_new_string(m.fHost.c_str()));
		plist_dict_set_item(dict, "level", plist_new_uint(uint64_t(m.fLevel)));
		plist_dict_set_item(dict, "sequence", plist_new_uint(uint64_t(m.fSequence)));
		plist_dict_set_item(dict, "error_code", plist_new_uint(uint64_t(m.fErrorCode)));
		plist_dict_set_item(dict, "task_id", plist_new_uint(uint64_t(m.fTaskID)));
		plist_dict_set_item(dict, "component_signature", plist_new_uint(uint64_t(m.fSignature)));
		plist_dict_set_item(dict, "duration", plist_new_real(m.fDuration));
		plist_dict_set_item(dict, "load", plist_new_real(m.fLoad));
		const int64_t seconds = m.fTimeMs / 1000 - kPLIST_EPOCH;
		plist_dict_set_item(dict, "time", plist_new_date(int32_t(seconds), int32_t(m.fTimeMs % 1000) * 1000));
		if (i % 4 == 0)
		{
			plist_t errors = plist_new_array();
			for (int32_t e = 0; e < 2; ++e)
			{
				plist_t error = plist_new_dict();
				plist_dict_set_item(error, "error_code", plist_new_uint(uint64_t(m.fErrorCode - e)));
				plist_dict_set_item(error, "message", plist_new_string("the volume went away"));
				plist_array_append_item(errors, error);
			}
			plist_dict_set_item(dict, "error", errors);
		}
		plist_array_append_item(list, dict);
	}
	plist_dict_set_item(root, "msg", list);
	return root;
}

std::vector<uint8_t> WriteBag(const VValueBag& bag)
{
	velk::VPtrStream stream;
	stream.OpenWriting();
	bag.WriteToStream(&stream);
	stream.CloseWriting();
	const velk::VStreamUnderlyingData data = stream.GetUnderlyingData();
	const uint8_t* bytes = static_cast<const uint8_t*>(data.fData);
	return std::vector<uint8_t>(bytes, bytes + data.fSize);
}

void BM_BagStreamWrite(benchmark::State& state)
{
	bench::EnsureProcess();
	VValueBag* tree = MakeTree(Messages());
	int64_t bytes = 0;
	for (auto _ : state)
	{
		velk::VPtrStream stream;
		stream.OpenWriting();
		if (tree->WriteToStream(&stream) != velk::VE_OK)
			state.SkipWithError("the bag could not be written");
		stream.CloseWriting();
		bytes = stream.GetUnderlyingData().fSize;
		benchmark::DoNotOptimize(bytes);
	}
	state.counters["bytes"] = double(bytes);
	tree->Release();
}
BENCHMARK(BM_BagStreamWrite)->Unit(benchmark::kMillisecond);

void BM_PlistToBin(benchmark::State& state)
{
	plist_t tree = MakePlist(Messages());
	uint32_t length = 0;
	for (auto _ : state)
	{
		char* bin = nullptr;
		plist_to_bin(tree, &bin, &length);
		benchmark::DoNotOptimize(bin);
		plist_to_bin_free(bin);
	}
	state.counters["bytes"] = double(length);
	plist_free(tree);
}
BENCHMARK(BM_PlistToBin)->Unit(benchmark::kMillisecond);

void BM_BagStreamRead(benchmark::State& state)
{
	bench::EnsureProcess();
	VValueBag* tree = MakeTree(Messages());
	const std::vector<uint8_t> bytes = WriteBag(*tree);
	tree->Release();
	for (auto _ : state)
	{
		VValueBag* bag = new VValueBag();
		velk::VConstPtrStream stream(bytes.data(), int64_t(bytes.size()));
		stream.OpenReading();
		if (bag->ReadFromStream(&stream) != velk::VE_OK || bag->GetElementNamesCount() != 1)
			state.SkipWithError("the bag could not be read");
		stream.CloseReading();
		bag->Release();
	}
}
BENCHMARK(BM_BagStreamRead)->Unit(benchmark::kMillisecond);

void BM_PlistFromBin(benchmark::State& state)
{
	plist_t tree = MakePlist(Messages());
	char* bin = nullptr;
	uint32_t length = 0;
	plist_to_bin(tree, &bin, &length);
	plist_free(tree);
	for (auto _ : state)
	{
		plist_t read = nullptr;
		plist_from_bin(bin, length, &read);
		if (read == nullptr)
			state.SkipWithError("the property list could not be read");
		plist_free(read);
	}
	plist_to_bin_free(bin);
}
BENCHMARK(BM_PlistFromBin)->Unit(benchmark::kMillisecond);

}  // namespace
