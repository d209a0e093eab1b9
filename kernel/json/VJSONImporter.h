// Reads JSON text into a VJSONValue, or straight into a value bag. Lenient by default (bare words are
// strings, a string may run to the end of the text), strict on request; malformed text is reported on the
// task's error stack with the line and position of the offending token.
#pragma once

#include "kernel/VExport.h"

#include <memory>
#include <vector>

#include "kernel/json/VJSONPropertyTable.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class IFile;
class VJSONObject;
class VValueBag;

// Malformed text: pushed after each error below (and after velk 108 for nesting too deep), and returned.
// Parameters "source" (the source name and ", ", or empty), "line" and "position" (both from 1).
constexpr VError VE_JSON_MALFORMED = MakeVError(kVELK_SIGNATURE, 550);
// An unexpected token: "found" (its text) and "expected".
constexpr VError VE_JSON_INVALID_TOKEN = MakeVError(kVELK_SIGNATURE, 551);
// A string still open at the end of the text (strict only): "token".
constexpr VError VE_JSON_UNTERMINATED = MakeVError(kVELK_SIGNATURE, 552);
// A comma just before "}" or "]": "token".
constexpr VError VE_JSON_EXTRA_COMMA = MakeVError(kVELK_SIGNATURE, 553);
// The text ended where a token was expected: "found" (empty) and "expected".
constexpr VError VE_JSON_UNEXPECTED_END = MakeVError(kVELK_SIGNATURE, 554);

class VELK_API VJSONImporter : public VObject
{
public:
	enum JsonToken : uint32
	{
		jsonNone = 0,  // end of the text
		jsonBeginObject = 1,
		jsonEndObject = 2,
		jsonBeginArray = 3,
		jsonEndArray = 4,
		jsonSeparator = 5,
		jsonAssigne = 6,
		jsonString = 7,  // a quoted string or a bare word
		jsonBang = 8     // named in error texts only; never read
	};

	// Option bits.
	static constexpr uint32 kUndefinedOnError = 1;  // a failed value is undefined, not what was built
	static constexpr uint32 kStrict = 2;            // no bare words but true/false/null/numbers, no open strings, quoted names
	static constexpr uint32 kSilent = 4;            // 551 and 554 (and their 550) are not reported; 550 still returned
	static constexpr uint32 kPathsAndLines = 8;     // record where each property and element stood
	static constexpr uint32 kBangDates = 64;        // "!!date!!" texts become dates
	static constexpr uint32 kISODates = 128;        // ISO date texts become dates
	static constexpr uint32 kShared = 256;          // every container built shares one storage locker
	static constexpr uint32 kNonAmbiguousDates = 512;

	// Containers nested deeper than this, or met with less than kJSONMinFreeStack of the task's stack left,
	// are refused (velk 108, then 550), so that no text can exhaust the stack, whatever task parses it.
	static constexpr uint32 kMaxNestingDepth = kJSONMaxNestingDepth;

	VJSONImporter(const VString& text, uint32 options);
	~VJSONImporter() override;

	VJSONImporter(const VJSONImporter&) = delete;
	VJSONImporter& operator=(const VJSONImporter&) = delete;

	// Reads one value from the text (what follows it is not looked at). Answers 0, velk 550 for malformed
	// text (the errors above pushed), or velk 100 / 107 when memory ran out. On failure out holds what was
	// built so far, or undefined under kUndefinedOnError.
	VError Parse(VJSONValue& out);
	static VError ParseString(const VString& text, VJSONValue& out, uint32 options);
	// A null file gives undefined and 0. The file is read as UTF-8 (a byte-order mark wins) with its line
	// ends kept; a reading error is returned as the file reported it. The file's path names the source.
	static VError ParseFile(IFile* file, VJSONValue& out, uint32 options);

	// The text must hold an object; its properties go into the bag without building JSON values: objects
	// become elements (marked by the attribute "____objectunic"), arrays lists of elements (an element that
	// is not an object holds its value in "____FakeArrayElement"; an array directly inside an array is an
	// invalid token), other values attributes. Integer words become 64-bit integers; words with a point or
	// an exponent, or beyond 64 bits, reals. Errors as Parse; the bag keeps what was read before one.
	VError JSONObjectToBag(VValueBag& bag);

	// Under kPathsAndLines: for each property and element path, {"line": n, "offset": units into the line}
	// and under "}" where the outermost object closed. Null without the option; not retained.
	VJSONObject* GetPathsLines() const { return fPathsLines; }
	// Under kPathsAndLines, records under "}" {"line": the current line, "offset": units from the line's
	// start to the cursor - 1}: where the closing brace of the outermost object was read when called after
	// it. Parse calls it when the value read is an object. Nothing without the option.
	void SetPathLineForEncompasingObject();
	void SetSourceName(const VString& name) { fSourceName = name; }

	// The next token; text gets a string's decoded units or a bare word. error receives 0, velk 550 (an
	// unterminated string under kStrict, reported) or velk 107.
	JsonToken GetNextJSONToken(VString& text, bool* isString, uint64* error);
	JsonToken GetNextJSONToken(uint64* error);

	// The text used for a token in error reports; empty for 0 and for numbers beyond the table.
	static VString _TokenToString(uint32 token);

	static const VString sNameOfThePropertyWithPathsAndLines;  // "__symbols"
	static const VString sLineKey;                             // "line"
	static const VString sOffsetKey;                           // "offset"
	static const VString sFakeArrayElementKey;                 // "____FakeArrayElement"

private:
	// What error reports say was expected instead of the token found.
	static constexpr const char* kExpectedValue = "\" 0-9 null true false { [";
	static constexpr const char* kExpectedElement = "\" 0-9 null true false { [ ]";
	static constexpr const char* kExpectedNumber = "+- 0-9 eE";

	// Saves the current path and puts it back when the property or element is done.
	class StPathUpdater
	{
	public:
		// Paths are kept only under kPathsAndLines; otherwise there is nothing to save.
		explicit StPathUpdater(VJSONImporter& importer) : fImporter(importer), fActive(importer.fPathsLines != nullptr)
		{
			if (fActive)
				fSaved = importer.fCurrentPath;
		}
		~StPathUpdater()
		{
			if (fActive)
				fImporter.fCurrentPath = fSaved;
		}
		StPathUpdater(const StPathUpdater&) = delete;
		StPathUpdater& operator=(const StPathUpdater&) = delete;

	private:
		VJSONImporter& fImporter;
		const bool fActive;
		VString fSaved;
	};

	// The units of a bare word, left in the text rather than copied, and the value of a number word.
	struct Word
	{
		const UniChar* fBegin = nullptr;
		const UniChar* fEnd = nullptr;
		bool fIsNumber = false;
		double fNumber = 0.0;
	};

	UniChar _GetNextChar(bool& atEnd);
	// With word, a bare word, or a quoted string without escapes, NULs or line ends, is described there and
	// text is left empty; any other string goes to text (word.fBegin then stays null).
	JsonToken _ScanToken(VString* text, bool* isString, Word* word = nullptr);
	// The next token, with a shortcut for punctuation right at the cursor; text receives a word or string
	// met instead.
	JsonToken _NextPunctuation(VString* text = nullptr);
	bool _ScanString(VString* text);
	bool _Append(VString* text, const UniChar* units, int32 count);

	void _ParseValue(VJSONValue& out, uint32 parentDepth);
	void _ParseObject(VJSONValue& out, uint32 depth);
	// The properties of an object up to its "}" or the first error: into gathered when given, else stored
	// in the object one by one.
	void _ReadProperties(VJSONObject* object, std::vector<VJSONPropertyTable::Entry>* gathered, uint32 depth);
	void _ParseArray(VJSONValue& out, uint32 depth);
	// The elements of an array up to its "]" or the first error.
	void _ReadElements(std::vector<VJSONValue>& elements, uint32 depth);
	// A quoted text: a date when the date options recognise it and its text reads as a time, else a string.
	void _QuotedToValue(const VString& text, VJSONValue& out) const;
	// The same for a quoted token read with a word: its units in the text, or else in text.
	void _QuotedTokenToValue(const VString& text, const Word& word, VJSONValue& out);
	// Hands gathered properties to the object the parser made for them.
	static bool _StoreProperties(VJSONObject& object, std::vector<VJSONPropertyTable::Entry>& properties);
	void _StringToValue(const VString& text, bool isQuoted, VJSONValue& out, const char* expected);
	void _WordToValue(const Word& word, VJSONValue& out, const char* expected);
	// The word's units as a string; false (velk 107 raised and recorded) when memory is short.
	bool _WordText(const Word& word, VString& out);
	// The text of a token read with a word: the word's units when it was left in the text, else text.
	bool _TokenText(const VString& text, const Word& word, VString& out);
	// A property name: a counted buffer with one reference for the caller, shared with an equal name met
	// before when it can; false (velk 107 raised and recorded) when memory is short.
	struct Name
	{
		UniChar* fBuffer = nullptr;
		int32 fLength = 0;
		int32 fCapacity = 0;
	};
	bool _NameText(const VString& text, const Word& word, Name& out);
	// Gives a name's reference back.
	static void _ReleaseName(Name& name);
	// Whether a container at depth (1 for the outermost) may be read: false, with velk 108 and 550 reported,
	// past kMaxNestingDepth or when the stack runs short. Inline for the inner containers, as it runs for
	// each one.
	bool _EnterNesting(uint32 depth)
	{
		if (depth > 1 && depth <= kMaxNestingDepth && fStackBound.HasRoom()) [[likely]]
			return true;
		return _EnterOutermostOrRefuse(depth);
	}
	bool _EnterOutermostOrRefuse(uint32 depth);
	VError _ObjectToBag(VValueBag& bag);
	void _SetBagAttribute(VValueBag& bag, const VString& name, const VString& text, bool isQuoted);

	void _RecordPathLine(const VString& path, int32 offset);
	VStorageLocker* _GetLocker();

	VString _GetStartTokenFirstChar() const;
	void _ThrowErrorMalformed();
	void _ThrowErrorInvalidToken(const VString& found, const char* expected);
	void _ThrowErrorUnterminated(const char* token);
	void _ThrowErrorExtraComma(const char* token);
	// The error of code with its "token" parameter, then the malformed-text error with the place.
	void _ThrowErrorAtToken(VError code, const char* token);
	void _FailForMemory(VError code);

	VString fText;
	uint32 fOptions;
	int32 fLength;
	const UniChar* fCursor;
	const UniChar* fStart;
	const UniChar* fTokenStart;
	VString fSourceName;
	uint32 fNestingDepth = 0;
	VString fCurrentPath;
	VJSONObject* fPathsLines = nullptr;
	uint32 fLine = 1;
	const UniChar* fLineStart;
	VRefPtr<VStorageLocker> fLocker;
	bool fNonAmbiguousDates;
	bool fLockerInUse = false;
	// Elements of the arrays being read, and properties of the objects being read, one list a depth (see
	// _ParseArray).
	std::vector<std::vector<VJSONValue>> fElements;
	std::vector<std::vector<VJSONPropertyTable::Entry>> fProperties;
	// Recently met property names, by a hash of their units, each holding one reference; made on the first
	// name.
	static constexpr size_t kNameCacheSize = 256;
	std::unique_ptr<Name[]> fNames;
	// The first failure of this parse; every loop stops once it is set.
	VError fError = VE_OK;
	// The units of the string token being read, kept from one value to the next.
	VStr<256> fScratch;
	// Where the stack of the task parsing runs short (kJSONMinFreeStack left), taken at the outermost container.
	VJSONStackBound fStackBound;
};

}  // namespace velk
