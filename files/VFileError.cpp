#include "files/VFileError.h"

#include <new>

#include "files/VFile.h"
#include "files/VFolder.h"
#include "runtime/StThrowError.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

// Errors are made with new (std::nothrow): when even that fails there is nowhere to say so.
void PushIfMade(VErrorBase* error)
{
	if (error != nullptr)
		VTask::PushRetainedError(error);
}

}  // namespace

VFileError::VFileError(const VString& posixPath, VError code) : VErrorBase(code), fFilePath(posixPath, FPS_POSIX)
{
	if (posixPath.IsNull() || posixPath.IsEmpty())
	{
		SetString(VString("name"), VString("n/a"));
		SetString(VString("path"), VString("n/a"));
		return;
	}
	const UniChar* units = posixPath.GetCPointer();
	int32 end = posixPath.GetLength();
	if (end > 1 && units[end - 1] == u'/')
		--end;
	int32 start = end;
	while (start > 0 && units[start - 1] != u'/')
		--start;
	SetString(VString("name"), VString(units + start, end - start));
	SetString(VString("path"), posixPath);
}

VFileError::VFileError(const VFilePath& path, VError code) : VErrorBase(code), fFilePath(path)
{
	_Init();
}

VFileError::VFileError(const VFile* file, VError code)
: VErrorBase(code), fFilePath(file != nullptr ? file->GetPath() : VFilePath())
{
	_Init();
}

VFileError::VFileError(const VFolder* folder, VError code)
: VErrorBase(code), fFilePath(folder != nullptr ? folder->GetPath() : VFilePath())
{
	_Init();
}

VFileError::~VFileError() = default;

VError VFileError::Wrap(const VFilePath& path, VError result, VError defaultCode,
	const std::function<void(VFileError&)>& parameters)
{
	if (!IsNativeError(result) || ERRCODE_NUMBER(result) == 0)
		return result;
	const VError code = EncodedNativeErrorToVError(result, defaultCode);
	VFileError* error = new (std::nothrow) VFileError(path, code);
	if (error != nullptr && parameters)
		parameters(*error);
	_PushRetainedError(error, result);
	return code;
}

void VFileError::_Init()
{
	VString text;
	fFilePath.GetPath(text);
	if (text.IsNull() || text.IsEmpty())
	{
		SetString(VString("name"), VString("n/a"));
		SetString(VString("path"), VString("n/a"));
		return;
	}
	VString name;
	fFilePath.GetName(name);
	SetString(VString("name"), name);
	SetString(VString("path"), text);
}

VError VFileError::Push(const VFilePath& path, VError code, const std::function<void(VFileError&)>& parameters)
{
	VFileError* error = new (std::nothrow) VFileError(path, code);
	if (error == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return code;
	}
	if (parameters)
		parameters(*error);
	_PushRetainedError(error, VE_OK);
	return code;
}

VError VFileError::Throw(const VString& posixPath, VError result, VError operationCode)
{
	if (result == VE_OK || (!IsNativeError(result) && result != VE_MEMORY_FULL))
		return result;
	VError code = result;
	if (IsNativeError(result))
	{
		VErrorBase* native = new (std::nothrow) VErrorBase(result);
		if (native != nullptr)
			native->SetString(VString("path"), posixPath);
		PushIfMade(native);
		code = EncodedNativeErrorToVError(result, operationCode);
	}
	PushIfMade(new (std::nothrow) VFileError(posixPath, code));
	return code;
}

}  // namespace velk
