// Test fixture: a temporary folder of the test's own, made before each test and removed after, holding a
// fake home folder that HOME, XDG_DATA_HOME and XDG_CONFIG_HOME point to. Variables the test sets through
// SetVariable are put back after it too.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

class TemporaryHomeTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/velk-home-XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		fRoot = pattern;
		fHome = fRoot + "/home";
		std::filesystem::create_directory(fHome);
		SetVariable("HOME", fHome.c_str());
		SetVariable("XDG_DATA_HOME", (fHome + "/.local/share").c_str());
		SetVariable("XDG_CONFIG_HOME", (fHome + "/.config").c_str());
	}

	void TearDown() override
	{
		for (const auto& [name, value] : fSaved)
		{
			if (value)
				setenv(name.c_str(), value->c_str(), 1);
			else
				unsetenv(name.c_str());
		}
		std::error_code ignored;
		std::filesystem::remove_all(fRoot, ignored);
	}

	// Sets (or, with null, unsets) the variable for the rest of the test.
	void SetVariable(const char* name, const char* value)
	{
		if (fSaved.count(name) == 0)
		{
			const char* old = getenv(name);
			fSaved[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
		}
		if (value != nullptr)
			setenv(name, value, 1);
		else
			unsetenv(name);
	}

	std::string fRoot;  // the test's folder, without a trailing '/'
	std::string fHome;  // fRoot + "/home"

private:
	std::map<std::string, std::optional<std::string>> fSaved;
};
