// A reference-counted walk over an array's elements or an object's property names, usable as the native
// implementation of a JSON object (every IJSONObject answer is the default one).
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/json/IJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VJSONObject;
class VJSONArray;

class VELK_API VJSONIter : public VObject, public IJSONObject
{
public:
	// An object with an implementation walks what its IJSON_MakeIterator(object, start, end, flag) gives,
	// when it gives one. Otherwise the own property names are taken now, in insertion order (names
	// added later are not visited); start and end play no part then. A null object walks nothing.
	VJSONIter(VJSONObject* object, int32 start, int32 end, bool flag);
	// Elements start to end (excluded) of the array as counted now; a negative start or end counts from
	// the end, toEnd runs to the end. An array that shrinks ends the walk early.
	VJSONIter(VJSONArray* array, int32 start, int32 end, bool toEnd);
	~VJSONIter() override;

	VJSONIter(const VJSONIter&) = delete;
	VJSONIter& operator=(const VJSONIter&) = delete;

	// The next element, or the next property name as a string; false, out undefined, past the end.
	// An array is read while the calling task uses it (VJSONUser: waits for a shared array's locker).
	bool NextValue(VJSONValue& out);

private:
	VJSONValue fContainer;
	std::vector<VString> fNames;
	size_t fNameCursor = 0;
	int32 fEnd = 0;
	int32 fCurrent = 0;
	IJSONObject* fImplementation = nullptr;
	VJSONIter* fIterator = nullptr;
};

}  // namespace velk
