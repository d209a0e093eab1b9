// Eight UTF-16 units tested at once, for the scans that look for the first of a few units in long text.
#pragma once

#include <cstring>

#include "kernel/VKernelTypes.h"

namespace velk {

// Eight units in one vector; a comparison gives all ones in each lane that matches.
using Units8 = uint16 __attribute__((vector_size(16)));

// The unit in every lane.
inline Units8 Broadcast8(UniChar unit)
{
	const Units8 units = {unit, unit, unit, unit, unit, unit, unit, unit};
	return units;
}

inline Units8 LoadUnits8(const UniChar* p)
{
	Units8 units;
	std::memcpy(&units, p, sizeof(units));
	return units;
}

inline void StoreUnits8(UniChar* p, Units8 units)
{
	std::memcpy(p, &units, sizeof(units));
}

// Whether some lane is not zero.
inline bool AnyLane(Units8 lanes)
{
	uint64 halves[2];
	std::memcpy(halves, &lanes, sizeof(halves));
	return (halves[0] | halves[1]) != 0;
}

// One bit per lane that is not zero, lane 0 lowest.
inline uint32 LaneMask(Units8 lanes)
{
	if (!AnyLane(lanes))
		return 0;
	uint32 mask = 0;
	for (int lane = 0; lane < 8; ++lane)
		mask |= uint32(lanes[lane] != 0) << lane;
	return mask;
}

}  // namespace velk
