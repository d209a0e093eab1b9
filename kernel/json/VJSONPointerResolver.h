// Replaces a reference object {"$ref": "#/pointer"} by the value its JSON pointer (RFC 6901) designates in
// the document given at construction. Problems are not raised: each is recorded as an error object in the
// resolver's error list, and the reference resolves to undefined. References into other documents are
// refused for now (velk 913; velk 909 for a web or file URL).
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "kernel/json/VJSONValue.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VJSONObject;
class VJSONArray;

constexpr VError VE_JSON_POINTER_NOT_FOUND = MakeVError(kVELK_SIGNATURE, 906);
constexpr VError VE_JSON_POINTER_SYNTAX = MakeVError(kVELK_SIGNATURE, 907);
constexpr VError VE_JSON_POINTER_CYCLE = MakeVError(kVELK_SIGNATURE, 908);
constexpr VError VE_JSON_POINTER_UNSUPPORTED = MakeVError(kVELK_SIGNATURE, 909);
constexpr VError VE_JSON_POINTER_NOT_A_CONTAINER = MakeVError(kVELK_SIGNATURE, 910);
constexpr VError VE_JSON_POINTER_DOCUMENT_NOT_FOUND = MakeVError(kVELK_SIGNATURE, 913);

class VELK_API VJSONPointerResolver : public VObject, public IRefCountable
{
public:
	// Pointers without a document part are resolved in root, which is copied (a container is shared).
	explicit VJSONPointerResolver(const VJSONValue& root);
	~VJSONPointerResolver() override;

	VJSONPointerResolver(const VJSONPointerResolver&) = delete;
	VJSONPointerResolver& operator=(const VJSONPointerResolver&) = delete;

	// result becomes object and, when object carries a text "$ref", the value it designates: true then,
	// whether or not it could be resolved (failure: result undefined and an error recorded). With
	// followReferences, a reference object met on the way is replaced by its target first (a reference
	// that leads back into itself is velk 908). Errors of the layers below go to a silent scope of their
	// own and never reach the caller's.
	bool ResolveOnePointer(VJSONObject* object, bool followReferences, VJSONValue& result);

	// The error objects recorded so far, oldest first ({"code", "component", "pointerURI"} and, for a
	// document, "referredPath"); null when there are none. Not retained.
	VJSONArray* GetErrors() const { return fErrors; }

	static const VString sRefPropertyName;  // "$ref"

private:
	// Resolves the text of a reference: "document#pointer".
	bool _ResolvePointerURI(const VString& text, VJSONValue& result);
	bool _ResolvePointerString(const VString& pointer, VJSONValue& result);
	bool _ResolveOnePart(VJSONValue& current, const VString& token);
	// The reference object's target when current is one and references are followed; true otherwise.
	bool _FollowReference(VJSONValue& current);
	void _ThrowError(VError error, const VString& pointer, const VString* referredPath = nullptr);

	VJSONValue fRoot;
	VJSONArray* fErrors = nullptr;
	// For one run: whether references are followed, the one being resolved and those in progress.
	bool fFollowReferences = false;
	VString fCurrentPointer;
	std::vector<const VJSONObject*> fInProgress;
};

}  // namespace velk
