// "$ref" pointers resolved over whole trees: in the document itself, in patch mode, into other files through
// a shared cache, and every failure recorded as an error object in the resolver, never on the caller's
// context; cycles through arrays end, and a tree deeper than the stack allows stops with velk 108.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "files/VFolder.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONFileCache.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONPointerResolver.h"
#include "kernel/json/VJSONValue.h"
#include "runtime/VTask.h"
#include "runtime/VTaskMgr.h"
#include "tests/common/VTemporaryFolderTest.h"

namespace velk {
namespace {

VJSONValue Parse(const std::string& text)
{
	VJSONValue value;
	EXPECT_EQ(value.ParseFromString(VString(text.c_str())), VE_OK) << text;
	return value;
}

std::string Text(const VJSONValue& value)
{
	VString text;
	value.Stringify(text);
	return to_string(text);
}

// Each error object as "code pointerURI [referredPath]", checking the order of its properties.
std::vector<std::string> Errors(const VJSONPointerResolver& resolver)
{
	std::vector<std::string> out;
	const VJSONArray* errors = resolver.GetErrors();
	for (size_t i = 0; errors != nullptr && i < errors->GetCount(); ++i)
	{
		const VJSONValue error = errors->GetAt(i);
		std::vector<VString> names;
		error.GetObject()->GetPropertyNamesInOrder(names);
		std::string line;
		for (const VString& name : names)
			line += to_string(name) + " ";
		EXPECT_EQ(line.substr(0, 23), "code component message ");
		EXPECT_EQ(to_string(error.GetProperty(VString("component")).GetString()), "velk");
		line = std::to_string(int(error.GetProperty(VString("code")).GetNumber()));
		for (const char* parameter : {"pointerURI", "referredPath"})
		{
			if (error.GetObject()->HasOwnProperty(VString(parameter)))
				line += " " + to_string(error.GetProperty(VString(parameter)).GetString());
		}
		out.push_back(line);
	}
	return out;
}

// Runs action once the free stack has fallen below the resolver's guard.
void WithStackNearlySpent(const std::function<void()>& action)
{
	volatile char pad[512];
	pad[0] = 1;
	if (VTaskMgr::Get()->GetCurrentFreeStackSize() < VJSONPointerResolver::kMinFreeStack)
		action();
	else
		WithStackNearlySpent(action);
	pad[1] = pad[0];
}

TEST(VJSONPointerResolverRecursive, ResolvesTreesAndRecordsEachFailure)
{
	struct Row
	{
		const char* input;
		bool patch;
		const char* output;
		std::vector<std::string> errors;
	};
	const Row rows[] = {
		{R"({"a":{"$ref":"#/b"},"b":5})", false, R"({"a":5,"b":5})", {}},
		{R"({"r":{"$ref":"#/base","x":2},"base":{"x":1,"y":1}})", true, R"({"r":{"x":2,"y":1},"base":{"x":1,"y":1}})", {}},
		{R"({"r":{"$ref":"#/base"},"base":{"x":1}})", true, R"({"r":{"x":1},"base":{"x":1}})", {}},
		{R"({"a":{"$ref":"#/c~1d"},"b":{"$ref":"#/m~0n"},"c/d":1,"m~n":2})", false, R"({"a":1,"b":2,"c/d":1,"m~n":2})", {}},
		// A pointer through a plain object leaves it to be walked for its own references.
		{R"({"a":{"$ref":"#/c/d"},"c":{"d":1,"e":{"$ref":"#/c/d"}}})", false, R"({"a":1,"c":{"d":1,"e":1}})", {}},
		{R"({"a":{"$ref":"#/a/b"}})", false, R"({"a":{"$ref":"#/a/b"}})", {"908 #/a/b"}},
		{R"({"l":[1,2,3],"a":{"$ref":"#/l/01"},"b":{"$ref":"#/l/-"},"c":{"$ref":"#/l/7"}})", false,
			R"({"l":[1,2,3],"a":{"$ref":"#/l/01"},"b":{"$ref":"#/l/-"},"c":{"$ref":"#/l/7"}})",
			{"907 #/l/01", "909 #/l/-", "906 #/l/7"}},
		{R"({"l":[1],"a":{"$ref":"#/l/99999999999999999999999999"}})", false,
			R"({"l":[1],"a":{"$ref":"#/l/99999999999999999999999999"}})", {"906 #/l/99999999999999999999999999"}},
		{R"({"a":{"$ref":"#/b/c"},"b":4,"d":{"$ref":"b"}})", false, R"({"a":{"$ref":"#/b/c"},"b":4,"d":{"$ref":"b"}})",
			{"910 #/b/c", "913 b b"}},
		{R"({"a":{"$ref":" HTTPS://host/x.json#/a"}})", false, R"({"a":{"$ref":" HTTPS://host/x.json#/a"}})",
			{"909  HTTPS://host/x.json#/a"}},
		{R"([{"$ref":"#/1"},2,{"$ref":"#/9"}])", false, R"([2,2,null])", {"906 #/9"}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.input);
		VTask::FlushErrors();
		VJSONValue tree = Parse(row.input);
		VRefPtr<VJSONPointerResolver> resolver(new VJSONPointerResolver(tree), true);
		resolver->ResolveRecursively(tree, row.patch, nullptr);
		std::string output = row.output;
		std::erase(output, '"');  // the compact text leaves names and texts unquoted
		EXPECT_EQ(Text(tree), output);
		EXPECT_EQ(Errors(*resolver), row.errors);
		EXPECT_EQ(VTask::GetLastError(), VE_OK);
	}
}

TEST(VJSONPointerResolverRecursive, ArrayCyclesEndAndDeepTreesStop)
{
	VJSONValue tree = Parse(R"({"x":3})");
	const VJSONValue held(JSON_array);
	VJSONArray* list = held.GetArray();
	list->Push(Parse(R"({"$ref":"#/x"})"));
	list->Push(held);
	ASSERT_EQ(list->GetCount(), 2u);
	tree.SetProperty(VString("list"), held);
	VRefPtr<VJSONPointerResolver> resolver(new VJSONPointerResolver(tree), true);
	resolver->ResolveRecursively(tree, false, nullptr);
	EXPECT_EQ(list->GetAt(0).GetNumber(), 3.0);
	EXPECT_EQ(resolver->GetErrors(), nullptr);
	list->SetAt(1, VJSONValue(JSON_null));

	VJSONValue deep = Parse(R"({"a":{"$ref":"#/b"},"b":1})");
	VRefPtr<VJSONPointerResolver> stopped(new VJSONPointerResolver(deep), true);
	WithStackNearlySpent([&] { stopped->ResolveRecursively(deep, false, nullptr); });
	EXPECT_EQ(Errors(*stopped), std::vector<std::string>{"108"});
	EXPECT_TRUE(deep.GetProperty(VString("a")).IsObject());
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

class VJSONPointerResolverFiles : public test::VTemporaryFolderTest
{
};

TEST_F(VJSONPointerResolverFiles, FollowsReferencesIntoFilesParsedOncePerCache)
{
	Write("other.json", R"({"v":{"w":7},"n":{"$ref":"#/v/w"},"m":{"$ref":"#/none"}})");
	Write("bad.json", "{");
	VRefPtr<VFolder> folder(new VFolder(VString(fRoot.c_str()), FPS_POSIX), true);
	VRefPtr<VJSONFileCache> cache(new VJSONFileCache(), true);
	VJSONValue tree = Parse(R"({"a":{"$ref":"other.json#/v/w"},"b":{"$ref":"other.json"},)"
							R"("c":{"$ref":"missing.json#/x"},"d":{"$ref":"bad.json#/x"}})");
	VRefPtr<VJSONPointerResolver> resolver(new VJSONPointerResolver(tree, folder.Get(), nullptr, cache.Get()), true);
	std::vector<VRefPtr<IFile>> files;
	resolver->ResolveRecursively(tree, false, &files);

	EXPECT_EQ(Text(tree.GetProperty(VString("a"))), "7");
	// The whole document, its own references resolved in it.
	EXPECT_EQ(Text(tree.GetProperty(VString("b"))), "{v:{w:7},n:7,m:{$ref:#/none}}");
	EXPECT_EQ(Errors(*resolver), (std::vector<std::string>{"913 missing.json#/x " + fRoot + "missing.json",
									 "912 bad.json#/x " + fRoot + "bad.json", "906 #/none"}));
	EXPECT_EQ(files.size(), 3u);
	EXPECT_EQ(VTask::GetLastError(), VE_OK);

	// Another resolver on the same cache finds the document already read: the very same object.
	VRefPtr<VJSONObject> reference(new VJSONObject(nullptr, nullptr, false), true);
	reference->SetPropertyAsString(VJSONPointerResolver::sRefPropertyName, VString("other.json#/v"));
	VRefPtr<VJSONPointerResolver> second(new VJSONPointerResolver(VJSONValue(), folder.Get(), nullptr, cache.Get()), true);
	VJSONValue result;
	EXPECT_TRUE(second->ResolveOnePointer(reference.Get(), false, result));
	EXPECT_EQ(result.GetObject(), tree.GetProperty(VString("b")).GetProperty(VString("v")).GetObject());
}

}  // namespace
}  // namespace velk
