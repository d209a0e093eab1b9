// Localization: VLocalizationManager::LoadFile of an XLIFF file of 10,000 units (100 groups of 100) against
// Expat reading the same file into a std::map of resource names, and 10,000 LocalizeStringWithKey against
// std::map::find on the same keys. The file is written once in $TMPDIR (else /tmp) and removed at exit.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#ifdef VELK_BENCH_HAVE_EXPAT
#include <expat.h>
#endif

#include "BenchProcess.h"
#include "documents/localization/VLocalizationManager.h"
#include "files/VFile.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"

namespace {

constexpr int kGroups = 100;
constexpr int kUnitsPerGroup = 100;
constexpr int kUnits = kGroups * kUnitsPerGroup;
constexpr velk::uint32 kDialect = 1036;

std::string Key(int unit)
{
	return "key." + std::to_string(unit);
}

std::string Text(int unit)
{
	return "Texte traduit numéro " + std::to_string(unit) + " pour l'assistant de mise à jour";
}

class Workload
{
public:
	static Workload& Get()
	{
		static Workload sWorkload;
		return sWorkload;
	}

	const std::string& Path() const { return fPath; }

	Workload(const Workload&) = delete;
	Workload& operator=(const Workload&) = delete;

private:
	Workload()
	{
		const char* folder = std::getenv("TMPDIR");
		fPath = std::string((folder != nullptr && *folder != '\0') ? folder : "/tmp") + "/velk-bench-localization-"
			+ std::to_string(getpid()) + ".xlf";
		std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xliff version=\"1.2\">\n<file original=\"App\" "
			"source-language=\"en\" target-language=\"fr\" datatype=\"plaintext\"><body>\n";
		for (int group = 0; group < kGroups; ++group)
		{
			xml += "<group id=\"" + std::to_string(group + 1) + "\" resname=\"group" + std::to_string(group) + "\">\n";
			for (int index = 0; index < kUnitsPerGroup; ++index)
			{
				const int unit = group * kUnitsPerGroup + index;
				xml += "<trans-unit id=\"" + std::to_string(index + 1) + "\" resname=\"" + Key(unit) + "\"><source>Translated text "
					+ std::to_string(unit) + "</source><target>" + Text(unit) + "</target></trans-unit>\n";
			}
			xml += "</group>\n";
		}
		xml += "</body></file></xliff>\n";
		std::ofstream(fPath, std::ios::binary) << xml;
	}

	~Workload() { std::remove(fPath.c_str()); }

	std::string fPath;
};

velk::VRefPtr<velk::VLocalizationManager> NewLoadedManager()
{
	bench::EnsureProcess();
	velk::VRefPtr<velk::VLocalizationManager> manager(new velk::VLocalizationManager(kDialect), true);
	velk::VFile file(velk::VString(Workload::Get().Path().c_str()), velk::FPS_POSIX);
	manager->LoadFile(&file, false);
	return manager;
}

void BM_LocalizationManagerLoadFile(benchmark::State& state)
{
	bench::EnsureProcess();
	velk::VFile file(velk::VString(Workload::Get().Path().c_str()), velk::FPS_POSIX);
	for (auto _ : state)
	{
		state.PauseTiming();
		velk::VRefPtr<velk::VLocalizationManager> manager(new velk::VLocalizationManager(kDialect), true);
		state.ResumeTiming();
		benchmark::DoNotOptimize(manager->LoadFile(&file, false));
		state.PauseTiming();
		manager = nullptr;
		state.ResumeTiming();
	}
	velk::VRefPtr<velk::VLocalizationManager> check = NewLoadedManager();
	velk::VString text;
	if (!check->LocalizeStringWithKey(velk::VString(Key(kUnits - 1).c_str()), text))
		state.SkipWithError("the last unit was not loaded");
	state.SetItemsProcessed(state.iterations() * kUnits);
}
BENCHMARK(BM_LocalizationManagerLoadFile)->Unit(benchmark::kMillisecond);

#ifdef VELK_BENCH_HAVE_EXPAT
// What the peer keeps of each unit: its resource name with the target text, else the source text.
struct ExpatUnits
{
	std::map<std::string, std::string> fTexts;
	std::string fResName;
	std::string fSource;
	std::string fTarget;
	std::string* fText = nullptr;
	bool fHasTarget = false;
};

void ExpatStart(void* data, const XML_Char* name, const XML_Char** attributes)
{
	ExpatUnits& units = *static_cast<ExpatUnits*>(data);
	const std::string element(name);
	if (element == "trans-unit")
	{
		units.fResName.clear();
		units.fSource.clear();
		units.fTarget.clear();
		units.fHasTarget = false;
		for (int i = 0; attributes[i] != nullptr; i += 2)
		{
			if (std::string(attributes[i]) == "resname")
				units.fResName = attributes[i + 1];
		}
	}
	else if (element == "source")
	{
		units.fText = &units.fSource;
	}
	else if (element == "target")
	{
		units.fText = &units.fTarget;
		units.fHasTarget = true;
	}
}

void ExpatEnd(void* data, const XML_Char* name)
{
	ExpatUnits& units = *static_cast<ExpatUnits*>(data);
	units.fText = nullptr;
	if (std::string(name) == "trans-unit" && !units.fResName.empty())
		units.fTexts.insert_or_assign(units.fResName, units.fHasTarget ? units.fTarget : units.fSource);
}

void ExpatText(void* data, const XML_Char* text, int length)
{
	ExpatUnits& units = *static_cast<ExpatUnits*>(data);
	if (units.fText != nullptr)
		units.fText->append(text, size_t(length));
}

void BM_ExpatLoadFile(benchmark::State& state)
{
	const std::string& path = Workload::Get().Path();
	size_t count = 0;
	for (auto _ : state)
	{
		std::ifstream in(path, std::ios::binary);
		const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
		ExpatUnits units;
		XML_Parser parser = XML_ParserCreate(nullptr);
		XML_SetUserData(parser, &units);
		XML_SetElementHandler(parser, ExpatStart, ExpatEnd);
		XML_SetCharacterDataHandler(parser, ExpatText);
		if (XML_Parse(parser, bytes.data(), int(bytes.size()), 1) == XML_STATUS_ERROR)
			state.SkipWithError("Expat could not read the file");
		XML_ParserFree(parser);
		count = units.fTexts.size();
		benchmark::DoNotOptimize(count);
	}
	if (count != size_t(kUnits))
		state.SkipWithError(("Expat read " + std::to_string(count) + " units").c_str());
	state.SetItemsProcessed(state.iterations() * kUnits);
}
BENCHMARK(BM_ExpatLoadFile)->Unit(benchmark::kMillisecond);
#endif

void BM_LocalizeStringWithKey(benchmark::State& state)
{
	velk::VRefPtr<velk::VLocalizationManager> manager = NewLoadedManager();
	std::vector<velk::VString> keys;
	for (int unit = 0; unit < kUnits; ++unit)
		keys.emplace_back(Key((unit * 7919) % kUnits).c_str());
	velk::VString text;
	for (auto _ : state)
	{
		int found = 0;
		for (const velk::VString& key : keys)
			found += manager->LocalizeStringWithKey(key, text) ? 1 : 0;
		if (found != kUnits)
			state.SkipWithError("a key was not found");
		benchmark::DoNotOptimize(text);
	}
	state.SetItemsProcessed(state.iterations() * kUnits);
}
BENCHMARK(BM_LocalizeStringWithKey)->Unit(benchmark::kMicrosecond);

void BM_StdMapFind(benchmark::State& state)
{
	std::map<std::string, std::string> texts;
	for (int unit = 0; unit < kUnits; ++unit)
		texts.emplace(Key(unit), Text(unit));
	std::vector<std::string> keys;
	for (int unit = 0; unit < kUnits; ++unit)
		keys.push_back(Key((unit * 7919) % kUnits));
	std::string text;
	for (auto _ : state)
	{
		int found = 0;
		for (const std::string& key : keys)
		{
			const auto it = texts.find(key);
			if (it != texts.end())
			{
				text = it->second;
				++found;
			}
		}
		if (found != kUnits)
			state.SkipWithError("a key was not found");
		benchmark::DoNotOptimize(text);
	}
	state.SetItemsProcessed(state.iterations() * kUnits);
}
BENCHMARK(BM_StdMapFind)->Unit(benchmark::kMicrosecond);

}  // namespace
