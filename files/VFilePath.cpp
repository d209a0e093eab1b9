#include "files/VFilePath.h"

#include <utility>
#include <vector>

#include "files/VFolder.h"
#include "files/mac/XMacFilePath.h"
#include "kernel/intl/VIntlMgr.h"
#include "runtime/VError.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

constexpr VError kNameHoldsSeparator = MakeVError(kVELK_SIGNATURE, 614);

// 0-based index of the last unit equal to unit in [0, end), -1 when none.
int32 LastIndexOf(const UniChar* units, int32 end, UniChar unit)
{
	while (end > 0 && units[end - 1] != unit)
		--end;
	return end - 1;
}

bool HoldsColon(const VString& name)
{
	return name.FindUniChar(u':') > 0;
}

// 0-based index of the last '.' in [begin, end), -1 when none.
int32 DotIn(const UniChar* units, int32 begin, int32 end)
{
	for (int32 i = end - 1; i >= begin; --i)
	{
		if (units[i] == u'.')
			return i;
	}
	return -1;
}

bool StartsWithUnit(const VString& text, UniChar unit)
{
	return !text.IsEmpty() && text.GetCPointer()[0] == unit;
}

}  // namespace

VFilePath::VFilePath() = default;

VFilePath::VFilePath(const VString& path, FilePathStyle style, bool unused)
{
	FromFullPath(path, style, unused);
}

VFilePath::VFilePath(const VFilePath& base, const VString& relative, FilePathStyle style, bool relativeOnly)
{
	FromRelativePath(base, relative, style, relativeOnly);
}

VFilePath::VFilePath(const VFilePath& other) : VObject(), fPath(other.fPath), fIsValid(other.fIsValid)
{
}

VFilePath::~VFilePath() = default;

VFilePath& VFilePath::FromFullPath(const VString& path, FilePathStyle style, bool unused)
{
	if (&path == &fPath)
	{
		const VString copy(path);
		return FromFullPath(copy, style, unused);
	}
	bool valid = !path.IsNull() && !path.IsEmpty() && !BadChar(path);
	if (style == FPS_POSIX)
	{
		if (StartsWithUnit(path, u'/'))
		{
			// Fails only for an unpaired surrogate, which names no file on disk.
			if (!XMacFilePath::PosixFullPathToHFS(path.GetCPointer(), path.GetLength(), fPath))
			{
				fPath = path;
				valid = false;
			}
		}
		else
		{
			fPath.Clear();
			_PosixToNativeRelative(path.GetCPointer(), path.GetLength(), fPath);
			valid = false;
		}
	}
	else
	{
		fPath = path;
		valid = valid && !StartsWithUnit(path, u':');
	}
	_SetValidity(valid && _ResolveParentSteps());
	return *this;
}

VFilePath& VFilePath::FromRelativePath(const VFilePath& base, const VString& relative, FilePathStyle style, bool relativeOnly)
{
	const bool posix = style == FPS_POSIX;
	const bool absolute = posix && StartsWithUnit(relative, u'/');
	if (absolute && !relativeOnly)
		return FromFullPath(relative, FPS_POSIX);

	const bool valid = base.IsFolder() && !absolute && !BadChar(relative);
	// Built aside: base may be this path.
	VString text(base.fPath);
	if (posix)
		_PosixToNativeRelative(relative.GetCPointer(), relative.GetLength(), text);
	else
		text.AppendUniChars(relative.GetCPointer(), relative.GetLength());
	fPath = std::move(text);
	_SetValidity(valid && _ResolveParentSteps());
	return *this;
}

VFilePath& VFilePath::FromRelativePath(const VFolder& base, const VString& relative, FilePathStyle style, bool relativeOnly)
{
	const VFilePath folder(base.GetPath());
	return FromRelativePath(folder, relative, style, relativeOnly);
}

VFilePath& VFilePath::FromFilePath(const VFilePath& other)
{
	if (&other != this)
	{
		fPath = other.fPath;
		fIsValid = other.fIsValid;
	}
	return *this;
}

void VFilePath::Clear()
{
	fPath.Clear();
	fIsValid = false;
}

bool VFilePath::_ResolveParentSteps()
{
	const UniChar* units = fPath.GetCPointer();
	const int32 count = fPath.GetLength();
	if (count == 0 || units[0] == u':')
		return false;
	int32 volumeEnd = 0;
	while (volumeEnd < count && units[volumeEnd] != u':')
		++volumeEnd;
	int32 first = volumeEnd;
	while (first + 1 < count && !(units[first] == u':' && units[first + 1] == u':'))
		++first;
	if (first + 1 >= count)
		return true;

	// Rewritten aside so that a failing path keeps its text. Every unit of a run of colons past the first
	// removes one name; removing the volume fails, however deep the run starts.
	VString work(fPath);
	UniChar* text = work.GetCPointerForWrite(count);
	if (text == nullptr)
		return false;
	int32 write = first;
	int32 read = first;
	while (read < count)
	{
		if (text[read] != u':')
		{
			text[write++] = text[read++];
			continue;
		}
		int32 run = 0;
		while (read < count && text[read] == u':')
		{
			++run;
			++read;
		}
		text[write++] = u':';
		for (; run > 1; --run)
		{
			const int32 previous = LastIndexOf(text, write - 1, u':');
			if (previous < 0)
				return false;
			write = previous + 1;
		}
	}
	work.Validate(write);
	fPath = std::move(work);
	return true;
}

VString VFilePath::GetPath(FilePathStyle style) const
{
	if (style != FPS_POSIX)
		return fPath;
	VString posix;
	GetPosixPath(posix);
	return posix;
}

void VFilePath::GetPosixPath(VString& out) const
{
	if (!fIsValid || !XMacFilePath::HFSFullPathToPosix(fPath, out))
		out.Clear();
}

bool VFilePath::GetRelativePath(const VFilePath& base, VString& out) const
{
	if (fIsValid && base.IsFolder() && fPath.BeginsWithRawString(base.fPath))
	{
		const int32 skip = base.fPath.GetLength();
		out.FromUniString(fPath.GetCPointer() + skip, fPath.GetLength() - skip);
		return true;
	}
	out = fPath;
	return false;
}

bool VFilePath::GetRelativePosixPath(const VFilePath& base, VString& out) const
{
	if (fIsValid && base.IsFolder() && fPath.BeginsWithRawString(base.fPath))
	{
		const int32 skip = base.fPath.GetLength();
		out.Clear();
		_NativeToPosixRelative(fPath.GetCPointer() + skip, fPath.GetLength() - skip, out);
		return true;
	}
	GetPosixPath(out);
	return false;
}

void VFilePath::GetName(VString& out) const
{
	const UniChar* units = fPath.GetCPointer();
	int32 end = fPath.GetLength();
	if (end > 0 && units[end - 1] == u':')
		--end;
	const int32 begin = LastIndexOf(units, end, u':') + 1;
	out.FromUniString(units + begin, end - begin);
}

void VFilePath::GetFileName(VString& out, bool withExtension) const
{
	if (!IsFile())
	{
		out.Clear();
		return;
	}
	const UniChar* units = fPath.GetCPointer();
	const int32 end = fPath.GetLength();
	const int32 begin = LastIndexOf(units, end, u':') + 1;
	const int32 dot = withExtension ? -1 : DotIn(units, begin, end);
	out.FromUniString(units + begin, ((dot >= 0) ? dot : end) - begin);
}

void VFilePath::GetFolderName(VString& out, bool withExtension) const
{
	if (!IsFolder())
	{
		out.Clear();
		return;
	}
	const UniChar* units = fPath.GetCPointer();
	const int32 end = fPath.GetLength() - 1;
	const int32 colon = LastIndexOf(units, end, u':');
	if (colon < 0)
	{
		out = fPath;
		return;
	}
	const int32 dot = withExtension ? -1 : DotIn(units, colon + 1, end);
	out.FromUniString(units + colon + 1, ((dot >= 0) ? dot : end) - colon - 1);
}

void VFilePath::GetExtension(VString& out) const
{
	const UniChar* units = fPath.GetCPointer();
	int32 end = fPath.GetLength();
	if (end > 0 && units[end - 1] == u':')
		--end;
	const int32 dot = DotIn(units, LastIndexOf(units, end, u':') + 1, end);
	if (dot < 0)
		out.Clear();
	else
		out.FromUniString(units + dot + 1, end - dot - 1);
}

bool VFilePath::MatchExtension(const VString& ext, bool sensitive) const
{
	if (ext.IsEmpty())
	{
		VString name;
		GetName(name);
		return name.FindUniChar(u'.') == 0;
	}
	VString suffix(u'.');
	suffix.AppendUniChars(ext.GetCPointer(), ext.GetLength());
	if (IsFolder())
		suffix.AppendUniChar(u':');
	return fPath.EndsWith(suffix, sensitive);
}

bool VFilePath::HasParent() const
{
	const int32 count = fPath.GetLength();
	return fIsValid && count >= 2 && LastIndexOf(fPath.GetCPointer(), count - 1, u':') >= 0;
}

int32 VFilePath::GetDepth() const
{
	if (!fIsValid)
		return 0;
	int32 depth = IsFile() ? 1 : 0;
	const UniChar* units = fPath.GetCPointer();
	for (int32 i = 0; i < fPath.GetLength(); ++i)
	{
		if (units[i] == u':')
			++depth;
	}
	return depth;
}

bool VFilePath::IsChildOf(const VFilePath& folder) const
{
	return fIsValid && folder.IsFolder() && fPath.GetLength() > folder.fPath.GetLength() && fPath.BeginsWithRawString(folder.fPath);
}

bool VFilePath::IsSameOrChildOf(const VFilePath& folder) const
{
	return fIsValid && folder.IsFolder() && fPath.BeginsWithRawString(folder.fPath);
}

bool VFilePath::GetParent(VFilePath& out) const
{
	out.FromFilePath(*this);
	out.ToParent();
	return out.fIsValid;
}

bool VFilePath::GetFolder(VFilePath& out) const
{
	out.FromFilePath(*this);
	out.ToFolder();
	return out.fIsValid;
}

VFilePath& VFilePath::ToParent()
{
	if (!fIsValid)
		return *this;
	const int32 count = fPath.GetLength();
	const int32 colon = (count >= 2) ? LastIndexOf(fPath.GetCPointer(), count - 1, u':') : -1;
	if (colon < 0)
		fPath.Clear();
	else
		fPath.Truncate(colon + 1, false);
	_SetValidity(true);
	return *this;
}

VFilePath& VFilePath::ToFolder()
{
	if (!fIsValid || _LastUnit() == u':')
		return *this;
	const int32 colon = LastIndexOf(fPath.GetCPointer(), fPath.GetLength(), u':');
	if (colon < 0)
		fPath.Clear();
	else
		fPath.Truncate(colon + 1, false);
	_SetValidity(true);
	return *this;
}

VFilePath& VFilePath::ToSubFolder(const VString& name)
{
	if (IsFolder())
	{
		fPath.AppendUniChars(name.GetCPointer(), name.GetLength());
		fPath.AppendUniChar(u':');
	}
	return *this;
}

VFilePath& VFilePath::ToSubFile(const VString& name)
{
	if (IsFolder())
		fPath.AppendUniChars(name.GetCPointer(), name.GetLength());
	return *this;
}

bool VFilePath::SetName(const VString& name)
{
	if (HoldsColon(name))
	{
		_ThrowError(kNameHoldsSeparator);
		return false;
	}
	if (!fIsValid)
		return false;
	const bool folder = IsFolder();
	const int32 end = fPath.GetLength() - (folder ? 1 : 0);
	const int32 colon = LastIndexOf(fPath.GetCPointer(), end, u':');
	if (colon < 0)
		fPath.Clear();
	else
	{
		fPath.Truncate(colon + 1, false);
		fPath.AppendUniChars(name.GetCPointer(), name.GetLength());
		if (folder)
			fPath.AppendUniChar(u':');
	}
	_SetValidity(true);
	return fIsValid;
}

bool VFilePath::SetFileName(const VString& name, bool withExtension)
{
	if (HoldsColon(name))
	{
		_ThrowError(kNameHoldsSeparator);
		return false;
	}
	if (!fIsValid)
		return false;
	if (IsFolder())
	{
		fPath.AppendUniChars(name.GetCPointer(), name.GetLength());
		return fIsValid;
	}
	VString extension;
	if (!withExtension)
		GetExtension(extension);
	fPath.Truncate(LastIndexOf(fPath.GetCPointer(), fPath.GetLength(), u':') + 1, false);
	fPath.AppendUniChars(name.GetCPointer(), name.GetLength());
	if (!extension.IsEmpty())
	{
		fPath.AppendUniChar(u'.');
		fPath.AppendUniChars(extension.GetCPointer(), extension.GetLength());
	}
	_SetValidity(true);
	return fIsValid;
}

bool VFilePath::SetFolderName(const VString& name, bool withExtension)
{
	if (!IsFolder())
		return false;
	VString extension;
	if (!withExtension)
		GetExtension(extension);
	const int32 colon = LastIndexOf(fPath.GetCPointer(), fPath.GetLength() - 1, u':');
	if (colon < 0)
	{
		Clear();
		return false;
	}
	fPath.Truncate(colon + 1, false);
	fPath.AppendUniChars(name.GetCPointer(), name.GetLength());
	if (!extension.IsEmpty())
	{
		fPath.AppendUniChar(u'.');
		fPath.AppendUniChars(extension.GetCPointer(), extension.GetLength());
	}
	fPath.AppendUniChar(u':');
	_SetValidity(true);
	return fIsValid;
}

bool VFilePath::SetExtension(const VString& ext)
{
	if (!fIsValid || fPath.IsEmpty())
		return false;
	return IsFolder() ? SetFolderExtension(ext) : SetFileExtension(ext);
}

bool VFilePath::SetFileExtension(const VString& ext)
{
	if (!IsFile())
		return false;
	const int32 count = fPath.GetLength();
	const int32 nameStart = LastIndexOf(fPath.GetCPointer(), count, u':') + 1;
	const int32 dot = DotIn(fPath.GetCPointer(), nameStart, count);
	if (dot < 0)
	{
		if (!ext.IsEmpty())
		{
			fPath.AppendUniChar(u'.');
			fPath.AppendUniChars(ext.GetCPointer(), ext.GetLength());
		}
	}
	else if (ext.IsEmpty())
	{
		// A name that is all extension (".profile") keeps it: removing it would leave the folder's path.
		if (dot > nameStart)
			fPath.Truncate(dot, false);
	}
	else
	{
		fPath.Truncate(dot + 1, false);
		fPath.AppendUniChars(ext.GetCPointer(), ext.GetLength());
	}
	return true;
}

bool VFilePath::SetFolderExtension(const VString& ext)
{
	if (!fIsValid || _LastUnit() != u':')
		return false;
	const int32 end = fPath.GetLength() - 1;
	const int32 nameStart = LastIndexOf(fPath.GetCPointer(), end, u':') + 1;
	const int32 dot = DotIn(fPath.GetCPointer(), nameStart, end);
	if (dot < 0)
	{
		if (!ext.IsEmpty())
			fPath.Insert(VString(u'.') + ext, end + 1);
	}
	else if (ext.IsEmpty())
	{
		// As for files: an empty name would make a parent step of the path.
		if (dot > nameStart)
			fPath.Remove(dot + 1, end - dot);
	}
	else if (dot + 1 == end)
		fPath.Insert(ext, end + 1);
	else
		fPath.Replace(ext, dot + 2, end - dot - 1);
	return true;
}

void VFilePath::RemoveBlanks()
{
	const VIntlMgr* intl = VTask::GetCurrentIntlManager();
	auto isSpace = [intl](UniChar unit) { return (intl != nullptr) ? intl->IsSpace(unit) : (unit == u' ' || unit == u'\t'); };
	const UniChar* units = fPath.GetCPointer();
	const int32 count = fPath.GetLength();
	VString result;
	int32 begin = 0;
	while (begin <= count)
	{
		int32 end = begin;
		while (end < count && units[end] != u':')
			++end;
		int32 first = begin;
		int32 last = end;
		while (first < last && isSpace(units[first]))
			++first;
		while (last > first && isSpace(units[last - 1]))
			--last;
		result.AppendUniChars(units + first, last - first);
		if (end < count)
			result.AppendUniChar(u':');
		begin = end + 1;
	}
	fPath = std::move(result);
	_SetValidity(fIsValid && !StartsWithUnit(fPath, u':'));
}

bool VFilePath::ValidFullPath(const VString& path, FilePathStyle style)
{
	if (path.IsNull() || path.IsEmpty())
		return false;
	return (style == FPS_POSIX) ? StartsWithUnit(path, u'/') : !StartsWithUnit(path, u':');
}

bool VFilePath::ValidRelativePath(const VString& path, FilePathStyle style)
{
	return style != FPS_POSIX || !StartsWithUnit(path, u'/');
}

bool VFilePath::BadChar(const VString& path, FilePathStyle, bool)
{
	return VString::UniCStringLength(path.GetCPointer()) != path.GetLength();
}

bool VFilePath::ResolveRelativePosix(VString& path)
{
	const UniChar* units = path.GetCPointer();
	const int32 count = path.GetLength();
	int32 first = 0;
	while (first < count && units[first] != u'/')
		++first;
	if (first == count)
		return true;

	// What comes before the first '/' stays as it is; each later name is pushed, "." and empty names
	// dropped, and ".." removes the name before it. Nothing comes before the root of a full path, so a
	// ".." there is dropped; a relative text keeps a ".." it cannot resolve (and a leading "." or ".."),
	// since removing those would name another place.
	const bool absolute = first == 0;
	VString result;
	UniChar* out = result.GetCPointerForWrite(count + 1);
	if (out == nullptr)
		return true;
	int32 length = first;
	for (int32 k = 0; k < first; ++k)
		out[k] = units[k];
	// Where each pushed name began (its '/' included), for a ".." to cut back to; only names that a ".."
	// may remove are kept here.
	std::vector<int32> removable;
	const bool leadingRemovable = first > 0 && !(first == 1 && units[0] == u'.') && !(first == 2 && units[0] == u'.' && units[1] == u'.');
	if (leadingRemovable)
		removable.push_back(0);
	bool endsInFolder = false;
	int32 i = first;
	while (i < count)
	{
		++i;
		int32 end = i;
		while (end < count && units[end] != u'/')
			++end;
		const int32 size = end - i;
		endsInFolder = true;
		const bool isDot = size == 1 && units[i] == u'.';
		if (size == 2 && units[i] == u'.' && units[i + 1] == u'.')
		{
			if (!removable.empty())
			{
				length = removable.back();
				removable.pop_back();
			}
			else if (!absolute)
			{
				if (length > 0)
					out[length++] = u'/';
				out[length++] = u'.';
				out[length++] = u'.';
			}
		}
		else if (size > 0 && !isDot)
		{
			removable.push_back(length);
			if (length > 0 || absolute)
				out[length++] = u'/';
			for (int32 k = i; k < end; ++k)
				out[length++] = units[k];
			endsInFolder = end < count;
		}
		i = end;
	}
	if (absolute && length == 0)
		out[length++] = u'/';
	else if (endsInFolder && length > 0 && out[length - 1] != u'/')
		out[length++] = u'/';
	result.Validate(length);
	path = std::move(result);
	return true;
}

void VFilePath::_PosixToNativeRelative(const UniChar* units, int32 count, VString& out)
{
	// "./" goes, "../" and every '/' (a run counting once) become a pending separator, written as ':'
	// before the next name: a run of k colons behind a name is the name's separator and k - 1 parent
	// steps. A final "." or ".." counts as "./" or "../": kept as a name, ".." would name the parent on
	// disk while the native path still looked to lie inside the folder.
	const int32 start = out.GetLength();
	UniChar* dest = out.GetCPointerForWrite(start + count + 1);
	if (dest == nullptr)
		return;
	int32 length = start;
	int32 pending = 0;
	int32 i = 0;
	while (i < count)
	{
		const UniChar unit = units[i];
		const bool atStep = i == 0 || units[i - 1] == u'/';
		if (atStep && unit == u'.')
		{
			if (i + 1 == count || units[i + 1] == u'/')
			{
				i += 2;
				continue;
			}
			if (units[i + 1] == u'.' && (i + 2 == count || units[i + 2] == u'/'))
			{
				++pending;
				i += 3;
				continue;
			}
		}
		if (unit == u'/')
		{
			if (!(i > 0 && units[i - 1] == u'/'))
				++pending;
			++i;
			continue;
		}
		for (; pending > 0; --pending)
			dest[length++] = u':';
		dest[length++] = (unit == u':') ? u'/' : unit;
		++i;
	}
	for (; pending > 0; --pending)
		dest[length++] = u':';
	out.Validate(length);
}

void VFilePath::_NativeToPosixRelative(const UniChar* units, int32 count, VString& out)
{
	// A run of k colons is a '/' and k - 1 "../". A run that begins the text is parent steps alone: a '/'
	// there would turn the relative text into a full path.
	const int32 start = out.GetLength();
	UniChar* dest = out.GetCPointerForWrite(start + 3 * count + 1);
	if (dest == nullptr)
		return;
	int32 length = start;
	int32 i = 0;
	while (i < count)
	{
		if (units[i] != u':')
		{
			dest[length++] = (units[i] == u'/') ? u':' : units[i];
			++i;
			continue;
		}
		const bool leading = i == 0;
		int32 run = 0;
		while (i < count && units[i] == u':')
		{
			++run;
			++i;
		}
		if (!leading)
			dest[length++] = u'/';
		for (; run > 1; --run)
		{
			dest[length++] = u'.';
			dest[length++] = u'.';
			dest[length++] = u'/';
		}
	}
	out.Validate(length);
}

bool VFilePath::_ConvertPathText(VString& text, EURLPathStyle from, EURLPathStyle to, bool relative)
{
	if (from == to)
		return true;
	if (from == eURL_WIN_STYLE && to == eURL_POSIX_STYLE)
	{
		text.Exchange(u'\\', u'/');
		return true;
	}
	if (from == eURL_POSIX_STYLE && to == eURL_WIN_STYLE)
	{
		text.Exchange(u'/', u'\\');
		return true;
	}
	if (from == eURL_HFS_STYLE && to == eURL_POSIX_STYLE)
	{
		if (!relative)
			return XMacFilePath::HFSFullPathToPosix(text, text);
		VString posix;
		_NativeToPosixRelative(text.GetCPointer(), text.GetLength(), posix);
		text = std::move(posix);
		return true;
	}
	if (from == eURL_POSIX_STYLE && to == eURL_HFS_STYLE)
	{
		if (!relative && StartsWithUnit(text, u'/'))
			return XMacFilePath::PosixFullPathToHFS(text.GetCPointer(), text.GetLength(), text);
		VString native;
		_PosixToNativeRelative(text.GetCPointer(), text.GetLength(), native);
		text = std::move(native);
		return true;
	}
	// Between the native and Windows styles nothing is converted.
	return true;
}

CharSet VFilePath::DebugDump(char* buffer, int& length) const
{
	return fPath.DebugDump(buffer, length);
}

}  // namespace velk
