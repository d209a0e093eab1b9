// The base class of components: reference-counted objects of a component type (a four-character code)
// made on demand by the component registry (VComponentManager), from a creator function registered in the
// process or from a component library that declares its types.
#pragma once

#include "kernel/VExport.h"

#include "kernel/VKernelTypes.h"
#include "kernel/memory/IRefCountable.h"

namespace velk {

// Stands for any signature when asking the registry for a shared instance.
constexpr OsType kCOMPONENT_ANY_SIGNATURE = FourCharCode("BBBB");

// The 32-bit fields of a requirements record (see NewRequirementsRecord).
enum ComponentRequirementsField : int32
{
	kREQUIREMENTS_FORMAT = 0,  // at least kREQUIREMENTS_MIN_FORMAT
	kREQUIREMENTS_SIZE = 1,  // the record's size in bytes, at least kREQUIREMENTS_MIN_SIZE
	kREQUIREMENTS_VERSION = 5,  // the component's own version
	kREQUIREMENTS_COUNT = 10,  // the number of required types
	kREQUIREMENTS_FIRST_PAIR = 11  // then per required type: its code and its minimum version
};

constexpr uint32 kREQUIREMENTS_MIN_FORMAT = 0x10000;
constexpr uint32 kREQUIREMENTS_MIN_SIZE = 52;
// A minimum version that accepts any version.
constexpr uint32 kREQUIREMENTS_ANY_VERSION = 0xFFFFFFFF;

class VELK_API CComponent : public IRefCountable
{
public:
	// The component's requirements record: a block from VMemory::NewPtr that the caller disposes of with
	// VMemory::DisposePtr, holding the fields above; null when the component has none.
	virtual uint32* NewRequirementsRecord() const = 0;
	virtual OsType GetComponentType() const = 0;
	// What tells apart instances of one type (a family, a variant); 0 when nothing does.
	virtual OsType GetComponentSignature() const { return 0; }
};

// Makes a new component of type with signature; null when it cannot.
using VComponentCreator = CComponent* (*)(OsType type, OsType signature);

// The entry points of a component library, looked up by these names. Main is called once at registration
// with the selector 'regs' and the library; GetNthComponentType answers true and sets type while index
// (from 1) names a type the library serves; CreateComponent makes a component as a creator does.
class VLibrary;
using VComponentLibraryMain = void (*)(OsType selector, VLibrary* library);
using VComponentLibraryGetNthType = bool (*)(int32 index, OsType& type);
using VComponentLibraryCreate = CComponent* (*)(OsType type, OsType signature);

constexpr OsType kCOMPONENT_LIBRARY_REGISTER = FourCharCode("regs");

}  // namespace velk
