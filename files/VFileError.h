// An error about a file or folder: the error's code with the item's "name" and "path" as parameters, and the
// item's path kept beside them. Operations add their own parameters after construction.
#pragma once

#include "kernel/VExport.h"

#include <functional>

#include "files/VFilePath.h"
#include "runtime/VErrorBase.h"

namespace velk {

class VFile;
class VFolder;

class VELK_API VFileError : public VErrorBase
{
public:
	// "name" is the last component of the POSIX path (a folder's without its '/'), "path" the path; both
	// "n/a" for an empty path.
	VFileError(const VString& posixPath, VError code);
	// "name" is the path's last name (VFilePath::GetName), "path" its native text; both "n/a" for an empty
	// or null path text, valid or not.
	VFileError(const VFilePath& path, VError code);
	// The same with the file's or folder's path; empty (so "n/a") for null.
	VFileError(const VFile* file, VError code);
	VFileError(const VFolder* folder, VError code);
	~VFileError() override;

	const VFilePath& GetFilePath() const { return fFilePath; }

	// Turns what a platform half answered into the error of the operation and pushes it. A native code
	// ('POSX', 'MACH', 'CARB', 'COCO') is pushed first as itself, with "path", so that it is kept; then a
	// file error whose code is the native one mapped (VErrorBase::EncodedNativeErrorToVError, so a missing
	// file is velk 600), or operationCode when it maps to nothing. velk 100 becomes a file error of that
	// code. Answers the code pushed; 0 and other toolbox codes (already raised) come back unchanged.
	// The wrapping of what a file's or folder's platform half answered. A native code with a number ('POSX',
	// 'MACH', 'CARB', 'COCO') becomes a file error of path whose code is the native one mapped, or
	// defaultCode when it maps to nothing; parameters (when given) adds the operation's own; the error is
	// pushed above the native code, which is kept, and its code answered. Any other result comes back
	// unchanged and nothing is pushed.
	static VError Wrap(const VFilePath& path, VError result, VError defaultCode,
		const std::function<void(VFileError&)>& parameters = nullptr);
	// Pushes a file error of code on path with no native error beneath it (parameters as for Wrap); answers
	// code. When even the error cannot be made, velk 100 is raised instead.
	static VError Push(const VFilePath& path, VError code, const std::function<void(VFileError&)>& parameters = nullptr);
	static VError Throw(const VString& posixPath, VError result, VError operationCode);

private:
	void _Init();

	VFilePath fFilePath;
};

}  // namespace velk
