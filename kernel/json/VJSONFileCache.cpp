#include "kernel/json/VJSONFileCache.h"

#include <new>

#include "files/VFilePath.h"
#include "runtime/VError.h"

namespace velk {

namespace {

VString KeyOf(const VFilePath& path)
{
	VString key;
	path.GetPosixPath(key);
	return key;
}

}  // namespace

VJSONValue VJSONFileCache::GetValue(const VFilePath& path) const
{
	const auto found = fEntries.find(KeyOf(path));
	return found != fEntries.end() ? found->second : VJSONValue(JSON_undefined);
}

void VJSONFileCache::SetValue(const VFilePath& path, const VJSONValue& value)
{
	VString key = KeyOf(path);
	if (value.IsUndefined())
	{
		fEntries.erase(key);
		return;
	}
	try
	{
		fEntries.insert_or_assign(std::move(key), value);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
}

}  // namespace velk
