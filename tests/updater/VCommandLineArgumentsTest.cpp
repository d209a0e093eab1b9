// Conversions of option values: what each type accepts, its limits, and what a refused value leaves behind.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/json/VJSONValue.h"
#include "updater/VCommandLineParser.h"

namespace velk {
namespace {

namespace Argument = Extension::CommandLineParser::Argument;

std::string PosixOf(const VFilePath& path)
{
	VString text;
	path.GetPosixPath(text);
	return to_string(text);
}

template <class T>
std::string PosixOf(const VRefPtr<T>& object)
{
	return object ? PosixOf(object->GetPath()) : "null";
}

std::string JSONText(const VJSONValue& value)
{
	VString text;
	value.Stringify(text, 1);
	return to_string(text);
}

// Converts the value into a variable of the kind, which starts with a known content, and answers the
// variable's content afterwards as text.
std::string Convert(const std::string& kind, const VString& value, bool& accepted)
{
	if (kind == "bool")
	{
		bool variable = true;
		accepted = Argument::Append(variable, value);
		return variable ? "true" : "false";
	}
	if (kind == "int")
	{
		int variable = 77;
		accepted = Argument::Append(variable, value);
		return std::to_string(variable);
	}
	if (kind == "uint")
	{
		unsigned int variable = 77;
		accepted = Argument::Append(variable, value);
		return std::to_string(variable);
	}
	if (kind == "ll")
	{
		long long variable = 77;
		accepted = Argument::Append(variable, value);
		return std::to_string(variable);
	}
	if (kind == "ull")
	{
		unsigned long long variable = 77;
		accepted = Argument::Append(variable, value);
		return std::to_string(variable);
	}
	if (kind == "path")
	{
		VFilePath variable(VString("/initial"), FPS_POSIX);
		accepted = Argument::Append(variable, value);
		return PosixOf(variable);
	}
	if (kind == "file")
	{
		VRefPtr<VFile> variable(new VFile(VString("/initial"), FPS_POSIX), true);
		accepted = Argument::Append(variable, value);
		return PosixOf(variable);
	}
	if (kind == "folder")
	{
		VRefPtr<VFolder> variable(new VFolder(VString("/initial/"), FPS_POSIX), true);
		accepted = Argument::Append(variable, value);
		return PosixOf(variable);
	}
	VJSONValue variable;
	if (kind == "json-string")
		variable.SetString(VString("before"));
	else if (kind == "json-object")
		variable = VJSONValue(JSON_object);
	else if (kind == "json-bool")
		variable.SetBool(false);
	else if (kind == "json-number")
		variable.SetNumber(0);
	accepted = Argument::Append(variable, value);
	return JSONText(variable);
}

class VCommandLineArgumentsTest : public test::VTemporaryFolderTest
{
};

TEST_F(VCommandLineArgumentsTest, ValuesConvertIntoEachTypeOrAreRefused)
{
	// Paths are compared in their resolved form.
	char resolved[PATH_MAX];
	ASSERT_NE(realpath(fRoot.c_str(), resolved), nullptr);
	const std::string root = std::string(resolved) + "/";
	std::filesystem::create_directory(root + "dir");
	Write("file.txt", "content");
	std::filesystem::create_directory_symlink(root + "dir", root + "dirlink");
	std::filesystem::create_symlink(root + "file.txt", root + "filelink");

	struct Row
	{
		std::string kind;
		std::string value;  // "{root}" stands for the test's folder
		bool accepted;
		std::string result;
	};
	const std::vector<Row> rows = {
		{"bool", "1", true, "true"},
		{"bool", "TRUE", true, "true"},
		{"bool", "0", true, "false"},
		{"bool", "False", true, "false"},
		{"bool", "yes", false, "true"},
		{"bool", "", false, "true"},
		{"bool", " 1", false, "true"},
		{"int", "0", true, "0"},
		{"int", "+7", true, "7"},
		{"int", "010", true, "8"},
		{"int", "\t 42 \n", true, "42"},
		{"int", "-2147483648", true, "-2147483648"},
		{"int", "2147483647", true, "2147483647"},
		{"int", "2147483648", false, "77"},
		{"int", "-2147483649", false, "77"},
		{"int", "4294967297", false, "77"},
		{"int", "000000000000000000000000000012", true, "10"},
		{"int", "0000000000000000000000000000012", false, "77"},
		{"int", "08", false, "77"},
		{"int", "0x10", false, "77"},
		{"int", "4 2", false, "77"},
		{"int", "1e3", false, "77"},
		{"int", "", false, "77"},
		{"int", "-", false, "77"},
		{"int", "+-1", false, "77"},
		{"uint", "4294967295", true, "4294967295"},
		{"uint", "4294967296", false, "77"},
		{"uint", "-1", false, "77"},
		{"uint", "+0", true, "0"},
		{"ll", "9223372036854775807", true, "9223372036854775807"},
		{"ll", "-9223372036854775808", true, "-9223372036854775808"},
		{"ll", "9223372036854775808", false, "77"},
		{"ull", "18446744073709551615", true, "18446744073709551615"},
		{"ull", "18446744073709551616", false, "77"},
		{"ull", "-1", false, "77"},
		{"path", "", false, ""},
		{"path", "{root}dir", true, "{root}dir/"},
		{"path", "{root}dirlink", true, "{root}dir/"},
		{"path", "{root}dir/../file.txt", true, "{root}file.txt"},
		{"path", "{root}missing", false, "{root}missing"},
		{"path", "relative-name", false, ""},
		{"path", "/", true, "/"},
		{"file", "{root}file.txt", true, "{root}file.txt"},
		{"file", "{root}filelink", true, "{root}file.txt"},
		{"file", "{root}dir", false, "null"},
		{"file", "{root}missing", false, "null"},
		{"file", "", false, "null"},
		{"folder", "{root}dir", true, "{root}dir/"},
		{"folder", "{root}dirlink", true, "{root}dir/"},
		{"folder", "{root}file.txt", false, "null"},
		{"folder", "{root}missing/", false, "null"},
		{"json-string", "a \"b\"", true, "\"a \\\"b\\\"\""},
		{"json-object", "{\"k\": [1, true]}", true, "{\"k\":[1,true]}"},
		{"json-object", "{oops", false, "{}"},
		{"json-undefined", "[1,2]", true, "[1,2]"},
		{"json-bool", "on", true, "true"},
		{"json-bool", "TRUE", true, "true"},
		{"json-bool", "OFF", true, "false"},
		{"json-bool", "maybe", false, "false"},
		{"json-number", "3", false, "0"},
	};
	const auto withRoot = [&root](std::string text) {
		const size_t at = text.find("{root}");
		return at == std::string::npos ? text : text.replace(at, 6, root);
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.kind + " [" + row.value + "]");
		bool accepted = !row.accepted;
		EXPECT_EQ(Convert(row.kind, VString(withRoot(row.value).c_str()), accepted), withRoot(row.result));
		EXPECT_EQ(accepted, row.accepted);
	}
	// Refused values are answered, not reported.
	EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

TEST_F(VCommandLineArgumentsTest, ATextHoldingANulUnitNamesNoFile)
{
	const std::string name = fRoot + "file.txt";
	Write("file.txt", "content");
	std::u16string units(name.begin(), name.end());
	units += u'\0';
	units += u"x";
	VFilePath path;
	EXPECT_FALSE(Argument::Append(path, VString(units.data(), int32(units.size()))));
	EXPECT_FALSE(path.IsValid());
}

}  // namespace
}  // namespace velk
