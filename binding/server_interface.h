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
// (3-6), Init at 7, then one method per counter slot at the position that
// the slot list gives it (8-26). Each one ends with a pointer through which
// the server stores the counter API's result code; the HRESULT only says
// whether the call itself went through.
//
// C++ lays out virtual functions in declaration order, and the list is in
// table order. So each method is declared in a layer of its own,
// ServerMethod<position, Base>, and the interface stacks the layers from 7
// up: single inheritance puts each layer's method right after its base's.
// A position given twice, or none, does not compile.
namespace counter_server_layers {

template <int position, class Base>
struct ServerMethod;

// Init is no slot: the server binds its own table.
template <class Base>
struct ServerMethod<7, Base> : Base {
  virtual HRESULT STDMETHODCALLTYPE Init(int32_t* result) = 0;
};

#define KESTREL_SERVER_METHOD(slot, name, entry, method, params, args)       \
  template <class Base>                                                       \
  struct ServerMethod<KESTREL_METHOD_POSITION(method), Base> : Base {         \
    virtual HRESULT STDMETHODCALLTYPE name                                    \
        KESTREL_SERVER_PARAMETERS(method, params, int32_t* result) = 0;       \
  };
KESTREL_COUNTER_SLOTS(KESTREL_SERVER_METHOD)
#undef KESTREL_SERVER_METHOD

// The layers from 7 to `last`, on top of IDispatch.
template <int last>
struct ServerMethodsUpTo {
  using Type = ServerMethod<last, typename ServerMethodsUpTo<last - 1>::Type>;
};
template <>
struct ServerMethodsUpTo<6> {
  using Type = IDispatch;
};

}  // namespace counter_server_layers

struct ICounterServer : counter_server_layers::ServerMethodsUpTo<7 + kCounterSlotCount>::Type {};

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
