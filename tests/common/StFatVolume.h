// A FAT-family volume of its own for as long as the object lives: a small image, formatted and mounted at a
// folder in one of the ways Linux has (FAT through FUSE, exFAT through FUSE over a loop device, the kernel's
// vfat over one). Such volumes keep no Unix owner, mode or extended attributes. GetRefusal says why the
// volume could not be had (a tool missing, no /dev/fuse, a refused mount), for the test to skip. Header only.
#pragma once

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/VChildProcess.h"

namespace velk::test {

enum class EFatVolumeKind
{
	kFuseFat,  // fusefat on the image
	kFuseExFat,  // exfat-fuse on a loop device
	kKernelVfat,  // the kernel's vfat on a loop device
};

class StFatVolume
{
public:
	// The image and the mount point are made in folder, a temporary folder of the test.
	StFatVolume(EFatVolumeKind kind, const std::string& folder)
		: fImage(folder + "/fat.img")
		, fMountPoint(folder + "/volume")
	{
		fRefusal = Mount(kind);
		fMounted = fRefusal.empty();
	}

	~StFatVolume()
	{
		if (fMounted && ::umount2(fMountPoint.c_str(), 0) != 0)
		{
			// A FUSE volume of a plain user is unmounted by its helper; a busy one is detached.
			if (RunChild("/usr/bin/fusermount3", {"-u", fMountPoint}, {}, kToolBound).fStatus != 0)
				::umount2(fMountPoint.c_str(), MNT_DETACH);
		}
		if (!fLoopDevice.empty())
			RunChild("/usr/sbin/losetup", {"--detach", fLoopDevice}, {}, kToolBound);
	}

	StFatVolume(const StFatVolume&) = delete;
	StFatVolume& operator=(const StFatVolume&) = delete;

	// Empty once the volume is mounted.
	const std::string& GetRefusal() const { return fRefusal; }
	const std::string& GetMountPoint() const { return fMountPoint; }

private:
	static constexpr int kToolBound = 30000;

	// Runs a tool to its end: empty when it succeeded, else what refused it.
	static std::string Run(const std::string& program, const std::vector<std::string>& arguments, std::string* output = nullptr)
	{
		if (::access(program.c_str(), X_OK) != 0)
			return "no " + program;
		const VChildRun run = RunChild(program, arguments, {}, kToolBound);
		if (output != nullptr)
			*output = run.fOutput.substr(0, run.fOutput.find('\n'));
		return run.fStatus == 0 ? std::string() : program + " refused: " + run.fErrors;
	}

	std::string Mount(EFatVolumeKind kind)
	{
		const bool root = ::geteuid() == 0;
		if (kind != EFatVolumeKind::kFuseFat && !root)
			return "a loop device needs root";
		if (kind != EFatVolumeKind::kKernelVfat && ::access("/dev/fuse", R_OK | W_OK) != 0)
			return "no /dev/fuse";
		std::error_code error;
		std::filesystem::create_directories(fMountPoint, error);
		std::ofstream(fImage, std::ios::binary).close();
		std::filesystem::resize_file(fImage, 32 << 20, error);
		if (error)
			return "no image: " + error.message();
		const bool exFat = kind == EFatVolumeKind::kFuseExFat;
		std::string refusal = exFat ? Run("/usr/sbin/mkfs.exfat", {fImage}) : Run("/usr/sbin/mkfs.vfat", {fImage});
		if (!refusal.empty())
			return refusal;
		switch (kind)
		{
		case EFatVolumeKind::kFuseFat:
			refusal = Run("/usr/bin/fusefat", {"-o", "rw+", fImage, fMountPoint});
			break;
		case EFatVolumeKind::kFuseExFat:
			refusal = Run("/usr/sbin/losetup", {"--find", "--show", fImage}, &fLoopDevice);
			if (refusal.empty())
				refusal = Run("/usr/sbin/mount.exfat-fuse", {fLoopDevice, fMountPoint});
			break;
		case EFatVolumeKind::kKernelVfat:
			refusal = Run("/usr/bin/mount", {"-t", "vfat", "-o", "loop", fImage, fMountPoint});
			break;
		}
		if (!refusal.empty())
			return refusal;
		// A tool that answered 0 without mounting must not let a test run on the folder beneath.
		struct stat folder;
		struct stat mounted;
		if (::stat(std::filesystem::path(fMountPoint).parent_path().c_str(), &folder) != 0 ||
			::stat(fMountPoint.c_str(), &mounted) != 0 || folder.st_dev == mounted.st_dev)
			return "nothing was mounted at " + fMountPoint;
		return std::string();
	}

	std::string fImage;
	std::string fMountPoint;
	std::string fLoopDevice;
	std::string fRefusal;
	bool fMounted = false;
};

}  // namespace velk::test
