#include "platform/MacCharSets.h"

#include <unicode/ucnv.h>
#include <unicode/udata.h>

#include <cstring>
#include <iterator>

#include "platform/MacCharSetData.h"

namespace plat {

namespace {

constexpr const char* kNames[] = {"x-mac-arabic", "x-mac-hebrew", "x-mac-chinesesimp", "x-mac-chinesetrad", "x-mac-japanese"};

bool IsMacCharSet(const char* name)
{
	for (const char* known : kNames)
	{
		if (std::strcmp(known, name) == 0)
			return true;
	}
	return false;
}

// The library is told once where the package lies; it reads the tables in place.
bool RegisterPackage()
{
	static const bool sRegistered = [] {
		UErrorCode err = U_ZERO_ERROR;
		udata_setAppData(kMacCharSetPackageName, kMacCharSetPackage, &err);
		return U_SUCCESS(err);
	}();
	return sRegistered;
}

}  // namespace

UConverter* OpenMacCharSetConverter(const char* name)
{
	if (name == nullptr || !IsMacCharSet(name) || !RegisterPackage())
		return nullptr;
	UErrorCode err = U_ZERO_ERROR;
	UConverter* converter = ucnv_openPackage(kMacCharSetPackageName, name, &err);
	if (U_FAILURE(err))
	{
		if (converter != nullptr)
			ucnv_close(converter);
		return nullptr;
	}
	return converter;
}

}  // namespace plat
