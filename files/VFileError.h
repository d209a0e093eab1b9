// An error about a file or folder: the error's code with the item's "name" and "path" as parameters, and the
// item's path kept beside them. Operations add their own parameters after construction.
#pragma once

#include "kernel/VExport.h"

#include "files/VFilePath.h"
#include "runtime/VErrorBase.h"

namespace velk {

class VELK_API VFileError : public VErrorBase
{
public:
	// "name" is the last component of the POSIX path (a folder's without its '/'), "path" the path; both
	// "n/a" for an empty path.
	VFileError(const VString& posixPath, VError code);
	// "name" is the path's last name (VFilePath::GetName), "path" its native text; both "n/a" for an empty
	// or null path text, valid or not.
	VFileError(const VFilePath& path, VError code);
	~VFileError() override;

	const VFilePath& GetFilePath() const { return fFilePath; }

	// Turns what a platform half answered into the error of the operation and pushes it. A native code
	// ('POSX', 'MACH', 'CARB', 'COCO') is pushed first as itself, with "path", so that it is kept; then a
	// file error whose code is the native one mapped (VErrorBase::EncodedNativeErrorToVError, so a missing
	// file is velk 600), or operationCode when it maps to nothing. velk 100 becomes a file error of that
	// code. Answers the code pushed; 0 and other toolbox codes (already raised) come back unchanged.
	static VError Throw(const VString& posixPath, VError result, VError operationCode);

private:
	void _Init();

	VFilePath fFilePath;
};

}  // namespace velk
