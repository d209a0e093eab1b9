#include "files/VFileSystemNamespace.h"

#include <new>
#include <utility>

#include "files/IFile.h"
#include "files/IFolder.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONValue.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

bool EndsWithSlash(const VString& text)
{
	return !text.IsEmpty() && text.GetUniChar(text.GetLength()) == u'/';
}

// A file for a full POSIX path that names a file; null for anything else.
IFile* NewPosixFile(const VString& path)
{
	const VFilePath filePath(path, FPS_POSIX);
	if (!filePath.IsFile())
		return nullptr;
	return new (std::nothrow) VFile(filePath);
}

// A folder for a full POSIX path that ends with '/'; null for anything else.
IFolder* NewPosixFolder(const VString& path)
{
	if (!EndsWithSlash(path))
		return nullptr;
	const VFilePath folderPath(path, FPS_POSIX);
	if (!folderPath.IsFolder())
		return nullptr;
	return new (std::nothrow) VFolder(folderPath);
}

// Whether the first name of a '/'-path is that of a registered file system, hidden or not. Such a path is
// meant for the file system: read as a plain POSIX path it would name a place its root does not confine.
bool NamesFileSystem(const VFileSystemNamespace& ns, const VString& path, uint32 options)
{
	const int32 next = path.FindUniChar(u'/', 2);
	const int32 end = (next > 0) ? next : path.GetLength() + 1;
	if (end <= 2)
		return false;
	VRefPtr<VFileSystem> fileSystem(ns.RetainFileSystem(path.GetSubString(2, end - 2), options & eFSN_SEARCH_PARENTS), true);
	return fileSystem.Get() != nullptr;
}

// The member's text when it is a string, else empty.
VString StringMember(const VJSONValue& entry, const char* name)
{
	VString text;
	const VJSONValue member = entry.GetProperty(VString(name));
	if (member.IsString())
		member.GetString(text);
	else
		text.Clear();
	return text;
}

}  // namespace

size_t VFileSystemNameHash::operator()(const VString& name) const
{
	// FNV-1a over the UTF-16 units, so that equal texts (unit for unit) hash alike.
	uint64 hash = 14695981039346656037ull;
	const UniChar* units = name.GetCPointer();
	for (int32 k = 0; k < name.GetLength(); ++k)
	{
		hash ^= units[k];
		hash *= 1099511628211ull;
	}
	return size_t(hash);
}

VFileSystemNamespace::VFileSystemNamespace(VFileSystemNamespace* parent) : fParent(parent)
{
	if (fParent != nullptr)
		fParent->Retain();
	fFileSystems.max_load_factor(1.0f);
}

VFileSystemNamespace::~VFileSystemNamespace()
{
	fFileSystems.clear();
	if (fParent != nullptr)
		fParent->Release();
}

void VFileSystemNamespace::RegisterFileSystem(VFileSystem* fileSystem)
{
	if (fileSystem == nullptr)
		return;
	// The one replaced is let go after the lock: its end may delete its root folder.
	VRefPtr<VFileSystem> replaced;
	{
		StLocker locker(&fLock);
		try
		{
			VRefPtr<VFileSystem>& slot = fFileSystems[fileSystem->GetName()];
			replaced = std::move(slot);
			slot.Set(fileSystem);
		}
		catch (const std::bad_alloc&)
		{
			_ThrowError(VE_MEMORY_FULL);
		}
	}
}

VError VFileSystemNamespace::RegisterFileSystem(const VString& name, IFolder* root, uint32 options)
{
	VError error = VE_OK;
	VRefPtr<VFileSystem> fileSystem(VFileSystem::Create(name, root, options, 0, 0, &error), true);
	RegisterFileSystem(fileSystem.Get());
	return error;
}

void VFileSystemNamespace::UnregisterFileSystem(const VString& name)
{
	VRefPtr<VFileSystem> removed;
	{
		StLocker locker(&fLock);
		const auto found = fFileSystems.find(name);
		if (found == fFileSystems.end())
			return;
		removed = std::move(found->second);
		fFileSystems.erase(found);
	}
}

VFileSystem* VFileSystemNamespace::RetainFileSystem(const VString& name, uint32 options) const
{
	// One namespace at a time, each under its own lock: the parent link never changes, so it is read unlocked.
	for (const VFileSystemNamespace* ns = this; ns != nullptr; ns = ns->fParent)
	{
		VFileSystem* fileSystem = nullptr;
		{
			StLocker locker(&ns->fLock);
			const auto found = ns->fFileSystems.find(name);
			if (found != ns->fFileSystems.end())
				fileSystem = found->second.Retain();
		}
		if (fileSystem != nullptr)
		{
			if ((options & eFSN_SKIP_HIDDEN) != 0 && fileSystem->IsHidden())
			{
				fileSystem->Release();
				return nullptr;
			}
			return fileSystem;
		}
		if ((options & eFSN_SEARCH_PARENTS) == 0)
			break;
	}
	return nullptr;
}

IFolder* VFileSystemNamespace::RetainFileSystemRootFolder(const VString& name, uint32 options) const
{
	VRefPtr<VFileSystem> fileSystem(RetainFileSystem(name, options), true);
	return fileSystem ? fileSystem->RetainRootFolder() : nullptr;
}

VError VFileSystemNamespace::RetainMapOfFileSystems(MapOfFileSystems& out, uint32 options) const
{
	if ((options & eFSN_SEARCH_PARENTS) != 0 && fParent != nullptr)
		fParent->RetainMapOfFileSystems(out, options);
	StLocker locker(&fLock);
	try
	{
		for (const auto& [name, fileSystem] : fFileSystems)
		{
			// A hidden file system hides a parent's of the same name too, as RetainFileSystem does.
			if ((options & eFSN_SKIP_HIDDEN) != 0 && fileSystem->IsHidden())
				out.erase(name);
			else
				out[name] = fileSystem;
		}
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
	return VE_OK;
}

bool VFileSystemNamespace::ParsePathWithFileSystem(const VString& path, VRefPtr<VFileSystem>& outFileSystem,
	VString& outRelative, uint32 options) const
{
	if (path.GetLength() < 3 || path.GetUniChar(1) != u'/')
		return false;
	const int32 second = path.FindUniChar(u'/', 2);
	if (second <= 2)
		return false;
	VRefPtr<VFileSystem> fileSystem(RetainFileSystem(path.GetSubString(2, second - 2), options), true);
	if (!fileSystem)
		return false;
	const VString relative = path.GetSubString(second + 1, path.GetLength() - second);
	VString normalized;
	normalized.Clear();
	if (!relative.IsEmpty())
	{
		// Resolved inside the root and made relative to it again: ".." steps that leave the root fail here.
		const VFilePath root = fileSystem->GetRoot();
		const VFilePath inside(root, relative, FPS_POSIX, true);
		if (!inside.IsValid() || !inside.GetRelativePosixPath(root, normalized))
			return false;
	}
	outFileSystem = std::move(fileSystem);
	outRelative = normalized;
	return true;
}

IFile* VFileSystemNamespace::RetainFile(const VString& path, IFolder* base, uint32 options, bool allowPosixPath) const
{
	if (path.IsEmpty())
		return nullptr;
	if (path.GetUniChar(1) != u'/')
	{
		if (base != nullptr)
			return base->_RetainRelativeIFile(path, FPS_POSIX);
		return allowPosixPath ? NewPosixFile(path) : nullptr;
	}
	VRefPtr<VFileSystem> fileSystem;
	VString relative;
	if (ParsePathWithFileSystem(path, fileSystem, relative, options) && !relative.IsEmpty() && !EndsWithSlash(relative))
	{
		VRefPtr<VFolder> root(fileSystem->RetainRootFolder(), true);
		return root ? root->_RetainRelativeIFile(relative, FPS_POSIX) : nullptr;
	}
	if (!allowPosixPath || base != nullptr || NamesFileSystem(*this, path, options))
		return nullptr;
	return NewPosixFile(path);
}

IFolder* VFileSystemNamespace::RetainFolder(const VString& path, IFolder* base, uint32 options, bool allowPosixPath) const
{
	if (path.IsEmpty())
		return nullptr;
	if (path.GetUniChar(1) != u'/')
	{
		if (base != nullptr)
			return base->RetainRelativeFolder(path, FPS_POSIX, nullptr);
		return allowPosixPath ? NewPosixFolder(path) : nullptr;
	}
	VString withSlash(path);
	if (!EndsWithSlash(withSlash))
		withSlash.AppendUniChar(u'/');
	VRefPtr<VFileSystem> fileSystem;
	VString relative;
	if (ParsePathWithFileSystem(withSlash, fileSystem, relative, options))
	{
		VRefPtr<VFolder> root(fileSystem->RetainRootFolder(), true);
		if (!root || relative.IsEmpty())
			return root.Forget();
		return root->RetainRelativeFolder(relative, FPS_POSIX, nullptr);
	}
	if (!allowPosixPath || base != nullptr || NamesFileSystem(*this, path, options))
		return nullptr;
	return NewPosixFolder(path);
}

IFile* VFileSystemNamespace::RetainFile(const VFileSystemNamespace* ns, const VString& path, IFolder* base,
	uint32 options, bool allowPosixPath)
{
	if (ns != nullptr)
		return ns->RetainFile(path, base, options, allowPosixPath);
	if (path.IsEmpty())
		return nullptr;
	if (base != nullptr)
		return base->_RetainRelativeIFile(path, FPS_POSIX);
	return NewPosixFile(path);
}

IFolder* VFileSystemNamespace::RetainFolder(const VFileSystemNamespace* ns, const VString& path, IFolder* base,
	uint32 options, bool allowPosixPath)
{
	if (ns != nullptr)
		return ns->RetainFolder(path, base, options, allowPosixPath);
	if (path.IsEmpty())
		return nullptr;
	if (base != nullptr)
		return base->RetainRelativeFolder(path, FPS_POSIX, nullptr);
	return NewPosixFolder(path);
}

VError VFileSystemNamespace::LoadFromDefinitionFile(VFile* file)
{
	if (file == nullptr)
	{
		_ThrowError(VE_UNKNOWN_ERROR);
		return VE_UNKNOWN_ERROR;
	}
	VJSONValue definitions;
	const VError parsed
		= VJSONImporter::ParseFile(file, definitions, VJSONImporter::kUndefinedOnError | VJSONImporter::kStrict);
	if (parsed != VE_OK)
	{
		VErrorBase* error = new (std::nothrow) VErrorBase(VE_FS_INVALID_DEFINITION_FILE);
		if (error != nullptr)
		{
			VString path;
			file->GetPath().GetPath(path);
			error->SetString(VString("path"), path);
			VTask::PushRetainedError(error);
		}
		return parsed;
	}
	return definitions.IsArray() ? _LoadFromJSONArray(definitions) : VE_OK;
}

VError VFileSystemNamespace::_LoadFromJSONArray(const VJSONValue& array)
{
	// Each registration takes the lock itself: holding it over the loop would nest the parents' locks
	// inside this one when an entry names a parent file system.
	const VJSONArray* entries = array.GetArray();
	VError firstError = VE_OK;
	for (size_t k = 0; entries != nullptr && k < entries->GetCount(); ++k)
	{
		const VJSONValue entry = entries->GetAt(k);
		if (!entry.IsObject())
			continue;
		const VString name = StringMember(entry, "name");
		const VString parent = StringMember(entry, "parent");
		VString path = StringMember(entry, "path");
		const VJSONValue writable = entry.GetProperty(VString("writable"));
		// Without a path an entry designates nothing (not the whole disk).
		if (path.IsEmpty())
			continue;
		const UniChar last = path.GetUniChar(path.GetLength());
		if (last != u'/' && last != u'\\')
			path.AppendUniChar(u'/');

		VRefPtr<IFolder> folder;
		VRefPtr<IFolder> parentRoot(parent.IsEmpty() ? nullptr : RetainFileSystemRootFolder(parent, eFSN_SEARCH_PARENTS), true);
		if (parentRoot)
			folder.Adopt(parentRoot->RetainRelativeFolder(path, FPS_POSIX, nullptr));
		else
			folder.Adopt(NewPosixFolder(path));
		if (!folder)
			continue;
		const uint32 options = (writable.IsBool() && writable.GetBool()) ? uint32(eFSO_WRITABLE) : 0u;
		const VError error = RegisterFileSystem(name, folder.Get(), options);
		if (firstError == VE_OK)
			firstError = error;
	}
	return firstError;
}

}  // namespace velk
