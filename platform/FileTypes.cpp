#include "platform/FileTypes.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "platform/ProcFiles.h"

namespace plat {

namespace {

constexpr size_t kFILE_LIMIT = size_t(16) << 20;

std::vector<std::string> Lines(const std::string& text)
{
	std::vector<std::string> lines;
	size_t start = 0;
	while (start < text.size())
	{
		size_t end = text.find('\n', start);
		if (end == std::string::npos)
			end = text.size();
		if (end > start && text[start] != '#')
			lines.push_back(text.substr(start, end - start));
		start = end + 1;
	}
	return lines;
}

std::vector<std::string> Split(const std::string& line, char separator)
{
	std::vector<std::string> fields;
	size_t start = 0;
	for (;;)
	{
		const size_t end = line.find(separator, start);
		fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
		if (end == std::string::npos)
			return fields;
		start = end + 1;
	}
}

std::string Lowercased(std::string text)
{
	for (char& c : text)
	{
		if (c >= 'A' && c <= 'Z')
			c = char(c - 'A' + 'a');
	}
	return text;
}

// XML text with its predefined entities replaced; the database writes other characters as they are.
std::string DecodedXMLText(const std::string& text)
{
	static const std::pair<const char*, char> kENTITIES[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
	std::string decoded;
	size_t i = 0;
	while (i < text.size())
	{
		bool replaced = false;
		for (const auto& [entity, character] : kENTITIES)
		{
			const size_t length = std::char_traits<char>::length(entity);
			if (!replaced && text.compare(i, length, entity) == 0)
			{
				decoded += character;
				i += length;
				replaced = true;
			}
		}
		if (!replaced)
			decoded += text[i++];
	}
	return decoded;
}

// A glob that names an extension: "*." followed by text without wildcards.
bool ExtensionOfGlob(const std::string& glob, std::string& extension)
{
	if (glob.size() < 3 || glob.compare(0, 2, "*.") != 0 || glob.find_first_of("*?[", 2) != std::string::npos)
		return false;
	extension = glob.substr(2);
	return true;
}

}  // namespace

FileTypeDatabase::FileTypeDatabase(const std::string& folder)
{
	try
	{
		fFolder = folder;
		for (const std::string& line : Lines(ReadTextFile(folder + "/types", kFILE_LIMIT)))
			fTypes.insert(line);
		for (const std::string& line : Lines(ReadTextFile(folder + "/subclasses", kFILE_LIMIT)))
		{
			const size_t space = line.find(' ');
			if (space != std::string::npos && space > 0 && space + 1 < line.size())
				fParents[line.substr(0, space)].push_back(line.substr(space + 1));
		}
		// Lines of globs2: weight:type:glob[:flags[:...]].
		for (const std::string& line : Lines(ReadTextFile(folder + "/globs2", kFILE_LIMIT)))
		{
			const std::vector<std::string> fields = Split(line, ':');
			std::string extension;
			if (fields.size() < 3 || !ExtensionOfGlob(fields[2], extension))
				continue;
			Glob glob;
			glob.type = fields[1];
			glob.weight = std::atoi(fields[0].c_str());
			const bool caseSensitive = fields.size() > 3 && std::ranges::count(Split(fields[3], ','), std::string("cs")) > 0;
			std::vector<std::string>& extensions = fExtensions[glob.type];
			if (std::ranges::find(extensions, extension) == extensions.end())
				extensions.push_back(extension);
			// The heaviest glob wins; among equals, the first listed.
			std::map<std::string, Glob>& globs = caseSensitive ? fExactGlobs : fFoldedGlobs;
			const std::string key = caseSensitive ? extension : Lowercased(extension);
			auto found = globs.find(key);
			if (found == globs.end())
				globs.emplace(key, glob);
			else if (glob.weight > found->second.weight)
				found->second = glob;
		}
		for (const auto& [type, parents] : fParents)
			fTypes.insert(type);
		for (const auto& [type, extensions] : fExtensions)
			fTypes.insert(type);
	}
	catch (const std::bad_alloc&)
	{
		fFolder.clear();
		fTypes.clear();
		fParents.clear();
		fExtensions.clear();
		fExactGlobs.clear();
		fFoldedGlobs.clear();
	}
}

bool FileTypeDatabase::GetDeclaration(const std::string& identifier, FileTypeDeclaration& declaration) const
{
	// Only a known type names a file of the database: an identifier such as "../x" reaches nothing.
	if (fTypes.count(identifier) == 0)
		return false;
	try
	{
		FileTypeDeclaration result;
		result.identifier = identifier;
		if (auto found = fParents.find(identifier); found != fParents.end())
			result.parents = found->second;
		if (auto found = fExtensions.find(identifier); found != fExtensions.end())
			result.extensions = found->second;
		// The untranslated comment is the one without an xml:lang attribute.
		const std::string xml = ReadTextFile(fFolder + "/" + identifier + ".xml");
		const size_t start = xml.find("<comment>");
		const size_t end = start == std::string::npos ? start : xml.find("</comment>", start);
		if (end != std::string::npos)
			result.description = DecodedXMLText(xml.substr(start + 9, end - start - 9));
		declaration = std::move(result);
		return true;
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
}

bool FileTypeDatabase::GetIdentifierForExtension(const std::string& extension, std::string& identifier) const
{
	try
	{
		const auto exact = fExactGlobs.find(extension);
		const auto folded = fFoldedGlobs.find(Lowercased(extension));
		const Glob* best = exact != fExactGlobs.end() ? &exact->second : nullptr;
		if (folded != fFoldedGlobs.end() && (best == nullptr || folded->second.weight > best->weight))
			best = &folded->second;
		if (best == nullptr)
			return false;
		identifier = best->type;
		return true;
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
}

bool FileTypeDatabase::GetIdentifierForFileName(const std::string& name, std::string& identifier) const
{
	try
	{
		const size_t slash = name.rfind('/');
		const size_t start = slash == std::string::npos ? 0 : slash + 1;
		for (size_t dot = name.find('.', start + 1); dot != std::string::npos; dot = name.find('.', dot + 1))
		{
			if (dot + 1 < name.size() && GetIdentifierForExtension(name.substr(dot + 1), identifier))
				return true;
		}
		return false;
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
}

bool FileTypeDatabase::ConformsTo(const std::string& type, const std::string& parent) const
{
	if (type == parent)
		return true;
	try
	{
		std::set<std::string> seen{type};
		std::vector<std::string> pending{type};
		while (!pending.empty())
		{
			const std::string next = pending.back();
			pending.pop_back();
			const auto found = fParents.find(next);
			if (found == fParents.end())
				continue;
			for (const std::string& candidate : found->second)
			{
				if (candidate == parent)
					return true;
				if (seen.insert(candidate).second)
					pending.push_back(candidate);
			}
		}
		return false;
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
}

const FileTypeDatabase& GetFileTypeDatabase()
{
	// Made once, by the first caller; C++ makes the others wait for it.
	static const FileTypeDatabase sDatabase("/usr/share/mime");
	return sDatabase;
}

}  // namespace plat
