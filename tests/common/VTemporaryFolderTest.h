// A test fixture that works in a temporary folder of its own, made before each test and removed after, with
// helpers that name, read and write files in it. A write fault injected through the platform layer and the
// task's errors are cleared after each test. Header-only: only the suites that touch files build it.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "files/VFile.h"
#include "kernel/memory/VRefPtr.h"
#include "platform/FileOperations.h"
#include "runtime/VTask.h"

namespace velk::test {

class VTemporaryFolderTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-test-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = std::string(pattern) + "/";
		VTask::FlushErrors();
	}

	void TearDown() override
	{
		plat::SetWriteFaultForTesting(plat::WriteStep::kNone, 0);
		std::filesystem::remove_all(fRoot);
		VTask::FlushErrors();
	}

	// The file of that name in the folder, whether or not it exists.
	VRefPtr<VFile> File(const std::string& name) const
	{
		return VRefPtr<VFile>(new VFile(VString((fRoot + name).c_str()), FPS_POSIX), true);
	}

	// The file's bytes; empty when it cannot be read.
	std::string Read(const std::string& name) const
	{
		std::ifstream in(fRoot + name, std::ios::binary);
		return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
	}

	// Writes the bytes as the file's content, bypassing the toolbox, and answers the file.
	VRefPtr<VFile> Write(const std::string& name, const std::string& bytes) const
	{
		std::ofstream(fRoot + name, std::ios::binary) << bytes;
		return File(name);
	}

	std::string fRoot;  // ends with '/'
};

}  // namespace velk::test
