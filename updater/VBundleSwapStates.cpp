#include "updater/VBundleSwapStates.h"

#include <cstring>

namespace velk {

const VBundleSwapState* FindBundleSwapState(const char* name)
{
	for (const VBundleSwapState& state : kBundleSwapStates)
	{
		if (name != nullptr && std::strcmp(state.fName, name) == 0)
			return &state;
	}
	return nullptr;
}

}  // namespace velk
