#include "setup/main_sequence.h"

#include "driver/driver_pass.h"
#include "res/resource.h"
#include "setup/command_line.h"
#include "setup/hand_over.h"
#include "setup/os_requirement.h"
#include "core/platform.h"
#include "setup/restart.h"
#include "setup/run_lock.h"
#include "log/debug_log.h"
#include "config/setup_file.h"
#include "core/setup_state.h"
#include "core/system_libraries.h"
#include "ui/message_boxes.h"
#include "utility/installer_wait.h"
#include "utility/package_cache.h"
#include "utility/package_info.h"
#include "utility/utility_install.h"
#include "utility/utility_removal.h"

namespace {

bool IsOptionLead(wchar_t c)
{
    return c == L'-' || c == L'/';
}

// Every argument must be an option; the first that is not ends the check.
bool CheckOptions(int count, wchar_t** arguments)
{
    for (int index = 1; index < count; ++index) {
        OptionVerdict verdict = CheckOption(arguments[index]);
        if (verdict == kOptionInvalid) {
            return false;
        }
        if (verdict == kOptionQuiet) {
            g_setup.quietMode = 1;
        }
    }
    return true;
}

// Looks for a quiet option without judging the others, for a run that ends
// before the options are checked.
bool HasQuietOption(int count, wchar_t** arguments)
{
    for (int index = 1; index < count; ++index) {
        if (CheckOption(arguments[index]) == kOptionQuiet) {
            return true;
        }
    }
    return false;
}

// A driver pass that failed ends the run with 87, so that deployment tools do
// not record it as a success.
int ReportDriverPass(int driverResult, bool utilityInstalled)
{
    // The installer's restart is offered like the driver's.
    if (driverResult == kDriverNeedsRestart || (driverResult == kDriverCurrent && g_setup.restartNeeded == 1)) {
        RebootSystem();
        return GetRestartExitCode();
    }
    if (driverResult != kDriverCurrent) {
        ShowFailure(kDriverPassFailed);
        if (g_setup.restartNeeded == 1) {
            RebootSystem();
        }
        return kDriverPassFailed;
    }
    if (utilityInstalled) {
        ShowCompleted();
    } else {
        ShowMessage(IDS_ALREADY_INSTALLED, MB_OK);
    }
    return kExitSuccess;
}

// Installs the utility, or upgrades an older one. 0 when done or skipped,
// with *installed telling which; otherwise the number of the failure. A
// package that cannot be read is a failure, reported before anything changes.
int RunUtilityStage(bool* installed)
{
    *installed = false;
    int package = ReadPackageInfo();
    if (package != 0) {
        return package == kNoPackage ? 0 : package;
    }
    wchar_t installedVersion[kInstalledVersionCapacity] = L"";
    int found = GetInstalledUtilityVersion(installedVersion);
    if (found == kInstalledVersionUnreadable) {
        return 0;
    }
    if (found == 1 && !IsNewerUtilityVersion(installedVersion)) {
        return 0;
    }
    // msiexec would answer 1618 while another installation runs, after the
    // settings were saved, or between the removal and the installation.
    int waited = WaitForWindowsInstaller(found == 1 ? IDS_REMOVING : IDS_INSTALLING);
    if (waited != 0) {
        return waited;
    }
    if (found == 1) {
        int removed = UninstallUtil();
        if (g_setup.previousVersionRemoved == 1) {
            RemoveCachedVersion(g_setup.productCode, installedVersion);
        }
        if (removed != 0) {
            return removed;
        }
    }
    *installed = true;
    return InstallUtil();
}

int RunConfirmedSetup()
{
    bool utilityInstalled = false;
    int failure = RunUtilityStage(&utilityInstalled);
    if (failure == ERROR_SUCCESS_REBOOT_INITIATED) {
        // Windows is restarting: a box would wait in vain, a driver pass would
        // be cut off.
        return failure;
    }
    if (failure != 0) {
        failure = ReportableFailure(failure);
        ShowFailure(failure);
        return failure;
    }
    return ReportDriverPass(RunDriverPass(kUpdateMode), utilityInstalled);
}

// From the OS check on, with the run lock held.
int RunCheckedSetup()
{
    if (!CheckOsRequirement()) {
        ShowMessage(IDS_OS_NOT_SUPPORTED, MB_ICONERROR);
        return kExitRefused;
    }
    int status = 0;
    if (!DetectDevices(&status)) {
        ShowMessage(status == kDeviceAbsent ? IDS_NO_CONTROLLER : IDS_NO_FILES, MB_ICONERROR);
        return kExitRefused;
    }
    // What is asked about is what is installed, whatever happens to the
    // product folder meanwhile.
    CopyPackageToCache();
    int exitCode = AskYesNo(g_setup.driverOnly == 1 ? IDS_CONFIRM_DRIVER : IDS_CONFIRM_UTILITY) ? RunConfirmedSetup()
                                                                                                : kExitDeclined;
    RemovePackageCopyUnlessKept();
    return exitCode;
}

// A second run ends before it reads the machine, so that it neither changes
// anything nor decides on what the first run is changing.
int RunAlone()
{
    HANDLE lock = NULL;
    if (!TakeRunLock(&lock)) {
        LogMessage(L"Another setup is running");
        ShowFailure(kExitAlreadyRunning);
        return kExitAlreadyRunning;
    }
    int exitCode = RunCheckedSetup();
    ReleaseRunLock(lock);
    return exitCode;
}

int RunMainSequence(int count, wchar_t** arguments)
{
    if (!LocateSetupFile()) {
        // Shown in quiet mode too, but a quiet run must not wait on a box
        // where nobody sees it.
        g_setup.quietMode = HasQuietOption(count, arguments) ? 1 : 0;
        ShowMessageEvenWhenQuiet(IDS_NO_FILES, MB_ICONERROR);
        return kExitNoSetupFile;
    }
    if (!CheckOptions(count, arguments)) {
        return kExitRefused;
    }
    // Before the version check: OSVER 6.0 or later is never met under WOW64.
    // Before the lock too: the edition handed over to takes it.
    if (!Is64BitBuild() && IsRunningUnderWow64()) {
        return HandOverTo64BitSetup();
    }
    return RunAlone();
}

}  // namespace

// 1, 2 and 3 are the setup's own answers (Inst.Inf missing, the user said No,
// refused). A step's number that would read as one of them, such as an
// uninstall program's 1 or Windows' ERROR_FILE_NOT_FOUND, is reported as
// 1603, Windows Installer's "fatal error during installation"; the log keeps
// the step's own.
int ReportableFailure(int failure)
{
    if (failure < kExitNoSetupFile || failure > kExitRefused) {
        return failure;
    }
    LogMessage(L"Failed with %d, reported as %d", failure, kExitStepFailed);
    return kExitStepFailed;
}

OptionVerdict CheckOption(const wchar_t* argument)
{
    if (!IsOptionLead(argument[0])) {
        return kOptionInvalid;
    }
    wchar_t letter = argument[1];
    if (letter == L'D' || letter == L'U') {
        return kOptionAccepted;
    }
    if (letter != L'Q' && letter != L'q') {
        return kOptionInvalid;
    }
    wchar_t third = argument[2];
    return third == L'N' || third == L'n' ? kOptionQuiet : kOptionAccepted;
}

bool DetectDevices(int* status)
{
    *status = RunDriverPass(kDetectMode);
    return *status == kDriverCurrent;
}

int RunSetup(HINSTANCE instance)
{
    g_setup.instanceHandle = instance;
    int count = 0;
    wchar_t** arguments = SplitCommandLine(GetCommandLineW(), &count);
    if (arguments == NULL || count < 1) {
        // Without the arguments not even quiet mode can be told.
        ShowMessage(IDS_NO_FILES, MB_ICONERROR);
        if (arguments != NULL) {
            LocalFree(arguments);
        }
        return kExitNoSetupFile;
    }
    int exitCode = RunMainSequence(count, arguments);
    LocalFree(arguments);
    return exitCode;
}
