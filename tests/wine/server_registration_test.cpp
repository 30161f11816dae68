// kestrelsrv's self-registration for the user. These tests change the
// prefix's registry, so they run alone among the tests that start
// kestrelsrv; the machine-wide registration (the one the other tests use:
// Wine's COM reads only the machine's classes) stays as it is.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

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

// Registration for the machine, each view with its own proxy DLL, is what
// the setup program does; its test checks the keys, and that a client cannot
// connect once they are gone.
TEST(ServerRegistration, PerUserKeysByDefaultAndTheirRemoval) {
  std::string server = "\"";  // built up in place: GCC 12 warns wrongly about "\"" + text
  server.append(WindowsPath(kServer)).append("\"");
  const std::string proxy = WindowsPath(fs::path(kServer).parent_path() / "kestrelps64.dll");
  const std::pair<std::string, std::string> keys[] = {
      {kClassKey + "\\LocalServer32", server},
      {kInterfaceKey + "\\ProxyStubClsid32", "{834874B0-02EF-48B8-83DD-E2FDCEAEA575}"},
      {kProxyKey + "\\InprocServer32", proxy}};
  for (bool registered : {true, false, false}) {  // removing what is not there is no error
    ASSERT_EQ(RunServerProgram(kServer, {registered ? "/RegServer" : "/UnregServer"}), 0);
    for (const auto& [key, value] : keys)
      EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, key, nullptr), registered ? value : "<missing>");
    if (registered) {
      EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kProxyKey + "\\InprocServer32", "ThreadingModel"), "Both");
    }
    // The machine's registration is another scope and stays.
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kClassKey + "\\LocalServer32", nullptr), server);
  }
}

TEST(ServerRegistration, AnythingElseOnTheCommandLineIsRefused) {
  EXPECT_EQ(RunServerProgram(kServer, {}), 2);
  EXPECT_EQ(RunServerProgram(kServer, {"/RegServer", "/Everyone"}), 2);
}

}  // namespace
