// Frees the containers that die with a JSON container without recursing into them: the values of a dying
// object or array hand their containers to this scope, which releases them only once the container that
// held them is gone, one after another from a list kept for the thread. However deep a tree, freeing it
// takes a fixed amount of stack.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <vector>

namespace velk {

class VJSONValue;
class VJSONObject;
class VJSONArray;

class VELK_API StJSONDeferredRelease
{
public:
	// The first scope on a thread drains the list when it ends; those opened while it drains only add.
	StJSONDeferredRelease();
	~StJSONDeferredRelease();
	StJSONDeferredRelease(const StJSONDeferredRelease&) = delete;
	StJSONDeferredRelease& operator=(const StJSONDeferredRelease&) = delete;

	// Takes the reference a value holds on an object or array (the value is left null) for a later release;
	// any other value is left as it is. When the list cannot grow the value keeps its reference, to be
	// released as usual.
	void Take(VJSONValue& value);
	// Whether some value of the range holds a container: a scope is worth opening only then.
	static bool AnyContainer(const VJSONValue* values, size_t count);

	struct Held
	{
		void* fContainer;
		bool fIsArray;
	};

private:
	// The draining scope's own list, on its stack; the others add to it.
	std::vector<Held> fOwn;
	std::vector<Held>* fList;
	bool fDrains;
};

}  // namespace velk
