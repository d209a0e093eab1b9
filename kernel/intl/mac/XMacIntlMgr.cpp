// The platform half of the international manager over the platform locale and ICU's case mapping.
#include "kernel/intl/mac/XMacIntlMgr.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <unicode/ustring.h>

#include "kernel/intl/VIntlMgr.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "platform/Locale.h"

namespace velk {

XMacIntlMgr::XMacIntlMgr(uint32 inDialect) : fDialect(inDialect)
{
}

XMacIntlMgr::XMacIntlMgr(const XMacIntlMgr& inOther) : fDialect(inOther.fDialect)
{
}

XMacIntlMgr::~XMacIntlMgr()
{
	if (fLocale != nullptr)
		fLocale->Release();
}

plat::Locale* XMacIntlMgr::CreateCFLocaleRef(uint32 inDialect)
{
	VString code;
	if (!VIntlMgr::GetBCP47LanguageCode(inDialect, code))
		return nullptr;
	char tag[80];
	code.ToBlock(tag, sizeof(tag), kCharSet_UTF8, true, false);
	return plat::Locale::Create(tag);
}

plat::Locale* XMacIntlMgr::GetCFLocaleRef()
{
	if (fLocale != nullptr)
		return fLocale;
	if (fDialect == VIntlMgr::ResolveDialectCode(0))
	{
		// Linux has no locale object of the user's: the locale of the first preferred language stands for
		// it, so that its region (a "de" user in Austria) still reaches the formats.
		plat::Locale* current = plat::Locale::CopyCurrent();
		const char* language = VIntlMgr::GetISO6391LanguageCode(fDialect);
		if (current != nullptr && language != nullptr && strcasecmp(current->GetLanguageCode().c_str(), language) == 0)
		{
			fLocale = current;
			return fLocale;
		}
		if (current != nullptr)
			current->Release();
	}
	fLocale = CreateCFLocaleRef(fDialect);
	return fLocale;
}

plat::Locale* XMacIntlMgr::RetainCFLocaleRef()
{
	plat::Locale* locale = GetCFLocaleRef();
	if (locale != nullptr)
		locale->Retain();
	return locale;
}

bool XMacIntlMgr::ToUpperLowerCase(const UniChar* inText, int32 inLength, UniChar* outText, int32& ioLength, bool inUpper)
{
	if (inLength <= 0)
	{
		ioLength = 0;
		return true;
	}
	const int32 room = std::max(ioLength, 0);
	auto map = [&](UniChar* dest, int32 capacity, UErrorCode& status) {
		// The root locale: the mapping must not depend on the dialect (no Turkish dotted i, no Lithuanian
		// dot), as the platform's locale-less mapping.
		return inUpper ? u_strToUpper(reinterpret_cast<UChar*>(dest), capacity, reinterpret_cast<const UChar*>(inText), inLength, "", &status)
					   : u_strToLower(reinterpret_cast<UChar*>(dest), capacity, reinterpret_cast<const UChar*>(inText), inLength, "", &status);
	};
	UErrorCode status = U_ZERO_ERROR;
	const int32 needed = map(outText, room, status);
	if (status == U_BUFFER_OVERFLOW_ERROR)
	{
		// ICU leaves the room's content unspecified on overflow: map again in full and copy what fits.
		std::unique_ptr<UniChar[]> full(new (std::nothrow) UniChar[size_t(needed)]);
		if (full == nullptr)
			return false;
		status = U_ZERO_ERROR;
		map(full.get(), needed, status);
		if (U_FAILURE(status))
			return false;
		std::memcpy(outText, full.get(), size_t(room) * sizeof(UniChar));
	}
	else if (U_FAILURE(status))
	{
		return false;
	}
	ioLength = needed;
	return needed > 0;
}

}  // namespace velk
