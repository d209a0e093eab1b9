// The updater's test build stopped at every operation where it can be killed, in the order a run reaches
// them (a listing run names them), and at random moments, in several worlds: a plain update, a file system
// that cannot exchange folders, a linked place, a new executable that cannot start, no usable Trash, and
// the run that recovers itself killed at each of its own operations. After each kill the same command runs
// again (and, where that run does not end as a clean one, once more), and what a user would find is
// checked: a version that can start at the place (at the latest after the run that follows), the version
// that worked never trashed or deleted before the new one started, nothing of the updater's beside the
// place once a run succeeds, no run stuck for good, and every log line that says where a bundle stands
// true of the folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "updater/VUpdaterFaultsFixture.h"

namespace velk {

namespace {

namespace fs = std::filesystem;
using namespace test;
using Trees = std::map<std::string, std::string>;

constexpr const char* kStagingPrefix = ".velk-new-";
constexpr int kWorkers = 4;

// A world the update runs in.
struct Scenario
{
	const char* fName;
	std::vector<std::string> fFaults;  // in the environment of every run
	bool fLinkedPlace = false;         // v1/Sample.app is a link to ../apps/Real.app, the bundle updated
	bool fCannotStart = false;         // the new executable names an interpreter that does not exist
	bool fNoTrash = false;             // a file stands where the Trash would be made
};

// One operation to stop at, as VELK_TEST_KILL_AT names it.
struct Point
{
	std::string fSpec;  // "<operation>:<name>[#n]"
	std::string fLabel;
};

// A staging name bears its process's id: it is named by its prefix, which every run's shares.
std::string Pattern(const std::string& name)
{
	const size_t at = name.find(kStagingPrefix);
	return at == std::string::npos ? name : name.substr(0, at + std::strlen(kStagingPrefix)) + "*";
}

// The points a listing run reached, in order, each with the count that names it among the operations of
// the same pattern.
std::vector<Point> PointsOf(const std::string& listing, size_t limit = std::string::npos)
{
	std::vector<Point> points;
	std::map<std::string, int> seen;
	std::istringstream lines(listing);
	for (std::string line; std::getline(lines, line) && points.size() < limit;)
	{
		const size_t space = line.find(' ');
		if (space == std::string::npos)
			continue;
		const std::string key = line.substr(0, space) + ":" + Pattern(line.substr(space + 1));
		const int count = ++seen[key];
		points.push_back({key + "#" + std::to_string(count), line + " #" + std::to_string(count)});
	}
	return points;
}

// One scene: the sample bundles, the home and XDG folders, the dialog sink and the record of starts.
class Scene
{
public:
	Scene(const std::string& folder, const Scenario& scenario)
		: fFolder(folder)
		, fScenario(scenario)
	{
	}

	// Copies the template scene (made once per scenario) into this one's folder.
	bool MakeFrom(const std::string& templateFolder, std::string& problem)
	{
		std::error_code ignored;
		fs::create_directories(fs::path(fFolder).parent_path().parent_path(), ignored);
		const test::VChildRun copied = test::RunChild("/bin/cp", {"-a", templateFolder, fFolder});
		if (!EndedAs(copied.fStatus, 0))
			problem = "the scene could not be copied: " + copied.fErrors;
		return problem.empty();
	}

	std::string Place() const { return fFolder + (fScenario.fLinkedPlace ? "samples/apps/Real.app" : "samples/v1/Sample.app"); }
	std::string Stem() const { return fScenario.fLinkedPlace ? "Real" : "Sample"; }
	std::string Beside() const { return fs::path(Place()).parent_path().string(); }
	std::string Outdated() const { return fFolder + "samples/v1/Sample.app"; }
	std::string UpToDate() const { return fFolder + "samples/v2/Sample.app"; }
	std::string Logs() const { return fFolder + "logs"; }

	std::vector<std::string> Environment(const std::vector<std::string>& extra) const
	{
		std::vector<std::string> environment{"HOME=" + fFolder + "home", "XDG_DATA_HOME=" + fFolder + "data",
			"XDG_CONFIG_HOME=" + fFolder + "config", "XDG_CACHE_HOME=" + fFolder + "cache",
			"VELK_NOTIFICATION_SINK=" + fFolder + "sink", "DISPLAY=", "WAYLAND_DISPLAY=",
			"SAMPLE_RECORD=" + fFolder + "record.txt", "VELK_TEST_RETRY_DELAY_MS=10",
			// Hundreds of runs of the same code: the leak check at each exit, which the other suites make,
			// would cost a third of their time.
			"ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1"};
		environment.insert(environment.end(), fScenario.fFaults.begin(), fScenario.fFaults.end());
		environment.insert(environment.end(), extra.begin(), extra.end());
		return environment;
	}

	// The same command every time, with a log of this run only.
	test::VChildRun Run(const std::vector<std::string>& extra = {}) const
	{
		fs::remove_all(Logs());
		return test::RunChild(test::TestingUpdater(), {"--log-dir", Logs(), Outdated(), UpToDate()}, Environment(extra),
			test::kRunBound);
	}

	// Whether version 2.0 recorded a start; a start the opener reported reaches the record soon after.
	bool NewStarted(int waitMs) const
	{
		for (int waited = 0;; waited += 20)
		{
			if (ReadWhole(fFolder + "record.txt").find("version 2.0\n") != std::string::npos)
				return true;
			if (waited >= waitMs)
				return false;
			::usleep(20000);
		}
	}

	// Every entry beside the place and in the Trash that holds tree whole, by path.
	std::vector<std::string> FindWhole(const Trees& tree, bool inTrash) const
	{
		std::vector<std::string> found;
		const std::string folder = inTrash ? fFolder + "data/Trash/files" : Beside();
		if (!fs::is_directory(folder))
			return found;
		for (const fs::directory_entry& entry : fs::directory_iterator(folder))
		{
			if (!entry.is_symlink() && entry.is_directory() && Tree(entry.path().string()) == tree)
				found.push_back(entry.path().string());
		}
		return found;
	}

	std::vector<std::string> NamesBeside() const
	{
		std::vector<std::string> names;
		for (const fs::directory_entry& entry : fs::directory_iterator(Beside()))
			names.push_back(entry.path().filename().string());
		std::sort(names.begin(), names.end());
		return names;
	}

	const std::string fFolder;
	const Scenario& fScenario;
};

// What a run of the scenario that nothing stops ends with.
struct CleanOutcome
{
	int fExit = 0;
	Trees fPlace;
	std::string fListing;  // the points it passed
	int fMilliseconds = 0;
};

std::string Describe(const test::VChildRun& run, const Scene& scene)
{
	return Ending(run.fStatus) + "\n" + Joined(test::LogLines(scene.Logs()));
}

}  // namespace

class VUpdaterCrashPointTest : public test::VUpdaterRunTest
{
protected:
	// Makes the scenario's template scene: the sample bundles (the installed tree with an extended
	// attribute), moved behind a link or given a broken executable as the scenario asks, and the trees of
	// both versions as they are made.
	void MakeTemplate(const Scenario& scenario, const std::string& folder)
	{
		MakeScene(folder);
		ASSERT_FALSE(HasFatalFailure());
		const std::string attributed = fOld + "/" + test::kAttributeFile;
		ASSERT_EQ(::lsetxattr(attributed.c_str(), test::kAttributeName, test::kAttributeValue,
					  std::strlen(test::kAttributeValue), 0), 0);
		if (scenario.fCannotStart)
			std::ofstream(fNew + "/Contents/MacOS/Sample", std::ios::trunc) << "#!/nonexistent/sh\n";
		if (scenario.fNoTrash)
		{
			fs::create_directories(folder + "data");
			std::ofstream(folder + "data/Trash") << "a file where the Trash should be";
		}
		fOldTree = Tree(fOld);
		fNewTree = Tree(fNew);
		if (scenario.fLinkedPlace)
		{
			fs::create_directories(folder + "samples/apps");
			fs::rename(fOld, folder + "samples/apps/Real.app");
			fs::create_directory_symlink("../apps/Real.app", fOld);
		}
	}

	// A clean run in a scene of its own, listing its points.
	CleanOutcome RunClean(const Scenario& scenario, const std::string& templateFolder, const std::string& folder)
	{
		CleanOutcome outcome;
		Scene scene(folder, scenario);
		std::string problem;
		EXPECT_TRUE(scene.MakeFrom(templateFolder, problem)) << problem;
		const long start = test::NowMilliseconds();
		const test::VChildRun run = scene.Run({"VELK_TEST_POINT_LOG=" + folder + "points"});
		outcome.fMilliseconds = int(test::NowMilliseconds() - start);
		outcome.fExit = WIFEXITED(run.fStatus) ? WEXITSTATUS(run.fStatus) : -1;
		outcome.fPlace = Tree(scene.Place());
		outcome.fListing = ReadWhole(folder + "points");
		const int expected = scenario.fCannotStart || scenario.fNoTrash ? 2 : 0;
		EXPECT_EQ(outcome.fExit, expected) << scenario.fName << ": " << Describe(run, scene);
		EXPECT_EQ(outcome.fPlace, scenario.fCannotStart ? fOldTree : fNewTree) << scenario.fName;
		// The same command again, twice, on what a complete run leaves: it ends the same way each time.
		std::vector<std::string> problems;
		for (const char* when : {"run again after a clean run", "run twice after a clean run"})
		{
			const test::VChildRun again = scene.Run();
			CheckNothingLost(scene, when, problems);
			CheckSettled(scene, again, outcome, when, problems);
		}
		EXPECT_TRUE(problems.empty()) << Joined(problems);
		return outcome;
	}

	// What a user finds after any run: the version that worked is at the place or beside it, unless the new
	// one started (then it may be in the Trash, or deleted where there is no Trash).
	void CheckNothingLost(const Scene& scene, const char* when, std::vector<std::string>& problems) const
	{
		const bool atPlace = Tree(scene.Place()) == fOldTree;
		const bool beside = !scene.FindWhole(fOldTree, false).empty();
		const bool trashed = !scene.FindWhole(fOldTree, true).empty();
		if (atPlace || beside)
			return;
		if (!scene.NewStarted(3000))
			problems.push_back(std::string(when) + ": the version that worked is " + (trashed ? "in the Trash" : "gone") +
				" though the new one never started");
		else if (!trashed && !scene.fScenario.fNoTrash)
			problems.push_back(std::string(when) + ": the version that worked is gone although a Trash was there");
	}

	// After a run that ended as a clean run ends: the place holds what a clean run leaves, and beside it
	// nothing of the updater's but what that run keeps (the copy that could not start).
	void CheckSettled(const Scene& scene, const test::VChildRun& run, const CleanOutcome& clean, const char* when,
		std::vector<std::string>& problems) const
	{
		if (!EndedAs(run.fStatus, clean.fExit))
		{
			problems.push_back(std::string(when) + ": ended with " + Describe(run, scene));
			return;
		}
		if (Tree(scene.Place()) != clean.fPlace)
			problems.push_back(std::string(when) + ": the place does not hold what a clean run leaves");
		int failedCopies = 0;
		for (const std::string& name : scene.NamesBeside())
		{
			if (name.find(".velk") != std::string::npos || name.rfind(scene.Stem() + "_old", 0) == 0)
				problems.push_back(std::string(when) + ": left beside the place: " + name);
			failedCopies += name.rfind(scene.Stem() + "_failed", 0) == 0 ? 1 : 0;
		}
		if (failedCopies != (scene.fScenario.fCannotStart ? 1 : 0))
			problems.push_back(std::string(when) + ": " + std::to_string(failedCopies) + " failed copies beside the place");
		const std::string info = scene.fFolder + "data/Trash/info";
		if (fs::is_directory(info))
		{
			for (const fs::directory_entry& entry : fs::directory_iterator(info))
			{
				const std::string name = entry.path().filename().string();
				const std::string item = name.substr(0, name.size() - std::strlen(".trashinfo"));
				if (!fs::exists(fs::symlink_status(scene.fFolder + "data/Trash/files/" + item)))
					problems.push_back(std::string(when) + ": orphan Trash record " + name);
			}
		}
		if (scene.fScenario.fLinkedPlace && fs::read_symlink(scene.Outdated()) != "../apps/Real.app")
			problems.push_back(std::string(when) + ": the link to the place was changed");
	}

	// Every log line of the run that says where a bundle stands, or what was deleted, checked against the
	// folder as the run left it; the run stopped before anything moved again.
	void CheckClaims(const Scene& scene, std::vector<std::string>& problems) const
	{
		auto strip = [](std::string path) {
			while (path.size() > 1 && path.back() == '/')
				path.pop_back();
			return path;
		};
		auto after = [](const std::string& message, const std::string& piece, const std::string& end) {
			const size_t at = message.find(piece);
			if (at == std::string::npos)
				return std::string();
			const size_t from = at + piece.size();
			const size_t to = end.empty() ? std::string::npos : message.find(end, from);
			return message.substr(from, to == std::string::npos ? std::string::npos : to - from);
		};
		struct Claim
		{
			const char* fPiece;
			const char* fEnd;
			std::function<bool(const std::string&)> fHolds;
		};
		const Claim claims[] = {
			{"The outdated application is back at ", ";", [&](const std::string& path) { return Tree(path) == fOldTree; }},
			{"the up-to-date one, which could not start, is kept at ", "", [&](const std::string& path) { return Tree(path) == fNewTree; }},
			{"The outdated application of the interrupted update is kept at ", "",
				[&](const std::string& path) { return Tree(path) == fOldTree; }},
			{"the up-to-date copy stays at ", "", [&](const std::string& path) { return Tree(path) == fNewTree; }},
			{"An outdated application is left beside the application's place at ", "",
				[](const std::string& path) { return fs::is_directory(fs::symlink_status(path)); }},
			{"Deleted ", ", left by process", [](const std::string& path) { return !fs::exists(fs::symlink_status(path)); }},
			{"Keeping ", ", left by process", [](const std::string& path) { return fs::exists(fs::symlink_status(path)); }},
		};
		for (const std::string& message : LogMessages(scene.Logs()))
		{
			for (const Claim& claim : claims)
			{
				if (message.rfind(claim.fPiece, 0) != 0 && message.find(std::string("; ") + claim.fPiece) == std::string::npos)
					continue;
				const std::string path = strip(after(message, claim.fPiece, claim.fEnd));
				if (!path.empty() && !claim.fHolds(path))
					problems.push_back("untrue: " + message);
			}
		}
	}

	// One point: in a scene of its own, the run killed there, then the same command, paused at its first copy
	// so that what its recovery logged is checked against the folder before the update goes on, then, when
	// that run did not end as a clean run ends, the same command once more, which must.
	std::vector<std::string> CheckPoint(const Scenario& scenario, const std::string& templateFolder,
		const std::string& folder, const CleanOutcome& clean, const std::vector<std::string>& firstKill,
		const std::function<void(Scene&)>& stop)
	{
		std::vector<std::string> problems;
		Scene scene(folder + "scene/", scenario);
		std::string problem;
		if (!scene.MakeFrom(templateFolder, problem))
			return {problem};
		for (const std::string& kill : firstKill)
		{
			const test::VChildRun killed = scene.Run({"VELK_TEST_KILL_AT=" + kill});
			if (!EndedAs(killed.fStatus, test::kKilled))
				return {"the run was not killed at " + kill + ": " + Describe(killed, scene)};
		}
		stop(scene);
		CheckNothingLost(scene, "killed", problems);

		const std::string pause = folder + "paused";
		fs::remove_all(scene.Logs());
		test::VChildProcess again(test::TestingUpdater(), {"--log-dir", scene.Logs(), scene.Outdated(), scene.UpToDate()},
			scene.Environment({"VELK_TEST_PAUSE_AT=copy:*", "VELK_TEST_PAUSE_FILE=" + pause}));
		if (!again.Start())
			return {"the run again could not start"};
		// Paused (its recovery done, its log written out) or ended.
		const long end = test::NowMilliseconds() + test::kRunBound;
		bool paused = false;
		while (!paused && !HasEnded(again.GetPid()) && test::NowMilliseconds() < end)
		{
			paused = fs::exists(pause) && Logged(scene, "Proceeding with up-to-date application install...");
			::usleep(10000);
		}
		if (paused)
		{
			CheckClaims(scene, problems);
			CheckNothingLost(scene, "recovered", problems);
		}
		fs::remove(pause);
		test::VChildRun run;
		run.fStatus = again.Wait(test::kRunBound);
		if (!paused)
			CheckClaims(scene, problems);
		CheckNothingLost(scene, "run again", problems);
		std::vector<std::string> unsettled;
		CheckSettled(scene, run, clean, "run again", unsettled);

		// A run that settled leaves what a clean run leaves, from which the same command was run again with
		// the clean run; one that did not must be put right by the run that follows.
		if (!unsettled.empty())
		{
			const test::VChildRun twice = scene.Run();
			CheckNothingLost(scene, "run twice", problems);
			const size_t before = problems.size();
			CheckSettled(scene, twice, clean, "run twice", problems);
			if (problems.size() != before)
				problems.insert(problems.end(), unsettled.begin(), unsettled.end());
		}
		fs::remove_all(folder);
		return problems;
	}

	// Whether the process has ended (a zombie not yet collected counts).
	static bool HasEnded(pid_t pid)
	{
		const std::string stat = ReadWhole("/proc/" + std::to_string(pid) + "/stat");
		const size_t close = stat.rfind(')');
		return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z' || stat[close + 2] == 'X';
	}

	static bool Logged(const Scene& scene, const std::string& message)
	{
		const std::vector<std::string> messages = LogMessages(scene.Logs());
		return std::find(messages.begin(), messages.end(), message) != messages.end();
	}

	// Runs the checks on a few threads, each point in scenes of its own, and reports every problem by point.
	void CheckAll(const std::vector<std::pair<std::string, std::function<std::vector<std::string>(const std::string&)>>>& checks)
	{
		std::atomic<size_t> next{0};
		std::mutex lock;
		std::vector<std::string> report;
		std::vector<std::thread> workers;
		for (int worker = 0; worker < kWorkers; ++worker)
		{
			workers.emplace_back([&] {
				for (size_t index = next++; index < checks.size(); index = next++)
				{
					const std::vector<std::string> problems = checks[index].second(fRoot + "p" + std::to_string(index) + "/");
					const std::lock_guard<std::mutex> guard(lock);
					for (const std::string& problem : problems)
						report.push_back(checks[index].first + ": " + problem);
				}
			});
		}
		for (std::thread& worker : workers)
			worker.join();
		CollectOrphans();
		EXPECT_TRUE(report.empty()) << report.size() << " problems:\n" << Joined(report);
	}

	// Every point of the scenario, then random moments of a run.
	void CheckScenario(const Scenario& scenario, int randomKills)
	{
		const std::string templateFolder = fRoot + "template/";
		MakeTemplate(scenario, templateFolder);
		ASSERT_FALSE(HasFatalFailure());
		const CleanOutcome clean = RunClean(scenario, templateFolder, fRoot + "clean/");
		const std::vector<Point> points = PointsOf(clean.fListing);
		ASSERT_GE(points.size(), 20u) << clean.fListing;
		std::vector<std::pair<std::string, std::function<std::vector<std::string>(const std::string&)>>> checks;
		for (const Point& point : points)
		{
			checks.emplace_back(point.fLabel, [&, point](const std::string& folder) {
				return CheckPoint(scenario, templateFolder, folder, clean, {point.fSpec}, [](Scene&) {});
			});
		}
		std::mt19937 random(20261211);
		std::uniform_int_distribution<int> moment(0, std::max(clean.fMilliseconds, 1));
		for (int kill = 0; kill < randomKills; ++kill)
		{
			const int delay = moment(random);
			checks.emplace_back("killed after " + std::to_string(delay) + " ms", [&, delay](const std::string& folder) {
				return CheckPoint(scenario, templateFolder, folder, clean, {}, [&, delay](Scene& scene) {
					fs::remove_all(scene.Logs());
					test::VChildProcess child(test::TestingUpdater(), {"--log-dir", scene.Logs(), scene.Outdated(), scene.UpToDate()},
						scene.Environment({}));
					if (!child.Start())
						return;
					::usleep(useconds_t(delay) * 1000);
					child.Signal(SIGKILL);
					child.Wait(test::kRunBound);
				});
			});
		}
		std::cout << "[ points   ] " << scenario.fName << ": " << points.size() << " points, " << randomKills
				  << " random kills, a clean run takes " << clean.fMilliseconds << " ms" << std::endl;
		CheckAll(checks);
	}

	Trees fOldTree;
	Trees fNewTree;
};

TEST_F(VUpdaterCrashPointTest, PlainUpdate)
{
	CheckScenario({"plain update", {}}, 6);
}

TEST_F(VUpdaterCrashPointTest, FileSystemThatCannotExchange)
{
	CheckScenario({"no exchange", {"VELK_RENAME_FLAGS_REFUSED=1"}}, 2);
}

TEST_F(VUpdaterCrashPointTest, LinkedPlace)
{
	Scenario scenario{"linked place", {"VELK_RENAME_FLAGS_REFUSED=1"}};
	scenario.fLinkedPlace = true;
	CheckScenario(scenario, 2);
}

TEST_F(VUpdaterCrashPointTest, NewExecutableThatCannotStart)
{
	Scenario scenario{"cannot start", {}};
	scenario.fCannotStart = true;
	CheckScenario(scenario, 2);
}

TEST_F(VUpdaterCrashPointTest, NoUsableTrash)
{
	Scenario scenario{"no Trash", {}};
	scenario.fNoTrash = true;
	CheckScenario(scenario, 2);
}

// The run that recovers killed in turn at each of its own operations, up to the first record of the update
// it then makes, after a first run killed in each state that recovery acts on.
TEST_F(VUpdaterCrashPointTest, RecoveryKilled)
{
	const Scenario scenario{"recovery killed", {}};
	const std::string templateFolder = fRoot + "template/";
	MakeTemplate(scenario, templateFolder);
	ASSERT_FALSE(HasFatalFailure());
	const CleanOutcome clean = RunClean(scenario, templateFolder, fRoot + "clean/");
	// One kill in each state that recovery acts on: swapping with the old bundle at the staging name, then
	// aside; installed; started, at the Trash.
	const std::vector<std::string> firstKills = {"rename:.Sample.app.velk-new-*#1", "journal:.Sample.app.velk-update#3",
		"journal:.Sample.app.velk-update#4", "trash:Sample_old0001.app#1"};
	for (const std::string& kill : firstKills)
		ASSERT_NE(clean.fListing.find(kill.substr(kill.find(':') + 1, kill.find_first_of("*#") - kill.find(':') - 1)), std::string::npos) << kill;
	std::vector<std::pair<std::string, std::function<std::vector<std::string>(const std::string&)>>> checks;
	size_t count = 0;
	for (const std::string& first : firstKills)
	{
		// The recovering run's own points, listed by a run after the same first kill.
		Scene listing(fRoot + "listing" + std::to_string(count++) + "/", scenario);
		std::string problem;
		ASSERT_TRUE(listing.MakeFrom(templateFolder, problem)) << problem;
		ASSERT_TRUE(EndedAs(listing.Run({"VELK_TEST_KILL_AT=" + first}).fStatus, test::kKilled)) << first;
		listing.Run({"VELK_TEST_POINT_LOG=" + listing.fFolder + "points"});
		const std::string points = ReadWhole(listing.fFolder + "points");
		// Up to the second journal write: the record cleared, then the first record of the new update.
		size_t journals = 0;
		size_t limit = 0;
		for (const Point& point : PointsOf(points))
		{
			++limit;
			if (point.fSpec.rfind("journal:", 0) == 0 && ++journals == 2)
				break;
		}
		for (const Point& point : PointsOf(points, limit))
		{
			checks.emplace_back(first + " then " + point.fLabel, [&, first, point](const std::string& folder) {
				return CheckPoint(scenario, templateFolder, folder, clean, {first, point.fSpec}, [](Scene&) {});
			});
		}
	}
	std::cout << "[ points   ] " << scenario.fName << ": " << firstKills.size() << " first kills, " << checks.size()
			  << " points of the recovering run" << std::endl;
	CheckAll(checks);
}

}  // namespace velk
