#include "files/VURL.h"

#include <array>
#include <new>
#include <string>
#include <utility>

#include "files/VFolder.h"
#include "kernel/intl/VUTFCodec.h"
#include "kernel/values/VNumberText.h"

namespace velk {

namespace {

// Which bytes an encoding escapes. The two public sets; then the sets a part needs so that, written into a
// URL text, it parses back whole: a path must not hold the ';' or '?' that would end it, parameters not the
// '?', a network location not the '/' or '?'.
enum EEscapeSet
{
	eNetworkLocationSet,
	ePathSet,
	ePathInURLSet,
	eParametersInURLSet,
	eNetworkLocationInURLSet,
	eEscapeSetCount
};

using EscapeTable = std::array<bool, 256>;

constexpr EscapeTable MakeTable(bool brackets, const char* extra)
{
	EscapeTable table{};
	for (int byte = 0; byte < 256; ++byte)
		table[size_t(byte)] = byte < 0x20 || byte >= 0x7F;
	for (const char* p = " \"#%<>\\^`{|}"; *p != 0; ++p)
		table[size_t(*p)] = true;
	if (brackets)
	{
		table[size_t('[')] = true;
		table[size_t(']')] = true;
	}
	for (const char* p = extra; *p != 0; ++p)
		table[size_t(*p)] = true;
	return table;
}

constexpr std::array<EscapeTable, eEscapeSetCount> kEscapes = {
	MakeTable(false, ""),
	MakeTable(true, ""),
	MakeTable(true, ";?"),
	MakeTable(true, "?"),
	MakeTable(false, "/?"),
};

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsSafe(UniChar unit)
{
	if ((unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z'))
		return true;
	for (const char16_t* p = u":/?#[]@!$&'()*+,;=-._~%"; *p != 0; ++p)
	{
		if (*p == unit)
			return true;
	}
	return false;
}

// Strict UTF-8 appended to out as UTF-16; false, out unchanged, when the bytes are not strict UTF-8.
bool AppendStrictUTF8(const std::string& bytes, VString& out)
{
	std::u16string units;
	if (!FromStrictUTF8(bytes.data(), bytes.size(), units))
		return false;
	out.AppendUniChars(reinterpret_cast<const UniChar*>(units.data()), int32(units.size()));
	return true;
}

bool EncodeUnits(const UniChar* units, int32 count, EEscapeSet set, bool keepUnicodeEscapes, VString& out)
{
	std::string bytes;
	if (!ToStrictUTF8(units, count, bytes))
		return false;
	const EscapeTable& escaped = kEscapes[size_t(set)];
	VString result;
	for (size_t i = 0; i < bytes.size(); ++i)
	{
		const unsigned char byte = static_cast<unsigned char>(bytes[i]);
		const bool unicodeEscape = keepUnicodeEscapes && byte == '\\' && i + 1 < bytes.size() && bytes[i + 1] == 'u';
		if (escaped[byte] && !unicodeEscape)
		{
			result.AppendUniChar(u'%');
			result.AppendUniChar(UniChar(kHexDigits[byte >> 4]));
			result.AppendUniChar(UniChar(kHexDigits[byte & 0x0F]));
		}
		else
			result.AppendUniChar(UniChar(byte));
	}
	out = std::move(result);
	return true;
}

bool DecodeUnits(const UniChar* units, int32 count, VString& out)
{
	VString result;
	std::string run;
	int32 i = 0;
	while (i < count)
	{
		run.clear();
		while (i + 2 < count && units[i] == u'%' && VNumberText::HexDigitValue(units[i + 1]) >= 0 && VNumberText::HexDigitValue(units[i + 2]) >= 0)
		{
			run.push_back(char((VNumberText::HexDigitValue(units[i + 1]) << 4) | VNumberText::HexDigitValue(units[i + 2])));
			i += 3;
		}
		if (!run.empty())
		{
			// A run that is not UTF-8 (a lone "%E9") is ISO-8859-1, byte for byte.
			if (!AppendStrictUTF8(run, result))
			{
				for (const char byte : run)
					result.AppendUniChar(UniChar(static_cast<unsigned char>(byte)));
			}
			continue;
		}
		result.AppendUniChar(units[i]);
		++i;
	}
	out = std::move(result);
	return true;
}

// 0-based index of pattern at or after from, -1 when absent.
int32 IndexOf(const UniChar* units, int32 count, int32 from, UniChar unit)
{
	for (int32 i = from; i < count; ++i)
	{
		if (units[i] == unit)
			return i;
	}
	return -1;
}

// Splits a URL text into its parts; answers whether it is a valid URL. The delimiters of the resource
// specifier are read in their order: a ';' or '?' behind the fragment's '#' belongs to the fragment, a ';'
// behind the query's '?' to the query, so that no part is taken out of the middle of another.
bool ParseText(const VString& text, URLPart (&parts)[eURL_PART_COUNT], bool isFilePath)
{
	for (URLPart& part : parts)
		part = URLPart();
	const UniChar* units = text.GetCPointer();
	const int32 count = text.GetLength();
	if (count == 0)
		return true;

	bool valid = true;
	int32 pathStart = 0;  // 0-based; -1 when there is no path
	const int32 marker = VString::FindRawString(units, count, u"://", 3) - 1;
	bool separatorBefore = false;
	for (int32 i = 0; i < marker; ++i)
		separatorBefore = separatorBefore || units[i] == u'/' || units[i] == u':';
	if (marker < 0 || separatorBefore)
		valid = false;
	else
	{
		parts[eURL_SCHEME] = { 1, marker };
		const int32 netStart = marker + 3;
		int32 netEnd = netStart;
		while (netEnd < count && units[netEnd] != u'/' && units[netEnd] != u'?')
			++netEnd;
		parts[eURL_NETWORK_LOCATION] = { netStart + 1, netEnd - netStart };
		if (netEnd == count)
		{
			valid = false;
			pathStart = -1;
		}
		else
			pathStart = (units[netEnd] == u'/') ? netEnd + 1 : netEnd;
	}
	if (pathStart < 0)
		return valid;

	int32 pathEnd = count;
	if (!isFilePath)
	{
		const int32 fragment = IndexOf(units, count, pathStart, u'#');
		const int32 fragmentLimit = (fragment < 0) ? count : fragment;
		const int32 query = IndexOf(units, fragmentLimit, pathStart, u'?');
		const int32 queryLimit = (query < 0) ? fragmentLimit : query;
		const int32 parameters = IndexOf(units, queryLimit, pathStart, u';');
		if (fragment >= 0)
			parts[eURL_FRAGMENT] = { fragment + 2, count - fragment - 1 };
		if (query >= 0)
			parts[eURL_QUERY] = { query + 2, fragmentLimit - query - 1 };
		if (parameters >= 0)
			parts[eURL_PARAMETERS] = { parameters + 2, queryLimit - parameters - 1 };
		pathEnd = (parameters >= 0) ? parameters : queryLimit;
	}
	parts[eURL_PATH] = { pathStart + 1, pathEnd - pathStart };
	return valid;
}

// What a parse of an assembled text says of it: a scheme free of ':' and '/' comes before the "://".
bool SchemeMakesValid(const VString& scheme)
{
	return !scheme.IsEmpty() && scheme.FindUniChar(u':') == 0 && scheme.FindUniChar(u'/') == 0;
}

// The six texts joined. The absolute form always writes "://" and the '/' after the network location; the
// relative one leaves out an empty scheme or network location with its delimiter (":///" behind a scheme
// without network location). Parameters, query and fragment come with their delimiters when non-empty.
void Join(const VString (&texts)[eURL_PART_COUNT], bool absolute, VString& out, URLPart (&parts)[eURL_PART_COUNT])
{
	out.Clear();
	for (URLPart& part : parts)
		part = URLPart();
	auto put = [&](EURLParts which) {
		parts[which] = { out.GetLength() + 1, texts[which].GetLength() };
		out.AppendUniChars(texts[which].GetCPointer(), texts[which].GetLength());
	};
	const bool hasNetwork = !texts[eURL_NETWORK_LOCATION].IsEmpty();
	if (absolute)
	{
		put(eURL_SCHEME);
		out.AppendCString("://");
		put(eURL_NETWORK_LOCATION);
		out.AppendUniChar(u'/');
	}
	else
	{
		if (!texts[eURL_SCHEME].IsEmpty())
		{
			put(eURL_SCHEME);
			out.AppendCString(hasNetwork ? "://" : ":///");
			if (!hasNetwork)
				parts[eURL_NETWORK_LOCATION] = { out.GetLength(), 0 };
		}
		if (hasNetwork)
		{
			put(eURL_NETWORK_LOCATION);
			out.AppendUniChar(u'/');
		}
	}
	put(eURL_PATH);
	const std::pair<EURLParts, UniChar> tail[] = { { eURL_PARAMETERS, u';' }, { eURL_QUERY, u'?' }, { eURL_FRAGMENT, u'#' } };
	for (const auto& [which, delimiter] : tail)
	{
		if (!texts[which].IsEmpty())
		{
			out.AppendUniChar(delimiter);
			put(which);
		}
	}
}

}  // namespace

VURL::VURL() = default;

VURL::VURL(const VString& url, bool encoded)
{
	FromString(url, encoded);
}

VURL::VURL(const VFilePath& path)
{
	FromFilePath(path);
}

VURL::VURL(const VString& path, EURLPathStyle style, const VString& base)
{
	FromFilePath(path, style, base);
}

VURL::VURL(const VFolder& folder, const VString& relativePath, EURLPathStyle style)
{
	FromRelativePath(folder, relativePath, style);
}

VURL::VURL(const VURL& other) : VObject()
{
	FromURL(other);
}

VURL::~VURL() = default;

VURL& VURL::FromString(const VString& url, bool encoded)
{
	return FromString(url, VString(), encoded);
}

VURL& VURL::FromString(const VString& url, const VString& base, bool encoded)
{
	VString text;
	if (!base.IsEmpty() && url.FindRawString(VString(u"://")) == 0)
	{
		text = base;
		if (url.GetUniChar(1) != u'/')
			text.AppendUniChar(u'/');
		text.AppendUniChars(url.GetCPointer(), url.GetLength());
	}
	else
		text = url;
	fURL = std::move(text);

	// The whole text, base included, is the URL handed back as encoded: the given part alone would lose
	// the base.
	fEncodedURL.Clear();
	if (encoded)
	{
		bool safe = true;
		for (int32 i = 0; i < fURL.GetLength() && safe; ++i)
			safe = IsSafe(fURL.GetCPointer()[i]);
		if (safe)
			fEncodedURL = fURL;
	}
	fIsValid = ParseText(fURL, fParts, false);
	if (encoded && !_DecodeParts())
		Clear();
	return *this;
}

VURL& VURL::FromFilePath(const VFilePath& path)
{
	VString posix;
	path.GetPosixPath(posix);
	if (posix.IsEmpty())
	{
		Clear();
		return *this;
	}
	// GetPosixPath always begins with one '/': behind "file://" it is the separator of an empty network
	// location, so that the path keeps every unit.
	fURL = VString(u"file://");
	if (posix.GetUniChar(1) != u'/')
		fURL.AppendUniChar(u'/');
	fURL.AppendUniChars(posix.GetCPointer(), posix.GetLength());
	fEncodedURL.Clear();
	fIsValid = ParseText(fURL, fParts, true);
	return *this;
}

VURL& VURL::FromRelativePath(const VFolder& folder, const VString& relativePath, EURLPathStyle style)
{
	VString relative(relativePath);
	if (style == eURL_WIN_STYLE)
		WIN_to_POSIX(relative);
	const FilePathStyle fileStyle = style == eURL_HFS_STYLE ? FPS_SYSTEM : FPS_POSIX;
	return FromFilePath(VFilePath(folder.GetPath(), relative, fileStyle, false));
}

VURL& VURL::FromFilePath(const VString& path, EURLPathStyle style, const VString& base)
{
	VString posix(path);
	if (style == eURL_WIN_STYLE)
		WIN_to_POSIX(posix);
	else if (style == eURL_HFS_STYLE)
		HFS_to_POSIX(posix, true);
	VString text(base);
	if (posix.GetUniChar(1) == u'/' && posix.GetUniChar(2) == u'/')
		text.AppendUniChars(posix.GetCPointer() + 2, posix.GetLength() - 2);
	else
	{
		if (posix.GetUniChar(1) != u'/')
			text.AppendUniChar(u'/');
		text.AppendUniChars(posix.GetCPointer(), posix.GetLength());
	}
	fURL = std::move(text);
	fEncodedURL.Clear();
	fIsValid = ParseText(fURL, fParts, true);
	return *this;
}

VURL& VURL::FromURL(const VURL& other)
{
	if (&other != this)
	{
		for (int32 i = 0; i < eURL_PART_COUNT; ++i)
			fParts[i] = other.fParts[i];
		fURL = other.fURL;
		fEncodedURL = other.fEncodedURL;
		fIsValid = other.fIsValid;
	}
	return *this;
}

void VURL::Clear()
{
	for (URLPart& part : fParts)
		part = URLPart();
	fURL.Clear();
	fEncodedURL.Clear();
	fIsValid = false;
}

bool VURL::_Parse(bool isFilePath)
{
	fIsValid = ParseText(fURL, fParts, isFilePath);
	return fIsValid;
}

bool VURL::_DecodeParts()
{
	// Parts lie in the text in their order; what stands between them (delimiters) is copied as it is.
	VString text;
	URLPart parts[eURL_PART_COUNT];
	int32 copied = 0;
	for (int32 i = 0; i < eURL_PART_COUNT; ++i)
	{
		const URLPart& part = fParts[i];
		if (part.start == 0)
			continue;
		text.AppendUniChars(fURL.GetCPointer() + copied, part.start - 1 - copied);
		VString decoded;
		if (!DecodeUnits(fURL.GetCPointer() + part.start - 1, part.length, decoded))
			return false;
		parts[i] = { text.GetLength() + 1, decoded.GetLength() };
		text.AppendUniChars(decoded.GetCPointer(), decoded.GetLength());
		copied = part.start - 1 + part.length;
	}
	text.AppendUniChars(fURL.GetCPointer() + copied, fURL.GetLength() - copied);
	fURL = std::move(text);
	for (int32 i = 0; i < eURL_PART_COUNT; ++i)
		fParts[i] = parts[i];
	return true;
}

VString VURL::_PartText(EURLParts part) const
{
	return fURL.GetSubString(fParts[part].start, fParts[part].length);
}

bool VURL::_EncodedPartText(EURLParts part, VString& out) const
{
	static constexpr EEscapeSet kSets[eURL_PART_COUNT] = { ePathSet, eNetworkLocationInURLSet, ePathInURLSet, eParametersInURLSet, ePathSet, ePathSet };
	const URLPart& where = fParts[part];
	const UniChar* units = (where.start > 0) ? fURL.GetCPointer() + where.start - 1 : nullptr;
	if (!EncodeUnits(units, (where.start > 0) ? where.length : 0, kSets[part], false, out))
	{
		out.Clear();
		return false;
	}
	return true;
}

bool VURL::_Assemble(bool encoded, bool absolute, VString& out) const
{
	VString texts[eURL_PART_COUNT];
	for (int32 i = 0; i < eURL_PART_COUNT; ++i)
	{
		if (!encoded)
			texts[i] = _PartText(EURLParts(i));
		else if (!_EncodedPartText(EURLParts(i), texts[i]))
		{
			out.Clear();
			return false;
		}
	}
	URLPart parts[eURL_PART_COUNT];
	Join(texts, absolute, out, parts);
	return true;
}

void VURL::GetScheme(VString& out) const
{
	out = _PartText(eURL_SCHEME);
}

void VURL::GetNetworkLocation(VString& out, bool encoded) const
{
	if (encoded)
		_EncodedPartText(eURL_NETWORK_LOCATION, out);
	else
		out = _PartText(eURL_NETWORK_LOCATION);
}

void VURL::GetParameters(VString& out, bool encoded) const
{
	if (encoded)
		_EncodedPartText(eURL_PARAMETERS, out);
	else
		out = _PartText(eURL_PARAMETERS);
}

void VURL::GetQuery(VString& out, bool encoded) const
{
	if (encoded)
		_EncodedPartText(eURL_QUERY, out);
	else
		out = _PartText(eURL_QUERY);
}

void VURL::GetFragment(VString& out, bool encoded) const
{
	if (encoded)
		_EncodedPartText(eURL_FRAGMENT, out);
	else
		out = _PartText(eURL_FRAGMENT);
}

bool VURL::GetPath(VString& out, EURLPathStyle style, bool encoded) const
{
	if (!encoded)
		out = _PartText(eURL_PATH);
	else if (!_EncodedPartText(eURL_PATH, out))
		return false;
	if (style == eURL_WIN_STYLE)
		POSIX_to_WIN(out);
	else if (style == eURL_HFS_STYLE && !POSIX_to_HFS(out, false))
	{
		out.Clear();
		return false;
	}
	return true;
}

void VURL::GetRelativePath(VString& out, EURLPathStyle, bool encoded) const
{
	if (encoded)
		_EncodedPartText(eURL_PATH, out);
	else
		out = _PartText(eURL_PATH);
}

void VURL::GetResourceSpecifier(VString& out, bool encoded) const
{
	out.Clear();
	const URLPart& path = fParts[eURL_PATH];
	if (path.start == 0)
		return;
	if (!encoded)
	{
		const int32 end = path.start - 1 + path.length;
		out.FromUniString(fURL.GetCPointer() + end, fURL.GetLength() - end);
		return;
	}
	const std::pair<EURLParts, UniChar> tail[] = { { eURL_PARAMETERS, u';' }, { eURL_QUERY, u'?' }, { eURL_FRAGMENT, u'#' } };
	for (const auto& [which, delimiter] : tail)
	{
		if (fParts[which].start == 0)
			continue;
		VString text;
		if (!_EncodedPartText(which, text))
		{
			out.Clear();
			return;
		}
		out.AppendUniChar(delimiter);
		out.AppendUniChars(text.GetCPointer(), text.GetLength());
	}
}

void VURL::GetLastPathComponent(VString& out, bool encoded) const
{
	// Encoded once, and only when asked: a second encoding would escape the escapes' own '%'.
	VString path = _PartText(eURL_PATH);
	if (path.GetUniChar(path.GetLength()) == u'/')
		path.Truncate(path.GetLength() - 1, false);
	const int32 slash = path.FindUniChar(u'/', path.GetLength(), true);
	out = path.GetSubString(slash + 1, path.GetLength() - slash);
	if (encoded && !EncodeUnits(out.GetCPointer(), out.GetLength(), ePathInURLSet, false, out))
		out.Clear();
}

void VURL::GetHostName(VString& out, bool encoded) const
{
	ParseNetLocation(_PartText(eURL_NETWORK_LOCATION), nullptr, nullptr, &out, nullptr);
	if (encoded && !Encode(out))
		out.Clear();
}

void VURL::GetUserName(VString& out, bool encoded) const
{
	ParseNetLocation(_PartText(eURL_NETWORK_LOCATION), &out, nullptr, nullptr, nullptr);
	if (encoded && !Encode(out))
		out.Clear();
}

void VURL::GetPassword(VString& out, bool encoded) const
{
	ParseNetLocation(_PartText(eURL_NETWORK_LOCATION), nullptr, &out, nullptr, nullptr);
	if (encoded && !Encode(out))
		out.Clear();
}

void VURL::GetPortNumber(VString& out, bool encoded) const
{
	ParseNetLocation(_PartText(eURL_NETWORK_LOCATION), nullptr, nullptr, nullptr, &out);
	if (encoded && !Encode(out))
		out.Clear();
}

int32 VURL::GetPortNumber() const
{
	VString port;
	GetPortNumber(port, false);
	int32 value = 0;
	for (int32 i = 0; i < port.GetLength(); ++i)
	{
		const UniChar unit = port.GetCPointer()[i];
		if (unit == u' ')
			return -1;
		if (unit >= u'0' && unit <= u'9')
		{
			value = value * 10 + (unit - u'0');
			if (value >= 65537)
				return -1;
		}
	}
	return value;
}

void VURL::GetAbsoluteURL(VString& out, bool encoded) const
{
	// An empty URL stays empty rather than become a bare "://" and '/'.
	if (!encoded || fURL.IsEmpty() || fURL.EqualToUSASCIICString("about:blank"))
		out = fURL;
	else if (!fEncodedURL.IsEmpty())
		out = fEncodedURL;
	else
		_Assemble(true, true, out);
}

void VURL::GetRelativeURL(VString& out, bool encoded) const
{
	// Rebuilt from the parts as they are held: splitting the text again would cut a file's path at a '?'.
	if (!encoded)
		out = fURL;
	else
		_Assemble(true, false, out);
}

bool VURL::GetFilePath(VFilePath& out) const
{
	const VString scheme = _PartText(eURL_SCHEME);
	if ((!scheme.IsEmpty() && scheme.CompareToStringRawCase(VString(u"file")) != CR_EQUAL) || fParts[eURL_PATH].start == 0)
	{
		out.Clear();
		return false;
	}
	VString posix = _PartText(eURL_PATH);
	if (posix.GetUniChar(1) != u'/')
		posix.Insert(u'/', 1);
	out.FromFullPath(posix, FPS_POSIX);
	return out.IsValid();
}

bool VURL::IsScheme(const VString& scheme) const
{
	return _PartText(eURL_SCHEME).EqualToStringRaw(scheme);
}

bool VURL::IsRoot() const
{
	VString path;
	GetRelativePath(path, eURL_POSIX_STYLE, true);
	const int32 slash = path.FindUniChar(u'/');
	return slash == 0 || slash == path.GetLength();
}

bool VURL::_ReplacePart(EURLParts part, const VString& value)
{
	if (!fIsValid)
		return false;
	VString texts[eURL_PART_COUNT];
	for (int32 i = 0; i < eURL_PART_COUNT; ++i)
		texts[i] = (i == part) ? value : _PartText(EURLParts(i));
	// The parts' places come from the joining itself, never from splitting the text again: a value may hold
	// the delimiters of other parts.
	VString text;
	URLPart parts[eURL_PART_COUNT];
	Join(texts, false, text, parts);
	fURL = std::move(text);
	for (int32 i = 0; i < eURL_PART_COUNT; ++i)
		fParts[i] = parts[i];
	fEncodedURL.Clear();
	fIsValid = SchemeMakesValid(texts[eURL_SCHEME]);
	return true;
}

bool VURL::_ReplaceDecodedPart(EURLParts part, const VString& value, bool encoded)
{
	if (!encoded)
		return _ReplacePart(part, value);
	VString decoded(value);
	return Decode(decoded) && _ReplacePart(part, decoded);
}

bool VURL::SetScheme(const VString& scheme)
{
	return _ReplacePart(eURL_SCHEME, scheme);
}

bool VURL::SetNetWorkLocation(const VString& netloc, bool encoded)
{
	return _ReplaceDecodedPart(eURL_NETWORK_LOCATION, netloc, encoded);
}

bool VURL::SetParameters(const VString& parameters, bool encoded)
{
	return _ReplaceDecodedPart(eURL_PARAMETERS, parameters, encoded);
}

bool VURL::SetQuery(const VString& query, bool encoded)
{
	return _ReplaceDecodedPart(eURL_QUERY, query, encoded);
}

bool VURL::SetFragment(const VString& fragment, bool encoded)
{
	return _ReplaceDecodedPart(eURL_FRAGMENT, fragment, encoded);
}

bool VURL::SetRelativePath(const VString& path, EURLPathStyle style, bool encoded)
{
	VString text(path);
	if (encoded && !Decode(text))
		return false;
	if (style == eURL_WIN_STYLE)
		WIN_to_POSIX(text);
	else if (style == eURL_HFS_STYLE)
		HFS_to_POSIX(text, true);
	return _ReplacePart(eURL_PATH, text);
}

bool VURL::ToParent()
{
	if (IsRoot())
		return false;
	VString path = _PartText(eURL_PATH);
	if (path.GetUniChar(path.GetLength()) == u'/')
		path.Truncate(path.GetLength() - 1, false);
	const int32 slash = path.FindUniChar(u'/', path.GetLength(), true);
	if (slash == 0)
		return false;
	path.Truncate(slash, false);
	return SetRelativePath(path, eURL_POSIX_STYLE, false);
}

VURL* VURL::RetainParent() const
{
	VURL* parent = new (std::nothrow) VURL(*this);
	if (parent != nullptr && !parent->ToParent())
	{
		delete parent;
		parent = nullptr;
	}
	return parent;
}

bool VURL::ToSubFolder(const VString& name)
{
	VString path = _PartText(eURL_PATH);
	if (path.IsEmpty() || path.GetUniChar(path.GetLength()) != u'/')
		return false;
	path.AppendUniChars(name.GetCPointer(), name.GetLength());
	return SetRelativePath(path, eURL_POSIX_STYLE, false);
}

void VURL::_RemoveLastPathComponent()
{
	VString path = _PartText(eURL_PATH);
	if (path.GetUniChar(path.GetLength()) == u'/')
		return;
	const int32 slash = path.FindUniChar(u'/', path.GetLength(), true);
	if (slash == 0)
		path = VString(u'/');
	else
		path.Truncate(slash, false);
	_ReplacePart(eURL_PATH, path);
}

bool VURL::Encode(VString& text, bool, bool, bool pathSet, bool keepUnicodeEscapes)
{
	if (text.IsEmpty())
		return true;
	return EncodeUnits(text.GetCPointer(), text.GetLength(), pathSet ? ePathSet : eNetworkLocationSet, keepUnicodeEscapes, text);
}

bool VURL::Decode(VString& text)
{
	if (text.FindUniChar(u'%') == 0)
		return true;
	return DecodeUnits(text.GetCPointer(), text.GetLength(), text);
}

bool VURL::Convert(VString& text, EURLPathStyle from, EURLPathStyle to, bool relative)
{
	return VFilePath::_ConvertPathText(text, from, to, relative);
}

bool VURL::HFS_to_POSIX(VString& text, bool relative)
{
	return Convert(text, eURL_HFS_STYLE, eURL_POSIX_STYLE, relative);
}

bool VURL::POSIX_to_HFS(VString& text, bool relative)
{
	return Convert(text, eURL_POSIX_STYLE, eURL_HFS_STYLE, relative);
}

void VURL::WIN_to_POSIX(VString& text)
{
	Convert(text, eURL_WIN_STYLE, eURL_POSIX_STYLE, false);
}

void VURL::POSIX_to_WIN(VString& text)
{
	Convert(text, eURL_POSIX_STYLE, eURL_WIN_STYLE, false);
}

void VURL::ParseNetLocation(const VString& netloc, VString* user, VString* password, VString* host, VString* port)
{
	const UniChar* units = netloc.GetCPointer();
	const int32 count = netloc.GetLength();
	const int32 at = IndexOf(units, count, 0, u'@');
	VString userPart;
	VString passwordPart;
	if (at >= 0)
	{
		const int32 colon = IndexOf(units, at, 0, u':');
		userPart.FromUniString(units, (colon < 0) ? at : colon);
		if (colon >= 0)
			passwordPart.FromUniString(units + colon + 1, at - colon - 1);
	}
	const int32 begin = at + 1;
	VString hostPart;
	VString portPart;
	if (begin < count && units[begin] == u'[')
	{
		const int32 close = IndexOf(units, count, begin, u']');
		if (close >= 0)
		{
			hostPart.FromUniString(units + begin + 1, close - begin - 1);
			const int32 colon = IndexOf(units, count, close, u':');
			if (colon >= 0)
				portPart.FromUniString(units + colon + 1, count - colon - 1);
		}
	}
	else
	{
		int32 colon = count - 1;
		while (colon >= begin && units[colon] != u':')
			--colon;
		if (colon < begin)
			hostPart.FromUniString(units + begin, count - begin);
		else
		{
			hostPart.FromUniString(units + begin, colon - begin);
			portPart.FromUniString(units + colon + 1, count - colon - 1);
		}
	}
	if (user != nullptr)
		*user = std::move(userPart);
	if (password != nullptr)
		*password = std::move(passwordPart);
	if (host != nullptr)
		*host = std::move(hostPart);
	if (port != nullptr)
		*port = std::move(portPart);
}

}  // namespace velk
