#include "files/mac/XMacVolumes.h"

#include <cstring>
#include <vector>

#include "platform/MainBundle.h"
#include "platform/MountTable.h"

namespace velk {

namespace {

constexpr uint32 kReloadInterval = 2000;
constexpr char kRootMountPoint[] = "/";
constexpr char kRootVolumeName[] = "Root";
constexpr char kTranslocationFileSystem[] = "nullfs";

// The volume's name: "Root" for "/", else the mount point's last component.
std::string VolumeNameOfMountPoint(const std::string& mountPoint)
{
	if (mountPoint == kRootMountPoint)
		return kRootVolumeName;
	const size_t slash = mountPoint.rfind('/');
	return slash == std::string::npos ? mountPoint : mountPoint.substr(slash + 1);
}

// The text of UTF-8 bytes; false when they are not valid UTF-8, as such a name cannot pass through UTF-16
// and come back the same.
bool TextFromUTF8(const std::string& bytes, VString& text)
{
	text.FromCString(bytes.c_str());
	return to_string(text) == bytes;
}

}  // namespace

XMacVolumes XMacVolumes::fInstance;

bool VolumeNameComparator::operator()(const VString& a, const VString& b) const
{
	if (a.GetLength() != b.GetLength())
		return a.GetLength() < b.GetLength();
	const UniChar* unitsA = a.GetCPointer();
	const UniChar* unitsB = b.GetCPointer();
	for (int32 i = 0; i < a.GetLength(); ++i)
	{
		if (unitsA[i] != unitsB[i])
			return unitsA[i] < unitsB[i];
	}
	return false;
}

XMacVolumes::XMacVolumes()
{
	_CheckTranslocation();
}

XMacVolumes::~XMacVolumes() = default;

bool XMacVolumes::GetVolumeNameFromMountPath(const char* mountPath, char* outName, size_t outSize)
{
	if (outName != nullptr && outSize > 0)
		outName[0] = 0;
	if (mountPath == nullptr || outName == nullptr)
		return false;
	StLocker locker(&fLock);
	_ReloadCacheIfNecessary();
	const auto found = fNamesByMountPath.find(mountPath);
	if (found == fNamesByMountPath.end() || found->second.size() >= outSize)
		return false;
	std::memcpy(outName, found->second.c_str(), found->second.size() + 1);
	return true;
}

bool XMacVolumes::GetMountPathFromVolumeName(const VString& name, VString& outMountPath)
{
	StLocker locker(&fLock);
	_ReloadCacheIfNecessary();
	const auto found = fMountPathsByName.find(name);
	if (found != fMountPathsByName.end())
	{
		outMountPath = found->second;
		return true;
	}
	return _GetTranslocationMountPathForVolume(name, outMountPath);
}

bool XMacVolumes::_GetTranslocationMountPathForVolume(const VString& name, VString& out) const
{
	if (fTranslocationVolume.IsEmpty() || !fTranslocationVolume.EqualToString(name, false))
		return false;
	out = fTranslocationMountPoint;
	return true;
}

void XMacVolumes::_ReloadCacheIfNecessary()
{
	const uint32 now = plat::GetMountTableClock();
	if (fLoaded && uint32(now - fLastReload) <= kReloadInterval)
		return;
	std::vector<plat::MountEntry> entries;
	if (plat::ReadMountTable(entries) != 0)
		return;

	// The root volume comes first, so that a mount elsewhere named "Root" cannot take its name.
	std::unordered_map<std::string, std::string> namesByMountPath{{kRootMountPoint, kRootVolumeName}};
	std::map<VString, VString, VolumeNameComparator> mountPathsByName{{VString(kRootVolumeName), VString(kRootMountPoint)}};
	for (const plat::MountEntry& entry : entries)
	{
		const std::string name = VolumeNameOfMountPoint(entry.mountPoint);
		VString nameText, mountPointText;
		if (name.empty() || !TextFromUTF8(name, nameText) || !TextFromUTF8(entry.mountPoint, mountPointText))
			continue;
		namesByMountPath.emplace(entry.mountPoint, name);
		mountPathsByName.emplace(nameText, mountPointText);
	}
	fNamesByMountPath.swap(namesByMountPath);
	fMountPathsByName.swap(mountPathsByName);
	fLastReload = now;
	fLoaded = true;
}

void XMacVolumes::_CheckTranslocation()
{
	const std::string bundlePath = plat::GetMainBundlePath();
	plat::MountEntry mount;
	if (bundlePath.empty() || plat::FindMountOfPath(bundlePath.c_str(), mount) != 0)
		return;
	if (mount.fileSystemType != kTranslocationFileSystem)
		return;
	// The look-up compares volume names with this one, so the volume's name is what is recorded.
	VString name, mountPoint;
	if (TextFromUTF8(VolumeNameOfMountPoint(mount.mountPoint), name) && TextFromUTF8(mount.mountPoint, mountPoint))
	{
		fTranslocationVolume = name;
		fTranslocationMountPoint = mountPoint;
	}
}

}  // namespace velk
