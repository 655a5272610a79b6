// The video capture stack as the operating system offers it: the system device enumerator, its monikers and
// property bags, capture filters, their topology nodes and kernel-streaming property calls. Each call can
// fail on its own and reports an HResult, as the COM interfaces it stands for do.
#pragma once

#include "platform/com.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Well-known identifiers of the capture stack.
inline const Guid kNodeTypeDevSpecific = guidOf("941C7AC0-C559-11D0-8A2B-00A0C9255AC1");

// Flags of a kernel-streaming property request.
inline constexpr std::uint32_t kKsPropertyGet = 0x00000001;
inline constexpr std::uint32_t kKsPropertySet = 0x00000002;
inline constexpr std::uint32_t kKsPropertySetSupport = 0x00000100;
inline constexpr std::uint32_t kKsPropertyTopology = 0x10000000;

// Size of a KSP_NODE request: property set (16), property id (4), flags (4), node id (4), reserved (4).
inline constexpr std::uint32_t kKsNodeRequestSize = 32;

// IKsControl: one kernel-streaming property call. `request` holds a KSP_NODE of `requestLength` bytes;
// `data` is the property value buffer, read for a set and filled for a get.
class KsControl {
  public:
    virtual ~KsControl() = default;
    virtual HResult property(const std::uint8_t* request, std::uint32_t requestLength, std::uint8_t* data,
                             std::uint32_t dataLength, std::uint32_t& bytesReturned) = 0;
};

// IKsTopologyInfo of a capture filter.
class TopologyInfo {
  public:
    virtual ~TopologyInfo() = default;
    virtual HResult nodeCount(std::uint32_t& count) = 0;
    virtual HResult nodeType(std::uint32_t node, Guid& type) = 0;
    // CreateNodeInstance(node, IID_IKsControl).
    virtual HResult createNodeControl(std::uint32_t node, std::unique_ptr<KsControl>& out) = 0;
};

// IBaseFilter of a capture device, with the two interfaces this system queries from it.
class CaptureFilter {
  public:
    virtual ~CaptureFilter() = default;
    virtual HResult queryTopologyInfo(std::unique_ptr<TopologyInfo>& out) = 0;
    virtual HResult queryKsControl(std::unique_ptr<KsControl>& out) = 0;
};

// IPropertyBag of a device moniker: reads of string values ("FriendlyName", "DevicePath").
class PropertyBag {
  public:
    virtual ~PropertyBag() = default;
    virtual HResult readString(std::u16string_view name, std::u16string& value) = 0;
};

// IMoniker of one video capture device.
class DeviceMoniker {
  public:
    virtual ~DeviceMoniker() = default;
    virtual HResult bindToStorage(std::unique_ptr<PropertyBag>& out) = 0;
    virtual HResult bindToObject(std::unique_ptr<CaptureFilter>& out) = 0;
};

// IEnumMoniker over the video capture category.
class MonikerEnumerator {
  public:
    virtual ~MonikerEnumerator() = default;
    virtual HResult reset() = 0;
    // Next with a count of 1: kOk and a moniker, or kFalse at the end.
    virtual HResult next(std::unique_ptr<DeviceMoniker>& out) = 0;
};

// ICreateDevEnum of the system device enumerator.
class DeviceEnumerator {
  public:
    virtual ~DeviceEnumerator() = default;
    // CreateClassEnumerator(CLSID_VideoInputDeviceCategory, ..., 0): kFalse (and no enumerator) for an empty
    // category.
    virtual HResult createVideoInputEnumerator(std::unique_ptr<MonikerEnumerator>& out) = 0;
};

} // namespace platform
