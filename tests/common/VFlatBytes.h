// A value's flat form in a block of exactly its size, for tests that read, swap or compare flat data.
#pragma once

#include <vector>

#include "kernel/values/VValue.h"

namespace velk::test {

inline std::vector<uint8> FlatBytes(const VValue& value)
{
	uint64 extra = 0;
	std::vector<uint8> bytes(size_t(value.GetSpace(extra)));
	value.WriteToPtr(bytes.data());
	return bytes;
}

}  // namespace velk::test
