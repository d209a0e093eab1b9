// String formatting: printf conversions mixed with the object conversions (arguments taken with their real
// types, object texts at their exact place), the 1023-byte limits, the locale, and {name} placeholders.
#include "kernel/strings/VString.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "containers/VValueBag.h"
#include "kernel/json/VJSONObject.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

std::u16string Text(const VString& s)
{
	return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

// A single value whose text is a number, as the scalar kinds give it.
class NumberValue : public VValueSingle
{
public:
	explicit NumberValue(int64 value) : fValue(value) {}
	void GetString(VString& text) const override
	{
		text.Clear();
		text.AppendLong8(fValue);
	}
	CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }
	VValue* Clone() const override { return new NumberValue(fValue); }

private:
	int64 fValue;
};

// An object that is not a value: its dump is UTF-8 text.
class DumpingObject : public VObject
{
public:
	using VObject::DebugDump;
	CharSet DebugDump(char* buffer, int& length) const override
	{
		const char text[] = "dump \xC3\xA9";
		std::memcpy(buffer, text, sizeof(text) - 1);
		length = int(sizeof(text) - 1);
		return 7;
	}
};

// Reaches VPrintf the way a caller's own variadic function does.
VString ThroughVPrintf(const char* format, ...)
{
	VString s(u"previous");
	va_list arguments;
	va_start(arguments, format);
	s.VPrintf(format, arguments);
	va_end(arguments);
	return s;
}

TEST(VStringFormatTest, MixedConversionsTakeEachArgumentWithItsType)
{
	const VString first(u"\u00E9t\u00E9");
	const VStr<4> second(u"on the stack");
	VString s;

	s.Printf("%lld %.*s %S %f %zu %S", -5LL, 3, "abcdef", &first, 1.5, size_t(42), &second);
	EXPECT_EQ(Text(s), u"-5 abc \u00E9t\u00E9 1.500000 42 on the stack");

	// Star widths and precisions, long doubles, narrowed integers and wide characters each take their
	// own slots: a walk that miscounts reads a number as the object pointer.
	s.Printf("%*d|%S", 5, 42, &first);
	EXPECT_EQ(Text(s), u"   42|\u00E9t\u00E9");
	s.Printf("%-*.*f|%S", 8, 2, 3.14159, &first);
	EXPECT_EQ(Text(s), u"3.14    |\u00E9t\u00E9");
	s.Printf("%Lf %S %.3Le", 2.5L, &first, 1234.5L);
	EXPECT_EQ(Text(s), u"2.500000 \u00E9t\u00E9 1.234e+03");
	s.Printf("%hhd %hu %S", 300, 70000, &first);
	EXPECT_EQ(Text(s), u"44 4464 \u00E9t\u00E9");
	s.Printf("%c%lc%5S|%S", 'x', wint_t(L'y'), L"wide", &second);
	EXPECT_EQ(Text(s), u"xy wide|on the stack");
	s.Printf("%#x %08.3f %+d %S %ju %td", 255u, -1.5, 7, &first, uintmax_t(9), ptrdiff_t(-3));
	EXPECT_EQ(Text(s), u"0xff -001.500 +7 \u00E9t\u00E9 9 -3");

	// "%%" takes nothing; "%n" takes its pointer and stores nothing; positional and unknown conversions
	// print as they stand and take nothing.
	int count = -1;
	s.Printf("%d%% %d%n %S %1$d %y %S", 12, 7, &count, &first, &second);
	EXPECT_EQ(Text(s), u"12% 7 \u00E9t\u00E9 %1$d %y on the stack");
	EXPECT_EQ(count, -1);

	// Plain arguments that look like the old markers stay where they are.
	s.Printf("%s|%S|%s", "x;;;0x1;;;y", &first, ";;;");
	EXPECT_EQ(Text(s), u"x;;;0x1;;;y|\u00E9t\u00E9|;;;");
}

TEST(VStringFormatTest, ObjectConversions)
{
	const VString text(u"abc");
	const NumberValue twelve(12);
	const DumpingObject dumping;
	const VString* noString = nullptr;
	VString s;

	struct Row
	{
		const char* format;
		const VObject* object;
		const char16_t* expected;
	};
	const Row rows[] = {
		{"<%S>", &text, u"<abc>"},
		{"<%A>", &text, u"<abc>"},
		{"<%A>", &twelve, u"<12>"},
		{"<%V>", &dumping, u"<dump \u00E9>"},
		{"<%V>", &text, u"<abc>"},
		{"<%S>", &twelve, u"<@@invalid VString@@>"},
		{"<%S>", &dumping, u"<@@invalid VString@@>"},
		{"<%A>", &dumping, u"<@@invalid VValueSingle@@>"},
		{"<%S>", nullptr, u"<@@invalid VObject@@>"},
		{"<%A>", nullptr, u"<@@invalid VObject@@>"},
		{"<%V>", nullptr, u"<@@invalid VObject@@>"},
	};
	for (const Row& r : rows)
	{
		s.Printf(r.format, r.object);
		EXPECT_EQ(Text(s), r.expected) << r.format;
	}
	s.Printf("%S", noString);
	EXPECT_EQ(Text(s), u"@@invalid VObject@@");

	// Object texts are not limited in length, and each lands at its own place.
	const VString big(std::u16string(5000, u'x').c_str());
	const VString other(std::u16string(3000, u'y').c_str());
	s.Printf("[%S][%d][%S]", &big, 5, &other);
	EXPECT_EQ(Text(s), u"[" + std::u16string(5000, u'x') + u"][5][" + std::u16string(3000, u'y') + u"]");

	// A string formatted with itself as argument reads its own text.
	VString self(u"me");
	self.AppendPrintf(" and %S", &self);
	EXPECT_EQ(Text(self), u"me and me");
}

TEST(VStringFormatTest, PrintfEmptiesAppendPrintfAppends)
{
	VString s(u"old text that is long enough to sit in a heap buffer");
	VString sharer(s);
	s.Printf("%d", 1);
	EXPECT_EQ(Text(s), u"1");
	EXPECT_EQ(Text(sharer), u"old text that is long enough to sit in a heap buffer");
	s.AppendPrintf("+%s", "2");
	EXPECT_EQ(Text(s), u"1+2");

	EXPECT_EQ(Text(ThroughVPrintf("%d-%S", 3, &sharer)), u"3-old text that is long enough to sit in a heap buffer");

	VString null(true);
	null.Printf("");
	EXPECT_FALSE(null.IsNull());
	EXPECT_TRUE(null.IsEmpty());

	// UTF-8 in the format and in %s arguments is decoded; a null %s argument prints as the platform does.
	s.Printf("d\xC3\xA9j\xC3\xA0 %s", "vu \xE2\x82\xAC");
	EXPECT_EQ(Text(s), u"d\u00E9j\u00E0 vu \u20AC");
}

TEST(VStringFormatTest, OutputIsCutAt1023Bytes)
{
	const VString object(u"OBJ");
	VString s;

	s.Printf("%s", std::string(2000, 'a').c_str());
	EXPECT_EQ(Text(s), std::u16string(1023, u'a'));

	// Exactly 1023 bytes before an object: nothing was cut, the object stays; one more byte drops it.
	s.Printf("%s%S", std::string(1023, 'a').c_str(), &object);
	EXPECT_EQ(Text(s), std::u16string(1023, u'a') + u"OBJ");
	s.Printf("%s%S", std::string(1024, 'a').c_str(), &object);
	EXPECT_EQ(Text(s), std::u16string(1023, u'a'));

	// The limit counts the printf part only: an object text does not use it up.
	s.Printf("%s%S%s", std::string(1000, 'a').c_str(), &object, std::string(100, 'b').c_str());
	EXPECT_EQ(Text(s), std::u16string(1000, u'a') + u"OBJ" + std::u16string(23, u'b'));

	// A cut inside a multi-byte character drops the whole character.
	s.Printf("%s%s", std::string(1022, 'a').c_str(), "\xC3\xA9");
	EXPECT_EQ(Text(s), std::u16string(1022, u'a'));
	s.Printf("%s%s", std::string(1021, 'a').c_str(), "\xC3\xA9");
	EXPECT_EQ(Text(s), std::u16string(1021, u'a') + u"\u00E9");

	// A zero byte ends the output.
	s.Printf("ab%cde%S", 0, &object);
	EXPECT_EQ(Text(s), u"ab");
}

TEST(VStringFormatTest, FormatIsCutAt1023BytesDroppingIncompleteConversions)
{
	struct Row
	{
		std::string tail;  // behind the padding that fills the format to 1023 bytes
		const char16_t* expected;  // what follows the padding in the output
	};
	const Row rows[] = {
		{"%d", u"7"},  // complete at the limit
		{"%", u""},
		{"%ll", u""},
		{"%.*", u""},
		{"%-0", u""},
		{"%%", u"%"},
		{"%S", u"obj"},
	};
	const VString object(u"obj");
	for (const Row& r : rows)
	{
		const std::string format = std::string(1023 - r.tail.size(), 'x') + r.tail + "d and more";
		VString s;
		// Only arguments the kept conversion needs are read; the rest are ignored.
		if (r.tail == "%S")
			s.Printf(format.c_str(), &object);
		else
			s.Printf(format.c_str(), 7, 8, 9);
		EXPECT_EQ(Text(s), std::u16string(1023 - r.tail.size(), u'x') + r.expected) << r.tail;
	}
}

// A locale with a decimal comma, when the system has one; see the skip message otherwise.
locale_t CommaLocale()
{
	for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "fr_FR", "nl_NL.UTF-8", "it_IT.UTF-8"})
	{
		locale_t locale = newlocale(LC_NUMERIC_MASK, name, locale_t(nullptr));
		if (locale != locale_t(nullptr))
			return locale;
	}
	return locale_t(nullptr);
}

TEST(VStringFormatTest, NumbersIgnoreTheProcessLocale)
{
	const locale_t comma = CommaLocale();
	if (comma == locale_t(nullptr))
		GTEST_SKIP() << "no locale with a decimal comma is installed (see locale -a): install de_DE.UTF-8 or fr_FR.UTF-8 to run this test";
	const locale_t previous = uselocale(comma);
	char reference[32];
	std::snprintf(reference, sizeof(reference), "%.2f", 1.5);
	VString s;
	const VString object(u"o");
	s.Printf("%.2f %g %S %e %'d", 1.5, 0.25, &object, 1e10, 1234567);
	const locale_t during = uselocale(locale_t(nullptr));
	uselocale(previous);
	freelocale(comma);

	EXPECT_STREQ(reference, "1,50") << "the locale does not use a comma";
	EXPECT_EQ(Text(s), u"1.50 0.25 o 1.000000e+10 1234567");
	EXPECT_EQ(during, comma) << "the thread's locale was not restored";
}

TEST(VStringFormatTest, PlaceholdersFromABag)
{
	VValueBag* bag = new VValueBag;
	ASSERT_TRUE(bag->SetString("name", VString(u"Ann")));
	ASSERT_TRUE(bag->SetString("a", VString(u"1")));
	ASSERT_TRUE(bag->SetString("b", VString(u"22")));
	ASSERT_TRUE(bag->SetString("loop", VString(u"{name}")));
	ASSERT_TRUE(bag->SetString("empty", VString()));
	ASSERT_TRUE(bag->SetString("\u00E9t\u00E9", VString(u"summer")));

	struct Row
	{
		const char16_t* text;
		bool removeUnknown;
		const char16_t* expected;
	};
	const Row rows[] = {
		{u"Hello {name}!", false, u"Hello Ann!"},
		{u"{{name}}", false, u"{{name}}"},
		{u"{first name}", true, u"{first name}"},
		{u"{}", true, u"{}"},
		{u"{a}{b}", false, u"122"},
		{u"{x} and {name}", false, u"{x} and Ann"},
		{u"{x} and {name}", true, u" and Ann"},
		{u"{x}{x}{a}", true, u"1"},
		{u"{Name}", false, u"{Name}"},
		{u"{loop}", false, u"{name}"},
		{u"<{empty}>", false, u"<>"},
		{u"{\u00E9t\u00E9}", false, u"summer"},
		{u"{name", true, u"{name"},
		{u"name}", true, u"name}"},
		{u"{a}}", false, u"{a}}"},
		{u"{{a}", false, u"{{a}"},
		{u"{x{a}", false, u"{x1"},
		{u"a", true, u"a"},
	};
	for (const Row& r : rows)
	{
		VString s(r.text);
		EXPECT_EQ(Text(s.Format(bag, r.removeUnknown)), r.expected) << std::string(r.text, r.text + std::char_traits<char16_t>::length(r.text));
	}

	// Without a source nothing happens, even with removeUnknown.
	VString s(u"{x} {name}");
	s.Format(static_cast<const VValueBag*>(nullptr), true);
	EXPECT_EQ(Text(s), u"{x} {name}");
	VValueBag* empty = new VValueBag;
	s.Format(empty, true);
	EXPECT_EQ(Text(s), u"{x} {name}");
	VTask::FlushErrors();
	s.Format(static_cast<const VJSONObject*>(nullptr), true);
	EXPECT_EQ(Text(s), u"{x} {name}");
	EXPECT_EQ(VTask::GetLastError(), VE_OK);

	// The same rows from a JSON object holding the same texts; null and undefined count as missing.
	VJSONObject* object = new VJSONObject(nullptr, nullptr, false);
	for (const char* name : {"name", "a", "b", "loop", "empty"})
	{
		VString value;
		bag->GetString(StPackedDictionaryKey(name), value);
		object->SetProperty(VString(name), VJSONValue(value));
	}
	object->SetProperty(VString(u"\u00E9t\u00E9"), VJSONValue(VString(u"summer")));
	for (const Row& r : rows)
	{
		VString text(r.text);
		EXPECT_EQ(Text(text.Format(object, r.removeUnknown)), r.expected) << "JSON form";
	}
	object->SetProperty(VString("n"), VJSONValue(JSON_null));
	object->SetProperty(VString("num"), VJSONValue(2.5));
	VString json(u"{n}<{num}>{x}");
	EXPECT_EQ(Text(json.Format(object, false)), u"{n}<2.5>{x}");
	EXPECT_EQ(Text(json.Format(object, true)), u"<2.5>");
	object->Release();
	empty->Release();
	bag->Release();
}

}  // namespace
}  // namespace velk
