// A product folder on the test machine with everything a run of setup.exe
// meets around it: controllers and their drivers, the utility, the doubles,
// and programs planted under the names of Windows' own. What it makes goes
// with it. A step that fails adds a line to problems and the case goes on, so
// that a table of cases can check one list.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testbed.h"

namespace testbed {

// One controller entry of Inst.Inf: its driver service and hardware ID.
struct Controller {
    std::wstring service;
    std::wstring hardwareId;
};

class Product {
public:
    Product();
    ~Product();
    Product(const Product&) = delete;
    Product& operator=(const Product&) = delete;

    // Folders, each ending in "\": the case's own; the product folder, with
    // setup.exe; the run's current folder; its TEMP and TMP, with a blank in
    // its name as a user name may have. Beside setup.exe and in the current
    // folder lie msiexec.exe, regedit.exe and net.exe of someone else's.
    std::wstring folder, product, current, temp;
    // The run's program (the edition kSetupProgram names unless changed) and
    // argument 0 (the program unless changed).
    std::wstring program, argument0;
    // The edition's name for the utility package that Inst.Inf names.
    std::wstring package;
    // The arguments follow argument 0's closing quote without a blank, which
    // CommandLineToArgvW still reads as apart.
    bool noBlankAfterQuote = false;
    std::vector<Controller> controllers;
    // The utility package installed before the run, empty: none.
    std::wstring utility;
    std::vector<std::wstring> problems;
    // Runs once while the run's first box is up, before it is answered: a
    // second run at the same time, for one.
    std::function<void(Product&)> atFirstBox;

    // A controller entry whose driver package, at packaged (empty: none), lies
    // in the default place; the driver at installed (empty: none) is in place
    // the way Windows puts it; without present its device is missing. An
    // empty hardwareId gets a unique one.
    Controller AddController(const std::wstring& packaged, const std::wstring& installed, bool present = true,
                             const std::wstring& hardwareId = std::wstring());
    void InstallDriver(const Controller& controller, const std::wstring& version);
    // Inst.Inf in folder (default: the product folder): the [Install] lines,
    // DriverNum and one entry per controller.
    void WriteSetupFile(const std::string& install, const std::wstring& folder = std::wstring());
    void WriteFile(const std::wstring& path, const std::string& bytes);
    void CopyPackage(const std::wstring& name);
    // The x64 build of a package, "<name>-x64.msi", and the one of the lab's
    // own edition.
    static std::wstring X64Package(const std::wstring& name);
    static std::wstring EditionPackage(const std::wstring& name);
    // The utility installed by msiexec into AppsFolder(), with a setting of
    // the administrator's: MailServer = mail.vantiro.test.
    void InstallUtility(const std::wstring& package);
    // On 64-bit Windows, the run starts with the 32-bit setup.exe, with
    // setup64.exe beside it or alone.
    void StartWithSetupExe(bool besideSetup64);
    // The product folder moves to one whose path has length characters; only
    // the program goes there.
    void MoveProduct(size_t length);
    // DLLs of the names the program uses lie beside it and in the current
    // folder, and Wine prefers such a file for it, as Windows would.
    void PlantDlls();
    // Wine tells the program that it runs on this Windows (e.g. L"win10").
    void UseWindowsVersion(const std::wstring& version);
    // The run goes to a window station that nobody sees.
    void UseInvisibleDesktop();
    // Opens path and holds it open, as another user's program would.
    void Hold(const std::wstring& path);
    // Holds Windows Installer's execution mutex, Global\_MSIExecute, as its
    // service does while another installation runs (Wine's never takes it):
    // until the case ends or, with releaseMs, until that long after the
    // run's log says that it waits. sddl: the mutex's security, e.g. one that
    // lets others wait on it but not release it.
    void HoldWindowsInstaller(DWORD releaseMs = INFINITE, const wchar_t* sddl = nullptr);
    // Creates the named mutex first and owns it until the case ends, as a
    // program of someone without administrator rights could.
    void Squat(const std::wstring& mutexName, const wchar_t* sddl = nullptr);

    RunResult Run(const std::wstring& arguments, const std::vector<Answer>& answers);

    // The folder the utility's package is told (TARGETDIR), without "\".
    std::wstring AppsFolder() const;
    // The registry view of the installed utility's keys.
    REGSAM UtilityView() const;
    // text with {product}, {current}, {temp}, {apps}, {system}, {windows},
    // {code}, {service}, {id}, {setup64}, {package}, {folder}, {machine} (the
    // machine folder), {cache} (its package cache) and {settings} (the
    // carry-over's export, its folder's name as "*") filled in.
    std::wstring Expand(const std::wstring& text) const;
    // The debug log's messages (of file; default: devupd.log beside the
    // program), the name of the carry-over's folder as "*".
    std::vector<std::wstring> Log(const std::wstring& file = std::wstring()) const;
    // The runs' logs in the machine folder, oldest first.
    std::vector<std::wstring> MachineLogs() const;
    // The carry-over folders that runs left in the machine folder.
    std::vector<std::wstring> SettingsFolders() const;
    // Planted programs that ran and planted DLLs that were loaded.
    std::vector<std::wstring> PlantedThatRan() const;
    // The setup's machine folder, %ProgramData%\VANTIRO\RAID Setup, without "\".
    static std::wstring MachineFolder();
    // The file that appears when Windows is asked to restart.
    std::wstring RestartMarker() const;
    void PlantRestartMarker();

private:
    void Check(bool ok, const std::wstring& what);
    void Plant(const std::wstring& folder);

    std::unique_ptr<InvisibleDesktop> desktop_;
    std::vector<std::wstring> devices_;
    std::vector<HANDLE> held_;
    static DWORD WINAPI HoldInstallerMutex(void* context);
    HANDLE installerHolder_ = nullptr, installerRelease_ = nullptr, installerReady_ = nullptr;
    DWORD installerReleaseMs_ = INFINITE;
    const wchar_t* installerSddl_ = nullptr;
};

}  // namespace testbed
