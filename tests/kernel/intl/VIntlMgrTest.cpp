// The international manager's dialects and languages: making managers and their fall-backs, the language
// table's lookups and tags, script groups, the system dialect from the preferred languages, localization
// folders, and full case mapping.
#include "kernel/intl/VIntlMgr.h"
#include "platform/ScopedLocaleVariables.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <optional>
#include <string>
#include <vector>

#include "common/VFailingAllocations.h"
#include "common/VTemporaryFolderTest.h"
#include "files/IFile.h"
#include "files/VFolder.h"
#include "kernel/intl/VCollator.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "platform/Locale.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VError.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

std::u16string Text(const VString& s)
{
	return std::u16string(reinterpret_cast<const char16_t*>(s.GetCPointer()), size_t(s.GetLength()));
}

VString Str(const std::u16string& s)
{
	VString result;
	result.FromUniString(reinterpret_cast<const UniChar*>(s.data()), int32(s.size()));
	return result;
}

// Sets the locale variables for the scope and restores them after, recomputing the system dialect on both
// sides so that the process's cached one does not leak into or out of the test.
class StLocaleEnvironment
{
public:
	StLocaleEnvironment(const char* language, const char* all, const char* messages, const char* lang)
		: fVariables(language, all, messages, lang)
	{
		VIntlMgr::_ForgetSystemDialect();
	}
	~StLocaleEnvironment() { VIntlMgr::_ForgetSystemDialect(); }

private:
	StLocaleVariables fVariables;
};

TEST(VIntlMgrTest, CreateFallsBackToTheTableAndRefusesSomeCollations)
{
	struct Row
	{
		uint32 dialect;
		uint32 collatorDialect;
		uint32 expectedDialect;
		uint32 expectedCollator;
	};
	const Row rows[] = {
		{13321, 13321, 1033, 1033},  // an English sublanguage the table lacks: its primary language
		{5129, 5129, 5129, 5129},
		{1054, 1054, 1054, 1033},    // Thai collates as English
		{1038, 1038, 1038, 1033},    // so does Hungarian
		{0x1234, 0x1234, 1033, 1033}, // neither the code nor its primary language: 1033
		{1036, 2060, 1036, 2060},
		{2052, 3098, 2052, 3098},
	};
	for (const Row& row : rows)
	{
		VRefPtr<VIntlMgr> manager(VIntlMgr::Create(row.dialect, row.collatorDialect, 1), true);
		ASSERT_NE(manager.Get(), nullptr) << row.dialect;
		EXPECT_EQ(manager->GetDialectCode(), row.expectedDialect) << row.dialect;
		EXPECT_EQ(manager->GetMacIntlMgr().GetDialect(), row.expectedDialect) << row.dialect;
		ASSERT_NE(manager->GetCollator(), nullptr);
		EXPECT_EQ(manager->GetCollator()->GetDialectCode(), row.expectedCollator) << row.dialect;
		EXPECT_EQ(manager->GetOptions(), VIntlMgr::kOPTION_PLATFORM_COLLATION);
	}
}

TEST(VIntlMgrTest, CreateAndCloneCopyTheCurrentManagerWithAFreshWildChar)
{
	VIntlMgr* current = VTask::GetCurrentIntlManager();
	ASSERT_NE(current, nullptr);
	current->GetCollator()->SetWildChar(u'*');
	VRefPtr<VIntlMgr> copy(VIntlMgr::Create(current->GetDialectCode(), current->GetCollator()->GetDialectCode(), 1), true);
	VRefPtr<VIntlMgr> clone(current->Clone(), true);
	const UniChar currentWild = current->GetWildChar();
	current->Reset();
	ASSERT_NE(copy.Get(), nullptr);
	ASSERT_NE(clone.Get(), nullptr);
	EXPECT_EQ(currentWild, u'*');
	EXPECT_EQ(copy->GetWildChar(), VCollator::sDefaultWildChar);
	EXPECT_EQ(clone->GetWildChar(), u'*');  // a clone keeps it
	EXPECT_NE(copy->GetCollator(), current->GetCollator());
	EXPECT_NE(clone->GetCollator(), current->GetCollator());
	EXPECT_EQ(copy->GetDialectCode(), current->GetDialectCode());
	const UniChar a[] = {u'a', u'b'};
	const UniChar b[] = {u'A', u'B'};
	EXPECT_TRUE(clone->EqualString(a, 2, b, 2, false));
	EXPECT_FALSE(clone->EqualString(a, 2, b, 2, true));
}

TEST(VIntlMgrTest, CreateAndCloneSurviveEveryRefusedAllocation)
{
	StErrorContextInstaller scope(false, true);
	int refusals = 0;
	const long runs = test::ForEachAllocationFailure([&](long allowed) {
		VIntlMgr* manager = nullptr;
		VIntlMgr* clone = nullptr;
		{
			test::StFailingAllocations failing(allowed);
			manager = VIntlMgr::Create(1036, 1036, 1);
			if (manager != nullptr)
				clone = manager->Clone();
		}
		if (manager == nullptr || clone == nullptr)
		{
			++refusals;
			const VError error = VTask::GetLastError();
			EXPECT_TRUE(error == VE_MEMORY_FULL || error == MakeVError(kVELK_SIGNATURE, 305)) << allowed;
		}
		if (clone != nullptr)
			clone->Release();
		if (manager != nullptr)
		{
			EXPECT_NE(manager->GetCollator(), nullptr);
			manager->Release();
		}
		VTask::FlushErrors();
	});
	EXPECT_GT(runs, 1);
	EXPECT_GT(refusals, 0);
}

TEST(VIntlMgrTest, LanguageCodesParseToDialects)
{
	struct Row
	{
		const char* code;
		bool fallBack;
		bool defaultSublanguage;
		uint32 expected;
	};
	const Row rows[] = {
		{"fr-CA", true, true, 3084},
		{"fr_ca", true, true, 3084},
		{"en-US", true, true, 1033},   // no "us" subtag row: the language
		{"fr-FR", true, true, 1036},
		{"fr-FR", false, true, kDIALECT_NONE},
		{"zh-Hans", true, true, 2052},
		{"zh", true, true, kDIALECT_NONE},  // no Chinese row without a subtag
		{"pt-BR", true, true, 1046},
		{"de-at", true, true, 3079},
		{"fr", true, true, 1036},
		{"sv", true, true, 1053},
		{"nb", true, true, kDIALECT_NONE},  // only with a subtag
		{"fy", true, false, kDIALECT_NONE},
		{"fa", true, false, 1065},
		{"oc", true, true, kDIALECT_NONE},
		{"se", true, true, 1083},
		{"se", true, false, 1083},
		{"smj", true, true, 1083},     // 4155's primary form
		{"smj", true, false, 4155},
		{"en-US-x", true, true, kDIALECT_NONE},  // three pieces
		{"en_US-x", true, true, kDIALECT_NONE},
		{"fr-", true, true, kDIALECT_NONE},
		{"-", true, true, kDIALECT_NONE},
		{"", true, true, kDIALECT_NONE},
		{"xx", true, true, kDIALECT_NONE},
	};
	for (const Row& row : rows)
	{
		uint32 dialect = 12345;
		const bool found = VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(VString(row.code), dialect, row.fallBack, row.defaultSublanguage);
		EXPECT_EQ(dialect, row.expected) << row.code;
		EXPECT_EQ(found, row.expected != kDIALECT_NONE) << row.code;
	}
	uint32 dialect = 0;
	EXPECT_TRUE(VIntlMgr::GetDialectCodeWithISOLanguageName(VString("French"), dialect));
	EXPECT_EQ(dialect, 1036u);
	EXPECT_TRUE(VIntlMgr::GetDialectCodeWithISOLanguageName(VString("india"), dialect));
	EXPECT_EQ(dialect, 1095u);  // the first "india" row
	EXPECT_FALSE(VIntlMgr::GetDialectCodeWithISOLanguageName(VString("klingon"), dialect));
	EXPECT_EQ(dialect, kDIALECT_NONE);
}

TEST(VIntlMgrTest, LanguageCodesAreScored)
{
	struct Row
	{
		const char* a;
		const char* b;
		int32 score;
	};
	const Row rows[] = {
		{"fr-CA", "fr", 3}, {"fr", "fr-ca", 2}, {"fr-ca", "fr-be", 1}, {"fr", "FR", 4}, {"fr-CA", "fr-ca", 4},
		{"fr", "xx", -1}, {"xx", "fr", -1}, {"fr_ca", "fr", 0}, {"fr-ca", "de-at", 0}, {"fr-ca", "de", 0},
		{"fr", "de-at", 0}, {"fr", "de", 0},
	};
	for (const Row& row : rows)
		EXPECT_EQ(VIntlMgr::Compare2RFC3066LanguageCodes(VString(row.a), VString(row.b)), row.score) << row.a << " " << row.b;
}

TEST(VIntlMgrTest, DialectsGiveTheirRowsFields)
{
	struct Row
	{
		uint32 dialect;
		const char* bcp47;
		const char* rfcDash;
		const char* rfcUnderscore;
		const char* iso6392;
		const char* name;
		const char* region;
	};
	const Row rows[] = {
		{2052, "zh-CN", "zh-Hans", "zh_Hans", "chi", "chinese", "CN"},
		{1028, "zh-TW", "zh-Hant", "zh_Hant", "chi", "chinese", "TW"},
		{1033, "en-US", "en", "en", "eng", "english", "US"},
		{3084, "fr-CA", "fr-ca", "fr_ca", "fre", "french", "CA"},
		{1050, "hr-HR", "hr", "hr", "scr", "croatian", "HR"},  // first of the two 1050 rows
		{1044, "no-NO", "no", "no", "nor", "norwegian", "NO"},
		{94, "am", "am", "am", "amh", "amharic", ""},
		{3082, "es", "es", "es", "spa", "spanish", ""},
		{0x7777, "", "", "", "", "", ""},
	};
	for (const Row& row : rows)
	{
		VString text("junk");
		EXPECT_EQ(VIntlMgr::GetBCP47LanguageCode(row.dialect, text), row.bcp47[0] != 0) << row.dialect;
		EXPECT_EQ(Text(text), Text(VString(row.bcp47))) << row.dialect;
		EXPECT_EQ(VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(row.dialect, text, '-'), row.rfcDash[0] != 0);
		EXPECT_EQ(Text(text), Text(VString(row.rfcDash))) << row.dialect;
		VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(row.dialect, text, '_');
		EXPECT_EQ(Text(text), Text(VString(row.rfcUnderscore))) << row.dialect;
		VIntlMgr::GetISO6392LanguageCode(row.dialect, text);
		EXPECT_EQ(Text(text), Text(VString(row.iso6392))) << row.dialect;
		VIntlMgr::GetISOLanguageName(row.dialect, text);
		EXPECT_EQ(Text(text), Text(VString(row.name))) << row.dialect;
		EXPECT_EQ(VIntlMgr::GetISO3166RegionCode(row.dialect, text), row.region[0] != 0);
		EXPECT_EQ(Text(text), Text(VString(row.region))) << row.dialect;
		EXPECT_EQ(VIntlMgr::IsDialectCode(row.dialect), row.iso6392[0] != 0) << row.dialect;
		EXPECT_EQ(VIntlMgr::GetISO6391LanguageCode(row.dialect) != nullptr, row.iso6392[0] != 0) << row.dialect;
	}

	std::vector<uint32> all{7};
	VIntlMgr::GetAllDialects(all);
	ASSERT_EQ(all.size(), 155u);  // appended, repeats included
	EXPECT_EQ(all[1], 1078u);
	EXPECT_EQ(all.back(), 1077u);
	std::vector<std::pair<VString, uint32>> collators;
	VIntlMgr::GetDialectsHavingCollator(collators);
	ASSERT_EQ(collators.size(), 154u);
	int rowsOf1050 = 0;
	for (const auto& [code, dialect] : collators)
	{
		if (dialect != 1050)
			continue;
		++rowsOf1050;
		EXPECT_EQ(Text(code), u"hr");  // the Serbian row too: the code's first row names it
	}
	EXPECT_EQ(rowsOf1050, 2);

	for (uint32 dialect : {1065u, 1025u, 1037u, 1056u, 16385u})
		EXPECT_TRUE(VIntlMgr::IsRightToLeftDialect(dialect)) << dialect;
	for (uint32 dialect : {1033u, 1036u, 1041u})
		EXPECT_FALSE(VIntlMgr::IsRightToLeftDialect(dialect)) << dialect;
}

TEST(VIntlMgrTest, DialectsBelongToScriptGroups)
{
	const std::pair<uint32, int32> rows[] = {
		{1033, 0}, {20490, 0}, {1041, 1}, {1028, 2}, {4100, 2}, {2052, 3}, {3076, 3}, {1042, 4}, {2066, 4},
		{1025, 5}, {16385, 5}, {1037, 6}, {1032, 7}, {1049, 8}, {7194, 8}, {1029, 9}, {6170, 9}, {1050, 10},
		{4122, 10}, {1039, 11}, {1080, 11}, {1065, 12}, {1048, 13}, {1054, 14}, {1066, 15}, {1055, 16},
		{1081, -1}, {0, -1}, {0x7777, -1},
	};
	for (const auto& [dialect, script] : rows)
		EXPECT_EQ(VIntlMgr::DialectCodeToScriptCode(dialect), script) << dialect;
}

TEST(VIntlMgrTest, ManagerSignaturesAndDebugConversion)
{
	VIntlMgr* manager = VTask::GetCurrentIntlManager();
	ASSERT_NE(manager, nullptr);
	VString signature;
	manager->GetStringComparisonAlgorithmSignature(signature);
	EXPECT_EQ(Text(signature).rfind(u"system:", 0), 0u);
	manager->GetKewordAlgorithmSignature(signature);
	EXPECT_EQ(Text(signature), u"AlphaNum");

	char source[] = "abcdef";
	char dest[4] = {};
	int32 bytes = 4;
	EXPECT_TRUE(VIntlMgr::DebugConvertString(source, 6, 7, dest, bytes, 7));
	EXPECT_EQ(bytes, 4);
	EXPECT_EQ(std::string(dest, 4), "abcd");
	bytes = 4;
	EXPECT_FALSE(VIntlMgr::DebugConvertString(source, 6, 7, dest, bytes, 2));
	EXPECT_EQ(bytes, 4);
	EXPECT_EQ(VIntlMgr::CharType(u'a'), 0);
}

TEST(VIntlMgrTest, SystemDialectComesFromThePreferredLanguages)
{
	struct Row
	{
		const char* language;
		const char* all;
		const char* messages;
		const char* lang;
		uint32 expected;
		std::vector<uint32> uiDialects;
	};
	const Row rows[] = {
		{nullptr, nullptr, nullptr, "fr_FR.UTF-8", 1036, {1036}},
		{nullptr, nullptr, nullptr, "pt_BR", 1046, {1046}},
		{nullptr, nullptr, nullptr, "xx", 1033, {1033}},
		{nullptr, nullptr, nullptr, nullptr, 1033, {1033}},
		{nullptr, "C", nullptr, "fr_FR", 1033, {1033}},  // LC_ALL before LANG; "C" is English
		{nullptr, nullptr, "de_AT@euro", "fr_FR", 3079, {3079}},
		{"sv:ja_JP", nullptr, nullptr, "fr_CA.UTF-8", 1053, {1053, 1041, 3084}},
		{"", nullptr, nullptr, "es_MX", 2058, {2058}},
		// Chinese by its script: the dialects "zh-Hans" and "zh-Hant".
		{nullptr, nullptr, nullptr, "zh_CN.UTF-8", 2052, {2052}},
		{nullptr, nullptr, nullptr, "zh_TW", 1028, {1028}},
	};
	for (const Row& row : rows)
	{
		StLocaleEnvironment environment(row.language, row.all, row.messages, row.lang);
		EXPECT_EQ(VIntlMgr::ResolveDialectCode(0), row.expected) << (row.lang ? row.lang : "-");
		EXPECT_EQ(VIntlMgr::ResolveDialectCode(uint32(-1)), row.expected);
		EXPECT_EQ(VIntlMgr::GetSystemUIDialectCode(), row.expected);
		std::vector<uint32> dialects{99};
		VIntlMgr::GetSystemUIDialectCodes(dialects);
		EXPECT_EQ(dialects, row.uiDialects);
		VRefPtr<VIntlMgr> manager(VIntlMgr::Create(0, 0, 1), true);
		ASSERT_NE(manager.Get(), nullptr);
		EXPECT_EQ(manager->GetDialectCode(), row.expected);
	}
	// The C locale has no currency; a region does.
	for (const auto& [lang, currency] : {std::pair<const char*, std::u16string>{"C", u""}, {"zh_CN.UTF-8", u"\u00A5"}})
	{
		StLocaleEnvironment environment(nullptr, nullptr, nullptr, lang);
		VRefPtr<VIntlMgr> manager(VIntlMgr::Create(0, 0, 1), true);
		ASSERT_NE(manager.Get(), nullptr);
		EXPECT_EQ(Text(manager->GetCurrency()), currency) << lang;
	}
	{
		StLocaleEnvironment environment(nullptr, nullptr, nullptr, "ja_JP");
		EXPECT_TRUE(VIntlMgr::IsSystemUIDialectIdeographic());
		EXPECT_EQ(VIntlMgr::ResolveDialectCode(1036), 1036u);
	}
	{
		StLocaleEnvironment environment(nullptr, nullptr, nullptr, "de_CH");
		EXPECT_FALSE(VIntlMgr::IsSystemUIDialectIdeographic());
		// Kept once computed, whatever the environment says later.
		EXPECT_EQ(VIntlMgr::ResolveDialectCode(0), 2055u);
		setenv("LANG", "fr_FR", 1);
		EXPECT_EQ(VIntlMgr::ResolveDialectCode(0), 2055u);
	}
}

TEST(VIntlMgrTest, SystemDialectIsResolvedByManyThreadsAtOnce)
{
	StLocaleEnvironment environment(nullptr, nullptr, nullptr, "fr_CA.UTF-8");
	std::atomic<int> wrong{0};
	std::vector<std::thread> threads;
	for (int i = 0; i < 8; ++i)
	{
		threads.emplace_back([&wrong] {
			for (int round = 0; round < 50; ++round)
			{
				if (VIntlMgr::ResolveDialectCode(0) != 3084 || VIntlMgr::IsRightToLeftDialect(0))
					++wrong;
			}
		});
	}
	for (std::thread& thread : threads)
		thread.join();
	EXPECT_EQ(wrong.load(), 0);
}

TEST(VIntlMgrTest, PlatformLocaleOfADialect)
{
	// A region the table lacks: the system dialect is the language's, but the user's own locale serves.
	StLocaleEnvironment environment(nullptr, nullptr, nullptr, "de_BE.UTF-8");
	ASSERT_EQ(VIntlMgr::ResolveDialectCode(0), 1031u);
	struct Row
	{
		uint32 dialect;
		const char* name;
	};
	const Row rows[] = {{1031, "de_BE"}, {3084, "fr_CA"}, {2052, "zh_CN"}, {1036, "fr_FR"}, {0x7777, nullptr}};
	for (const Row& row : rows)
	{
		XMacIntlMgr platform(row.dialect);
		plat::Locale* locale = platform.GetCFLocaleRef();
		if (row.name == nullptr)
		{
			EXPECT_EQ(locale, nullptr);
			continue;
		}
		ASSERT_NE(locale, nullptr) << row.dialect;
		EXPECT_STREQ(locale->GetName(), row.name);
		EXPECT_EQ(platform.GetCFLocaleRef(), locale);  // cached
		plat::Locale* retained = platform.RetainCFLocaleRef();
		EXPECT_EQ(retained, locale);
		retained->Release();
		XMacIntlMgr copy(platform);
		EXPECT_EQ(copy.GetDialect(), row.dialect);
	}
	plat::Locale* made = XMacIntlMgr::CreateCFLocaleRef(1031);
	ASSERT_NE(made, nullptr);
	EXPECT_STREQ(made->GetName(), "de_DE");
	made->Release();
}

class VIntlMgrFoldersTest : public test::VTemporaryFolderTest
{
protected:
	void MakeFolder(const std::string& name) { std::filesystem::create_directories(fRoot + name); }
	VRefPtr<VFolder> Root() const { return VRefPtr<VFolder>(new VFolder(VString(fRoot.c_str()), FPS_POSIX), true); }
	std::vector<std::string> Folders(uint32 dialect, bool* found = nullptr) const
	{
		std::vector<VRefPtr<IFolder>> folders;
		const bool any = VIntlMgr::GetLocalizationFoldersWithDialect(dialect, Root().Get(), folders);
		if (found != nullptr)
			*found = any;
		std::vector<std::string> names;
		for (const VRefPtr<IFolder>& folder : folders)
		{
			VString path;
			folder->GetPlatformPath(path, FPS_POSIX);
			char bytes[1024];
			path.ToBlock(bytes, sizeof(bytes), 7, true, false);
			std::string text(bytes);
			names.push_back(std::filesystem::path(text.substr(0, text.size() - 1)).filename().string());
		}
		return names;
	}
};

TEST_F(VIntlMgrFoldersTest, LocalizationFoldersAreFoundInTheirOrder)
{
	for (const char* name : {"en.lproj", "en_US.lproj", "English.lproj", "fr-ca.lproj", "fr_ca.lproj", "fr.lproj",
			 "fr_CA.lproj", "French.lproj", ".lproj", "de.lproj"})
		MakeFolder(name);
	Write("English.lproj/Strings.json", "{}");
	Write("en.lproj/Strings.json", "{}");
	Write("fr.lproj/Strings.json", "{}");
	Write("de.lproj/Other.json", "{}");

	bool found = false;
	EXPECT_EQ(Folders(1033, &found), (std::vector<std::string>{"en.lproj", "en_US.lproj", "English.lproj"}));
	EXPECT_TRUE(found);
	EXPECT_EQ(Folders(3084), (std::vector<std::string>{"fr-ca.lproj", "fr_ca.lproj", "fr.lproj", "fr_CA.lproj", "French.lproj"}));
	// Outside the table: no names at all, not even a bare ".lproj".
	EXPECT_EQ(Folders(0x7777, &found), std::vector<std::string>{});
	EXPECT_FALSE(found);
	EXPECT_EQ(Folders(1041, &found), std::vector<std::string>{});
	EXPECT_FALSE(found);

	struct Row
	{
		uint32 dialect;
		const char* file;
		const char* expectedFolder;  // null: no file
		bool folderFound;
	};
	const Row rows[] = {
		{1033, "Strings.json", "English.lproj", true},  // the last folder found first
		{3084, "Strings.json", "fr.lproj", true},
		{1031, "Strings.json", nullptr, true},
		{1031, "Other.json", "de.lproj", true},
		{1041, "Strings.json", nullptr, false},
		{0x7777, "Strings.json", nullptr, false},
	};
	for (const Row& row : rows)
	{
		bool folderFound = !row.folderFound;
		VRefPtr<IFile> file(VIntlMgr::RetainLocalizationFile(Root().Get(), VString(row.file), row.dialect, &folderFound), true);
		EXPECT_EQ(folderFound, row.folderFound) << row.dialect;
		if (row.expectedFolder == nullptr)
		{
			EXPECT_EQ(file.Get(), nullptr) << row.dialect;
			continue;
		}
		ASSERT_NE(file.Get(), nullptr) << row.dialect;
		VRefPtr<IFolder> parent(file->RetainParentFolder(false), true);
		ASSERT_NE(parent.Get(), nullptr);
		VString path;
		parent->GetPlatformPath(path, FPS_POSIX);
		EXPECT_EQ(Text(path), Text(VString((fRoot + row.expectedFolder + "/").c_str()))) << row.dialect;
	}
}

TEST(VIntlMgrCaseTest, FullCaseMappingMayGrowTheText)
{
	VIntlMgr* manager = VTask::GetCurrentIntlManager();
	ASSERT_NE(manager, nullptr);
	struct Row
	{
		std::u16string text;
		bool upper;
		std::u16string expected;
	};
	std::u16string manyLigatures(1000, u'\uFB03');   // "ffi": three times as long
	std::u16string manyIotas(300, u'\u0390');        // iota with dialytika and tonos: three units
	std::u16string ffi;
	std::u16string iotas;
	for (int i = 0; i < 1000; ++i)
		ffi += u"FFI";
	for (int i = 0; i < 300; ++i)
		iotas += u"\u0399\u0308\u0301";
	const Row rows[] = {
		{u"stra\u00DFe", true, u"STRASSE"},
		{u"", true, u""},
		{u"\u00C0\u00C9 Ab", false, u"\u00E0\u00E9 ab"},
		{u"istanbul", true, u"ISTANBUL"},                // the root locale: no dotted capital I
		{u"\u0130", false, u"i\u0307"},
		{u"\u03A3\u0391\u03A3", false, u"\u03C3\u03B1\u03C2"},  // final sigma
		{manyLigatures, true, ffi},
		{manyIotas, true, iotas},
		{std::u16string(200, u'\uFB03'), true, ffi.substr(0, 600)},  // beyond twice, below the minimum room
	};
	for (const Row& row : rows)
	{
		VString text = Str(row.text);
		manager->ToUpperLowerCase(text, false, row.upper);
		EXPECT_TRUE(Text(text) == row.expected) << "length " << row.text.size();
	}

	// The platform half reports the full length when the room is short, and fills what fits.
	const std::u16string source = u"\u00DF\u00DF\u00DF";
	UniChar room[4] = {};
	int32 length = 4;
	EXPECT_TRUE(XMacIntlMgr::ToUpperLowerCase(reinterpret_cast<const UniChar*>(source.data()), 3, room, length, true));
	EXPECT_EQ(length, 6);
	EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(room), 4), u"SSSS");
}

TEST(VIntlMgrCaseTest, CaseMappingLeavesTheTextWhenMemoryIsShort)
{
	VIntlMgr* manager = VTask::GetCurrentIntlManager();
	ASSERT_NE(manager, nullptr);
	const std::u16string source(400, u'\uFB03');
	std::u16string upper;
	for (int i = 0; i < 400; ++i)
		upper += u"FFI";
	test::ForEachAllocationFailure([&](long allowed) {
		VString text = Str(source);
		{
			test::StFailingAllocations failing(allowed);
			manager->ToUpperLowerCase(text, false, true);
		}
		EXPECT_TRUE(Text(text) == source || Text(text) == upper) << allowed;
	});
	VTask::FlushErrors();
}

}  // namespace
}  // namespace velk
