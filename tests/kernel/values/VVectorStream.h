// A stream over a byte vector for the stream tests: reads and writes at the stream's position, and ends
// its data (velk 200) when a read asks for more than is left.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/strings/VString.h"
#include "kernel/values/VStream.h"

namespace velk::test {

class VVectorStream : public VStream
{
public:
	VVectorStream() = default;
	explicit VVectorStream(std::vector<uint8> bytes) : fBytes(std::move(bytes)) {}
	explicit VVectorStream(const std::string& bytes) : fBytes(bytes.begin(), bytes.end()) {}

	std::vector<uint8> fBytes;
	// When set, the size the stream claims to have: reads still end with the bytes.
	int64 fClaimedSize = -1;

protected:
	VError DoOpenWriting() override
	{
		fBytes.clear();
		return VE_OK;
	}
	VError DoPutData(const void* data, size_t count) override
	{
		const size_t pos = size_t(GetPos());
		if (fBytes.size() < pos + count)
			fBytes.resize(pos + count);
		if (count > 0)
			std::memcpy(fBytes.data() + pos, data, count);
		return VE_OK;
	}
	VError DoGetData(void* buffer, size_t* ioCount) override
	{
		const size_t pos = size_t(GetPos());
		const size_t left = pos < fBytes.size() ? fBytes.size() - pos : 0;
		const size_t count = std::min(*ioCount, left);
		if (count > 0)
			std::memcpy(buffer, fBytes.data() + pos, count);
		const bool shortRead = count < *ioCount;
		*ioCount = count;
		return shortRead ? VE_STREAM_EOF : VE_OK;
	}
	int64 DoGetSize() override { return fClaimedSize >= 0 ? fClaimedSize : int64(fBytes.size()); }
	VError DoSetSize(int64 size) override
	{
		fBytes.resize(size_t(size));
		return VE_OK;
	}
	VError DoSetPos(int64 pos) override { return pos > DoGetSize() ? VE_STREAM_EOF : VE_OK; }
};

inline std::u16string Units(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

}  // namespace velk::test
