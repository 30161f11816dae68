// The COM stand-in's initialisation as a test sees it. Linked into a test
// program with -Wl,--wrap=CoInitialize,--wrap=CoUninitialize, it sits
// between the program and the stand-in: it counts every call and can make
// CoInitialize fail.
#pragma once

#include "com.h"

struct ComActivity {
  int initializeCalls = 0;    // CoInitialize, successful or not
  int uninitializeCalls = 0;  // CoUninitialize, matched or not
  int unmatchedUninitializeCalls = 0;
  int depth = 0;  // successful CoInitialize calls not yet undone
};
const ComActivity& CurrentComActivity();
// Makes every later CoInitialize fail with `result` (S_OK: behave normally).
void FailCoInitialize(HRESULT result);
