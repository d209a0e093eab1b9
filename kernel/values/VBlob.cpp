// Blob values: the shared behaviour, the owning and the read-only blob, and the descriptor of kind 11.
#include "kernel/values/VBlob.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/json/classes/VJSONBlob.h"
#include "kernel/values/VFlatDatum.h"
#include "kernel/values/VStream.h"

namespace velk {

const VBlob_info VBlob::sInfo;

namespace {

constexpr uint64 kLengthBytes = sizeof(int32);

// The number of bytes a flat length announces; a negative one announces none.
uint64 FlatLength(const void* data)
{
	const int32 length = ReadFlatDatum<int32>(data);
	return length > 0 ? uint64(length) : 0;
}

bool Overlaps(const void* data, const uint8* block, uint64 capacity)
{
	const auto address = reinterpret_cast<uintptr_t>(data);
	const auto start = reinterpret_cast<uintptr_t>(block);
	return block != nullptr && address >= start && address - start < capacity;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// VBlob

VError VBlob::FromData(const void* data, size_t count)
{
	VError error = SetSize(count);
	if (error == VE_OK && count > 0)
		error = PutData(data, count, 0);
	return error;
}

const VValueInfo* VBlob::GetValueInfo() const
{
	return &sInfo;
}

void VBlob::Clear()
{
	FromData(nullptr, 0);
}

CompareResult VBlob::CompareTo(const VValueSingle&, bool) const
{
	return CR_UNRELEVANT;
}

void VBlob::GetValue(VValueSingle&) const
{
}

void VBlob::FromValue(const VValueSingle&)
{
}

const void* VBlob::LoadFromPtr(const void*, uint8)
{
	return nullptr;
}

const void* VBlob::LoadFromPtrBounded(const void*, uint64, uint8)
{
	return nullptr;
}

void* VBlob::WriteToPtr(void*, uint8, uint64) const
{
	return nullptr;
}

uint64 VBlob::GetFullSpaceOnDisk(uint64&) const
{
	return GetSize();
}

void VBlob::DoNullChanged()
{
	if (IsNull())
		SetSize(0);
}

VError VBlob::_CopyOut(const uint8* bytes, size_t size, void* buffer, size_t count, int offset, size_t* outRead)
{
	if (outRead != nullptr)
		*outRead = 0;
	if (offset < 0)
		return VE_INVALID_PARAMETER;
	if (size_t(offset) > size)
		return VE_STREAM_EOF;
	const size_t available = count <= size - size_t(offset) ? count : size - size_t(offset);
	if (available > 0)
		std::memcpy(buffer, bytes + offset, available);
	if (outRead != nullptr)
		*outRead = available;
	return available == count ? VE_OK : VE_STREAM_EOF;
}

void* VBlob::_WriteFlat(const uint8* bytes, size_t size, void* data, uint64 limit)
{
	if (limit != 0 && limit < kLengthBytes)
		return data;
	const uint64 length = _FlatSpace(size, limit) - kLengthBytes;
	uint8* p = static_cast<uint8*>(WriteFlatDatum(data, int32(length), 0));
	if (length > 0)
		std::memcpy(p, bytes, size_t(length));
	return p + length;
}

uint64 VBlob::_FlatSpace(size_t size, uint64 limit)
{
	// The length word is signed: a longer blob is cut rather than given a negative length.
	uint64 space = kLengthBytes + (uint64(size) < uint64(INT32_MAX) ? uint64(size) : uint64(INT32_MAX));
	if (limit != 0 && limit < space)
		space = limit;
	return space;
}

VError VBlob::_WriteStream(const uint8* bytes, size_t size, VStream* stream)
{
	if (uint64(size) > uint64(UINT32_MAX))
		return stream->SetError(VE_INVALID_PARAMETER);
	if (stream->PutLong(int32(uint32(size))) != VE_OK)
		return stream->GetLastError();
	if (size > 0)
		stream->PutData(bytes, size);
	return stream->GetLastError();
}

void VBlob::_GetValueInto(const uint8* bytes, size_t size, VValueSingle& target)
{
	const VValueInfo* info = target.GetValueInfo();
	if (info == nullptr || info->GetKind() != VK_BLOB)
		return;
	if (VBlob* blob = dynamic_cast<VBlob*>(&target))
		blob->FromData(bytes, size);
}

// ---------------------------------------------------------------------------------------------------------
// VBlobWithPtr

VBlobWithPtr::VBlobWithPtr()
{
	fFlags = kFLAG_DIRTY;
}

VBlobWithPtr::VBlobWithPtr(const void* data, size_t count)
{
	fFlags = kFLAG_DIRTY;
	if (data != nullptr && count > 0 && fBuffer.SetDataSizeExactly(count))
		std::memcpy(fBuffer.GetDataPtr(), data, count);
}

VBlobWithPtr::VBlobWithPtr(const VBlobWithPtr& other) : VBlob(other), fBuffer(other.fBuffer.GetAllocator())
{
	fFlags = uint8(other.fFlags | kFLAG_DIRTY);
	fBuffer = other.fBuffer;
}

VBlobWithPtr::VBlobWithPtr(const VBlob& other) : VBlob(other)
{
	fFlags = uint8(other.IsNull() ? (kFLAG_NULL | kFLAG_DIRTY) : kFLAG_DIRTY);
	const size_t size = other.GetSize();
	if (!other.IsNull() && size > 0 && fBuffer.SetDataSizeExactly(size))
	{
		size_t read = 0;
		other.GetData(fBuffer.GetDataPtr(), size, 0, &read);
		// A source that delivers fewer bytes than it claims leaves no undefined bytes behind.
		if (read < size)
			std::memset(fBuffer.GetDataPtr() + read, 0, size - read);
	}
}

void VBlobWithPtr::_SetNotNullDirty()
{
	SetNull(false);
	fFlags |= kFLAG_DIRTY;
}

VError VBlobWithPtr::SetSize(size_t size)
{
	const uint64 old = fBuffer.GetDataSize();
	if (!fBuffer.SetDataSizeExactly(size))
		return VE_MEMORY_FULL;
	if (size > old)
		std::memset(fBuffer.GetDataPtr() + old, 0, size_t(size - old));
	return VE_OK;
}

VError VBlobWithPtr::GetData(void* buffer, size_t count, int offset, size_t* outRead) const
{
	return _CopyOut(fBuffer.GetDataPtr(), GetSize(), buffer, count, offset, outRead);
}

VError VBlobWithPtr::PutData(const void* data, size_t count, int offset)
{
	if (offset < 0 || (data == nullptr && count > 0))
		return VE_INVALID_PARAMETER;
	const uint64 old = fBuffer.GetDataSize();
	if (count > UINT64_MAX - uint64(offset))
	{
		_SetNotNullDirty();
		return VE_MEMORY_FULL;
	}
	const uint64 end = uint64(offset) + count;
	// Bytes taken from this blob itself are found again after the block moved.
	const bool inside = Overlaps(data, fBuffer.GetDataPtr(), fBuffer.GetAllocatedSize());
	const size_t from = inside ? size_t(static_cast<const uint8*>(data) - fBuffer.GetDataPtr()) : 0;
	if (end > fBuffer.GetAllocatedSize() && !fBuffer._EnlargeAmortized(end))
	{
		_SetNotNullDirty();
		return VE_MEMORY_FULL;
	}
	uint8* bytes = fBuffer.GetDataPtr();
	if (count > 0)
		std::memmove(bytes + offset, inside ? bytes + from : data, count);
	if (uint64(offset) > old)
		std::memset(bytes + old, 0, size_t(uint64(offset) - old));
	if (end > old)
		fBuffer.SetDataSize(end);
	_SetNotNullDirty();
	return VE_OK;
}

VError VBlobWithPtr::FromData(const void* data, size_t count)
{
	if (data == nullptr && count > 0)
		return VE_INVALID_PARAMETER;
	if (Overlaps(data, fBuffer.GetDataPtr(), fBuffer.GetAllocatedSize()))
	{
		// Bytes of this blob: moved to the front first, so the block only shrinks; should the manager
		// refuse even that, the larger block simply stays.
		std::memmove(fBuffer.GetDataPtr(), data, count);
		if (!fBuffer.SetDataSizeExactly(count))
			fBuffer.SetDataSize(count);
		_SetNotNullDirty();
		return VE_OK;
	}
	if (!fBuffer.SetDataSizeExactly(count))
	{
		_SetNotNullDirty();
		return VE_MEMORY_FULL;
	}
	if (count > 0)
		std::memcpy(fBuffer.GetDataPtr(), data, count);
	_SetNotNullDirty();
	return VE_OK;
}

VValue* VBlobWithPtr::Clone() const
{
	return new VBlobWithPtr(*this);
}

bool VBlobWithPtr::FromValueSameKind(const VValue* other)
{
	const VBlobWithPtr* blob = dynamic_cast<const VBlobWithPtr*>(other);
	if (blob == nullptr)
		return false;
	fBuffer = blob->fBuffer;
	SetNull(blob->IsNull());
	fFlags |= kFLAG_DIRTY;
	return fBuffer.GetDataSize() == blob->fBuffer.GetDataSize();
}

bool VBlobWithPtr::EqualToSameKind(const VValue* other, bool) const
{
	const VBlobWithPtr* blob = dynamic_cast<const VBlobWithPtr*>(other);
	if (blob == nullptr || blob->IsNull())
		return false;
	const size_t size = GetSize();
	return size == blob->GetSize() && (size == 0 || std::memcmp(GetDataPtr(), blob->GetDataPtr(), size) == 0);
}

bool VBlobWithPtr::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return EqualToSameKind(other, false);
}

void VBlobWithPtr::GetValue(VValueSingle& value) const
{
	_GetValueInto(GetDataPtr(), GetSize(), value);
}

void VBlobWithPtr::FromValue(const VValueSingle& value)
{
	// Clearing first would empty the source as well.
	if (&value == this)
		return;
	Clear();
	const VValueInfo* info = value.GetValueInfo();
	const VBlobWithPtr* blob = dynamic_cast<const VBlobWithPtr*>(&value);
	if (info != nullptr && info->GetKind() == VK_BLOB && blob != nullptr)
		PutData(blob->GetDataPtr(), blob->GetSize(), 0);
}

VError VBlobWithPtr::FromJSONValue(const VJSONValue& json)
{
	const VJSONBlob* source = VJSONBlob::CastJSONObject(json.GetObject());
	// The source's bytes stay alive through json while this blob is cleared.
	Clear();
	if (source == nullptr)
	{
		SetNull(true);
		return VE_OK;
	}
	return source->GetSize() > 0 ? PutData(source->GetData(), size_t(source->GetSize()), 0) : VE_OK;
}

VError VBlobWithPtr::GetJSONValue(VJSONValue& json, uint32) const
{
	VJSONObject* object = VJSONBlob::Create(GetDataPtr(), GetSize());
	if (object == nullptr)
		return VE_MEMORY_FULL;
	json.SetObject(object);
	object->Release();
	return VE_OK;
}

const void* VBlobWithPtr::LoadFromPtr(const void* data, uint8)
{
	const int32 length = ReadFlatDatum<int32>(data);
	if (length < 0)
		return nullptr;
	const uint8* bytes = static_cast<const uint8*>(data) + kLengthBytes;
	FromData(length > 0 ? bytes : nullptr, size_t(length));
	return bytes + length;
}

const void* VBlobWithPtr::LoadFromPtrBounded(const void* data, uint64 available, uint8 flag)
{
	int32 length = 0;
	if (!ReadFlatDatum(data, available, length) || length < 0 || uint64(length) > available - kLengthBytes)
		return nullptr;
	return LoadFromPtr(data, flag);
}

void* VBlobWithPtr::WriteToPtr(void* data, uint8, uint64 limit) const
{
	return _WriteFlat(GetDataPtr(), GetSize(), data, limit);
}

uint64 VBlobWithPtr::GetSpace(uint64&, uint64 limit) const
{
	return _FlatSpace(GetSize(), limit);
}

VError VBlobWithPtr::ReadFromStream(VStream* stream, int32)
{
	uint32 length = 0;
	if (stream->GetLong(length) != VE_OK)
		return stream->GetLastError();
	if (int64(length) > stream->GetRemaining())
		return stream->SetError(VE_STREAM_EOF);
	if (SetSize(length) != VE_OK)
	{
		// The bytes are passed over so that what follows them is still read in step.
		stream->SetPosByOffset(int64(length));
		return VE_MEMORY_FULL;
	}
	if (length > 0)
		stream->GetData(fBuffer.GetDataPtr(), length);
	return stream->GetLastError();
}

VError VBlobWithPtr::WriteToStream(VStream* stream, int32) const
{
	return _WriteStream(GetDataPtr(), GetSize(), stream);
}

// ---------------------------------------------------------------------------------------------------------
// VConstBlobWithPtr

VConstBlobWithPtr::VConstBlobWithPtr(const void* data, size_t count)
	: fData(static_cast<const uint8*>(data)), fSize(data != nullptr ? count : 0)
{
	fFlags = kFLAG_DIRTY;
}

VConstBlobWithPtr::VConstBlobWithPtr(const VConstBlobWithPtr& other) : VBlob(other), fData(other.fData), fSize(other.fSize)
{
	fFlags = uint8(other.fFlags | kFLAG_DIRTY);
}

VError VConstBlobWithPtr::SetSize(size_t)
{
	return VE_STREAM_NOT_OPENED_FOR_WRITING;
}

VError VConstBlobWithPtr::GetData(void* buffer, size_t count, int offset, size_t* outRead) const
{
	return _CopyOut(fData, fSize, buffer, count, offset, outRead);
}

VError VConstBlobWithPtr::PutData(const void*, size_t, int)
{
	return VE_STREAM_NOT_OPENED_FOR_WRITING;
}

VError VConstBlobWithPtr::FromData(const void*, size_t)
{
	return VE_STREAM_NOT_OPENED_FOR_WRITING;
}

VValue* VConstBlobWithPtr::Clone() const
{
	return new VConstBlobWithPtr(*this);
}

bool VConstBlobWithPtr::FromValueSameKind(const VValue* other)
{
	const VConstBlobWithPtr* blob = dynamic_cast<const VConstBlobWithPtr*>(other);
	if (blob == nullptr)
		return false;
	fData = blob->fData;
	fSize = blob->fSize;
	SetNull(blob->IsNull());
	fFlags |= kFLAG_DIRTY;
	return true;
}

void VConstBlobWithPtr::GetValue(VValueSingle& value) const
{
	_GetValueInto(fData, fSize, value);
}

void* VConstBlobWithPtr::WriteToPtr(void* data, uint8, uint64 limit) const
{
	return _WriteFlat(fData, fSize, data, limit);
}

uint64 VConstBlobWithPtr::GetSpace(uint64&, uint64 limit) const
{
	return _FlatSpace(fSize, limit);
}

VError VConstBlobWithPtr::ReadFromStream(VStream*, int32)
{
	return VE_STREAM_NOT_OPENED_FOR_WRITING;
}

VError VConstBlobWithPtr::WriteToStream(VStream* stream, int32) const
{
	return _WriteStream(fData, fSize, stream);
}

// ---------------------------------------------------------------------------------------------------------
// Descriptor

void* VBlob_info::ByteSwapPtr(void* data, bool fromNative) const
{
	uint8* bytes = static_cast<uint8*>(data);
	// The length is read in host order: before the swap when the datum is in host order, after it otherwise.
	const uint64 before = FlatLength(bytes);
	std::swap(bytes[0], bytes[3]);
	std::swap(bytes[1], bytes[2]);
	const uint64 length = fromNative ? before : FlatLength(bytes);
	return bytes + kLengthBytes + length;
}

uint64 VBlob_info::GetSizeOfValueDataPtr(const void* data) const
{
	return kLengthBytes + FlatLength(data);
}

}  // namespace velk
