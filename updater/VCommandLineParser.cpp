#include "updater/VCommandLineParser.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

#include "kernel/intl/VTextConverters.h"
#include "runtime/VError.h"

namespace velk {

using Private::CommandLineParser::StOptionsInfos;
using Private::CommandLineParser::VOptionBase;

namespace {

// Added by the system when it starts an application; each is followed by a value that goes with it.
bool IsSystemArgument(const VString& argument)
{
	return argument.EqualToUSASCIICString("-ApplePersistenceIgnoreState") || argument.EqualToUSASCIICString("-NSDocumentRevisionsDebugMode");
}

bool IsOption(const VString& argument)
{
	return !argument.IsEmpty() && argument.GetUniChar(1) == u'-';
}

void Write(FILE* stream, const VString& text)
{
	const std::string bytes = to_string(text);
	fwrite(bytes.data(), 1, bytes.size(), stream);
	fputc('\n', stream);
	fflush(stream);
}

// The whole of standard input as UTF-8 text, read in blocks of 1024 bytes; false when it is closed, a
// read fails or memory runs short.
bool ReadStandardInput(VString& out)
{
	std::string bytes;
	char block[1024];
	for (;;)
	{
		const ssize_t count = read(STDIN_FILENO, block, sizeof(block));
		if (count == 0)
			break;
		if (count < 0)
		{
			if (errno == EINTR)
				continue;
			return false;
		}
		try
		{
			bytes.append(block, size_t(count));
		}
		catch (const std::bad_alloc&)
		{
			_ThrowError(VE_MEMORY_FULL);
			return false;
		}
	}
	out.Clear();
	if (!bytes.empty())
		out.FromBlock(bytes.data(), bytes.size(), kCharSet_UTF8);
	return true;
}

// The name of the program: the last component of its path.
VString ProgramName(const std::vector<VString>& arguments)
{
	if (arguments.empty())
		return VString();
	const VString& path = arguments.front();
	const int32 slash = path.FindUniChar(u'/', path.GetLength(), true);
	return slash > 0 ? path.GetSubString(slash + 1, path.GetLength() - slash) : path;
}

// One short option as text: a unit, or both units of a surrogate pair.
VString ShortOptionText(const VString& argument, int32 pos)
{
	const UniChar unit = argument.GetUniChar(pos);
	const bool pair = unit >= 0xD800 && unit <= 0xDBFF && argument.GetUniChar(pos + 1) >= 0xDC00 && argument.GetUniChar(pos + 1) <= 0xDFFF;
	return argument.GetSubString(pos, pair ? 2 : 1);
}

}  // namespace

namespace Private::CommandLineParser {

VOptionBase::VOptionBase(UniChar shortName, const VString& longName, const VString& description, bool requiresValue, bool hidden)
	: fShortName(shortName), fLongName(longName), fDescription(description), fRequiresValue(requiresValue), fHidden(hidden)
{
}

VOptionBase::~VOptionBase() = default;

int VOptionBase::AppendArgument(VCommandLineParser& /*parser*/, const VString& /*value*/)
{
	return 1;
}

void VOptionBase::SetFlag()
{
}

bool VOptionBase::AppendFullName(VString& out) const
{
	if (HasShortName())
	{
		out.AppendUniChar(u'-');
		out.AppendUniChar(fShortName);
		if (HasLongName())
			out.AppendCString(", ");
	}
	if (HasLongName())
	{
		out.AppendCString("--");
		out.AppendUniChars(fLongName.GetCPointer(), fLongName.GetLength());
	}
	return HasShortName() || HasLongName();
}

VString VOptionBase::GetName() const
{
	if (HasLongName())
		return fLongName;
	if (HasShortName())
		return VString(fShortName);
	return VString("<anonymous>");
}

void VOptionBase::PrintErrorWhenAppendingInvalidValue(const char* hint, const VString& value) const
{
	constexpr int32 kShownUnits = 80;
	VString text("invalid value for argument '");
	if (!AppendFullName(text))
		text.AppendCString("<anonymous>");
	text.AppendCString("' got ");
	if (value.IsEmpty())
	{
		// Its own space, then the one before the hint: two.
		text.AppendCString("empty value ");
	}
	else
	{
		text.AppendUniChar(u'"');
		if (value.GetLength() > kShownUnits)
		{
			// A high surrogate at the cut goes with its pair's other half.
			const UniChar last = value.GetUniChar(kShownUnits);
			const int32 shown = (last >= 0xD800 && last <= 0xDBFF) ? kShownUnits - 1 : kShownUnits;
			const VString kept = VCommandLineParser::ShownArgument(value.GetSubString(1, shown));
			text.AppendUniChars(kept.GetCPointer(), kept.GetLength());
			text.AppendCString("...\"");
		}
		else
		{
			const VString whole = VCommandLineParser::ShownArgument(value);
			text.AppendUniChars(whole.GetCPointer(), whole.GetLength());
			text.AppendUniChar(u'"');
		}
	}
	text.AppendUniChar(u' ');
	text.AppendCString(hint);
	VCommandLineParser::PrintArgumentError(text);
}

StOptionsInfos::~StOptionsInfos()
{
	Clear();
}

bool StOptionsInfos::RegisterOption(bool requiresValue, VOptionBase* option)
{
	const Registration registration{option, requiresValue};
	std::optional<Registration> replacedShort;
	bool shortEntered = false;
	try
	{
		// Room for the entry is made first, so that the push below cannot fail.
		if (fEntries.size() == fEntries.capacity())
			fEntries.reserve(std::max<size_t>(16, fEntries.size() * 2));
		if (option->HasShortName())
		{
			const auto [place, added] = fByShortName.try_emplace(option->GetShortName(), registration);
			if (!added)
			{
				replacedShort = place->second;
				place->second = registration;
			}
			shortEntered = true;
		}
		if (option->HasLongName())
		{
			const VString& name = option->GetLongName();
			fByLongName.insert_or_assign(std::u16string(name.GetCPointer(), size_t(name.GetLength())), registration);
		}
	}
	catch (const std::bad_alloc&)
	{
		// The maps go back to what they were, so that no name leads to the deleted option.
		if (shortEntered && replacedShort)
			fByShortName[option->GetShortName()] = *replacedShort;
		else if (shortEntered)
			fByShortName.erase(option->GetShortName());
		delete option;
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	fEntries.push_back(option);
	return true;
}

void StOptionsInfos::Clear()
{
	delete fPositional;
	fPositional = nullptr;
	fByShortName.clear();
	fByLongName.clear();
	for (VOptionBase* entry : fEntries)
		delete entry;
	fEntries.clear();
}

const StOptionsInfos::Registration* StOptionsInfos::FindShort(UniChar name) const
{
	const auto found = fByShortName.find(name);
	return found == fByShortName.end() ? nullptr : &found->second;
}

const StOptionsInfos::Registration* StOptionsInfos::FindLong(const VString& name) const
{
	const auto found = fByLongName.find(std::u16string(name.GetCPointer(), size_t(name.GetLength())));
	return found == fByLongName.end() ? nullptr : &found->second;
}

}  // namespace Private::CommandLineParser

VCommandLineParser::VCommandLineParser(const std::vector<VString>& arguments)
{
	try
	{
		fInfos.fArguments = arguments;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
	fInfos.fOptionsEnabled = fInfos.fArguments.size() >= 2;
}

VCommandLineParser::~VCommandLineParser() = default;

void VCommandLineParser::Clear()
{
	fInfos.Clear();
}

bool VCommandLineParser::_RegisterOption(VOptionBase* option)
{
	if (option == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	// An option without any name could never be given.
	if (!option->HasShortName() && !option->HasLongName())
	{
		delete option;
		return false;
	}
	return fInfos.RegisterOption(option->RequiresValue(), option);
}

bool VCommandLineParser::AddPositionalArguments(std::vector<VString>* values, const VString& description)
{
	if (values == nullptr || !fInfos.fOptionsEnabled)
		return false;
	using Option = Private::CommandLineParser::VArgOption<std::vector<VString>>;
	VOptionBase* option = new (std::nothrow) Option(0, VString(), description, false, values);
	if (option == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	delete fInfos.fPositional;
	fInfos.fPositional = option;
	return true;
}

void VCommandLineParser::AddParagraph(const VString& text)
{
	if (!fInfos.fParagraphsEnabled)
		return;
	VOptionBase* paragraph = new (std::nothrow) VOptionBase(0, VString(), text, false, false);
	if (paragraph == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return;
	}
	fInfos.RegisterOption(false, paragraph);
}

void VCommandLineParser::SetValuesFromStandardInputAllowed(bool allowed)
{
	fInfos.fValuesFromStandardInputAllowed = allowed;
}

void VCommandLineParser::Print(const VString& text)
{
	Write(stdout, text);
}

int VCommandLineParser::PrintArgumentError(const VString& text)
{
	Write(stderr, text);
	return 1;
}

bool VCommandLineParser::ValidateLongOptionName(const VString& name)
{
	const int32 length = name.GetLength();
	if (length == 0)
		return true;
	if (length == 1 || name.GetUniChar(1) == u'-' || name.GetUniChar(length) == u'-')
		return false;
	for (int32 pos = 1; pos <= length; ++pos)
	{
		const UniChar unit = name.GetUniChar(pos);
		if (!((unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'z') || unit == u'-'))
			return false;
	}
	return true;
}

bool VCommandLineParser::ValidateShortOptionName(UniChar name)
{
	return (name >= u'a' && name <= u'z') || (name >= u'A' && name <= u'Z') || (name >= u'0' && name <= u'9') || name == 0 || name == u' ';
}

bool VCommandLineParser::_TakeNextValue(const VOptionBase& option, int32 index, int32& cursor, VString& value)
{
	const std::vector<VString>& arguments = fInfos.fArguments;
	const int32 count = int32(arguments.size());
	bool afterDashes = false;
	for (int32 i = std::max(cursor, index + 1); i < count; ++i)
	{
		const VString& argument = arguments[size_t(i)];
		if (!afterDashes)
		{
			if (argument.EqualToUSASCIICString("--"))
			{
				afterDashes = true;
				continue;
			}
			if (IsSystemArgument(argument))
			{
				++i;
				continue;
			}
			if (IsOption(argument))
				continue;
		}
		value = argument;
		cursor = i + 1;
		return true;
	}
	VString text("error: missing value for option ");
	option.AppendFullName(text);
	PrintArgumentError(text);
	return false;
}

int VCommandLineParser::_AppendValue(VOptionBase& option, const VString& value)
{
	if (!fInfos.fValuesFromStandardInputAllowed || !value.EqualToUSASCIICString("-"))
		return option.AppendArgument(*this, value);
	if (!fInfos.fStandardInputRead)
	{
		if (!ReadStandardInput(fInfos.fStandardInput))
			return PrintArgumentError(VString("error: failed to read from stdin for option `") + option.GetName() + VString("`"));
		fInfos.fStandardInputRead = true;
	}
	return option.AppendArgument(*this, fInfos.fStandardInput);
}

int VCommandLineParser::_PrintHelp() const
{
	const std::string bytes = to_string(fInfos.HelpUsage(ProgramName(fInfos.fArguments), isatty(STDOUT_FILENO) == 1));
	fwrite(bytes.data(), 1, bytes.size(), stdout);
	fflush(stdout);
	return 2;
}

int VCommandLineParser::Parse()
{
	const std::vector<VString>& arguments = fInfos.fArguments;
	const int32 count = int32(arguments.size());
	if (count < 2)
		return 0;
	const VString unknown("error: unknown option `");
	const VString quote("`");
	int32 cursor = 1;
	bool optionsOpen = true;
	for (int32 i = 1; i < count; ++i)
	{
		const VString& argument = arguments[size_t(i)];
		if (!optionsOpen || !IsOption(argument))
		{
			if (i < cursor)
				continue;  // taken as a value already
			cursor = i;
			if (fInfos.fPositional == nullptr)
				return PrintArgumentError(unknown + argument + quote);
			if (_AppendValue(*fInfos.fPositional, argument) != 0)
				return 1;
			continue;
		}
		if (argument.EqualToUSASCIICString("--"))
		{
			optionsOpen = false;
			continue;
		}
		if (argument.GetUniChar(2) == u'-')
		{
			VString name = argument.GetSubString(3, argument.GetLength() - 2);
			const int32 equal = name.FindUniChar(u'=');
			if (equal > 0)
			{
				const VString value = name.GetSubString(equal + 1, name.GetLength() - equal);
				name.Truncate(equal - 1);
				cursor = std::max(cursor, i + 1);
				const StOptionsInfos::Registration* registration = fInfos.FindLong(name);
				if (registration == nullptr)
				{
					if (name.EqualToUSASCIICString("help"))
						return PrintArgumentError(VString("error: invalid value for option  `help`"));
					return PrintArgumentError(unknown + name + quote);
				}
				if (!registration->fRequiresValue)
					return PrintArgumentError(VString("error: a value for option `") + name + VString("` is not required"));
				if (_AppendValue(*registration->fOption, value) != 0)
					return 1;
				continue;
			}
			const StOptionsInfos::Registration* registration = fInfos.FindLong(name);
			if (registration == nullptr)
			{
				if (name.EqualToUSASCIICString("help"))
					return _PrintHelp();
				return PrintArgumentError(unknown + name + quote);
			}
			if (!registration->fRequiresValue)
			{
				registration->fOption->SetFlag();
				continue;
			}
			VString value;
			if (!_TakeNextValue(*registration->fOption, i, cursor, value) || _AppendValue(*registration->fOption, value) != 0)
				return 1;
			continue;
		}
		if (IsSystemArgument(argument))
		{
			++i;
			continue;
		}
		if (argument.GetLength() == 1)
			return PrintArgumentError(VString("error: missing short option `") + argument + quote);
		for (int32 pos = 2; pos <= argument.GetLength(); ++pos)
		{
			const UniChar name = argument.GetUniChar(pos);
			const StOptionsInfos::Registration* registration = fInfos.FindShort(name);
			if (registration == nullptr)
			{
				if (name == u'?' || name == u'h')
					return _PrintHelp();
				return PrintArgumentError(unknown + ShortOptionText(argument, pos) + quote);
			}
			if (!registration->fRequiresValue)
			{
				registration->fOption->SetFlag();
				continue;
			}
			VString value;
			if (!_TakeNextValue(*registration->fOption, i, cursor, value) || _AppendValue(*registration->fOption, value) != 0)
				return 1;
		}
	}
	return 0;
}

}  // namespace velk
