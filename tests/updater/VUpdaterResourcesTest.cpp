// The updater bundle's resources as they stand in the source tree: its English texts are read as its
// language folder, answer every error the update can meet and name exactly the parameters those errors
// carry; its information dictionary names the bundle once the version is filled in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "documents/localization/VLocalizationManager.h"
#include "files/VFolder.h"
#include "platform/MainBundle.h"
#include "runtime/VErrorBase.h"

namespace velk {
namespace {

constexpr uint32 kUSEnglish = 1033;
constexpr OsType kUpdaterSignature = FourCharCode("UPRy");

#ifdef VELK_RESOURCES_DIR
std::filesystem::path ResourcesFolder()
{
	return VELK_RESOURCES_DIR;
}
#else
// resources/ beside tests/ in the source tree, for builds that do not name it.
std::filesystem::path ResourcesFolder()
{
	return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "resources";
}
#endif

std::string ReadWhole(const std::filesystem::path& path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The {name} placeholders of a text.
std::set<std::string> Placeholders(const std::string& text)
{
	std::set<std::string> names;
	for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open + 1))
	{
		const size_t close = text.find('}', open);
		if (close == std::string::npos)
			break;
		names.insert(text.substr(open + 1, close - open - 1));
	}
	return names;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
	for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
		text.replace(at, from.size(), to);
}

// Makes a localizer the one of a signature for a scope, then puts back whatever was there.
class StSignatureLocalizer
{
public:
	StSignatureLocalizer(OsType signature, ILocalizer* localizer)
	: fSignature(signature), fPrevious(VErrorBase::GetLocalizer(signature))
	{
		VErrorBase::RegisterLocalizer(signature, localizer);
	}
	~StSignatureLocalizer()
	{
		if (fPrevious != nullptr)
			VErrorBase::RegisterLocalizer(fSignature, fPrevious);
		else
			VErrorBase::UnregisterLocalizer(fSignature);
	}
	StSignatureLocalizer(const StSignatureLocalizer&) = delete;
	StSignatureLocalizer& operator=(const StSignatureLocalizer&) = delete;

private:
	OsType fSignature;
	ILocalizer* fPrevious;
};

using VUpdaterResourcesTest = test::VTemporaryFolderTest;

TEST_F(VUpdaterResourcesTest, ErrorTextsNameTheParametersTheirErrorsCarry)
{
	VRefPtr<VLocalizationManager> manager(new VLocalizationManager(kUSEnglish), true);
	VRefPtr<VFolder> resources(new VFolder(VString((ResourcesFolder().string() + "/").c_str()), FPS_POSIX), true);
	// The English folder is read as a language folder, not forced: its target language must suit the dialect.
	ASSERT_TRUE(manager->LoadDefaultLocalizationFolders(resources.Get()));

	struct Row
	{
		OsType signature;
		int32 number;
		std::set<std::string> placeholders;
	};
	const Row rows[] = {
		// The update run's own errors, with the parameters the engine sets.
		{kUpdaterSignature, 1, {}},
		{kUpdaterSignature, 2, {"path"}},
		{kUpdaterSignature, 3, {"path"}},
		{kUpdaterSignature, 8, {"srcPath", "dstPath"}},
		{kUpdaterSignature, 11, {"srcPath", "dstPath"}},
		{kUpdaterSignature, 12, {"path"}},
		{kUpdaterSignature, 13, {"from", "to"}},
		{kUpdaterSignature, 14, {"path"}},
		{kUpdaterSignature, 41, {}},
		{kUpdaterSignature, 100, {}},
		{kUpdaterSignature, 101, {}},
		{kUpdaterSignature, 120, {}},
		// Toolbox errors: generic ones carry nothing the text may rely on; file errors carry "path" and what
		// their operation adds.
		{kVELK_SIGNATURE, 1, {}},
		{kVELK_SIGNATURE, 2, {}},
		{kVELK_SIGNATURE, 3, {}},
		{kVELK_SIGNATURE, 5, {"path"}},
		{kVELK_SIGNATURE, 8, {}},
		{kVELK_SIGNATURE, 100, {}},
		{kVELK_SIGNATURE, 600, {"path"}},
		{kVELK_SIGNATURE, 601, {"path", "newname"}},
		{kVELK_SIGNATURE, 602, {"path"}},
		{kVELK_SIGNATURE, 604, {"path"}},
		{kVELK_SIGNATURE, 605, {"path", "destination"}},
		{kVELK_SIGNATURE, 606, {"path", "destination"}},
		{kVELK_SIGNATURE, 607, {"path"}},
		{kVELK_SIGNATURE, 608, {"path"}},
		{kVELK_SIGNATURE, 609, {"path"}},
		{kVELK_SIGNATURE, 614, {}},
		{kVELK_SIGNATURE, 650, {"path"}},
		{kVELK_SIGNATURE, 651, {"path"}},
		{kVELK_SIGNATURE, 652, {"path"}},
		{kVELK_SIGNATURE, 653, {"path"}},
		{kVELK_SIGNATURE, 654, {"path"}},
		{kVELK_SIGNATURE, 655, {"path"}},
		{kVELK_SIGNATURE, 657, {"path", "newname"}},
		{kVELK_SIGNATURE, 658, {}},
		{kVELK_SIGNATURE, 660, {"path", "destination"}},
		{kVELK_SIGNATURE, 661, {"path"}},
		{kVELK_SIGNATURE, 684, {}},
		{kVELK_SIGNATURE, 685, {}},
		{kVELK_SIGNATURE, 686, {"name"}},
		{kVELK_SIGNATURE, 687, {"path"}},
	};

	StSignatureLocalizer updater(kUpdaterSignature, manager.Get());
	StSignatureLocalizer toolbox(kVELK_SIGNATURE, manager.Get());
	for (const Row& row : rows)
	{
		const VError code = MakeVError(row.signature, row.number);
		SCOPED_TRACE(to_string(VString().AppendOsType(row.signature)) + " " + std::to_string(row.number));
		VString localized;
		if (!manager->LocalizeErrorMessage(code, localized))
		{
			ADD_FAILURE() << "no text";
			continue;
		}
		const std::string text = to_string(localized);
		EXPECT_FALSE(text.empty());
		EXPECT_EQ(Placeholders(text), row.placeholders);

		// The description an error gives: each placeholder replaced by its parameter, nothing left over.
		VRefPtr<VErrorBase> error(new VErrorBase(code), true);
		std::string expected = text;
		for (const std::string& name : row.placeholders)
		{
			const std::string value = "/Users/someone/Apps/" + name + ".app";
			error->SetString(VString(name.c_str()), VString(value.c_str()));
			ReplaceAll(expected, "{" + name + "}", value);
		}
		VString description;
		error->GetErrorDescription(description);
		EXPECT_EQ(to_string(description), expected);
	}

	// The failure notice's hint keeps its placeholder for the engine to fill.
	VString hint;
	ASSERT_TRUE(manager->LocalizeStringWithKey(VString("MoreInformationsAvailableInLogFile"), hint));
	EXPECT_EQ(to_string(hint), "More information is available in the log file '{LogFilePath}'");
}

TEST_F(VUpdaterResourcesTest, InformationDictionaryNamesTheBundle)
{
	std::string dictionary = ReadWhole(ResourcesFolder() / "Info.plist.in");
	ASSERT_FALSE(dictionary.empty());
	ReplaceAll(dictionary, "@PROJECT_VERSION@", "4.5.6");
	// The version is the only thing the build fills in.
	EXPECT_EQ(dictionary.find('@'), std::string::npos);
	Write("Info.plist", dictionary);

	plat::InfoStrings strings;
	ASSERT_TRUE(plat::ReadInfoDictionaryStrings(fRoot + "Info.plist", strings));
	const plat::InfoStrings expected = {
		{"CFBundleName", "Updater"},
		{"CFBundleExecutable", "updater"},
		{"CFBundleIdentifier", "org.velk.updater"},
		{"CFBundleDevelopmentRegion", "en"},
		{"CFBundleShortVersionString", "4.5.6"},
	};
	for (const auto& [key, value] : expected)
		EXPECT_EQ(strings[key], value) << key;
}

}  // namespace
}  // namespace velk
