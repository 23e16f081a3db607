// What the controller needs of the main window. The Qt window implements it; tests use a
// recording window. All calls on the UI thread.
#pragma once

#include <string>

#include "app/WindowEvents.h"
#include "ops/JobNotifier.h"
#include "ops/Jobs.h"

namespace brev {

class IMainWindow : public IJobNotifier {
public:
    // Creation: parses the command line (raising ConsoleDownload), loads the settings, shows itself.
    virtual bool Create() = 0;
    virtual CWindowEvents& events() = 0;
    // A row for device `name`; `tooltip` on its button says which device it is (slot, port, serial).
    virtual void AddDeviceItem(const std::string& name, const std::string& tooltip) = 0;
    virtual void RemoveDeviceItem(const std::string& name) = 0;
    virtual void EnableOptionControls(bool enable) = 0;
    // The window's current external-flash option and pin texts (CS, CLK, MOSI, MISO).
    virtual int exFlashOption() const = 0;
    virtual PinTexts pinTexts() const = 0;
};

}  // namespace brev
