// "$ref" pointers resolved over whole trees: in the document itself, in patch mode, into other files through
// a shared cache, and every failure recorded as an error object in the resolver, never on the caller's
// context; cycles through arrays end, and a tree deeper than the stack allows stops with velk 108.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
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

// A reference whose target is itself a reference ends resolved, whatever the order of the properties: one
// table over every order of the same members.
TEST(VJSONPointerResolverRecursive, ChainsEndResolvedInEveryOrder)
{
	struct Row
	{
		std::vector<std::string> members;  // "name":value, in every order
		bool patch;
		std::vector<std::string> resolved;  // name:value once resolved, in the order of members
	};
	const Row rows[] = {
		{{R"("b":{"$ref":"#/c"})", R"("a":{"$ref":"#/b"})", R"("c":5)"}, false, {"b:5", "a:5", "c:5"}},
		{{R"("d":{"$ref":"#/a"})", R"("b":{"$ref":"#/c"})", R"("a":{"$ref":"#/b"})", R"("c":[1])"}, false,
			{"d:[1]", "b:[1]", "a:[1]", "c:[1]"}},
		// Walking a pointer through a reference to a reference.
		{{R"("p":{"$ref":"#/q/v"})", R"("q":{"$ref":"#/r"})", R"("r":{"$ref":"#/s"})", R"("s":{"v":2})"}, false,
			{"p:2", "q:{v:2}", "r:{v:2}", "s:{v:2}"}},
		// In patch mode every link adds its own properties.
		{{R"("a":{"$ref":"#/b","x":1})", R"("b":{"$ref":"#/c","y":2})", R"("c":{"x":0,"y":0,"z":0})"}, true,
			{"a:{x:1,y:2,z:0}", "b:{x:0,y:2,z:0}", "c:{x:0,y:0,z:0}"}},
	};
	for (const Row& row : rows)
	{
		std::vector<size_t> order(row.members.size());
		for (size_t i = 0; i < order.size(); ++i)
			order[i] = i;
		do
		{
			std::string input = "{";
			std::string expected = "{";
			for (size_t i : order)
			{
				input += (input.size() > 1 ? "," : "") + row.members[i];
				expected += (expected.size() > 1 ? "," : "") + row.resolved[i];
			}
			input += "}";
			expected += "}";
			SCOPED_TRACE(input);
			VTask::FlushErrors();
			VJSONValue tree = Parse(input);
			VRefPtr<VJSONPointerResolver> resolver(new VJSONPointerResolver(tree), true);
			resolver->ResolveRecursively(tree, row.patch, nullptr);
			EXPECT_EQ(Text(tree), expected);
			EXPECT_EQ(Errors(*resolver), std::vector<std::string>{});
			EXPECT_EQ(VTask::GetLastError(), VE_OK);
		} while (std::next_permutation(order.begin(), order.end()));
	}
}

// A chain of references that ends at a missing target: each reference fails once, with one error each, in
// the order of the document, whichever way the chain runs through it; references in a cycle fail alike.
TEST(VJSONPointerResolverRecursive, FailingChainsRecordOneErrorPerReference)
{
	constexpr int kLinks = 2000;
	for (const bool forward : {true, false})
	{
		SCOPED_TRACE(forward ? "links in chain order" : "links in reverse order");
		std::string input = "{";
		for (int i = 0; i < kLinks; ++i)
		{
			const int link = forward ? i : kLinks - 1 - i;
			const std::string target = link + 1 < kLinks ? "r" + std::to_string(link + 1) : "missing";
			input += (i > 0 ? "," : "") + std::string("\"r") + std::to_string(link) + "\":{\"$ref\":\"#/" + target + "\"}";
		}
		input += "}";
		VJSONValue tree = Parse(input);
		VRefPtr<VJSONPointerResolver> resolver(new VJSONPointerResolver(tree), true);
		resolver->ResolveRecursively(tree, false, nullptr);
		const std::vector<std::string> errors = Errors(*resolver);
		ASSERT_EQ(errors.size(), size_t(kLinks));
		for (int i = 0; i < kLinks; ++i)
		{
			const int link = forward ? i : kLinks - 1 - i;
			const std::string target = link + 1 < kLinks ? "r" + std::to_string(link + 1) : "missing";
			ASSERT_EQ(errors[size_t(i)], "906 #/" + target) << i;
		}
		// Failed references stay in their objects.
		EXPECT_TRUE(tree.GetProperty(VString("r0")).IsObject());
		EXPECT_EQ(VTask::GetLastError(), VE_OK);
	}

	VJSONValue cycle = Parse(R"({"a":{"$ref":"#/b"},"b":{"$ref":"#/a"},"c":{"$ref":"#/a/x"}})");
	VRefPtr<VJSONPointerResolver> resolver(new VJSONPointerResolver(cycle), true);
	resolver->ResolveRecursively(cycle, false, nullptr);
	EXPECT_EQ(Errors(*resolver), (std::vector<std::string>{"908 #/b", "908 #/a", "908 #/a/x"}));
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
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

// Document paths are POSIX paths relative to the base folder: a file in a folder below it is found, and a
// reference in it that points at a reference in the first file ends resolved. Paths that leave the base
// folder are not followed.
TEST_F(VJSONPointerResolverFiles, FollowsPathsBelowTheBaseFolderAndChainsAcrossFiles)
{
	ASSERT_EQ(mkdir((fRoot + "base").c_str(), 0700), 0);
	ASSERT_EQ(mkdir((fRoot + "base/sub").c_str(), 0700), 0);
	Write("base/sub/e.json", R"({"x":{"y":3}})");
	Write("base/a.json", R"({"r":{"$ref":"b.json#/y"},"z":1})");
	Write("base/b.json", R"({"y":{"$ref":"a.json#/z"}})");
	Write("outside.json", R"({"x":4})");
	VRefPtr<VFolder> folder(new VFolder(VString((fRoot + "base/").c_str()), FPS_POSIX), true);
	struct Row
	{
		const char* input;
		const char* output;
		std::vector<std::string> errors;
	};
	const Row rows[] = {
		{R"({"a":{"$ref":"sub/e.json#/x/y"},"b":{"$ref":"./sub/e.json#/x/y"},"c":{"$ref":"sub/./e.json#/x"}})",
			"{a:3,b:3,c:{y:3}}", {}},
		{R"({"r":{"$ref":"b.json#/y"},"z":1})", "{r:1,z:1}", {}},
		// Read as native paths, where ".." and "/" are parts of names.
		{R"({"o":{"$ref":"../outside.json#/x"}})", R"({o:{$ref:../outside.json#/x}})",
			{"913 ../outside.json#/x " + fRoot + "base/..:outside.json"}},
		{R"({"o":{"$ref":"sub/../../outside.json#/x"}})", R"({o:{$ref:sub/../../outside.json#/x}})",
			{"913 sub/../../outside.json#/x " + fRoot + "base/sub:..:..:outside.json"}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.input);
		VTask::FlushErrors();
		VJSONValue tree = Parse(row.input);
		VRefPtr<VJSONPointerResolver> resolver(new VJSONPointerResolver(tree, folder.Get(), nullptr, nullptr), true);
		resolver->ResolveRecursively(tree, false, nullptr);
		EXPECT_EQ(Text(tree), row.output);
		EXPECT_EQ(Errors(*resolver), row.errors);
		EXPECT_EQ(VTask::GetLastError(), VE_OK);
	}
}

}  // namespace
}  // namespace velk
