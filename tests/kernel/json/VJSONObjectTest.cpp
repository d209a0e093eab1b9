// JSON objects: property order through edits, removal by undefined, merging, deep comparison of cyclic
// trees, implementations answering first, and stores the allocator refuses.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/VFailingAllocations.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/values/VCompareOptions.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

// The text of a string, for comparisons.
std::u16string Text(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

std::string Names(const VJSONObject& object)
{
	std::vector<VString> names;
	EXPECT_TRUE(object.GetPropertyNamesInOrder(names));
	std::string text;
	for (size_t i = 0; i < names.size(); ++i)
	{
		EXPECT_EQ(object.GetPropertyOrdinal(names[i]), int64(i));
		for (int32 u = 0; u < names[i].GetLength(); ++u)
			text += char(names[i].GetCPointer()[u]);
	}
	return text;
}

// Each step: "+x" sets x, "-x" removes x, "~x" sets x to undefined (a removal), "?xN" expects x at ordinal
// N, "*" walks the names in order; then the names in order.
TEST(VJSONObject, OrdinalsFollowFirstSetOrder)
{
	struct Row
	{
		std::vector<std::string> steps;
		const char* names;
	};
	const Row rows[] = {
		{{"+a", "+b", "+c", "-a", "+d"}, "bcd"},
		{{"+a", "+b", "+c", "-a", "+d", "+b"}, "bcd"},
		{{"+a", "+b", "+c", "~b", "+b"}, "acb"},
		{{"+a", "-z", "+b", "-a", "-b"}, ""},
		{{"+a", "+b", "+c", "+d", "-b", "-c", "+e", "+a"}, "ade"},
		{{"+a", "+b", "+c", "-a", "?c1", "?b0", "+d", "?d2", "*", "?d2", "+e", "?e3"}, "bcde"},
		{{"+a", "+b", "+c", "-b", "*", "-a", "+d", "?c0", "?d1", "?a-1"}, "cd"},
	};
	for (const Row& row : rows)
	{
		VRefPtr<VJSONObject> object(new VJSONObject(nullptr, nullptr, false), true);
		double n = 0;
		for (const std::string& step : row.steps)
		{
			const VString name(step.substr(1).c_str());
			if (step[0] == '?')
			{
				EXPECT_EQ(object->GetPropertyOrdinal(VString(step.substr(1, 1).c_str())), std::stoll(step.substr(2))) << step;
				continue;
			}
			if (step[0] == '*')
			{
				std::vector<VString> names;
				EXPECT_TRUE(object->GetPropertyNamesInOrder(names));
				continue;
			}
			if (step[0] == '+')
				EXPECT_TRUE(object->SetProperty(name, VJSONValue(++n)));
			else if (step[0] == '~')
				EXPECT_TRUE(object->SetProperty(name, VJSONValue(JSON_undefined)));
			else
				object->RemoveProperty(name);
		}
		EXPECT_EQ(Names(*object), row.names);
	}
}

TEST(VJSONObject, ClearMergeAndReadBack)
{
	VRefPtr<VJSONObject> object(new VJSONObject(nullptr, nullptr, false), true);
	EXPECT_TRUE(object->ClearProperty(VString("missing")));
	EXPECT_FALSE(object->HasOwnProperty(VString("missing")));
	object->SetProperty(VString("t"), VJSONValue(VString("text")));
	object->SetProperty(VString("o"), VJSONValue(JSON_object));
	EXPECT_TRUE(object->ClearProperty(VString("t")));
	EXPECT_TRUE(object->ClearProperty(VString("o")));
	EXPECT_EQ(object->GetProperty(VString("t")).GetType(), JSON_string);
	EXPECT_EQ(Text(object->GetProperty(VString("t")).GetString()), u"");
	EXPECT_TRUE(object->GetProperty(VString("o")).IsNull());

	VRefPtr<VJSONObject> other(new VJSONObject(nullptr, nullptr, false), true);
	other->SetProperty(VString("t"), VJSONValue(1.0));
	other->SetProperty(VString("n"), VJSONValue(2.0));
	object->MergeWith(other.Get(), true);
	EXPECT_TRUE(object->GetProperty(VString("t")).IsString());
	EXPECT_EQ(object->GetProperty(VString("n")).GetNumber(), 2.0);
	object->MergeWith(other.Get(), false);
	EXPECT_EQ(object->GetProperty(VString("t")).GetNumber(), 1.0);
	EXPECT_EQ(Names(*object), "ton");
	EXPECT_TRUE(VJSONValue(JSON_object).GetObject()->IsEmpty());
	VString className;
	object->GetClassName(className);
	EXPECT_EQ(Text(className), u"Object");
}

// Two cyclic trees of the same shape are equal and the comparison ends; a difference deep in the cycle
// is still found.
TEST(VJSONObject, DeepEqualityEndsOnCycles)
{
	auto makeCycle = [](double leaf) {
		VJSONValue a(JSON_object);
		VJSONValue b(JSON_array);
		a.SetProperty(VString("list"), b);
		a.SetProperty(VString("leaf"), VJSONValue(leaf));
		b.GetArray()->Push(a);
		b.GetArray()->Push(VJSONValue(JSON_object));
		return a;
	};
	VJSONValue first = makeCycle(1.0);
	VJSONValue second = makeCycle(1.0);
	VJSONValue third = makeCycle(2.0);
	VCompareOptions options;
	EXPECT_TRUE(first.DeepEqualTo(second, options));
	EXPECT_FALSE(first.DeepEqualTo(third, options));
	EXPECT_NE(first.CompareTo(second, options), CR_EQUAL);
	EXPECT_TRUE(first.DeepEqualTo(first, options));
	for (VJSONValue* cycle : {&first, &second, &third})
		cycle->GetProperty(VString("list")).GetArray()->Clear();
}

// An implementation answers reads and writes before the own properties.
class PrefixImplementation : public VObject, public IJSONObject
{
public:
	EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out, VDBLanguageContext*) const override
	{
		if (!name.EqualToUSASCIICString("virtual"))
			return eJSONStatusNotHandled;
		out.SetNumber(42.0);
		return eJSONStatusHandled;
	}
	EJSONStatus IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&, VDBLanguageContext*) override
	{
		return name.EqualToUSASCIICString("readonly") ? eJSONStatusFailed : eJSONStatusNotHandled;
	}
};

TEST(VJSONObject, ImplementationAnswersFirst)
{
	PrefixImplementation* implementation = new PrefixImplementation;
	VRefPtr<VJSONObject> object(new VJSONObject(nullptr, implementation, false), true);
	implementation->Release();
	EXPECT_EQ(object->GetProperty(VString("virtual")).GetNumber(), 42.0);
	EXPECT_TRUE(object->HasProperty(VString("virtual")));
	EXPECT_FALSE(object->HasOwnProperty(VString("virtual")));
	EXPECT_FALSE(object->SetProperty(VString("readonly"), VJSONValue(1.0)));
	EXPECT_TRUE(object->SetProperty(VString("plain"), VJSONValue(1.0)));
	EXPECT_EQ(Names(*object), "plain");
}

// A store that the allocator refuses is velk 100 and leaves the object as it was.
TEST(VJSONObject, RefusedStoresLeaveTheObjectUnchanged)
{
	_ThrowError(VE_UNKNOWN_ERROR);
	VTask::FlushErrors();
	VRefPtr<VJSONObject> object(new VJSONObject(nullptr, nullptr, false), true);
	object->SetProperty(VString("kept"), VJSONValue(1.0));
	const VString name("new name long enough for a heap buffer");
	int failures = 0;
	bool stored = false;
	for (long allowed = 0; !stored && allowed < 100; ++allowed)
	{
		{
			test::StFailingAllocations failing(allowed);
			stored = object->SetProperty(name, VJSONValue(2.0));
		}
		if (!stored)
		{
			++failures;
			EXPECT_EQ(VTask::GetLastError(), VE_MEMORY_FULL);
			EXPECT_EQ(Names(*object), "kept");
		}
		VTask::FlushErrors();
	}
	EXPECT_TRUE(stored);
	EXPECT_GT(failures, 0);
	EXPECT_EQ(Names(*object), "keptnew name long enough for a heap buffer");
}

}  // namespace
}  // namespace velk
