// The texts the parser writes about its registrations: the help, the JSON export and the manual page.
#include "updater/VCommandLineParser.h"

#include <cstdio>
#include <string>

namespace velk {

using Private::CommandLineParser::StOptionsInfos;
using Private::CommandLineParser::VOptionBase;

namespace {

constexpr int32 kParagraphWidth = 79;
constexpr int32 kDescriptionColumn = 29;  // spaces before a description: it starts at column 30
constexpr int32 kDescriptionWidth = 50;
constexpr const char* kYellow = "\033[0;33m";
constexpr const char* kGreen = "\033[0;32m";
constexpr const char* kReset = "\033[0m";

bool IsBreak(UniChar unit)
{
	return unit == u' ' || unit == u'.' || unit == u'\r' || unit == u'\n' || unit == u'\t';
}

bool IsHighSurrogate(UniChar unit)
{
	return unit >= 0xD800 && unit <= 0xDBFF;
}

VString WithoutTabs(const VString& text)
{
	VString result(text);
	result.ExchangeRawString(VString("\t"), VString());
	return result;
}

void AppendSpaces(VString& out, int32 count)
{
	for (int32 i = 0; i < count; ++i)
		out.AppendUniChar(u' ');
}

// Appends the text so that no line is longer than width units: a line ends at a line break of the text,
// else after the last break character that fits, else at the width itself (never inside a surrogate
// pair). Every line after the first begins with indent spaces. No line break is added at the end.
void AppendWrapped(VString& out, const VString& text, int32 width, int32 indent)
{
	const UniChar* units = text.GetCPointer();
	const int32 length = text.GetLength();
	int32 start = 0;
	while (start < length)
	{
		int32 newline = -1;
		for (int32 i = start; i < length && i - start <= width; ++i)
		{
			if (units[i] == u'\n')
			{
				newline = i;
				break;
			}
		}
		int32 end;
		int32 next;
		if (newline >= 0)
		{
			end = newline;
			next = newline + 1;
		}
		else if (length - start <= width)
		{
			end = next = length;
		}
		else
		{
			end = start + width;
			while (end > start && !IsBreak(units[end - 1]))
				--end;
			if (end == start)
			{
				end = start + width;
				if (IsHighSurrogate(units[end - 1]) && end - 1 > start)
					--end;
			}
			next = end;
		}
		out.AppendUniChars(units + start, end - start);
		if (next < length || newline >= 0)
			out.AppendUniChar(u'\n');
		if (next < length)
			AppendSpaces(out, indent);
		start = next;
	}
}

// "  -c, --long=VALUE", "      --long=VALUE" or "  -c VALUE".
VString OptionNames(UniChar shortName, const VString& longName, bool requiresValue)
{
	VString names;
	if (shortName != 0 && shortName != u' ')
	{
		names.AppendCString("  -");
		names.AppendUniChar(shortName);
		if (!longName.IsEmpty())
			names.AppendCString(", --");
	}
	else if (!longName.IsEmpty())
	{
		names.AppendCString("      --");
	}
	names.AppendUniChars(longName.GetCPointer(), longName.GetLength());
	if (requiresValue)
		names.AppendCString(longName.IsEmpty() ? " VALUE" : "=VALUE");
	return WithoutTabs(names);
}

void AppendOptionLine(VString& out, const VString& names, const VString& description, bool colored)
{
	if (colored)
		out.AppendCString(kGreen);
	out.AppendUniChars(names.GetCPointer(), names.GetLength());
	if (colored)
		out.AppendCString(kReset);
	const VString text = WithoutTabs(description);
	if (!text.IsEmpty())
	{
		if (names.GetLength() >= kDescriptionColumn)
		{
			out.AppendUniChar(u'\n');
			AppendSpaces(out, kDescriptionColumn);
		}
		else
		{
			AppendSpaces(out, kDescriptionColumn - names.GetLength());
		}
		AppendWrapped(out, text, kDescriptionWidth, kDescriptionColumn);
	}
	out.AppendUniChar(u'\n');
}

void AppendJSONString(VString& out, const VString& text)
{
	VString escaped;
	text.GetJSONString(escaped, VString::kJSON_WITH_QUOTES);
	out.AppendUniChars(escaped.GetCPointer(), escaped.GetLength());
}

void AppendIndent(VString& out, int32 depth)
{
	for (int32 i = 0; i < depth; ++i)
		out.AppendUniChar(u'\t');
}

void AppendJSONProperty(VString& out, int32 depth, const char* name, const VString& text, bool last)
{
	AppendIndent(out, depth);
	out.AppendPrintf("\"%s\": ", name);
	AppendJSONString(out, text);
	out.AppendCString(last ? "\n" : ",\n");
}

}  // namespace

namespace Private::CommandLineParser {

VString StOptionsInfos::HelpUsage(const VString& programName, bool colored) const
{
	VString help("Usage: ");
	help.AppendUniChars(programName.GetCPointer(), programName.GetLength());
	help.AppendCString(" [OPTION]...");
	if (fPositional != nullptr)
		help.AppendCString(" [FILE]...");
	help.AppendUniChar(u'\n');

	const bool automaticHelp = FindLong(VString("help")) == nullptr;
	bool first = true;
	for (const VOptionBase* entry : fEntries)
	{
		if (entry->IsHidden())
			continue;
		if (first && !entry->IsParagraph())
			help.AppendUniChar(u'\n');
		first = false;
		if (entry->IsParagraph())
		{
			if (colored)
				help.AppendCString(kYellow);
			AppendWrapped(help, WithoutTabs(entry->GetDescription()), kParagraphWidth, 0);
			if (colored)
				help.AppendCString(kReset);
		}
		else
		{
			AppendOptionLine(help, OptionNames(entry->GetShortName(), entry->GetLongName(), entry->RequiresValue()), entry->GetDescription(), colored);
		}
	}
	if (automaticHelp)
	{
		if (first)
			help.AppendUniChar(u'\n');
		const UniChar shortName = FindShort(u'h') == nullptr ? u'h' : 0;
		AppendOptionLine(help, OptionNames(shortName, VString("help"), false), VString("Display the help and exit"), colored);
	}
	return help;
}

}  // namespace Private::CommandLineParser

void VCommandLineParser::ExportAsJSON(VString& out) const
{
	out.Clear();
	out.AppendCString("{\n\t\"arguments\": {\n");
	out.AppendPrintf("\t\t\"count\": %d,\n", int(fInfos.fArguments.size()));
	out.AppendCString(fInfos.fArguments.empty() ? "\t\t\"values\": []\n" : "\t\t\"values\": [\n");
	for (size_t i = 0; i < fInfos.fArguments.size(); ++i)
	{
		AppendIndent(out, 3);
		AppendJSONString(out, fInfos.fArguments[i]);
		out.AppendCString(i + 1 < fInfos.fArguments.size() ? ",\n" : "\n");
	}
	if (!fInfos.fArguments.empty())
		out.AppendCString("\t\t]\n");
	out.AppendCString("\t},\n\t\"options\": {\n");
	out.AppendPrintf("\t\t\"count\": %d,\n", int(fInfos.fEntries.size()));
	out.AppendCString(fInfos.fEntries.empty() ? "\t\t\"values\": []\n" : "\t\t\"values\": [\n");
	for (size_t i = 0; i < fInfos.fEntries.size(); ++i)
	{
		const VOptionBase& entry = *fInfos.fEntries[i];
		out.AppendCString("\t\t\t{\n");
		if (entry.IsParagraph())
		{
			AppendJSONProperty(out, 4, "paragraph", entry.GetDescription(), true);
		}
		else
		{
			if (entry.HasShortName())
				AppendJSONProperty(out, 4, "shortName", VString(entry.GetShortName()), false);
			if (entry.HasLongName())
				AppendJSONProperty(out, 4, "longName", entry.GetLongName(), false);
			if (entry.RequiresValue())
				out.AppendCString("\t\t\t\t\"requiresValue\": true,\n");
			AppendJSONProperty(out, 4, "description", entry.GetDescription(), true);
		}
		out.AppendCString(i + 1 < fInfos.fEntries.size() ? "\t\t\t},\n" : "\t\t\t}\n");
	}
	if (!fInfos.fEntries.empty())
		out.AppendCString("\t\t]\n");
	out.AppendCString("\t}\n}");
}

void VCommandLineParser::ExportAsManPage(VString& out) const
{
	out.Clear();
	out.AppendCString(".SH OPTIONS\n");
	for (const VOptionBase* entry : fInfos.fEntries)
	{
		if (entry->IsHidden())
			continue;
		if (entry->IsParagraph())
		{
			// A section title is one line.
			VString title = WithoutTabs(entry->GetDescription());
			title.ExchangeRawString(VString("\r"), VString(" "));
			title.ExchangeRawString(VString("\n"), VString(" "));
			title.Trim();
			if (title.IsEmpty())
				continue;
			out.AppendCString(".SS \"");
			out.AppendUniChars(title.GetCPointer(), title.GetLength());
			out.AppendCString("\"\n");
			continue;
		}
		out.AppendCString(".TP\n.BR \"");
		if (entry->HasShortName())
		{
			out.AppendCString("\\-");
			out.AppendUniChar(entry->GetShortName());
			if (entry->HasLongName())
				out.AppendCString(", ");
		}
		if (entry->HasLongName())
		{
			out.AppendCString("\\-\\-");
			out.AppendUniChars(entry->GetLongName().GetCPointer(), entry->GetLongName().GetLength());
		}
		if (entry->RequiresValue())
			out.AppendCString(entry->HasLongName() ? "=\\fIVALUE\\fR" : " \\fIVALUE\\fR");
		out.AppendCString("\"\n");
		const VString description = WithoutTabs(entry->GetDescription());
		out.AppendUniChars(description.GetCPointer(), description.GetLength());
		out.AppendUniChar(u'\n');
	}
}

void VCommandLineParser::PrintAllArguments(bool toError) const
{
	VString json;
	ExportAsJSON(json);
	const std::string bytes = to_string(json);
	FILE* stream = toError ? stderr : stdout;
	fwrite(bytes.data(), 1, bytes.size(), stream);
	fflush(stream);
	// The line end goes to standard output whichever stream took the export.
	fputc('\n', stdout);
	fflush(stdout);
}

}  // namespace velk
