// Test helper: a time zone in place for the scope, with the system layer told to drop what it cached of
// the previous zone, both when the scope begins and when it ends.
#pragma once

#include <optional>

#include "files/VSystem.h"
#include "platform/ScopedTimeZone.h"

namespace velk::test {

class ScopedSystemZone
{
public:
	explicit ScopedSystemZone(const char* zone)
	{
		fZone.emplace(zone);
		VSystem::SystemDateTimeChanged();
	}
	~ScopedSystemZone()
	{
		fZone.reset();
		VSystem::SystemDateTimeChanged();
	}
	ScopedSystemZone(const ScopedSystemZone&) = delete;
	ScopedSystemZone& operator=(const ScopedSystemZone&) = delete;

private:
	std::optional<ScopedTimeZone> fZone;
};

}  // namespace velk::test
