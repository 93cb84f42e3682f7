#include "diagnoseworker.h"

#include "firewall.h"
#include "portholder.h"
#include "trafficcapture.h"

#include <unistd.h>

DiagnoseWorker::DiagnoseWorker(QObject* parent) : QThread(parent) {}

DiagnoseWorker::~DiagnoseWorker()
{
    // The capture ends on its own within its time; the window waits for it.
    wait();
}

void DiagnoseWorker::setPort(uint16_t port, bool portOpened)
{
    evidence = DiagnosisEvidence{};
    evidence.port = port;
    evidence.portOpened = portOpened;
}

void DiagnoseWorker::run()
{
    try {
        evidence.privileged = geteuid() == 0;
        if (!evidence.portOpened)
            evidence.portHolders = findPortHolders(evidence.port);
        evidence.firewallTools = findFirewallTools();
        TrafficCapture capture;
        if (capture.open())
            capture.run(kCaptureSeconds);
        evidence.capture = capture.report();
    } catch (...) {
        // What could not be gathered stays unknown; the diagnosis says so.
    }
}
