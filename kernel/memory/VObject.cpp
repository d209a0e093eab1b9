// Root class of the toolbox's classes: the debug dump defaults.
#include "kernel/memory/VObject.h"

#include <algorithm>

#include "kernel/strings/VString.h"

namespace velk {

CharSet VObject::DebugDump(char* /*buffer*/, int& length) const
{
	length = 0;
	return 7;
}

void VObject::DebugDump(VString& text) const
{
	char buffer[1024];
	int length = int(sizeof(buffer));
	const CharSet charSet = DebugDump(buffer, length);
	text.FromBlock(buffer, size_t(std::max(length, 0)), charSet);
}

void VObject::DebugGetClassName(VString& name) const
{
	name.Clear();
}

}  // namespace velk
