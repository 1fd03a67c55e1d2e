#pragma once

#include "simulatedinstrument.h"
#include "support/windowharness.h"

#include <memory>

namespace WindowHarness {

// A window connected to one simulated instrument and polling it, as after the
// user picked the instrument's row.
struct ConnectedWindow
{
    std::unique_ptr<SimulatedInstrument> instrument = std::make_unique<SimulatedInstrument>();
    std::unique_ptr<MainWindow> window;
    MainWindowUi *ui = nullptr;

    // Discovery, the choice of the row and the identification: about 1.6 s.
    bool connect()
    {
        window = makeWindow({instrument->devicePath()});
        ui = window->form();
        return connectToListedInstrument(*window);
    }
};

} // namespace WindowHarness
