// A WOW64 answer that tests choose. Linked into a test program in place of
// the platform's own, it decides which path BindCounterApi takes.
#pragma once

namespace testing_support {

enum class Wow64Answer {
  Yes,         // the query succeeds and says WOW64: the server path
  No,          // the query succeeds and says not WOW64
  QueryFails,  // the query itself fails
};

// Until a test says otherwise the answer is Yes.
void SteerWow64(Wow64Answer answer);

}  // namespace testing_support
