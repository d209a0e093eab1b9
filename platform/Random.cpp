#include "platform/Random.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace plat {

namespace {

void FillFromDevice(unsigned char* bytes, size_t count)
{
	int device = -1;
	do
		device = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
	while (device < 0 && errno == EINTR);
	if (device < 0)
		std::abort();
	while (count > 0)
	{
		ssize_t got = ::read(device, bytes, count);
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			std::abort();
		bytes += got;
		count -= size_t(got);
	}
	::close(device);
}

}  // namespace

void FillSecureRandom(void* buffer, size_t count)
{
	unsigned char* bytes = static_cast<unsigned char*>(buffer);
	while (count > 0)
	{
		ssize_t got = ::getrandom(bytes, count, 0);
		if (got < 0)
		{
			if (errno == EINTR)
				continue;
			if (errno == ENOSYS)
			{
				FillFromDevice(bytes, count);
				return;
			}
			std::abort();
		}
		bytes += got;
		count -= size_t(got);
	}
}

void FillRandomUUID(uint8_t* bytes)
{
	FillSecureRandom(bytes, 16);
	bytes[6] = uint8_t(0x40 | (bytes[6] & 0x0F));
	bytes[8] = uint8_t(0x80 | (bytes[8] & 0x3F));
}

int32_t NextPseudoRandom()
{
	return int32_t(::random());
}

}  // namespace plat
