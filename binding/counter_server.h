// The counter server: a COM server in a 64-bit process of its own that
// hosts the counter library for 32-bit processes under WOW64, and the
// client side of it, which binds CounterApiTable to bridges that call it.
#pragma once

#include <cstdint>

#include "com.h"
#include "counter_api.h"

extern const CLSID CLSID_CounterServer;
extern const IID IID_ICounterServer;

// The server's interface. Its virtual table: IUnknown (slots 0-2), IDispatch
// (3-6), then these methods at slots 7-26, in this order. Each one ends with
// a pointer through which the server stores the counter API's result code;
// the HRESULT only says whether the call itself went through.
struct ICounterServer : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Init(int32_t* result) = 0;                          // 7
  virtual HRESULT STDMETHODCALLTYPE Shutdown(int32_t* result) = 0;                      // 8
  virtual HRESULT STDMETHODCALLTYPE CounterCall0(uint32_t value, int32_t* result) = 0;  // 9
  virtual HRESULT STDMETHODCALLTYPE AddCounter(uint32_t index, int32_t* result) = 0;    // 10
  virtual HRESULT STDMETHODCALLTYPE RemoveAllCounters(int32_t* result) = 0;             // 11
  virtual HRESULT STDMETHODCALLTYPE CounterCall9(uint32_t value, int32_t* result) = 0;  // 12
  virtual HRESULT STDMETHODCALLTYPE CounterCall3(uint32_t value, int32_t* result) = 0;  // 13
  virtual HRESULT STDMETHODCALLTYPE CounterCall4(int32_t* result) = 0;                  // 14
  virtual HRESULT STDMETHODCALLTYPE CounterCall5(uint32_t value, int32_t* result) = 0;  // 15
  virtual HRESULT STDMETHODCALLTYPE CounterCall6(uint32_t value, int32_t* result) = 0;  // 16
  virtual HRESULT STDMETHODCALLTYPE CounterCall7(uint32_t value, int32_t* result) = 0;  // 17
  virtual HRESULT STDMETHODCALLTYPE CounterCall8(uint32_t value, int32_t* result) = 0;  // 18
  virtual HRESULT STDMETHODCALLTYPE CounterCall10(uint32_t a, uint32_t b, uint32_t c,
                                                  uint32_t d, int32_t* result) = 0;     // 19
  virtual HRESULT STDMETHODCALLTYPE Sample(uint32_t capacity, CounterSampleRecord* samples,
                                           uint32_t* count, int32_t* result) = 0;       // 20
  virtual HRESULT STDMETHODCALLTYPE CounterCall18(uint32_t value, int32_t* result) = 0; // 21
  virtual HRESULT STDMETHODCALLTYPE GetNumCounters(uint32_t* count, int32_t* result) = 0;  // 22
  virtual HRESULT STDMETHODCALLTYPE GetCounterName(uint32_t index, char* name,
                                                   uint32_t* length, int32_t* result) = 0;  // 23
  virtual HRESULT STDMETHODCALLTYPE CounterCall14(uint32_t a, uint32_t b,
                                                  int32_t* result) = 0;                 // 24
  virtual HRESULT STDMETHODCALLTYPE GetCounterAttribute(uint32_t index, uint32_t attribute,
                                                        uint64_t* value,
                                                        int32_t* result) = 0;           // 25
  virtual HRESULT STDMETHODCALLTYPE GetCounterValue(uint32_t index, uint32_t object,
                                                    uint64_t* value, uint64_t* cycles,
                                                    int32_t* result) = 0;               // 26
};

// Creates the server object (class context 23: any server kind), runs it and
// asks it for ICounterServer, stored through `server`, which is set to null
// first and stays null on failure. Returns the first failing HRESULT of
// CoCreateInstance, OleRun and QueryInterface, else QueryInterface's.
HRESULT CreateCounterServer(ICounterServer** server);

// The server path of BindCounterApi: initialises COM, connects, makes the
// server's Init call with `result` (the binder's result, preset to -1) and
// fills the table with bridges. A connection that cannot be created leaves
// the table as it was.
void BindCounterServer(int32_t* result);
