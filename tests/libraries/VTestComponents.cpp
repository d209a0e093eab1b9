// A component library for the registry tests. Its types and their requirements records:
// 'CmpA' version 5, no requirements; 'CmpB' requires 'CmpA' at least 3; 'CmpC' requires 'CmpA' at least 9;
// 'CmpD' requires 'CmpA' in any version and 'Miss', which nobody serves; 'CycX' and 'CycY' require each
// other; 'NoRc' has no record; 'BigN' names more required types than its record holds; 'OldF' has a
// format too old; 'Smal' a record below the minimum size.
#include <algorithm>
#include <cstring>
#include <vector>

#include "kernel/memory/VMemory.h"
#include "runtime/CComponent.h"

namespace {

using velk::CComponent;
using velk::FourCharCode;
using velk::OsType;
using velk::uint32;

// 13 fields (52 bytes) at least: the header and room for one pair.
std::vector<uint32> Record(uint32 version, const std::vector<uint32>& pairs)
{
	std::vector<uint32> fields(velk::kREQUIREMENTS_FIRST_PAIR + (pairs.empty() ? 2 : pairs.size()), 0);
	fields[velk::kREQUIREMENTS_FORMAT] = velk::kREQUIREMENTS_MIN_FORMAT;
	fields[velk::kREQUIREMENTS_SIZE] = uint32(fields.size() * sizeof(uint32));
	fields[velk::kREQUIREMENTS_VERSION] = version;
	fields[velk::kREQUIREMENTS_COUNT] = uint32(pairs.size() / 2);
	std::copy(pairs.begin(), pairs.end(), fields.begin() + velk::kREQUIREMENTS_FIRST_PAIR);
	return fields;
}

std::vector<uint32> RecordOf(OsType type)
{
	const uint32 any = velk::kREQUIREMENTS_ANY_VERSION;
	if (type == FourCharCode("CmpA"))
		return Record(5, {});
	if (type == FourCharCode("CmpB"))
		return Record(1, {FourCharCode("CmpA"), 3});
	if (type == FourCharCode("CmpC"))
		return Record(1, {FourCharCode("CmpA"), 9});
	if (type == FourCharCode("CmpD"))
		return Record(1, {FourCharCode("CmpA"), any, FourCharCode("Miss"), any});
	if (type == FourCharCode("CycX"))
		return Record(1, {FourCharCode("CycY"), any});
	if (type == FourCharCode("CycY"))
		return Record(1, {FourCharCode("CycX"), any});
	std::vector<uint32> record = Record(1, {});
	if (type == FourCharCode("BigN"))
		record[velk::kREQUIREMENTS_COUNT] = 1000;
	else if (type == FourCharCode("OldF"))
		record[velk::kREQUIREMENTS_FORMAT] = 0xFFFF;
	else if (type == FourCharCode("Smal"))
		record[velk::kREQUIREMENTS_SIZE] = 48;
	else if (type == FourCharCode("NoRc"))
		record.clear();
	return record;
}

const OsType kTypes[] = {FourCharCode("CmpA"), FourCharCode("CmpB"), FourCharCode("CmpC"), FourCharCode("CmpD"),
	FourCharCode("CycX"), FourCharCode("CycY"), FourCharCode("NoRc"), FourCharCode("BigN"), FourCharCode("OldF"),
	FourCharCode("Smal")};

class VLibraryComponent : public CComponent
{
public:
	VLibraryComponent(OsType type, OsType signature) : fType(type), fSignature(signature) {}

	uint32* NewRequirementsRecord() const override
	{
		const std::vector<uint32> fields = RecordOf(fType);
		if (fields.empty())
			return nullptr;
		auto* record = static_cast<uint32*>(velk::VMemory::NewPtr(fields.size() * sizeof(uint32), FourCharCode("test")));
		if (record != nullptr)
			std::memcpy(record, fields.data(), fields.size() * sizeof(uint32));
		return record;
	}

	OsType GetComponentType() const override { return fType; }
	OsType GetComponentSignature() const override { return fSignature; }

private:
	OsType fType;
	OsType fSignature;
};

uint32 sMainSelector = 0;
void* sMainLibrary = nullptr;

}  // namespace

#define VELK_TEST_EXPORT extern "C" __attribute__((visibility("default")))

VELK_TEST_EXPORT void Main(OsType selector, velk::VLibrary* library)
{
	sMainSelector = selector;
	sMainLibrary = library;
}

VELK_TEST_EXPORT bool GetNthComponentType(velk::int32 index, OsType& type)
{
	if (index < 1 || size_t(index) > sizeof(kTypes) / sizeof(kTypes[0]))
		return false;
	type = kTypes[index - 1];
	return true;
}

VELK_TEST_EXPORT CComponent* CreateComponent(OsType type, OsType signature)
{
	return new VLibraryComponent(type, signature);
}

// What Main was last given, for the tests.
VELK_TEST_EXPORT uint32 VelkTestMainSelector()
{
	return sMainSelector;
}

VELK_TEST_EXPORT bool VelkTestMainHadLibrary()
{
	return sMainLibrary != nullptr;
}
