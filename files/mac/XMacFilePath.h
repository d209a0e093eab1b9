// The conversions between full POSIX paths and native paths. This platform has one volume, "Root", mounted
// at "/": the conversions are pure text ("/home/me/a" is "Root:home:me:a", a ':' in a name stands for '/'),
// never asking what is mounted nor resolving links, so a path naming a link keeps naming it. Names are
// bytes on disk: they pass as strict UTF-8, never normalized.
#pragma once

#include "kernel/VExport.h"

#include <string>

#include "kernel/VKernelTypes.h"

namespace velk {

class VFilePath;
class VString;

class VELK_API XMacFilePath
{
public:
	// The volume of "/".
	static const UniChar kRootVolumeName[];

	// A POSIX full path (beginning with '/') to native text; repeated '/' count once, "." steps go, and each
	// ".." becomes a native parent step ("::") for the path to resolve. False, out unchanged, for a null or
	// relative path or one that is not strict UTF-8 (overlong forms, surrogates, stray or missing
	// continuation bytes). pathExists is not needed: nothing is asked of the disk.
	static bool PosixFullPathToHFS(const char* posixPath, bool pathExists, VString& out);
	// The same on UTF-16 text; an unpaired surrogate fails.
	static bool PosixFullPathToHFS(const UniChar* units, int32 count, VString& out);
	// Native text to a POSIX full path: "Root" is "/", another first name X is "/X/" (an empty one "/"); in
	// the names '/' and ':' are exchanged. False, out unchanged, when the text holds an unpaired surrogate,
	// which has no UTF-8 form.
	static bool HFSFullPathToPosix(const VString& native, VString& out);

	// The bytes a system call takes for a POSIX path text; false when memory is short (a text that is not
	// empty gave no bytes).
	static bool ToSystemPath(const VString& posixPath, std::string& out);
	// The same for a path's POSIX form; empty for an invalid path or when memory is short.
	static std::string ToSystemPath(const VFilePath& path);
	// The same without a folder's trailing '/' (but for "/"), as system calls and the bundle service name
	// a folder.
	static std::string ToSystemFolderPath(const VFilePath& path);
};

}  // namespace velk
