#include "kernel/memory/SharedBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace velk {
namespace {

TEST(SharedBufferTest, CreateLaysOutSizeCountAndPayload)
{
	for (size_t size : {size_t(0), size_t(1), size_t(13), size_t(4096)})
	{
		SCOPED_TRACE(size);
		std::vector<uint8> source(size);
		for (size_t i = 0; i < size; ++i)
			source[i] = uint8(i * 7);
		SharedBuffer* buffer = SharedBuffer::Create(source.data(), size);
		ASSERT_NE(buffer, nullptr);
		EXPECT_EQ(buffer->GetSize(), size);
		EXPECT_EQ(buffer->GetRefCount(), 1);
		EXPECT_EQ(buffer->GetData() - reinterpret_cast<uint8*>(buffer), 12);
		EXPECT_TRUE(size == 0 || std::memcmp(buffer->GetData(), source.data(), size) == 0);
		// The 3 spare bytes behind the payload are part of the block.
		std::memset(buffer->GetData(), 0, size + 3);
		EXPECT_EQ(buffer->Release(), 0);
	}
}

TEST(SharedBufferTest, RefusesImpossibleRequests)
{
	const size_t kMax = std::numeric_limits<size_t>::max();
	for (size_t size : {kMax, kMax - 14, kMax - 1})
		EXPECT_EQ(SharedBuffer::Create(size), nullptr) << size;
	EXPECT_EQ(SharedBuffer::Create(nullptr, 4), nullptr);

	SharedBuffer* empty = SharedBuffer::Create(nullptr, 0);
	ASSERT_NE(empty, nullptr);
	EXPECT_EQ(empty->GetSize(), 0u);
	empty->Release();
}

TEST(SharedBufferTest, HoldersOnManyThreadsFreeItOnce)
{
	SharedBuffer* buffer = SharedBuffer::Create(64);
	ASSERT_NE(buffer, nullptr);
	EXPECT_EQ(buffer->Retain(), 2);
	EXPECT_EQ(buffer->Release(), 1);

	std::vector<std::thread> threads;
	for (int t = 0; t < 32; ++t)
	{
		buffer->Retain();
		threads.emplace_back([buffer] {
			for (int i = 0; i < 1000; ++i)
			{
				buffer->Retain();
				buffer->GetData()[i % 64] = uint8(i);
				buffer->Release();
			}
			buffer->Release();
		});
	}
	buffer->Release();
	for (std::thread& thread : threads)
		thread.join();
	// A block freed twice, or never, is reported by the address sanitizer.
}

}  // namespace
}  // namespace velk
