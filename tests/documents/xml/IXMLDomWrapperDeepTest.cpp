// The DOM wrapper on small task stacks: every walk of a tree, the wrapper's own and those it hands to Xerces,
// finishes on a shallow tree, and on a tree 1,000 levels deep either finishes whole (the walks made without
// recursion) or stops with velk 108, leaving its outputs as they were; none exhausts its stack. A stack of
// 1 MiB holds every walk of such a tree.
#include "documents/xml/IXMLDomWrapper.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/VTaskWithStack.h"
#include "common/VTemporaryFolderTest.h"
#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "documents/xml/IXMLHandler.h"
#include "files/VFile.h"
#include "files/VFileStream.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/values/VBlob.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "documents/xml/XMLTestTexts.h"

namespace velk {
namespace {

using test::U8;
using test::Load;
using test::Serialize;

constexpr int kDeep = 1000;
constexpr int kShallow = 3;
constexpr size_t kRoomyStack = size_t(1) << 20;

// Elements "a" nested levels deep, the innermost with id "last"; each level begins with its text "x".
std::string Nested(int levels)
{
	std::string xml;
	for (int i = 1; i < levels; ++i)
		xml += "<a k='v'>x";
	xml += "<a id='last'>x";
	for (int i = 0; i < levels; ++i)
		xml += "</a>";
	return xml;
}

// Counts the elements it is given, at any depth.
class VCountingHandler : public VObject, public IXMLHandler
{
public:
	explicit VCountingHandler(int* count) : fCount(count) {}
	IXMLHandler* StartElement(const VString&) override
	{
		++*fCount;
		return new VCountingHandler(fCount);
	}

private:
	int* fCount;
};

// How deep the chain of bags "a" goes below bag.
int BagDepth(const VValueBag& bag)
{
	int depth = 0;
	for (const VValueBag* at = &bag;; ++depth)
	{
		const VBagArray* list = at->GetElements(StPackedDictionaryKey("a"));
		if (list == nullptr || list->GetCount() != 1)
			return depth;
		at = list->_GetNth(1);
	}
}

// What a walk ended with: velk 108 when that was raised, else VE_OK when the walk answered success or the
// error it answered or raised last; and on success, whether its result is the one expected.
struct Outcome
{
	VError fError = VE_OK;
	bool fRight = false;
};

Outcome Ended(const StErrorContextInstaller& scope, bool succeeded, bool right)
{
	VError last = VE_OK;
	for (const VRefPtr<VErrorBase>& raised : scope.GetContext()->GetErrors())
	{
		if (raised->GetCode() == VE_STACK_OVERFLOW)
			return Outcome{VE_STACK_OVERFLOW, false};
		last = raised->GetCode();
	}
	if (!succeeded)
		return Outcome{last != VE_OK ? last : VE_UNKNOWN_ERROR, false};
	return Outcome{last, last == VE_OK && right};
}

class IXMLDomWrapperDeepTest : public test::VTemporaryFolderTest
{
};

// Every walk over a tree, on a shallow tree and on one 1,000 levels deep, on tasks of 64 KiB, 128 KiB and
// 1 MiB.
TEST_F(IXMLDomWrapperDeepTest, WalksFinishOrStopWithStackOverflowOnSmallTasks)
{
	// A walk prepared on the test's own task, run on the small one: it answers its outcome and checks there
	// what a stopped walk leaves; the preparation's cleanup runs when the walk is dropped.
	using Walk = std::function<Outcome()>;
	struct Row
	{
		const char* name;
		// Whether a deep tree is walked whole: the walks made without recursion.
		bool deepWhole;
		std::function<Walk(int levels)> prepare;
	};
	using Document = std::shared_ptr<VXMLDOMNode_opaque>;
	auto load = [](const std::string& xml) {
		VXMLDOMNode_opaque* document = Load(xml);
		EXPECT_NE(document, nullptr);
		return Document(document, [](VXMLDOMNode_opaque* node) { IXMLDomWrapper::ReleaseNode(node); });
	};
	auto rootOf = [](const Document& document) { return IXMLDomWrapper::GetRootNodeElement(document.get()); };
	int file = 0;

	const Row rows[] = {
		{"text content", true,
			[&](int levels) -> Walk {
				const Document document = load(Nested(levels));
				return [=] {
					StErrorContextInstaller scope(false, false);
					VString text("stale");
					const bool read = IXMLDomWrapper::GetNodeElementValueString(rootOf(document), text);
					return Ended(scope, read, U8(text) == std::string(size_t(levels), 'x'));
				};
			}},
		{"clone", false,
			[&](int levels) -> Walk {
				const Document document = load(Nested(levels));
				const std::string expected = Serialize(document.get());
				return [=] {
					StErrorContextInstaller scope(false, false);
					VXMLDOMNode_opaque* copy = IXMLDomWrapper::CloneNodeDocument(document.get());
					const bool right = copy != nullptr && copy != document.get() && Serialize(copy) == expected;
					IXMLDomWrapper::ReleaseNode(copy);
					return Ended(scope, copy != nullptr, right);
				};
			}},
		{"serialise into a blob", false,
			[&](int levels) -> Walk {
				const Document document = load(Nested(levels));
				return [=] {
					StErrorContextInstaller scope(false, false);
					VBlobWithPtr blob;
					blob.PutData("xx", 2, 0);
					size_t size = 99;
					const bool written = IXMLDomWrapper::SerializeToBlob(document.get(), &blob, 2, size, true);
					const std::string bytes(reinterpret_cast<const char*>(blob.GetDataPtr()), blob.GetSize());
					if (!written)
					{
						EXPECT_EQ(size, 0u);
						EXPECT_EQ(bytes, "xx");
					}
					return Ended(scope, written, size + 2 == bytes.size() && bytes.find("id=\"last\"") != std::string::npos);
				};
			}},
		{"serialise into a stream", false,
			[&](int levels) -> Walk {
				const Document document = load(Nested(levels));
				const std::string name = "stream" + std::to_string(++file) + ".xml";
				const VRefPtr<VFile> target = Write(name, "");
				return [=, this] {
					StErrorContextInstaller scope(false, false);
					VFileStream stream(target.Get(), FO_FOLLOW_LINK);
					EXPECT_EQ(stream.OpenWriting(), VE_OK);
					size_t size = 99;
					const bool written = IXMLDomWrapper::SerializeToFile(document.get(), stream, size, false);
					EXPECT_EQ(stream.CloseWriting(), VE_OK);
					const std::string bytes = Read(name);
					if (!written)
					{
						EXPECT_EQ(bytes, "");
					}
					return Ended(scope, written, bytes.size() == size && bytes.find("id=\"last\"") != std::string::npos);
				};
			}},
		{"write to a file", false,
			[&](int levels) -> Walk {
				const Document document = load(Nested(levels));
				const std::string name = "file" + std::to_string(++file) + ".xml";
				const VRefPtr<VFile> target = Write(name, "former");
				return [=, this] {
					StErrorContextInstaller scope(false, false);
					const bool written = IXMLDomWrapper::WriteToFile(document.get(), *target, false);
					const std::string bytes = Read(name);
					if (!written)
					{
						EXPECT_EQ(bytes, "former");
					}
					return Ended(scope, written, bytes.find("id=\"last\"") != std::string::npos);
				};
			}},
		{"element handlers", false,
			[&](int levels) -> Walk {
				const Document document = load(Nested(levels));
				return [=] {
					StErrorContextInstaller scope(false, false);
					int count = 0;
					VCountingHandler* handler = new VCountingHandler(&count);
					const bool walked = IXMLDomWrapper::Parse(document.get(), handler);
					handler->Release();
					return Ended(scope, walked, count == levels);
				};
			}},
		{"read into a bag", false,
			[&](int levels) -> Walk {
				const Document document = load(Nested(levels));
				return [=] {
					StErrorContextInstaller scope(false, false);
					VValueBag* bag = new VValueBag();
					const VError error = IXMLDomWrapper::ReadBagFromDomXML(document.get(), *bag);
					const bool right = BagDepth(*bag) == levels - 1;
					bag->Release();
					return Ended(scope, error == VE_OK, right);
				};
			}},
		{"write a bag", false,
			[&](int levels) -> Walk {
				const Document document = load("<r/>");
				VRefPtr<VValueBag> bag(new VValueBag(), true);
				VValueBag* at = bag.Get();
				for (int i = 1; i < levels; ++i)
				{
					VValueBag* child = new VValueBag();
					at->AddElement(StPackedDictionaryKey("a"), child);
					child->Release();
					at = child;
				}
				return [=] {
					StErrorContextInstaller scope(false, false);
					std::vector<VXMLDOMNode_opaque*> created;
					const VError error = IXMLDomWrapper::WriteBagToDomXML(*bag, IXMLDomWrapper::GetNodeFromNodeElement(rootOf(document)), &created);
					return Ended(scope, error == VE_OK, created.size() == size_t(levels - 1));
				};
			}},
		{"register IDs", true,
			[&](int levels) -> Walk {
				const Document document = load(Nested(levels));
				return [=] {
					StErrorContextInstaller scope(false, false);
					IXMLDomWrapper::RegisterNodeIDs(document.get());
					VXMLDOMElement_opaque* last = IXMLDomWrapper::FindNodeElementByID(document.get(), VString("last"));
					VString name;
					IXMLDomWrapper::GetNodeElementName(last, name);
					return Ended(scope, last != nullptr, U8(name) == "a");
				};
			}},
		{"parse", true,
			[&](int levels) -> Walk {
				const std::string xml = Nested(levels);
				return [=] {
					StErrorContextInstaller scope(false, false);
					VXMLDOMNode_opaque* document = Load(xml);
					IXMLDomWrapper::ReleaseNode(document);
					return Ended(scope, document != nullptr, true);
				};
			}},
		{"parse elements inside an entity reference", false,
			[&](int levels) -> Walk {
				const std::string xml = "<!DOCTYPE a [<!ENTITY e \"" + Nested(levels - 1) + "\">]><a>&e;</a>";
				return [=] {
					StErrorContextInstaller scope(false, false);
					VXMLDOMNode_opaque* document = Load(xml);
					VString text;
					IXMLDomWrapper::GetNodeElementValueString(IXMLDomWrapper::GetRootNodeElement(document), text);
					IXMLDomWrapper::ReleaseNode(document);
					return Ended(scope, document != nullptr, U8(text) == std::string(size_t(levels - 1), 'x'));
				};
			}},
		{"release a document", true,
			[&](int levels) -> Walk {
				VXMLDOMNode_opaque* document = Load(Nested(levels));
				EXPECT_NE(document, nullptr);
				return [=] {
					StErrorContextInstaller scope(false, false);
					IXMLDomWrapper::ReleaseNode(document);
					return Ended(scope, document != nullptr, true);
				};
			}},
		{"release an element outside the tree", true,
			[&](int levels) -> Walk {
				const Document document = load("<r/>");
				VXMLDOMElement_opaque* top = IXMLDomWrapper::CreateElement(
					IXMLDomWrapper::GetNodeDocument(document.get()), nullptr, u"a");
				VXMLDOMElement_opaque* at = top;
				for (int i = 1; i < levels && at != nullptr; ++i)
					at = IXMLDomWrapper::AddNodeElement(at, VString("a"), VString("x"));
				EXPECT_NE(at, nullptr);
				const std::string expected = Serialize(document.get());
				return [=] {
					StErrorContextInstaller scope(false, false);
					IXMLDomWrapper::ReleaseNode(IXMLDomWrapper::GetNodeFromNodeElement(top));
					// The document is left as it was.
					return Ended(scope, top != nullptr, Serialize(document.get()) == expected);
				};
			}},
	};

	for (const Row& row : rows)
	{
		for (const int levels : {kShallow, kDeep})
		{
			for (const size_t stackSize : {size_t(64) << 10, size_t(128) << 10, kRoomyStack})
			{
				SCOPED_TRACE(std::string(row.name) + ", " + std::to_string(levels) + " levels, stack of "
					+ std::to_string(stackSize / 1024) + " KiB");
				Outcome outcome;
				{
					const Walk walk = row.prepare(levels);
					test::RunOnTaskWithStack(stackSize, [&] { outcome = walk(); });
				}
				if (levels == kDeep && !row.deepWhole && stackSize < kRoomyStack)
				{
					EXPECT_EQ(outcome.fError, VE_STACK_OVERFLOW);
				}
				else
				{
					EXPECT_EQ(outcome.fError, VE_OK);
					EXPECT_TRUE(outcome.fRight);
				}
			}
		}
	}
	VTask::FlushErrors();
}

}  // namespace
}  // namespace velk
