#pragma once

#include "rules/discovery.h"
#include "io/serialports.h"

#include <QFile>
#include <QList>
#include <QString>

// State shared by the slots of the one main window, one instance per process.

using Discovery::FoundPortsSize;

extern QList<SerialPortEntry> PortList; // every port seen since start, each once, in order
extern int FoundPorts[FoundPortsSize];  // row of PortSelBox -> index into PortList
extern int FoundCount;                  // next free row of PortSelBox
extern int ProbeIndex;                  // PortList index that discovery looks at
extern bool DiscoveryOver;              // the ports present at start have all been looked at
extern int DragGuard;                   // raised while the window is being dragged
extern QString CaptureFileName;
extern QFile CaptureFile;
extern QFile TemplateFile;
extern int PollMode; // Monitoring or Capturing (measurement/pollmode.h)
extern int ScanCountdown;
extern int CaptureOffset;
extern QString CaptureError; // why the running capture is not being saved

// Puts every value back to what it is when the process starts. A process
// builds its window once; tests that build several windows call this first.
void resetProcessState();
