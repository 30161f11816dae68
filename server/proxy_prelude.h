// Included ahead of the generated proxy code. MinGW's <unknwn.h> declares
// rpcrt4's IUnknown proxies for C++ only, and the generated virtual table
// names them from C.
#pragma once

#include <objbase.h>

#ifndef __cplusplus
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid,
                                                        void** ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);
#endif
