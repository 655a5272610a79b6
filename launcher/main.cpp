// fwcarrier: writes the update kit into the temporary directory and starts the updater. It takes no
// arguments; any that are given are ignored.
#include "launcher/app.h"

int main() {
    launcher::FwUpdaterApp app(platform::launch());
    app.InitInstance();
    return 0;
}
