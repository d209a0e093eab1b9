// Test helper: sets TZ for the life of a scope and puts the previous setting back, telling the C library both
// times.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

class ScopedTimeZone
{
public:
	explicit ScopedTimeZone(const char* zone)
	{
		if (const char* previous = std::getenv("TZ"))
			fPrevious = previous;
		::setenv("TZ", zone, 1);
		::tzset();
	}

	~ScopedTimeZone()
	{
		if (fPrevious)
			::setenv("TZ", fPrevious->c_str(), 1);
		else
			::unsetenv("TZ");
		::tzset();
	}

	ScopedTimeZone(const ScopedTimeZone&) = delete;
	ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
	std::optional<std::string> fPrevious;
};

// POSIX zone rules, so the tests need no tzdata: Central Europe, the US east coast, central Australia (half an
// hour, southern summer), and zones without daylight saving.
inline constexpr const char* kZoneCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";
inline constexpr const char* kZoneUSEast = "EST5EDT,M3.2.0,M11.1.0";
inline constexpr const char* kZoneCentralAustralia = "ACST-9:30ACDT,M10.1.0,M4.1.0/3";
inline constexpr const char* kZoneJapan = "JST-9";
inline constexpr const char* kZoneUTC = "UTC0";
