// File kinds match extensions without case and type codes exactly, conform through their parents (the
// system's and the application's), and the manager keeps one kind per identifier, asking the system only
// for kinds it does not hold.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/VFailingAllocations.h"
#include "files/VFileKind.h"
#include "files/VFileKindManager.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {
namespace {

bool HasSystemTypes()
{
	return std::filesystem::exists("/usr/share/mime/globs2");
}

// Releases a retained kind at the end of the scope.
struct StKind
{
	explicit StKind(VFileKind* kind) : fKind(kind) {}
	~StKind()
	{
		if (fKind != nullptr)
			fKind->Release();
	}
	StKind(const StKind&) = delete;
	StKind& operator=(const StKind&) = delete;
	VFileKind* fKind;
};

TEST(VFileKindTest, MatchesExtensionsWithoutCaseAndTypeCodesExactly)
{
	StKind kind(VFileKind::Create("com.example.text", {"TEXT", "utf8"}, "Text", {"txt", "text"}, {}, false));
	ASSERT_NE(kind.fKind, nullptr);
	struct Row
	{
		const char* text;
		bool extension;
		bool osKind;
	};
	const Row rows[] = {
		{"txt", true, false},
		{"TXT", true, false},
		{"Text", true, false},
		{"tx", false, false},
		{"", false, false},
		{"TEXT", true, true},
		{"utf8", false, true},
		{"UTF8", false, false},
		{"TEX", false, false},
	};
	for (const Row& row : rows)
	{
		EXPECT_EQ(kind.fKind->MatchExtension(row.text), row.extension) << row.text;
		EXPECT_EQ(kind.fKind->MatchOsKind(row.text), row.osKind) << row.text;
	}

	VString preferred("stale");
	EXPECT_TRUE(kind.fKind->GetPreferredExtension(preferred));
	EXPECT_TRUE(preferred.EqualToStringRaw("txt"));
	EXPECT_TRUE(kind.fKind->GetPreferredOsKind(preferred));
	EXPECT_TRUE(preferred.EqualToStringRaw("TEXT"));
	std::vector<VString> parents{"stale"};
	EXPECT_FALSE(kind.fKind->GetParentIDs(parents));
	EXPECT_TRUE(parents.empty());

	StKind bare(VFileKind::Create("com.example.bare", {}, "", {}, {"public.data"}, false));
	ASSERT_NE(bare.fKind, nullptr);
	preferred = "stale";
	EXPECT_FALSE(bare.fKind->GetPreferredExtension(preferred));
	EXPECT_TRUE(preferred.IsEmpty());
	preferred = "stale";
	EXPECT_FALSE(bare.fKind->GetPreferredOsKind(preferred));
	EXPECT_TRUE(preferred.IsEmpty());
	EXPECT_TRUE(bare.fKind->GetParentIDs(parents));
	ASSERT_EQ(parents.size(), 1u);
	EXPECT_TRUE(parents[0].EqualToStringRaw("public.data"));
}

TEST(VFileKindTest, ConformsThroughParentsOfTheSystemAndOfTheApplication)
{
	VFileKindManager* manager = VFileKindManager::sManager;
	ASSERT_NE(manager, nullptr);
	ASSERT_TRUE(manager->RegisterPrivateFileKind("com.example.conform.note", "Note", {"note"}, {"com.example.conform.text"}));
	ASSERT_TRUE(manager->RegisterPrivateFileKind("com.example.conform.text", "Text", {}, {"text/plain"}));
	ASSERT_TRUE(manager->RegisterPrivateFileKind("com.example.conform.loop1", "", {}, {"com.example.conform.loop2"}));
	ASSERT_TRUE(manager->RegisterPrivateFileKind("com.example.conform.loop2", "", {}, {"com.example.conform.loop1"}));

	struct Row
	{
		const char* kind;
		const char* target;
		bool conforms;
		bool needsSystem;
	};
	const Row rows[] = {
		{"com.example.conform.note", "com.example.conform.note", true, false},
		{"com.example.conform.note", "COM.example.conform.TEXT", true, false},
		{"com.example.conform.note", "com.example.conform.loop1", false, false},
		{"com.example.conform.text", "com.example.conform.note", false, false},
		{"com.example.conform.loop1", "com.example.conform.note", false, false},
		{"com.example.conform.note", "com.example.conform.missing", false, false},
		{"com.example.conform.note", "text/plain", true, true},
		{"com.example.conform.note", "application/xml", false, true},
		{"image/svg+xml", "text/plain", true, true},
		{"text/plain", "image/svg+xml", false, true},
		{"text/plain", "com.example.conform.note", false, true},
	};
	for (const Row& row : rows)
	{
		if (row.needsSystem && !HasSystemTypes())
			continue;
		StKind kind(manager->RetainFileKind(row.kind));
		ASSERT_NE(kind.fKind, nullptr) << row.kind;
		EXPECT_EQ(kind.fKind->ConformsTo(VString(row.target)), row.conforms) << row.kind << " to " << row.target;
	}
}

TEST(VFileKindTest, ManagerHoldsTheTwoDialogLabels)
{
	VFileKindManager manager;
	VString label;
	manager.GetLocalizedString(0, label);
	EXPECT_TRUE(label.EqualToStringRaw("All"));
	manager.GetLocalizedString(1, label);
	EXPECT_TRUE(label.EqualToStringRaw("All readable documents"));

	manager.RegisterLocalizedString(2, "Other");
	manager.RegisterLocalizedString(-1, "Other");
	manager.RegisterLocalizedString(0, "");
	manager.RegisterLocalizedString(1, "Documents lisibles");
	manager.GetLocalizedString(0, label);
	EXPECT_TRUE(label.EqualToStringRaw("All"));
	manager.GetLocalizedString(1, label);
	EXPECT_TRUE(label.EqualToStringRaw("Documents lisibles"));
	manager.GetLocalizedString(2, label);
	EXPECT_TRUE(label.EqualToStringRaw("Documents lisibles"));
}

TEST(VFileKindTest, RegistryKeepsOneKindPerIdentifierInIdentifierOrder)
{
	VFileKindManager manager;
	ASSERT_TRUE(manager.RegisterPrivateFileKind("com.example.b", {"BDOC"}, "First", {"doc"}, {}));
	ASSERT_TRUE(manager.RegisterPrivateFileKind("com.example.b", {"BDOC"}, "Second", {"doc"}, {}));
	ASSERT_TRUE(manager.RegisterPrivateFileKind("com.example.a", {"ADOC"}, "A", {"DOC", "adoc"}, {}));

	StKind replaced(manager.RetainFileKind("com.example.b"));
	ASSERT_NE(replaced.fKind, nullptr);
	EXPECT_TRUE(replaced.fKind->GetDescription().EqualToStringRaw("Second"));
	EXPECT_FALSE(replaced.fKind->IsPublic());
	EXPECT_EQ(replaced.fKind->GetRefCount(), 2);

	struct Row
	{
		const char* text;
		bool byExtension;
		const char* expected;  // null: no kind
	};
	const Row rows[] = {
		{"doc", true, "com.example.a"},
		{"ADOC", true, "com.example.a"},
		{"BDOC", false, "com.example.b"},
		{"bdoc", false, nullptr},
		{"ADOC", false, "com.example.a"},
		{"none", false, nullptr},
	};
	for (const Row& row : rows)
	{
		StKind kind(row.byExtension ? manager.RetainFirstFileKindMatchingWithExtension(row.text)
									: manager.RetainFirstFileKindMatchingWithOsKind(row.text));
		if (row.expected == nullptr)
		{
			EXPECT_EQ(kind.fKind, nullptr) << row.text;
			continue;
		}
		ASSERT_NE(kind.fKind, nullptr) << row.text;
		EXPECT_TRUE(kind.fKind->GetID().EqualToStringRaw(row.expected)) << row.text;
	}

	StKind unknown(manager.RetainFileKind("com.example.unknown"));
	EXPECT_EQ(unknown.fKind, nullptr);
}

TEST(VFileKindTest, RegistrationShortOfMemoryKeepsThePreviousKind)
{
	VFileKindManager manager;
	const VString id("com.example.drill");
	const VString first("First");
	const VString second("Second");
	const std::vector<VString> extensions{"drill"};
	const std::vector<VString> none;
	ASSERT_TRUE(manager.RegisterPrivateFileKind(id, first, extensions, none));

	// Each run replaces the description by the other one; what each run saw is checked afterwards, as a
	// failing check would itself allocate.
	struct Outcome
	{
		bool registered = false;
		bool replaced = false;
		bool describedAsAsked = false;
	};
	std::vector<Outcome> outcomes(64);
	StErrorContextInstaller errors(false, true);
	long runs = test::ForEachAllocationFailure(
		[&](long allowed) {
			if (allowed >= long(outcomes.size()))
				return;
			Outcome& outcome = outcomes[size_t(allowed)];
			StKind before(manager.RetainFileKind(id));
			const VString& next = before.fKind->GetDescription().EqualToStringRaw(first) ? second : first;
			outcome.registered = manager.RegisterPrivateFileKind(id, next, extensions, none);
			StKind after(manager.RetainFileKind(id));
			outcome.replaced = after.fKind != before.fKind;
			outcome.describedAsAsked = after.fKind->GetDescription().EqualToStringRaw(next);
		});
	ASSERT_GT(runs, 1);
	ASSERT_LE(runs, long(outcomes.size()));
	for (long run = 0; run < runs; ++run)
	{
		const Outcome& outcome = outcomes[size_t(run)];
		EXPECT_EQ(outcome.replaced, outcome.registered) << run;
		EXPECT_EQ(outcome.describedAsAsked, outcome.registered) << run;
	}
	EXPECT_TRUE(outcomes[size_t(runs - 1)].registered);
}

TEST(VFileKindTest, SystemKindsAreMadeOnceAndKept)
{
	if (!HasSystemTypes())
		GTEST_SKIP() << "no MIME-info database";
	VFileKindManager manager;

	StKind plain(manager.RetainFileKind("text/plain"));
	ASSERT_NE(plain.fKind, nullptr);
	EXPECT_TRUE(plain.fKind->IsPublic());
	EXPECT_TRUE(plain.fKind->MatchExtension("TXT"));
	EXPECT_FALSE(plain.fKind->GetDescription().IsEmpty());
	VString osKind("stale");
	EXPECT_FALSE(plain.fKind->GetPreferredOsKind(osKind));
	StKind again(manager.RetainFileKind("TEXT/PLAIN"));
	EXPECT_EQ(again.fKind, plain.fKind);
	EXPECT_EQ(plain.fKind->GetRefCount(), 3);

	StKind csv(manager.RetainFirstFileKindMatchingWithExtension("CSV"));
	ASSERT_NE(csv.fKind, nullptr);
	EXPECT_TRUE(csv.fKind->GetID().EqualToStringRaw("text/csv"));
	EXPECT_TRUE(csv.fKind->ConformsTo(*plain.fKind));
	StKind csvAgain(manager.RetainFirstFileKindMatchingWithExtension("csv"));
	EXPECT_EQ(csvAgain.fKind, csv.fKind);

	StKind noType(manager.RetainFirstFileKindMatchingWithExtension("no-such-extension"));
	EXPECT_EQ(noType.fKind, nullptr);
	StKind noCode(manager.RetainFirstFileKindMatchingWithOsKind("TEXT"));
	EXPECT_EQ(noCode.fKind, nullptr);
}

}  // namespace
}  // namespace velk
