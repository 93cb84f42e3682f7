#include "diagnoseworker.h"

#include "evidence.h"

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
    gatherEvidence(evidence, true);
}
