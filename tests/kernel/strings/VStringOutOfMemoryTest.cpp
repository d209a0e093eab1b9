// Strings when memory runs short: no exception leaves a string call; each one either completes or raises
// and leaves its string (or its result) as it was.
#include "kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/VFailingAllocations.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VError.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

using test::StFailingAllocations;

std::u16string Text(const VString& s)
{
	return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

// The error a refused allocation leaves: the call's own, or the memory-full error that stands in when
// memory is too short to record that one.
bool RaisedForMemory(VError error)
{
	return error == VE_STRING_ALLOC_FAILED || error == VE_MEMORY_FULL || error == MakeVError(kVELK_SIGNATURE, 300);
}

// Errors go to the task's error context, made (with room for an error) before any allocation is refused.
class VStringOutOfMemoryTest : public testing::Test
{
protected:
	void SetUp() override
	{
		_ThrowError(VE_STRING_ALLOC_FAILED);
		ASSERT_EQ(VTask::GetLastError(), VE_STRING_ALLOC_FAILED);
		VTask::FlushErrors();
	}
};

// Runs act refusing this thread's allocations from the first on, then from the second on, and so on
// until a run meets no refusal. check runs after each run, outside the refusal, with the error raised and
// whether anything was refused. Answers the number of runs.
long Drill(const std::function<void()>& reset, const std::function<void()>& act, const std::function<void(VError, bool)>& check)
{
	for (long allowed = 0; allowed < 1000; ++allowed)
	{
		reset();
		VTask::FlushErrors();
		long refused = 0;
		bool threw = false;
		{
			StFailingAllocations failing(allowed);
			try
			{
				act();
			}
			catch (...)
			{
				threw = true;
			}
			refused = failing.GetRefusedCount();
		}
		EXPECT_FALSE(threw) << "an exception left the call with " << allowed << " allocations allowed";
		check(VTask::GetLastError(), refused != 0);
		VTask::FlushErrors();
		if (refused == 0)
			return allowed + 1;
	}
	return 1000;
}

TEST_F(VStringOutOfMemoryTest, NewAndCloneAnswerNullInsteadOfThrowing)
{
	{
		VString* plain = nullptr;
		VString* nothrow = nullptr;
		VTask::FlushErrors();
		{
			StFailingAllocations failing(0);
			plain = new VString(u"x");
			nothrow = new (std::nothrow) VStr<8>(u"y");
		}
		EXPECT_EQ(plain, nullptr);
		EXPECT_EQ(nothrow, nullptr);
		EXPECT_TRUE(RaisedForMemory(VTask::GetLastError()));
		VTask::FlushErrors();
	}

	struct Row
	{
		const char* fName;
		std::function<VString*()> fMake;
	};
	const Row rows[] = {
		{"heap text", [] { return new VString(u"a text long enough to live in a heap buffer"); }},
		{"inline text", [] { return new VStr<16>(u"short"); }},
		{"null", [] { return new VString(true); }},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		const std::unique_ptr<VString> source(row.fMake());
		std::unique_ptr<VValue> clone;
		const long runs = Drill([&] { clone.reset(); }, [&] { clone.reset(source->Clone()); },
								[&](VError error, bool refused) {
									if (clone == nullptr)
									{
										EXPECT_TRUE(refused);
										EXPECT_TRUE(RaisedForMemory(error));
										return;
									}
									const VString* copy = dynamic_cast<const VString*>(clone.get());
									ASSERT_NE(copy, nullptr);
									EXPECT_EQ(Text(*copy), Text(*source));
									EXPECT_EQ(copy->IsNull(), source->IsNull());
								});
		EXPECT_GE(runs, 2);
	}
}

// An object that dumps a fixed text, for %V.
class NamedObject : public VObject
{
public:
	using VObject::DebugDump;
	CharSet DebugDump(char* buffer, int& length) const override
	{
		length = 4;
		std::memcpy(buffer, "name", 4);
		return 7;
	}
};

TEST_F(VStringOutOfMemoryTest, FormatAppendsAllOrNothing)
{
	// More object conversions than the formatter keeps without a heap block, some of them texts it owns.
	const VString other(u"other");
	const VString number(u"42");
	const NamedObject object;
	VString s;
	auto format = [&] {
		s.AppendPrintf("%S|%S|%A|%V|%S|%d|%A|%V|%S|%S|%A|%s", &s, &other, &number, &object, static_cast<const VString*>(nullptr), 7,
					   &number, &object, &s, &other, &number, "end");
	};
	const std::u16string before = u"before";
	s.FromUniString(before.data(), int32(before.size()));
	format();
	const std::u16string complete = Text(s);
	ASSERT_EQ(complete, u"beforebefore|other|42|name|@@invalid VObject@@|7|42|name|before|other|42|end");

	const long runs = Drill([&] { s.FromUniString(before.data(), int32(before.size())); }, format, [&](VError error, bool refused) {
		if (Text(s) == complete)
			return;
		EXPECT_TRUE(refused);
		EXPECT_EQ(Text(s), before);
		EXPECT_TRUE(RaisedForMemory(error));
	});
	EXPECT_GE(runs, 2);
}

TEST_F(VStringOutOfMemoryTest, ConversionsAndTranscodingCompleteOrLeaveTheStringAlone)
{
	// Text held in the string it is read into needs a copy; the rest of these paths need no allocation
	// that can be refused, and must simply complete.
	const std::u16string markup = u"\u00E9t\u00E9 & <\u00E0> \"ici\" ";
	// Units whose bytes read as the C text "abcdef", and as the UTF-8 text "\u00E9ab".
	const std::u16string ascii = u"\u6261\u6463\u6665";
	const std::u16string utf8 = u"\uA9C3\u6261";
	struct Row
	{
		const char* fName;
		const std::u16string& fSample;
		bool fAllocates;
		std::function<void(VString&)> fAct;
	};
	const Row rows[] = {
		{"FromBlock of its own UTF-16", markup, true, [](VString& s) { s.FromBlock(s.GetCPointer() + 1, size_t(s.GetLength() - 1) * 2, 2); }},
		{"FromBlock of its own bytes as UTF-8", utf8, true, [](VString& s) { s.FromBlock(s.GetCPointer(), 4, 7); }},
		{"ConvertToVString of its own bytes", markup, true,
		 [](VString& s) { VTextConverters::Get()->ConvertToVString(s.GetCPointer(), 6, 1, s); }},
		{"ConvertString of its own bytes", utf8, true,
		 [](VString& s) {
			 VRefPtr<VToUnicodeConverter> converter(VTextConverters::Get()->RetainToUnicodeConverter(7), true);
			 converter->ConvertString(s.GetCPointer(), 4, nullptr, s);
		 }},
		{"ConvertString of its own units swapped", markup, true,
		 [](VString& s) {
			 VRefPtr<VToUnicodeConverter> converter(VTextConverters::Get()->RetainToUnicodeConverter(1), true);
			 converter->ConvertString(s.GetCPointer(), 8, nullptr, s);
		 }},
		{"FromCString of its own bytes", ascii, true, [](VString& s) { s.FromCString(reinterpret_cast<const char*>(s.GetCPointer())); }},
		{"AppendCString of its own bytes", ascii, true, [](VString& s) { s.AppendCString(reinterpret_cast<const char*>(s.GetCPointer())); }},
		{"AppendCString of its own UTF-8", utf8, true, [](VString& s) { s.AppendCString(reinterpret_cast<const char*>(s.GetCPointer())); }},
		{"TranscodeToXML", markup, false, [](VString& s) { s.TranscodeToXML(true); }},
		{"GetJSONString", markup, false, [](VString& s) { s.GetJSONString(s, VString::kJSON_WITH_QUOTES); }},
		{"FromHexLong", markup, false, [](VString& s) { s.FromHexLong(int64(0x1234ABCD), true); }},
		{"FromReal", markup, false, [](VString& s) { s.FromReal(0.1); }},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		const std::u16string& sample = row.fSample;
		VString s;
		auto reset = [&] { s.FromUniString(sample.data(), int32(sample.size())); };
		reset();
		row.fAct(s);
		const std::u16string complete = Text(s);
		ASSERT_NE(complete, sample);

		const long runs = Drill(reset, [&] { row.fAct(s); }, [&](VError error, bool refused) {
			if (!refused)
			{
				EXPECT_EQ(Text(s), complete);
				return;
			}
			EXPECT_EQ(Text(s), sample);
			EXPECT_TRUE(RaisedForMemory(error));
		});
		EXPECT_EQ(runs >= 2, row.fAllocates);
	}
}

TEST_F(VStringOutOfMemoryTest, UTF8TextIsEmptyWhenItCannotBeMade)
{
	const VString text(u"a text longer than any short-string buffer: \u00E9\u00E8");
	std::string utf8;
	const long runs = Drill([&] { utf8.clear(); utf8.shrink_to_fit(); }, [&] { utf8 = to_string(text); }, [&](VError error, bool refused) {
		if (!refused)
		{
			EXPECT_EQ(utf8, "a text longer than any short-string buffer: \xC3\xA9\xC3\xA8");
			return;
		}
		EXPECT_EQ(utf8, "");
		EXPECT_TRUE(RaisedForMemory(error));
	});
	EXPECT_GE(runs, 2);
}

}  // namespace
}  // namespace velk
