// Typed array of blobs: one owned blob pointer per element.
#include "containers/VArrayBlob.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "kernel/values/VBlob.h"
#include "kernel/values/VStream.h"

namespace velk {

const VValueInfo_array<VArrayBlob, VK_ARRAY_BLOB> VArrayBlob::sInfo;

VArrayBlob::VArrayBlob(int32 count)
	: VArrayValue(uint32(sizeof(VBlobWithPtr*)), count)
{
}

VArrayBlob::~VArrayBlob()
{
	DeleteElements(0, fCount);
}

VBlobWithPtr* VArrayBlob::_GetElement(int32 pos) const
{
	VBlobWithPtr* element = nullptr;
	std::memcpy(&element, _ElementAt(pos - 1), sizeof(element));
	return element;
}

void VArrayBlob::_SetElement(int32 pos, VBlobWithPtr* element)
{
	std::memcpy(_ElementAt(pos - 1), &element, sizeof(element));
}

VBlobWithPtr* VArrayBlob::_NewCopy(const void* data, size_t size)
{
	VBlobWithPtr* copy = new (std::nothrow) VBlobWithPtr();
	if (copy != nullptr && copy->FromData(data, size) != VE_OK)
	{
		delete copy;
		copy = nullptr;
	}
	return copy;
}

const VBlobWithPtr* VArrayBlob::GetBlob(int32 pos) const
{
	return _IsValidPos(pos) ? _GetElement(pos) : nullptr;
}

void VArrayBlob::GetValue(VValueSingle& out, int32 pos) const
{
	VBlob* target = dynamic_cast<VBlob*>(&out);
	const VBlobWithPtr* element = GetBlob(pos);
	if (target == nullptr || !_IsValidPos(pos))
		out.Clear();
	else if (element == nullptr)
		target->FromData(nullptr, 0);
	else
		target->FromData(element->GetDataPtr(), element->GetSize());
}

VValueSingle* VArrayBlob::CloneValue(int32 pos) const
{
	const VBlobWithPtr* element = GetBlob(pos);
	return element != nullptr ? _NewCopy(element->GetDataPtr(), element->GetSize()) : _NewCopy(nullptr, 0);
}

void VArrayBlob::FromValue(const VValueSingle& value, int32 pos)
{
	const VBlob* blob = dynamic_cast<const VBlob*>(&value);
	if (blob == nullptr || !_IsValidPos(pos))
		return;
	// The copying constructor leaves the copy short when memory is.
	VBlobWithPtr* copy = new (std::nothrow) VBlobWithPtr(*blob);
	if (copy != nullptr && copy->GetSize() != (blob->IsNull() ? 0 : blob->GetSize()))
	{
		delete copy;
		copy = nullptr;
	}
	if (copy == nullptr)
		return;
	delete _GetElement(pos);
	_SetElement(pos, copy);
}

int32 VArrayBlob::_CompareBytes(const VBlobWithPtr* element, const uint8* bytes, size_t size)
{
	const uint8* elementBytes = element != nullptr ? element->GetDataPtr() : nullptr;
	const size_t elementSize = element != nullptr ? element->GetSize() : 0;
	const size_t common = std::min(elementSize, size);
	const int order = common > 0 ? std::memcmp(elementBytes, bytes, common) : 0;
	if (order != 0)
		return order < 0 ? -1 : 1;
	if (elementSize != size)
		return elementSize < size ? -1 : 1;
	// An empty blob still orders after a place without one.
	if (element == nullptr)
		return bytes == nullptr ? 0 : -1;
	return 0;
}

bool VArrayBlob::_BytesOf(const VValueSingle& value, const uint8*& bytes, size_t& size)
{
	static const uint8 sNone = 0;
	if (const VBlobWithPtr* owning = dynamic_cast<const VBlobWithPtr*>(&value))
	{
		bytes = owning->GetDataPtr();
		size = owning->GetSize();
	}
	else if (const VConstBlobWithPtr* shown = dynamic_cast<const VConstBlobWithPtr*>(&value))
	{
		bytes = static_cast<const uint8*>(shown->GetDataPtr());
		size = shown->GetSize();
	}
	else
	{
		return false;
	}
	// An empty blob is still a blob: it orders after a place without one.
	if (bytes == nullptr || size == 0)
		bytes = &sNone;
	return true;
}

CompareResult VArrayBlob::CompareTo(const VValueSingle& value, bool, int32 pos) const
{
	const uint8* bytes = nullptr;
	size_t size = 0;
	if (!_BytesOf(value, bytes, size))
		return CR_UNRELEVANT;
	return CompareResult(_CompareBytes(GetBlob(pos), bytes, size));
}

int32 VArrayBlob::Find(const VValueSingle& value, int32 start, bool forward, CompareMethod method) const
{
	const uint8* bytes = nullptr;
	size_t size = 0;
	if (!_BytesOf(value, bytes, size))
		return -1;
	return _FindBy(start, forward, method, [&](int32 pos) { return _Satisfies(CompareResult(_CompareBytes(_GetElement(pos), bytes, size)), method); });
}

void VArrayBlob::Sort(int32 from, int32 to, bool descending)
{
	if (!_IsSortRange(from, to))
		return;
	ISortable* const sortables[] = {this, nullptr};
	const uint8 direction = descending ? 1 : 0;
	MultiCriteriaQSort(sortables, &direction, 1, from - 1, to - 1);
}

int32 VArrayBlob::CompareElements(void*, int32 i, int32 j)
{
	const VBlobWithPtr* other = _GetElement(j + 1);
	if (other == nullptr)
		return _GetElement(i + 1) == nullptr ? 0 : 1;
	const uint8* bytes = nullptr;
	size_t size = 0;
	_BytesOf(*other, bytes, size);
	return _CompareBytes(_GetElement(i + 1), bytes, size);
}

void VArrayBlob::DeleteElements(int32 from, int32 n)
{
	if (from < 0 || n < 1 || n > fCount - from)
		return;
	for (int32 i = from; i < from + n; ++i)
	{
		delete _GetElement(i + 1);
		_SetElement(i + 1, nullptr);
	}
}

bool VArrayBlob::_CopyElementsFrom(const VArrayValue& other)
{
	const VArrayBlob& source = static_cast<const VArrayBlob&>(other);
	for (int32 pos = 1; pos <= fCount; ++pos)
	{
		const VBlobWithPtr* element = source._GetElement(pos);
		if (element == nullptr)
			continue;
		VBlobWithPtr* copy = _NewCopy(element->GetDataPtr(), element->GetSize());
		if (copy == nullptr)
			return false;
		_SetElement(pos, copy);
	}
	return true;
}

VError VArrayBlob::_ReadElements(VStream* stream)
{
	for (int32 pos = 1; pos <= fCount; ++pos)
	{
		VBlobWithPtr* element = new (std::nothrow) VBlobWithPtr();
		if (element == nullptr)
			return VE_MEMORY_FULL;
		_SetElement(pos, element);
		const VError error = element->ReadFromStream(stream);
		if (error != VE_OK)
			return error;
	}
	return stream->GetLastError();
}

void VArrayBlob::_WriteElements(VStream* stream) const
{
	for (int32 pos = 1; pos <= fCount && stream->GetLastError() == VE_OK; ++pos)
	{
		if (const VBlobWithPtr* element = _GetElement(pos))
			element->WriteToStream(stream);
		else
			stream->PutLong(int32(0));
	}
}

}  // namespace velk
