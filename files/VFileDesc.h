// An open file: reads and writes through its platform half and turns native failures into file errors
// that name the file and carry the count, offset and size involved. Deleting it closes the file.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "files/IFile.h"
#include "files/mac/XMacFileDesc.h"
#include "kernel/memory/VObject.h"
#include "runtime/VError.h"

namespace velk {

class VFile;

class VELK_API VFileDesc : public VObject
{
public:
	// Retains file (may be null) and takes the descriptor; the position starts at 0.
	VFileDesc(const VFile* file, int descriptor, FileAccess access);
	// Closes the descriptor and releases the file.
	~VFileDesc() override;

	VFileDesc(const VFileDesc&) = delete;
	VFileDesc& operator=(const VFileDesc&) = delete;

	FileAccess GetAccess() const { return fAccess; }
	const VFile* GetParentFile() const { return fFile; }

	// Each data operation stores the bytes moved through its last argument (when not null), also after a
	// failure. A native failure pushes a file error of the operation's code and returns it; other codes
	// come back unpushed.
	// Reads at the absolute position pos; the current position does not move. A short read pushes and
	// returns velk 200.
	VError GetData(void* buffer, size_t count, int64 pos, size_t* read) const;
	// Reads at the current position plus pos and advances the current position by the bytes read. A short
	// read returns velk 200 without pushing anything.
	VError GetDataAtPos(void* buffer, size_t count, int64 pos, size_t* read) const;
	VError PutData(const void* buffer, size_t count, int64 pos, size_t* written) const;
	VError PutDataAtPos(const void* buffer, size_t count, int64 pos, size_t* written) const;

	// The current position; 0 after a failure.
	int64 GetPos() const;
	VError SetPos(int64 pos, bool fromStart) const;
	// The file's size; 0 after a failure.
	int64 GetSize() const;
	VError SetSize(int64 size) const;
	VError Flush() const;

	XMacFileDesc& GetPlatformDesc() const { return fPlatform; }

private:
	// Wraps a native failure in a file error of the operation's code with the given parameters (size
	// read from the file when it can be); other results are returned as they are.
	VError _Throw(VError result, VError operationCode, const size_t* count, const int64* offset, const int64* size,
		bool askSize) const;

	FileAccess fAccess;
	const VFile* fFile;  // retained
	mutable XMacFileDesc fPlatform;
};

}  // namespace velk
