// Descriptor of one value kind, kept in the process-wide registry of kinds: creates values of the kind,
// rebuilds them from their flat form, byte-swaps and compares flat data without an instance.
#pragma once

#include "kernel/VExport.h"

#include <cstring>
#include <type_traits>

#include "kernel/values/VValue.h"
#include "kernel/values/VFlatDatum.h"

namespace velk {

class VBlob;
class VCompareOptions;

class VELK_API VValueInfo : public VObject
{
public:
	// Stores the kind and registers the descriptor under it (a descriptor already registered under that
	// kind is replaced). The descriptor is visible to lookups from here on, before a derived part exists:
	// descriptors are built by static initialisers, before other threads look their kinds up.
	explicit VValueInfo(ValueKind kind);
	// As above, registered under registryKind.
	VValueInfo(ValueKind kind, ValueKind registryKind);
	// Removes the registry entry of the registry kind, whichever descriptor it holds by then.
	~VValueInfo() override;

	VValueInfo(const VValueInfo&) = delete;
	VValueInfo& operator=(const VValueInfo&) = delete;

	ValueKind GetKind() const { return fKind; }
	ValueKind GetRegistryKind() const { return fRegistryKind; }

	// A new empty value of the kind, owned by the caller.
	virtual VValue* Generate() const = 0;
	// The same, given a blob that kinds without blob storage ignore.
	virtual VValue* Generate(VBlob* blob) const = 0;
	// A new value of the kind read from its flat form at data, owned by the caller.
	virtual VValue* LoadFromPtr(const void* data, bool flag = false) const = 0;
	// The same for flat data whose size is known and whose content is not trusted: a new value (Generate)
	// filled by its LoadFromPtrBounded, owned by the caller. Null when the available bytes do not hold a
	// whole datum (nothing raised) or when no value can be made (velk 100 raised).
	VValue* LoadFromPtrBounded(const void* data, uint64 available, bool flag = false) const;
	// Reverses the byte order of the one flat datum at data in place; fromNative tells whether it is in
	// host order now. Answers the address just past the datum.
	virtual void* ByteSwapPtr(void* data, bool fromNative) const = 0;

	// Orders two flat data of the kind. The defaults answer equal; the _Like forms (wildcards) forward to
	// the plain ones, as do kinds without text.
	virtual CompareResult CompareTwoPtrToData(const void* data1, const void* data2, bool diacritical = false) const;
	virtual CompareResult CompareTwoPtrToDataBegining(const void* data1, const void* data2, bool diacritical = false) const;
	virtual CompareResult CompareTwoPtrToData_Like(const void* data1, const void* data2, bool diacritical = false) const;
	virtual CompareResult CompareTwoPtrToDataBegining_Like(const void* data1, const void* data2, bool diacritical = false) const;
	virtual CompareResult CompareTwoPtrToDataWithOptions(const void* data1, const void* data2, const VCompareOptions& options) const;

	// Bytes of the flat datum at data; 0 by default.
	virtual uint64 GetSizeOfValueDataPtr(const void* data) const;
	// Typical bytes of a flat datum; 0 by default.
	virtual uint64 GetAvgSpace() const;

private:
	ValueKind fKind;
	ValueKind fRegistryKind;
};

// Descriptor of a kind without a flat datum of its own: makes a default-constructed T and leaves flat data
// as it is.
template <class T, ValueKind KIND>
class VELK_API VValueInfo_default : public VValueInfo
{
public:
	VValueInfo_default() : VValueInfo(KIND, KIND) {}

	VValue* Generate() const override { return new T(); }
	VValue* Generate(VBlob*) const override { return new T(); }
	VValue* LoadFromPtr(const void* data, bool flag = false) const override
	{
		T* value = new T();
		value->LoadFromPtr(data, uint8(flag));
		return value;
	}
	void* ByteSwapPtr(void* data, bool) const override { return data; }
};

// Descriptor of a kind whose flat form is one datum of the plain type D, compared as D (signed or
// unsigned as D is). T's default constructor must give a non-null, dirty zero.
template <class T, ValueKind KIND, class D>
class VELK_API VValueInfo_scalar : public VValueInfo
{
	static_assert(std::is_arithmetic_v<D>, "the flat datum is a plain number");

public:
	VValueInfo_scalar() : VValueInfo(KIND, KIND) {}

	VValue* Generate() const override { return new T(); }
	VValue* Generate(VBlob*) const override { return new T(); }
	VValue* LoadFromPtr(const void* data, bool flag = false) const override
	{
		T* value = new T();
		value->LoadFromPtr(data, uint8(flag));
		return value;
	}

	void* ByteSwapPtr(void* data, bool) const override
	{
		uint8* bytes = static_cast<uint8*>(data);
		for (size_t i = 0, j = sizeof(D) - 1; i < j; ++i, --j)
		{
			const uint8 byte = bytes[i];
			bytes[i] = bytes[j];
			bytes[j] = byte;
		}
		return bytes + sizeof(D);
	}

	CompareResult CompareTwoPtrToData(const void* data1, const void* data2, bool = false) const override
	{
		return _Compare(data1, data2);
	}
	CompareResult CompareTwoPtrToDataBegining(const void* data1, const void* data2, bool diacritical = false) const override
	{
		return CompareTwoPtrToData(data1, data2, diacritical);
	}
	CompareResult CompareTwoPtrToDataWithOptions(const void* data1, const void* data2, const VCompareOptions&) const override
	{
		return _Compare(data1, data2);
	}

	uint64 GetSizeOfValueDataPtr(const void*) const override { return sizeof(D); }
	uint64 GetAvgSpace() const override { return sizeof(D); }

private:
	// Flat data inside packed stores need not be aligned.
	static CompareResult _Compare(const void* data1, const void* data2)
	{
		const D a = ReadFlatDatum<D>(data1);
		const D b = ReadFlatDatum<D>(data2);
		if (a < b)
			return CR_SMALLER;
		if (b < a)
			return CR_BIGGER;
		return CR_EQUAL;
	}
};

}  // namespace velk
