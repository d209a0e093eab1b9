// The manager over a bundle made in a temporary folder: which folders and files it reads and which text
// wins, strings files, what makes it reload and what a reload keeps, error texts and the process's
// localized strings, and lookups on other threads while it reloads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "documents/localization/LocalizeString.h"
#include "documents/localization/VLocalizationTestSupport.h"
#include "runtime/VErrorBase.h"
#include "runtime/VProcess.h"

namespace velk {
namespace {

using test::Unit;
using test::Xliff;

class VLocalizationManagerTest : public test::VLocalizationTest
{
protected:
	// Moves the file's modification time forward.
	void Touch(const std::string& name) const
	{
		const std::filesystem::path path(fRoot + name);
		std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(10));
	}

	// A bundle whose resources hold texts forced in, and language folders for the dialect that override
	// them (exact language) or not (the language alone).
	VRefPtr<VFolder> MakeBundle() const
	{
		const std::string resources = "App.app/Contents/Resources/";
		WriteFile(resources + "base.xlf", Xliff("en", Unit("exact", "base") + Unit("partial", "base") + Unit("only", "base")));
		WriteFile(resources + "german.xlf", Xliff("de", Unit("german", "forced")));
		WriteFile(resources + "fr-ca.lproj/exact.xlf", Xliff("fr-ca", Unit("exact", "fr-ca")));
		WriteFile(resources + "fr-ca.lproj/other.xlf", Xliff("de", Unit("refused", "de")));
		WriteFile(resources + "fr.lproj/partial.xlf", Xliff("fr", Unit("partial", "fr") + Unit("french", "fr")));
		WriteFile(resources + "de.lproj/german.xlf", Xliff("fr-ca", Unit("unrelated", "de folder")));
		return Folder("App.app");
	}
};

TEST_F(VLocalizationManagerTest, BundleFoldersDecideWhichTextWins)
{
	VRefPtr<VFolder> bundle = MakeBundle();
	EXPECT_TRUE(fManager->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundle.Get()));
	struct Row
	{
		const char* key;
		const char* expected;
	};
	const Row rows[] = {
		{"exact", "fr-ca"},  // the exact language overrides the resources folder
		{"partial", "base"},  // the language alone does not
		{"french", "fr"},
		{"only", "base"},
		{"german", "forced"},  // the resources folder is read whatever its languages
		{"refused", "<none>"},
		{"unrelated", "<none>"},  // a folder of another dialect is not read
	};
	for (const Row& row : rows)
		EXPECT_EQ(Lookup(row.key), row.expected) << row.key;

	// Without a folder of the dialect the resources are still read, and the call says so.
	VRefPtr<VLocalizationManager> german(new VLocalizationManager(1031), true);
	std::filesystem::remove_all(fRoot + "App.app/Contents/Resources/de.lproj");
	EXPECT_FALSE(german->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundle.Get()));
	VString text;
	EXPECT_TRUE(german->LocalizeStringWithKey(VString("only"), text));

	EXPECT_FALSE(fManager->LoadDefaultLocalizationFoldersForComponentOrPlugin(nullptr));
	EXPECT_FALSE(fManager->LoadDefaultLocalizationFoldersForComponentOrPlugin(Folder("Empty").Get()));
	EXPECT_EQ(fManager->ScanAndLoadFolder(nullptr, true), VE_LOCALIZATION_NULL_OBJECT);
	EXPECT_EQ(fManager->LoadFile(File("missing.xlf").Get(), true), VE_LOCALIZATION_NOT_FOUND);
	EXPECT_EQ(fManager->LoadFile(WriteFile("notes.txt", "x").Get(), true), VE_LOCALIZATION_NOT_XLIFF);
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

TEST_F(VLocalizationManagerTest, StringsFilesGiveKeysInEveryEncoding)
{
	struct Row
	{
		const char* what;
		std::string bytes;
		const char* key;
		const char* expected;
	};
	auto utf16be = [](const std::string& text, bool bom) {
		std::string out = bom ? std::string("\xFE\xFF", 2) : std::string();
		for (char c : text)
			out += std::string(1, '\0') + c;
		return out;
	};
	const std::vector<Row> rows = {
		{"quoted pair", "\"title\" = \"Hello\";\n", "title", "Hello"},
		{"value holding an equals sign", "\"eq\" = \"a=b\";\n", "eq", "<none>"},
		{"no final semicolon loses its last character", "plain = value\n", "plain", "valu"},
		{"tabs and blanks around the pieces", "\t\"tab\"\t=\t\"ok\" ;\r\n", "tab", "ok"},
		{"empty key", "\"\" = \"v\";\n", "", "<none>"},
		{"second line after an empty one", "\n\n\"two\" = \"2\";\n", "two", "2"},
	};
	for (const Row& row : rows)
	{
		const std::pair<const char*, std::string> encodings[] = {
			{"UTF-16 big-endian", utf16be(row.bytes, false)},
			{"UTF-16 with a byte-order mark", utf16be(row.bytes, true)},
			{"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + row.bytes},
		};
		for (const auto& [encoding, bytes] : encodings)
		{
			SCOPED_TRACE(std::string(row.what) + ", " + encoding);
			fManager = VRefPtr<VLocalizationManager>(new VLocalizationManager(test::kCanadianFrench), true);
			EXPECT_EQ(fManager->LoadFile(WriteFile("Localizable.strings", bytes).Get(), false), VE_LOCALIZATION_NOT_XLIFF);
			EXPECT_EQ(Lookup(row.key), row.expected);
		}
	}
}

TEST_F(VLocalizationManagerTest, ChangesToWatchedFilesCallForAnUpdate)
{
	struct Row
	{
		const char* what;
		std::function<void()> change;
		bool needed;
	};
	const Row rows[] = {
		{"nothing", [] {}, false},
		{"touched xlf", [this] { Touch("Res/a.xlf"); }, true},
		{"touched lone xlf", [this] { Touch("lone.xlf"); }, true},
		{"deleted xlf", [this] { std::filesystem::remove(fRoot + "Res/a.xlf"); }, true},
		{"new xlf", [this] { WriteFile("Res/new.xlf", Xliff("fr-ca", "")); }, true},
		{"deleted folder", [this] { std::filesystem::remove_all(fRoot + "Res"); }, true},
		{"new strings file", [this] { WriteFile("Res/b.strings", "\"k\"=\"v\";\n"); }, false},
		{"touched strings file", [this] { Touch("Res/old.strings"); }, false},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.what);
		std::filesystem::remove_all(fRoot + "Res");
		WriteFile("Res/a.xlf", Xliff("fr-ca", Unit("a", "A")));
		WriteFile("Res/old.strings", "\xEF\xBB\xBF\"s\"=\"S\";\n");
		WriteFile("lone.xlf", Xliff("fr-ca", Unit("lone", "L")));
		fManager = VRefPtr<VLocalizationManager>(new VLocalizationManager(test::kCanadianFrench), true);
		// Scanning twice reads the files twice but watches the folder once.
		EXPECT_EQ(fManager->ScanAndLoadFolder(Folder("Res").Get(), false), VE_OK);
		EXPECT_EQ(fManager->ScanAndLoadFolder(Folder("Res").Get(), false), VE_OK);
		EXPECT_EQ(fManager->LoadFile(File("lone.xlf").Get(), false), VE_OK);
		row.change();
		EXPECT_EQ(fManager->DoesNeedAnUpdate(), row.needed);
	}
}

TEST_F(VLocalizationManagerTest, UpdateReadsEachFolderAsForcedAsBefore)
{
	VRefPtr<VFolder> bundle = MakeBundle();
	fManager->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundle.Get());
	WriteFile("lone.xlf", Xliff("de", Unit("lone", "forced alone")));
	EXPECT_EQ(fManager->LoadFile(File("lone.xlf").Get(), true), VE_OK);
	EXPECT_FALSE(fManager->UpdateIfNeeded());

	WriteFile("App.app/Contents/Resources/fr-ca.lproj/exact.xlf", Xliff("fr-ca", Unit("exact", "changed")));
	Touch("App.app/Contents/Resources/fr-ca.lproj/exact.xlf");
	Touch("lone.xlf");
	EXPECT_TRUE(fManager->UpdateIfNeeded());
	EXPECT_EQ(Lookup("exact"), "changed");
	EXPECT_EQ(Lookup("partial"), "base");
	EXPECT_EQ(Lookup("german"), "forced");
	EXPECT_EQ(Lookup("lone"), "forced alone");
	EXPECT_FALSE(fManager->UpdateIfNeeded());
}

TEST_F(VLocalizationManagerTest, ErrorsAndProcessStringsFindTheirTexts)
{
	const std::string body = Unit("ERR_RyRT_-10719", "shared {name} broken") + Unit("ERR_UPRy_-12345", "short number")
		+ Unit("ERR_UPRy_-1234567", "long number") + Unit("ERR_velk_600", "missing {path}")
		+ Unit("MoreInformationsAvailableInLogFile", "see the log");
	EXPECT_EQ(fManager->LoadFile(WriteFile("errors.xlf", Xliff("fr-ca", body)).Get(), false), VE_OK);

	const OsType signatures[] = {FourCharCode("RyRT"), FourCharCode("UPRy"), kVELK_SIGNATURE};
	for (OsType signature : signatures)
		VErrorBase::RegisterLocalizer(signature, fManager.Get());
	struct Row
	{
		VError code;
		const char* parameter;
		const char* value;
		const char* expected;
	};
	const Row rows[] = {
		{MakeVError(FourCharCode("RyRT"), -10719), "name", "store", "shared store broken"},
		{MakeVError(FourCharCode("UPRy"), -1234567), nullptr, nullptr, "long number"},  // the whole key
		{MakeVError(FourCharCode("UPRy"), -12345), nullptr, nullptr, "short number"},
		{MakeVError(kVELK_SIGNATURE, 600), "path", "/x", "missing /x"},
		{MakeVError(FourCharCode("UPRy"), 77), nullptr, nullptr, "Error code: 77 (UPRy)"},
	};
	for (const Row& row : rows)
	{
		VRefPtr<VErrorBase> error(new VErrorBase(row.code), true);
		if (row.parameter != nullptr)
			error->SetString(VString(row.parameter), VString(row.value));
		VString text;
		error->GetErrorDescription(text);
		EXPECT_EQ(ToUTF8(text), row.expected);
	}
	for (OsType signature : signatures)
		VErrorBase::UnregisterLocalizer(signature);

	ILocalizer* previous = VProcess::sInstance->GetLocalizer();
	VProcess::sInstance->SetLocalizer(fManager.Get());
	EXPECT_EQ(ToUTF8(LocalizeString(VString("MoreInformationsAvailableInLogFile"), "default")), "see the log");
	EXPECT_EQ(ToUTF8(LocalizeString(VString("missing"), "default")), "default");
	EXPECT_TRUE(LocalizeString(VString("missing"), nullptr).IsEmpty());
	VProcess::sInstance->SetLocalizer(previous);
}

TEST_F(VLocalizationManagerTest, LookupsRunWhileTheManagerReloads)
{
	std::string body;
	for (int i = 0; i < 200; ++i)
		body += Unit("key" + std::to_string(i), "text" + std::to_string(i));
	WriteFile("Res/many.xlf", Xliff("fr-ca", body));
	EXPECT_EQ(fManager->ScanAndLoadFolder(Folder("Res").Get(), false), VE_OK);

	std::atomic<bool> stop{false};
	std::atomic<int> wrong{0};
	std::atomic<int> found{0};
	std::vector<std::thread> readers;
	for (int t = 0; t < 3; ++t)
	{
		readers.emplace_back([&, t] {
			for (int i = t; !stop.load(); i = (i + 7) % 200)
			{
				VString text;
				if (fManager->LocalizeStringWithKey(VString(("key" + std::to_string(i)).c_str()), text))
				{
					found.fetch_add(1);
					if (ToUTF8(text) != "text" + std::to_string(i))
						wrong.fetch_add(1);
				}
			}
		});
	}
	int reloads = 0;
	for (int round = 0; round < 20; ++round)
	{
		Touch("Res/many.xlf");
		reloads += fManager->UpdateIfNeeded() ? 1 : 0;
	}
	stop.store(true);
	for (std::thread& reader : readers)
		reader.join();
	EXPECT_EQ(reloads, 20);
	EXPECT_GT(found.load(), 0);
	EXPECT_EQ(wrong.load(), 0);
	EXPECT_EQ(Lookup("key199"), "text199");
}

}  // namespace
}  // namespace velk
