// The file stream against an in-memory model of the file: the same writes, positions, sizes and reads
// through buffers of every shape must leave the same bytes, and the buffer must be sized as files ask.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "files/VFile.h"
#include "files/VFileStream.h"
#include "kernel/strings/VString.h"

namespace velk {
namespace {

class VFileStreamTest : public test::VTemporaryFolderTest
{
protected:
	int64 DiskSize(const std::string& name) const
	{
		struct stat info = {};
		return ::stat((fRoot + name).c_str(), &info) == 0 ? int64(info.st_size) : -1;
	}
};

// The file as a stream should see it.
struct Model
{
	std::string bytes;
	size_t pos = 0;

	void Write(const std::string& data)
	{
		if (bytes.size() < pos + data.size())
			bytes.resize(pos + data.size(), '\0');
		bytes.replace(pos, data.size(), data);
		pos += data.size();
	}
	void SetPos(size_t newPos)
	{
		if (newPos > bytes.size())
			bytes.resize(newPos, '\0');
		pos = newPos;
	}
	void SetSize(size_t size)
	{
		bytes.resize(size, '\0');
		pos = std::min(pos, size);
	}
};

std::string Pattern(size_t size, uint32 seed)
{
	std::string out(size, '\0');
	for (size_t i = 0; i < size; ++i)
		out[i] = char('A' + (seed + i * 7) % 53);
	return out;
}

// 0 stands for a stream without buffer.
const size_t kBufferSizes[] = {0, 1, 100, 32767, 32768, 32769, 40000};
const size_t kPieceSizes[] = {1, 3, 16, 99, 100, 101, 4096, 32767, 32768, 32769, 40000, 70000};

TEST_F(VFileStreamTest, MatchesTheModelThroughEveryBuffer)
{
	for (const size_t bufferSize : kBufferSizes)
	{
		SCOPED_TRACE("buffer " + std::to_string(bufferSize));
		const std::string name = "model" + std::to_string(bufferSize);
		// An existing longer file: what the stream does not overwrite stays until the size is set.
		Write(name, Pattern(5000, 99));
		Model model;
		model.bytes = Pattern(5000, 99);
		std::mt19937 random(uint32(bufferSize) + 1);

		VFileStream writer(File(name).Get());
		writer.SetBufferSize(bufferSize);
		ASSERT_EQ(writer.OpenWriting(), VE_OK);
		EXPECT_EQ(writer.GetAllocatedBufferSize(), bufferSize);
		for (int step = 0; step < 200; ++step)
		{
			const uint32 choice = random() % 10;
			if (choice < 6)
			{
				const std::string data = Pattern(kPieceSizes[random() % std::size(kPieceSizes)], random());
				ASSERT_EQ(writer.PutData(data.data(), data.size()), VE_OK);
				model.Write(data);
			}
			else if (choice < 9)
			{
				// A little way back (inside what the buffer holds), anywhere in the data, at its end, or past
				// it (the file grows to the new place).
				const size_t back = random() % 300;
				const size_t target = random() % 2 == 0 ? (model.pos > back ? model.pos - back : 0)
					: random() % (model.bytes.size() + 200);
				ASSERT_EQ(writer.SetPos(int64(target)), VE_OK);
				model.SetPos(target);
			}
			else
			{
				// Cut or grown near the end, so that what came before is still compared.
				const size_t change = random() % 200;
				const size_t size = model.bytes.size() + 100 > change ? model.bytes.size() + 100 - change : 0;
				ASSERT_EQ(writer.SetSize(int64(size)), VE_OK);
				model.SetSize(size);
			}
			ASSERT_EQ(writer.GetPos(), int64(model.pos)) << "step " << step;
			ASSERT_EQ(writer.GetSize(), int64(model.bytes.size())) << "step " << step;
		}
		ASSERT_EQ(writer.CloseWriting(), VE_OK);
		const std::string onDisk = Read(name);
		ASSERT_EQ(onDisk.size(), model.bytes.size());
		ASSERT_TRUE(onDisk == model.bytes) << "first difference at "
										   << std::mismatch(onDisk.begin(), onDisk.end(), model.bytes.begin()).first - onDisk.begin();

		VFileStream reader(File(name).Get());
		reader.SetBufferSize(bufferSize);
		ASSERT_EQ(reader.OpenReading(), VE_OK);
		size_t pos = 0;
		for (int step = 0; step < 200; ++step)
		{
			if (random() % 4 == 0)
			{
				pos = random() % (model.bytes.size() + 1);
				ASSERT_EQ(reader.SetPos(int64(pos)), VE_OK);
			}
			const size_t asked = kPieceSizes[random() % std::size(kPieceSizes)];
			std::vector<char> got(asked);
			size_t delivered = 0;
			const VError error = reader.GetData(got.data(), asked, &delivered);
			const size_t expected = std::min(asked, model.bytes.size() - pos);
			ASSERT_EQ(delivered, expected) << "step " << step;
			ASSERT_EQ(error, expected < asked ? VE_STREAM_EOF : VE_OK) << "step " << step;
			ASSERT_TRUE(std::string(got.data(), delivered) == model.bytes.substr(pos, expected)) << "step " << step;
			pos += delivered;
			reader.ResetLastError();
		}
		EXPECT_EQ(reader.SetPos(int64(model.bytes.size()) + 1), VE_STREAM_EOF);
		reader.CloseReading();
		VTask::FlushErrors();
	}
}

TEST_F(VFileStreamTest, BufferFollowsTheFileAndLargeWritesBypassIt)
{
	// Reading: a small file gets a buffer of its size, an empty or large one the default.
	const struct
	{
		size_t fileSize;
		size_t allocated;
	} rows[] = {{100, 100}, {0, 32768}, {32768, 32768}, {40000, 32768}};
	for (const auto& row : rows)
	{
		const std::string name = "sized" + std::to_string(row.fileSize);
		VFileStream stream(Write(name, Pattern(row.fileSize, 1)).Get());
		ASSERT_EQ(stream.OpenReading(), VE_OK);
		EXPECT_EQ(stream.GetAllocatedBufferSize(), row.allocated) << row.fileSize;
		EXPECT_EQ(stream.GetSize(), int64(row.fileSize));
		stream.CloseReading();
	}

	// Writing: 10 bytes wait in the buffer; 40000 reach the file at once.
	VFileStream writer(File("bypass").Get(), FO_FOLLOW_LINK | FO_CREATE_IF_NOT_FOUND);
	ASSERT_EQ(writer.OpenWriting(), VE_OK);
	const std::string small = Pattern(10, 2);
	ASSERT_EQ(writer.PutData(small.data(), small.size()), VE_OK);
	EXPECT_EQ(DiskSize("bypass"), 0);
	// Positioning past the end flushes and grows the file before the next write.
	ASSERT_EQ(writer.SetPos(110), VE_OK);
	EXPECT_EQ(DiskSize("bypass"), 110);
	const std::string large = Pattern(40000, 3);
	ASSERT_EQ(writer.PutData(large.data(), large.size()), VE_OK);
	EXPECT_EQ(DiskSize("bypass"), 40110);
	// Rewriting inside the buffered bytes keeps those after them.
	ASSERT_EQ(writer.SetPos(40100), VE_OK);
	ASSERT_EQ(writer.PutData(small.data(), small.size()), VE_OK);
	ASSERT_EQ(writer.SetPos(40105), VE_OK);
	ASSERT_EQ(writer.PutData("xy", 2), VE_OK);
	// A second opening while open is refused and leaves the stream writing.
	EXPECT_NE(writer.OpenWriting(), VE_OK);
	EXPECT_TRUE(writer.IsWriting());
	ASSERT_EQ(writer.CloseWriting(), VE_OK);
	// A stream destroyed while writing still delivers its buffer.
	{
		VFileStream forgotten(File("forgotten").Get(), FO_FOLLOW_LINK | FO_CREATE_IF_NOT_FOUND);
		ASSERT_EQ(forgotten.OpenWriting(), VE_OK);
		ASSERT_EQ(forgotten.PutData(small.data(), small.size()), VE_OK);
	}
	EXPECT_EQ(Read("forgotten"), small);
	EXPECT_TRUE(Read("bypass") == small + std::string(100, '\0') + large.substr(0, 39990) + small.substr(0, 5) + "xy"
		+ small.substr(7));
	VTask::FlushErrors();
}

TEST_F(VFileStreamTest, FailuresAreErrorsNotSuccess)
{
	// No file at all.
	VFileStream none(nullptr);
	EXPECT_EQ(none.OpenReading(), VE_STREAM_NO_FILE);
	EXPECT_EQ(none.OpenWriting(), VE_STREAM_NO_FILE);
	EXPECT_FALSE(none.IsReading() || none.IsWriting());

	// A missing file is the file layer's error, and without the create option writing fails too.
	VFileStream missing(File("missing").Get());
	EXPECT_NE(missing.OpenReading(), VE_OK);
	EXPECT_NE(missing.OpenWriting(), VE_OK);
	EXPECT_EQ(DiskSize("missing"), -1);

	// A final symbolic link is followed for reading only when the stream's options say so.
	Write("target", "content");
	ASSERT_EQ(::symlink((fRoot + "target").c_str(), (fRoot + "link").c_str()), 0);
	for (const uint32 options : {uint32(FO_FOLLOW_LINK), uint32(0)})
	{
		VFileStream linked(File("link").Get(), options);
		EXPECT_EQ(linked.OpenReading() == VE_OK, options == FO_FOLLOW_LINK) << options;
		if (linked.IsReading())
			linked.CloseReading();
	}

	// Reading past the end delivers what is there.
	VFileStream reader(Write("short", "0123456789").Get());
	ASSERT_EQ(reader.OpenReading(), VE_OK);
	char bytes[20] = {};
	size_t delivered = 0;
	EXPECT_EQ(reader.GetData(bytes, sizeof(bytes), &delivered), VE_STREAM_EOF);
	EXPECT_EQ(std::string(bytes, delivered), "0123456789");
	EXPECT_EQ(reader.GetLastError(), VE_STREAM_EOF);
	reader.ResetLastError();
	EXPECT_EQ(reader.SetPos(-1), VE_INVALID_PARAMETER);
	EXPECT_EQ(reader.GetPos(), 10);
	reader.CloseReading();

	// Writing over a longer file keeps its tail until the stream's size is set.
	const struct
	{
		int64 size;  // -1: left alone
		const char* expected;
	} rows[] = {{-1, "abc3456789"}, {3, "abc"}, {12, "abc3456789\0\0"}};
	for (const auto& row : rows)
	{
		VFileStream writer(Write("tail", "0123456789").Get());
		ASSERT_EQ(writer.OpenWriting(), VE_OK);
		ASSERT_EQ(writer.PutData("abc", 3), VE_OK);
		if (row.size >= 0)
		{
			ASSERT_EQ(writer.SetSize(row.size), VE_OK);
		}
		ASSERT_EQ(writer.CloseWriting(), VE_OK);
		EXPECT_EQ(Read("tail"), std::string(row.expected, row.size >= 0 ? size_t(row.size) : 10));
	}
	VTask::FlushErrors();
}

}  // namespace
}  // namespace velk
