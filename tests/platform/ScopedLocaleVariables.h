// Test helper: sets the locale variables (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) for the life of a scope and
// puts the previous settings back; a null value unsets the variable.
#pragma once

#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>

class StLocaleVariables
{
public:
	StLocaleVariables(const char* language, const char* all, const char* messages, const char* lang)
	{
		const char* values[] = {language, all, messages, lang};
		for (size_t i = 0; i < std::size(kNAMES); ++i)
		{
			const char* old = getenv(kNAMES[i]);
			fSaved[i] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
			if (values[i] != nullptr)
				setenv(kNAMES[i], values[i], 1);
			else
				unsetenv(kNAMES[i]);
		}
	}
	~StLocaleVariables()
	{
		for (size_t i = 0; i < std::size(kNAMES); ++i)
		{
			if (fSaved[i])
				setenv(kNAMES[i], fSaved[i]->c_str(), 1);
			else
				unsetenv(kNAMES[i]);
		}
	}

private:
	static constexpr const char* kNAMES[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
	std::optional<std::string> fSaved[4];
};

