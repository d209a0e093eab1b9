// Open files: what each operation moves and which file error, with which parameters, it leaves.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/VTemporaryFolderTest.h"
#include "files/VFile.h"
#include "files/VFileDesc.h"
#include "kernel/strings/VString.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"

namespace velk {
namespace {

class VFileDescTest : public test::VTemporaryFolderTest
{
protected:
	// An open file of 100 bytes "0123456789" repeated, read-only or read-write.
	VFileDesc* Open(bool writable)
	{
		const std::string path = fRoot + "data.bin";
		std::string content;
		for (int i = 0; i < 10; ++i)
			content += "0123456789";
		Write("data.bin", content);
		fFile = VRefPtr<VFile>(new VFile(VString(path.c_str()), FPS_POSIX), true);
		const int descriptor = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
		EXPECT_GE(descriptor, 0);
		return new VFileDesc(fFile.Get(), descriptor, writable ? FA_READ_WRITE : FA_READ);
	}

	VRefPtr<VFile> fFile;
};

std::optional<int64> Parameter(const VErrorBase* error, const char* name)
{
	int64 value = 0;
	if (error == nullptr || !error->GetLong8(VString(name), value))
		return std::nullopt;
	return value;
}

TEST_F(VFileDescTest, EachOperationLeavesItsErrorWithItsParameters)
{
	constexpr VError kEndOfData = VE_STREAM_EOF;
	const VError badDescriptor = MakeVError(kVELK_SIGNATURE, 216);
	struct Row
	{
		const char* what;
		bool writable;
		std::function<VError(VFileDesc&, size_t&)> operation;
		VError expected;
		size_t moved;
		bool pushed;
		std::optional<int64> count, offset, size;
	};
	char buffer[32] = {};
	const Row rows[] = {
		{"a short read at a position pushes the end of data", false,
			[&](VFileDesc& file, size_t& moved) { return file.GetData(buffer, 10, 95, &moved); }, kEndOfData, 5, true, 10, 95, 100},
		{"a short read at the current position only answers it", false,
			[&](VFileDesc& file, size_t& moved) { file.SetPos(95, true); return file.GetDataAtPos(buffer, 10, 0, &moved); }, kEndOfData, 5, false,
			std::nullopt, std::nullopt, std::nullopt},
		{"a whole read is no error", false,
			[&](VFileDesc& file, size_t& moved) { return file.GetData(buffer, 10, 0, &moved); }, VE_OK, 10, false, std::nullopt, std::nullopt,
			std::nullopt},
		{"writing a read-only file wraps the system's refusal", false,
			[&](VFileDesc& file, size_t& moved) { file.SetPos(40, true); return file.PutDataAtPos("abc", 3, 2, &moved); }, badDescriptor, 0, true, 3,
			42, 100},
		{"a size set on a read-only file names the size asked", false,
			[&](VFileDesc& file, size_t& moved) { moved = 0; return file.SetSize(10); }, MakeVError(kVELK_SIGNATURE, 219), 0, true, std::nullopt,
			std::nullopt, 10},
		{"a move before the first byte names the target", false,
			[&](VFileDesc& file, size_t& moved) { moved = 0; file.SetPos(INT64_MAX, true); return file.SetPos(1, false); },
			MakeVError(kVELK_SIGNATURE, 214), 0, true, std::nullopt, std::nullopt, 100},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.what);
		VFileDesc* file = Open(row.writable);
		StErrorContextInstaller scope(false, true);
		size_t moved = 99;
		EXPECT_EQ(row.operation(*file, moved), row.expected);
		EXPECT_EQ(moved, row.moved);
		const VErrorContext* context = scope.GetContext();
		ASSERT_NE(context, nullptr);
		const VErrorBase* error = context->IsEmpty() ? nullptr : context->GetErrors().back().Get();
		EXPECT_EQ(error != nullptr, row.pushed);
		if (error != nullptr)
		{
			EXPECT_EQ(error->GetCode(), row.expected);
			EXPECT_EQ(Parameter(error, "count"), row.count);
			EXPECT_EQ(Parameter(error, "offset"), row.offset);
			EXPECT_EQ(Parameter(error, "size"), row.size);
		}
		delete file;
	}
}

TEST_F(VFileDescTest, PositionsMoveOnlyWithTheCurrentPositionForms)
{
	VFileDesc* file = Open(true);
	char buffer[8] = {};
	size_t moved = 0;
	ASSERT_EQ(file->SetPos(50, true), VE_OK);
	ASSERT_EQ(file->SetPos(-10, false), VE_OK);
	EXPECT_EQ(file->GetPos(), 40);
	EXPECT_EQ(file->GetData(buffer, 4, 0, &moved), VE_OK);
	EXPECT_EQ(file->GetPos(), 40);  // an absolute read leaves the position
	EXPECT_EQ(file->GetDataAtPos(buffer, 4, 0, &moved), VE_OK);
	EXPECT_EQ(std::string(buffer, 4), "0123");
	EXPECT_EQ(file->GetPos(), 44);
	EXPECT_EQ(file->PutDataAtPos("zz", 2, 0, &moved), VE_OK);
	EXPECT_EQ(file->GetPos(), 46);
	EXPECT_EQ(file->SetSize(46), VE_OK);
	EXPECT_EQ(file->GetSize(), 46);
	EXPECT_EQ(file->Flush(), VE_OK);
	delete file;
	EXPECT_EQ(Read("data.bin").substr(40), "0123zz");
	EXPECT_EQ(fFile->GetRefCount(), 1);  // the open file gave its reference back
}

}  // namespace
}  // namespace velk
