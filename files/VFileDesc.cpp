#include "files/VFileDesc.h"

#include <new>

#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFilePath.h"
#include "kernel/strings/VString.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

constexpr VError kGetPosCode = MakeVError(kVELK_SIGNATURE, 213);
constexpr VError kSetPosCode = MakeVError(kVELK_SIGNATURE, 214);
constexpr VError kGetDataCode = MakeVError(kVELK_SIGNATURE, 215);
constexpr VError kPutDataCode = MakeVError(kVELK_SIGNATURE, 216);
constexpr VError kFlushCode = MakeVError(kVELK_SIGNATURE, 217);
constexpr VError kGetSizeCode = MakeVError(kVELK_SIGNATURE, 218);
constexpr VError kSetSizeCode = MakeVError(kVELK_SIGNATURE, 219);

// The current position plus pos; none when the sum leaves the range of positions.
const int64* Offset(const XMacFileDesc& platform, int64 pos, int64& storage)
{
	int64 start = 0;
	platform.GetPos(&start);
	return __builtin_add_overflow(start, pos, &storage) ? nullptr : &storage;
}

}  // namespace

VFileDesc::VFileDesc(const VFile* file, int descriptor, FileAccess access)
: fAccess(access), fFile(file), fPlatform(descriptor)
{
	if (fFile != nullptr)
		fFile->Retain();
}

VFileDesc::~VFileDesc()
{
	if (fFile != nullptr)
		fFile->Release();
}

VError VFileDesc::_Throw(VError result, VError operationCode, const size_t* count, const int64* offset,
	const int64* size, bool askSize) const
{
	const bool endOfData = result == VE_STREAM_EOF && operationCode == kGetDataCode;
	if (result == VE_OK || (!IsNativeError(result) && !endOfData))
		return result;
	const VError code = endOfData ? result : VErrorBase::EncodedNativeErrorToVError(result, operationCode);
	VFileError* error = new (std::nothrow) VFileError(fFile != nullptr ? fFile->GetPath() : VFilePath(), code);
	if (error == nullptr)
		return code;
	if (count != nullptr)
		error->SetLong8(VString("count"), int64(*count));
	if (offset != nullptr)
		error->SetLong8(VString("offset"), *offset);
	int64 known = 0;
	if (size != nullptr)
		error->SetLong8(VString("size"), *size);
	else if (askSize && fPlatform.GetSize(&known) == VE_OK)
		error->SetLong8(VString("size"), known);
	VTask::PushRetainedError(error);
	return code;
}

VError VFileDesc::GetData(void* buffer, size_t count, int64 pos, size_t* read) const
{
	size_t moved = count;
	const VError result = fPlatform.GetData(buffer, moved, pos, true);
	if (read != nullptr)
		*read = moved;
	return _Throw(result, kGetDataCode, &count, &pos, nullptr, true);
}

VError VFileDesc::GetDataAtPos(void* buffer, size_t count, int64 pos, size_t* read) const
{
	int64 storage = 0;
	const int64* offset = Offset(fPlatform, pos, storage);
	size_t moved = count;
	const VError result = fPlatform.GetData(buffer, moved, pos, false);
	if (read != nullptr)
		*read = moved;
	// The end of the data is how a reader at the current position learns it reached the end: not an error.
	if (result == VE_STREAM_EOF)
		return result;
	return _Throw(result, kGetDataCode, &count, offset, nullptr, true);
}

VError VFileDesc::PutData(const void* buffer, size_t count, int64 pos, size_t* written) const
{
	size_t moved = count;
	const VError result = fPlatform.PutData(buffer, moved, pos, true);
	if (written != nullptr)
		*written = moved;
	return _Throw(result, kPutDataCode, &count, &pos, nullptr, true);
}

VError VFileDesc::PutDataAtPos(const void* buffer, size_t count, int64 pos, size_t* written) const
{
	int64 storage = 0;
	const int64* offset = Offset(fPlatform, pos, storage);
	size_t moved = count;
	const VError result = fPlatform.PutData(buffer, moved, pos, false);
	if (written != nullptr)
		*written = moved;
	return _Throw(result, kPutDataCode, &count, offset, nullptr, true);
}

int64 VFileDesc::GetPos() const
{
	int64 position = 0;
	if (_Throw(fPlatform.GetPos(&position), kGetPosCode, nullptr, nullptr, nullptr, false) != VE_OK)
		return 0;
	return position;
}

VError VFileDesc::SetPos(int64 pos, bool fromStart) const
{
	int64 storage = pos;
	const int64* target = fromStart ? &storage : Offset(fPlatform, pos, storage);
	return _Throw(fPlatform.SetPos(pos, fromStart), kSetPosCode, nullptr, target, nullptr, true);
}

int64 VFileDesc::GetSize() const
{
	int64 size = 0;
	if (_Throw(fPlatform.GetSize(&size), kGetSizeCode, nullptr, nullptr, nullptr, false) != VE_OK)
		return 0;
	return size;
}

VError VFileDesc::SetSize(int64 size) const
{
	return _Throw(fPlatform.SetSize(size), kSetSizeCode, nullptr, nullptr, &size, false);
}

VError VFileDesc::Flush() const
{
	return _Throw(fPlatform.Flush(), kFlushCode, nullptr, nullptr, nullptr, false);
}

}  // namespace velk
