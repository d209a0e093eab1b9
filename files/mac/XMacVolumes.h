// The process-wide cache of mounted volumes that maps mount points to volume names and back, for the
// conversions between native and POSIX paths and for the system facade's disk list. Here the volumes are the
// mounts of the process's mount table: "/" is the volume "Root", every other mount is named by the last
// component of its mount point. The table is read again at most every two seconds.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <map>
#include <string>
#include <unordered_map>

#include "kernel/strings/VString.h"
#include "runtime/VCriticalSection.h"

namespace velk {

// The order of volume names: the shorter name first; names of equal length by their UTF-16 units, binary
// and case-sensitive. Names are kept as given (this system does not normalize them), so no composition
// takes place.
struct VELK_API VolumeNameComparator
{
	bool operator()(const VString& a, const VString& b) const;
};

class VELK_API XMacVolumes
{
public:
	// Runs the translocation check. The process's instance is fInstance; others serve tests.
	XMacVolumes();
	virtual ~XMacVolumes();

	XMacVolumes(const XMacVolumes&) = delete;
	XMacVolumes& operator=(const XMacVolumes&) = delete;

	static XMacVolumes fInstance;

	// The volume name of the mount point mountPath (its exact bytes, no trailing '/'), copied with its NUL
	// into outName. False, outName emptied when outSize allows, when no volume is mounted there or when the
	// name and its NUL do not fit in outSize bytes: a cut name would name another volume. Takes the lock and
	// reloads the cache when due.
	bool GetVolumeNameFromMountPath(const char* mountPath, char* outName, size_t outSize);

	// The mount point of the volume named name; a recorded translocation answers for its volume when no
	// mounted volume has the name. False, outMountPath unchanged, when neither knows it. Takes the lock and
	// reloads the cache when due.
	bool GetMountPathFromVolumeName(const VString& name, VString& outMountPath);

	// The translocation rule alone: the translocation mount point when name is the translocated volume's
	// (VString::EqualToString, flag false). False, out unchanged, otherwise or when none was recorded.
	bool _GetTranslocationMountPathForVolume(const VString& name, VString& out) const;

private:
	// With the lock held: reads the mount table again when it was never read or more than 2000 ms have
	// passed since the last read (32-bit clock, wrapping). A table that cannot be read leaves the cache as
	// it was and is asked for again at the next look-up.
	void _ReloadCacheIfNecessary();
	// Whether the main bundle lies on a "nullfs" mount (a translocated application); no Linux file system
	// has that type, so nothing is recorded here unless a mount table says so.
	void _CheckTranslocation();

	std::unordered_map<std::string, std::string> fNamesByMountPath;
	std::map<VString, VString, VolumeNameComparator> fMountPathsByName;
	VCriticalSection fLock;
	VString fTranslocationVolume;
	VString fTranslocationMountPoint;
	uint32 fLastReload = 0;
	// A cache never read is due whatever the clock says: a first look-up in the clock's first two seconds
	// would otherwise find nothing.
	bool fLoaded = false;
};

}  // namespace velk
