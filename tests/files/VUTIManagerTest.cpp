// Type declarations read from information property lists, XML or binary, into a graph of types: parents
// linked once declared, placeholders for undeclared ones skipped by conformance, walks that end on loops,
// tag look-ups that prefer public types, and the private file kinds registered for the declared types.
#include <gtest/gtest.h>

#include <plist/plist.h>

#include <map>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "containers/VArrayString.h"
#include "documents/xml/VXMLParser.h"
#include "files/VFileKind.h"
#include "files/VFileKindManager.h"
#include "files/VUTI.h"
#include "files/VUTIManager.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/ILocalizer.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

std::string Text(const VString& text)
{
	std::string bytes(size_t(text.GetLength()) * 3 + 1, '\0');
	bytes.resize(text.ToBlock(bytes.data(), bytes.size(), 7, false, false));
	return bytes;
}

// One declaration: identifier (none when null), description, parents, and tag classes with their values;
// a class given one value is written as a single string.
struct Declaration
{
	const char* identifier;
	const char* description;
	std::vector<std::string> parents;
	std::map<std::string, std::vector<std::string>> tags;
};

std::string DeclarationXML(const Declaration& declaration)
{
	std::string xml = "<dict>";
	if (declaration.identifier != nullptr)
		xml += std::string("<key>UTTypeIdentifier</key><string>") + declaration.identifier + "</string>";
	xml += std::string("<key>UTTypeDescription</key><string>") + declaration.description + "</string>";
	xml += "<key>UTTypeIconFile</key><string>icon.icns</string>";
	if (!declaration.parents.empty())
	{
		xml += "<key>UTTypeConformsTo</key><array>";
		for (const std::string& parent : declaration.parents)
			xml += "<string>" + parent + "</string>";
		xml += "</array>";
	}
	xml += "<key>UTTypeTagSpecification</key><dict>";
	for (const auto& [tagClass, values] : declaration.tags)
	{
		xml += "<key>" + tagClass + "</key>";
		if (values.size() == 1)
			xml += "<string>" + values[0] + "</string>";
		else
		{
			xml += "<array>";
			for (const std::string& value : values)
				xml += "<string>" + value + "</string>";
			xml += "</array>";
		}
	}
	return xml + "</dict></dict>";
}

// An information dictionary with exported and imported declarations, and other keys around them.
std::string InfoXML(const std::vector<Declaration>& exported, const std::vector<Declaration>& imported)
{
	std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
		"<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
		"<plist version=\"1.0\"><dict>\n<key>CFBundleName</key><string>Example</string>\n"
		"<key>CFBundleDocumentTypes</key><array><dict><key>CFBundleTypeName</key><string>Doc</string></dict></array>\n"
		"<key>UTExportedTypeDeclarations</key>\n<array>\n";
	for (const Declaration& declaration : exported)
		xml += DeclarationXML(declaration) + "\n";
	xml += "</array>\n<key>UTImportedTypeDeclarations</key><array>";
	for (const Declaration& declaration : imported)
		xml += DeclarationXML(declaration);
	return xml + "</array></dict></plist>\n";
}

std::string ToBinary(const std::string& xml)
{
	plist_t root = nullptr;
	plist_from_memory(xml.data(), uint32_t(xml.size()), &root);
	if (root == nullptr)
		return std::string();
	char* bytes = nullptr;
	uint32_t length = 0;
	plist_to_bin(root, &bytes, &length);
	plist_free(root);
	std::string binary(bytes, length);
	plist_to_bin_free(bytes);
	return binary;
}

// A type as one line: identifier, description, tags, parents (temporary ones marked ~) and children.
std::string Describe(const VUTI* uti)
{
	std::string line = Text(uti->GetIdentifier()) + " \"" + Text(uti->GetDescription()) + "\"";
	auto list = [&line](const char* name, const std::vector<VString>& values)
	{
		line += std::string(" ") + name + "=";
		for (const VString& value : values)
			line += Text(value) + ",";
	};
	list("ext", uti->GetExtensionsVector());
	list("mime", uti->GetMIMETypesVector());
	list("os", uti->GetOSTypesVector());
	line += " parents=";
	for (const auto& [id, parent] : uti->GetParentUTIsMap())
		line += (parent->IsTemporary() ? "~" : "") + Text(id) + ",";
	line += " children=";
	for (const auto& entry : uti->GetChildrenUTIsMap())
		line += Text(entry.first) + ",";
	return line;
}

VRefPtr<VUTIManager> NewManager()
{
	return VRefPtr<VUTIManager>(new VUTIManager, true);
}

class VUTIManagerTest : public test::VTemporaryFolderTest
{
protected:
	// A manager loaded from the list written as a file of that form.
	VRefPtr<VUTIManager> Load(const std::string& xml, bool binary)
	{
		VRefPtr<VUTIManager> manager = NewManager();
		VRefPtr<VFile> file = Write(binary ? "Info.bplist" : "Info.plist", binary ? ToBinary(xml) : xml);
		EXPECT_TRUE(manager->LoadXMLFile(file.Get()));
		EXPECT_EQ(VTask::GetLastError(), VE_OK);
		return manager;
	}
};

TEST_F(VUTIManagerTest, ReadsTheSameTypesFromXMLAndBinaryLists)
{
	const std::string xml = InfoXML(
		{
			{"com.example.doc", "Example document", {"public.data", "com.example.base"},
				{{"public.filename-extension", {"exd", "EXD", "exd2", "exd"}}, {"public.mime-type", {"application/x-exd"}},
					{"com.apple.ostype", {"EXDC"}}, {"public.icns", {"x"}}}},
			{nullptr, "No identifier", {}, {{"public.filename-extension", {"none"}}}},
			{"com.example.doc", "Declared twice", {}, {{"public.filename-extension", {"twice"}}}},
		},
		{{"com.example.base", "Base", {}, {{"public.filename-extension", {"exb"}}}}});
	const std::vector<std::string> expected = {
		"com.example.base \"Base\" ext=exb, mime= os= parents= children=com.example.doc,",
		"com.example.doc \"Example document\" ext=exd,exd2, mime=application/x-exd, os=EXDC, "
		"parents=com.example.base,~public.data, children=",
	};
	for (bool binary : {false, true})
	{
		VRefPtr<VUTIManager> manager = Load(xml, binary);
		std::vector<std::string> described;
		for (const char* id : {"com.example.base", "com.example.doc"})
		{
			const VUTI* uti = manager->GetUTI(id);
			described.push_back(uti == nullptr ? std::string("missing ") + id : Describe(uti));
		}
		EXPECT_EQ(described, expected) << (binary ? "binary" : "XML");
		EXPECT_EQ(manager->GetUTIsCount(), 2u) << (binary ? "binary" : "XML");
	}
}

TEST_F(VUTIManagerTest, RefusesFilesThatAreMissingOrUnreadable)
{
	VRefPtr<VUTIManager> manager = NewManager();
	EXPECT_FALSE(manager->LoadXMLFile(nullptr));
	EXPECT_FALSE(manager->LoadXMLFile(File("absent.plist").Get()));
	EXPECT_EQ(VTask::GetLastError(), VE_OK);

	// A broken document is a failure, not a success, and what came before the break is kept.
	std::string broken = InfoXML({{"com.example.kept", "Kept", {}, {}}}, {});
	broken.resize(broken.find("<key>UTImportedTypeDeclarations"));
	EXPECT_FALSE(manager->LoadXMLFile(Write("broken.plist", broken).Get()));
	EXPECT_EQ(VTask::GetLastError(), VE_XML_FATAL_ERROR);
	EXPECT_NE(manager->GetUTI("com.example.kept"), nullptr);
	VTask::FlushErrors();

	std::string binary = ToBinary(InfoXML({{"com.example.cut", "Cut", {}, {}}}, {}));
	EXPECT_FALSE(manager->LoadXMLFile(Write("cut.bplist", binary.substr(0, binary.size() - 4)).Get()));
	EXPECT_EQ(VTask::GetLastError(), VE_XML_FATAL_ERROR);
	EXPECT_EQ(manager->GetUTI("com.example.cut"), nullptr);
}

TEST_F(VUTIManagerTest, ConformsThroughParentsAndEndsOnLoops)
{
	// a conforms to b, b to c, c to a: the last link would close a loop and stays a placeholder.
	VRefPtr<VUTIManager> manager = Load(InfoXML(
		{
			{"com.example.a", "A", {"com.example.b"}, {{"public.filename-extension", {"exa"}}}},
			{"com.example.b", "B", {"com.example.c"}, {{"public.filename-extension", {"exb"}}}},
			{"com.example.c", "C", {"com.example.a", "public.undeclared"}, {{"public.filename-extension", {"exc"}}}},
		},
		{}), false);
	const VUTI* a = manager->GetUTI("com.example.a");
	const VUTI* b = manager->GetUTI("com.example.b");
	const VUTI* c = manager->GetUTI("com.example.c");
	ASSERT_TRUE(a != nullptr && b != nullptr && c != nullptr);
	struct Row
	{
		const VUTI* uti;
		const char* identifier;
		bool conforms;
	};
	const Row rows[] = {
		{a, "com.example.a", true},
		{a, "com.example.b", true},
		{a, "com.example.c", false},
		{c, "com.example.a", true},
		{c, "com.example.b", true},
		{c, "public.undeclared", false},
		{b, "com.example.c", false},
		{b, "COM.EXAMPLE.B", false},
		{a, "", false},
	};
	for (const Row& row : rows)
		EXPECT_EQ(row.uti->ConformsToIdentifier(row.identifier), row.conforms)
			<< Text(row.uti->GetIdentifier()) << " " << row.identifier;
	EXPECT_TRUE(c->IsParent(b));
	EXPECT_FALSE(b->IsParent(c));
	EXPECT_TRUE(b->CouldBeAParent(c));
	EXPECT_TRUE(b->IsChild(c));
	EXPECT_TRUE(a->IsChildOrChildOfAParent(c));
	EXPECT_EQ(c->GetHighestParentThatConformsToExtension("EXB"), b);
	std::vector<VString> extensions;
	c->GetAllExtensionsVector(extensions);
	EXPECT_EQ(extensions.size(), 3u);

	// Links made by hand may loop: every walk still ends, and the manager frees such a graph.
	VRefPtr<VUTI> x(new VUTI("com.example.x"), true);
	VRefPtr<VUTI> y(new VUTI("com.example.y"), true);
	x->AddExtension("exx");
	x->AddParentUTI(y.Get());
	y->AddParentUTI(x.Get());
	y->AddChildUTI(x.Get());
	x->AddChildUTI(y.Get());
	EXPECT_TRUE(manager->AddNewUTI(x.Get()));
	EXPECT_TRUE(manager->AddNewUTI(y.Get()));
	EXPECT_FALSE(manager->AddNewUTI(y.Get()));
	EXPECT_FALSE(x->ConformsToIdentifier("com.example.z"));
	EXPECT_TRUE(y->ConformsToIdentifier("com.example.x"));
	EXPECT_EQ(y->GetHighestParentThatConformsToExtension("exx"), x.Get());
	EXPECT_EQ(y->GetHighestParentThatConformsToMIMEType("text/none"), nullptr);
	EXPECT_FALSE(x->IsParent(a));
	EXPECT_FALSE(x->IsChildOrChildOfAParent(a));
	extensions.clear();
	y->GetAllExtensionsVector(extensions);
	EXPECT_EQ(extensions.size(), 1u);
}

TEST_F(VUTIManagerTest, LooksUpTypesByTag)
{
	VRefPtr<VUTIManager> manager = Load(InfoXML(
		{
			{"com.example.notes", "Notes", {"public.example-text"},
				{{"public.filename-extension", {"note", "txt2"}}, {"public.mime-type", {"text/x-notes"}},
					{"com.apple.ostype", {"NOTE"}}}},
			{"com.example.memo", "Memo", {"com.example.notes"}, {}},
			{"com.example.other", "Other", {}, {{"public.filename-extension", {"txt2"}}}},
		},
		{{"public.example-text", "Text", {}, {{"public.filename-extension", {"txt2"}}}}}), false);

	const VString extension(kUTTagClassFilenameExtension);
	const VString mime(kUTTagClassMIMEType);
	const VString osType(kUTTagClassOSType);
	struct Row
	{
		const VString& tagClass;
		const char* tag;
		const char* within;
		const char* all;  // null: no array
		const char* preferred;  // null: none
	};
	const Row rows[] = {
		{extension, "txt2", "", "com.example.memo,com.example.notes,com.example.other,public.example-text,", "public.example-text"},
		{extension, "txt2", "com.example.notes", "com.example.memo,com.example.notes,com.example.other,public.example-text,", "com.example.notes"},
		{extension, "NOTE", "", "com.example.memo,com.example.notes,", "com.example.notes"},
		{extension, "none", "", "", nullptr},
		{extension, "", "", nullptr, nullptr},
		{mime, "TEXT/X-Notes", "", "com.example.memo,com.example.notes,", "com.example.notes"},
		{mime, "text/x-notes", "public.example-text", "com.example.memo,com.example.notes,", "com.example.notes"},
		{mime, "text/x-notes", "com.example.other", "com.example.memo,com.example.notes,", nullptr},
		{osType, "NOTE", "", "com.example.memo,com.example.notes,", "com.example.notes"},
		{osType, "note", "", "", nullptr},
		{VString("public.icns"), "note", "", nullptr, nullptr},
	};
	for (const Row& row : rows)
	{
		const std::string where = Text(row.tagClass) + " " + row.tag + " " + row.within;
		VArrayString* all = manager->UTTypeCreateAllIdentifiersForTag(row.tagClass, row.tag, VString());
		ASSERT_EQ(all != nullptr, row.all != nullptr) << where;
		if (all != nullptr)
		{
			std::string identifiers;
			for (int32 pos = 1; pos <= all->GetCount(); ++pos)
			{
				VString id;
				all->GetString(id, pos);
				identifiers += Text(id) + ",";
			}
			EXPECT_EQ(identifiers, row.all) << where;
			delete all;
		}
		VRefPtr<VUTI> preferred(manager->UTTypeCreatePreferredIdentifierForTag(row.tagClass, row.tag, row.within), true);
		EXPECT_EQ(preferred ? Text(preferred->GetIdentifier()) : std::string("none"),
			row.preferred != nullptr ? row.preferred : "none") << where;
	}

	struct FileRow
	{
		const char* name;
		bool write;
		const char* identifier;
		bool conforms;
	};
	const FileRow files[] = {
		{"a.note", true, "com.example.notes", true},
		{"b.NOTE", true, "public.example-text", true},
		{"c.txt2", true, "public.example-text", true},
		{"c.txt2", true, "com.example.notes", false},
		{"d.note", false, "com.example.notes", false},
		{"e", true, "com.example.notes", false},
		{"a.note", true, "", false},
	};
	for (const FileRow& row : files)
	{
		VRefPtr<VFile> file = row.write ? Write(row.name, "x") : File(row.name);
		EXPECT_EQ(manager->UTTypeConformsTo(file.Get(), row.identifier), row.conforms) << row.name << " " << row.identifier;
	}
	EXPECT_FALSE(manager->UTTypeConformsTo(nullptr, "com.example.notes"));
}

// Descriptions in another language, by their text.
class TableLocalizer : public ILocalizer
{
public:
	uint32 GetLocalizationLanguage() override { return 1031; }
	bool LocalizeErrorMessage(VError, VString&) override { return false; }
	bool LocalizeStringWithKey(const VString& key, VString& text) override
	{
		if (!key.EqualToUSASCIICString("Notes"))
			return false;
		text = VString("Notizen");
		return true;
	}
	bool LocalizeStringWithDotStringsKey(const VString&, VString&) override { return false; }
	const VValueBag* RetainGroupBag(const VString&) override { return nullptr; }
};

TEST_F(VUTIManagerTest, RegistersDeclaredTypesAsPrivateFileKinds)
{
	ASSERT_NE(VFileKindManager::sManager, nullptr);
	TableLocalizer localizer;
	VRefPtr<VUTIManager> manager = NewManager();
	manager->SetLocalizationManager(&localizer);
	const std::string xml = InfoXML(
		{
			{"com.example.kinds.notes", "Notes", {"com.example.kinds.base", "public.example-undeclared"},
				{{"public.filename-extension", {"kdnote", "kdn"}}, {"com.apple.ostype", {"KDNT"}}}},
			{"com.example.kinds.base", "Base", {}, {{"public.filename-extension", {"kdbase"}}}},
		},
		{});
	ASSERT_TRUE(manager->LoadXMLFile(Write("Info.plist", xml).Get()));

	struct Row
	{
		const char* id;
		const char* description;
		const char* extensions;
		const char* parents;
	};
	const Row rows[] = {
		{"com.example.kinds.notes", "Notizen", "kdnote,kdn,", "com.example.kinds.base,public.example-undeclared,"},
		{"com.example.kinds.base", "Base", "kdbase,", ""},
	};
	for (const Row& row : rows)
	{
		VRefPtr<VFileKind> kind(VFileKindManager::sManager->RetainFileKind(row.id), true);
		ASSERT_TRUE(kind) << row.id;
		EXPECT_FALSE(kind->IsPublic()) << row.id;
		EXPECT_EQ(Text(kind->GetDescription()), row.description) << row.id;
		std::string extensions;
		for (const char* extension : {"kdnote", "kdn", "kdbase"})
			extensions += kind->MatchExtension(extension) ? std::string(extension) + "," : "";
		EXPECT_EQ(extensions, row.extensions) << row.id;
		std::vector<VString> parentIDs;
		kind->GetParentIDs(parentIDs);
		std::string parents;
		for (const VString& parent : parentIDs)
			parents += Text(parent) + ",";
		EXPECT_EQ(parents, row.parents) << row.id;
	}

	VRefPtr<VFileKind> byExtension(VFileKindManager::sManager->RetainFirstFileKindMatchingWithExtension("KDN"), true);
	ASSERT_TRUE(byExtension);
	EXPECT_EQ(Text(byExtension->GetID()), "com.example.kinds.notes");
	EXPECT_TRUE(byExtension->MatchOsKind("KDNT"));
	EXPECT_TRUE(byExtension->ConformsTo(VString("com.example.kinds.base")));
	VRefPtr<VFileKind> base(VFileKindManager::sManager->RetainFileKind("com.example.kinds.base"), true);
	EXPECT_FALSE(base->ConformsTo(VString("com.example.kinds.notes")));
}

}  // namespace
}  // namespace velk
