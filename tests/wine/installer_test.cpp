// The setup program, run silently in a Wine prefix made afresh for this
// program: what it puts where, the counter server's registration for the
// machine, a server-path client reaching the counter library through the
// installed server, the user's kestrel.cfg and kestrel.log through install,
// upgrade and uninstall, and what the uninstaller leaves behind.
//
// The tests run in the order written, in one process, and build on each
// other: install, use, upgrade, uninstall, then the cases on their own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <set>
#include <tuple>

#include "counter_api.h"
#include "counter_double.h"
#include "process.h"
#include "scratch.h"
#include "server_support.h"

namespace fs = std::filesystem;
using namespace testing_support;
using testing::UnorderedElementsAre;
using testing::UnorderedElementsAreArray;

namespace {

const std::string kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrel";

// What the setup program installs in Program Files, and where each file
// comes from in the builds; also the uninstaller, and the 64-bit counter
// library where the build makes one.
const std::pair<const char*, const char*> kInstalledFiles[] = {
    {"kestrel.dll", KESTREL_X86_BIN "/kestrel.dll"},
    {"kestrelcli.exe", KESTREL_X86_BIN "/kestrelcli.exe"},
    {"kestrelhost.exe", KESTREL_X86_BIN "/kestrelhost.exe"},
    {"kestrel.cfg.sample", KESTREL_SAMPLE},
    {"LICENSE.txt", KESTREL_LICENCE},
    {"licences\\mingw-w64-common.txt", KESTREL_TOOLCHAIN_DOCS "/mingw-w64-common/copyright"},
    {"licences\\gcc-mingw-w64-base.txt", KESTREL_TOOLCHAIN_DOCS "/gcc-mingw-w64-base/copyright"},
    {"server\\kestrelsrv.exe", KESTREL_X64_BIN "/kestrelsrv.exe"},
    {"server\\kestrelps64.dll", KESTREL_X64_BIN "/kestrelps64.dll"},
    {"server\\kestrelps32.dll", KESTREL_X86_BIN "/kestrelps32.dll"},
    {"server\\register.cmd", KESTREL_SERVER_SOURCES "/register.cmd"},
    {"server\\unregister.cmd", KESTREL_SERVER_SOURCES "/unregister.cmd"},
#ifdef KESTREL_COUNTER_LIBRARY
    {"server\\nvpmapi.dll", KESTREL_COUNTER_LIBRARY},
#endif
    {"Uninstall.exe", nullptr},
};
const std::string kPlugin = ReadFile(KESTREL_X86_BIN "/kestrel.dll");
const std::string kUserConfiguration = "[Settings]\r\nLoggingLevel=1\r\n; the user's own\r\n";
const std::string kUserLog = "06-12-2026, 03:30:23.045 GetSourcesNum() called\r\n";

// Wine's Program Files, as the 64-bit setup program sees it.
const fs::path kInstallDir = "C:\\Program Files\\Kestrel";
// Folders with blanks in their names, as plug-in folders often have.
const fs::path kPluginDir = "C:\\Monitoring Host\\Plug ins";
const fs::path kOtherPluginDir = "C:\\Monitoring Host\\Other plug ins";
const fs::path kOtherInstallDir = "C:\\Other Programs\\Kestrel here";

// The setup program or the uninstaller, with its options as written: NSIS
// reads its own command line, and /D= must come last, unquoted.
int Run(const fs::path& program, const std::string& options) {
  ProgramOptions run;
  run.commandLineTail = options;
  run.timeoutSeconds = 120;
  return RunProgram(program.string(), run).exitCode;
}

int Install(const std::string& options) { return Run(KESTREL_SETUP, "/S " + options); }

// The uninstaller copies itself to the temporary folder as Un.exe, starts
// that copy and ends; the copy does the work. Waits for it as a user's "Apps &
// features" would.
int Uninstall(const fs::path& folder = kInstallDir) {
  int code = Run(folder / "Uninstall.exe", "/S");
  for (int tick = 0; tick < 600 && !ProcessesNamed("Un.exe").empty(); ++tick) Sleep(100);
  return code;
}

// Every file under `folder`, as paths relative to it.
std::vector<std::string> FilesUnder(const fs::path& folder) {
  std::set<std::string> files;
  if (fs::exists(folder))
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), folder).string());
  return {files.begin(), files.end()};
}

bool KeyExists(HKEY root, const std::string& key, REGSAM view) {
  HKEY handle = nullptr;
  return RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) == ERROR_SUCCESS &&
         RegCloseKey(handle) == ERROR_SUCCESS;
}

void ExpectInstalledFiles() {
  std::vector<std::string> expected;
  for (const auto& [name, source] : kInstalledFiles) {
    expected.push_back(name);
    EXPECT_TRUE(!source || ReadIfPresent(kInstallDir / name) == ReadFile(source)) << name;
  }
  EXPECT_THAT(FilesUnder(kInstallDir), UnorderedElementsAreArray(expected));
  EXPECT_EQ(ReadIfPresent(kPluginDir / "kestrel.dll"), kPlugin);
  EXPECT_EQ(ReadIfPresent(kPluginDir / "kestrel.cfg"), kUserConfiguration);
  EXPECT_EQ(ReadIfPresent(kPluginDir / "kestrel.log"), kUserLog);
}

// For the machine, in both views, not for the user who ran the setup program.
void ExpectRegisteredForTheMachine(const fs::path& folder = kInstallDir) {
  const std::string server = (folder / "server").string();
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    SCOPED_TRACE(view == KEY_WOW64_64KEY ? "64-bit view" : "32-bit view");
    const char* proxy = view == KEY_WOW64_64KEY ? "\\kestrelps64.dll" : "\\kestrelps32.dll";
    EXPECT_EQ(ServerRegistration(HKEY_LOCAL_MACHINE, view),
              (std::vector<std::string>{Quoted(server + "\\kestrelsrv.exe"), kInterface,
                                        server + proxy, "Both"}));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kClassKey, view));
  }
}

TEST(Installer, InstallsIntoProgramFilesAndThePluginFolderKeepingTheUsersFiles) {
  fs::create_directories(kPluginDir);
  WriteFile(kPluginDir / "kestrel.cfg", kUserConfiguration);
  WriteFile(kPluginDir / "kestrel.log", kUserLog);

  ASSERT_EQ(Install(Quoted("/PLUGINDIR=" + kPluginDir.string())), 0);
  ExpectInstalledFiles();
  EXPECT_EQ(FilesUnder(kPluginDir).size(), 3u);
  ExpectRegisteredForTheMachine();
  // "Apps & features" lists it, with a silent uninstaller.
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kUninstallKey, "QuietUninstallString"),
            Quoted(kInstallDir / "Uninstall.exe") + " /S");
}

// The test program is a server-path client (its WOW64 test says yes), and
// the build's own kestrelsrv is not registered in this prefix, made afresh:
// counters can only come through the installed server, which loads
// nvpmapi.dll from its own folder. The counter-library double stands in
// there for a while.
TEST(Installer, AServerPathClientGetsCountersThroughTheInstalledServer) {
  const fs::path library = kInstallDir / "server\\nvpmapi.dll";
  const fs::path shipped = library.string() + ".shipped";
  if (fs::exists(library)) fs::rename(library, shipped);
  fs::copy_file(KESTREL_COUNTER_DOUBLE, library);
  {
    CounterDouble double_;
    double_.SetScript("counter 1 300 9 busy\ncounter 0 4096 0 frames\n");
    ASSERT_EQ(BindCounterApi(), 0);
    EXPECT_EQ(GetModuleHandleA("nvpmapi.dll"), nullptr);
    uint32_t count = 0;
    uint64_t value = 0, cycles = 0;
    EXPECT_EQ(CounterApiTable.GetNumCounters(&count), 0);
    EXPECT_EQ(CounterApiTable.GetCounterValue(0, 0, &value, &cycles), 0);
    EXPECT_EQ(std::tuple(count, value, cycles), std::tuple(2u, 300u, 9u));
    EXPECT_EQ(CounterApiTable.Shutdown(), 0);
    EndServersOfThisProcess();
  }
  fs::remove(library);
  if (fs::exists(shipped)) fs::rename(shipped, library);
}

// Installing again over the installed version, without naming the plug-in
// folder: the recorded one gets the new plug-in, the user's files stay.
TEST(Installer, AnUpgradeKeepsTheUsersFilesAndThePluginFolder) {
  WriteFile(kPluginDir / "kestrel.dll", "an older plug-in");
  ASSERT_EQ(Install(""), 0);
  ExpectInstalledFiles();
  ExpectRegisteredForTheMachine();
}

TEST(Installer, UninstallLeavesOnlyTheUsersConfigurationAndLog) {
  ASSERT_EQ(Uninstall(), 0);
  EXPECT_FALSE(fs::exists(kInstallDir));
  EXPECT_THAT(FilesUnder(kPluginDir), UnorderedElementsAre("kestrel.cfg", "kestrel.log"));
  EXPECT_EQ(ReadIfPresent(kPluginDir / "kestrel.cfg"), kUserConfiguration);
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
      for (const std::string& key : {kClassKey, kInterfaceKey, kProxyKey, kUninstallKey,
                                     std::string("Software\\Kestrel")})
        EXPECT_FALSE(KeyExists(root, key, view)) << key;
  // Nor can a client reach a server any more.
  CounterDouble double_;
  EXPECT_EQ(BindCounterApi(), -1);
}

// A plug-in folder that does not exist yet, given the three ways a command
// line may quote it, and an installation folder of the user's choice (/D=,
// last and unquoted). The sample configuration is copied; once there it is
// the user's, and stays.
TEST(Installer, ANewPluginFolderGetsTheSampleConfiguration) {
  const fs::path& folder = kOtherInstallDir;
  for (const std::string& option : {Quoted("/PLUGINDIR=" + kOtherPluginDir.string()),
                                    "/PLUGINDIR=" + Quoted(kOtherPluginDir),
                                    "/PLUGINDIR=" + kOtherPluginDir.string() + "\\"}) {
    SCOPED_TRACE(option);
    fs::remove_all(kOtherPluginDir);
    ASSERT_EQ(Install(option + " /D=" + folder.string()), 0);
    ExpectRegisteredForTheMachine(folder);
    EXPECT_EQ(ReadIfPresent(kOtherPluginDir / "kestrel.dll"), kPlugin);
    EXPECT_EQ(ReadIfPresent(kOtherPluginDir / "kestrel.cfg"), ReadFile(KESTREL_SAMPLE));

    ASSERT_EQ(Uninstall(folder), 0);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_THAT(FilesUnder(kOtherPluginDir), UnorderedElementsAre("kestrel.cfg"));
  }
}

TEST(Installer, APluginFolderThatIsNotAFullPathIsRefusedBeforeAnythingIsInstalled) {
  for (const char* option : {"/PLUGINDIR=Plugins", "\"/PLUGINDIR=Host\\Plugins\"",
                             "/PLUGINDIR=\\Plugins", "/PLUGINDIR=C:Plugins"}) {
    SCOPED_TRACE(option);
    EXPECT_EQ(Install(option), 3);
    EXPECT_FALSE(fs::exists(kInstallDir));
    EXPECT_EQ(ServerRegistration(HKEY_LOCAL_MACHINE), std::vector<std::string>(4, "<missing>"));
  }
}

}  // namespace
