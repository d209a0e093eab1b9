#include "platform/MainBundle.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

namespace plat {

namespace {

constexpr char kBundleExecutableFolder[] = "/Contents/MacOS/";
constexpr char kInfoDictionaryRelativePath[] = "/Contents/Info.plist";

// An information dictionary is a few kilobytes; anything past this is not one.
constexpr size_t kMaxPropertyListBytes = 64 * 1024 * 1024;

struct MainBundleState
{
	std::mutex fMutex;
	bool fLoaded = false;
	std::string fPath;
	InfoStrings fStrings;
	std::optional<std::string> fTestPath;
	InfoStrings fTestStrings;
	std::map<std::string, std::optional<std::string>> fOverrides;
};

// Never destroyed: static destructors of other translation units may still ask for bundle values at exit.
MainBundleState& GetState()
{
	alignas(MainBundleState) static unsigned char storage[sizeof(MainBundleState)];
	static MainBundleState* state = new (storage) MainBundleState();
	return *state;
}

std::string ReadExecutablePath()
{
	std::vector<char> buffer(256);
	for (;;)
	{
		ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
		if (length < 0)
			return std::string();
		if (size_t(length) < buffer.size())
			return std::string(buffer.data(), size_t(length));
		if (buffer.size() >= 1024 * 1024)
			return std::string();
		buffer.resize(buffer.size() * 2);
	}
}

bool ReadWholeFile(const std::string& path, std::string& contents)
{
	contents.clear();
	// Opened without blocking and read only when a regular file: a pipe named Info.plist must not hold
	// whoever asks.
	const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (descriptor < 0)
		return false;
	struct stat status;
	FILE* file = nullptr;
	if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || (file = ::fdopen(descriptor, "rb")) == nullptr)
	{
		::close(descriptor);
		return false;
	}
	char chunk[16384];
	bool ok = true;
	for (;;)
	{
		size_t count = std::fread(chunk, 1, sizeof(chunk), file);
		contents.append(chunk, count);
		if (contents.size() > kMaxPropertyListBytes)
		{
			ok = false;
			break;
		}
		if (count < sizeof(chunk))
		{
			ok = std::ferror(file) == 0;
			break;
		}
	}
	std::fclose(file);
	return ok;
}

void LoadRealBundle(MainBundleState& state)
{
	if (state.fLoaded)
		return;
	state.fLoaded = true;
	state.fPath = FindBundlePathForExecutable(ReadExecutablePath());
	if (!state.fPath.empty())
		ReadInfoDictionaryStrings(state.fPath + kInfoDictionaryRelativePath, state.fStrings);
}

}  // namespace

std::string FindBundlePathForExecutable(const std::string& executablePath)
{
	size_t nameStart = executablePath.rfind('/');
	if (nameStart == std::string::npos || nameStart + 1 == executablePath.size())
		return std::string();
	constexpr size_t folderLength = sizeof(kBundleExecutableFolder) - 1;
	size_t folderEnd = nameStart + 1;
	if (folderEnd < folderLength || executablePath.compare(folderEnd - folderLength, folderLength, kBundleExecutableFolder) != 0)
		return std::string();
	std::string bundle = executablePath.substr(0, folderEnd - folderLength);
	return bundle.empty() ? std::string("/") : bundle;
}

bool ReadInfoDictionaryStrings(const std::string& plistPath, InfoStrings& strings)
{
	strings.clear();
	std::string contents;
	if (!ReadWholeFile(plistPath, contents) || contents.empty())
		return false;

	plist_t root = nullptr;
	plist_from_memory(contents.data(), uint32_t(contents.size()), &root);
	if (root == nullptr)
		return false;
	bool isDictionary = plist_get_node_type(root) == PLIST_DICT;
	if (isDictionary)
	{
		plist_dict_iter iterator = nullptr;
		plist_dict_new_iter(root, &iterator);
		for (;;)
		{
			char* key = nullptr;
			plist_t item = nullptr;
			plist_dict_next_item(root, iterator, &key, &item);
			if (item == nullptr)
			{
				std::free(key);
				break;
			}
			if (key != nullptr && plist_get_node_type(item) == PLIST_STRING)
			{
				char* text = nullptr;
				plist_get_string_val(item, &text);
				if (text != nullptr)
					strings[key] = text;
				std::free(text);
			}
			std::free(key);
		}
		std::free(iterator);
	}
	plist_free(root);
	return isDictionary;
}

std::string GetMainBundlePath()
{
	MainBundleState& state = GetState();
	std::lock_guard<std::mutex> lock(state.fMutex);
	if (state.fTestPath)
		return *state.fTestPath;
	LoadRealBundle(state);
	return state.fPath;
}

std::string GetMainExecutablePath()
{
	return ReadExecutablePath();
}

bool GetMainBundleInfoString(const std::string& key, std::string& value)
{
	MainBundleState& state = GetState();
	std::lock_guard<std::mutex> lock(state.fMutex);
	auto overridden = state.fOverrides.find(key);
	if (overridden != state.fOverrides.end())
	{
		if (!overridden->second)
			return false;
		value = *overridden->second;
		return true;
	}
	const InfoStrings* strings = &state.fTestStrings;
	if (!state.fTestPath)
	{
		LoadRealBundle(state);
		strings = &state.fStrings;
	}
	auto found = strings->find(key);
	if (found == strings->end())
		return false;
	value = found->second;
	return true;
}

#ifdef VELK_TEST_HOOKS
void SetMainBundleInfoStringForTesting(const std::string& key, const std::optional<std::string>& value)
{
	MainBundleState& state = GetState();
	std::lock_guard<std::mutex> lock(state.fMutex);
	state.fOverrides[key] = value;
}

void SetMainBundlePathForTesting(const std::optional<std::string>& bundlePath)
{
	MainBundleState& state = GetState();
	std::lock_guard<std::mutex> lock(state.fMutex);
	state.fTestPath = bundlePath;
	state.fTestStrings.clear();
	if (bundlePath)
		ReadInfoDictionaryStrings(*bundlePath + kInfoDictionaryRelativePath, state.fTestStrings);
}

void ClearMainBundleOverridesForTesting()
{
	MainBundleState& state = GetState();
	std::lock_guard<std::mutex> lock(state.fMutex);
	state.fOverrides.clear();
	state.fTestPath.reset();
	state.fTestStrings.clear();
}

bool WriteInfoDictionaryStringsForTesting(const std::string& plistPath, const InfoStrings& strings, bool binary)
{
	plist_t root = plist_new_dict();
	for (const auto& [key, value] : strings)
		plist_dict_set_item(root, key.c_str(), plist_new_string(value.c_str()));
	char* data = nullptr;
	uint32_t length = 0;
	if (binary)
		plist_to_bin(root, &data, &length);
	else
		plist_to_xml(root, &data, &length);
	plist_free(root);
	if (data == nullptr)
		return false;

	bool ok = false;
	FILE* file = std::fopen(plistPath.c_str(), "wb");
	if (file != nullptr)
	{
		ok = std::fwrite(data, 1, length, file) == length;
		ok = (std::fclose(file) == 0) && ok;
	}
	if (binary)
		plist_to_bin_free(data);
	else
		plist_to_xml_free(data);
	return ok;
}
#endif

}  // namespace plat
