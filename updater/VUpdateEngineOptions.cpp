// The updater's command line: its options, the two bundle paths and how both ways of giving them agree.
#include <utility>
#include <vector>

#include "updater/VCommandLineParser.h"
#include "updater/VUpdateEngine.h"
#include "updater/mac/XPosixWorkingFolder.h"

namespace velk {

namespace {

// Compared as a user would type a path on a volume that ignores case and accents.
bool SamePathText(const VString& left, const VString& right)
{
	return left.EqualToString(right, false);
}

// A path argument that was not UTF-8 would be read as another name, maybe a look-alike bundle's beside
// it: it is refused, its bytes shown escaped. True when refused.
bool RefuseNonUTF8Path(const char* argument, const VString& value)
{
	if (VCommandLineParser::IsUTF8Argument(value))
		return false;
	VString text("invalid value for argument '");
	text.AppendCString(argument);
	text.AppendCString("' got \"");
	const VString shown = VCommandLineParser::ShownArgument(value);
	text.AppendUniChars(shown.GetCPointer(), shown.GetLength());
	text.AppendCString("\" expected a path in UTF-8");
	VCommandLineParser::PrintArgumentError(text);
	return true;
}

}  // namespace

void VUpdateEngine::FixFolderPathSpec(const VString& text, FilePathStyle style, VFilePath& path)
{
	if (text.IsEmpty())
	{
		path.Clear();
		return;
	}
	VString folder(text);
	if (folder.GetUniChar(folder.GetLength()) != u'/')
		folder.AppendUniChar(u'/');
	path.FromFullPath(folder, style);
}

int VUpdateEngine::DoParseCommandLine(VCommandLineParser& parser)
{
	bool version = false;
	VString installPath;
	VString restartParams;
	VString callerLog;
	VString logDir;
	VString clientInfo;
	VString outdatedApp;
	VString upToDateApp;
	std::vector<VString> positional;

	parser.AddParagraph(VString("\nRy Updater\n\t\tUpdates an existing Ry application residing at <path of app to update> "
								"using \t\tnewer versions tored <path of update>\n\n"));
	parser.AddOption(VString("pid"), VString("Wait for the caller's pid"), &fCallerPID);
	parser.AddOption(VString("silent"),
		VString("ensure that no message is displayed in case of error. Errors are still logged though"), &fSilent);
	parser.AddOption(VString("install-path"),
		VString("indicates where the updated app should be installed instead of <path of app to update>."), &installPath);
	parser.AddOption(VString("restart-params"),
		VString("indicates the full path to the RyLink \t\tfile that will be passed back to the restarted application. "
				"This does not \t\tapply if the application is started as a service"),
		&restartParams);
	parser.AddOption(VString("caller-log"), VString("Restart params"), &callerLog);
	parser.AddOption(VString("log-dir"), VString("specifies a folder for the updater where log file should be written"), &logDir);
	parser.AddOption(VString("client-info"),
		VString("path of the client customization file. Using this \t\toption IMPLIES that application is a Ry-based "
				"client, which incurs special processing."),
		&clientInfo);
	parser.AddOption(VString("outdated-app"), VString("Outdated application bundle path"), &outdatedApp);
	parser.AddOption(VString("uptodate-app"), VString("Up-to-date application bundle path"), &upToDateApp);
	parser.AddPositionalArguments(&positional);
	parser.AddOption(VString("restart-headless"), VString("Restart the application in headless mode."), &fRestartHeadless);
	parser.AddParagraph(VString("\nHelp:\n"));
	parser.AddOption(VString("version"), VString("Print the version and exits"), &version);

	const int result = parser.Parse();
	if (result == 0 && version)
	{
		VCommandLineParser::Print(GetProductVersion());
		return 2;
	}
	if (result != 0)
		return result;

	const size_t count = positional.size();
	bool refused = false;
	const VString none;
	for (const auto& [argument, value] : {std::pair<const char*, const VString*>{"<outdated bundle>", count > 0 ? &positional[0] : &none},
			 {"<up-to-date bundle>", count > 1 ? &positional[1] : &none}, {"--outdated-app", &outdatedApp},
			 {"--uptodate-app", &upToDateApp}, {"--install-path", &installPath}, {"--restart-params", &restartParams},
			 {"--log-dir", &logDir}, {"--client-info", &clientInfo}})
		refused = RefuseNonUTF8Path(argument, *value) || refused;
	if (refused)
		return 1;

	if (count == 1)
		return VCommandLineParser::PrintArgumentError(
			VString("not enough arguments from the command line (required <dest> <src>)\n"));
	if (count > 2)
		return VCommandLineParser::PrintArgumentError(VString("two many arguments from the command line"));

	if (count == 2)
	{
		bool outdatedMismatch = false;
		if (outdatedApp.IsEmpty())
			outdatedApp = positional[0];
		else if (!SamePathText(outdatedApp, positional[0]))
		{
			VCommandLineParser::PrintArgumentError(VString("mismatched value for option --outdated-app\n"));
			outdatedMismatch = true;
		}
		if (!upToDateApp.IsEmpty() && !SamePathText(upToDateApp, positional[1]))
			return VCommandLineParser::PrintArgumentError(VString("mismatched value for option --uptodate-app\n"));
		if (upToDateApp.IsEmpty())
			upToDateApp = positional[1];
		if (outdatedMismatch)
			return 1;
	}

	bool missing = false;
	if (upToDateApp.IsEmpty())
	{
		VCommandLineParser::PrintArgumentError(VString("mismatched value for option --uptodate-app\n"));
		missing = true;
	}
	if (outdatedApp.IsEmpty())
		return VCommandLineParser::PrintArgumentError(VString("mismatched value for option --outdated-app\n"));
	if (missing)
		return 1;

	// Relative paths are read as the shell that started the updater reads them.
	FixFolderPathSpec(XPosixWorkingFolder::MakeAbsolute(outdatedApp), FPS_POSIX, fOutdatedApplication);
	FixFolderPathSpec(XPosixWorkingFolder::MakeAbsolute(upToDateApp), FPS_POSIX, fUpToDateApplication);
	fInstallDestination = fOutdatedApplication;
	fLinkFile.FromFullPath(XPosixWorkingFolder::MakeAbsolute(restartParams), FPS_POSIX);
	fReportToCaller = !callerLog.IsEmpty();
	FixFolderPathSpec(XPosixWorkingFolder::MakeAbsolute(logDir), FPS_POSIX, fLogFolder);
	if (!clientInfo.IsEmpty())
		fClientCustomizationFile.FromFullPath(XPosixWorkingFolder::MakeAbsolute(clientInfo), FPS_POSIX);
	return 0;
}

}  // namespace velk
