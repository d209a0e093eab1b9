// Language-aware comparisons: through the task's international manager (case ignored without diacritics,
// wildcard patterns), unit by unit when there is no manager, the value-model forms against other strings
// and flat forms, and the managers the process and its tasks hold.
#include "kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/VFlatBytes.h"
#include "common/VTestEnvironment.h"
#include "kernel/intl/VIntlMgr.h"
#include "kernel/values/VCompareOptions.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

TEST(VStringCompareTest, CaseCountsOnlyWithDiacritics)
{
	ASSERT_NE(VTask::GetCurrentIntlManager(), nullptr);
	struct Row
	{
		const char16_t* a;
		const char16_t* b;
		CompareResult without;
		CompareResult with;
	};
	const Row rows[] = {
		{u"abc", u"ABC", CR_EQUAL, CR_SMALLER},  // lower case sorts first
		{u"\u00C9t\u00C9", u"\u00E9t\u00E9", CR_EQUAL, CR_BIGGER},
		{u"\u03A3\u039F\u03A6\u039F\u03A3", u"\u03C3\u03BF\u03C6\u03BF\u03C2", CR_EQUAL, CR_BIGGER},  // final sigma too
		{u"\u0414\u043E\u043C", u"\u0434\u041E\u041C", CR_EQUAL, CR_BIGGER},
		{u"\u0100\u0102", u"\u0101\u0103", CR_EQUAL, CR_BIGGER},
		{u"\uFF21", u"\uFF41", CR_EQUAL, CR_BIGGER},
		{u"abc", u"abd", CR_SMALLER, CR_SMALLER},
		{u"B", u"a", CR_BIGGER, CR_BIGGER},
		{u"", u"a", CR_SMALLER, CR_SMALLER},
		{u"ab", u"AB ", CR_SMALLER, CR_SMALLER},
		{u"", u"", CR_EQUAL, CR_EQUAL},
	};
	for (const Row& r : rows)
	{
		const VString a(r.a);
		const VString b(r.b);
		EXPECT_EQ(a.CompareToString(b, false), r.without) << static_cast<const void*>(r.a);
		EXPECT_EQ(a.CompareToString(b, true), r.with) << static_cast<const void*>(r.a);
		EXPECT_EQ(a.EqualToString(b, false), r.without == CR_EQUAL);
		EXPECT_EQ(a.EqualToString(b, true), r.with == CR_EQUAL);
		EXPECT_EQ(b.CompareToString(a, false), VValue::InvertCompResult(r.without));
	}
	EXPECT_TRUE(VString(true).EqualToString(VString(), true));
}

TEST(VStringCompareTest, WildcardPatterns)
{
	const UniChar wild = VTask::GetCurrentIntlManager()->GetWildChar();
	ASSERT_EQ(wild, u'@');
	struct Row
	{
		const char16_t* text;
		const char16_t* pattern;
		CompareResult result;
	};
	const Row rows[] = {
		{u"abcdef", u"a@d@f", CR_EQUAL}, {u"abcdef", u"a@x@f", CR_SMALLER}, {u"abc", u"@", CR_EQUAL},
		{u"", u"@", CR_EQUAL},           {u"abc", u"ab", CR_BIGGER},        {u"abcdcd", u"@cd", CR_EQUAL},
		{u"abcdx", u"@cd", CR_SMALLER},  {u"ABCDEF", u"a@@F", CR_EQUAL},    {u"abc", u"", CR_BIGGER},
		{u"\u00C4rger", u"\u00E4r@", CR_EQUAL}, {u"xay", u"@A@", CR_EQUAL},
	};
	for (const Row& r : rows)
	{
		const VString text(r.text);
		const VString pattern(r.pattern);
		EXPECT_EQ(text.CompareToString_Like(pattern, false), r.result) << static_cast<const void*>(r.pattern);
		EXPECT_EQ(text.EqualToString_Like(pattern, false), r.result == CR_EQUAL) << static_cast<const void*>(r.pattern);
	}
	EXPECT_TRUE(VString(u"Hello").EqualToString_Like(VString(u"HEL@"), false));
	EXPECT_FALSE(VString(u"Hello").EqualToString_Like(VString(u"HEL@"), true));
	EXPECT_TRUE(VString(u"He\x01llo").EqualToString_Like(VString(u"Hello"), true));  // controls are skipped
	EXPECT_FALSE(VString(u"He\tllo").EqualToString_Like(VString(u"Hello"), true));
	EXPECT_FALSE(VString(u"Hello!").EqualToString_Like(VString(u"Hello"), false));
	EXPECT_FALSE(VString(u"\u00C4rger").EqualToString_Like(VString(u"\u00E4r@"), true));
}

// Wildcard equality skips U+0000-U+0008, U+000E-U+001F and U+007F in text and pattern alike, whether the
// quick path for plain ASCII settles it or the full match does: each ASCII row has a twin with an accented
// letter, which always takes the full match, and both must give the same answer.
TEST(VStringCompareTest, LikeEqualitySkipsControlsOnEveryPath)
{
	const VIntlMgr* intl = VTask::GetCurrentIntlManager();
	ASSERT_NE(intl, nullptr);
	struct Row
	{
		std::u16string text;
		std::u16string pattern;
		bool withDiacritics;
		bool equal;
	};
	const Row rows[] = {
		{u"a\u0001e", u"ae", true, true},              {u"a\u0001\u00E9", u"a\u00E9", true, true},
		{u"ae", u"a\u0001e", true, true},              {u"a\u00E9", u"a\u0001\u00E9", true, true},
		{u"a\u007F\u001F\u000Ee", u"ae", true, true},  {u"a\u007F\u001F\u000E\u00E9", u"a\u00E9", true, true},
		{u"\u0002\u0003", u"", true, true},              {u"\u00E9\u0002\u0003", u"\u00E9", true, true},
		{u"\u0002", u"\u0003@", true, true},             {u"\u00E9\u0002", u"\u00E9@\u0003", true, true},
		{u"\u0002", u"@\u0003", true, true},             {u"\u00E9", u"\u00E9@\u0003\u007F", true, true},
		// Tab and the line ends are not skipped.
		{u"a\te", u"ae", true, false},               {u"a\t\u00E9", u"a\u00E9", true, false},
		{u"a\re", u"ae", true, false},               {u"a\r\u00E9", u"a\u00E9", true, false},
		// Controls inside the stretch a wild char covers, and between pattern units.
		{u"x\u0001yz\u0005w", u"x@z\u0006w", true, true},  {u"\u00E9\u0001yz\u0005w", u"\u00E9@z\u0006w", true, true},
		{u"ab\u0001ab\u0001c", u"@abc", true, true},     {u"\u00E9ab\u0001ab\u0001c", u"\u00E9@abc", true, true},
		{u"abac", u"@abc", true, false},             {u"\u00E9abac", u"\u00E9@abc", true, false},
		{u"a\u0001bcd", u"a@c", true, false},          {u"\u00E9\u0001bcd", u"\u00E9@c", true, false},
		// Case counts only with diacritics, controls or not.
		{u"\u0001A\u0002E", u"ae", false, true},         {u"\u0001\u00C9\u0002E", u"\u00E9e", false, true},
		{u"\u0001A\u0002E", u"ae", true, false},         {u"\u0001\u00C9\u0002E", u"\u00E9e", true, false},
		// Texts without controls: the answers of the wildcard comparison.
		{u"abcdef", u"a@d@f", true, true},           {u"\u00E9bcdef", u"\u00E9@d@f", true, true},
		{u"abcdx", u"@cd", true, false},             {u"\u00E9bcdx", u"@cd", true, false},
		{u"ABCDEF", u"a@@F", false, true},           {u"\u00C9BCDEF", u"\u00E9@@F", false, true},
		{u"xay", u"@A@", false, true},               {u"x\u00E9y", u"@\u00C9@", false, true},
		{u"abc", u"ab", true, false},                {u"\u00E9bc", u"\u00E9b", true, false},
		{u"ab", u"abc", true, false},                {u"\u00E9b", u"\u00E9bc", true, false},
	};
	for (const Row& r : rows)
	{
		SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
		const UniChar* text = reinterpret_cast<const UniChar*>(r.text.data());
		const UniChar* pattern = reinterpret_cast<const UniChar*>(r.pattern.data());
		const int32 textSize = int32(r.text.size());
		const int32 patternSize = int32(r.pattern.size());
		EXPECT_EQ(intl->EqualString_Like(text, textSize, pattern, patternSize, r.withDiacritics), r.equal);
		const auto isControl = [](char16_t c) { return c <= 0x08 || (c >= 0x0E && c <= 0x1F) || c == 0x7F; };
		if (std::none_of(r.text.begin(), r.text.end(), isControl) && std::none_of(r.pattern.begin(), r.pattern.end(), isControl))
		{
			EXPECT_EQ(intl->CompareString_Like(text, textSize, pattern, patternSize, r.withDiacritics) == CR_EQUAL, r.equal);
		}
	}
}

TEST(VStringCompareTest, NoManagerMeansRawComparison)
{
	struct Outcome
	{
		bool hadManager = true;
		CompareResult order = CR_UNRELEVANT;
		bool equalIgnoringCase = true;
		bool equalRaw = false;
		bool likeIsLiteral = false;
		bool likeMatched = true;
	};
	Outcome outcome;
	{
		// A thread without a task, while no process object exists: nobody has a manager.
		StNoProcessInstance noProcess;
		std::thread([&outcome] {
			outcome.hadManager = VTask::GetCurrentIntlManager() != nullptr;
			outcome.order = VString(u"abc").CompareToString(VString(u"ABC"), false);
			outcome.equalIgnoringCase = VString(u"abc").EqualToString(VString(u"ABC"), false);
			outcome.equalRaw = VString(u"abc").EqualToString(VString(u"abc"), false);
			outcome.likeIsLiteral = VString(u"a@").EqualToString_Like(VString(u"a@"), false);
			outcome.likeMatched = VString(u"abc").EqualToString_Like(VString(u"a@"), false);
		}).join();
	}
	EXPECT_FALSE(outcome.hadManager);
	EXPECT_EQ(outcome.order, CR_BIGGER);
	EXPECT_FALSE(outcome.equalIgnoringCase);
	EXPECT_TRUE(outcome.equalRaw);
	EXPECT_TRUE(outcome.likeIsLiteral);
	EXPECT_FALSE(outcome.likeMatched);
}

TEST(VStringCompareTest, ThreadWithoutTaskUsesTheProcessManager)
{
	VIntlMgr* seen = nullptr;
	bool equal = false;
	std::thread([&] {
		seen = VTask::GetCurrentIntlManager();
		equal = VString(u"abc").EqualToString(VString(u"ABC"), false);
	}).join();
	EXPECT_EQ(seen, VTestEnvironment::GetProcess()->GetIntlManager());
	EXPECT_NE(seen, nullptr);
	EXPECT_TRUE(equal);
}

TEST(VStringCompareTest, ValueFormsAgainstStringsAndFlatForms)
{
	const VString abc(u"abc");
	const VString ab(u"AB");
	const VString abcd(u"ABCD");
	const std::vector<uint8> flatAB = test::FlatBytes(ab);
	const std::vector<uint8> flatABCD = test::FlatBytes(abcd);
	const std::vector<uint8> flatPattern = test::FlatBytes(VString(u"a@"));

	EXPECT_EQ(abc.CompareToSameKind(&ab, false), CR_BIGGER);
	EXPECT_EQ(abc.CompareBeginingToSameKind(&ab, false), CR_EQUAL);  // abc cut to 2 units
	EXPECT_EQ(abc.CompareBeginingToSameKind(&ab, true), CR_SMALLER);
	EXPECT_TRUE(abc.EqualToSameKind(&abc, true));
	EXPECT_EQ(abc.CompareToSameKindPtr(flatABCD.data(), false), CR_SMALLER);
	EXPECT_EQ(abc.Swap_CompareToSameKindPtr(flatABCD.data(), false), CR_BIGGER);
	EXPECT_EQ(abc.CompareBeginingToSameKindPtr(flatAB.data(), false), CR_EQUAL);
	EXPECT_EQ(abc.IsTheBeginingToSameKindPtr(flatABCD.data(), false), CR_EQUAL);  // ABCD cut to 3 units
	EXPECT_EQ(abc.IsTheBeginingToSameKindPtr(flatAB.data(), false), CR_BIGGER);
	EXPECT_FALSE(abc.EqualToSameKindPtr(flatABCD.data(), false));
	EXPECT_TRUE(abc.EqualToSameKindPtr(test::FlatBytes(VString(u"ABC")).data(), false));

	EXPECT_EQ(abc.CompareToSameKindPtr_Like(flatPattern.data(), false), CR_EQUAL);
	EXPECT_TRUE(abc.EqualToSameKindPtr_Like(flatPattern.data(), false));
	const VString pattern(u"A@");
	EXPECT_TRUE(abc.EqualToSameKind_Like(&pattern, false));
	EXPECT_EQ(abc.CompareToSameKind_Like(&pattern, true), CR_BIGGER);
	// Swapped: the flat form is the text and this string the pattern.
	EXPECT_TRUE(pattern.Swap_EqualToSameKindPtr_Like(flatABCD.data(), false));
	EXPECT_FALSE(abc.Swap_EqualToSameKindPtr_Like(flatPattern.data(), false));
	EXPECT_EQ(pattern.Swap_CompareToSameKindPtr_Like(flatABCD.data(), false), CR_EQUAL);

	VCompareOptions options;
	EXPECT_EQ(options.GetIntlMgr(), VTask::GetCurrentIntlManager());
	const VString abcUpper(u"ABC");
	EXPECT_TRUE(abc.EqualToSameKindWithOptions(&abcUpper, options));
	options.SetBeginsWith(true);
	EXPECT_EQ(abc.CompareToSameKindWithOptions(&ab, options), CR_EQUAL);
	EXPECT_EQ(abc.CompareToSameKindPtrWithOptions(flatAB.data(), options), CR_EQUAL);
	EXPECT_EQ(ab.Swap_CompareToSameKindPtrWithOptions(test::FlatBytes(abc).data(), options), CR_EQUAL);
	options.SetDiacritical(true);
	EXPECT_EQ(abc.CompareToSameKindWithOptions(&ab, options), CR_SMALLER);
	options.SetDiacritical(false);
	options.SetBeginsWith(false);
	options.SetLike(true);
	EXPECT_TRUE(abc.EqualToSameKindPtrWithOptions(flatPattern.data(), options));
	EXPECT_EQ(abc.CompareToSameKindWithOptions(&pattern, options), CR_EQUAL);
	// Options without a manager compare unit by unit, wild chars included.
	options.SetIntlMgr(nullptr);
	EXPECT_FALSE(abc.EqualToSameKindWithOptions(&pattern, options));
	options.SetLike(false);
	EXPECT_EQ(abc.CompareToSameKindWithOptions(&ab, options), CR_BIGGER);
	EXPECT_FALSE(abc.EqualToSameKindPtrWithOptions(test::FlatBytes(VString(u"ABC")).data(), options));
}

// A value of another kind whose text is fixed.
class TextValue : public VValueSingle
{
public:
	void GetString(VString& text) const override { text = VString(u"ABC"); }
	CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }
	VValue* Clone() const override { return new TextValue; }
};

TEST(VStringCompareTest, AnyValueComparesThroughItsText)
{
	const TextValue value;
	EXPECT_EQ(VString(u"abc").CompareTo(value, false), CR_EQUAL);
	EXPECT_EQ(VString(u"abc").CompareTo(value, true), CR_SMALLER);
	EXPECT_TRUE(VString(u"abc").EqualTo(value, false));
	EXPECT_TRUE(VString(u"=").AppendValue(value).EqualToStringRaw(VString(u"=ABC")));

	VString target(u"x");
	const VString copied(u"copied");
	EXPECT_TRUE(target.FromValueSameKind(&copied));
	EXPECT_TRUE(target.EqualToStringRaw(VString(u"copied")));
	EXPECT_FALSE(target.FromValueSameKind(&value));
	VString got;
	target.GetValue(got);
	EXPECT_TRUE(got.EqualToStringRaw(target));
}

TEST(VStringCompareTest, TasksHoldTheirOwnManagers)
{
	VIntlMgr* process = VTestEnvironment::GetProcess()->GetIntlManager();
	VIntlMgr* main = VTask::GetCurrentIntlManager();
	ASSERT_NE(process, nullptr);
	EXPECT_NE(main, process);  // a clone

	std::atomic<VIntlMgr*> inTask{nullptr};
	std::atomic<bool> equal{false};
	VTask* task = new VTask(0, eTaskStylePreemptive, [&] {
		inTask = VTask::GetCurrentIntlManager();
		equal = VString(u"abc").EqualToString(VString(u"ABC"), false);
	});
	ASSERT_TRUE(task->Run());
	ASSERT_TRUE(task->WaitForDeath(10000));
	task->Release();
	EXPECT_NE(inTask.load(), nullptr);
	EXPECT_NE(inTask.load(), main);
	EXPECT_NE(inTask.load(), process);
	EXPECT_TRUE(equal);

	// Installing retains the new manager and releases the one it replaces.
	main->Retain();
	VIntlMgr* other = VIntlMgr::Create(1036, 1036, 1);
	VTask::SetCurrentIntlManager(other);
	EXPECT_EQ(VTask::GetCurrentIntlManager(), other);
	EXPECT_EQ(other->GetRefCount(), 2);
	EXPECT_EQ(main->GetRefCount(), 1);
	VTask::SetCurrentIntlManager(nullptr);
	EXPECT_EQ(VTask::GetCurrentIntlManager(), other);
	VTask::SetCurrentIntlManager(main);
	EXPECT_EQ(other->GetRefCount(), 1);
	EXPECT_EQ(main->GetRefCount(), 2);
	other->Release();
	main->Release();
}

}  // namespace
}  // namespace velk
