#include "window/processstate.h"

#include "rules/pollmode.h"

QList<SerialPortEntry> PortList;
int FoundPorts[FoundPortsSize] = {};
int FoundCount = 1;
int ProbeIndex = 0;
bool DiscoveryOver = false;
int DragGuard = 0;
QString CaptureFileName;
QFile CaptureFile;
QFile TemplateFile;
int PollMode = Monitoring;
int ScanCountdown = 0;
int CaptureOffset = 0;
QString CaptureError;

void resetProcessState()
{
    PortList.clear();
    for (int &row : FoundPorts)
        row = 0;
    FoundCount = 1;
    ProbeIndex = 0;
    DiscoveryOver = false;
    DragGuard = 0;
    CaptureFileName.clear();
    if (CaptureFile.isOpen())
        CaptureFile.close();
    CaptureFile.setFileName(QString());
    TemplateFile.setFileName(QString());
    PollMode = Monitoring;
    ScanCountdown = 0;
    CaptureOffset = 0;
    CaptureError.clear();
}
