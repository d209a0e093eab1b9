// Conversions of option values into the caller's variables.
#include "updater/VCommandLineParser.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/json/VJSONValue.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VError.h"

namespace velk {

namespace {

constexpr int32 kMaxIntegerUnits = 30;

// The text without white space at its ends, as ASCII: digits and signs only, at most 30 of them, and no
// '-' for an unsigned variable. Empty when the text is anything else.
std::string IntegerText(const VString& value, bool isUnsigned)
{
	VString text(value);
	text.Trim();
	const int32 length = text.GetLength();
	if (length == 0 || length > kMaxIntegerUnits)
		return std::string();
	std::string digits;
	for (int32 pos = 1; pos <= length; ++pos)
	{
		const UniChar unit = text.GetUniChar(pos);
		const bool digit = unit >= u'0' && unit <= u'9';
		if (!digit && unit != u'+' && (unit != u'-' || isUnsigned))
			return std::string();
		digits += char(unit);
	}
	return digits;
}

// Reads the text with the standard library's converter in base 0; the whole text must be consumed, the
// converter must not report a range error, and the number must fit the variable's own type.
template <class T, class Wide>
bool AppendInteger(T& out, const VString& value, Wide (*convert)(const char*, char**, int))
{
	const std::string digits = IntegerText(value, std::is_unsigned_v<T>);
	if (digits.empty())
		return false;
	char* end = nullptr;
	errno = 0;
	const Wide number = convert(digits.c_str(), &end, 0);
	if (end != digits.c_str() + digits.size() || errno == ERANGE || !std::in_range<T>(number))
		return false;
	out = T(number);
	return true;
}

}  // namespace

namespace Extension::CommandLineParser::Argument {

bool Append(bool& out, const VString& value)
{
	if (value.EqualToUSASCIICString("1") || value.EqualToString(VString("true"), false))
	{
		out = true;
		return true;
	}
	if (value.EqualToUSASCIICString("0") || value.EqualToString(VString("false"), false))
	{
		out = false;
		return true;
	}
	return false;
}

bool Append(int& out, const VString& value)
{
	return AppendInteger(out, value, &strtol);
}

bool Append(unsigned int& out, const VString& value)
{
	return AppendInteger(out, value, &strtoul);
}

bool Append(long long& out, const VString& value)
{
	return AppendInteger(out, value, &strtoll);
}

bool Append(unsigned long long& out, const VString& value)
{
	return AppendInteger(out, value, &strtoull);
}

bool Append(VString& out, const VString& value)
{
	out = value;
	return true;
}

bool Append(std::vector<VString>& out, const VString& value)
{
	try
	{
		out.push_back(value);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	return true;
}

bool Append(VFilePath& out, const VString& value)
{
	if (value.IsEmpty())
	{
		out.Clear();
		return false;
	}
	// A text holding U+0000 would name another file once handed to the system: it gives an invalid path.
	if (VString::UniCStringLength(value.GetCPointer()) != value.GetLength())
	{
		out.FromFullPath(value, FPS_POSIX);
		return false;
	}
	const std::string text = to_string(value);
	char* resolved = realpath(text.c_str(), nullptr);
	if (resolved == nullptr)
	{
		out.FromFullPath(value, FPS_POSIX);
		return false;
	}
	VString path;
	const size_t length = strlen(resolved);
	path.FromBlock(resolved, length, kCharSet_UTF8);
	// A name that is not UTF-8 cannot be carried by the path: it counts as missing.
	const bool faithful = to_string(path) == std::string(resolved, length);
	struct stat status;
	if (faithful && stat(resolved, &status) == 0 && S_ISDIR(status.st_mode) && !path.EndsWithRawString(VString("/")))
		path.AppendUniChar(u'/');
	free(resolved);
	if (!faithful)
	{
		out.FromFullPath(value, FPS_POSIX);
		return false;
	}
	out.FromFullPath(path, FPS_POSIX);
	return true;
}

bool Append(VRefPtr<VFile>& out, const VString& value)
{
	VFilePath path;
	if (!Append(path, value) || !path.IsFile())
	{
		out.Clear();
		return false;
	}
	// A refused value is answered, not reported: the file layer's errors stay in this scope.
	StErrorContextInstaller quiet(false, true);
	VRefPtr<VFile> file(new (std::nothrow) VFile(path), true);
	if (!file || VFile::ResolveAliasFile(file, false) != VE_OK || !file || !file->Exists())
	{
		out.Clear();
		return false;
	}
	out = std::move(file);
	return true;
}

bool Append(VRefPtr<VFolder>& out, const VString& value)
{
	VFilePath path;
	if (!Append(path, value) || !path.IsFolder())
	{
		out.Clear();
		return false;
	}
	out.Adopt(new (std::nothrow) VFolder(path));
	return out.Get() != nullptr;
}

bool Append(VJSONValue& out, const VString& value)
{
	switch (out.GetType())
	{
		case JSON_string:
			out.SetString(value);
			return true;
		case JSON_object:
		case JSON_undefined:
		{
			StErrorContextInstaller quiet(false, true);
			VJSONValue parsed;
			if (parsed.ParseFromString(value) != VE_OK)
				return false;
			out = std::move(parsed);
			return true;
		}
		case JSON_true:
		case JSON_false:
		{
			for (const char* text : {"1", "true", "on"})
			{
				if (value.EqualToString(VString(text), false))
				{
					out.SetBool(true);
					return true;
				}
			}
			for (const char* text : {"0", "false", "off"})
			{
				if (value.EqualToString(VString(text), false))
				{
					out.SetBool(false);
					return true;
				}
			}
			return false;
		}
		default:
			return false;
	}
}

}  // namespace Extension::CommandLineParser::Argument

namespace Private::CommandLineParser {

int AppendValue(const VOptionBase& option, bool& variable, const VString& value)
{
	if (Extension::CommandLineParser::Argument::Append(variable, value))
		return 0;
	option.PrintErrorWhenAppendingInvalidValue("expected 0, 1, true or false", value);
	return 1;
}

int AppendValue(const VOptionBase& option, int& variable, const VString& value)
{
	if (Extension::CommandLineParser::Argument::Append(variable, value))
		return 0;
	option.PrintErrorWhenAppendingInvalidValue("expected a signed integral", value);
	return 1;
}

int AppendValue(const VOptionBase& /*option*/, VString& variable, const VString& value)
{
	return Extension::CommandLineParser::Argument::Append(variable, value) ? 0 : 1;
}

int AppendValue(const VOptionBase& /*option*/, std::vector<VString>& variable, const VString& value)
{
	return Extension::CommandLineParser::Argument::Append(variable, value) ? 0 : 1;
}

void SetFlagValue(bool& variable)
{
	variable = true;
}

void SetFlagValue(int& variable)
{
	variable = 1;
}

void SetFlagValue(VString& variable)
{
	variable = VString("1");
}

void SetFlagValue(std::vector<VString>& variable)
{
	try
	{
		variable.assign(1, VString());
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
}

}  // namespace Private::CommandLineParser

}  // namespace velk
