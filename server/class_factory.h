// CClassFactory: makes the objects of one row of the class table.
#pragma once

#include "platform/dshow/combase.h"
#include "platform/dshow/factory_template.h"

class CClassFactory final : public IClassFactory, public CBaseObject {
public:
    explicit CClassFactory(const CFactoryTemplate* row);

    // IUnknown: IUnknown and IClassFactory only. [any thread; interlocked count]
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // An outer object may only ask for IUnknown. The new object is asked for riid between one
    // reference of its own and its release, so a refused interface leaves nothing behind.
    // [any thread]
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    // Keeps the module loaded while a lock is held. [any thread]
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~CClassFactory() override = default;

    const CFactoryTemplate* row_;
    volatile LONG ref_;
};
