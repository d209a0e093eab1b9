// The bag's binary form: the 'VBAG' record, the minimal form of nested bags and the bag lists.
#include <new>
#include <stdexcept>
#include <utility>

#include "containers/VArrayString.h"
#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VStream.h"

namespace velk {

namespace {

constexpr uint8 kFLAG_ATTRIBUTES = 1;
constexpr uint8 kFLAG_ELEMENTS = 2;

VError Raise(VError error)
{
	_ThrowError(error);
	return error;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Record

VError VValueBag::WriteToStream(VStream* stream, int32) const
{
	stream->PutLong(int32(kSTREAM_SIGNATURE));
	stream->PutWord(int16(kSTREAM_VERSION));
	stream->PutWord(0);
	const VError error = WriteToStreamMinimal(stream, true);
	return error != VE_OK ? error : stream->GetLastError();
}

VError VValueBag::ReadFromStream(VStream* stream, int32)
{
	Destroy();
	if (stream->GetLastError() != VE_OK)
		return stream->GetLastError();
	uint32 signature = 0;
	uint16 version = 0;
	uint16 reserved = 0;
	stream->GetLong(signature);
	stream->GetWord(version);
	if (stream->GetWord(reserved) != VE_OK)
		return stream->GetLastError();
	if (signature != kSTREAM_SIGNATURE)
		return Raise(VE_STREAM_BAD_SIGNATURE);
	if (version != kSTREAM_VERSION)
		return Raise(VE_STREAM_BAD_VERSION);
	return ReadFromStreamMinimal(stream);
}

// ---------------------------------------------------------------------------------------------------------
// Minimal form

VError VValueBag::WriteToStreamMinimal(VStream* stream, bool withIndex) const
{
	// Nested bags recurse: data that nest deeper than the stack allows stop with velk 108.
	if (_IsStackLow())
		return Raise(VE_STACK_OVERFLOW);
	const bool hasElements = GetElementNamesCount() > 0;
	uint8 flags = 0;
	if (!fAttributes.IsEmpty())
		flags |= kFLAG_ATTRIBUTES;
	if (hasElements)
		flags |= kFLAG_ELEMENTS;
	if (stream->PutByte(flags) != VE_OK)
		return stream->GetLastError();

	if (!fAttributes.IsEmpty())
	{
		const VError error = fAttributes.WriteToStream(stream, withIndex);
		if (error != VE_OK)
			return error;
	}
	if (!hasElements)
		return stream->GetLastError();

	if (fElements->_WriteKeysToStream(stream, withIndex) != VE_OK)
		return stream->GetLastError();
	for (const VPackedValue_VBagArray& slot : *fElements)
	{
		// A name whose list was set to null reads back with an empty list.
		const VError error = slot.fValue != nullptr ? slot.fValue->WriteToStreamMinimal(stream) : stream->PutLong(0);
		if (error != VE_OK)
			return error;
	}
	return stream->GetLastError();
}

VError VValueBag::ReadFromStreamMinimal(VStream* stream)
{
	if (_IsStackLow())
		return Raise(VE_STACK_OVERFLOW);
	uint8 flags = 0;
	if (stream->GetByte(flags) != VE_OK)
		return stream->GetLastError();

	if ((flags & kFLAG_ATTRIBUTES) != 0)
	{
		const VError error = fAttributes.ReadFromStream(stream);
		if (error != VE_OK)
			return error;
	}
	if ((flags & kFLAG_ELEMENTS) == 0)
		return VE_OK;

	VPackedElements* elements = new (std::nothrow) VPackedElements();
	if (elements == nullptr)
		return Raise(VE_MEMORY_FULL);
	const VError error = elements->ReadFromStream(stream);
	// The old dictionary goes either way: a failed read leaves an empty one.
	_DeleteElements(std::exchange(fElements, nullptr));
	if (error != VE_OK)
	{
		_DeleteElements(elements);
		return error;
	}
	fElements = elements;
	return VE_OK;
}

// ---------------------------------------------------------------------------------------------------------
// Older layout

namespace {

// A count of items taking at least 4 bytes each, one per name read before it.
VError ReadNamedCount(VStream* stream, const VArrayString& names, uint32& count)
{
	if (stream->GetLong(count) != VE_OK)
		return stream->GetLastError();
	if (count > uint32(names.GetCount()) || uint64(count) * 4 > uint64(stream->GetRemaining()))
		return stream->SetError(VE_STREAM_EOF);
	return VE_OK;
}

}  // namespace

VError VValueBag::_ReadFromStream_v1(VStream* stream)
{
	VArrayString names;
	uint32 count = 0;
	if (names.ReadFromStream(stream) != VE_OK || ReadNamedCount(stream, names, count) != VE_OK)
		return stream->GetLastError();
	VString name;
	for (uint32 i = 1; i <= count; ++i)
	{
		uint32 kind = 0;
		if (stream->GetLong(kind) != VE_OK)
			return stream->GetLastError();
		VValue* value = VValue::NewValueFromValueKind(ValueKind(kind & 0xFFFF));
		VValueSingle* single = value != nullptr ? value->IsVValueSingle() : nullptr;
		if (single == nullptr)
		{
			// What follows cannot be stepped over without knowing its kind.
			delete value;
			return stream->SetError(VE_STREAM_EOF);
		}
		VError error = single->ReadFromStream(stream);
		names.GetString(name, int32(i));
		const StPackedDictionaryKey key(name);
		if (error == VE_OK && _IsStorableKey(key))
		{
			// The end is taken after the append, which moves it.
			const auto appended = fAttributes.Append(key, *single);
			if (appended == fAttributes.end())
				error = Raise(VE_MEMORY_FULL);
		}
		delete value;
		if (error != VE_OK)
			return error;
	}

	if (names.ReadFromStream(stream) != VE_OK || ReadNamedCount(stream, names, count) != VE_OK)
		return stream->GetLastError();
	for (uint32 i = 1; i <= count; ++i)
	{
		VBagArray* list = new (std::nothrow) VBagArray();
		if (list == nullptr)
			return Raise(VE_MEMORY_FULL);
		VError error = list->ReadFromStreamMinimal(stream);
		names.GetString(name, int32(i));
		const StPackedDictionaryKey key(name);
		for (int32 pos = 1; error == VE_OK && pos <= list->GetCount() && _IsStorableKey(key); ++pos)
		{
			if (!AddElement(key, list->_GetNth(pos)))
				error = VE_MEMORY_FULL;
		}
		list->Release();
		if (error != VE_OK)
			return error;
	}
	return VE_OK;
}

// ---------------------------------------------------------------------------------------------------------
// Bag lists

VError VBagArray::WriteToStreamMinimal(VStream* stream) const
{
	if (stream->PutLong(int32(fBags.size())) != VE_OK)
		return stream->GetLastError();
	for (const VValueBag* bag : fBags)
	{
		const VError error = bag != nullptr ? bag->WriteToStreamMinimal(stream, true) : stream->PutByte(0);
		if (error != VE_OK)
			return error;
	}
	return VE_OK;
}

VError VBagArray::ReadFromStreamMinimal(VStream* stream)
{
	int32 count = 0;
	if (stream->GetLong(count) != VE_OK)
		return stream->GetLastError();
	if (count < 0)
		return Raise(VE_MEMORY_FULL);
	// Each bag takes at least its flags byte.
	if (uint64(count) > uint64(stream->GetRemaining()))
		return stream->SetError(VE_STREAM_EOF);

	const size_t first = fBags.size();
	try
	{
		fBags.reserve(first + size_t(count));
	}
	catch (const std::bad_alloc&)
	{
		return Raise(VE_MEMORY_FULL);
	}
	VError error = VE_OK;
	for (int32 i = 0; i < count && error == VE_OK; ++i)
	{
		VValueBag* bag = new (std::nothrow) VValueBag();
		if (bag == nullptr)
		{
			error = Raise(VE_MEMORY_FULL);
			break;
		}
		// The room was reserved: this cannot fail.
		fBags.push_back(bag);
		error = bag->ReadFromStreamMinimal(stream);
	}
	if (error != VE_OK)
	{
		while (fBags.size() > first)
		{
			VValueBag* bag = fBags.back();
			fBags.pop_back();
			bag->Release();
		}
	}
	return error;
}

}  // namespace velk
