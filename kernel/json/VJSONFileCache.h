// The JSON documents already read, one per file, so that resolvers following references into the same
// files (and sharing this cache) parse each file once. No lock: one task at a time.
#pragma once

#include "kernel/VExport.h"

#include <map>

#include "kernel/json/VJSONValue.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"

namespace velk {

class VFilePath;

class VELK_API VJSONFileCache : public VObject, public IRefCountable
{
public:
	VJSONFileCache() = default;
	VJSONFileCache(const VJSONFileCache&) = delete;
	VJSONFileCache& operator=(const VJSONFileCache&) = delete;

	// The document cached for the file, or undefined (with a fresh stamp) when there is none.
	VJSONValue GetValue(const VFilePath& path) const;
	// Stores the document under the file, replacing one already there; undefined removes the entry.
	// Short of memory nothing is stored (velk 100 raised).
	void SetValue(const VFilePath& path, const VJSONValue& value);

private:
	// Keys are POSIX paths compared unit by unit: names that differ only in case are other files on disk.
	struct PathOrder
	{
		bool operator()(const VString& a, const VString& b) const { return a.CompareToStringRaw(b) == CR_SMALLER; }
	};

	std::map<VString, VJSONValue, PathOrder> fEntries;
};

}  // namespace velk
