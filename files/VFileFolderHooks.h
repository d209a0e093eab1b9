// The hooks through which a scripting or JSON layer turns JSON values into file and folder objects and back.
// The toolbox itself installs none; set them once at start-up, before other tasks read them.
#pragma once

#include "kernel/VExport.h"

#include "kernel/json/VJSONValue.h"

namespace velk {

class IFile;
class IFolder;

using FileExtractor = IFile* (*)(const VJSONValue& value);
using FolderExtractor = IFolder* (*)(const VJSONValue& value);
using FileWrapper = VJSONValue (*)(IFile* file);
using FolderWrapper = VJSONValue (*)(IFolder* folder);

// Stores the four hooks; any may be null.
VELK_API void SetFileFolderExtractorAndWrapper(FileExtractor extractFile, FolderExtractor extractFolder, FileWrapper wrapFile,
											   FolderWrapper wrapFolder);

// What the stored extractor makes of the value (its reference rules are the hook's); null without one.
VELK_API IFile* ExtractFile(const VJSONValue& value);
VELK_API IFolder* ExtractFolder(const VJSONValue& value);
// What the stored wrapper makes of the object; without one an undefined value with a fresh stamp.
VELK_API VJSONValue WrapFile(IFile* file);
VELK_API VJSONValue WrapFolder(IFolder* folder);

}  // namespace velk
