// Walks the property names of one JSON object: the names its native implementation supplies and its own
// properties, in the map's order or in insertion order, reading each name's value as the object answers it.
//
// The names are taken when the iterator is made, the own ones under the object's read lock, so a walk
// never meets a half-changed map: names added afterwards are not visited and an own property removed
// meanwhile reads as undefined. When memory is too short to take them, velk 100 is raised and the
// iterator is empty.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <vector>

#include "kernel/json/VJSONObject.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/memory/VRefPtr.h"

namespace velk {

// What the three iterators share: the list of names and the position in it.
class VELK_API VJSONPropertyNames
{
public:
	VJSONPropertyNames(const VJSONPropertyNames&) = delete;
	VJSONPropertyNames& operator=(const VJSONPropertyNames&) = delete;

	// Whether the position names a property; false once every name has been visited.
	bool IsValid() const { return fIndex < fNames.size(); }
	void Next() { ++fIndex; }
	VJSONPropertyNames& operator++()
	{
		++fIndex;
		return *this;
	}
	// The current name; an empty string past the end.
	const VString& GetName() const;
	// Whether the current name is one of the object's own properties (rather than the implementation's).
	bool IsOwnProperty() const { return IsValid() && fIndex >= fOwnBegin && fIndex < fOwnEnd; }
	// The own property's stored value, or what GetProperty answers for any other name; undefined past
	// the end.
	VJSONValue GetValue(VDBLanguageContext* context = nullptr) const;

protected:
	explicit VJSONPropertyNames(const VJSONObject* object);
	~VJSONPropertyNames() = default;

	// Appends the implementation's names (all of them, or only those that are not own properties).
	// Returns whether the implementation supplied names, which then stand in for the class's.
	bool _AddImplementationNames(bool onlyOthers);
	// Appends the names of the class's getters (only those not listed yet when onlyOthers is set).
	void _AddGetterNames(bool onlyOthers);
	// Appends the own names, in insertion order or in the map's.
	bool _AddOwnNames(bool ordered);
	// After a refused allocation: nothing to visit, and nothing more is added.
	void _Empty();

	VRefPtr<VJSONObject> fObject;
	std::vector<VString> fNames;
	size_t fIndex = 0;
	size_t fOwnBegin = 0;
	size_t fOwnEnd = 0;
	bool fFailed = false;
};

// Names of the implementation first, then the own properties in the map's order. Keeps the object in use
// by the calling task for its whole life (VJSONUser: waits for a shared object's locker), so that it may
// write through SetValue.
class VELK_API VJSONPropertyIterator : public VJSONPropertyNames
{
public:
	explicit VJSONPropertyIterator(VJSONObject* object);

	// Writes the current name through SetProperty. An undefined value is refused (false, nothing done)
	// for an own property, since it would remove the property under the walk; false past the end.
	bool SetValue(const VJSONValue& value, VDBLanguageContext* context = nullptr);

private:
	VJSONUser fUser;
};

// The same names as VJSONPropertyIterator, for reading only: takes no use of a shared object's locker.
class VELK_API VJSONPropertyConstIterator : public VJSONPropertyNames
{
public:
	explicit VJSONPropertyConstIterator(const VJSONObject* object);
};

// Skips the implementation's names.
constexpr uint32 kJSONOrderedWithoutImplementationNames = 1;
// Skips the class's getter names.
constexpr uint32 kJSONOrderedWithoutClassNames = 2;
// Own properties in insertion order only.
constexpr uint32 kJSONOrderedOwnOnly = kJSONOrderedWithoutImplementationNames | kJSONOrderedWithoutClassNames;

// The own properties in insertion order, then the implementation's names that are not own properties
// (unless option 1), then the class's getter names (unless option 2).
class VELK_API VJSONPropertyConstOrderedIterator : public VJSONPropertyNames
{
public:
	VJSONPropertyConstOrderedIterator(const VJSONObject* object, uint32 options);
};

}  // namespace velk
