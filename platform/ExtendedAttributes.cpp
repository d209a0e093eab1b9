#include "platform/ExtendedAttributes.h"

#include <sys/types.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

#include "platform/UnixRights.h"

namespace plat {

namespace {

// Reads a list or a value of extended attributes into buffer, growing it as the system asks.
template <typename Read>
int ReadAttributeBytes(std::vector<char>& buffer, ssize_t& size, Read read)
{
	if (buffer.size() < 1024)
		buffer.resize(1024);
	for (;;)
	{
		size = read(buffer.data(), buffer.size());
		if (size >= 0)
			return 0;
		if (errno != ERANGE)
			return errno;
		const ssize_t needed = read(nullptr, 0);
		if (needed < 0)
			return errno;
		buffer.resize(size_t(needed) + 1024);
	}
}

}  // namespace

int CopyExtendedAttributes(int fromFd, const char* from, int toFd, const char* to, bool isLink, bool strict,
	std::vector<char>& names, std::vector<char>& value)
{
	ssize_t listSize = 0;
	int error = ReadAttributeBytes(names, listSize, [&](char* buffer, size_t size) {
		return fromFd >= 0 ? flistxattr(fromFd, buffer, size) : llistxattr(from, buffer, size);
	});
	if (FileSystemLacks(error, fromFd, from))
		return 0;
	if (error != 0)
		return strict ? error : 0;
	for (ssize_t at = 0; at < listSize;)
	{
		const char* name = names.data() + at;
		at += ssize_t(strnlen(name, size_t(listSize - at))) + 1;
		ssize_t valueSize = 0;
		error = ReadAttributeBytes(value, valueSize, [&](char* buffer, size_t size) {
			return fromFd >= 0 ? fgetxattr(fromFd, name, buffer, size) : lgetxattr(from, name, buffer, size);
		});
		if (error == ENODATA)
			continue;
		if (error != 0)
		{
			if (strict)
				return error;
			continue;
		}
		const int result = toFd >= 0 ? fsetxattr(toFd, name, value.data(), size_t(valueSize), 0) :
									   lsetxattr(to, name, value.data(), size_t(valueSize), 0);
		if (result == 0 || !strict)
			continue;
		const int refusal = errno;
		// The cheap tests first: asking the file system what it keeps costs a statfs.
		const bool userAttribute = std::strncmp(name, "user.", 5) == 0;
		if ((refusal == EPERM && isLink) || (!userAttribute && (refusal == EPERM || refusal == EACCES)) ||
			FileSystemLacks(refusal, toFd, to))
			continue;
		return refusal;
	}
	return 0;
}

}  // namespace plat
