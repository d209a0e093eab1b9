// The volume cache over mount tables and a clock set by the tests: names, the root volume, when the table is
// read again, and translocation.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <climits>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "files/mac/XMacVolumes.h"
#include "kernel/strings/VString.h"
#include "platform/MainBundle.h"
#include "platform/MountTable.h"

namespace velk {
namespace {

std::string Line(int id, const std::string& mountPoint, const char* type = "ext4")
{
	return std::to_string(id) + " 1 0:" + std::to_string(id) + " / " + mountPoint + " rw - " + type + " none rw\n";
}

// The name of the volume at mountPath, "-" when there is none.
std::string NameAt(XMacVolumes& volumes, const char* mountPath, size_t size = 64)
{
	char name[64] = "x";
	const bool found = volumes.GetVolumeNameFromMountPath(mountPath, name, size);
	return found ? name : name[0] == 0 ? "-" : "left unchanged";
}

// The mount point of the volume named name, "-" when there is none.
std::string MountPathOf(XMacVolumes& volumes, const char* name)
{
	VString mountPath;
	return volumes.GetMountPathFromVolumeName(VString(name), mountPath) ? to_string(mountPath) : "-";
}

class XMacVolumesTest : public ::testing::Test
{
protected:
	void TearDown() override
	{
		plat::SetMountInfoTextForTesting(std::nullopt);
		plat::SetMountTableClockForTesting(std::nullopt);
		plat::SetMainBundlePathForTesting(std::nullopt);
	}
};

TEST_F(XMacVolumesTest, NamesVolumesByTheirMountPoints)
{
	plat::SetMountInfoTextForTesting(Line(1, "/mnt/Root") + Line(2, "/") + Line(3, "/media/usb") + Line(4, "/mnt/my\\040disk") +
		Line(5, "/mnt/a/disk") + Line(6, "/srv/disk") + Line(7, "/mnt/\\377bad"));
	XMacVolumes volumes;
	const std::pair<const char*, const char*> byMountPath[] = {
		{ "/", "Root" }, { "/mnt/Root", "Root" }, { "/media/usb", "usb" }, { "/mnt/my disk", "my disk" }, { "/srv/disk", "disk" },
		{ "/media/usb/", "-" }, { "/media", "-" }, { "/mnt/\377bad", "-" },
	};
	for (const auto& [mountPath, name] : byMountPath)
		EXPECT_EQ(NameAt(volumes, mountPath), name) << mountPath;
	// A name is given whole or not at all: a cut one would name another volume.
	EXPECT_EQ(NameAt(volumes, "/media/usb", 4), "usb");
	EXPECT_EQ(NameAt(volumes, "/media/usb", 3), "-");

	// "Root" stays the root's, and of two volumes of one name the first listed is kept.
	const std::pair<const char*, const char*> byName[] = {
		{ "Root", "/" }, { "usb", "/media/usb" }, { "USB", "-" }, { "my disk", "/mnt/my disk" }, { "disk", "/mnt/a/disk" }, { "", "-" },
	};
	for (const auto& [name, mountPath] : byName)
		EXPECT_EQ(MountPathOf(volumes, name), mountPath) << name;
}

TEST_F(XMacVolumesTest, TheTableIsReadAgainOnlyWhenDue)
{
	const std::string before = Line(1, "/"), after = before + Line(2, "/media/new"), malformed = "not a mount table\n";
	struct Step
	{
		uint32 clock;
		const std::string* table;
		const char* newName;
	};
	const std::vector<Step> sequences[] = {
		// A cache never read is read even while the clock is below 2000 ms.
		{ { 0, &before, "-" }, { 2000, &after, "-" }, { 2001, &after, "new" } },
		{ { 0xFFFFFC00u, &before, "-" }, { 0x3D0u, &after, "-" }, { 0x3D1u, &after, "new" } },
		// A table that cannot be read keeps the cache, and is asked for again at the next look-up.
		{ { 10, &after, "new" }, { 3000, &malformed, "new" }, { 3000, &before, "-" } },
	};
	for (const std::vector<Step>& steps : sequences)
	{
		std::optional<XMacVolumes> volumes;
		for (const Step& step : steps)
		{
			plat::SetMountTableClockForTesting(step.clock);
			plat::SetMountInfoTextForTesting(*step.table);
			if (!volumes)
				volumes.emplace();
			EXPECT_EQ(NameAt(*volumes, "/media/new"), step.newName) << step.clock;
			EXPECT_EQ(MountPathOf(*volumes, "Root"), "/") << step.clock;
		}
	}
}

TEST_F(XMacVolumesTest, OnlyANullfsMountOfTheBundleIsATranslocation)
{
	char pattern[] = "/tmp/velk-volumes-XXXXXX";
	char resolved[PATH_MAX];
	ASSERT_NE(mkdtemp(pattern), nullptr);
	ASSERT_NE(realpath(pattern, resolved), nullptr);
	const std::string bundle = std::string(resolved) + "/Moved.app";
	std::filesystem::create_directories(bundle);
	plat::SetMainBundlePathForTesting(bundle);
	for (const char* type : { "nullfs", "ext4" })
	{
		plat::SetMountInfoTextForTesting(Line(1, "/") + Line(2, bundle, type));
		XMacVolumes volumes;
		// The mount leaves the table: only a recorded translocation still knows it.
		plat::SetMountInfoTextForTesting(Line(1, "/"));
		EXPECT_EQ(MountPathOf(volumes, "Moved.app"), type == std::string("nullfs") ? bundle : "-") << type;
	}
	std::filesystem::remove_all(resolved);

	VString unchanged("unchanged");
	EXPECT_EQ(NameAt(XMacVolumes::fInstance, "/"), "Root");
	EXPECT_FALSE(XMacVolumes::fInstance._GetTranslocationMountPathForVolume(VString("Root"), unchanged));
	EXPECT_EQ(to_string(unchanged), "unchanged");
}

}  // namespace
}  // namespace velk
