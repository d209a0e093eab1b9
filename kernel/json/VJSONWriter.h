// Writes a JSON value as JSON text, compact or indented, object properties in insertion order. Guards
// against cycles and runaway nesting, can refuse objects that are not plain data, and can cut long output.
#pragma once

#include "kernel/VExport.h"

#include <set>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class VJSONValue;
class VJSONObject;
class VJSONArray;
class VDBLanguageContext;
class IFile;

constexpr VError VE_JSON_CIRCULAR = MakeVError(kVELK_SIGNATURE, 900);
constexpr VError VE_JSON_BINARY_OBJECT = MakeVError(kVELK_SIGNATURE, 911);
constexpr VError VE_JSON_NOT_GENERIC_OBJECT = MakeVError(kVELK_SIGNATURE, 914);
constexpr VError VE_JSON_OBJECT_WRITTEN_TWICE = MakeVError(kVELK_SIGNATURE, 916);

class VELK_API VJSONWriter : public VObject
{
public:
	// Option bits. They are handed on to VString::GetJSONString and VTime::GetJSONString, whose bits they
	// share: without VString::kJSON_WITH_QUOTES (1) strings and property names are written unquoted.
	static constexpr uint32 kPRETTY = 8;              // one element or property a line, tab-indented
	static constexpr uint32 kLOCAL_DATES = 128;       // a date is its calendar day at local midnight
	static constexpr uint32 kREFUSE_BINARY = 256;     // an object with a binary form fails (velk 911)
	static constexpr uint32 kMARK_CIRCULAR = 0x2000;  // a cycle writes "[circular]" instead of velk 900
	static constexpr uint32 kCUT_LONG = 0x4000;       // stop after about 512 units and append "..."
	static constexpr uint32 kGENERIC_ONLY = 0x8000;   // only generic objects (else velk 914)
	static constexpr uint32 kWRITE_ONCE = 0x10000;    // each object once per writer (else velk 916)

	// Containers nested deeper than this, or met with less than kJSONMinFreeStack of the task's stack left,
	// fail with velk 108 rather than exhausting the stack: the parser's bound, so whatever it reads can be
	// written back where the stack allows it.
	static constexpr size_t kMaxNestingDepth = VJSONImporter::kMaxNestingDepth;
	// Under kCUT_LONG, the running length from which the current container ends.
	static constexpr uint32 kCutLength = 513;

	// The context is handed to property getters; it may be null.
	VJSONWriter(VDBLanguageContext* context, uint32 options);
	explicit VJSONWriter(uint32 options);
	~VJSONWriter() override;

	VJSONWriter(const VJSONWriter&) = delete;
	VJSONWriter& operator=(const VJSONWriter&) = delete;

	// Each replaces out by the text and answers 0. On failure the error is raised and answered and out
	// holds no complete text: velk 900 (a container met again inside itself), 911, 914, 916 (the options
	// above), 108 (nesting too deep), 100 or 107 (memory). Null and undefined write "null"; a null object
	// or array pointer writes "undefined". A writer may be used again after a failure.
	VError StringifyValue(const VJSONValue& value, VString& out);
	VError StringifyObject(const VJSONObject* object, VString& out);
	VError StringifyArray(const VJSONArray* array, VString& out);

	// For native implementations that write their own text: the level and, under kPRETTY, the
	// indentation ("\n" and a tab a level).
	void IncrementLevel();
	void DecrementLevel();
	void InsertIndentString(VString& text) const;
	void AppendIndentString(VString& text) const;
	uint32 GetLevel() const { return fLevel; }
	uint32 GetOptions() const { return fOptions; }
	VDBLanguageContext* GetLanguageContext() const { return fContext; }

	// Writes the value as the file's whole content in UTF-8, line ends kept. A null file answers 0. When
	// the writer fails its error is answered and the file is not touched; otherwise the file's answer
	// (the file keeps its former content when storing fails).
	static VError StringifyValueToFile(IFile* file, const VJSONValue& value, uint32 options);

private:
	class _Text;
	class StValueList;

	// Each appends the text to out. After a refused growth of out (velk 107 raised) they write nothing more
	// and answer 0; the public entry points then answer velk 107.
	VError _WriteValue(const VJSONValue& value, _Text& out);
	VError _WriteObject(const VJSONObject* object, _Text& out);
	VError _WriteArray(const VJSONArray* array, _Text& out);
	VError _WriteProperties(const VJSONObject* object, _Text& out);
	VError _WriteOwnProperties(const VJSONObject* object, _Text& out);
	void _WriteString(const UniChar* units, int32 count, _Text& out) const;
	static void _WriteNumber(double number, _Text& out);
	// The comma and, under kPRETTY, the indentation before a member; after it, the indentation, the closing
	// bracket unless cut, and "..." once per writer when cut.
	void _BeginMember(size_t index, _Text& out) const;
	void _Close(UniChar close, bool cut, _Text& out);
	// The error of the writing, or velk 107 when the text could not grow or be handed over; out is set only
	// on success.
	// Runs write(text) into a new text and moves it into out on success; memory refused is velk 100.
	template <class Write>
	VError _Stringify(VString& out, Write&& write);
	// Whether the member met now is to be the last one written, and counts its length.
	bool _CountForCut(size_t length);
	bool _IsOnStack(const void* container) const;
	// Before a container is entered: velk 108 (raised) past kMaxNestingDepth or when the stack runs short.
	// Inline, since it runs once a container.
	VError _CheckNesting() const
	{
		if (fStack.size() < kMaxNestingDepth && fStackBound.HasRoom()) [[likely]]
			return VE_OK;
		return _RefuseNesting();
	}
	static VError _RefuseNesting();

	VDBLanguageContext* fContext;
	uint32 fOptions;
	uint32 fLevel = 0;
	VString fIndentUnit;
	VString fIndentation;
	std::vector<const void*> fStack;
	std::set<const void*> fWritten;
	// The objects of fWritten, held until the writer goes: one computed for a single read (a getter's fresh
	// object) would otherwise be freed and lend its address to the next, then refused as written twice.
	std::vector<VJSONValue> fWrittenHeld;
	// Values of the containers being written, one list a depth (see StValueList).
	std::vector<std::vector<VJSONValue>> fValueLists;
	// Where the writing task's stack runs short (kJSONMinFreeStack left), taken at each entry point.
	VJSONStackBound fStackBound;
	uint32 fRunningLength = 0;
	bool fCut = false;
};

}  // namespace velk
