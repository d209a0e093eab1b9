// The resolver's pointer walk: splitting a reference into its document and pointer, loading the document
// (the resolver's own root, or a file through the cache) and following the pointer's tokens.
#include <algorithm>
#include <new>

#include "files/VFilePath.h"
#include "files/VFileSystemNamespace.h"
#include "files/VURL.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONPointerResolver.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {

namespace {

// Options of a document file's parse: undefined on error, strict, ISO date texts become dates.
constexpr uint32 kDocumentParseOptions =
	VJSONImporter::kUndefinedOnError | VJSONImporter::kStrict | VJSONImporter::kISODates;

// Whether a document path steps up out of the folder it is relative to: a ".." part anywhere.
bool LeavesBaseFolder(const VString& path)
{
	const UniChar* units = path.GetCPointer();
	const int32 length = path.GetLength();
	for (int32 start = 0; start <= length;)
	{
		int32 end = start;
		while (end < length && units[end] != u'/')
			++end;
		if (end - start == 2 && units[start] == u'.' && units[start + 1] == u'.')
			return true;
		start = end + 1;
	}
	return false;
}

VString PathTextOf(const IFile& file)
{
	VString text;
	file.GetPath().GetPosixPath(text);
	return text;
}

}  // namespace

bool VJSONPointerResolver::ResolvePointerURI(Context& ctx, const VString& text, VJSONValue& result,
	VJSONValue* document, VRefPtr<IFolder>* folder)
{
	result.SetUndefined();
	if (document != nullptr)
		document->SetUndefined();
	const int32 hash = text.FindRawString(VString("#"));
	VString path = hash > 0 ? text.Before(hash) : text;
	VString pointer = hash > 0 ? text.After(hash) : VString();
	VURL::Decode(path);
	VURL::Decode(pointer);
	path.TrimUniChar(u' ');
	// Only files are read: nothing is ever fetched.
	if (path.BeginsWith(VString("http:")) || path.BeginsWith(VString("https:")) || path.BeginsWith(VString("file:")))
	{
		_RecordURIError(ctx, VE_JSON_POINTER_UNSUPPORTED, text);
		return false;
	}
	VJSONValue loaded;
	if (!LoadDocument(ctx, text, path, loaded, folder))
		return false;
	const VString enclosing = ctx.fCurrentPointer;
	ctx.fCurrentPointer = text;
	const bool resolved = ResolvePointerString(ctx, loaded, pointer, result);
	ctx.fCurrentPointer = enclosing;
	if (resolved && document != nullptr)
		*document = loaded;
	return resolved;
}

bool VJSONPointerResolver::LoadDocument(Context& ctx, const VString& text, const VString& path, VJSONValue& document,
	VRefPtr<IFolder>* folder)
{
	if (path.IsEmpty())
	{
		document = fRoot;
		if (folder != nullptr)
			*folder = fBaseFolder;
		return true;
	}
	VRefPtr<IFile> file;
	if (fNamespace)
		file.Adopt(fNamespace->RetainFile(path, fBaseFolder.Get(), eFSN_SKIP_HIDDEN | eFSN_SEARCH_PARENTS, false));
	else if (fBaseFolder && path.GetCPointer()[0] != u'/')
		file.Adopt(fBaseFolder->_RetainRelativeIFile(path, LeavesBaseFolder(path) ? FPS_SYSTEM : FPS_POSIX));
	if (!file)
	{
		_RecordError(ctx, VE_JSON_POINTER_DOCUMENT_NOT_FOUND, text, VString("pointerURI"), path, VString("referredPath"));
		return false;
	}
	const VString fileText = PathTextOf(*file);
	try
	{
		ctx.fFiles.try_emplace(fileText, file);
	}
	catch (const std::bad_alloc&)
	{
		_RecordError(ctx, VE_MEMORY_FULL, VString(), VString(), VString(), VString());
	}
	document = fCache ? fCache->GetValue(file->GetPath()) : VJSONValue(JSON_undefined);
	if (document.IsUndefined())
	{
		if (!file->Exists())
		{
			_RecordError(ctx, VE_JSON_POINTER_DOCUMENT_NOT_FOUND, text, VString("pointerURI"), fileText, VString("referredPath"));
			return false;
		}
		VError parsed = VE_OK;
		{
			StErrorContextInstaller parsing(false, true);
			parsed = VJSONImporter::ParseFile(file.Get(), document, kDocumentParseOptions);
		}
		if (parsed != VE_OK)
		{
			document.SetUndefined();
			_RecordError(ctx, VE_JSON_POINTER_DOCUMENT_INVALID, text, VString("pointerURI"), fileText, VString("referredPath"));
			return false;
		}
		if (fCache)
			fCache->SetValue(file->GetPath(), document);
	}
	if (folder != nullptr)
		folder->Adopt(file->RetainParentFolder(true));
	return true;
}

bool VJSONPointerResolver::ResolvePointerString(Context& ctx, const VJSONValue& document, const VString& pointer,
	VJSONValue& result)
{
	result = document;
	if (pointer.IsEmpty())
		return true;
	if (pointer.GetCPointer()[0] != u'/')
	{
		_RecordURIError(ctx, VE_JSON_POINTER_SYNTAX, ctx.fCurrentPointer);
		result.SetUndefined();
		return false;
	}
	std::vector<VString> tokens;
	if (!pointer.GetSubStrings(u'/', tokens, true, false))
	{
		_RecordURIError(ctx, VE_MEMORY_FULL, ctx.fCurrentPointer);
		result.SetUndefined();
		return false;
	}
	for (size_t index = 1; index < tokens.size(); ++index)
	{
		if (!ResolveOnePart(ctx, result, tokens[index]))
		{
			result.SetUndefined();
			return false;
		}
	}
	return true;
}

bool VJSONPointerResolver::ResolveOnePart(Context& ctx, VJSONValue& current, const VString& escaped)
{
	VString token(escaped);
	token.ExchangeRawString(VString("~1"), VString("/"));
	token.ExchangeRawString(VString("~0"), VString("~"));
	// Only reference objects are resolved on the way: a plain object walked through here must stay
	// unvisited, or the tree walk would no longer descend into it.
	if (VJSONObject* object = current.GetObject();
		ctx.fFollowReferences && object != nullptr
		&& (ctx.fOutcomes.find(object) != ctx.fOutcomes.end() || object->GetProperty(sRefPropertyName).IsString()))
	{
		if (std::find(ctx.fInProgress.begin(), ctx.fInProgress.end(), object) != ctx.fInProgress.end())
		{
			_RecordURIError(ctx, VE_JSON_POINTER_CYCLE, ctx.fCurrentPointer);
			return false;
		}
		const VRefPtr<VJSONObject> held(object);
		const Outcome& outcome = _ResolveReference(ctx, object);
		if (!outcome.fResolved)
		{
			// The reference walked through failed, with its own error already recorded.
			_RecordURIError(ctx, outcome.fError, ctx.fCurrentPointer);
			return false;
		}
		current = outcome.fValue;
	}
	if (const VJSONArray* array = current.GetArray())
	{
		const UniChar* units = token.GetCPointer();
		const int32 length = token.GetLength();
		if (length == 1 && units[0] == u'-')
		{
			_RecordURIError(ctx, VE_JSON_POINTER_UNSUPPORTED, ctx.fCurrentPointer);
			return false;
		}
		if (length == 0 || (length > 1 && units[0] == u'0'))
		{
			_RecordURIError(ctx, VE_JSON_POINTER_SYNTAX, ctx.fCurrentPointer);
			return false;
		}
		const size_t count = array->GetCount();
		size_t index = 0;
		bool beyond = false;
		for (int32 pos = 0; pos < length; ++pos)
		{
			if (units[pos] < u'0' || units[pos] > u'9')
			{
				_RecordURIError(ctx, VE_JSON_POINTER_SYNTAX, ctx.fCurrentPointer);
				return false;
			}
			// Once past the count the exact value no longer matters, and it must not overflow.
			if (!beyond)
			{
				index = index * 10 + size_t(units[pos] - u'0');
				beyond = index >= count;
			}
		}
		current = beyond ? VJSONValue(JSON_undefined) : array->GetAt(index);
	}
	else if (current.IsObject())
	{
		current = current.GetProperty(token);
	}
	else
	{
		_RecordURIError(ctx, VE_JSON_POINTER_NOT_A_CONTAINER, ctx.fCurrentPointer);
		return false;
	}
	if (current.IsUndefined())
	{
		_RecordURIError(ctx, VE_JSON_POINTER_NOT_FOUND, ctx.fCurrentPointer);
		return false;
	}
	return true;
}

}  // namespace velk
