// The system's declarations of document types, read from the shared MIME-info database: MIME types stand
// for type identifiers, their sub-class-of entries for the types they conform to, their "*.ext" globs for
// their file-name extensions and their untranslated comment for their description. No type is found by a
// four-character type code: Linux has none.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace plat {

struct FileTypeDeclaration
{
	std::string identifier;
	std::string description;  // empty when the database has none
	std::vector<std::string> extensions;  // without the '.', in the database's order
	std::vector<std::string> parents;  // the types it directly conforms to
};

// One database, read whole when made and never changed after, so it may be shared between threads.
class FileTypeDatabase
{
public:
	// Reads the generated files of a database folder ("types", "subclasses", "globs2"); descriptions are
	// read from its "<type>.xml" files when asked for. A folder that cannot be read gives an empty database.
	explicit FileTypeDatabase(const std::string& folder);

	// The declaration of a type the database knows; false for any other identifier.
	bool GetDeclaration(const std::string& identifier, FileTypeDeclaration& declaration) const;

	// The preferred type of a file-name extension (without the '.'): the heaviest glob "*.extension",
	// compared without case unless the glob is marked case-sensitive; false when no type claims it.
	bool GetIdentifierForExtension(const std::string& extension, std::string& identifier) const;

	// The type of a file by its name's extension, the longest one first ("a.tar.gz": "tar.gz", then "gz");
	// a leading '.' starts no extension. False when no extension has a type.
	bool GetIdentifierForFileName(const std::string& name, std::string& identifier) const;

	// Whether type conforms to parent: the same identifier, or parent among the types reached through the
	// parents of type. A cycle in the database ends the walk.
	bool ConformsTo(const std::string& type, const std::string& parent) const;

	bool IsEmpty() const { return fTypes.empty(); }

private:
	struct Glob
	{
		std::string type;
		int weight = 0;
	};

	std::string fFolder;
	std::set<std::string> fTypes;
	std::map<std::string, std::vector<std::string>> fParents;
	std::map<std::string, std::vector<std::string>> fExtensions;
	std::map<std::string, Glob> fExactGlobs;  // case-sensitive globs, by extension
	std::map<std::string, Glob> fFoldedGlobs;  // the others, by lowercased extension
};

// The system's database (/usr/share/mime), read once per process on first use; empty when it is absent.
const FileTypeDatabase& GetFileTypeDatabase();

}  // namespace plat
