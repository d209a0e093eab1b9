#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "common/VTestEnvironment.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VErrorTaskContext.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

constexpr VError kErrorA = MakeVError(kVELK_SIGNATURE, 9001);
constexpr VError kErrorB = MakeVError(kVELK_SIGNATURE, 9002);
constexpr VError kErrorC = MakeVError(kVELK_SIGNATURE, 9003);

std::vector<VError> Codes(const VErrorContext* context)
{
	std::vector<VError> codes;
	if (context != nullptr)
	{
		for (const VRefPtr<VErrorBase>& error : context->GetErrors())
			codes.push_back(error->GetCode());
	}
	return codes;
}

// Pushes a new error of code on a stand-alone task context and reports whether it was silent.
bool PushNew(VErrorTaskContext& tasks, VError code)
{
	VErrorBase* error = new VErrorBase(code);
	bool silent = false;
	EXPECT_TRUE(tasks.PushError(error, &silent));
	error->Release();
	return silent;
}

TEST(StErrorContextInstaller, ScopeEndPassesOrDropsErrorsByKeepFlag)
{
	struct Row
	{
		bool keep;
		bool silent;
		std::vector<VError> expectedInOuter;
	};
	const Row rows[] = {
		{true, false, {kErrorC, kErrorA, kErrorB}},
		{true, true, {kErrorC, kErrorA, kErrorB}},
		{false, false, {kErrorC}},
		{false, true, {kErrorC}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << "keep " << row.keep << ", silent " << row.silent);
		StErrorContextInstaller outer(true, false);
		_ThrowError(kErrorC);
		{
			StErrorContextInstaller inner(row.keep, row.silent);
			_ThrowError(kErrorA);
			_ThrowError(kErrorB);
			EXPECT_EQ(Codes(inner.GetContext()), (std::vector<VError>{kErrorA, kErrorB}));
			EXPECT_EQ(VTask::GetLastError(), kErrorB);
		}
		EXPECT_EQ(Codes(outer.GetContext()), row.expectedInOuter);
		EXPECT_EQ(VTask::GetLastError(), row.expectedInOuter.back());
	}
}

TEST(StErrorContextInstaller, FilteredCodeDropsTheWholeScopeIncludingEarlierErrors)
{
	StErrorContextInstaller outer(true, false);
	{
		StErrorContextInstaller filtered(VE_STREAM_EOF, 0);
		_ThrowError(kErrorA);
		EXPECT_FALSE(filtered.GetContext()->IsSilent());
		_ThrowError(VE_STREAM_EOF);
		EXPECT_TRUE(filtered.GetContext()->IsSilent());
		EXPECT_FALSE(filtered.GetContext()->IsKeepingErrors());
		_ThrowError(kErrorB);
		EXPECT_EQ(filtered.GetLastError(), kErrorB);
	}
	EXPECT_TRUE(outer.GetContext()->IsEmpty());
}

TEST(StErrorContextInstaller, FilterListTakesEveryCodeUpToTheEndingZero)
{
	StErrorContextInstaller scope(kErrorA, kErrorB, VE_STREAM_EOF, 0, kErrorC);
	VErrorContext* context = scope.GetContext();
	EXPECT_TRUE(context->IsErrorFiltered(kErrorA));
	EXPECT_TRUE(context->IsErrorFiltered(kErrorB));
	EXPECT_TRUE(context->IsErrorFiltered(VE_STREAM_EOF));
	EXPECT_FALSE(context->IsErrorFiltered(kErrorC));
	EXPECT_FALSE(context->IsErrorFiltered(VE_OK));
}

TEST(StErrorContextInstaller, FilteredCodeOfOuterScopeSilencesAndDropsInnerScope)
{
	StErrorContextInstaller base(true, false);
	{
		StErrorContextInstaller outer(kErrorA, 0);
		{
			StErrorContextInstaller inner(true, false);
			_ThrowError(kErrorB);
			_ThrowError(kErrorA);
			EXPECT_TRUE(inner.GetContext()->IsSilent());
			EXPECT_FALSE(inner.GetContext()->IsKeepingErrors());
		}
		EXPECT_TRUE(outer.GetContext()->IsEmpty());
		EXPECT_FALSE(outer.GetContext()->IsSilent());
		_ThrowError(kErrorC);
	}
	EXPECT_EQ(Codes(base.GetContext()), (std::vector<VError>{kErrorC}));
}

TEST(VErrorTaskContext, PushReportsSilenceFromTheStack)
{
	struct Row
	{
		const char* name;
		// Contexts from the bottom: 'n' normal, 's' silent, 'f' normal filtering kErrorA.
		const char* stack;
		VError raised;
		bool expectSilent;
		bool expectTopSilentAfter;
		bool expectTopKeepingAfter;
	};
	const Row rows[] = {
		{"plain scope", "n", kErrorA, false, false, true},
		{"silent scope", "s", kErrorA, true, true, true},
		{"silent scope below", "sn", kErrorA, true, false, true},
		{"filter below", "fn", kErrorA, true, true, false},
		{"filter in the scope itself", "f", kErrorA, true, true, false},
		{"silent scope between stops the search", "fsn", kErrorA, true, false, true},
		{"other code passes the filter", "fn", kErrorB, false, false, true},
		{"empty stack gets a base context", "", kErrorA, false, false, true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VErrorTaskContext tasks;
		for (const char* kind = row.stack; *kind != 0; ++kind)
		{
			VErrorContext* context = tasks.PushNewContext(true, *kind == 's');
			if (*kind == 'f')
				context->AddFilteredCode(kErrorA);
		}
		EXPECT_EQ(PushNew(tasks, row.raised), row.expectSilent);
		VErrorContext* top = tasks.GetTopContext();
		ASSERT_NE(top, nullptr);
		EXPECT_EQ(top->IsSilent(), row.expectTopSilentAfter);
		EXPECT_EQ(top->IsKeepingErrors(), row.expectTopKeepingAfter);
		EXPECT_EQ(tasks.GetLastError(), row.raised);
	}
}

TEST(VErrorTaskContext, LastPoppedScopeKeepsItsErrorsAtBaseLevel)
{
	VErrorTaskContext tasks;
	tasks.PushNewContext(true, true);
	PushNew(tasks, kErrorA);
	PushNew(tasks, kErrorB);
	tasks.PopContext();
	ASSERT_EQ(tasks.GetContextCount(), 1u);
	EXPECT_EQ(tasks.GetLastError(), kErrorB);
	VErrorContext* base = tasks.GetTopContext();
	EXPECT_EQ(Codes(base), (std::vector<VError>{kErrorA, kErrorB}));
	EXPECT_FALSE(base->IsSilent());
	EXPECT_TRUE(base->IsKeepingErrors());

	// A scope that does not keep its errors leaves nothing behind, and neither does an empty one.
	VErrorTaskContext dropping;
	dropping.PushNewContext(false, false);
	PushNew(dropping, kErrorA);
	dropping.PopContext();
	EXPECT_EQ(dropping.GetContextCount(), 0u);
	EXPECT_EQ(dropping.GetLastError(), VE_OK);
}

TEST(VErrorTaskContext, PoppingPassesErrorsAndMemoryFlagDown)
{
	VErrorTaskContext tasks;
	tasks.PushNewContext(true, false);
	PushNew(tasks, kErrorC);
	tasks.PushNewContext(true, false);
	PushNew(tasks, kErrorA);
	PushNew(tasks, VE_MEMORY_FULL);
	EXPECT_TRUE(tasks.FailedForMemory());
	tasks.PopContext();
	EXPECT_EQ(Codes(tasks.GetTopContext()), (std::vector<VError>{kErrorC, kErrorA, VE_MEMORY_FULL}));
	EXPECT_TRUE(tasks.FailedForMemory());
	ASSERT_NE(tasks.Find(kErrorA), nullptr);
	EXPECT_EQ(tasks.Find(kErrorB), nullptr);
}

TEST(VErrorTaskContext, QueriesAcrossTheStack)
{
	VErrorTaskContext tasks;
	tasks.PushNewContext(true, false);
	PushNew(tasks, kErrorA);
	tasks.PushNewContext(true, false)->AddFilteredCode(kErrorC);
	PushNew(tasks, kErrorB);
	tasks.PushNewContext(true, false);

	EXPECT_EQ(tasks.GetLastError(), VE_OK);  // the top context only
	ASSERT_NE(tasks.GetFirst(), nullptr);
	EXPECT_EQ(tasks.GetFirst()->GetCode(), kErrorA);
	ASSERT_NE(tasks.GetLast(), nullptr);
	EXPECT_EQ(tasks.GetLast()->GetCode(), kErrorB);
	EXPECT_TRUE(tasks.IsErrorFiltered(kErrorC));
	EXPECT_FALSE(tasks.IsErrorFiltered(kErrorA));

	VErrorContext all;
	tasks.GetErrors(all);
	EXPECT_EQ(Codes(&all), (std::vector<VError>{kErrorA, kErrorB}));

	std::vector<VRefPtr<VErrorBase>> front;
	front.emplace_back(new VErrorBase(kErrorC), true);
	tasks.InsertFrontErrors(front);
	EXPECT_EQ(tasks.GetFirst()->GetCode(), kErrorC);
}

TEST(VErrorTaskContext, MergeAndFlushLastContext)
{
	{
		SCOPED_TRACE("keeping top passes its errors down and is emptied");
		VErrorTaskContext tasks;
		tasks.PushNewContext(true, false);
		PushNew(tasks, kErrorC);
		tasks.PushNewContext(true, false);
		PushNew(tasks, kErrorA);
		tasks.MergeAndFlushLastContext(false);
		ASSERT_EQ(tasks.GetContextCount(), 2u);
		EXPECT_TRUE(tasks.GetTopContext()->IsEmpty());
		EXPECT_FALSE(tasks.GetTopContext()->IsSilent());
		VErrorContext all;
		tasks.GetErrors(all);
		EXPECT_EQ(Codes(&all), (std::vector<VError>{kErrorC, kErrorA}));
	}
	{
		SCOPED_TRACE("only context: a copy goes to the bottom; the top turns silent when logged");
		VErrorTaskContext tasks;
		tasks.PushNewContext(true, false);
		PushNew(tasks, kErrorA);
		tasks.MergeAndFlushLastContext(true);
		ASSERT_EQ(tasks.GetContextCount(), 2u);
		EXPECT_TRUE(tasks.GetTopContext()->IsSilent());
		EXPECT_EQ(tasks.GetFirst()->GetCode(), kErrorA);
	}
	{
		SCOPED_TRACE("a top that drops errors just loses them");
		VErrorTaskContext tasks;
		tasks.PushNewContext(false, false);
		PushNew(tasks, kErrorA);
		tasks.MergeAndFlushLastContext(false);
		EXPECT_EQ(tasks.GetContextCount(), 1u);
		EXPECT_EQ(tasks.GetFirst(), nullptr);
	}
}

TEST(VErrorTaskContext, RecyclesOnlyPlainEmptyContexts)
{
	VErrorTaskContext tasks;
	VErrorContext* first = tasks.PushNewContext(true, true);
	first->Retain();
	tasks.PopContext();
	tasks.RecycleContext(first);
	VErrorContext* reused = tasks.PushNewContext(false, false);
	EXPECT_EQ(reused, first);
	EXPECT_FALSE(reused->IsSilent());
	EXPECT_FALSE(reused->IsKeepingErrors());

	// A context that filters codes must not come back as the next scope's.
	reused->AddFilteredCode(kErrorA);
	reused->Retain();
	tasks.PopContext();
	tasks.RecycleContext(reused);
	VErrorContext* next = tasks.PushNewContext(true, false);
	EXPECT_FALSE(next->IsErrorFiltered(kErrorA));
	EXPECT_TRUE(next->IsKeepingErrors());
}

TEST(VErrorContext, FindAnyAndCopies)
{
	VErrorContext context(true, true);
	const VError none[] = {VE_OK};
	const VError someB[] = {kErrorC, kErrorB, VE_OK};
	const VError onlyC[] = {kErrorC, VE_OK};
	EXPECT_FALSE(context.FindAny(someB));
	VErrorBase* a = new VErrorBase(kErrorA);
	VErrorBase* b = new VErrorBase(kErrorB);
	context.PushError(a);
	context.PushError(b);
	EXPECT_FALSE(context.FindAny(none));
	EXPECT_FALSE(context.FindAny(nullptr));
	EXPECT_TRUE(context.FindAny(someB));
	EXPECT_FALSE(context.FindAny(onlyC));
	EXPECT_FALSE(context.PushError(nullptr));
	EXPECT_EQ(context.GetErrorCount(), 2u);
	EXPECT_EQ(a->GetRefCount(), 2);

	context.AddFilteredCode(kErrorC);
	VErrorContext copy(context);
	EXPECT_EQ(Codes(&copy), (std::vector<VError>{kErrorA, kErrorB}));
	EXPECT_FALSE(copy.IsSilent());
	EXPECT_TRUE(copy.IsKeepingErrors());
	EXPECT_FALSE(copy.IsErrorFiltered(kErrorC));
	EXPECT_EQ(a->GetRefCount(), 3);
	context.Flush();
	EXPECT_TRUE(context.IsEmpty());
	EXPECT_EQ(a->GetRefCount(), 2);
	a->Release();
	b->Release();
}

TEST(ThrowError, RecordsOnlyWhileAProcessExists)
{
	StErrorContextInstaller scope(false, false);
	{
		StNoProcessInstance noProcess;
		_ThrowError(kErrorA);
	}
	EXPECT_EQ(scope.GetLastError(), VE_OK);

	VString first("first");
	VString third("third");
	_ThrowError(kErrorB, &first, nullptr, &third);
	ASSERT_EQ(scope.GetLastError(), kErrorB);
	VErrorBase* error = scope.GetLast();
	VString value;
	ASSERT_TRUE(error->GetString(VString("p1"), value));
	EXPECT_TRUE(value.EqualToStringRaw(first));
	EXPECT_FALSE(error->GetString(VString("p2"), value));
	ASSERT_TRUE(error->GetString(VString("p3"), value));
	EXPECT_TRUE(value.EqualToStringRaw(third));
	// One reference left: the context's.
	EXPECT_EQ(error->GetRefCount(), 1);
	int32 id = 0;
	error->GetTaskName(value, &id);
	EXPECT_EQ(id, VTask::GetCurrent()->GetID());
}

// Building the error object makes strings too; with memory exhausted they fail and raise again. That must
// not recurse: the one error that reaches the scope is the outer one.
TEST(ThrowError, ExhaustedMemoryRecordsOneErrorWithoutRecursing)
{
	StErrorContextInstaller scope(false, false);
	VCppMemMgr* previous = VObject::sCppMemMgr;
	// A manager with no backend refuses every block.
	VCppMemMgr* refusing = new VCppMemMgr(EAllocatorKind(99));
	VObject::sCppMemMgr = refusing;
	{
		VString text("cannot be stored");
		EXPECT_TRUE(text.IsEmpty());
	}
	VObject::sCppMemMgr = previous;
	delete refusing;
	EXPECT_EQ(Codes(scope.GetContext()), std::vector<VError>{VE_STRING_ALLOC_FAILED});
}

TEST(ThrowError, ThreadWithoutTaskRecordsNothingAndScopesStandAlone)
{
	VError seen = kErrorC;
	bool hadContext = false;
	std::thread other([&] {
		StErrorContextInstaller scope(kErrorA, 0);
		hadContext = scope.GetContext() != nullptr;
		_ThrowError(kErrorB);
		seen = scope.GetLastError();
		EXPECT_EQ(VTask::GetLastError(), VE_OK);
		EXPECT_FALSE(VTask::PushError(nullptr));
	});
	other.join();
	EXPECT_TRUE(hadContext);
	EXPECT_EQ(seen, VE_OK);
}

}  // namespace
}  // namespace velk
