#include "runtime/mac/XMacExecutableFolder.h"

#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kernel/strings/VString.h"

namespace velk {

bool XMacExecutableFolder::FindFile(const char* name, VString& path)
{
	char buffer[PATH_MAX];
	const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer));
	if (length <= 0 || size_t(length) >= sizeof(buffer))
		return false;
	const void* slash = ::memrchr(buffer, '/', size_t(length));
	if (slash == nullptr)
		return false;
	const size_t folderLength = size_t(static_cast<const char*>(slash) - buffer) + 1;
	const size_t nameLength = ::strlen(name);
	if (folderLength + nameLength >= sizeof(buffer))
		return false;
	::memcpy(buffer + folderLength, name, nameLength + 1);
	struct stat status;
	if (::stat(buffer, &status) != 0 || !S_ISREG(status.st_mode))
		return false;
	// Paths handed by the system are UTF-8 bytes.
	VString found;
	found.FromBlock(buffer, folderLength + nameLength, 7);
	if (found.GetLength() == 0)
		return false;
	path.FromString(found);
	return true;
}

}  // namespace velk
