#include "updater/mac/XPosixWorkingFolder.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"

namespace velk {

VString XPosixWorkingFolder::MakeAbsolute(const VString& posixPath)
{
	if (posixPath.IsEmpty() || posixPath.GetUniChar(1) == u'/')
		return posixPath;
	std::unique_ptr<char, void (*)(void*)> folder(::getcwd(nullptr, 0), &std::free);
	if (!folder)
		return posixPath;
	VString absolute;
	const size_t length = std::char_traits<char>::length(folder.get());
	absolute.FromBlock(folder.get(), length, kCharSet_UTF8);
	if (absolute.IsEmpty() || absolute.GetUniChar(absolute.GetLength()) != u'/')
		absolute.AppendUniChar(u'/');
	VString relative(posixPath);
	// "./x" is "x".
	while (relative.GetLength() >= 2 && relative.GetUniChar(1) == u'.' && relative.GetUniChar(2) == u'/')
		relative.Remove(1, 2);
	absolute = absolute + relative;
	return absolute;
}

}  // namespace velk
