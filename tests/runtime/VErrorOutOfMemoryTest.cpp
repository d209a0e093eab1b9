// Raising and collecting errors while the thread's allocations fail: no language exception leaves the
// toolbox, what was stored stays findable, and the thread records the next error as usual.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "common/VFailingAllocations.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/ILocalizer.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VErrorTaskContext.h"
#include "runtime/VTask.h"
#include "runtime/mac/XMacStackCrawl.h"

namespace velk {
namespace {

constexpr VError kRaised = MakeVError(kVELK_SIGNATURE, 9101);
constexpr VError kAfter = MakeVError(kVELK_SIGNATURE, 9102);
constexpr OsType kDrillSignature = FourCharCode("DrIl");

class SilentLocalizer : public ILocalizer
{
public:
	uint32 GetLocalizationLanguage() override { return 1033; }
	bool LocalizeErrorMessage(VError, VString&) override { return false; }
	bool LocalizeStringWithKey(const VString&, VString&) override { return false; }
	bool LocalizeStringWithDotStringsKey(const VString&, VString&) override { return false; }
	const VValueBag* RetainGroupBag(const VString&) override { return nullptr; }
};

// The outcome a user may rely on: the error is there, or the scope says memory ran out.
bool RecordedOrFlagged(const StErrorContextInstaller& scope, VError code)
{
	VErrorContext* context = scope.GetContext();
	return scope.Find(code) != nullptr || scope.Find(VE_MEMORY_FULL) != nullptr || context->FailedForMemory();
}

TEST(ErrorsOutOfMemory, EveryFailedAllocationLeavesAConsistentStateAndTheNextErrorRecorded)
{
	const VString p1("first text of the failure");
	const VString p2("second");
	const VString p3("third");
	SilentLocalizer localizer;
	VErrorBase* premade = new VErrorBase(kRaised);

	struct Row
	{
		const char* name;
		// Runs with allocations failing from some point on; answers whether what it left is consistent.
		// It allocates nothing of its own, so that each refusal lands in the toolbox.
		std::function<bool(StErrorContextInstaller& scope)> run;
	};
	const Row rows[] = {
		{"raise with three texts",
			[&](StErrorContextInstaller& scope) {
				_ThrowError(kRaised, &p1, &p2, &p3);
				return RecordedOrFlagged(scope, kRaised);
			}},
		{"inner scope passes its errors on",
			[&](StErrorContextInstaller& scope) {
				{
					StErrorContextInstaller inner(true, false);
					_ThrowError(kRaised, &p1);
				}
				return RecordedOrFlagged(scope, kRaised);
			}},
		{"scope filtering the raised code",
			[&](StErrorContextInstaller& scope) {
				{
					StErrorContextInstaller expecting(kRaised, 0);
					_ThrowError(kRaised);
				}
				// The code is dropped unless the filter could not be added, which is reported.
				return scope.Find(kRaised) == nullptr || scope.Find(VE_MEMORY_FULL) != nullptr;
			}},
		{"last scope of a task keeps its errors at base level",
			[&](StErrorContextInstaller&) {
				VErrorTaskContext tasks;
				VErrorContext* context = tasks.PushNewContext(true, true);
				bool stored = context != nullptr && tasks.PushError(premade);
				tasks.PopContext();
				return !stored || (tasks.GetContextCount() == 1 && tasks.GetLastError() == kRaised
					&& !tasks.GetTopContext()->IsSilent());
			}},
		{"merge and flush of the only context",
			[&](StErrorContextInstaller&) {
				VErrorTaskContext tasks;
				bool stored = tasks.PushError(premade);
				tasks.MergeAndFlushLastContext(false);
				return !stored || tasks.Find(kRaised) != nullptr;
			}},
		{"copy of a context",
			[&](StErrorContextInstaller&) {
				VErrorContext source;
				bool stored = source.PushError(premade);
				VErrorContext copy(source);
				return !stored || copy.GetLastError() == kRaised || (copy.IsEmpty() && copy.FailedForMemory());
			}},
		{"parameters and copies of an error",
			[&](StErrorContextInstaller&) {
				VErrorBase error(kRaised);
				int32 before = 0;
				bool hadCode = error.GetLong(VString("errCode"), before);
				bool set = error.SetString(VString("path"), p1);
				VString value;
				bool consistent = set == error.GetString(VString("path"), value);
				VErrorBase copy(error);
				int32 copied = 0;
				return consistent && (!hadCode || before == ERRCODE_NUMBER(kRaised))
					&& copy.GetCode() == kRaised && (!copy.GetLong(VString("errCode"), copied) || copied == before);
			}},
		{"stack crawl loaded on demand",
			[&](StErrorContextInstaller&) {
				VErrorBase error(kRaised);
				bool loaded = error.LoadStackCrawl(0, 8);
				return loaded == (error.GetStackCrawl() != nullptr)
					&& (!loaded || error.GetStackCrawl()->GetCount() > 0);
			}},
		{"localizer registration",
			[&](StErrorContextInstaller&) {
				bool registered = VErrorBase::RegisterLocalizer(kDrillSignature, &localizer);
				bool consistent = registered == (VErrorBase::GetLocalizer(kDrillSignature) == &localizer);
				VErrorBase::UnregisterLocalizer(kDrillSignature);
				return consistent;
			}},
	};

	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		long runs = 0;
		bool refused = true;
		for (long allowed = 0; refused && allowed < 1000; ++allowed, ++runs)
		{
			StErrorContextInstaller scope(false, false);
			bool consistent = false;
			{
				test::StFailingAllocations failing(allowed);
				consistent = row.run(scope);
				refused = failing.GetRefusedCount() > 0;
			}
			EXPECT_TRUE(consistent) << "allocations let through: " << allowed;
			_ThrowError(kAfter);
			EXPECT_EQ(scope.GetLastError(), kAfter) << "allocations let through: " << allowed;
		}
		EXPECT_GT(runs, 1) << "the path must allocate to be drilled";
	}
	premade->Release();
}

TEST(ErrorsOutOfMemory, OneSharedErrorStandsInForErrorsThatCannotBeMade)
{
	constexpr int kRaises = 200;
	VErrorBase* shared = nullptr;
	int32 countWhileHeld = 0;
	{
		StErrorContextInstaller scope(false, false);
		// Room for every push, so that only the error objects themselves go short.
		for (int i = 0; i < kRaises; ++i)
			_ThrowError(kAfter);
		scope.GetContext()->Flush();
		{
			test::StFailingAllocations failing(0);
			for (int i = 0; i < kRaises; ++i)
				_ThrowError(kRaised);
		}
		VErrorContext* context = scope.GetContext();
		ASSERT_EQ(context->GetErrorCount(), size_t(kRaises));
		shared = context->GetFirst();
		for (const VRefPtr<VErrorBase>& error : context->GetErrors())
			ASSERT_EQ(error.Get(), shared);
		EXPECT_EQ(shared->GetCode(), VE_MEMORY_FULL);
		EXPECT_TRUE(context->FailedForMemory());
		int32 id = -1;
		VString name;
		shared->GetTaskName(name, &id);
		EXPECT_EQ(id, 0);
		countWhileHeld = shared->GetRefCount();
	}
	// Every push was released with the scope; the error itself lives on for the next shortage.
	EXPECT_EQ(shared->GetRefCount(), countWhileHeld - kRaises);
	EXPECT_GE(shared->GetRefCount(), 1);

	// A new scope has room for the error that reports the shortage.
	StErrorContextInstaller scope(false, false);
	{
		test::StFailingAllocations failing(0);
		_ThrowError(kRaised);
	}
	EXPECT_EQ(scope.GetLast(), shared);
	_ThrowError(kAfter);
	EXPECT_EQ(scope.GetLastError(), kAfter);
}

TEST(ErrorsOutOfMemory, ScopeThatCannotOpenLeavesErrorsToTheEnclosingOne)
{
	StErrorContextInstaller outer(false, false);
	VErrorTaskContext* tasks = VTask::GetCurrent()->GetErrorContext(false);
	ASSERT_NE(tasks, nullptr);
	// Use up the spare so that the inner scope must allocate its context.
	StErrorContextInstaller holder(true, false);
	size_t depth = tasks->GetContextCount();
	{
		test::StFailingAllocations failing(0);
		StErrorContextInstaller inner(true, false);
		EXPECT_EQ(inner.GetContext(), nullptr);
		EXPECT_EQ(tasks->GetContextCount(), depth);
	}
	EXPECT_EQ(tasks->GetContextCount(), depth);
	EXPECT_EQ(holder.GetLastError(), VE_MEMORY_FULL);
	_ThrowError(kAfter);
	EXPECT_EQ(holder.GetLastError(), kAfter);
}

}  // namespace
}  // namespace velk
