// The COM functions the library, the simulated driver and the tests call, for
// POSIX builds. Semantics follow COM as Wine implements it (see the platform
// tests); there are no proxies: every interface is usable from any thread, as
// if each object aggregated the free-threaded marshaller.
#pragma once

#include "platform/posix/com_types.h"

// Apartments. Each thread counts its own CoInitialize(Ex) calls; the thread
// leaves its apartment on the call to CoUninitialize that balances the first.
// While any thread is in the multi-threaded apartment, threads that never
// initialised COM belong to it implicitly.
HRESULT STDAPICALLTYPE CoInitialize(LPVOID pvReserved);
HRESULT STDAPICALLTYPE CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void STDAPICALLTYPE CoUninitialize();

// In-process classes registered with CoRegisterClassObject. A registration is
// seen only from the apartment that made it, and is revoked when that
// apartment ends.
HRESULT STDAPICALLTYPE CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext,
                                             DWORD flags, LPDWORD lpdwRegister);
HRESULT STDAPICALLTYPE CoRevokeClassObject(DWORD dwRegister);
HRESULT STDAPICALLTYPE CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext,
                                        COSERVERINFO* pServerInfo, REFIID riid, LPVOID* ppv);
HRESULT STDAPICALLTYPE CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                        REFIID riid, LPVOID* ppv);

// Marshalling. The marshalled form holds one counted reference to the
// interface until it is unmarshalled (or released with CoReleaseMarshalData).
HRESULT STDAPICALLTYPE CoCreateFreeThreadedMarshaler(LPUNKNOWN punkOuter, LPUNKNOWN* ppunkMarshal);
HRESULT STDAPICALLTYPE CoMarshalInterface(LPSTREAM pStm, REFIID riid, LPUNKNOWN pUnk,
                                          DWORD dwDestContext, LPVOID pvDestContext,
                                          DWORD mshlflags);
HRESULT STDAPICALLTYPE CoUnmarshalInterface(LPSTREAM pStm, REFIID riid, LPVOID* ppv);
HRESULT STDAPICALLTYPE CoReleaseMarshalData(LPSTREAM pStm);
HRESULT STDAPICALLTYPE CoMarshalInterThreadInterfaceInStream(REFIID riid, LPUNKNOWN pUnk,
                                                             LPSTREAM* ppStm);
HRESULT STDAPICALLTYPE CoGetInterfaceAndReleaseStream(LPSTREAM pStm, REFIID iid, LPVOID* ppv);

// A growable memory stream. Only a null hGlobal is supported here (the stream
// allocates its own memory); fDeleteOnRelease is accepted and has no effect.
HRESULT STDAPICALLTYPE CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease,
                                             LPSTREAM* ppstm);

// Task memory, shared between caller and callee; CoTaskMemFree accepts null.
LPVOID STDAPICALLTYPE CoTaskMemAlloc(SIZE_T cb);
LPVOID STDAPICALLTYPE CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void STDAPICALLTYPE CoTaskMemFree(LPVOID pv);

// GUID text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
int STDAPICALLTYPE StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
HRESULT STDAPICALLTYPE CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
