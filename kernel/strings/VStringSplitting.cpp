// Taking a string apart at a separator.
#include "containers/VArrayString.h"
#include "kernel/strings/VString.h"

namespace velk {

namespace {

// Calls sink(units, count) for each piece to keep; answers whether a separator was found.
template <class Sink>
bool SplitAtUnit(const UniChar* units, int32 length, UniChar separator, bool keepEmpty, bool trimBlanks, Sink&& sink)
{
	bool found = false;
	int32 start = 0;
	for (;;)
	{
		int32 end = start;
		while (end < length && units[end] != separator)
			++end;
		int32 first = start;
		int32 last = end;
		if (trimBlanks)
		{
			while (first < last && units[first] == u' ')
				++first;
			while (last > first && units[last - 1] == u' ')
				--last;
		}
		if (last > first || keepEmpty)
			sink(units + first, last - first);
		if (end >= length)
			break;
		// A separator that ends the text leaves one empty piece behind it, met on the next turn.
		found = true;
		start = end + 1;
	}
	return found;
}

}  // namespace

bool VString::GetSubStrings(UniChar separator, std::vector<VString>& out, bool keepEmpty, bool trimBlanks) const
{
	out.clear();
	if (IsNull() || IsEmpty())
	{
		if (keepEmpty)
			out.push_back(*this);
		return false;
	}
	return SplitAtUnit(fString, fLength, separator, keepEmpty, trimBlanks,
		[&out](const UniChar* units, int32 count) { out.emplace_back(units, count); });
}

bool VString::GetSubStrings(UniChar separator, VArrayString& out, bool keepEmpty, bool trimBlanks) const
{
	out.Destroy();
	if (IsNull() || IsEmpty())
	{
		if (keepEmpty)
			out.AppendString(*this);
		return false;
	}
	return SplitAtUnit(fString, fLength, separator, keepEmpty, trimBlanks,
		[&out](const UniChar* units, int32 count) { out.AppendString(VString(units, count)); });
}

}  // namespace velk
