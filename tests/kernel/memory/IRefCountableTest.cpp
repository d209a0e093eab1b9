#include "kernel/memory/IRefCountable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "kernel/memory/VRefPtr.h"

namespace velk {
namespace {

class VCounted : public IRefCountable
{
public:
	explicit VCounted(std::atomic<int>* destructions) : fDestructions(destructions) {}
	~VCounted() override { fDestructions->fetch_add(1); }

private:
	std::atomic<int>* fDestructions;
};

TEST(IRefCountableTest, SixtyFourThreadsShareOneObject)
{
	constexpr int kThreads = 64;
	constexpr int kRounds = 2000;
	std::atomic<int> destructions{0};
	std::atomic<int> zeroResults{0};
	VCounted* object = new VCounted(&destructions);

	std::vector<std::thread> threads;
	for (int t = 0; t < kThreads; ++t)
	{
		object->Retain();  // the thread's own reference
		threads.emplace_back([&] {
			for (int i = 0; i < kRounds; ++i)
			{
				object->Retain();
				if (object->Release() == 0)
					zeroResults.fetch_add(1);
			}
			if (object->Release() == 0)
				zeroResults.fetch_add(1);
		});
	}
	if (object->Release() == 0)
		zeroResults.fetch_add(1);
	for (std::thread& thread : threads)
		thread.join();

	EXPECT_EQ(destructions.load(), 1);
	EXPECT_EQ(zeroResults.load(), 1);
}

TEST(VRefPtrTest, CopyMoveAdoptAndForget)
{
	std::atomic<int> destructions{0};
	VCounted* object = new VCounted(&destructions);
	{
		VRefPtr<VCounted> adopted(object, true);
		VRefPtr<VCounted> copy(adopted);
		VRefPtr<VCounted> moved(std::move(copy));
		EXPECT_EQ(copy.Get(), nullptr);
		EXPECT_EQ(object->GetRefCount(), 2);

		moved.Set(moved.Get());	 // re-holding the same object keeps it alive
		VRefPtr<VCounted> retaining(object);
		retaining = std::move(moved);
		EXPECT_EQ(object->GetRefCount(), 2);

		VRefPtr<VCounted> again;
		again.Adopt(retaining.Forget());
		EXPECT_EQ(retaining.Get(), nullptr);
		again.Clear();
		EXPECT_EQ(object->GetRefCount(), 1);
		EXPECT_EQ(destructions.load(), 0);
	}
	EXPECT_EQ(destructions.load(), 1);
}

}  // namespace
}  // namespace velk
