#pragma once

// Why no usable data arrives, in one sentence that names the cause and what
// to do, with the evidence behind it. The evidence is gathered elsewhere
// (the stream's health, the port's holders, a capture, the firewall tools);
// this part only weighs it, so that every situation can be tried by hand.

#include "firewall.h"
#include "parsefailure.h"
#include "portholder.h"
#include "streamhealth.h"
#include "trafficcapture.h"

#include <cstdint>
#include <string>
#include <vector>

// The result as a program's exit status: 0 healthy, 1 cause found, 2 unknown.
enum class DiagnosisClass
{
    Healthy = 0,
    CauseFound = 1,
    Undetermined = 2,
};

enum class Situation
{
    PortHeld,          // the port cannot be opened
    OtherPort,         // nothing on the port, the controller's frames go to another one
    NothingArrives,    // nothing on the port (or it stopped), none seen for another port
    DatagramsUnusable, // datagrams arrive but are empty, too long or unreadable
    DecodeFailures,    // datagrams arrive but fail to decode
    ForeignTraffic,    // datagrams decode but hold no line of the controller's format
    NoSkywand,         // frames hold no Skywand
    SkywandMissing,    // frames hold Skywands, but not the selected one
    TwoSenders,        // frames from two senders, or the counter going back
    CounterFrozen,     // frames arrive but the counter stands still
    Healthy,           // frames arrive as they should
    Unknown,           // the evidence names no cause
};

struct DiagnosisEvidence
{
    uint16_t port = 0;
    bool portOpened = false;
    bool privileged = false; // may bind ports below 1024
    PortHolders portHolders; // looked up when the port did not open
    // The stream while it was watched: the totals since the health's start,
    // the flags as they stood at the end.
    HealthFigures health;
    int32_t selectedSkywand = -1;  // 0 for F1; -1 when none is chosen
    ParseFailure lastParseFailure; // line 0 when unknown
    CaptureReport capture;
    std::vector<FirewallTool> firewallTools;
};

struct Diagnosis
{
    DiagnosisClass outcome = DiagnosisClass::Undetermined;
    Situation situation = Situation::Unknown;
    std::string sentence;
    std::vector<std::string> evidence;
    uint16_t suggestedPort = 0; // OtherPort: where the frames go
};

Diagnosis diagnose(const DiagnosisEvidence& evidence);

// A share of the datagrams at or above which failures or foreign traffic are
// named as the cause even while frames arrive too.
constexpr double kTroubleShare = 0.05;
