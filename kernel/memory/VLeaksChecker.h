// Leak accounting embedded in the memory manager; it counts nothing until block registration exists.
#pragma once

namespace velk {

class VLeaksChecker
{
public:
	VLeaksChecker() = default;
	virtual ~VLeaksChecker() = default;
};

}  // namespace velk
