// kestrelsrv's self-registration, and the binder when the class is not
// registered. These tests change the prefix's registry, so they run alone
// among the tests that start kestrelsrv, and put the machine-wide
// registration back (the one the other tests use: Wine's COM reads only the
// machine's classes) whatever happens.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "binding_slots.h"
#include "counter_api.h"
#include "counter_double.h"
#include "scratch.h"
#include "server_support.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

const std::string kServer = KESTRELSRV;
const std::string kClassKey = "Software\\Classes\\CLSID\\{7B7162C4-3C2E-4A53-9541-485B0AB5E175}";
const std::string kInterfaceKey =
    "Software\\Classes\\Interface\\{834874B0-02EF-48B8-83DD-E2FDCEAEA575}";
const std::string kProxyKey = "Software\\Classes\\CLSID\\{834874B0-02EF-48B8-83DD-E2FDCEAEA575}";

// As the program sees its own path: Windows separators.
std::string WindowsPath(fs::path path) { return path.make_preferred().string(); }

class ServerRegistration : public testing::Test {
 protected:
  void TearDown() override {
    CounterApiTable.Shutdown();
    EndServersOfThisProcess();
  }
};

class MachineRegistrationRestored {
 public:
  ~MachineRegistrationRestored() {
    RunServerProgram(kServer, {"/UnregServer", "/AllUsers"});
    RunServerProgram(kServer, {"/RegServer", "/AllUsers"});
  }
};

TEST_F(ServerRegistration, PerUserKeysByDefaultAndTheirRemoval) {
  ASSERT_EQ(RunServerProgram(kServer, {"/RegServer"}), 0);
  const std::string server = WindowsPath(kServer);
  const std::string folder = WindowsPath(fs::path(kServer).parent_path());
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kClassKey + "\\LocalServer32", nullptr),
            "\"" + server + "\"");
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kInterfaceKey + "\\ProxyStubClsid32", nullptr),
            "{834874B0-02EF-48B8-83DD-E2FDCEAEA575}");
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kProxyKey + "\\InprocServer32", nullptr),
            folder + "\\kestrelps64.dll");
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kProxyKey + "\\InprocServer32", "ThreadingModel"),
            "Both");

  ASSERT_EQ(RunServerProgram(kServer, {"/UnregServer"}), 0);
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kClassKey + "\\LocalServer32", nullptr), "<missing>");
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kInterfaceKey + "\\ProxyStubClsid32", nullptr),
            "<missing>");
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kProxyKey + "\\InprocServer32", nullptr), "<missing>");
  // The machine's registration is another scope and stays.
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kClassKey + "\\LocalServer32", nullptr),
            "\"" + server + "\"");
  // Removing what is not there is no error.
  EXPECT_EQ(RunServerProgram(kServer, {"/UnregServer"}), 0);
}

TEST_F(ServerRegistration, EachViewGetsItsOwnProxyDll) {
  MachineRegistrationRestored restored;
  ScratchDir folder;
  fs::copy_file(kServer, folder / "kestrelsrv.exe");
  fs::copy_file(fs::path(kServer).parent_path() / "kestrelps64.dll", folder / "kestrelps64.dll");
  WriteFile(folder / "kestrelps32.dll", "");  // only its presence counts here
  const std::string copy = WindowsPath(folder / "kestrelsrv.exe");
  ASSERT_EQ(RunServerProgram(copy, {"/RegServer", "/AllUsers"}), 0);

  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    SCOPED_TRACE(view == KEY_WOW64_64KEY ? "64-bit view" : "32-bit view");
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kClassKey + "\\LocalServer32", nullptr, view),
              "\"" + copy + "\"");
    EXPECT_EQ(
        RegistryText(HKEY_LOCAL_MACHINE, kProxyKey + "\\InprocServer32", nullptr, view),
        WindowsPath(folder / (view == KEY_WOW64_64KEY ? "kestrelps64.dll" : "kestrelps32.dll")));
  }
}

TEST_F(ServerRegistration, AnUnregisteredClassFailsTheBindingAndLeavesTheTable) {
  MachineRegistrationRestored restored;
  CounterDouble library;
  ASSERT_EQ(RunServerProgram(kServer, {"/UnregServer", "/AllUsers"}), 0);
  EXPECT_EQ(BindCounterApi(), -1);
  // Still the table of a process that never bound: every slot answers -3
  // and writes nothing.
  SlotOutputs out;
  for (int32_t result : CallEverySlot(out)) EXPECT_EQ(result, -3);
  EXPECT_TRUE(OutputsUntouched(out));
  EXPECT_TRUE(library.Calls().empty());

  // Registered again, the next binding connects.
  ASSERT_EQ(RunServerProgram(kServer, {"/RegServer", "/AllUsers"}), 0);
  EXPECT_EQ(BindCounterApi(), 0);
  EXPECT_EQ(CounterApiTable.Shutdown(), 0);
}

TEST_F(ServerRegistration, AnythingElseOnTheCommandLineIsRefused) {
  EXPECT_EQ(RunServerProgram(kServer, {}), 2);
  EXPECT_EQ(RunServerProgram(kServer, {"/RegServer", "/Everyone"}), 2);
}

}  // namespace
