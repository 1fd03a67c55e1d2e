#pragma once

#include "instrument/serialports.h"

#include <QFile>
#include <QList>
#include <QString>

// State shared by the slots of the one main window, one instance per process.

// PollMode values.
constexpr int Monitoring = 1;
constexpr int Capturing = 2;

// Rows of PortSelBox: row 0 is the prompt, so at most FoundPortsSize - 1
// instruments can be listed.
constexpr int FoundPortsSize = 30;

extern QList<SerialPortEntry> PortList; // the ports present when the window was built
extern int FoundPorts[FoundPortsSize];  // row of PortSelBox -> index into PortList
extern int FoundCount;                  // next free row of PortSelBox
extern int ProbeIndex;                  // PortList index that discovery looks at
extern bool DiscoveryOver;              // no further probe will touch Port
extern int DragGuard;                   // raised while the window is being dragged
extern QString CaptureFileName;
extern QFile CaptureFile;
extern QFile TemplateFile;
extern int PollMode;
extern int ScanCountdown;
extern int CaptureOffset;
extern QString CaptureError;            // why the running capture is not being saved

// Puts every value back to what it is when the process starts. A process
// builds its window once; tests that build several windows call this first.
void resetProcessState();
