#include "updater/VBundleSwap.h"

#include <cerrno>

#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/StThrowError.h"
#include "runtime/VTask.h"
#include "updater/VUpdaterErrors.h"
#include "updater/VUpdaterLog.h"

namespace velk {

namespace {

constexpr VError kFileNotFound = MakeVError(kVELK_SIGNATURE, 600);
constexpr VError kFolderNotFound = MakeVError(kVELK_SIGNATURE, 650);
constexpr int32 kLastCounter = 9999;
constexpr int kRenameAttempts = 5;
constexpr int32 kRenameRetryDelayMs = 3000;

// Whether anything at all stands at the folder path: a folder, a file, a link (dangling or not) or any
// other entry. Asked of the entry itself, so that a link is never followed.
bool IsTaken(const VFilePath& folderPath)
{
	VFilePath entry;
	VString name;
	folderPath.GetName(name);
	if (!folderPath.GetParent(entry))
		return true;
	entry.ToSubFile(name);
	const VFile file(entry);
	return file.GetMacFile().GetTimeAttributes(nullptr, nullptr, nullptr) != MakePosixError(ENOENT);
}

// 'UPRy' 13 with the two bundles' paths.
void ThrowCopyFailed(const VFilePath& from, const VFilePath& to)
{
	StThrowError<> error(VE_OK, VE_UPDATER_COPY_UPTODATE_APP_FAILED);
	if (error.Get() != nullptr)
	{
		error->SetString(VString("from"), from.GetPath(FPS_POSIX));
		error->SetString(VString("to"), to.GetPath(FPS_POSIX));
	}
}

// The outdated bundle renamed aside, tried again while the system refuses (its application may still hold
// it). Each failed attempt leaves nothing behind: only the final refusal is reported. Null on failure.
VFolder* RenameAside(const VFolder& outdated, const VFilePath& temporaryPath)
{
	VString temporaryName;
	temporaryPath.GetName(temporaryName);
	VFolder* renamed = nullptr;
	for (int attempt = 1; attempt <= kRenameAttempts && renamed == nullptr; ++attempt)
	{
		if (attempt > 1)
			VTask::Sleep(kRenameRetryDelayMs);
		StErrorContextInstaller attemptScope(false, true);
		outdated.Rename(temporaryName, &renamed);
	}
	if (renamed == nullptr)
		ThrowErrorWithPaths(VE_UPDATER_RENAME_OUTDATED_APP_FAILED, outdated.GetPath(), temporaryPath);
	return renamed;
}

// Frees the install destination of a failed copy. A plain deletion fails on what the copy made read-only,
// so the tree is then removed by force; what still stands is moved aside under a "failed" name, so that
// the place is free again.
void ClearDestination(const VFolder& destination)
{
	if (!destination.Exists())
		return;
	VError result = VE_OK;
	{
		StErrorContextInstaller deleteScope(false, true);
		result = destination.Delete(true);
	}
	if (result == VE_OK)
		return;
	LogInfo("Forcing deletion of partial up-to-date application install");
	if (destination.DeleteForced() == VE_OK && !destination.Exists())
		return;
	LogError("Partial up-to-date application install could not be deleted");

	VFilePath failedPath;
	_ComputeTempFolderPath(destination.GetPath(), failedPath, VString("failed"));
	VString failedName;
	failedPath.GetName(failedName);
	const VString posix = failedPath.GetPath(FPS_POSIX);
	LogInfo("Moving partial up-to-date application install aside (%S)", &posix);
	if (destination.Rename(failedName, nullptr) != VE_OK)
		LogError("Partial up-to-date application install could not be moved aside");
}

// Puts the old bundle back at its place after a failed install.
void RollBack(const VFolder& old, const VFilePath& outdatedPath, const VFolder& destination)
{
	LogInfo("Rolling back up-to-date application install");
	ClearDestination(destination);
	VString name;
	outdatedPath.GetName(name);
	if (old.Rename(name, nullptr) != VE_OK)
	{
		const VString posix = old.GetPath().GetPath(FPS_POSIX);
		LogError("Outdated application could not be restored, it stays at %S", &posix);
	}
}

}  // namespace

VFolder* _SwapApplications(const VFolder& outdated, const VFolder& upToDate, const VFolder& destination)
{
	const VFilePath outdatedPath = outdated.GetPath();
	if (outdated.IsSameFolder(&upToDate) || upToDate.GetPath().IsChildOf(outdatedPath))
	{
		ThrowErrorWithPath(VE_UPDATER_SAME_OR_NESTED_APPS, outdatedPath);
		return nullptr;
	}

	VFilePath temporaryPath;
	_ComputeTempFolderPath(outdatedPath, temporaryPath, VString("old"));
	VRefPtr<VFolder> old(RenameAside(outdated, temporaryPath), true);
	if (!old)
		return nullptr;

	VRefPtr<VFolder> parent(destination.RetainParentVFolder(false), true);
	if (!parent)
	{
		ThrowErrorWithPath(VE_UPDATER_INSTALL_FOLDER_NOT_CREATED, destination.GetPath());
		RollBack(*old, outdatedPath, destination);
		return nullptr;
	}
	if (!parent->Exists())
	{
		const VError created = parent->CreateRecursive();
		if (created != VE_OK)
		{
			ThrowErrorWithPath(VE_UPDATER_INSTALL_FOLDER_NOT_CREATED, parent->GetPath());
			RollBack(*old, outdatedPath, destination);
			return nullptr;
		}
	}

	VString name;
	destination.GetName(name);
	if (upToDate.CopyTo(*parent, name, nullptr, eFCOPY_REPLACE) != VE_OK)
	{
		ThrowCopyFailed(upToDate.GetPath(), destination.GetPath());
		RollBack(*old, outdatedPath, destination);
		return nullptr;
	}
	return old.Forget();
}

bool _ComputeTempFolderPath(const VFilePath& path, VFilePath& out, const VString& suffix)
{
	out = path;
	if (!path.IsFolder())
		return false;
	VString name;
	path.GetFolderName(name, false);
	bool free = false;
	for (int32 counter = 1; counter <= kLastCounter && !free; ++counter)
	{
		VString candidate(name);
		if (suffix.IsEmpty())
			candidate.AppendPrintf("%04d", counter);
		else
			candidate.AppendPrintf("_%S%04d", &suffix, counter);
		out = path;
		out.SetFolderName(candidate, false);
		free = !IsTaken(out);
	}
	return free;
}

VError RobustCopyFile(const VFilePath& source, const VFilePath& destination, uint32 options)
{
	VFilePath folderPath;
	destination.GetFolder(folderPath);
	const VFolder folder(folderPath);
	if (!folder.Exists())
	{
		const VError created = folder.CreateRecursive();
		if (created != VE_OK)
			return ThrowErrorWithPath(created, folderPath);
	}
	const VFile file(source);
	if (file.CopyTo(destination, nullptr, options) != VE_OK)
		return ThrowErrorWithPaths(VE_UPDATER_FILE_COPY_FAILED, source, destination);
	return VE_OK;
}

bool RobustCopyFolderContent(const VFolder& source, const VFolder& destination, uint32 options)
{
	if (!source.Exists())
	{
		ThrowErrorWithPath(kFolderNotFound, source.GetPath());
		return false;
	}
	if (!destination.Exists())
	{
		const VError created = destination.CreateRecursive();
		if (created != VE_OK)
		{
			ThrowErrorWithPath(created, destination.GetPath());
			return false;
		}
	}
	const VError copied = source.CopyContentsTo(destination, options);
	if (copied != VE_OK)
	{
		ThrowErrorWithPath(copied, destination.GetPath());
		return false;
	}
	return true;
}

bool RobustCopyFolderContent(const VFilePath& source, const VFilePath& destination, uint32 options)
{
	return RobustCopyFolderContent(VFolder(source), VFolder(destination), options);
}

VError FindFileByExt(const VFolder& folder, const VString& extension, VFilePath& out)
{
	if (!folder.GetPath().IsFolder())
		return VE_INVALID_PARAMETER;
	out.Clear();
	bool found = false;
	folder.IterateFiles(
		[&](IFile* file, IFileAttributeAccessor*) {
			VString fileExtension;
			file->GetExtension(fileExtension);
			found = fileExtension.EqualToString(extension, false);
			if (found)
				out = file->GetPath();
			return !found;
		},
		eFI_FILES);
	if (found)
		return VE_OK;
	return kFileNotFound;
}

VError FindFileByExt(const VFilePath& folder, const VString& extension, VFilePath& out)
{
	if (!folder.IsFolder())
		return VE_INVALID_PARAMETER;
	return FindFileByExt(VFolder(folder), extension, out);
}

}  // namespace velk
