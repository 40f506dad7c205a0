#include "utility/utility_install.h"

#include "log/debug_log.h"
#include "system/child_process.h"
#include "utility/installer_wait.h"
#include "utility/package_cache.h"

// Last, since it retires the unbounded string functions of the headers above.
#include <strsafe.h>

namespace {

const ChildLogTexts kInstallTexts = {L"CreateProcess succeeded cmd=%s", L"Failed to execute install cmd(%s) err=%d",
                                     true};

// Without REBOOT=ReallySuppress, msiexec /qn restarts Windows itself when the
// package schedules a restart, in the middle of the run; suppressed, it ends
// with 3010 and the run offers the restart at its end.
HRESULT ComposeInstallArguments(wchar_t* arguments, const wchar_t* package, const wchar_t* folder)
{
    if (folder[0] != L'\0') {
        return StringCchPrintfW(arguments, kCommandCapacity, L"/I \"%s\" TARGETDIR=\"%s\" %s /qn", package, folder,
                                kSuppressRestart);
    }
    return StringCchPrintfW(arguments, kCommandCapacity, L"/I \"%s\" %s /qn", package, kSuppressRestart);
}

// The full command of msiexec of the system folder, and its path.
bool ComposeInstallCommand(const wchar_t* package, const wchar_t* folder, wchar_t* program, wchar_t* command)
{
    wchar_t arguments[kCommandCapacity];
    return SUCCEEDED(ComposeInstallArguments(arguments, package, folder)) &&
           FindSystemProgram(L"msiexec.exe", false, program) &&
           ComposeProgramCommand(command, kCommandCapacity, program, arguments);
}

}  // namespace

StepResult InstallUtility(const SetupConfig& config, UtilityPlan* plan)
{
    LogMessage(L"InstallUtil() is called");
    StepResult result = StepDone();
    wchar_t cached[kPathCapacity] = L"";
    wchar_t program[kPathCapacity] = L"";
    wchar_t command[kCommandCapacity] = L"";
    result.error = CachePackage(plan->package, plan->productCode, plan->packageVersion, cached);
    if (result.error != ERROR_SUCCESS) {
        goto cleanup;
    }
    StringCchCopyW(plan->package, kPathCapacity, cached);
    if (!ComposeInstallCommand(plan->package, plan->targetFolder, program, command)) {
        LogMessage(L"Install command too long(%s)", plan->package);
        result.error = ERROR_FILENAME_EXCED_RANGE;
        goto cleanup;
    }
    result = RunInstaller(config, program, command, kInstallTexts);
    // The installed product's source, for a repair that needs its package.
    plan->packageKept = result.error == ERROR_SUCCESS;

cleanup:
    LogMessage(L"Return from InstallUtil()");
    return result;
}

bool CanInstallInto(const UtilityPlan& plan, const wchar_t* folder)
{
    wchar_t entry[kPathCapacity] = L"";
    wchar_t cached[kPathCapacity] = L"";
    wchar_t program[kPathCapacity] = L"";
    wchar_t command[kCommandCapacity] = L"";
    return ComposeCachedPackage(plan.package, plan.productCode, plan.packageVersion, entry, cached) == ERROR_SUCCESS &&
           ComposeInstallCommand(cached, folder, program, command);
}
