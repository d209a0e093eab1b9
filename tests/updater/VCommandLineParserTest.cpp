// The command-line parser: command lines and what they leave in the variables and on standard error, the
// help text with and without a terminal, values read from standard input, and the JSON export.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "updater/VCommandLineParser.h"

namespace velk {
namespace {

std::vector<VString> Arguments(const std::vector<std::string>& argv)
{
	std::vector<VString> arguments{VString("/usr/bin/tool")};
	for (const std::string& argument : argv)
		arguments.emplace_back(argument.c_str());
	return arguments;
}

// The variables of the registration below, as one line.
struct Variables
{
	int pid = -1;
	bool silent = false;
	bool force = false;
	int value = 0;
	VString logDir;
	std::vector<VString> positional;

	std::string Text() const
	{
		std::string text = "pid=" + std::to_string(pid) + " silent=" + std::to_string(silent) + " force=" + std::to_string(force) +
			" value=" + std::to_string(value) + " log=" + to_string(logDir) + " pos=";
		for (const VString& argument : positional)
			text += to_string(argument) + "|";
		return text;
	}
};

int ParseWith(const std::vector<std::string>& argv, bool positional, bool standardInput, Variables& variables)
{
	VCommandLineParser parser(Arguments(argv));
	parser.AddOption(VString("pid"), VString("Wait for the caller's pid"), &variables.pid);
	parser.AddOption(u's', VString("silent"), VString("Say nothing"), &variables.silent);
	parser.AddOption(u'f', VString(), VString("Force"), &variables.force);
	parser.AddOption(u'v', VString("value"), VString("A value"), &variables.value);
	parser.AddOption(VString("log-dir"), VString("Log folder"), &variables.logDir);
	if (positional)
		parser.AddPositionalArguments(&variables.positional);
	parser.SetValuesFromStandardInputAllowed(standardInput);
	return parser.Parse();
}

TEST(VCommandLineParserTest, CommandLinesFillTheVariablesOrPrintOneError)
{
	struct Row
	{
		std::vector<std::string> argv;
		bool positional;
		int result;
		std::string state;
		std::string error;
	};
	const std::string kDefault = "pid=-1 silent=0 force=0 value=0 log= pos=";
	const std::string kLong80 = std::string(79, '1') + "\xF0\x9F\x98\x80" + "1";  // a pair across unit 80
	const std::vector<Row> rows = {
		{{}, true, 0, kDefault, ""},
		// Options after positionals take their own values, not the positionals.
		{{"/old.app", "/new.app", "--pid", "5"}, true, 0, "pid=5 silent=0 force=0 value=0 log= pos=/old.app|/new.app|", ""},
		{{"--pid", "12", "/a", "/b"}, true, 0, "pid=12 silent=0 force=0 value=0 log= pos=/a|/b|", ""},
		{{"/a", "--pid", "3", "/b", "-s"}, true, 0, "pid=3 silent=1 force=0 value=0 log= pos=/a|/b|", ""},
		{{"-fv", "12"}, true, 0, "pid=-1 silent=0 force=1 value=12 log= pos=", ""},
		// A value search passes over options and takes what follows "--".
		{{"--pid", "-s", "7"}, true, 0, "pid=7 silent=1 force=0 value=0 log= pos=", ""},
		{{"--pid", "--", "-5"}, true, 0, "pid=-5 silent=0 force=0 value=0 log= pos=", ""},
		{{"--", "-x", "--pid"}, true, 0, "pid=-1 silent=0 force=0 value=0 log= pos=-x|--pid|", ""},
		{{"--pid=5", "--log-dir=a=b"}, true, 0, "pid=5 silent=0 force=0 value=0 log=a=b pos=", ""},
		{{"", "x"}, true, 0, "pid=-1 silent=0 force=0 value=0 log= pos=|x|", ""},
		{{"--pid", "010"}, true, 0, "pid=8 silent=0 force=0 value=0 log= pos=", ""},
		{{"--pid", " 42 "}, true, 0, "pid=42 silent=0 force=0 value=0 log= pos=", ""},
		{{"--pid", "4 2"}, true, 1, kDefault, "invalid value for argument '--pid' got \"4 2\" expected a signed integral\n"},
		{{"--pid", "4294967297"}, true, 1, kDefault, "invalid value for argument '--pid' got \"4294967297\" expected a signed integral\n"},
		{{"--pid", "abc"}, true, 1, kDefault, "invalid value for argument '--pid' got \"abc\" expected a signed integral\n"},
		{{"--pid="}, true, 1, kDefault, "invalid value for argument '--pid' got empty value  expected a signed integral\n"},
		{{"-v", kLong80}, true, 1, kDefault, "invalid value for argument '-v, --value' got \"" + std::string(79, '1') + "...\" expected a signed integral\n"},
		{{"--pid"}, true, 1, kDefault, "error: missing value for option --pid\n"},
		{{"-fv"}, true, 1, "pid=-1 silent=0 force=1 value=0 log= pos=", "error: missing value for option -v, --value\n"},
		{{"--silent=1"}, true, 1, kDefault, "error: a value for option `silent` is not required\n"},
		{{"-s", "--nope"}, true, 1, "pid=-1 silent=1 force=0 value=0 log= pos=", "error: unknown option `nope`\n"},
		{{"--nope=3"}, true, 1, kDefault, "error: unknown option `nope`\n"},
		{{"-sx"}, true, 1, "pid=-1 silent=1 force=0 value=0 log= pos=", "error: unknown option `x`\n"},
		{{"-"}, true, 1, kDefault, "error: missing short option `-`\n"},
		{{"/a"}, false, 1, kDefault, "error: unknown option `/a`\n"},
		{{"--help=x"}, true, 1, kDefault, "error: invalid value for option  `help`\n"},
		{{"--help"}, true, 2, kDefault, ""},
		{{"-h"}, true, 2, kDefault, ""},
		{{"-s?"}, true, 2, "pid=-1 silent=1 force=0 value=0 log= pos=", ""},
		// Added by the system, with their values.
		{{"-ApplePersistenceIgnoreState", "YES", "/a"}, true, 0, "pid=-1 silent=0 force=0 value=0 log= pos=/a|", ""},
		{{"--pid", "-NSDocumentRevisionsDebugMode", "YES", "9"}, true, 0, "pid=9 silent=0 force=0 value=0 log= pos=", ""},
		// Without standard-input values, "-" is a value like any other.
		{{"--log-dir=-"}, true, 0, "pid=-1 silent=0 force=0 value=0 log=- pos=", ""},
	};
	for (const Row& row : rows)
	{
		std::string line;
		for (const std::string& argument : row.argv)
			line += "[" + argument + "]";
		SCOPED_TRACE(line);
		Variables variables;
		testing::internal::CaptureStdout();
		testing::internal::CaptureStderr();
		const int result = ParseWith(row.argv, row.positional, false, variables);
		const std::string error = testing::internal::GetCapturedStderr();
		const std::string output = testing::internal::GetCapturedStdout();
		EXPECT_EQ(result, row.result);
		EXPECT_EQ(variables.Text(), row.state);
		EXPECT_EQ(error, row.error);
		EXPECT_EQ(output.rfind("Usage: tool [OPTION]... ", 0) == 0, row.result == 2) << output;
	}
}

// Standard input in place of fd 0 for the scope: a pipe holding the text, or, with no text, a descriptor
// that cannot be read.
class StStandardInput
{
public:
	explicit StStandardInput(const char* text) : fSaved(dup(STDIN_FILENO))
	{
		int replacement = -1;
		if (text != nullptr)
		{
			int ends[2];
			EXPECT_EQ(pipe(ends), 0);
			EXPECT_EQ(write(ends[1], text, strlen(text)), ssize_t(strlen(text)));
			close(ends[1]);
			replacement = ends[0];
		}
		else
		{
			replacement = open("/dev/null", O_WRONLY);
		}
		dup2(replacement, STDIN_FILENO);
		close(replacement);
	}
	~StStandardInput()
	{
		dup2(fSaved, STDIN_FILENO);
		close(fSaved);
	}

private:
	int fSaved;
};

TEST(VCommandLineParserTest, DashValuesAreReplacedByStandardInputReadOnce)
{
	struct Row
	{
		const char* input;  // null: standard input cannot be read
		std::vector<std::string> argv;
		int result;
		std::string state;
		std::string error;
	};
	const std::vector<Row> rows = {
		{"from stdin\n\xC3\xA9", {"--log-dir=-", "--", "-", "x"}, 0, "pid=-1 silent=0 force=0 value=0 log=from stdin\n\xC3\xA9 pos=from stdin\n\xC3\xA9|x|", ""},
		{"", {"--log-dir=-"}, 0, "pid=-1 silent=0 force=0 value=0 log= pos=", ""},
		{"12", {"--pid=-"}, 0, "pid=12 silent=0 force=0 value=0 log= pos=", ""},
		{"ignored", {"--log-dir=--"}, 0, "pid=-1 silent=0 force=0 value=0 log=-- pos=", ""},
		{nullptr, {"--log-dir=-"}, 1, "pid=-1 silent=0 force=0 value=0 log= pos=", "error: failed to read from stdin for option `log-dir`\n"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.argv.front());
		Variables variables;
		StStandardInput input(row.input);
		testing::internal::CaptureStderr();
		const int result = ParseWith(row.argv, true, true, variables);
		EXPECT_EQ(testing::internal::GetCapturedStderr(), row.error);
		EXPECT_EQ(result, row.result);
		EXPECT_EQ(variables.Text(), row.state);
	}
}

struct HelpVariables
{
	int count = 0;
	bool quiet = false;
	int number = 0;
	VString text;
	bool secret = false;
	std::vector<VString> files;
};

void RegisterHelpEntries(VCommandLineParser& parser, HelpVariables& variables)
{
	parser.AddParagraph(VString("\nTool\n\t\tCopies the items that it is given to the place that it is told about, one after the other.\n\n"));
	parser.AddOption(VString("count"), VString("Number of items"), &variables.count);
	parser.AddOption(u'q', VString("quiet"), VString("Say nothing\n\tat all"), &variables.quiet);
	parser.AddOption(u'n', VString(), VString("Identifier: abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz0123456789"), &variables.number);
	parser.AddOption(VString("a-rather-long-option-name"), VString("Long description that goes well past the fifty characters of a line."), &variables.text);
	parser.AddOption(VString("secret"), VString("Not shown"), &variables.secret, true);
	parser.AddPositionalArguments(&variables.files);
}

const std::string kSpaces29(29, ' ');

TEST(VCommandLineParserTest, HelpListsTheVisibleEntriesInColumns)
{
	HelpVariables variables;
	VCommandLineParser parser(Arguments({"--help"}));
	RegisterHelpEntries(parser, variables);
	testing::internal::CaptureStdout();
	EXPECT_EQ(parser.Parse(), 2);
	const std::string expected =
		"Usage: tool [OPTION]... [FILE]...\n"
		"\nTool\n"
		"Copies the items that it is given to the place that it is told about, one \n"
		"after the other.\n\n"
		"      --count=VALUE          Number of items\n"
		"  -q, --quiet                Say nothing\n" + kSpaces29 + "at all\n"
		"  -n VALUE                   Identifier: \n" + kSpaces29 + "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwx\n" +
		kSpaces29 + "yz0123456789\n"
		"      --a-rather-long-option-name=VALUE\n" + kSpaces29 + "Long description that goes well past the fifty \n" +
		kSpaces29 + "characters of a line.\n"
		"  -h, --help                 Display the help and exit\n";
	EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

TEST(VCommandLineParserTest, HelpIsColouredOnATerminal)
{
	int count = 0;
	bool hush = false;
	VCommandLineParser parser(Arguments({"-?"}));
	parser.AddParagraph(VString("Intro\n"));
	parser.AddOption(VString("count"), VString("Number of items"), &count);
	parser.AddOption(u'h', VString("hush"), VString("Quiet"), &hush);
	int master = -1;
	int slave = -1;
	ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
	termios raw;
	ASSERT_EQ(tcgetattr(slave, &raw), 0);
	cfmakeraw(&raw);
	ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
	fflush(stdout);
	const int saved = dup(STDOUT_FILENO);
	dup2(slave, STDOUT_FILENO);
	const int result = parser.Parse();
	fflush(stdout);
	dup2(saved, STDOUT_FILENO);
	close(saved);
	close(slave);
	std::string shown;
	char block[512];
	ssize_t got;
	while ((got = read(master, block, sizeof(block))) > 0)
		shown.append(block, size_t(got));
	close(master);
	EXPECT_EQ(result, 2);
	// 'h' is taken: the automatic help has no short name.
	EXPECT_EQ(shown,
		"Usage: tool [OPTION]...\n"
		"\033[0;33mIntro\n\033[0m"
		"\033[0;32m      --count=VALUE\033[0m          Number of items\n"
		"\033[0;32m  -h, --hush\033[0m                 Quiet\n"
		"\033[0;32m      --help\033[0m                 Display the help and exit\n");
}

TEST(VCommandLineParserTest, JSONExportReadsBackWithEscapedTexts)
{
	HelpVariables variables;
	VCommandLineParser parser(Arguments({"a \"quoted\"\targument"}));
	RegisterHelpEntries(parser, variables);
	VString exported;
	parser.ExportAsJSON(exported);
	VJSONValue json;
	ASSERT_EQ(json.ParseFromString(exported), VE_OK) << to_string(exported);

	const VJSONValue arguments = json.GetProperty(VString("arguments"));
	EXPECT_EQ(arguments.GetProperty(VString("count")).GetNumber(), 2.0);
	const VJSONValue values = arguments.GetProperty(VString("values"));
	ASSERT_TRUE(values.IsArray());
	EXPECT_EQ(to_string(values.GetArray()->GetAt(1).GetString()), "a \"quoted\"\targument");

	const VJSONValue options = json.GetProperty(VString("options"));
	EXPECT_EQ(options.GetProperty(VString("count")).GetNumber(), 6.0);  // hidden ones included
	const VJSONArray* entries = options.GetProperty(VString("values")).GetArray();
	ASSERT_NE(entries, nullptr);
	EXPECT_EQ(to_string(entries->GetAt(0).GetProperty(VString("paragraph")).GetString()),
		"\nTool\n\t\tCopies the items that it is given to the place that it is told about, one after the other.\n\n");
	const VJSONValue quiet = entries->GetAt(2);
	EXPECT_EQ(to_string(quiet.GetProperty(VString("shortName")).GetString()), "q");
	EXPECT_EQ(to_string(quiet.GetProperty(VString("longName")).GetString()), "quiet");
	EXPECT_TRUE(quiet.GetProperty(VString("requiresValue")).IsUndefined());
	EXPECT_EQ(to_string(quiet.GetProperty(VString("description")).GetString()), "Say nothing\n\tat all");
	EXPECT_TRUE(entries->GetAt(1).GetProperty(VString("requiresValue")).GetBool());

	// The export goes to the stream asked for, its line end to standard output either way.
	const std::string text = to_string(exported);
	struct Printed
	{
		bool toError;
		std::string error;
		std::string output;
	};
	for (const Printed& printed : {Printed{true, text, "\n"}, Printed{false, "", text + "\n"}})
	{
		SCOPED_TRACE(printed.toError);
		testing::internal::CaptureStdout();
		testing::internal::CaptureStderr();
		parser.PrintAllArguments(printed.toError);
		EXPECT_EQ(testing::internal::GetCapturedStderr(), printed.error);
		EXPECT_EQ(testing::internal::GetCapturedStdout(), printed.output);
	}
}

TEST(VCommandLineParserTest, OptionNamesAreValidated)
{
	const std::vector<std::pair<std::string, bool>> longNames = {
		{"", true}, {"pid", true}, {"log-dir", true}, {"a2", true}, {"x", false}, {"-ab", false}, {"ab-", false},
		{"Pid", false}, {"a_b", false}, {"a b", false},
	};
	for (const auto& [name, valid] : longNames)
		EXPECT_EQ(VCommandLineParser::ValidateLongOptionName(VString(name.c_str())), valid) << name;
	const std::vector<std::pair<UniChar, bool>> shortNames = {
		{u'a', true}, {u'Z', true}, {u'7', true}, {0, true}, {u' ', true}, {u'-', false}, {u'?', false}, {u'\u00E9', false},
	};
	for (const auto& [name, valid] : shortNames)
		EXPECT_EQ(VCommandLineParser::ValidateShortOptionName(name), valid) << int(name);
}

// Process arguments as bytes: UTF-8 ones read as their text; in any other, each byte outside a well-formed
// sequence is carried so that the text names no other file and shows the byte as it was. Whatever the
// argument, the text shown is one line of UTF-8.
TEST(VCommandLineParserTest, ArgumentBytesAreKeptOrRefusable)
{
	struct Row
	{
		const char* fName;
		std::string fBytes;
		bool fUTF8;
		std::string fShown;  // as UTF-8
	};
	const Row rows[] = {
		{"ASCII", "/a/Sample.app", true, "/a/Sample.app"},
		{"accented", "/a/Caf\xc3\xa9.app", true, "/a/Caf\xc3\xa9.app"},
		{"outside the first plane", "x\xf0\x9f\x98\x80y", true, "x\xf0\x9f\x98\x80y"},
		{"a control character", "a\tb\x7f", true, "a\\x09b\\x7f"},
		{"a byte of no sequence", "v1/Bad\xff" "Byte.app", false, "v1/Bad\\xffByte.app"},
		{"a sequence cut short", "a\xc3", false, "a\\xc3"},
		{"an overlong form", "\xc0\x80", false, "\\xc0\\x80"},
		{"an encoded surrogate", "\xed\xa0\x80", false, "\\xed\\xa0\\x80"},
		{"past U+10FFFF", "\xf4\x90\x80\x80", false, "\\xf4\\x90\\x80\\x80"},
		{"good characters around bad bytes", "\xc3\xa9\xfe\xf0\x9f\x98\x80\x80", false, "\xc3\xa9\\xfe\xf0\x9f\x98\x80\\x80"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		const VString text = VCommandLineParser::ArgumentFromBytes(row.fBytes.c_str());
		EXPECT_EQ(VCommandLineParser::IsUTF8Argument(text), row.fUTF8);
		EXPECT_EQ(to_string(VCommandLineParser::ShownArgument(text)), row.fShown);
		if (row.fUTF8)
		{
			EXPECT_EQ(to_string(text), row.fBytes);
			continue;
		}
		// Neither the bytes nor a name that reads the same once the bytes are taken for Latin-1.
		const std::string named = to_string(text);
		EXPECT_NE(named, row.fBytes);
		VString latin;
		latin.FromBlock(row.fBytes.data(), row.fBytes.size(), kCharSet_UTF8);
		EXPECT_FALSE(text.EqualToStringRaw(latin));
	}

	// A parse error shows the value as it was, escaped.
	testing::internal::CaptureStderr();
	Variables variables;
	VCommandLineParser parser(std::vector<VString>{VString("/usr/bin/tool"), VString("--pid"),
		VCommandLineParser::ArgumentFromBytes("4\xff")});
	parser.AddOption(VString("pid"), VString("Wait for the caller's pid"), &variables.pid);
	EXPECT_EQ(parser.Parse(), 1);
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "invalid value for argument '--pid' got \"4\\xff\" expected a signed integral\n");
}

}  // namespace
}  // namespace velk
