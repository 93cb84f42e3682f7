#pragma once

#include "diagnosis.h"

#include <QThread>

#include <atomic>
#include <cstdint>

// Gathers the evidence that takes time or touches the system (the port's
// holders, a capture on every interface, the firewall tools) away from the
// GUI thread. The stream's own figures come from the window, which keeps
// feeding them meanwhile.
class DiagnoseWorker : public QThread
{
    Q_OBJECT

public:
    explicit DiagnoseWorker(QObject* parent = nullptr);
    ~DiagnoseWorker() override;

    // Only while the thread is not running.
    void setPort(uint16_t port, bool portOpened);
    // Valid after finished().
    const DiagnosisEvidence& gathered() const { return evidence; }

protected:
    void run() override;

private:
    DiagnosisEvidence evidence;
};
