// Feeds arbitrary bytes to the bag's binary reader. The first byte's low bit picks the byte order; the rest
// is the record. A bag read whole must find each of its keys again and write back to bytes that read again
// and write the same; a read outside the data traps through the sanitizers.
//
// Seeding: given a corpus folder that is missing or empty as its first argument, the target first writes
// its seed records there (small bags, a six-key bag with its index, a nested tree, in both orders).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "fuzz/FuzzSupport.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VConstPtrStream.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VPtrStream.h"
#include "kernel/values/VTime.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace {

using velk::VValueBag;
using Bytes = std::vector<uint8_t>;

template <class DICTIONARY>
bool EveryKeyFound(const DICTIONARY& dictionary)
{
	for (auto slot = dictionary.begin(); slot != dictionary.end(); ++slot)
	{
		size_t length = 0;
		const char* bytes = dictionary._GetKeyBytes(*slot, length);
		if (dictionary._Find(velk::StPackedDictionaryKey(bytes, length)) == dictionary.end())
			return false;
	}
	return true;
}

bool EveryKeyFound(const VValueBag& bag)
{
	if (!EveryKeyFound(bag.GetAttributes()))
		return false;
	const VValueBag::VPackedElements* elements = bag.GetElementsDictionary();
	if (elements == nullptr)
		return true;
	if (!EveryKeyFound(*elements))
		return false;
	for (const velk::VPackedValue_VBagArray& slot : *elements)
	{
		for (int32_t i = 1; slot.fValue != nullptr && i <= slot.fValue->GetCount(); ++i)
		{
			if (!EveryKeyFound(*slot.fValue->_GetNth(i)))
				return false;
		}
	}
	return true;
}

VValueBag* AddChild(VValueBag& parent, const char* name)
{
	VValueBag* child = new VValueBag();
	parent.AddElement(name, child);
	child->Release();
	return child;
}

// The seed records, each behind its byte-order byte.
std::vector<Bytes> Seeds()
{
	std::vector<VValueBag*> bags;
	bags.push_back(new VValueBag());
	VValueBag* one = new VValueBag();
	velk::VLong seven;
	seven.FromLong(7);
	one->SetAttribute("a", seven);
	bags.push_back(one);
	VValueBag* six = new VValueBag();
	for (const char* name : {"a", "b", "c", "d", "e", "f"})
		six->SetAttribute(name, seven);
	bags.push_back(six);
	VValueBag* tree = new VValueBag();
	tree->SetString("message", velk::VString("disk almost full"));
	tree->SetReal("ratio", 0.5);
	tree->SetTime("time", velk::VTime(uint64_t(63871234567890)));
	AddChild(*AddChild(*tree, "item"), "leaf")->SetBool("on", true);
	AddChild(*tree, "item");
	bags.push_back(tree);

	std::vector<Bytes> seeds;
	for (VValueBag* bag : bags)
	{
		for (uint8_t swap : {0, 1})
		{
			Bytes bytes;
			velk::fuzz::WriteStreamForm(*bag, swap != 0, bytes);
			bytes.insert(bytes.begin(), swap);
			seeds.push_back(bytes);
		}
		bag->Release();
	}
	return seeds;
}

void WriteSeeds(int argc, char** argv)
{
	for (int i = 1; i < argc; ++i)
	{
		if (argv[i][0] == '-')
			continue;
		const std::filesystem::path folder(argv[i]);
		std::error_code error;
		if (std::filesystem::exists(folder, error) && !std::filesystem::is_empty(folder, error))
			return;
		std::filesystem::create_directories(folder, error);
		int32_t n = 0;
		for (const Bytes& seed : Seeds())
		{
			const std::string path = (folder / ("seed-" + std::to_string(++n))).string();
			if (FILE* file = std::fopen(path.c_str(), "wb"))
			{
				std::fwrite(seed.data(), 1, seed.size(), file);
				std::fclose(file);
			}
		}
		return;
	}
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
	velk::fuzz::StartProcess();
	WriteSeeds(*argc, *argv);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size < 1)
		return 0;
	const bool swap = (data[0] & 1) != 0;
	VValueBag* bag = new VValueBag();
	if (velk::fuzz::ReadStreamForm(*bag, data + 1, size - 1, swap) == velk::VE_OK)
	{
		if (!EveryKeyFound(*bag))
			__builtin_trap();
		Bytes first;
		Bytes second;
		VValueBag* again = new VValueBag();
		if (velk::fuzz::WriteStreamForm(*bag, swap, first) && velk::fuzz::ReadStreamForm(*again, first.data(), first.size(), swap) == velk::VE_OK
			&& velk::fuzz::WriteStreamForm(*again, swap, second) && first != second)
			__builtin_trap();
		again->Release();
	}
	bag->Release();
	velk::VTask::FlushErrors();
	return 0;
}
