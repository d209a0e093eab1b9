// The shipped library as its users see it: linked as a shared library, exporting its public interface and
// nothing of the platform layer or the test fixtures.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "containers/VValueBag.h"
#include "kernel/strings/VString.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VError.h"

namespace {

std::vector<std::string> ExportedSymbols()
{
	std::vector<std::string> symbols;
	std::string command = "nm -D --defined-only -C '" VELK_LIBRARY_FILE "'";
	std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
	if (!pipe)
		return symbols;
	char line[4096];
	while (fgets(line, sizeof line, pipe.get()) != nullptr)
		symbols.emplace_back(line);
	return symbols;
}

}  // namespace

TEST(ExportsTest, OnlyThePublicInterfaceIsExported)
{
	std::vector<std::string> symbols = ExportedSymbols();
	ASSERT_FALSE(symbols.empty()) << "nm listed nothing for " << VELK_LIBRARY_FILE;

	struct Expectation { const char* fragment; bool exported; };
	const Expectation table[] = {
		{"velk::VString::VString(", true},
		{"velk::VValueBag::SetString(", true},
		{"velk::_ThrowError(", true},
		{"velk::StErrorContextInstaller::", true},
		{"plat::", false},
		{"ForTesting", false},
	};
	for (const Expectation& e : table) {
		size_t count = 0;
		for (const std::string& symbol : symbols)
			count += symbol.find(e.fragment) != std::string::npos;
		if (e.exported)
			EXPECT_GT(count, 0u) << e.fragment << " is not exported";
		else
			EXPECT_EQ(count, 0u) << e.fragment << " is exported";
	}
}

TEST(ExportsTest, PublicInterfaceWorksThroughTheSharedLibrary)
{
	velk::VValueBag* bag = new velk::VValueBag;
	EXPECT_TRUE(bag->SetString("name", velk::VString("updater")));
	EXPECT_TRUE(bag->SetLong8("count", 42));
	velk::VString name;
	velk::int64 count = 0;
	EXPECT_TRUE(bag->GetString("name", name));
	EXPECT_TRUE(bag->GetLong8("count", count));
	EXPECT_EQ(velk::to_string(name), "updater");
	EXPECT_EQ(count, 42);
	bag->Release();

	velk::StErrorContextInstaller errors(false);
	velk::VString parameter("p");
	velk::_ThrowError(velk::MakeVError(velk::FourCharCode("velk"), 2), &parameter);
	EXPECT_EQ(errors.GetLastError(), velk::MakeVError(velk::FourCharCode("velk"), 2));
}
