// The string core: construction, sharing and copy on write, growth, wrapped buffers, moves, retained
// buffers, the flat form and allocation failure.
#include "kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/VTask.h"

namespace velk {
namespace {

std::u16string Text(const VString& s)
{
	return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

// A text too long for any inline buffer used here, so that it lives on the heap.
const char16_t* const kLong = u"a string long enough to need a heap buffer";

bool PointsInto(const void* p, const void* object, size_t bytes)
{
	const char* c = static_cast<const char*>(p);
	const char* o = static_cast<const char*>(object);
	return c >= o && c < o + bytes;
}

TEST(VStringTest, ComputeProgressiveResize)
{
	struct Row
	{
		int32 current;
		int32 requested;
		uint32 units;
	};
	const Row rows[] = {
		{0, 5, 8},
		{0, 6, 16},
		{10, 100, 128},   // a growing string gains a fifth
		{100, 100, 104},  // no growth asked: tight
		{0, 100, 104},    // a first allocation is tight
		{0, -3, 8},
		{1, 2147483644, 2147483647u},  // top of the range: capacity n, the count lies past n + 3 units
		{0, 2147483645, 0x80000000u},
		{0, INT32_MAX, 0},
		{1, INT32_MAX - 1, 0},
	};
	for (const Row& r : rows)
		EXPECT_EQ(VString::ComputeProgressiveResize(r.current, r.requested), r.units) << r.current << ", " << r.requested;
}

TEST(VStringTest, Constructors)
{
	VString empty;
	EXPECT_TRUE(empty.IsEmpty());
	EXPECT_FALSE(empty.IsNull());
	EXPECT_TRUE(empty.IsDirty());
	EXPECT_EQ(empty.GetCPointer()[0], 0);

	EXPECT_TRUE(VString(true).IsNull());
	EXPECT_FALSE(VString(false).IsNull());

	EXPECT_EQ(Text(VString(u'x')), u"x");
	EXPECT_EQ(Text(VString(u"abc")), u"abc");
	const char16_t withZero[] = {u'a', 0, u'b'};
	EXPECT_EQ(Text(VString(withZero, 3)), std::u16string(withZero, 3));
	UniChar mutableUnits[] = {u'm', u'n', u'o'};
	VString fromMutable(mutableUnits, 2);  // copies, like the const form
	EXPECT_NE(fromMutable.GetCPointer(), mutableUnits);
	EXPECT_EQ(Text(fromMutable), u"mn");
	EXPECT_TRUE(VString(static_cast<const UniChar*>(nullptr)).IsEmpty());
	EXPECT_TRUE(VString(u"abc", -1).IsEmpty());

	struct Row
	{
		const char* name;
		const char* input;
		std::u16string expected;
	};
	const Row cstrings[] = {
		{"null", nullptr, u""},
		{"ascii", "size", u"size"},
		{"utf-8", "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80", u"h\u00E9llo \u20AC \U0001F600"},
		{"latin-1 byte keeps the quote", "\xE9\"", u"\u00E9\""},
		{"incomplete sequence at the end dropped", "a\xE2\x82", u"a"},
		{"above U+10FFFF", "\xF8\x88\x80\x80\x80!", u"?!"},
	};
	for (const Row& r : cstrings)
	{
		SCOPED_TRACE(r.name);
		VString s(r.input);
		EXPECT_FALSE(s.IsNull());
		EXPECT_EQ(Text(s), r.expected);
		EXPECT_EQ(s.GetCPointer()[s.GetLength()], 0);
	}

	EXPECT_EQ(Text(VString(L"a\u00E9\U0001F600")), u"a\u00E9\U0001F600");
	EXPECT_TRUE(VString(static_cast<const wchar_t*>(nullptr)).IsEmpty());
	const wchar_t withSurrogate[] = {L'a', wchar_t(0xD800), L'b', 0};
	EXPECT_EQ(Text(VString(withSurrogate)), u"a");

	const char16_t native[] = u"xy";
	EXPECT_EQ(Text(VString(native, 4, 2)), u"xy");
	const uint8 bigEndian[] = {0x00, 'x', 0x20, 0xAC};
	EXPECT_EQ(Text(VString(bigEndian, 4, 1)), u"x\u20AC");
	EXPECT_EQ(Text(VString("caf\xC3\xA9", 5, 7)), u"caf\u00E9");
	const char32_t wide[] = U"\U0001F600";
	EXPECT_EQ(Text(VString(wide, 4, 4)), u"\U0001F600");
	EXPECT_TRUE(VString("abc", 3, 12).IsEmpty());  // needs the converter registry
}

TEST(VStringTest, OsTypeString)
{
	struct Row
	{
		uint32 code;
		std::u16string expected;
	};
	const Row rows[] = {
		{FourCharCode("TEXT"), u"TEXT"},
		{0x61E96263, u"a\u00E9bc"},    // a Latin-1 byte stands for itself
		{0x41E282AC, u"A\u20AC"},      // a full UTF-8 sequence is decoded
		{0x4142E282, u"AB"},           // an incomplete one at the end is not
		{0x00000041, std::u16string(u"\0\0\0A", 4)},
	};
	for (const Row& r : rows)
	{
		VOsTypeString s(r.code);
		EXPECT_EQ(Text(s), r.expected) << std::hex << r.code;
		EXPECT_TRUE(PointsInto(s.GetCPointer(), &s, sizeof(s)));  // fits the inline buffer
	}
}

TEST(VStringTest, CopiesShareHeapBuffersAndCopyInlineOnes)
{
	VStr<8> small(u"abc");
	ASSERT_TRUE(PointsInto(small.GetCPointer(), &small, sizeof(small)));
	VStr<8> smallCopy(small);
	EXPECT_TRUE(PointsInto(smallCopy.GetCPointer(), &smallCopy, sizeof(smallCopy)));
	EXPECT_EQ(Text(smallCopy), u"abc");
	ASSERT_TRUE(smallCopy.SetUniChar(1, u'X'));
	EXPECT_EQ(Text(small), u"abc");
	EXPECT_EQ(Text(smallCopy), u"Xbc");

	VString heap(kLong);
	EXPECT_FALSE(heap._IsShared());
	{
		VString copy(heap);
		EXPECT_EQ(copy.GetCPointer(), heap.GetCPointer());
		EXPECT_TRUE(heap._IsShared());
		EXPECT_TRUE(copy._IsShared());

		VStr<100> roomy(heap);  // a shareable buffer is shared even when it would fit inline
		EXPECT_EQ(roomy.GetCPointer(), heap.GetCPointer());

		ASSERT_TRUE(copy.SetUniChar(1, u'A'));
		EXPECT_NE(copy.GetCPointer(), heap.GetCPointer());
		EXPECT_EQ(Text(heap), kLong);
		EXPECT_EQ(copy.GetUniChar(1), u'A');
		EXPECT_EQ(Text(copy).substr(1), std::u16string(kLong).substr(1));

		VString other(heap);
		other.FromString(copy);  // drops its share of heap's buffer
		EXPECT_EQ(other.GetCPointer(), copy.GetCPointer());
	}
	EXPECT_FALSE(heap._IsShared());  // every copy gave its reference back
	EXPECT_EQ(Text(heap), kLong);

	VString null(true);
	VString nullCopy(null);
	EXPECT_TRUE(nullCopy.IsNull());
	EXPECT_TRUE(nullCopy.IsEmpty());
}

TEST(VStringTest, FromString)
{
	VString target(kLong);
	VString source(u"xyz");
	target.SetDirty(false);
	target.FromString(source);
	EXPECT_EQ(Text(target), u"xyz");
	EXPECT_TRUE(target.IsDirty());

	target.FromString(VString(true));
	EXPECT_TRUE(target.IsNull());
	EXPECT_TRUE(target.IsEmpty());

	target.FromString(source);
	EXPECT_FALSE(target.IsNull());
	EXPECT_EQ(Text(target), u"xyz");

	target.FromString(target);
	EXPECT_EQ(Text(target), u"xyz");

	// Replacing the text of a string that shares its buffer leaves the other string alone.
	VString shared(kLong);
	VString sharer(shared);
	sharer.FromString(VString(u"q"));
	EXPECT_EQ(Text(shared), kLong);
	EXPECT_FALSE(shared._IsShared());

	VString assigned;
	assigned = shared;
	EXPECT_EQ(assigned.GetCPointer(), shared.GetCPointer());
}

TEST(VStringTest, CopyOnWriteFromTwoThreads)
{
	const VString original(kLong);
	const std::u16string expected(kLong);
	auto work = [&](UniChar mark, bool* ok) {
		for (int i = 0; i < 2000; ++i)
		{
			VString copy(original);
			if (!copy.SetUniChar(1 + i % copy.GetLength(), mark))
				return;
			std::u16string want = expected;
			want[size_t(i % copy.GetLength())] = mark;
			if (Text(copy) != want || Text(original) != expected)
				return;
		}
		*ok = true;
	};
	bool ok1 = false;
	bool ok2 = false;
	std::thread t1(work, u'1', &ok1);
	std::thread t2(work, u'2', &ok2);
	t1.join();
	t2.join();
	EXPECT_TRUE(ok1);
	EXPECT_TRUE(ok2);
	EXPECT_EQ(Text(original), expected);
	EXPECT_FALSE(original._IsShared());
}

TEST(VStringTest, WrappedBufferEditedInPlaceThenLeftAloneAfterGrowth)
{
	UniChar buffer[8] = {u'a', u'b', u'c', 0, u'#', u'#', u'#', u'#'};
	{
		VString wrapped(buffer, 3, sizeof(buffer));
		EXPECT_EQ(wrapped.GetCPointer(), buffer);
		EXPECT_TRUE(wrapped.IsExternal());
		EXPECT_TRUE(wrapped.IsUnrefcounted());

		ASSERT_TRUE(wrapped.SetUniChar(1, u'X'));
		EXPECT_EQ(buffer[0], u'X');

		// Capacity is 7 units (16 bytes less the terminator).
		UniChar* room = wrapped.GetCPointerForWrite(7);
		ASSERT_EQ(room, buffer);
		room[3] = u'd';
		ASSERT_TRUE(wrapped.Validate(4));
		EXPECT_EQ(std::u16string(buffer, 5), std::u16string(u"Xbcd\0", 5));

		// Copies of a wrapped string copy: the caller's buffer is never shared.
		VString copy(wrapped);
		EXPECT_NE(copy.GetCPointer(), buffer);

		room = wrapped.GetCPointerForWrite(8);
		ASSERT_NE(room, nullptr);
		EXPECT_NE(room, buffer);
		EXPECT_FALSE(wrapped.IsExternal());
		EXPECT_EQ(Text(wrapped), u"Xbcd");
		ASSERT_TRUE(wrapped.SetUniChar(1, u'Y'));
		EXPECT_EQ(buffer[0], u'X');
		EXPECT_EQ(Text(wrapped), u"Ybcd");
	}
	EXPECT_EQ(buffer[0], u'X');  // destroying the string did not touch or free the caller's buffer

	// A buffer too small for the length (no room for the terminator) is copied, not wrapped.
	UniChar tight[3] = {u'x', u'y', u'z'};
	VString copied(tight, 3, sizeof(tight));
	EXPECT_NE(copied.GetCPointer(), tight);
	EXPECT_FALSE(copied.IsExternal());
	EXPECT_EQ(Text(copied), u"xyz");
	EXPECT_EQ(tight[2], u'z');

	VString tiny(tight, 0, size_t(1));
	EXPECT_NE(tiny.GetCPointer(), tight);
	EXPECT_TRUE(tiny.IsEmpty());

	// The largest size means exactly length units plus the terminator.
	UniChar exact[3] = {u'p', u'q', u'#'};
	VString unbounded(exact, 2, SIZE_MAX);
	EXPECT_EQ(unbounded.GetCPointer(), exact);
	EXPECT_EQ(exact[2], 0);
	EXPECT_NE(unbounded.GetCPointerForWrite(3), exact);

	VString none(static_cast<UniChar*>(nullptr), 3, size_t(10));
	EXPECT_TRUE(none.IsNull());
	EXPECT_TRUE(none.IsEmpty());
}

TEST(VStringTest, MoveKeepsNullFlagAndTakesHeapBuffers)
{
	VString heap(kLong);
	const UniChar* buffer = heap.GetCPointer();
	VString moved(std::move(heap));
	EXPECT_EQ(moved.GetCPointer(), buffer);
	EXPECT_EQ(Text(moved), kLong);
	EXPECT_TRUE(heap.IsEmpty());
	EXPECT_NE(heap.GetCPointer(), buffer);

	VString null(true);
	VString movedNull(std::move(null));
	EXPECT_TRUE(movedNull.IsNull());

	// Move assignment carries the source's null state: a null string does not become "".
	VString target(u"text");
	VString nullSource(true);
	target = std::move(nullSource);
	EXPECT_TRUE(target.IsNull());

	VString heapTarget(kLong);
	VString nullAgain(true);
	heapTarget = std::move(nullAgain);
	EXPECT_TRUE(heapTarget.IsNull());
	EXPECT_TRUE(heapTarget.IsEmpty());

	VString nullTarget(true);
	VString source(kLong);
	buffer = source.GetCPointer();
	nullTarget = std::move(source);
	EXPECT_FALSE(nullTarget.IsNull());
	EXPECT_EQ(nullTarget.GetCPointer(), buffer);
	EXPECT_TRUE(source.IsEmpty());

	// Taking over a buffer shared with a third string keeps the counts right.
	VString third(nullTarget);
	VString taker(kLong);
	taker = std::move(nullTarget);
	EXPECT_EQ(taker.GetCPointer(), third.GetCPointer());
	EXPECT_TRUE(taker._IsShared());

	VStr<10> inlineSource(u"short");
	VString fromInline;
	fromInline = std::move(inlineSource);
	EXPECT_EQ(Text(fromInline), u"short");

	VString& self = taker;
	taker = std::move(self);
	EXPECT_EQ(Text(taker), kLong);
}

TEST(VStringTest, UnitAccess)
{
	VString s(u"abc");
	EXPECT_EQ(s.GetUniChar(1), u'a');
	EXPECT_EQ(s.GetUniChar(3), u'c');
	for (int32 pos : {0, -1, 4})
	{
		EXPECT_EQ(s.GetUniChar(pos), 0) << pos;
		EXPECT_FALSE(s.SetUniChar(pos, u'x')) << pos;
	}
	EXPECT_EQ(Text(s), u"abc");

	s.SetDirty(false);
	ASSERT_TRUE(s.SetUniChar(2, u'B'));
	EXPECT_EQ(Text(s), u"aBc");
	EXPECT_FALSE(s.IsDirty());  // flags are left as they are

	VString null(true);
	EXPECT_EQ(null.GetUniChar(1), 0);
	EXPECT_FALSE(null.SetUniChar(1, u'x'));

	EXPECT_TRUE(VString(u"ab").EqualToStringRaw(VString("ab")));
	EXPECT_FALSE(VString(u"ab").EqualToStringRaw(VString("abc")));
	EXPECT_FALSE(VString(u"ab").EqualToStringRaw(VString("aB")));
	EXPECT_TRUE(VString(true).EqualToStringRaw(VString()));
}

TEST(VStringTest, ValidateAndWritePreparation)
{
	VString s;
	EXPECT_FALSE(s.Validate(1));  // capacity 0
	EXPECT_FALSE(s.Validate(-1));
	UniChar* p = s.GetCPointerForWrite(50);
	ASSERT_NE(p, nullptr);
	for (int i = 0; i < 50; ++i)
		p[i] = UniChar(u'a' + i % 26);
	ASSERT_TRUE(s.Validate(50));
	EXPECT_EQ(s.GetLength(), 50);
	EXPECT_EQ(s.GetUniChar(27), u'a');
	EXPECT_EQ(s.GetCPointer()[50], 0);

	VString null(true);
	UniChar* q = null.GetCPointerForWrite(2);
	ASSERT_NE(q, nullptr);
	q[0] = u'o';
	q[1] = u'k';
	ASSERT_TRUE(null.Validate(2));
	EXPECT_FALSE(null.IsNull());
	EXPECT_EQ(Text(null), u"ok");

	// Validating a shared buffer shorter must not cut the other string's text.
	VString other(s);
	ASSERT_TRUE(s.Validate(10));
	EXPECT_EQ(s.GetLength(), 10);
	EXPECT_EQ(other.GetLength(), 50);
	EXPECT_EQ(other.GetCPointer()[10], u'k');

	// Growth keeps the text and gives room for at least what was asked.
	VString grow(u"keep");
	for (int32 n = 5; n < 2000; n += 97)
	{
		UniChar* q = grow.GetCPointerForWrite(n);
		ASSERT_NE(q, nullptr);
		q[n - 1] = u'!';
		EXPECT_EQ(std::u16string(q, 4), u"keep");
	}
}

TEST(VStringTest, ClearAndNull)
{
	VString s(kLong);
	VString sharer(s);
	s.SetNull(true);
	EXPECT_TRUE(s.IsEmpty());  // becoming null drops the text
	EXPECT_EQ(Text(sharer), kLong);
	EXPECT_FALSE(sharer._IsShared());

	s.Clear();
	EXPECT_FALSE(s.IsNull());
	EXPECT_TRUE(s.IsEmpty());

	UniChar buffer[4] = {u'a', u'b', 0, 0};
	VString wrapped(buffer, 2, sizeof(buffer));
	wrapped.Clear();
	EXPECT_TRUE(wrapped.IsEmpty());
	EXPECT_FALSE(wrapped.IsExternal());
	EXPECT_EQ(buffer[0], u'a');
}

TEST(VStringTest, NewStringHoldsItsUnitsInline)
{
	VString* s = VString::NewString(40);
	ASSERT_NE(s, nullptr);
	EXPECT_TRUE(s->IsEmpty());
	EXPECT_TRUE(s->IsDirty());
	const size_t objectBytes = sizeof(VString) + 41 * sizeof(UniChar);
	UniChar* p = s->GetCPointerForWrite(40);
	ASSERT_NE(p, nullptr);
	EXPECT_TRUE(PointsInto(p, s, objectBytes));
	for (int i = 0; i < 40; ++i)
		p[i] = u'z';
	ASSERT_TRUE(s->Validate(40));
	EXPECT_EQ(Text(*s), std::u16string(40, u'z'));
	EXPECT_FALSE(PointsInto(s->GetCPointerForWrite(41), s, objectBytes));
	delete s;

	VString* none = VString::NewString(-5);
	ASSERT_NE(none, nullptr);
	EXPECT_TRUE(none->IsEmpty());
	delete none;
}

TEST(VStringTest, RetainBuffer)
{
	int32 length = -1;
	int32 capacity = -1;

	VString heap(kLong);
	UniChar* shared = heap.RetainBuffer(length, capacity);
	EXPECT_EQ(shared, heap.GetCPointer());
	EXPECT_EQ(length, heap.GetLength());
	EXPECT_TRUE(heap._IsShared());
	{
		VString sharing(VInlineString{length, shared, capacity});
		EXPECT_EQ(sharing.GetCPointer(), shared);
		VString view(VInlineString{length, shared, capacity}, true);
		EXPECT_TRUE(view.IsExternal());
		EXPECT_EQ(Text(view), kLong);
	}
	VString::ReleaseRetainedBuffer(shared, capacity);
	EXPECT_FALSE(heap._IsShared());

	VStr<10> small(u"abc");
	EXPECT_EQ(small._RetainBuffer(length, capacity), nullptr);
	UniChar* copy = small.RetainBuffer(length, capacity);
	ASSERT_NE(copy, nullptr);
	EXPECT_NE(copy, small.GetCPointer());
	EXPECT_EQ(length, 3);
	EXPECT_EQ(capacity, 3);
	EXPECT_EQ(std::u16string(copy, 4), std::u16string(u"abc\0", 4));
	{
		VString holder(VInlineString{length, copy, capacity});
		VString::ReleaseRetainedBuffer(copy, capacity);
		EXPECT_EQ(Text(holder), u"abc");  // the holder's reference keeps the block alive
	}

	for (const VString& s : {VString(), VString(true)})
	{
		EXPECT_EQ(s.RetainBuffer(length, capacity), nullptr);
		EXPECT_EQ(length, 0);
		EXPECT_EQ(capacity, 0);
	}
	EXPECT_TRUE(VString(VInlineString{}).IsEmpty());
}

TEST(VStringTest, FlatFormRoundTrips)
{
	struct Row
	{
		const char* name;
		VString value;
		std::u16string expected;
	};
	const Row rows[] = {
		{"empty stays not null", VString(), u""},
		{"null comes back empty, not null", VString(true), u""},
		{"short", VString(u"abc"), u"abc"},
		{"heap", VString(kLong), kLong},
		{"supplementary", VString(u"\U0001F600"), u"\U0001F600"},
	};
	for (const Row& r : rows)
	{
		SCOPED_TRACE(r.name);
		uint64 extra = 0;
		const uint64 space = r.value.GetSpace(extra);
		std::vector<uint8> flat(size_t(space) + 8, 0xEE);
		uint8* end = static_cast<uint8*>(r.value.WriteToPtr(flat.data()));
		ASSERT_EQ(uint64(end - flat.data()), space);
		EXPECT_EQ(flat[size_t(space)], 0xEE);

		VString loaded(u"previous text that is replaced");
		VString sharer(loaded);
		loaded.SetDirty(false);
		EXPECT_EQ(loaded.LoadFromPtr(flat.data()), end);
		EXPECT_FALSE(loaded.IsNull());
		EXPECT_TRUE(loaded.IsDirty());
		EXPECT_EQ(Text(loaded), r.expected);
		EXPECT_EQ(Text(sharer), u"previous text that is replaced");
	}

	const uint8 abc[] = {3, 0, 0, 0, 'a', 0, 'b', 0, 'c', 0};
	uint8 out[sizeof(abc)];
	VString(u"abc").WriteToPtr(out);
	EXPECT_EQ(std::memcmp(out, abc, sizeof(abc)), 0);

	// A limit cuts the text to what fits; one below 4 writes nothing at all.
	uint8 limited[16];
	std::memset(limited, 0xEE, sizeof(limited));
	EXPECT_EQ(VString(u"abcdef").WriteToPtr(limited, 0, 9), limited + 8);
	VString cut;
	cut.LoadFromPtr(limited);
	EXPECT_EQ(Text(cut), u"ab");
	EXPECT_EQ(limited[8], 0xEE);
	for (uint64 limit : {1u, 2u, 3u})
	{
		std::memset(limited, 0xEE, sizeof(limited));
		EXPECT_EQ(VString(u"abc").WriteToPtr(limited, 0, limit), limited);
		EXPECT_EQ(limited[0], 0xEE);
	}
	uint64 extra = 0;
	EXPECT_EQ(VString(u"abc").GetSpace(extra, 6), 6u);
	EXPECT_EQ(VString(u"abc").GetSpace(extra, 100), 10u);
}

TEST(VStringTest, AllocationFailureRaisesAndLeavesStringUnchanged)
{
	VString s(kLong);
	VString sharer(s);
	const UniChar* buffer = s.GetCPointer();

	VTask::FlushErrors();
	EXPECT_FALSE(s._ReallocBuffer(INT32_MAX, true));
	EXPECT_EQ(VTask::GetLastError(), VE_STRING_ALLOC_FAILED);
	EXPECT_EQ(s.GetCPointer(), buffer);
	EXPECT_EQ(Text(s), kLong);
	EXPECT_TRUE(s._IsShared());

	VTask::FlushErrors();
	EXPECT_EQ(s.GetCPointerForWrite(INT32_MAX), nullptr);
	EXPECT_EQ(VTask::GetLastError(), VE_STRING_ALLOC_FAILED);
	EXPECT_EQ(Text(s), kLong);

	VTask::FlushErrors();
	EXPECT_FALSE(s._ReallocBuffer(-1, true));
	EXPECT_EQ(VTask::GetLastError(), VE_STRING_ALLOC_FAILED);
	EXPECT_EQ(Text(s), kLong);
	EXPECT_EQ(Text(sharer), kLong);

	// A flat form claiming more units than a string can hold is refused the same way.
	const uint8 huge[] = {0xFF, 0xFF, 0xFF, 0x7F};
	VTask::FlushErrors();
	s.LoadFromPtr(huge);
	EXPECT_EQ(VTask::GetLastError(), VE_STRING_ALLOC_FAILED);
	EXPECT_EQ(Text(s), kLong);
	VTask::FlushErrors();
}

// A value that dumps UTF-8 text, as an overriding class would.
class DumpingObject : public VObject
{
public:
	explicit DumpingObject(CharSet charSet) : fCharSet(charSet) {}
	using VObject::DebugDump;
	CharSet DebugDump(char* buffer, int& length) const override
	{
		const char text[] = "d\xC3\xA9j\xC3\xA0";
		std::memcpy(buffer, text, sizeof(text) - 1);
		length = int(sizeof(text) - 1);
		return fCharSet;
	}

private:
	CharSet fCharSet;
};

TEST(VStringTest, DebugDumpAsText)
{
	VString text(u"previous");
	VObject().DebugDump(text);
	EXPECT_TRUE(text.IsEmpty());

	DumpingObject(7).DebugDump(text);
	EXPECT_EQ(Text(text), u"d\u00E9j\u00E0");

	VString(u"h\u00E9llo").DebugDump(text);
	EXPECT_EQ(Text(text), u"h\u00E9llo");

	char raw[16];
	int size = 4;
	EXPECT_EQ(VString(u"hello").DebugDump(raw, size), 2);
	EXPECT_EQ(size, 2);

	text = VString(u"name");
	VObject().DebugGetClassName(text);
	EXPECT_TRUE(text.IsEmpty());
}

TEST(VStringTest, CloneAndCompare)
{
	VString s(u"abc");
	VValue* clone = s.Clone();
	ASSERT_NE(clone, nullptr);
	VString* copy = dynamic_cast<VString*>(clone);
	ASSERT_NE(copy, nullptr);
	EXPECT_EQ(Text(*copy), u"abc");
	delete clone;

	EXPECT_EQ(VString(u"abc").CompareTo(VString(u"abd")), CR_SMALLER);
	EXPECT_EQ(VString(u"abc").CompareTo(VString(u"ab")), CR_BIGGER);
	EXPECT_EQ(VString(u"abc").CompareTo(VString(u"abc")), CR_EQUAL);
	EXPECT_TRUE(VString(u"abc").EqualTo(VString("abc")));

	VString target;
	VString(u"xyz").GetString(target);
	EXPECT_EQ(Text(target), u"xyz");
}

}  // namespace
}  // namespace velk
