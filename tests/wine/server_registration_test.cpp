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

// Registration for the machine, each view with its own proxy DLL, is what
// the setup program does; its test checks the keys.
TEST_F(ServerRegistration, PerUserKeysByDefaultAndTheirRemoval) {
  const std::string server = "\"" + WindowsPath(kServer) + "\"";
  const std::string proxy = WindowsPath(fs::path(kServer).parent_path() / "kestrelps64.dll");
  const std::pair<std::string, std::string> keys[] = {
      {kClassKey + "\\LocalServer32", server},
      {kInterfaceKey + "\\ProxyStubClsid32", "{834874B0-02EF-48B8-83DD-E2FDCEAEA575}"},
      {kProxyKey + "\\InprocServer32", proxy}};
  for (bool registered : {true, false, false}) {  // removing what is not there is no error
    ASSERT_EQ(RunServerProgram(kServer, {registered ? "/RegServer" : "/UnregServer"}), 0);
    for (const auto& [key, value] : keys)
      EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, key, nullptr), registered ? value : "<missing>");
    // The machine's registration is another scope and stays.
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kClassKey + "\\LocalServer32", nullptr), server);
  }
  ASSERT_EQ(RunServerProgram(kServer, {"/RegServer"}), 0);
  EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kProxyKey + "\\InprocServer32", "ThreadingModel"), "Both");
  ASSERT_EQ(RunServerProgram(kServer, {"/UnregServer"}), 0);
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
