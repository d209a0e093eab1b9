// The updater's own error codes (signature 'UPRy'), their texts in the bundle's localization files.
#pragma once

#include "runtime/VError.h"

namespace velk {

constexpr OsType kUPDATER_SIGNATURE = FourCharCode("UPRy");

constexpr VError VE_UPDATER_CALLER_WAIT_FAILED = MakeVError(kUPDATER_SIGNATURE, 1);
constexpr VError VE_UPDATER_UPTODATE_APP_MISSING = MakeVError(kUPDATER_SIGNATURE, 2);
constexpr VError VE_UPDATER_OUTDATED_APP_MISSING = MakeVError(kUPDATER_SIGNATURE, 3);
constexpr VError VE_UPDATER_FILE_COPY_FAILED = MakeVError(kUPDATER_SIGNATURE, 8);
constexpr VError VE_UPDATER_RENAME_OUTDATED_APP_FAILED = MakeVError(kUPDATER_SIGNATURE, 11);
constexpr VError VE_UPDATER_INSTALL_FOLDER_NOT_CREATED = MakeVError(kUPDATER_SIGNATURE, 12);
constexpr VError VE_UPDATER_COPY_UPTODATE_APP_FAILED = MakeVError(kUPDATER_SIGNATURE, 13);
constexpr VError VE_UPDATER_SAME_OR_NESTED_APPS = MakeVError(kUPDATER_SIGNATURE, 14);
constexpr VError VE_UPDATER_UPDATE_UNDER_WAY = MakeVError(kUPDATER_SIGNATURE, 15);
constexpr VError VE_UPDATER_EXECUTABLE_NOT_RUNNABLE = MakeVError(kUPDATER_SIGNATURE, 16);
constexpr VError VE_UPDATER_RECOVERY_FAILED = MakeVError(kUPDATER_SIGNATURE, 17);
constexpr VError VE_UPDATER_CLIENT_INFO_INVALID = MakeVError(kUPDATER_SIGNATURE, 41);
constexpr VError VE_UPDATER_INSTALL_FAILED = MakeVError(kUPDATER_SIGNATURE, 100);
constexpr VError VE_UPDATER_LOG_NOT_STARTED = MakeVError(kUPDATER_SIGNATURE, 101);
constexpr VError VE_UPDATER_RELAUNCH_FAILED = MakeVError(kUPDATER_SIGNATURE, 120);

}  // namespace velk
