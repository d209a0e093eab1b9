#include "platform/Locale.h"

#include <new>

#include <unicode/uloc.h>

namespace plat {

Locale* Locale::Create(const char* bcp47Tag)
{
	if (bcp47Tag == nullptr)
		return nullptr;
	char name[ULOC_FULLNAME_CAPACITY];
	UErrorCode status = U_ZERO_ERROR;
	int32_t parsed = 0;
	const int32_t length = uloc_forLanguageTag(bcp47Tag, name, sizeof(name), &parsed, &status);
	if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || length <= 0)
		return nullptr;
	return new (std::nothrow) Locale(std::string(name, size_t(length)));
}

}  // namespace plat
