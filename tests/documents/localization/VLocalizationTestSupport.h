// What the localization tests share: a temporary folder in which XLIFF and strings files are written, and
// a manager for Canadian French (dialect 3084, code "fr-ca") to read them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/VTemporaryFolderTest.h"
#include "documents/localization/VLocalizationManager.h"
#include "files/VFolder.h"

namespace velk::test {

constexpr uint32 kCanadianFrench = 3084;

// An XLIFF document of one file whose body is body; no "target-language" when language is empty.
inline std::string Xliff(const std::string& language, const std::string& body)
{
	const std::string target = language.empty() ? std::string() : " target-language=\"" + language + "\"";
	return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xliff version=\"1.2\">\n<file original=\"x\" "
		"source-language=\"en\"" + target + " datatype=\"plaintext\"><body>\n" + body + "\n</body></file></xliff>\n";
}

inline std::string Unit(const std::string& resname, const std::string& text, const std::string& attributes = "")
{
	return "<trans-unit resname=\"" + resname + "\"" + attributes + "><source>" + text + "</source></trans-unit>";
}

class VLocalizationTest : public VTemporaryFolderTest
{
protected:
	void SetUp() override
	{
		VTemporaryFolderTest::SetUp();
		fManager = VRefPtr<VLocalizationManager>(new VLocalizationManager(kCanadianFrench), true);
	}

	void TearDown() override
	{
		fManager = nullptr;
		VTemporaryFolderTest::TearDown();
	}

	// Writes the file, making its folders first.
	VRefPtr<VFile> WriteFile(const std::string& name, const std::string& bytes) const
	{
		std::filesystem::create_directories(std::filesystem::path(fRoot + name).parent_path());
		return Write(name, bytes);
	}

	VRefPtr<VFolder> Folder(const std::string& name) const
	{
		std::filesystem::create_directories(fRoot + name);
		return VRefPtr<VFolder>(new VFolder(VString((fRoot + name + "/").c_str()), FPS_POSIX), true);
	}

	// The text of key, or "<none>".
	std::string Lookup(const char* key) const
	{
		VString text;
		if (!fManager->LocalizeStringWithKey(VString(key), text))
			return "<none>";
		return ToUTF8(text);
	}

	static std::string ToUTF8(const VString& text)
	{
		std::string out;
		for (int32 i = 1; i <= text.GetLength(); ++i)
		{
			const UniChar c = text.GetUniChar(i);
			if (c < 0x80)
				out += char(c);
			else
				out += "?";
		}
		return out;
	}

	VRefPtr<VLocalizationManager> fManager;
};

}  // namespace velk::test
