// The video capture stack on Windows: the COM system device enumerator, property bags, capture filters,
// IKsTopologyInfo and IKsControl. Each wrapper owns one interface reference and releases it.
#include "platform/win32/capture_win32.h"
#include "platform/win32/guid_win32.h"

#include <dshow.h>
#include <ks.h>
#include <ksproxy.h>
#include <windows.h>

#include <cstring>

namespace platform::win32 {

namespace {

const GUID kIidKsTopologyInfo = toGuid(guidOf("720D4AC0-7533-11D0-A5D6-28DB04C10000"));
const GUID kIidKsControl = toGuid(guidOf("28F54685-06FD-11D2-B27A-00A0C9223196"));

// IKsTopologyInfo as documented for kernel-streaming filters; the mingw-w64 headers do not declare it.
struct IKsTopologyInfoApi : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_NumCategories(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Category(DWORD index, GUID* category) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumConnections(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionInfo(DWORD index, void* info) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeName(DWORD node, WCHAR* name, DWORD bufSize,
                                                   DWORD* nameLen) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumNodes(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeType(DWORD node, GUID* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNodeInstance(DWORD node, REFIID iid, void** out) = 0;
};

template <typename T> struct Released {
    void operator()(T* p) const {
        if (p) p->Release();
    }
};
template <typename T> using ComRef = std::unique_ptr<T, Released<T>>;

class Win32KsControl final : public KsControl {
  public:
    explicit Win32KsControl(IKsControl* control) : control_(control) {}
    HResult property(const std::uint8_t* request, std::uint32_t requestLength, std::uint8_t* data,
                     std::uint32_t dataLength, std::uint32_t& bytesReturned) override {
        ULONG returned = 0;
        const HRESULT hr =
            control_->KsProperty(reinterpret_cast<PKSPROPERTY>(const_cast<std::uint8_t*>(request)),
                                 requestLength, data, dataLength, &returned);
        bytesReturned = returned;
        return hr;
    }

  private:
    ComRef<IKsControl> control_;
};

class Win32TopologyInfo final : public TopologyInfo {
  public:
    explicit Win32TopologyInfo(IKsTopologyInfoApi* info) : info_(info) {}
    HResult nodeCount(std::uint32_t& count) override {
        DWORD n = 0;
        const HRESULT hr = info_->get_NumNodes(&n);
        count = n;
        return hr;
    }
    HResult nodeType(std::uint32_t node, Guid& type) override {
        GUID g{};
        const HRESULT hr = info_->get_NodeType(node, &g);
        std::memcpy(type.bytes.data(), &g, 16);
        return hr;
    }
    HResult createNodeControl(std::uint32_t node, std::unique_ptr<KsControl>& out) override {
        void* p = nullptr;
        const HRESULT hr = info_->CreateNodeInstance(node, kIidKsControl, &p);
        if (SUCCEEDED(hr) && p) out = std::make_unique<Win32KsControl>(static_cast<IKsControl*>(p));
        return hr;
    }

  private:
    ComRef<IKsTopologyInfoApi> info_;
};

class Win32CaptureFilter final : public CaptureFilter {
  public:
    explicit Win32CaptureFilter(IBaseFilter* filter) : filter_(filter) {}
    HResult queryTopologyInfo(std::unique_ptr<TopologyInfo>& out) override {
        void* p = nullptr;
        const HRESULT hr = filter_->QueryInterface(kIidKsTopologyInfo, &p);
        if (SUCCEEDED(hr) && p)
            out = std::make_unique<Win32TopologyInfo>(static_cast<IKsTopologyInfoApi*>(p));
        return hr;
    }
    HResult queryKsControl(std::unique_ptr<KsControl>& out) override {
        void* p = nullptr;
        const HRESULT hr = filter_->QueryInterface(kIidKsControl, &p);
        if (SUCCEEDED(hr) && p) out = std::make_unique<Win32KsControl>(static_cast<IKsControl*>(p));
        return hr;
    }

  private:
    ComRef<IBaseFilter> filter_;
};

class Win32PropertyBag final : public PropertyBag {
  public:
    explicit Win32PropertyBag(IPropertyBag* bag) : bag_(bag) {}
    HResult readString(std::u16string_view name, std::u16string& value) override {
        std::wstring wname(name.begin(), name.end());
        VARIANT var;
        VariantInit(&var);
        var.vt = VT_BSTR;
        const HRESULT hr = bag_->Read(wname.c_str(), &var, nullptr);
        if (SUCCEEDED(hr) && var.vt == VT_BSTR && var.bstrVal) {
            const wchar_t* text = var.bstrVal;
            value.assign(text, text + SysStringLen(var.bstrVal));
        }
        VariantClear(&var);
        return hr;
    }

  private:
    ComRef<IPropertyBag> bag_;
};

class Win32Moniker final : public DeviceMoniker {
  public:
    explicit Win32Moniker(IMoniker* moniker) : moniker_(moniker) {}
    HResult bindToStorage(std::unique_ptr<PropertyBag>& out) override {
        void* p = nullptr;
        const HRESULT hr = moniker_->BindToStorage(nullptr, nullptr, IID_IPropertyBag, &p);
        if (SUCCEEDED(hr) && p) out = std::make_unique<Win32PropertyBag>(static_cast<IPropertyBag*>(p));
        return hr;
    }
    HResult bindToObject(std::unique_ptr<CaptureFilter>& out) override {
        void* p = nullptr;
        const HRESULT hr = moniker_->BindToObject(nullptr, nullptr, IID_IBaseFilter, &p);
        if (SUCCEEDED(hr) && p) out = std::make_unique<Win32CaptureFilter>(static_cast<IBaseFilter*>(p));
        return hr;
    }

  private:
    ComRef<IMoniker> moniker_;
};

class Win32MonikerEnumerator final : public MonikerEnumerator {
  public:
    explicit Win32MonikerEnumerator(IEnumMoniker* e) : enum_(e) {}
    HResult reset() override { return enum_->Reset(); }
    HResult next(std::unique_ptr<DeviceMoniker>& out) override {
        IMoniker* m = nullptr;
        const HRESULT hr = enum_->Next(1, &m, nullptr);
        if (hr == S_OK && m) out = std::make_unique<Win32Moniker>(m);
        return hr;
    }

  private:
    ComRef<IEnumMoniker> enum_;
};

class Win32DeviceEnumerator final : public DeviceEnumerator {
  public:
    explicit Win32DeviceEnumerator(ICreateDevEnum* e) : enum_(e) {}
    HResult createVideoInputEnumerator(std::unique_ptr<MonikerEnumerator>& out) override {
        IEnumMoniker* e = nullptr;
        const HRESULT hr = enum_->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &e, 0);
        if (e) out = std::make_unique<Win32MonikerEnumerator>(e);
        return hr;
    }

  private:
    ComRef<ICreateDevEnum> enum_;
};

} // namespace

HResult createDeviceEnumerator(std::unique_ptr<DeviceEnumerator>& out) {
    void* p = nullptr;
    const HRESULT hr =
        CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, &p);
    if (SUCCEEDED(hr) && p) out = std::make_unique<Win32DeviceEnumerator>(static_cast<ICreateDevEnum*>(p));
    return hr;
}

} // namespace platform::win32
