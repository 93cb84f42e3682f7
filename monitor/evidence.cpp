#include "evidence.h"

#include "systemprobes.h"

#include <exception>
#include <thread>

void gatherEvidence(DiagnosisEvidence& evidence, bool capture, const std::function<void()>& watch)
{
    try {
        evidence.privileged = runsPrivileged();
        evidence.firewallTools = findFirewallTools();
        if (!evidence.portOpened)
            evidence.portHolders = findPortHolders(evidence.port);
    } catch (...) {
        // Out of memory for a name: what was found so far stands.
    }
    TrafficCapture traffic;
    std::thread listening;
    try {
        if (capture && traffic.open())
            listening = std::thread([&traffic] { traffic.run(kEvidenceSeconds); });
    } catch (...) {
        // No thread for the capture: the report says it did not run.
    }
    try {
        if (watch)
            watch();
    } catch (...) {
        // The caller's watch failed; the capture still ends and is reported.
    }
    if (listening.joinable())
        listening.join();
    try {
        evidence.capture = traffic.report();
    } catch (...) {
    }
}
