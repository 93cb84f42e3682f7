#pragma once

// Gathering what the system shows about a port that gives no data, for the
// diagnosis: the same steps for the stream monitor window and for
// kestrel-dump --diagnose.

#include "diagnosis.h"

#include <functional>

// How long the capture listens, and the port is watched beside it; with the
// look-ups the whole diagnosis stays within 5 s.
constexpr double kEvidenceSeconds = 2.5;

// Fills in evidence whether this process is privileged, the firewall tools,
// the port's holders when evidence.portOpened is false and, with capture set,
// what a capture of kEvidenceSeconds on every interface sees. The capture
// runs on a thread of its own while watch (when given) runs on this one, so
// that the caller can receive on the port meanwhile; watch decides itself how
// long it takes. Never throws: what could not be gathered stays unknown.
void gatherEvidence(DiagnosisEvidence& evidence, bool capture,
                    const std::function<void()>& watch = {});
