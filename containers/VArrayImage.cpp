// Typed array of pictures: the list of owned pictures and their stream form.
#include "containers/VArrayImage.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "kernel/values/VStream.h"
#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

const VValueInfo_array<VArrayImage, VK_ARRAY_IMAGE> VArrayImage::sInfo;

namespace {

constexpr size_t kEMPTY_IMAGE_BYTES = 8;

bool IsPicture(const VValueSingle& value)
{
	const VValueInfo* info = value.GetValueInfo();
	return info != nullptr && info->GetKind() == VK_IMAGE;
}

}  // namespace

VArrayImage::VArrayImage(int32 count)
	: VArrayValue(0)
{
	SetCount(count);
}

VArrayImage::~VArrayImage()
{
	DeleteElements(0, fCount);
}

bool VArrayImage::SetCount(int32 count)
{
	if (count < 0)
		count = 0;
	if (count > fCount)
	{
		try
		{
			fImages.resize(size_t(count), nullptr);
		}
		catch (const std::bad_alloc&)
		{
			return false;
		}
	}
	VArrayValue::SetCount(count);
	fImages.resize(size_t(count));
	return true;
}

const VValueSingle* VArrayImage::GetImage(int32 pos) const
{
	return _IsValidPos(pos) ? fImages[size_t(pos - 1)] : nullptr;
}

void VArrayImage::GetValue(VValueSingle& out, int32 pos) const
{
	if (const VValueSingle* image = GetImage(pos))
		out.FromValue(*image);
	else
		out.Clear();
}

VValueSingle* VArrayImage::CloneValue(int32 pos) const
{
	const VValueSingle* image = GetImage(pos);
	if (image == nullptr)
		return nullptr;
	VValue* copy = image->Clone();
	VValueSingle* single = copy != nullptr ? copy->IsVValueSingle() : nullptr;
	if (single == nullptr)
		delete copy;
	return single;
}

void VArrayImage::FromValue(const VValueSingle& value, int32 pos)
{
	if (!_IsValidPos(pos) || !IsPicture(value))
		return;
	VValue* copy = value.Clone();
	VValueSingle* single = copy != nullptr ? copy->IsVValueSingle() : nullptr;
	if (single == nullptr)
	{
		delete copy;
		return;
	}
	delete fImages[size_t(pos - 1)];
	fImages[size_t(pos - 1)] = single;
}

void VArrayImage::SwapElements(void*, int32 i, int32 j)
{
	std::swap(fImages[size_t(i)], fImages[size_t(j)]);
}

void VArrayImage::MoveElements(int32 from, int32 to, int32 n)
{
	if (from < 0 || to < 0 || n < 1 || from == to)
		return;
	if (n > fCount - from || n > fCount - to)
		return;
	std::memmove(fImages.data() + to, fImages.data() + from, size_t(n) * sizeof(VValueSingle*));
}

void VArrayImage::DeleteElements(int32 from, int32 n)
{
	if (from < 0 || n < 1 || n > fCount - from)
		return;
	for (int32 i = from; i < from + n; ++i)
	{
		delete fImages[size_t(i)];
		fImages[size_t(i)] = nullptr;
	}
}

void VArrayImage::InitElements(int32 from, int32 n)
{
	if (from < 0 || n < 1 || n > fCount - from)
		return;
	std::fill_n(fImages.begin() + from, n, nullptr);
}

bool VArrayImage::_CopyElementsFrom(const VArrayValue& other)
{
	const VArrayImage& source = static_cast<const VArrayImage&>(other);
	for (int32 pos = 1; pos <= fCount; ++pos)
	{
		if (source.GetImage(pos) == nullptr)
			continue;
		VValueSingle* copy = source.CloneValue(pos);
		if (copy == nullptr)
			return false;
		fImages[size_t(pos - 1)] = copy;
	}
	return true;
}

void VArrayImage::_SwapContent(VArrayValue& other)
{
	VArrayValue::_SwapContent(other);
	fImages.swap(static_cast<VArrayImage&>(other).fImages);
}

VError VArrayImage::WriteToStream(VStream* stream, int32) const
{
	return VArrayValue::WriteToStream(stream, 0);
}

VError VArrayImage::_ReadElements(VStream* stream)
{
	for (int32 pos = 1; pos <= fCount; ++pos)
	{
		uint8 head[kEMPTY_IMAGE_BYTES] = {};
		if (stream->GetData(head, sizeof(head)) != VE_OK)
			return stream->GetLastError();
		if (std::all_of(head, head + sizeof(head), [](uint8 byte) { return byte == 0; }))
			continue;
		VValue* made = VValue::NewValueFromValueKind(VK_IMAGE);
		VValueSingle* image = made != nullptr ? made->IsVValueSingle() : nullptr;
		if (image == nullptr)
		{
			delete made;
			_ThrowError(VE_UNIMPLEMENTED);
			return VE_UNIMPLEMENTED;
		}
		// The bytes read belong to the picture's own form.
		fImages[size_t(pos - 1)] = image;
		stream->UngetData(head, sizeof(head));
		const VError error = image->ReadFromStream(stream);
		if (error != VE_OK)
			return error;
	}
	return stream->GetLastError();
}

void VArrayImage::_WriteElements(VStream* stream) const
{
	static const uint8 sEmpty[kEMPTY_IMAGE_BYTES] = {};
	for (int32 pos = 1; pos <= fCount && stream->GetLastError() == VE_OK; ++pos)
	{
		if (const VValueSingle* image = fImages[size_t(pos - 1)])
			image->WriteToStream(stream);
		else
			stream->PutData(sEmpty, sizeof(sEmpty));
	}
}

}  // namespace velk
