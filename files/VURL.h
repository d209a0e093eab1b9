// One URL as text together with the positions of its six parts (scheme, network location, path, parameters,
// query, fragment), so that parts can be read, replaced and re-encoded without parsing by hand; "file" URLs
// to and from file paths, percent encoding, and the path-text conversions between the URL path styles.
#pragma once

#include "kernel/VExport.h"

#include "files/VFilePath.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"

namespace velk {

class VFolder;

// A part's place in the URL text: 1-based start (0 when the part is absent) and length in UTF-16 units.
struct URLPart
{
	int32 start = 0;
	int32 length = 0;
};

enum EURLParts : int32
{
	eURL_SCHEME = 0,
	eURL_NETWORK_LOCATION = 1,
	eURL_PATH = 2,
	eURL_PARAMETERS = 3,
	eURL_QUERY = 4,
	eURL_FRAGMENT = 5,
	eURL_PART_COUNT = 6
};

class VELK_API VURL : public VObject
{
public:
	// Empty, invalid, all parts absent.
	VURL();
	VURL(const VString& url, bool encoded);
	explicit VURL(const VFilePath& path);
	VURL(const VString& path, EURLPathStyle style, const VString& base);
	VURL(const VFolder& folder, const VString& relativePath, EURLPathStyle style);
	VURL(const VURL& other);
	VURL& operator=(const VURL& other) { return FromURL(other); }
	~VURL() override;

	// The text split into its parts. With encoded, the parts are percent-decoded in place and the text, when
	// made only of URL-safe characters, is kept to be handed back as the encoded URL. An escape run that is
	// not strict UTF-8 names nothing this system can hold: the URL is then cleared and invalid.
	VURL& FromString(const VString& url, bool encoded);
	// The same for a url without "://" put behind a non-empty base (a '/' between them).
	VURL& FromString(const VString& url, const VString& base, bool encoded);
	// "file://" + the path's POSIX form; ';', '?' and '#' stay in the path. An invalid path gives an empty,
	// invalid URL.
	VURL& FromFilePath(const VFilePath& path);
	// base + a path text in the given style (a native one converted as a relative text); ';', '?' and '#'
	// stay in the path.
	VURL& FromFilePath(const VString& path, EURLPathStyle style, const VString& base);
	// The "file" URL of the path relative to the folder (a Windows text's '\' read as '/'); an invalid
	// result gives an empty, invalid URL.
	VURL& FromRelativePath(const VFolder& folder, const VString& relativePath, EURLPathStyle style);
	VURL& FromURL(const VURL& other);
	// Both texts emptied, invalid, parts absent.
	void Clear();
	// Splits the text again (';', '?' and '#' left in the path when isFilePath); answers the validity.
	bool _Parse(bool isFilePath);

	// Each part accessor gives the part's text, empty when the part is absent. With encoded it is
	// percent-encoded so that it can be written back into a URL text unchanged in meaning; text that has no
	// UTF-8 form (an unpaired surrogate) then gives an empty result.
	void GetScheme(VString& out) const;
	void GetNetworkLocation(VString& out, bool encoded) const;
	void GetParameters(VString& out, bool encoded) const;
	void GetQuery(VString& out, bool encoded) const;
	void GetFragment(VString& out, bool encoded) const;
	// The path part (without the '/' before it), optionally encoded, then in the style asked for: '\'
	// separated, or native through the full POSIX-to-native conversion. False, out empty, when it cannot be
	// encoded or converted.
	bool GetPath(VString& out, EURLPathStyle style, bool encoded) const;
	// The path part, optionally encoded; no style applied.
	void GetRelativePath(VString& out, EURLPathStyle style, bool encoded) const;
	// Parameters, query and fragment with their delimiters; empty when nothing follows the path.
	void GetResourceSpecifier(VString& out, bool encoded) const;
	// The path's last name (a trailing '/' ignored), encoded only when asked.
	void GetLastPathComponent(VString& out, bool encoded) const;
	// Pieces of the network location (ParseNetLocation).
	void GetHostName(VString& out, bool encoded) const;
	void GetUserName(VString& out, bool encoded) const;
	void GetPassword(VString& out, bool encoded) const;
	void GetPortNumber(VString& out, bool encoded) const;
	// The port's decimal digits (other units but space skipped); -1 for a space or a value reaching 65537,
	// 0 without a port.
	int32 GetPortNumber() const;
	// Without encoded the text. With it, "about:blank" as it is, the given encoded text when one was kept,
	// else the URL rebuilt from its encoded parts (empty when a part cannot be encoded).
	void GetAbsoluteURL(VString& out, bool encoded) const;
	// Without encoded the text; with it the URL rebuilt from its encoded parts, an empty scheme or network
	// location left out with its delimiter.
	void GetRelativeURL(VString& out, bool encoded) const;
	// The path of a "file" URL (or one without scheme): its path part as a full POSIX path. False, out
	// cleared, for another scheme or a URL without a path part (an empty URL names no file); otherwise out's
	// validity.
	bool GetFilePath(VFilePath& out) const;
	// The scheme equals the text unit for unit.
	bool IsScheme(const VString& scheme) const;
	// The path holds no '/' but a last one.
	bool IsRoot() const;
	bool IsValid() const { return fIsValid; }

	// Setters replace their own part only: the other parts, and whatever delimiters the new value holds,
	// keep their places. A value given encoded is decoded first. Nothing changes, false, on an invalid URL
	// or when the value does not decode (an escape run that is not strict UTF-8).
	bool SetScheme(const VString& scheme);
	bool SetNetWorkLocation(const VString& netloc, bool encoded);
	bool SetParameters(const VString& parameters, bool encoded);
	bool SetQuery(const VString& query, bool encoded);
	bool SetFragment(const VString& fragment, bool encoded);
	// The path part from a text in the given style (a native one converted as a relative text).
	bool SetRelativePath(const VString& path, EURLPathStyle style, bool encoded);
	// The path cut after its last '/' but a trailing one; false for a root or a path without '/'.
	bool ToParent();
	// A new copy moved to its parent, for the caller to delete; null when there is none.
	VURL* RetainParent() const;
	// Appends name to a non-empty path ending with '/'; false otherwise.
	bool ToSubFolder(const VString& name);
	// A path not ending with '/' is cut after its last '/' (becomes "/" without one).
	void _RemoveLastPathComponent();

	// Percent-encodes the text's UTF-8 bytes in place: the control bytes, 0x7F, every byte of 0x80 and above,
	// and space " # % < > [ \ ] ^ ` { | } (the network-location set keeps '[' and ']'). With
	// keepUnicodeEscapes a '\' before 'u' stays. Bytes pass as they are, line ends included, and decompose
	// changes nothing: names are bytes on disk, and another normalization would name another file. False,
	// text unchanged, when the text holds an unpaired surrogate.
	static bool Encode(VString& text, bool unused = true, bool decompose = false, bool pathSet = true, bool keepUnicodeEscapes = false);
	// Decodes "%XX" escapes in place, each run of them read as strict UTF-8 ("%C3%A9" is U+00E9), or as
	// ISO-8859-1 byte for byte when it is not ("%E9" is U+00E9 too; overlong forms and surrogates are
	// never read as UTF-8); a '%' not followed by two hexadecimal digits is kept as it is.
	static bool Decode(VString& text);
	// The path-text conversions between the URL path styles; false, text unchanged, when a full text cannot
	// be converted.
	static bool Convert(VString& text, EURLPathStyle from, EURLPathStyle to, bool relative);
	static bool HFS_to_POSIX(VString& text, bool relative);
	static bool POSIX_to_HFS(VString& text, bool relative);
	static void WIN_to_POSIX(VString& text);
	static void POSIX_to_WIN(VString& text);
	// user:password@host:port, "[v6 host]:port" kept whole; each output may be null.
	static void ParseNetLocation(const VString& netloc, VString* user, VString* password, VString* host, VString* port);

private:
	VString _PartText(EURLParts part) const;
	// The part encoded so that a URL text holding it parses back to the same part.
	bool _EncodedPartText(EURLParts part, VString& out) const;
	// Every part's text encoded (or not), joined in the absolute or relative form.
	bool _Assemble(bool encoded, bool absolute, VString& out) const;
	bool _ReplacePart(EURLParts part, const VString& value);
	bool _ReplaceDecodedPart(EURLParts part, const VString& value, bool encoded);
	// Decodes every non-empty part in place, moving the later parts.
	bool _DecodeParts();

	URLPart fParts[eURL_PART_COUNT];
	VString fURL;
	VString fEncodedURL;
	bool fIsValid = false;
};

}  // namespace velk
