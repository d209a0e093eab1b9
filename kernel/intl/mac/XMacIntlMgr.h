// The platform half of the international manager: the dialect's platform locale, made on first use, and
// the services that come from the platform (case mapping, date formats, converter factories).
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"

namespace plat {
class Locale;
}

namespace velk {

class VToUnicodeConverter;
class VFromUnicodeConverter;

class VELK_API XMacIntlMgr
{
public:
	explicit XMacIntlMgr(uint32 inDialect);
	// A copy takes only the dialect; its caches start empty.
	XMacIntlMgr(const XMacIntlMgr& inOther);
	XMacIntlMgr& operator=(const XMacIntlMgr&) = delete;
	virtual ~XMacIntlMgr();

	// A new platform locale (one reference) for the dialect's BCP 47 code; null when it cannot be made.
	static plat::Locale* CreateCFLocaleRef(uint32 inDialect);
	// The dialect's locale, made on first use and cached; not retained. Null when it cannot be made. For
	// the system dialect the user's current locale serves when its language is the dialect's. The cache is
	// filled without a lock: a manager belongs to one task.
	plat::Locale* GetCFLocaleRef();
	// The same, with a reference for the caller.
	plat::Locale* RetainCFLocaleRef();

	// Full, locale-independent upper-casing (inUpper) or lower-casing of inLength units into outText, which
	// has room for ioLength units: min(mapped length, ioLength) units are written and ioLength receives the
	// mapped length, which may exceed the room ("ß" becomes "SS"); the caller then asks again with more
	// room. False when the source is not empty and nothing could be mapped (memory short, ill-formed
	// arguments).
	static bool ToUpperLowerCase(const UniChar* inText, int32 inLength, UniChar* outText, int32& ioLength, bool inUpper);

	// The factories the converter registry asks for every character set without a built-in converter: a
	// new converter carrying one reference, or null when the set cannot be converted here.
	static VToUnicodeConverter* NewToUnicodeConverter(CharSet inCharSet);
	static VFromUnicodeConverter* NewFromUnicodeConverter(CharSet inCharSet);

	uint32 GetDialect() const { return fDialect; }

private:
	uint32 fDialect;
	plat::Locale* fLocale = nullptr;
};

}  // namespace velk
