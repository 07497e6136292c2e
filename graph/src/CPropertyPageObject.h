// A property page as a creatable object of its own (one instance of the
// template per page class): it holds the control it works on and makes the
// page's widget when a host activates it.
#pragma once

#include <QPointer>
#include <QWidget>

#include <atomic>

#include "com/server.h"
#include "nodars/Nodars32.h"

namespace nodars {

class CNodars32Ctrl;

enum class PageKind { General, Graphics, Events };

template <PageKind Kind>
class CPropertyPageObject final : public IControlPropertyPage {
public:
    CPropertyPageObject();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return ++mRefs; }
    ULONG Release() override;

    HRESULT SetObject(IUnknown* control) override;
    HRESULT Activate(QWidget* parent) override;
    QWidget* Widget() override { return mPage.data(); }
    HRESULT Apply() override;
    const char* Title() override;

    // Registration entries: class id, ProgID and the registry's type name.
    static const CLSID& ClassId();
    static com::ClassRegistration Registration(const std::string& modulePath);

private:
    ~CPropertyPageObject();

    std::atomic<ULONG> mRefs{1};
    com::ComPtr<IDispatch> mControl;
    QPointer<QWidget> mPage;
};

}  // namespace nodars
