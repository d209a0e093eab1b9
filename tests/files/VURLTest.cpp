// URLs: the split into six parts, percent encoding and decoding as strict UTF-8, network locations and
// ports, file paths through "file" URLs and back with every unit of their names, setters that change only
// their own part, and URLs made against a base.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "files/VFilePath.h"
#include "files/VURL.h"
#include "kernel/strings/VString.h"

namespace velk {
namespace {

VString Text(const std::u16string& units)
{
	return VString(units.data(), int32(units.size()));
}

std::u16string Units(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

struct Parts
{
	std::u16string scheme, network, path, parameters, query, fragment;
	bool operator==(const Parts&) const = default;
};

Parts PartsOf(const VURL& url)
{
	VString scheme, network, path, parameters, query, fragment;
	url.GetScheme(scheme);
	url.GetNetworkLocation(network, false);
	url.GetRelativePath(path, eURL_POSIX_STYLE, false);
	url.GetParameters(parameters, false);
	url.GetQuery(query, false);
	url.GetFragment(fragment, false);
	return { Units(scheme), Units(network), Units(path), Units(parameters), Units(query), Units(fragment) };
}

std::u16string AbsoluteEncoded(const VURL& url)
{
	VString text;
	url.GetAbsoluteURL(text, true);
	return Units(text);
}

std::u16string NativeOf(const VFilePath& path)
{
	VString text;
	path.GetPath(text);
	return Units(text);
}

TEST(VURLTest, TextsSplitIntoPartsAndEncodeBackInTheirOrder)
{
	struct Row
	{
		std::u16string text;
		bool encoded;
		bool valid;
		Parts parts;
		std::u16string absolute;  // encoded absolute URL
	};
	const std::vector<Row> rows = {
		{ u"web://server/a/b;p?q=1#f", false, true, { u"web", u"server", u"a/b", u"p", u"q=1", u"f" }, u"web://server/a/b;p?q=1#f" },
		{ u"web://server", false, false, { u"web", u"server", u"", u"", u"", u"" }, u"web://server/" },
		{ u"web://server?x", false, true, { u"web", u"server", u"", u"", u"x", u"" }, u"web://server/?x" },
		{ u"news:someone", false, false, { u"", u"", u"news:someone", u"", u"", u"" }, u":///news:someone" },
		{ u"", false, true, {}, u"" },
		// A delimiter inside a later part stays in it.
		{ u"web://s/p?x=1;y=2", false, true, { u"web", u"s", u"p", u"", u"x=1;y=2", u"" }, u"web://s/p?x=1;y=2" },
		{ u"web://s/p#f?x;y", false, true, { u"web", u"s", u"p", u"", u"", u"f?x;y" }, u"web://s/p#f?x;y" },
		{ u"web://s?a=/b", false, true, { u"web", u"s", u"", u"", u"a=/b", u"" }, u"web://s/?a=/b" },
		// Given encoded: parts decoded; a safe text is handed back as given, another one rebuilt.
		{ u"web://s/a%20b;%3F?q%3D%23#f%25", true, true, { u"web", u"s", u"a b", u"?", u"q=#", u"f%" }, u"web://s/a%20b;%3F?q%3D%23#f%25" },
		{ u"web://s/a b?x y", true, true, { u"web", u"s", u"a b", u"", u"x y", u"" }, u"web://s/a%20b?x%20y" },
		{ u"web://me@[::1]:80/%C3%A9", true, true, { u"web", u"me@[::1]:80", u"\u00E9", u"", u"", u"" }, u"web://me@[::1]:80/%C3%A9" },
		{ u"about:blank", true, false, { u"", u"", u"about:blank", u"", u"", u"" }, u"about:blank" },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(to_string(Text(row.text)));
		const VURL url(Text(row.text), row.encoded);
		EXPECT_EQ(url.IsValid(), row.valid);
		EXPECT_EQ(PartsOf(url), row.parts);
		EXPECT_EQ(AbsoluteEncoded(url), row.absolute);
		// The encoded relative URL parses back to the same parts.
		VString relative;
		url.GetRelativeURL(relative, true);
		if (row.valid && !row.text.empty())
		{
			EXPECT_EQ(PartsOf(VURL(relative, true)), row.parts);
		}
	}
}

TEST(VURLTest, PercentEncodingIsUTF8BothWaysAndLatin1WhereNot)
{
	struct Row
	{
		std::u16string text;
		std::u16string decoded;
	};
	// A run of escapes that is not strict UTF-8 is ISO-8859-1, byte for byte.
	const std::vector<Row> decodeRows = {
		{ u"%C3%A9", u"\u00E9" },
		{ u"%41%42c", u"ABc" },
		{ u"100%", u"100%" },
		{ u"a%zzb%4", u"a%zzb%4" },
		{ u"%F0%9F%98%80", u"\U0001F600" },
		{ u"caf%E9", u"caf\u00E9" },
		{ u"%e9t%C3%A9", u"\u00E9t\u00E9" },
		{ u"%C0%AF", u"\u00C0\u00AF" },
		{ u"%ED%A0%80", u"\u00ED\u00A0\u0080" },
		{ u"%C3", u"\u00C3" },
		{ u"%C3%A9%E9", u"\u00C3\u00A9\u00E9" },
	};
	for (const Row& row : decodeRows)
	{
		SCOPED_TRACE(to_string(Text(row.text)));
		VString text = Text(row.text);
		EXPECT_TRUE(VURL::Decode(text));
		EXPECT_EQ(Units(text), row.decoded);
	}

	struct EncodeRow
	{
		std::u16string text;
		bool pathSet;
		bool keepUnicodeEscapes;
		bool encodes;
		std::u16string encoded;
	};
	const std::vector<EncodeRow> encodeRows = {
		{ u"a b#%\"<>^`{|}", true, false, true, u"a%20b%23%25%22%3C%3E%5E%60%7B%7C%7D" },
		{ u"[x]:/?;@", true, false, true, u"%5Bx%5D:/?;@" },
		{ u"[x]", false, false, true, u"[x]" },
		{ u"\u00E9e\u0301", true, false, true, u"%C3%A9e%CC%81" },
		{ u"a\rb\n", true, false, true, u"a%0Db%0A" },
		{ u"\\u00e9\\x", true, true, true, u"\\u00e9%5Cx" },
		{ u"\\u00e9", true, false, true, u"%5Cu00e9" },
		{ u"a\xD800", true, false, false, u"a\xD800" },
	};
	for (const EncodeRow& row : encodeRows)
	{
		SCOPED_TRACE(to_string(Text(row.text)));
		VString text = Text(row.text);
		EXPECT_EQ(VURL::Encode(text, true, false, row.pathSet, row.keepUnicodeEscapes), row.encodes);
		EXPECT_EQ(Units(text), row.encoded);
		if (row.encodes)
		{
			EXPECT_TRUE(VURL::Decode(text));
			EXPECT_EQ(Units(text), row.text);
		}
	}
}

TEST(VURLTest, NetworkLocationsSplitIntoUserPasswordHostAndPort)
{
	struct Row
	{
		std::u16string netloc;
		std::u16string user, password, host, port;
		int32 portNumber;
	};
	const std::vector<Row> rows = {
		{ u"server:8080", u"", u"", u"server", u"8080", 8080 },
		{ u"server:99999", u"", u"", u"server", u"99999", -1 },
		{ u"server:65536", u"", u"", u"server", u"65536", 65536 },
		{ u"server", u"", u"", u"server", u"", 0 },
		{ u"[::1]:80", u"", u"", u"::1", u"80", 80 },
		{ u"me:pw@host:21", u"me", u"pw", u"host", u"21", 21 },
		{ u"me@a:b:7x", u"me", u"", u"a:b", u"7x", 7 },
		{ u"[::1", u"", u"", u"", u"", 0 },
		{ u"h:1 2", u"", u"", u"h", u"1 2", -1 },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(to_string(Text(row.netloc)));
		VString user, password, host, port;
		VURL::ParseNetLocation(Text(row.netloc), &user, &password, &host, &port);
		EXPECT_EQ(Units(user), row.user);
		EXPECT_EQ(Units(password), row.password);
		EXPECT_EQ(Units(host), row.host);
		EXPECT_EQ(Units(port), row.port);
		const VURL url(VString(u"web://") + Text(row.netloc) + VString(u"/"), false);
		EXPECT_EQ(url.GetPortNumber(), row.portNumber);
	}
}

TEST(VURLTest, FilePathsComeBackFromTheirURLsWithEveryUnitOfTheirNames)
{
	EXPECT_EQ(Units(VString(u"file:///tmp/a b")), [] {
		VString text;
		VURL(VFilePath(VString(u"/tmp/a b"), FPS_POSIX)).GetAbsoluteURL(text, false);
		return Units(text);
	}());

	const std::vector<std::u16string> names = {
		u"a:b", u"a b", u"a#b", u"a?b", u"a;b", u"100%", u"%41", u"caf\u00E9", u"cafe\u0301", u"a\rb", u"[x]", u"\U0001F600",
	};
	std::vector<std::u16string> encodedURLs;
	for (const std::u16string& name : names)
	{
		for (const std::u16string& posix : { u"/tmp/" + name, u"/tmp/" + name + u"/", u"/" + name + u"/f" })
		{
			SCOPED_TRACE(to_string(Text(posix)));
			const VFilePath path(Text(posix), FPS_POSIX);
			ASSERT_TRUE(path.IsValid());
			const VURL url(path);
			EXPECT_TRUE(url.IsValid());
			VFilePath back;
			EXPECT_TRUE(url.GetFilePath(back));
			EXPECT_EQ(NativeOf(back), NativeOf(path));

			const std::u16string encoded = AbsoluteEncoded(url);
			// Nothing in the written path can end it or be read as another part.
			EXPECT_EQ(encoded.find_first_of(u" #?;[\r"), std::u16string::npos) << to_string(Text(encoded));
			const VURL parsed(Text(encoded), true);
			EXPECT_EQ(PartsOf(parsed), PartsOf(url));
			VFilePath reread;
			EXPECT_TRUE(parsed.GetFilePath(reread));
			EXPECT_EQ(NativeOf(reread), NativeOf(path));
			encodedURLs.push_back(encoded);
		}
	}
	// Composed and decomposed names are other files: their URLs differ.
	EXPECT_NE(encodedURLs[7 * 3], encodedURLs[8 * 3]);

	// Escapes that are not UTF-8 are ISO-8859-1: an overlong '/' stays two characters of a name.
	const std::pair<const char16_t*, const char16_t*> latin1[] = {
		{ u"file:///tmp/caf%E9", u"Root:tmp:caf\u00E9" },
		{ u"file:///tmp/%FF%FE", u"Root:tmp:\u00FF\u00FE" },
		{ u"file:///tmp/%C0%AF", u"Root:tmp:\u00C0\u00AF" },
	};
	for (const auto& [text, native] : latin1)
	{
		SCOPED_TRACE(to_string(VString(text)));
		const VURL url(VString(text), true);
		EXPECT_TRUE(url.IsValid());
		VFilePath path;
		EXPECT_TRUE(url.GetFilePath(path));
		EXPECT_EQ(NativeOf(path), native);
	}
	VFilePath path;
	EXPECT_FALSE(VURL().GetFilePath(path));
	EXPECT_FALSE(VURL(VString(u"web://s/tmp/a"), false).GetFilePath(path));
	EXPECT_TRUE(VURL(VString(u"FILE:///tmp/a"), false).GetFilePath(path));
	EXPECT_EQ(NativeOf(path), u"Root:tmp:a");
}

TEST(VURLTest, SettersChangeOnlyTheirOwnPart)
{
	VURL url(VFilePath(VString(u"/tmp/a?b;c"), FPS_POSIX));
	ASSERT_EQ(PartsOf(url), (Parts{ u"file", u"", u"tmp/a?b;c", u"", u"", u"" }));

	EXPECT_TRUE(url.SetQuery(VString(u"x#y"), false));
	EXPECT_TRUE(url.SetFragment(VString(u"f%3Fg"), true));
	EXPECT_TRUE(url.SetNetWorkLocation(VString(u"host"), false));
	const Parts expected{ u"file", u"host", u"tmp/a?b;c", u"", u"x#y", u"f?g" };
	EXPECT_EQ(PartsOf(url), expected);
	EXPECT_TRUE(url.IsValid());
	EXPECT_EQ(AbsoluteEncoded(url), u"file://host/tmp/a%3Fb%3Bc?x%23y#f?g");
	EXPECT_EQ(PartsOf(VURL(Text(AbsoluteEncoded(url)), true)), expected);

	// A value whose escapes are not UTF-8 is read as ISO-8859-1; an invalid URL changes nothing.
	EXPECT_TRUE(url.SetQuery(VString(u"%E9"), true));
	EXPECT_EQ(PartsOf(url).query, u"\u00E9");
	EXPECT_TRUE(url.SetQuery(VString(u"x#y"), false));
	EXPECT_EQ(PartsOf(url), expected);
	VURL invalid(VString(u"news:someone"), false);
	EXPECT_FALSE(invalid.SetQuery(VString(u"q"), false));
	EXPECT_EQ(PartsOf(invalid).path, u"news:someone");

	VString path;
	EXPECT_TRUE(url.SetRelativePath(VString(u"d:e:"), eURL_HFS_STYLE, false));
	EXPECT_TRUE(url.GetPath(path, eURL_WIN_STYLE, false));
	EXPECT_EQ(Units(path), u"d\\e\\");
	EXPECT_TRUE(url.GetPath(path, eURL_HFS_STYLE, false));
	EXPECT_EQ(Units(path), u"d:e:");
	EXPECT_FALSE(url.IsRoot());
	EXPECT_TRUE(url.ToSubFolder(VString(u"f g")));
	url.GetLastPathComponent(path, true);
	EXPECT_EQ(Units(path), u"f%20g");
	EXPECT_FALSE(url.ToSubFolder(VString(u"h")));

	const std::unique_ptr<VURL> parent(url.RetainParent());
	ASSERT_NE(parent, nullptr);
	EXPECT_EQ(PartsOf(*parent).path, u"d/e/");
	EXPECT_EQ(PartsOf(*parent).query, u"x#y");
	EXPECT_TRUE(parent->ToParent());
	EXPECT_EQ(PartsOf(*parent).path, u"d/");
	EXPECT_TRUE(parent->IsRoot());
	EXPECT_FALSE(parent->ToParent());
	EXPECT_EQ(parent->RetainParent(), nullptr);
}

TEST(VURLTest, RelativeURLsJoinTheirBase)
{
	struct Row
	{
		std::u16string url;
		std::u16string base;
		bool encoded;
		std::u16string absolute;  // encoded
		Parts parts;
	};
	const std::vector<Row> rows = {
		{ u"x/y", u"web://s/base", false, u"web://s/base/x/y", { u"web", u"s", u"base/x/y", u"", u"", u"" } },
		{ u"/x?q", u"web://s", false, u"web://s/x?q", { u"web", u"s", u"x", u"", u"q", u"" } },
		{ u"a%20b", u"web://s", true, u"web://s/a%20b", { u"web", u"s", u"a b", u"", u"", u"" } },
		{ u"other://t/z", u"web://s", false, u"other://t/z", { u"other", u"t", u"z", u"", u"", u"" } },
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(to_string(Text(row.url)));
		VURL url;
		url.FromString(Text(row.url), Text(row.base), row.encoded);
		EXPECT_EQ(AbsoluteEncoded(url), row.absolute);
		EXPECT_EQ(PartsOf(url), row.parts);
	}

	struct PathRow
	{
		std::u16string path;
		EURLPathStyle style;
		std::u16string native;  // of the file path
	};
	const std::vector<PathRow> pathRows = {
		{ u"a:b", eURL_HFS_STYLE, u"Root:tmp:a:b" },
		{ u"a::b?", eURL_HFS_STYLE, u"Root:tmp:b?" },
		{ u"a\\b#", eURL_WIN_STYLE, u"Root:tmp:a:b#" },
		{ u"/a;b", eURL_POSIX_STYLE, u"Root:tmp:a;b" },
	};
	for (const PathRow& row : pathRows)
	{
		SCOPED_TRACE(to_string(Text(row.path)));
		const VURL url(Text(row.path), row.style, VString(u"file:///tmp"));
		VFilePath path;
		EXPECT_TRUE(url.GetFilePath(path));
		EXPECT_EQ(NativeOf(path), row.native);
	}
}

}  // namespace
}  // namespace velk
