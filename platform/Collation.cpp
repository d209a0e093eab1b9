// Collation and string search over ICU.
#include "platform/Collation.h"

#include <map>
#include <mutex>
#include <new>
#include <string>

#include <unicode/ucol.h>
#include <unicode/usearch.h>

#include "platform/Locale.h"

namespace plat {

namespace {

// Case and accents are respected by the secondary strength plus the case level; width differences sit
// at the tertiary level, which neither strength reaches, so both ignore width.
UCollator* OpenCollator(const char* localeName, bool withDiacritics)
{
	UErrorCode status = U_ZERO_ERROR;
	UCollator* collator = ucol_open(localeName, &status);
	if (U_FAILURE(status))
		return nullptr;
	ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
	ucol_setAttribute(collator, UCOL_STRENGTH, withDiacritics ? UCOL_SECONDARY : UCOL_PRIMARY, &status);
	ucol_setAttribute(collator, UCOL_CASE_LEVEL, withDiacritics ? UCOL_ON : UCOL_OFF, &status);
	if (U_FAILURE(status))
	{
		ucol_close(collator);
		return nullptr;
	}
	return collator;
}

struct CollatorPair
{
	const Collator* fWith = nullptr;
	const Collator* fWithout = nullptr;
};

// The shared collators, kept (reachable) for the process's life so that no caller outlives them.
std::mutex sCacheMutex;
std::map<std::string, CollatorPair>* sCache = nullptr;

}  // namespace

const Collator* Collator::Get(const Locale& locale, bool withDiacritics)
{
	std::lock_guard<std::mutex> lock(sCacheMutex);
	try
	{
		if (sCache == nullptr)
			sCache = new std::map<std::string, CollatorPair>;
		CollatorPair& pair = (*sCache)[locale.GetName()];
		const Collator*& slot = withDiacritics ? pair.fWith : pair.fWithout;
		if (slot == nullptr)
		{
			UCollator* collator = OpenCollator(locale.GetName(), withDiacritics);
			if (collator == nullptr)
				return nullptr;
			slot = new (std::nothrow) Collator(collator, withDiacritics);
			if (slot == nullptr)
				ucol_close(collator);
		}
		return slot;
	}
	catch (const std::bad_alloc&)
	{
		return nullptr;
	}
}

int Collator::Compare(const char16_t* text1, int32_t length1, const char16_t* text2, int32_t length2) const
{
	switch (ucol_strcoll(fCollator, text1, length1, text2, length2))
	{
		case UCOL_LESS:
			return -1;
		case UCOL_GREATER:
			return 1;
		default:
			return 0;
	}
}

bool Collator::Find(const char16_t* text, int32_t textLength, const char16_t* pattern, int32_t patternLength,
	int32_t* outStart, int32_t* outLength) const
{
	if (textLength <= 0 || patternLength <= 0)
		return false;
	UErrorCode status = U_ZERO_ERROR;
	// Made per call: a search object holds the text's position, the shared collator stays untouched.
	UStringSearch* search = usearch_openFromCollator(pattern, patternLength, text, textLength, fCollator, nullptr, &status);
	if (U_FAILURE(status))
		return false;
	// The search compares collation elements up to the strength only, so the case level never reaches it:
	// with diacritics a candidate is kept only when the collator (case level included) finds it equal to the
	// pattern. Candidates may then overlap a rejected one ("Aa" in "aAa"), so overlapping matches are sought.
	if (fWithDiacritics)
		usearch_setAttribute(search, USEARCH_OVERLAP, USEARCH_ON, &status);
	bool found = false;
	for (int32_t start = usearch_first(search, &status); U_SUCCESS(status) && start != USEARCH_DONE;
		 start = usearch_next(search, &status))
	{
		const int32_t length = usearch_getMatchedLength(search);
		if (!fWithDiacritics || ucol_strcoll(fCollator, text + start, length, pattern, patternLength) == UCOL_EQUAL)
		{
			*outStart = start;
			*outLength = length;
			found = true;
			break;
		}
	}
	usearch_close(search);
	return found;
}

}  // namespace plat
