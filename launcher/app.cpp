#include "launcher/app.h"

#include "launcher/extraction.h"

namespace launcher {

namespace {

// Size of the INITCOMMONCONTROLSEX record: its size and class-flags fields.
constexpr std::uint32_t kInitCommonControlsSize = 8;

} // namespace

bool FwUpdaterApp::InitInstance() {
    os_.initCommonControlsEx(kInitCommonControlsSize, platform::kIccWin95Classes);
    WinApp::InitInstance();
    SetRegistryKey(u"Local AppWizard-Generated Applications"); // nothing is stored under it
    extractAndStart(os_);
    return false;
}

} // namespace launcher
