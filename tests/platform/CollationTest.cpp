// The platform collators: one shared collator per locale and strength, used by several threads at once.
#include "platform/Collation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/Locale.h"

namespace {

struct LocaleRef
{
	explicit LocaleRef(const char* tag) : fLocale(plat::Locale::Create(tag)) {}
	~LocaleRef()
	{
		if (fLocale != nullptr)
			fLocale->Release();
	}
	plat::Locale* fLocale;
};

TEST(CollationTest, OneSharedCollatorPerLocaleAndStrength)
{
	LocaleRef swedish("sv-SE");
	LocaleRef swedishAgain("sv-SE");
	LocaleRef german("de");
	ASSERT_TRUE(swedish.fLocale && swedishAgain.fLocale && german.fLocale);
	const plat::Collator* with = plat::Collator::Get(*swedish.fLocale, true);
	const plat::Collator* without = plat::Collator::Get(*swedish.fLocale, false);
	ASSERT_TRUE(with && without);
	EXPECT_NE(with, without);
	EXPECT_EQ(with, plat::Collator::Get(*swedishAgain.fLocale, true));
	EXPECT_EQ(without, plat::Collator::Get(*swedishAgain.fLocale, false));
	EXPECT_NE(with, plat::Collator::Get(*german.fLocale, true));
}

TEST(CollationTest, ThreadsShareOneCollator)
{
	LocaleRef french("fr");
	ASSERT_TRUE(french.fLocale);
	// Several threads ask for the collator at once and use it for comparisons and searches together.
	std::atomic<int> mismatches{0};
	std::vector<std::thread> threads;
	std::vector<const plat::Collator*> seen(6, nullptr);
	for (size_t t = 0; t < seen.size(); ++t)
	{
		threads.emplace_back([&, t] {
			const bool withDiacritics = (t % 2) == 0;
			const plat::Collator* collator = plat::Collator::Get(*french.fLocale, withDiacritics);
			seen[t] = collator;
			if (collator == nullptr)
				return;
			const std::u16string text = u"le c\u00F4te de P\u00E2ques";
			const std::u16string upper = u"C\u00D4TE";
			for (int i = 0; i < 300; ++i)
			{
				int32_t start = -1;
				int32_t length = -1;
				const bool found = collator->Find(text.data(), int32_t(text.size()), upper.data(), int32_t(upper.size()), &start, &length);
				const int order = collator->Compare(u"cote", 4, u"c\u00F4te", 5);
				if (found == withDiacritics || (found && (start != 3 || length != 4)) || order != (withDiacritics ? -1 : 0))
					++mismatches;
			}
		});
	}
	for (std::thread& thread : threads)
		thread.join();
	for (size_t t = 0; t < seen.size(); ++t)
		EXPECT_EQ(seen[t % 2], seen[t]);
	EXPECT_NE(nullptr, seen[0]);
	EXPECT_EQ(0, mismatches.load());
}

}  // namespace
