// The toolbox's parser for GNU-style command lines: long options ("--name", "--name=value"), clustered
// short options ("-fv"), values taken from the following arguments, "--" to end the options, positional
// arguments gathered in a list, an automatic help, and values converted into variables the caller owns.
// Every parse error is one line on standard error.
#pragma once

#include "kernel/VExport.h"

#include <map>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"

namespace velk {

class VCommandLineParser;
class VFile;
class VFilePath;
class VFolder;
class VJSONValue;

namespace Extension::CommandLineParser::Argument {

// Converts the text of one value into a variable; each answers whether the text was accepted. On failure
// the variable keeps its value unless said otherwise. Nothing is printed and no error is pushed.

// "1" or "true" gives true, "0" or "false" gives false, compared without regard to case and diacritics.
VELK_API bool Append(bool& out, const VString& value);
// White space at both ends is ignored; what is left must be 1 to 30 digits, '+' or '-', read in base 0
// (a leading 0 means octal) and consumed whole, in range for the variable's own type. An unsigned
// variable refuses any '-' rather than wrapping it around.
VELK_API bool Append(int& out, const VString& value);
VELK_API bool Append(unsigned int& out, const VString& value);
VELK_API bool Append(long long& out, const VString& value);
VELK_API bool Append(unsigned long long& out, const VString& value);
// The text itself; always accepted.
VELK_API bool Append(VString& out, const VString& value);
// Appends the text to the list; always accepted.
VELK_API bool Append(std::vector<VString>& out, const VString& value);
// An empty text clears the path and fails. Otherwise the text goes through realpath: its answer, with a
// "/" behind when it names a folder, becomes the path; when realpath fails the text itself is taken as a
// POSIX full path (invalid when relative). Answers whether realpath succeeded.
VELK_API bool Append(VFilePath& out, const VString& value);
// As VFilePath, then the path must name an existing file (an alias file is replaced by its target); on
// failure the reference is cleared.
VELK_API bool Append(VRefPtr<VFile>& out, const VString& value);
// As VFilePath, then the path must name a folder; on failure the reference is cleared.
VELK_API bool Append(VRefPtr<VFolder>& out, const VString& value);
// By the value's current kind: a string takes the text; an object or an undefined value takes the text
// parsed as JSON; a boolean takes "1", "true" or "on" as true and "0", "false" or "off" as false. Other
// kinds, and text that does not parse, fail and leave the value as it was.
VELK_API bool Append(VJSONValue& out, const VString& value);

}  // namespace Extension::CommandLineParser::Argument

namespace Private::CommandLineParser {

// One entry of the parser: an option, or a paragraph of help text (no names, no value).
class VELK_API VOptionBase : public VObject
{
public:
	// A short name of 0 or ' ' means none; an empty long name means none.
	VOptionBase(UniChar shortName, const VString& longName, const VString& description, bool requiresValue, bool hidden);
	~VOptionBase() override;

	// Takes one value; answers 1 when it was refused (the message is printed), else 0. The base accepts
	// no value: 1.
	virtual int AppendArgument(VCommandLineParser& parser, const VString& value);
	// The option was given without a value. The base does nothing.
	virtual void SetFlag();

	bool HasShortName() const { return fShortName != 0 && fShortName != u' '; }
	bool HasLongName() const { return !fLongName.IsEmpty(); }
	bool IsParagraph() const { return !HasShortName() && !HasLongName() && !fRequiresValue; }
	UniChar GetShortName() const { return fShortName; }
	const VString& GetLongName() const { return fLongName; }
	const VString& GetDescription() const { return fDescription; }
	bool RequiresValue() const { return fRequiresValue; }
	bool IsHidden() const { return fHidden; }

	// Appends "-c", then ", " when a long name follows, then "--" and the long name; answers whether
	// anything was appended.
	bool AppendFullName(VString& out) const;
	// The long name, else the short one, else "<anonymous>".
	VString GetName() const;
	// Prints on standard error: invalid value for argument '<full name>' got "<value>" <hint>. A value
	// longer than 80 units is cut there (never inside a surrogate pair) and followed by "..."; it is shown
	// as VCommandLineParser::ShownArgument shows it.
	void PrintErrorWhenAppendingInvalidValue(const char* hint, const VString& value) const;

private:
	UniChar fShortName;
	VString fLongName;
	VString fDescription;
	bool fRequiresValue;
	bool fHidden;
};

// The conversions behind VArgOption, one per supported variable type: 0 when the value was taken, 1 when
// it was refused (the option's message printed for bool, int and the other integers).
VELK_API int AppendValue(const VOptionBase& option, bool& variable, const VString& value);
VELK_API int AppendValue(const VOptionBase& option, int& variable, const VString& value);
VELK_API int AppendValue(const VOptionBase& option, VString& variable, const VString& value);
VELK_API int AppendValue(const VOptionBase& option, std::vector<VString>& variable, const VString& value);
// A flag sets true, 1, "1", or a list of exactly one empty text.
VELK_API void SetFlagValue(bool& variable);
VELK_API void SetFlagValue(int& variable);
VELK_API void SetFlagValue(VString& variable);
VELK_API void SetFlagValue(std::vector<VString>& variable);

// An option that writes into the caller's variable (not owned; it must outlive the parse). Supported
// types: bool (a flag), int, VString and std::vector<VString> (each value appended).
template <class T>
class VArgOption final : public VOptionBase
{
public:
	VArgOption(UniChar shortName, const VString& longName, const VString& description, bool hidden, T* variable)
		: VOptionBase(shortName, longName, description, !std::is_same_v<T, bool>, hidden), fVariable(variable)
	{
	}

	int AppendArgument(VCommandLineParser& /*parser*/, const VString& value) override
	{
		return AppendValue(*this, *fVariable, value);
	}

	void SetFlag() override { SetFlagValue(*fVariable); }

private:
	T* fVariable;
};

// The parser's registrations and state.
struct VELK_API StOptionsInfos
{
	struct Registration
	{
		VOptionBase* fOption;
		bool fRequiresValue;
	};

	StOptionsInfos() = default;
	~StOptionsInfos();
	StOptionsInfos(const StOptionsInfos&) = delete;
	StOptionsInfos& operator=(const StOptionsInfos&) = delete;

	// Enters the option (owned from now on) under its short and long names; a name registered twice maps
	// to the later option, both staying in the entries. False, the option deleted, when memory is short.
	bool RegisterOption(bool requiresValue, VOptionBase* option);
	// Deletes the positional option and every entry and empties both maps.
	void Clear();
	const Registration* FindShort(UniChar name) const;
	const Registration* FindLong(const VString& name) const;
	// The whole help text for the program name: usage line, entries, then the automatic help option.
	// colored puts the terminal's colour sequences around paragraphs and option names.
	VString HelpUsage(const VString& programName, bool colored) const;

	std::map<UniChar, Registration> fByShortName;
	std::map<std::u16string, Registration> fByLongName;
	VOptionBase* fPositional = nullptr;
	std::vector<VOptionBase*> fEntries;
	std::vector<VString> fArguments;
	bool fOptionsEnabled = false;
	bool fParagraphsEnabled = true;
	bool fValuesFromStandardInputAllowed = false;
	bool fStandardInputRead = false;
	VString fStandardInput;
};

}  // namespace Private::CommandLineParser

class VELK_API VCommandLineParser
{
public:
	// arguments[0] is the program path; the list is copied. Options are taken only when there are two
	// entries or more.
	explicit VCommandLineParser(const std::vector<VString>& arguments);
	~VCommandLineParser();
	VCommandLineParser(const VCommandLineParser&) = delete;
	VCommandLineParser& operator=(const VCommandLineParser&) = delete;

	// Forgets every registration.
	void Clear();

	// Registers an option. A bool variable makes a flag (no value); every other supported type requires
	// a value. shortName 0 (or ' ') = none; longName empty = none. Registered only when options are
	// enabled (the list has 2+ entries), the variable is not null and the option has a name; returns
	// whether it was registered.
	template <class T>
	bool AddOption(UniChar shortName, const VString& longName, const VString& description, T* variable, bool hidden = false)
	{
		if (variable == nullptr || !fInfos.fOptionsEnabled)
			return false;
		using Option = Private::CommandLineParser::VArgOption<T>;
		return _RegisterOption(new (std::nothrow) Option(shortName, longName, description, hidden, variable));
	}
	// Long-name-only convenience.
	template <class T>
	bool AddOption(const VString& longName, const VString& description, T* variable, bool hidden = false)
	{
		return AddOption(UniChar(0), longName, description, variable, hidden);
	}
	// The positional option: every positional argument is appended to the list (at most one positional
	// option; a later call replaces it). Registered under the same condition as options.
	bool AddPositionalArguments(std::vector<VString>* values, const VString& description = VString());
	// Help text printed as it stands (tabs removed), wrapped at 79 columns.
	void AddParagraph(const VString& text);
	// When allowed, a value that is exactly "-" is replaced by the whole of standard input, read once.
	void SetValuesFromStandardInputAllowed(bool allowed);

	// 0 success, 1 error (one line printed on standard error; options already processed keep what they
	// set), 2 help printed on standard output.
	int Parse();

	// A process argument as text. Arguments are bytes: one that is not UTF-8 keeps each byte outside a
	// well-formed sequence as the unit U+DC00 + byte (a lone low surrogate, which no UTF-8 text decodes
	// to), so that it never reads as another, valid name and can be shown as it was.
	static VString ArgumentFromBytes(const char* bytes);
	// False when the argument's text carries such bytes: it was not UTF-8.
	static bool IsUTF8Argument(const VString& argument);
	// The argument as it may be shown on one line: carried bytes and control characters as "\xNN".
	static VString ShownArgument(const VString& argument);

	// The text as UTF-8 and "\n", flushed, to standard output / standard error. PrintArgumentError
	// returns 1, the parse error result.
	static void Print(const VString& text);
	static int PrintArgumentError(const VString& text);

	// The registrations for tools: JSON with the arguments and every entry (texts escaped), indented
	// with tabs; a manual page's options section with the visible entries.
	void ExportAsJSON(VString& out) const;
	void ExportAsManPage(VString& out) const;
	// The JSON export in UTF-8, on standard error when toError, else on standard output; then a newline on
	// standard output in both cases.
	void PrintAllArguments(bool toError) const;

	const std::vector<VString>& GetArguments() const { return fInfos.fArguments; }

	// Empty, or 2 units and more of digits, lower-case ASCII letters and '-', not beginning nor ending
	// with '-'.
	static bool ValidateLongOptionName(const VString& name);
	// An ASCII letter of either case, a digit, 0 or a space.
	static bool ValidateShortOptionName(UniChar name);

private:
	bool _RegisterOption(Private::CommandLineParser::VOptionBase* option);
	// The next value for an option found at index: the first argument from the later of the value
	// cursor and index + 1 that is not an option (any argument after "--"). False, the message printed,
	// when there is none.
	bool _TakeNextValue(const Private::CommandLineParser::VOptionBase& option, int32 index, int32& cursor, VString& value);
	// Applies the standard-input rule and hands the value to the option; 0 or 1.
	int _AppendValue(Private::CommandLineParser::VOptionBase& option, const VString& value);
	int _PrintHelp() const;

	Private::CommandLineParser::StOptionsInfos fInfos;
};

}  // namespace velk
