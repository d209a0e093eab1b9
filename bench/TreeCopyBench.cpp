// Copying a bundle-like tree of about 500 MB in about 5,000 files (versioned framework links, many small
// resources, a few large binaries, run bits, extended attributes): our tree copy against `cp -a` and
// `rsync -a`, side by side in one run, on a warm cache, the copy removed and the disk synced outside the
// timing. The tree is made once in $TMPDIR (else /tmp), checked once against `cp -a`'s copy, removed at exit.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "BenchTools.h"
#include "files/VFilePath.h"
#include "files/mac/XMacFolder.h"
#include "kernel/strings/VString.h"

namespace {

namespace fs = std::filesystem;

class Bytes
{
public:
	explicit Bytes(uint64_t seed)
		: fState(seed * 0x9E3779B97F4A7C15ull + 1)
	{
	}

	uint64_t Next()
	{
		fState ^= fState << 13;
		fState ^= fState >> 7;
		fState ^= fState << 17;
		return fState;
	}

	void Fill(std::string& buffer, size_t size)
	{
		buffer.resize(size);
		for (size_t i = 0; i + 8 <= size; i += 8)
		{
			const uint64_t word = Next();
			std::memcpy(&buffer[i], &word, 8);
		}
	}

private:
	uint64_t fState;
};

void WriteFile(const std::string& path, Bytes& bytes, size_t size, mode_t mode)
{
	static std::string buffer;
	bytes.Fill(buffer, size);
	std::ofstream(path, std::ios::binary).write(buffer.data(), std::streamsize(size));
	chmod(path.c_str(), mode);
}

// The resources, headers and binaries of an application with versioned frameworks.
void MakeTree(const std::string& root)
{
	Bytes bytes(1);
	const std::string contents = root + "/Contents";
	fs::create_directories(contents + "/MacOS");
	WriteFile(contents + "/Info.plist", bytes, 2048, 0644);
	WriteFile(contents + "/MacOS/App", bytes, 40u << 20, 0755);
	setxattr((contents + "/MacOS/App").c_str(), "user.velk.signature", "signed", 6, 0);
	int files = 2;
	for (int f = 0; f < 8; ++f)
	{
		const std::string framework = contents + "/Frameworks/Lib" + std::to_string(f) + ".framework";
		const std::string version = framework + "/Versions/A";
		fs::create_directories(version + "/Headers");
		// A few large binaries, the rest of the libraries small.
		WriteFile(version + "/Lib" + std::to_string(f), bytes, f < 5 ? (50u << 20) : (2u << 20), 0755);
		fs::create_symlink("A", framework + "/Versions/Current");
		fs::create_symlink("Versions/Current/Lib" + std::to_string(f), framework + "/Lib" + std::to_string(f));
		fs::create_symlink("Versions/Current/Resources", framework + "/Resources");
		fs::create_symlink("Versions/Current/Headers", framework + "/Headers");
		for (int h = 0; h < 60; ++h, ++files)
			WriteFile(version + "/Headers/H" + std::to_string(h) + ".h", bytes, 512 + bytes.Next() % 8192, 0644);
		for (int l = 0; l < 10; ++l)
		{
			const std::string folder = version + "/Resources/l" + std::to_string(l) + ".lproj";
			fs::create_directories(folder);
			for (int r = 0; r < 30; ++r, ++files)
				WriteFile(folder + "/R" + std::to_string(r), bytes, 256 + bytes.Next() % 98304, 0644);
		}
	}
	for (int l = 0; files < 5000; ++l)
	{
		const std::string folder = contents + "/Resources/l" + std::to_string(l) + ".lproj";
		fs::create_directories(folder);
		for (int r = 0; r < 50 && files < 5000; ++r, ++files)
		{
			const std::string path = folder + "/Image" + std::to_string(r) + ".png";
			WriteFile(path, bytes, 1024 + bytes.Next() % 98304, r % 7 == 0 ? 0755 : 0644);
			if (r % 10 == 0)
				setxattr(path.c_str(), "user.velk.kind", "image", 5, 0);
		}
	}
}

// What `cp -a` keeps of every entry: kind and mode, owner, modification time, link text, bytes, user
// attributes.
std::map<std::string, std::string> Describe(const std::string& root)
{
	std::map<std::string, std::string> entries;
	std::vector<fs::path> paths{ root };
	for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
		paths.push_back(entry.path());
	for (const fs::path& path : paths)
	{
		struct stat status;
		lstat(path.c_str(), &status);
		std::string text = std::to_string(status.st_mode) + " " + std::to_string(status.st_uid) + ":" + std::to_string(status.st_gid) + " " +
			std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec);
		if (S_ISLNK(status.st_mode))
			text += " -> " + fs::read_symlink(path).string();
		else if (S_ISREG(status.st_mode))
		{
			std::ifstream in(path, std::ios::binary);
			text += " " + std::to_string(std::hash<std::string>{}(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())));
		}
		char names[1024];
		const ssize_t size = llistxattr(path.c_str(), names, sizeof(names));
		for (ssize_t at = 0; at < size; at += ssize_t(std::strlen(names + at)) + 1)
		{
			char value[256];
			const ssize_t length = lgetxattr(path.c_str(), names + at, value, sizeof(value));
			text += std::string(" ") + (names + at) + "=" + std::string(value, size_t(std::max<ssize_t>(length, 0)));
		}
		entries[path.lexically_relative(root).string()] = text;
	}
	return entries;
}

// The source tree, made once per run and removed at exit, and whether our copy equals `cp -a`'s.
// The folder layer's copy of a whole tree to a folder that does not exist yet, as an application asks for it.
bool CopyWithToolbox(const std::string& from, const std::string& to)
{
	const fs::path target(to);
	velk::VFilePath parent;
	parent.FromFullPath(velk::VString((target.parent_path().string() + "/").c_str()), velk::FPS_POSIX);
	const velk::XMacFolder source((from + "/").c_str());
	return source.CopyToNonExistingFolder(parent, velk::VString(target.filename().c_str())) == velk::VE_OK;
}

class Tree
{
public:
	static Tree& Get()
	{
		static Tree sTree;
		return sTree;
	}

	std::string fSource;
	std::string fCopy;
	std::string fProblem;  // empty when our copy equals `cp -a`'s

private:
	Tree()
	{
		fRoot = bench::MakeTemporaryFolder("velk-treecopy-bench");
		if (fRoot.empty())
		{
			fProblem = "cannot make a folder in the temporary folder";
			return;
		}
		fSource = fRoot + "/Source.app";
		fCopy = fRoot + "/Copy.app";
		MakeTree(fSource);
		const std::string archive = fRoot + "/Archive.app";
		if (!bench::RunProgram({ "cp", "-a", fSource, archive }))
			fProblem = "cp -a failed";
		else if (!CopyWithToolbox(fSource, fCopy))
			fProblem = "the tree copy failed";
		else if (Describe(fCopy) != Describe(archive))
			fProblem = "the tree copy differs from cp -a's";
		fs::remove_all(archive);
		fs::remove_all(fCopy);
		sync();
	}

	~Tree()
	{
		if (!fRoot.empty())
			fs::remove_all(fRoot);
	}

	std::string fRoot;
};

template <typename Copy>
void TimeCopies(benchmark::State& state, Copy copy)
{
	Tree& tree = Tree::Get();
	if (!tree.fProblem.empty())
	{
		state.SkipWithError(tree.fProblem.c_str());
		return;
	}
	for (auto _ : state)
	{
		const auto start = std::chrono::steady_clock::now();
		const bool copied = copy(tree.fSource, tree.fCopy);
		const auto end = std::chrono::steady_clock::now();
		state.SetIterationTime(std::chrono::duration<double>(end - start).count());
		fs::remove_all(tree.fCopy);
		sync();
		if (!copied)
		{
			state.SkipWithError("the copy failed");
			return;
		}
	}
}

void BM_TreeCopy_Velk(benchmark::State& state)
{
	TimeCopies(state, [](const std::string& from, const std::string& to) { return CopyWithToolbox(from, to); });
}

void BM_TreeCopy_CpArchive(benchmark::State& state)
{
	TimeCopies(state, [](const std::string& from, const std::string& to) { return bench::RunProgram({ "cp", "-a", from, to }); });
}

void BM_TreeCopy_RsyncArchive(benchmark::State& state)
{
	TimeCopies(state, [](const std::string& from, const std::string& to) { return bench::RunProgram({ "rsync", "-a", from + "/", to }); });
}

}  // namespace

BENCHMARK(BM_TreeCopy_Velk)->UseManualTime()->Iterations(1)->Repetitions(7)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TreeCopy_CpArchive)->UseManualTime()->Iterations(1)->Repetitions(7)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TreeCopy_RsyncArchive)->UseManualTime()->Iterations(1)->Repetitions(7)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
