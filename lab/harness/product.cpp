#include "product.h"

#include <sddl.h>

#include <algorithm>

#include "driver_bed.h"
#include "utility_bed.h"

namespace testbed {
namespace {

const DWORD kRunTimeoutMs = 60000;
// The carry-over's folder, named by the UTC time of the removal.
const wchar_t kCarryOverPrefix[] = L"\\Carry-over\\";
const size_t kCarryOverNameLength = 16;
const wchar_t* const kPlantedPrograms[] = {L"msiexec.exe", L"regedit.exe", L"net.exe"};
// Windows DLLs that are not known DLLs, which a Windows loader looks for in
// the program's folder first. version.dll is one too, but Wine's own user32
// loads it before any code of the program runs.
const wchar_t* const kPlantedDlls[] = {L"setupapi", L"newdev", L"msi", L"shlwapi"};

std::wstring Folder(UINT(WINAPI* query)(LPWSTR, UINT))
{
    wchar_t path[MAX_PATH] = L"";
    UINT length = query(path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path, length);
}

void Replace(std::wstring* text, const std::wstring& name, const std::wstring& value)
{
    for (size_t at = text->find(name); at != std::wstring::npos; at = text->find(name, at + value.size())) {
        text->replace(at, name.size(), value);
    }
}

std::vector<std::wstring> Find(const std::wstring& pattern)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) {
        found.push_back(pattern.substr(0, pattern.rfind(L'\\') + 1) + data.cFileName);
    }
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return found;
}

}  // namespace

Product::Product()
{
    folder = MakeTempFolder(L"case") + L"\\";
    product = folder + L"product\\";
    current = folder + L"current\\";
    temp = folder + L"temp dir\\";
    program = product + kSetupProgram;
    for (const std::wstring& made : {product, current, temp})
        Check(CreateDirectoryW(made.c_str(), nullptr) != FALSE, L"cannot make " + made);
    Check(CopyFileTo(TestProgramFolder() + kSetupProgram, program), L"cannot copy the program");
    Plant(product);
    Plant(current);
}

Product::~Product()
{
    if (installerHolder_ != nullptr) {
        SetEvent(installerRelease_);
        WaitForSingleObject(installerHolder_, INFINITE);
        CloseHandle(installerHolder_);
        CloseHandle(installerRelease_);
        CloseHandle(installerReady_);
    }
    for (HANDLE handle : held_)
        CloseHandle(handle);
    StopUsingNewdevDouble();
    StopUsingVersionDouble();
    StopUsingRegeditDouble();
    StopUsingMsiexecDouble();
    RestoreSystemProgram(L"net.exe");
    DeleteFileW((SystemFolder() + L"\\net.exe.ran").c_str());
    DeleteTree(MachineFolder().substr(0, MachineFolder().rfind(L'\\')));
    RemoveRestartMarker();
    RemoveAppDefaults(kSetupProgram);
    RemoveZelmon({AppsFolder()});
    for (const Controller& controller : controllers)
        UninstallDriver(controller.service);
    for (const std::wstring& device : devices_)
        RemoveDevice(device);
    DeleteTree(folder);
}

void Product::Check(bool ok, const std::wstring& what)
{
    if (!ok)
        problems.push_back(what);
}

void Product::Plant(const std::wstring& into)
{
    for (const wchar_t* name : kPlantedPrograms)
        Check(CopyFileTo(TestProgramFolder() + L"planted_program.exe", into + name), L"cannot plant " + into + name);
}

Controller Product::AddController(const std::wstring& packaged, const std::wstring& installed, bool present,
                                  const std::wstring& hardwareId)
{
    static int counter = 0;
    const std::wstring unique = std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(++counter);
    Controller controller = {L"vrd" + unique, hardwareId.empty() ? L"PCI\\VEN_5A4D&DEV_" + unique : hardwareId};
    std::wstring instance;
    if (present) {
        Check(CreateRootDevice(controller.hardwareId, &instance), L"cannot make the device");
        devices_.push_back(instance);
    }
    if (!packaged.empty()) {
        Check(WriteDriverPackage(product + L"Drivers\\" + controller.service, controller.service + L".inf",
                                 controller.service, controller.hardwareId, L"05/01/2024," + packaged,
                                 TestProgramFolder() + L"drivers\\" + packaged + L"\\vraid.sys"),
              L"cannot write the driver package");
    }
    controllers.push_back(controller);
    if (!installed.empty())
        InstallDriver(controller, installed);
    return controller;
}

void Product::InstallDriver(const Controller& controller, const std::wstring& version)
{
    const std::wstring from = folder + L"installed\\" + controller.service + L"\\";
    BOOL reboot = FALSE;
    Check(WriteDriverPackage(from, L"old.inf", controller.service, controller.hardwareId, L"01/01/2020," + version,
                             TestProgramFolder() + L"drivers\\" + version + L"\\vraid.sys") &&
              testbed::InstallDriver(controller.hardwareId, from + L"old.inf", &reboot) &&
              ReadInstalledDriverVersion(controller.service) == version,
          L"cannot put driver " + version + L" in place");
}

void Product::WriteSetupFile(const std::string& install, const std::wstring& into)
{
    std::string text = "[Install]\r\n" + install;
    if (install.find("DriverNum") == std::string::npos)
        text += "DriverNum=" + std::to_string(controllers.size()) + "\r\n";
    for (size_t i = 0; i < controllers.size(); ++i) {
        text += "[Driver" + std::to_string(i) + "]\r\nDeviceName=" + ToBytes(controllers[i].service, CP_ACP) +
                "\r\nDeviceID=" + ToBytes(controllers[i].hardwareId, CP_ACP) + "\r\n";
    }
    WriteFile((into.empty() ? product : into) + L"Inst.Inf", text);
}

void Product::WriteFile(const std::wstring& path, const std::string& bytes)
{
    Check(WriteFileBytes(path, bytes), L"cannot write " + path);
}

void Product::CopyPackage(const std::wstring& name)
{
    Check(CopyFileTo(PackagePath(name), product + name), L"cannot copy " + name);
}

void Product::InstallUtility(const std::wstring& package)
{
    utility = package;
    Check(InstallPackage(PackagePath(package), L"TARGETDIR=\"" + AppsFolder() + L"\\\"") == 0 &&
              InstallationDirectory(UtilityView()) == AppsFolder() + L"\\ZELMON\\" &&
              WriteSetting(L"MailServer", L"mail.vantiro.test", UtilityView()),
          L"cannot install " + package);
}

std::wstring Product::X64Package(const std::wstring& name)
{
    const std::wstring msi = L".msi";
    if (name.size() < msi.size() || name.compare(name.size() - msi.size(), msi.size(), msi) != 0)
        return name;
    return name.substr(0, name.size() - msi.size()) + L"-x64" + msi;
}

std::wstring Product::EditionPackage(const std::wstring& name)
{
    return sizeof(void*) == 8 ? X64Package(name) : name;
}

void Product::StartWithSetupExe(bool besideSetup64)
{
    program = product + L"setup.exe";
    Check(CopyFileTo(TestProgramFolder() + L"setup.exe", program), L"cannot copy setup.exe");
    if (!besideSetup64)
        Check(DeleteFileW((product + L"setup64.exe").c_str()) != FALSE, L"cannot remove setup64.exe");
}

void Product::MoveProduct(size_t length)
{
    const std::wstring base = folder + L"long\\";
    CreateDirectoryW(base.c_str(), nullptr);
    product = base + std::wstring(length - base.size() - 1, L'p') + L"\\";
    program = product + kSetupProgram;
    Check(CreateDirectoryW(product.c_str(), nullptr) && CopyFileTo(TestProgramFolder() + kSetupProgram, program),
          L"cannot make a product folder of " + std::to_wstring(length) + L" characters");
}

void Product::PlantDlls()
{
    for (const wchar_t* name : kPlantedDlls) {
        for (const std::wstring& into : {product, current}) {
            Check(CopyFileTo(TestProgramFolder() + L"planted.dll", into + name + L".dll"), L"cannot plant a DLL");
        }
        Check(SetAppDefault(kSetupProgram, L"DllOverrides", name, L"native,builtin"), L"cannot set a DLL override");
    }
}

void Product::UseWindowsVersion(const std::wstring& version)
{
    Check(SetAppDefault(kSetupProgram, L"", L"Version", version), L"cannot set the Windows version");
}

void Product::UseInvisibleDesktop()
{
    desktop_.reset(new InvisibleDesktop());
    Check(!desktop_->Name().empty() && !desktop_->StationVisible(), L"cannot make an invisible window station");
}

void Product::Hold(const std::wstring& path)
{
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    Check(handle != INVALID_HANDLE_VALUE, L"cannot open " + path);
    if (handle != INVALID_HANDLE_VALUE)
        held_.push_back(handle);
}

// A mutex belongs to the thread that holds it: one of its own, which the
// case's end or the run's log lets go.
DWORD WINAPI Product::HoldInstallerMutex(void* context)
{
    Product* p = static_cast<Product*>(context);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    if (p->installerSddl_ != nullptr &&
        ConvertStringSecurityDescriptorToSecurityDescriptorW(p->installerSddl_, SDDL_REVISION_1, &descriptor, nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    HANDLE mutex = CreateMutexW(&attributes, TRUE, L"Global\\_MSIExecute");
    LocalFree(descriptor);
    if (mutex != nullptr)
        SetEvent(p->installerReady_);
    while (WaitForSingleObject(p->installerRelease_, 100) == WAIT_TIMEOUT) {
        const std::vector<std::wstring> log =
            p->installerReleaseMs_ == INFINITE ? std::vector<std::wstring>() : p->Log();
        if (std::find(log.begin(), log.end(), L"Waiting for Windows Installer: another installation is running") !=
            log.end()) {
            WaitForSingleObject(p->installerRelease_, p->installerReleaseMs_);
            break;
        }
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}

void Product::HoldWindowsInstaller(DWORD releaseMs, const wchar_t* sddl)
{
    installerReleaseMs_ = releaseMs;
    installerSddl_ = sddl;
    installerRelease_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    installerReady_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    installerHolder_ = CreateThread(nullptr, 0, HoldInstallerMutex, this, 0, nullptr);
    Check(installerHolder_ != nullptr && WaitForSingleObject(installerReady_, 10000) == WAIT_OBJECT_0,
          L"cannot hold Windows Installer's mutex");
}

void Product::Squat(const std::wstring& mutexName, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    if (sddl != nullptr)
        Check(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr),
              L"cannot read " + std::wstring(sddl));
    attributes.lpSecurityDescriptor = descriptor;
    HANDLE mutex = CreateMutexW(&attributes, TRUE, mutexName.c_str());
    LocalFree(descriptor);
    Check(mutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS, L"cannot take " + mutexName + L" first");
    if (mutex != nullptr)
        held_.push_back(mutex);
}

RunResult Product::Run(const std::wstring& arguments, const std::vector<Answer>& given)
{
    std::vector<Answer> answers = given;
    if (atFirstBox && !answers.empty()) {
        answers[0].whileShown = [this]() {
            std::function<void(Product&)> step = atFirstBox;
            atFirstBox = nullptr;
            step(*this);
        };
    }
    const std::wstring tempVariable = temp.substr(0, temp.size() - 1);
    Launch launch;
    launch.applicationName = program;
    launch.desktop = desktop_ ? desktop_->Name() : std::wstring();
    const std::wstring first = argument0.empty() ? program : argument0;
    std::wstring command = noBlankAfterQuote ? L"\"" + first + L"\"" + arguments : QuoteArgument(first);
    if (!noBlankAfterQuote && !arguments.empty())
        command += L" " + arguments;
    RunResult result = RunWithRobot(command, current, {{L"TEMP", tempVariable}, {L"TMP", tempVariable}}, answers,
                                    kRunTimeoutMs, Button::Default, launch);
    Check(result.run.started, L"cannot start, error " + std::to_wstring(result.run.startError));
    Check(!result.run.timedOut, L"killed at the time limit");
    return result;
}

std::wstring Product::AppsFolder() const
{
    return folder + L"apps";
}

REGSAM Product::UtilityView() const
{
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (sizeof(void*) == 4 && !wow64)
        return 0;
    const std::wstring x64 = L"-x64.msi";
    bool is64 = utility.size() > x64.size() && utility.compare(utility.size() - x64.size(), x64.size(), x64) == 0;
    return is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

std::wstring Product::Expand(const std::wstring& text) const
{
    std::wstring expanded = text;
    Replace(&expanded, L"{product}", product);
    Replace(&expanded, L"{current}", current);
    Replace(&expanded, L"{settings}", MachineFolder() + kCarryOverPrefix + L"*\\zelmsvc.reg");
    Replace(&expanded, L"{temp}", temp);
    Replace(&expanded, L"{apps}", AppsFolder());
    Replace(&expanded, L"{system}", Folder(GetSystemDirectoryW));
    Replace(&expanded, L"{windows}", Folder(GetSystemWindowsDirectoryW));
    Replace(&expanded, L"{code}", kZelmonProductCode);
    Replace(&expanded, L"{setup64}", product + L"setup64.exe");
    Replace(&expanded, L"{package}", package);
    Replace(&expanded, L"{cache}", MachineFolder() + L"\\Package Cache");
    Replace(&expanded, L"{machine}", MachineFolder());
    Replace(&expanded, L"{folder}", folder);
    if (!controllers.empty()) {
        Replace(&expanded, L"{service}", controllers[0].service);
        Replace(&expanded, L"{id}", controllers[0].hardwareId);
    }
    return expanded;
}

std::vector<std::wstring> Product::Log(const std::wstring& file) const
{
    std::string bytes;
    ReadFileBytes(file.empty() ? product + L"devupd.log" : file, &bytes);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    std::vector<std::wstring> messages;
    // A byte-order mark, then lines: a timestamp of 24 characters, the message, CR LF.
    for (size_t start = !text.empty() && text[0] == 0xFEFF ? 1 : 0, end = 0;
         (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        std::wstring message = text.substr(start + 24, end - start - 24);
        size_t at = message.find(kCarryOverPrefix);
        if (at != std::wstring::npos)
            message.replace(at + wcslen(kCarryOverPrefix), kCarryOverNameLength, L"*");
        messages.push_back(message);
    }
    return messages;
}

std::vector<std::wstring> Product::MachineLogs() const
{
    std::vector<std::wstring> logs = Find(MachineFolder() + L"\\Logs\\*.log");
    std::sort(logs.begin(), logs.end());
    return logs;
}

std::vector<std::wstring> Product::SettingsFolders() const
{
    std::vector<std::wstring> found;
    for (const std::wstring& folder : Find(MachineFolder() + kCarryOverPrefix + L"2*"))
        found.push_back(folder);
    return found;
}

std::vector<std::wstring> Product::PlantedThatRan() const
{
    std::vector<std::wstring> found;
    for (const std::wstring& in : {product, current}) {
        for (const wchar_t* marker : {L"*.ran", L"*.loaded"}) {
            std::vector<std::wstring> some = Find(in + marker);
            found.insert(found.end(), some.begin(), some.end());
        }
    }
    return found;
}

std::wstring Product::MachineFolder()
{
    wchar_t folder[MAX_PATH] = L"";
    DWORD length = GetEnvironmentVariableW(L"ProgramData", folder, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(folder) + L"\\VANTIRO\\RAID Setup";
}

std::wstring Product::RestartMarker() const
{
    return folder + L"restarted.txt";
}

void Product::PlantRestartMarker()
{
    Check(testbed::PlantRestartMarker(RestartMarker()), L"cannot plant the restart marker");
}

}  // namespace testbed
