// The application frame of the launcher and its one application, FwUpdaterApp.
#pragma once

#include "platform/launch.h"

#include <string>
#include <string_view>

namespace launcher {

// The frame: an application does its work in InitInstance. The frame runs no message loop, so the application
// ends when InitInstance returns; FALSE is what an application returns that ends there.
class WinApp {
  public:
    virtual ~WinApp() = default;

    // The frame's own start-up. A windowless application needs nothing prepared.
    virtual bool InitInstance() { return true; }

    // The registry key under which the application's settings would be kept.
    std::u16string_view RegistryKey() const { return registryKey_; }

  protected:
    void SetRegistryKey(std::u16string_view company) { registryKey_ = company; }

  private:
    std::u16string registryKey_;
};

// The launcher: writes the kit into the temporary directory, starts the updater and ends without a window.
class FwUpdaterApp final : public WinApp {
  public:
    explicit FwUpdaterApp(platform::Launch& os) : os_(os) {}

    bool InitInstance() override;

  private:
    platform::Launch& os_;
};

} // namespace launcher
