#include "files/VFileFolderHooks.h"

#include <atomic>

namespace velk {

namespace {

// Atomic, so that a hook installed after other tasks started is still read whole.
std::atomic<FileExtractor> sExtractFile{nullptr};
std::atomic<FolderExtractor> sExtractFolder{nullptr};
std::atomic<FileWrapper> sWrapFile{nullptr};
std::atomic<FolderWrapper> sWrapFolder{nullptr};

}  // namespace

void SetFileFolderExtractorAndWrapper(FileExtractor extractFile, FolderExtractor extractFolder, FileWrapper wrapFile,
									  FolderWrapper wrapFolder)
{
	sExtractFile.store(extractFile, std::memory_order_release);
	sExtractFolder.store(extractFolder, std::memory_order_release);
	sWrapFile.store(wrapFile, std::memory_order_release);
	sWrapFolder.store(wrapFolder, std::memory_order_release);
}

IFile* ExtractFile(const VJSONValue& value)
{
	const FileExtractor hook = sExtractFile.load(std::memory_order_acquire);
	return hook != nullptr ? hook(value) : nullptr;
}

IFolder* ExtractFolder(const VJSONValue& value)
{
	const FolderExtractor hook = sExtractFolder.load(std::memory_order_acquire);
	return hook != nullptr ? hook(value) : nullptr;
}

VJSONValue WrapFile(IFile* file)
{
	const FileWrapper hook = sWrapFile.load(std::memory_order_acquire);
	return hook != nullptr ? hook(file) : VJSONValue(JSON_undefined);
}

VJSONValue WrapFolder(IFolder* folder)
{
	const FolderWrapper hook = sWrapFolder.load(std::memory_order_acquire);
	return hook != nullptr ? hook(folder) : VJSONValue(JSON_undefined);
}

}  // namespace velk
