// Maps the four-character binary signature of a native JSON object implementation to the function that
// recreates such an implementation from its binary payload, for the binary JSON reader. One instance per
// process; it knows the Blob and Vector classes from the start, and other implementations register
// themselves.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <unordered_map>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VCriticalSection.h"

namespace velk {

class IJSONObject;
class VJSONObject;

class VELK_API VJSONObjectFactory : public VObject
{
public:
	// Makes a new implementation (one reference for the caller) for object from size bytes of payload, or
	// answers null with the error stored in error. A class object handed back becomes the object's class.
	using Creator = IJSONObject* (*)(VJSONObject* object, uint32 signature, const void* data, size_t size,
		VRefPtr<VJSONObject>& classObject, uint64* error);

	// The process's factory, made on first use.
	static VJSONObjectFactory* Get();

	// Each takes the factory's lock while it uses the map.

	// Adds the signature, or gives a known one this creator. False when memory is short (velk 100).
	bool RegisterSignature(uint32 signature, Creator creator);
	// False when the signature was not registered.
	bool UnRegisterSignature(uint32 signature);
	bool IsSignatureSupported(uint32 signature) const;
	// The creator's answer, or null for an unregistered signature (error untouched). The creator is called
	// after the lock is released, so it may use the factory itself.
	IJSONObject* CreateForSignature(VJSONObject* object, uint32 signature, const void* data, size_t size,
		VRefPtr<VJSONObject>& classObject, uint64* error) const;

private:
	// Registers 'JBlb' and 'JVec'.
	VJSONObjectFactory();

	mutable VCriticalSection fLock;
	std::unordered_map<uint32, Creator> fCreators;
};

}  // namespace velk
