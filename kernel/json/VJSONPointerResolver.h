// Replaces reference objects {"$ref": "document#pointer"} by the value their JSON pointer (RFC 6901)
// designates, in the resolver's own document or in another JSON file, one reference at a time or over a
// whole tree. Problems are not raised: each is recorded as an error object in the resolver's error list
// and the reference resolves to undefined. Documents read from files stay in a file cache that the
// resolvers made for them share. One task at a time.
#pragma once

#include "kernel/VExport.h"

#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "files/IFile.h"
#include "files/IFolder.h"
#include "kernel/json/VJSONFileCache.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"

namespace velk {

class VJSONArray;
class VFileSystemNamespace;

constexpr VError VE_JSON_POINTER_NOT_FOUND = MakeVError(kVELK_SIGNATURE, 906);
constexpr VError VE_JSON_POINTER_SYNTAX = MakeVError(kVELK_SIGNATURE, 907);
constexpr VError VE_JSON_POINTER_CYCLE = MakeVError(kVELK_SIGNATURE, 908);
constexpr VError VE_JSON_POINTER_UNSUPPORTED = MakeVError(kVELK_SIGNATURE, 909);
constexpr VError VE_JSON_POINTER_NOT_A_CONTAINER = MakeVError(kVELK_SIGNATURE, 910);
constexpr VError VE_JSON_POINTER_DOCUMENT_INVALID = MakeVError(kVELK_SIGNATURE, 912);
constexpr VError VE_JSON_POINTER_DOCUMENT_NOT_FOUND = MakeVError(kVELK_SIGNATURE, 913);

class VELK_API VJSONPointerResolver : public VObject, public IRefCountable
{
public:
	static constexpr uint64 kNoRank = ~uint64(0);

	// What a resolution run hands back for one reference object, once: its target (patched in patch mode)
	// and the resolver of the document it came from, or the error its resolution ended with.
	struct Outcome
	{
		VRefPtr<VJSONObject> fReference;  // keeps the key alive for the run
		bool fResolved = false;
		VJSONValue fValue;
		VRefPtr<VJSONPointerResolver> fResolver;
		VError fError = VE_OK;
		// Whether the target was handed to the tree walk, which walks it once.
		bool fWalked = false;
	};

	// What one resolution run remembers.
	class Context
	{
	public:
		Context(bool patch, bool followReferences) : fPatch(patch), fFollowReferences(followReferences) {}

		std::set<const VJSONObject*> fVisited;
		// Arrays are remembered too, so that an array holding itself is walked once.
		std::set<const VJSONArray*> fVisitedArrays;
		std::vector<const VJSONObject*> fInProgress;
		// Each reference object is resolved once per run: met again, it gives the same outcome and no error.
		std::unordered_map<const VJSONObject*, Outcome> fOutcomes;
		// Substituted values still to be walked, each with the resolver of the document it came from.
		std::vector<std::pair<VRefPtr<VJSONPointerResolver>, VJSONValue>> fPending;
		std::unordered_map<VString, VRefPtr<IFile>, hasher_VString::hash, hasher_VString::equal_to> fFiles;
		bool fPatch;
		bool fFollowReferences;
		VString fCurrentPointer;
		// Set once velk 108 is recorded: the run then stops.
		bool fStackExhausted = false;
		// The errors of the run, each with the rank of the reference it belongs to (references are ranked
		// as they are first met, which is the order of the document), recorded in that order at the end.
		std::vector<std::pair<uint64, VJSONValue>> fErrors;
		uint64 fNextRank = 0;
		uint64 fCurrentRank = kNoRank;
		VError fLastError = VE_OK;
	};

	// Below this much free stack a run stops with velk 108, so that no tree can exhaust the stack.
	static constexpr size_t kMinFreeStack = 32768;

	// References without a document part resolve in root (copied: a container is shared); file names
	// are relative to baseFolder, or go through ns when given. A null cache gives one of the resolver's own.
	explicit VJSONPointerResolver(const VJSONValue& root, IFolder* baseFolder = nullptr,
		VFileSystemNamespace* ns = nullptr, VJSONFileCache* cache = nullptr);
	~VJSONPointerResolver() override;

	VJSONPointerResolver(const VJSONPointerResolver&) = delete;
	VJSONPointerResolver& operator=(const VJSONPointerResolver&) = delete;

	// result becomes object and, when object carries a text "$ref", the value it designates: true then,
	// whether or not it could be resolved (failure: result undefined and an error recorded). With
	// followReferences a reference object met while walking the pointer is replaced by its target first.
	// Errors of the file and parser layers go to a silent scope of their own and never reach the caller's.
	bool ResolveOnePointer(VJSONObject* object, bool followReferences, VJSONValue& result);
	// Replaces every reference in the tree, following references into further files; in patch mode a
	// reference object's other properties override those of its target object. A reference whose target
	// is itself a reference follows it, in its own document, to the end of the chain. A reference that
	// fails becomes undefined, except inside an object, which then keeps the reference object. Each
	// reference object is resolved once per run and each failing one records one error, in the order of
	// the document (one that fails because the reference it leads to failed records that error with its
	// own pointer). files, when given, receives every document file touched (retained). Errors met inside
	// other documents are recorded here too; nothing reaches the caller's error context.
	void ResolveRecursively(VJSONValue& value, bool patch, std::vector<VRefPtr<IFile>>* files);

	// The error objects recorded so far, oldest first, across runs: "code", "component", "message", then
	// the parameters ("pointerURI", "referredPath"). Null while there are none; not retained.
	VJSONArray* GetErrors() const { return fErrors; }

	// Records one error object (nothing for 0); a parameter with an empty value is left out.
	void _ThrowError(VError error, const VString& value1, const VString& name1, const VString& value2,
		const VString& name2);
	void _ThrowURIError(VError error, const VString& pointer);

	// References to documents are JSON-reference paths with '/': read as POSIX paths relative to the base
	// folder, unless they step out of it ("..").

	static const VString sRefPropertyName;  // "$ref"

private:
	// value is replaced when it is a reference object (true); newResolver then receives the resolver of
	// the target's document (null on failure), else this one. descend says whether value's contents are
	// still to be walked; inProgress that value is a reference being resolved.
	bool Resolve(Context& ctx, VJSONValue& value, VRefPtr<VJSONPointerResolver>* newResolver, bool* inProgress,
		bool* descend);
	// The outcome of a reference object (one whose "$ref" is a text), resolving it and the chain of
	// references it leads to the first time. The reference must not be in progress.
	const Outcome& _ResolveReference(Context& ctx, VJSONObject* reference);
	bool ResolvePointerURI(Context& ctx, const VString& text, VJSONValue& result, VJSONValue* document,
		VRefPtr<IFolder>* folder);
	bool LoadDocument(Context& ctx, const VString& text, const VString& path, VJSONValue& document,
		VRefPtr<IFolder>* folder);
	bool ResolvePointerString(Context& ctx, const VJSONValue& document, const VString& pointer, VJSONValue& result);
	bool ResolveOnePart(Context& ctx, VJSONValue& current, const VString& token);
	void PatchPointerValue(Context& ctx, VJSONValue& value, const VJSONValue& target);
	bool _ResolveRecursively(Context& ctx, VJSONValue& value);
	// True (velk 108 recorded once per run) when the free stack is too short to go deeper.
	bool _StackExhausted(Context& ctx);
	// During a run: the error object, ranked with the reference being resolved.
	void _RecordError(Context& ctx, VError error, const VString& value1, const VString& name1, const VString& value2,
		const VString& name2);
	void _RecordURIError(Context& ctx, VError error, const VString& pointer);
	// The error object of one problem, or null when it cannot be made.
	static VJSONValue _MakeErrorRecord(VError error, const VString& value1, const VString& name1, const VString& value2,
		const VString& name2);
	// Appends the errors of a run in the order of their references.
	void _AppendRunErrors(Context& ctx);
	void _AppendErrorRecord(const VJSONValue& record);

	VJSONValue fRoot;
	VRefPtr<IFolder> fBaseFolder;
	VRefPtr<VFileSystemNamespace> fNamespace;
	VRefPtr<VJSONFileCache> fCache;
	VJSONArray* fErrors = nullptr;
};

}  // namespace velk
