// The setup program, run silently in a Wine prefix of its own: what it puts
// where, the counter server's registration for the machine, a server-path
// client reaching the counter library through the installed server, the
// user's kestrel.cfg and kestrel.log through install, upgrade and uninstall,
// and what the uninstaller leaves behind.
//
// The tests run in the order written, in one process, and build on each
// other: install, use, upgrade, uninstall, then the cases on their own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "binding_slots.h"
#include "counter_api.h"
#include "counter_double.h"
#include "scratch.h"
#include "server_support.h"

namespace fs = std::filesystem;
using namespace testing_support;
using testing::UnorderedElementsAreArray;

namespace {

const std::string kSetup = KESTREL_SETUP;
const std::string kClassKey = "Software\\Classes\\CLSID\\{7B7162C4-3C2E-4A53-9541-485B0AB5E175}";
const std::string kInterfaceKey =
    "Software\\Classes\\Interface\\{834874B0-02EF-48B8-83DD-E2FDCEAEA575}";
const std::string kProxyKey = "Software\\Classes\\CLSID\\{834874B0-02EF-48B8-83DD-E2FDCEAEA575}";
const std::string kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrel";
const std::string kSettingsKey = "Software\\Kestrel";

// What the setup program installs in Program Files, and where each file
// comes from in the builds.
const std::map<std::string, std::string> kInstalledFiles = {
    {"kestrel.dll", KESTREL_X86_BIN "/kestrel.dll"},
    {"kestrelcli.exe", KESTREL_X86_BIN "/kestrelcli.exe"},
    {"kestrelhost.exe", KESTREL_X86_BIN "/kestrelhost.exe"},
    {"kestrel.cfg.sample", KESTREL_SAMPLE},
    {"server\\kestrelsrv.exe", KESTREL_X64_BIN "/kestrelsrv.exe"},
    {"server\\kestrelps64.dll", KESTREL_X64_BIN "/kestrelps64.dll"},
    {"server\\kestrelps32.dll", KESTREL_X86_BIN "/kestrelps32.dll"},
    {"server\\register.cmd", KESTREL_SERVER_SOURCES "/register.cmd"},
    {"server\\unregister.cmd", KESTREL_SERVER_SOURCES "/unregister.cmd"},
};
// Also installed: the uninstaller, and the 64-bit counter library where the
// build makes one (the target nvpmapi).
const char* const kUninstaller = "Uninstall.exe";
const char* const kCounterLibrary = "server\\nvpmapi.dll";

const std::string kUserConfiguration = "[Settings]\r\nLoggingLevel=1\r\n; the user's own\r\n";
const std::string kUserLog = "06-12-2026, 03:30:23.045 GetSourcesNum() called\r\n";

std::string ProgramFiles() {
  char path[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("ProgramW6432", path, sizeof path);
  if (length == 0 || length >= sizeof path)
    length = GetEnvironmentVariableA("ProgramFiles", path, sizeof path);
  return std::string(path, length);
}

const fs::path kInstallDir = fs::path(ProgramFiles()) / "Kestrel";
// Folders with blanks in their names, as plug-in folders often have.
const fs::path kPluginDir = "C:\\Monitoring Host\\Plug ins";
const fs::path kOtherPluginDir = "C:\\Monitoring Host\\Other plug ins";
// An installation folder of the user's choice.
const fs::path kOtherInstallDir = "C:\\Other Programs\\Kestrel here";

std::string Quoted(const fs::path& path) {
  std::string text = "\"";
  text += path.string();
  text += '"';
  return text;
}

// Runs a command line exactly as written (NSIS reads its own command line,
// and /D= must come last, unquoted) and returns the exit code.
DWORD Run(const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start " << commandLine;
    return ~0u;
  }
  DWORD code = ~0u;
  if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0)
    GetExitCodeProcess(process.hProcess, &code);
  else
    ADD_FAILURE() << "still running after 2 minutes: " << commandLine;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

DWORD Install(const std::string& arguments) { return Run(Quoted(kSetup) + " /S " + arguments); }

std::string PluginDirOption(const fs::path& folder) {
  return Quoted("/PLUGINDIR=" + folder.string());
}

// The uninstaller copies itself to the temporary folder as Un.exe, starts
// that copy and ends; the copy does the work. Waits for it as a user's "Apps &
// features" would.
DWORD Uninstall(const fs::path& folder = kInstallDir) {
  DWORD code = Run(Quoted(folder / kUninstaller) + " /S");
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    bool running = false;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
      if (_stricmp(entry.szExeFile, "Un.exe") == 0) running = true;
    CloseHandle(snapshot);
    if (!running) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the uninstaller is still running after a minute";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return code;
}

// Every file under `folder`, as paths relative to it.
std::set<std::string> FilesUnder(const fs::path& folder) {
  std::set<std::string> files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), folder).string());
  return files;
}

std::vector<std::string> Names(const std::set<std::string>& files) {
  return {files.begin(), files.end()};
}

bool KeyExists(HKEY root, const std::string& key, REGSAM view) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

// Keys the installation may write, in every root and view.
struct Key {
  HKEY root;
  const char* rootName;
  std::string path;
  REGSAM view;
};
std::vector<Key> OurKeys() {
  std::vector<Key> keys;
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
    for (const auto& [root, name] : {std::pair{HKEY_LOCAL_MACHINE, "HKLM"},
                                     std::pair{HKEY_CURRENT_USER, "HKCU"}})
      for (const std::string& path :
           {kClassKey, kInterfaceKey, kProxyKey, kUninstallKey, kSettingsKey})
        keys.push_back({root, name, path, view});
  return keys;
}

std::string Describe(const Key& key) {
  return std::string(key.rootName) + "\\" + key.path +
         (key.view == KEY_WOW64_32KEY ? " (32-bit view)" : "");
}

// A prefix kept from an earlier run may hold an installation: it goes, so
// every run starts from a machine without Kestrel.
void ForgetEarlierRuns() {
  for (const Key& key : OurKeys()) {
    HKEY parent = nullptr;
    size_t slash = key.path.find_last_of('\\');
    if (RegOpenKeyExA(key.root, key.path.substr(0, slash).c_str(), 0,
                      KEY_READ | KEY_WRITE | DELETE | key.view, &parent) != ERROR_SUCCESS)
      continue;
    RegDeleteTreeA(parent, key.path.substr(slash + 1).c_str());
    RegCloseKey(parent);
  }
  std::error_code ignored;
  fs::remove_all(kInstallDir, ignored);
  fs::remove_all(kOtherInstallDir.parent_path(), ignored);
  fs::remove_all(kPluginDir.parent_path(), ignored);
}

class Installer : public testing::Test {
 protected:
  static void SetUpTestSuite() { ForgetEarlierRuns(); }
  static void TearDownTestSuite() { ForgetEarlierRuns(); }

  void ExpectInstalledFiles() {
    std::set<std::string> expected;
    for (const auto& [name, source] : kInstalledFiles) {
      expected.insert(name);
      EXPECT_EQ(ReadIfPresent(kInstallDir / name), ReadFile(source)) << name;
    }
    expected.insert(kUninstaller);
#ifdef KESTREL_COUNTER_LIBRARY
    expected.insert(kCounterLibrary);
    EXPECT_EQ(ReadIfPresent(kInstallDir / kCounterLibrary), ReadFile(KESTREL_COUNTER_LIBRARY));
#endif
    EXPECT_THAT(Names(FilesUnder(kInstallDir)), UnorderedElementsAreArray(Names(expected)));
  }

  void ExpectUserFilesUnchanged(const fs::path& folder) {
    EXPECT_EQ(ReadIfPresent(folder / "kestrel.cfg"), kUserConfiguration);
    EXPECT_EQ(ReadIfPresent(folder / "kestrel.log"), kUserLog);
  }

  void ExpectRegisteredForTheMachine() {
    const std::string server = (kInstallDir / "server").string();
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      SCOPED_TRACE(view == KEY_WOW64_64KEY ? "64-bit view" : "32-bit view");
      EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kClassKey + "\\LocalServer32", nullptr, view),
                Quoted(server + "\\kestrelsrv.exe"));
      EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kInterfaceKey + "\\ProxyStubClsid32", nullptr,
                             view),
                "{834874B0-02EF-48B8-83DD-E2FDCEAEA575}");
      EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kProxyKey + "\\InprocServer32", nullptr, view),
                server + (view == KEY_WOW64_64KEY ? "\\kestrelps64.dll" : "\\kestrelps32.dll"));
      // For the machine, not for the user who ran the setup program.
      EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kClassKey, view));
    }
  }
};

TEST_F(Installer, InstallsIntoProgramFilesAndThePluginFolderKeepingTheUsersFiles) {
  fs::create_directories(kPluginDir);
  WriteFile(kPluginDir / "kestrel.cfg", kUserConfiguration);
  WriteFile(kPluginDir / "kestrel.log", kUserLog);

  ASSERT_EQ(Install(PluginDirOption(kPluginDir)), 0u);
  ExpectInstalledFiles();
  EXPECT_EQ(ReadIfPresent(kPluginDir / "kestrel.dll"), ReadFile(KESTREL_X86_BIN "/kestrel.dll"));
  ExpectUserFilesUnchanged(kPluginDir);
  EXPECT_EQ(FilesUnder(kPluginDir).size(), 3u);
  // "Apps & features" lists it, with a silent uninstaller.
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kUninstallKey, "QuietUninstallString"),
            Quoted(kInstallDir / kUninstaller) + " /S");
}

TEST_F(Installer, RegistersTheServerForTheMachine) { ExpectRegisteredForTheMachine(); }

// The test program is a server-path client (its WOW64 test says yes), and
// the build's own kestrelsrv is not registered in this prefix: counters can
// only come through the installed server.
TEST_F(Installer, AServerPathClientGetsCountersThroughTheInstalledServer) {
  // The server loads nvpmapi.dll from its own folder: the counter-library
  // double stands in there for the real library (or for ours, put back
  // afterwards).
  const fs::path library = kInstallDir / kCounterLibrary;
  const fs::path shipped = library.string() + ".shipped";
  bool hadLibrary = fs::exists(library);
  if (hadLibrary) fs::rename(library, shipped);
  fs::copy_file(KESTREL_COUNTER_DOUBLE, library);

  {
    CounterDouble double_;
    double_.SetScript("counter 1 300 9 busy\ncounter 0 4096 0 frames\n");
    ASSERT_EQ(BindCounterApi(), 0);
    EXPECT_EQ(GetModuleHandleA("nvpmapi.dll"), nullptr);
    std::vector<DWORD> servers = ServerProcessesOfThisProcess();
    ASSERT_EQ(servers.size(), 1u);
    HANDLE server = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, servers[0]);
    char image[MAX_PATH];
    DWORD length = sizeof image;
    ASSERT_TRUE(QueryFullProcessImageNameA(server, 0, image, &length));
    CloseHandle(server);
    EXPECT_EQ(_stricmp(image, (kInstallDir / "server\\kestrelsrv.exe").string().c_str()), 0)
        << image;

    uint32_t count = 0;
    EXPECT_EQ(CounterApiTable.GetNumCounters(&count), 0);
    EXPECT_EQ(count, 2u);
    char name[64];
    uint32_t nameLength = sizeof name;
    EXPECT_EQ(CounterApiTable.GetCounterName(1, name, &nameLength), 0);
    EXPECT_STREQ(name, "frames");
    uint64_t value = 0, cycles = 0;
    EXPECT_EQ(CounterApiTable.GetCounterValue(0, 0, &value, &cycles), 0);
    EXPECT_EQ(value, 300u);
    EXPECT_EQ(cycles, 9u);
    EXPECT_EQ(CounterApiTable.Shutdown(), 0);
    EndServersOfThisProcess();
  }

  fs::remove(library);
  if (hadLibrary) fs::rename(shipped, library);
}

// Installing again over the installed version, without naming the plug-in
// folder: the recorded one gets the new plug-in, the user's files stay.
TEST_F(Installer, AnUpgradeKeepsTheUsersFilesAndThePluginFolder) {
  WriteFile(kPluginDir / "kestrel.dll", "an older plug-in");
  ASSERT_EQ(Install(""), 0u);
  ExpectInstalledFiles();
  EXPECT_EQ(ReadIfPresent(kPluginDir / "kestrel.dll"), ReadFile(KESTREL_X86_BIN "/kestrel.dll"));
  ExpectUserFilesUnchanged(kPluginDir);
  ExpectRegisteredForTheMachine();
}

TEST_F(Installer, UninstallLeavesOnlyTheUsersConfigurationAndLog) {
  ASSERT_EQ(Uninstall(), 0u);
  EXPECT_FALSE(fs::exists(kInstallDir));
  EXPECT_THAT(Names(FilesUnder(kPluginDir)),
              UnorderedElementsAreArray({"kestrel.cfg", "kestrel.log"}));
  ExpectUserFilesUnchanged(kPluginDir);
  for (const Key& key : OurKeys())
    EXPECT_FALSE(KeyExists(key.root, key.path, key.view)) << Describe(key);
  // Nor can a client reach a server any more.
  CounterDouble double_;
  EXPECT_EQ(BindCounterApi(), -1);
}

// A plug-in folder that does not exist yet, given the three ways a command
// line may quote it, and an installation folder of the user's choice (/D=,
// last and unquoted). The sample configuration is copied; once there it is
// the user's, and stays.
TEST_F(Installer, ANewPluginFolderGetsTheSampleConfiguration) {
  const fs::path& folder = kOtherInstallDir;
  const std::pair<const char*, std::string> forms[] = {
      {"quoted argument", Quoted("/PLUGINDIR=" + kOtherPluginDir.string())},
      {"quoted folder", "/PLUGINDIR=" + Quoted(kOtherPluginDir)},
      {"unquoted", "/PLUGINDIR=" + kOtherPluginDir.string() + "\\"},
  };
  for (const auto& [form, option] : forms) {
    SCOPED_TRACE(form);
    fs::remove_all(kOtherPluginDir);
    ASSERT_EQ(Install(option + " /D=" + folder.string()), 0u);
    EXPECT_TRUE(fs::exists(folder / "server\\kestrelsrv.exe"));
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kClassKey + "\\LocalServer32", nullptr),
              Quoted(folder / "server\\kestrelsrv.exe"));
    EXPECT_EQ(ReadIfPresent(kOtherPluginDir / "kestrel.dll"),
              ReadFile(KESTREL_X86_BIN "/kestrel.dll"));
    EXPECT_EQ(ReadIfPresent(kOtherPluginDir / "kestrel.cfg"), ReadFile(KESTREL_SAMPLE));

    ASSERT_EQ(Uninstall(folder), 0u);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_THAT(Names(FilesUnder(kOtherPluginDir)), UnorderedElementsAreArray({"kestrel.cfg"}));
  }
}

TEST_F(Installer, APluginFolderThatIsNotAFullPathIsRefusedBeforeAnythingIsInstalled) {
  for (const char* option : {"/PLUGINDIR=Plugins", "\"/PLUGINDIR=Host\\Plugins\"",
                             "/PLUGINDIR=\\Plugins", "/PLUGINDIR=C:Plugins"}) {
    SCOPED_TRACE(option);
    EXPECT_EQ(Install(option), 3u);
    EXPECT_FALSE(fs::exists(kInstallDir));
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kClassKey + "\\LocalServer32", nullptr),
              "<missing>");
  }
}

}  // namespace
