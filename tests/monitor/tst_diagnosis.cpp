#include "diagnosis.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// A healthy stream on port 5000 as the base that each row spoils.
DiagnosisEvidence healthy()
{
    DiagnosisEvidence e;
    e.port = 5000;
    e.portOpened = true;
    HealthFigures& h = e.health;
    h.since = 0.0;
    h.now = 3.0;
    h.framesPerSecond = 100.0;
    h.total.datagrams = h.total.frames = 300;
    h.total.gaps = 1;
    h.total.missedFrames = 2;
    h.haveFrame = true;
    h.frameCounter = 302;
    h.dataAge = 0.004;
    h.staleness = Staleness::Fresh;
    h.sender = {0xC0A80005u, 41000};
    h.skywands.resize(2);
    h.skywands[0] = {0.9f, true, 3.0};
    h.skywands[1] = {0.8f, true, 3.0};
    e.selectedSkywand = 1;
    e.capture.status = CaptureStatus::Done;
    e.capture.seconds = 2.0;
    return e;
}

void noData(DiagnosisEvidence& e)
{
    e.health.total = StreamCounts{};
    e.health.total.timeouts = 3;
    e.health.haveFrame = false;
    e.health.staleness = Staleness::NoFrame;
}

void failing(DiagnosisEvidence& e)
{
    e.health.total.parseErrors = 300;
    e.health.total.frames = 0;
    e.health.haveFrame = false;
}

struct Row
{
    const char* name;
    std::function<void(DiagnosisEvidence&)> spoil;
    Situation situation;
    DiagnosisClass outcome;
    std::string phrase; // must appear in the sentence
};

class Diagnose : public testing::TestWithParam<Row>
{
};

TEST_P(Diagnose, NamesTheCause)
{
    const Row& row = GetParam();
    DiagnosisEvidence e = healthy();
    row.spoil(e);
    const Diagnosis d = diagnose(e);
    EXPECT_EQ(d.situation, row.situation) << d.sentence;
    EXPECT_EQ(d.outcome, row.outcome) << d.sentence;
    EXPECT_NE(d.sentence.find(row.phrase), std::string::npos) << d.sentence;
    EXPECT_EQ(d.sentence.back(), '.');
    EXPECT_FALSE(d.evidence.empty());
    EXPECT_EQ(d.suggestedPort, d.situation == Situation::OtherPort ? 5001 : 0);
}

using S = Situation;
const DiagnosisClass kCause = DiagnosisClass::CauseFound;

INSTANTIATE_TEST_SUITE_P(
    Situations, Diagnose,
    testing::Values(
        Row{"portHeldNamed",
            [](DiagnosisEvidence& e) {
                e.portOpened = false;
                e.portHolders.tableReadable = true;
                e.portHolders.holders = {{77, 1000, false, 0, ""}, {78, 0, true, 4242, "socat"}};
            },
            S::PortHeld, kCause, "held by another program, socat (process 4242)"},
        Row{"portHeldHidden",
            [](DiagnosisEvidence& e) {
                e.portOpened = false;
                e.portHolders.holders = {{77, 1000, false, 0, ""}};
            },
            S::PortHeld, kCause, "ss -ulpn 'sport = :5000'"},
        Row{"privilegedPort",
            [](DiagnosisEvidence& e) {
                e.portOpened = false;
                e.port = 80;
            },
            S::PortHeld, kCause, "from 1024 on"},
        Row{"portFailsNoHolder", [](DiagnosisEvidence& e) { e.portOpened = false; }, S::Unknown,
            DiagnosisClass::Undetermined, "no program was seen holding it"},
        Row{"otherPort",
            [](DiagnosisEvidence& e) {
                noData(e);
                e.capture.streams = {{5000, "10.0.0.9:1", 3}, {5001, "10.0.0.9:40000", 90}};
            },
            S::OtherPort, kCause, "arrive for port 5001 from 10.0.0.9:40000: switch"},
        Row{"firewallDrops",
            [](DiagnosisEvidence& e) {
                noData(e);
                e.capture.streams = {{5000, "10.0.0.9:1", 3}};
                e.firewallTools = {{"nft", "/usr/sbin/nft", "nft list ruleset"}};
            },
            S::NothingArrives, kCause, "a firewall drops them; look at its rules (nft (nft list"},
        Row{"nothingAnywhere", noData, S::NothingArrives, kCause, "or any other port"},
        Row{"nothingNoCapture",
            [](DiagnosisEvidence& e) {
                noData(e);
                e.capture.status = CaptureStatus::NoPermission;
            },
            S::NothingArrives, kCause, "(here: no firewall tool"},
        Row{"stopped",
            [](DiagnosisEvidence& e) {
                e.health.dataAge = 2.5;
                e.health.staleness = Staleness::NoFrame;
            },
            S::NothingArrives, kCause, "stopped arriving on port 5000 2.5 s ago"},
        Row{"emptyOrTooLong",
            [](DiagnosisEvidence& e) {
                noData(e);
                e.health.total.netErrors = 4;
            },
            S::DatagramsUnusable, kCause, "cannot be read"},
        Row{"decodeFailsWhere",
            [](DiagnosisEvidence& e) {
                failing(e);
                e.lastParseFailure = {2, 5, "6d 1 [0\x1b[2J", "block missing"};
            },
            S::DecodeFailures, kCause, "(line 2, column 5: block missing: \"6d 1 [0?[2J\")"},
        Row{"someDecodeFail", [](DiagnosisEvidence& e) { e.health.total.parseErrors = 20; },
            S::DecodeFailures, kCause, "20 of 300 datagrams"},
        Row{"fewDecodeFailAreHealthy", [](DiagnosisEvidence& e) { e.health.total.parseErrors = 2; },
            S::Healthy, DiagnosisClass::Healthy, "Data is healthy"},
        Row{"foreign",
            [](DiagnosisEvidence& e) {
                failing(e);
                e.health.total.parseErrors = 0;
                e.health.total.foreign = 300;
            },
            S::ForeignTraffic, kCause, "hold no line of the controller's format"},
        Row{"noSkywand", [](DiagnosisEvidence& e) { e.health.skywands.clear(); }, S::NoSkywand,
            kCause, "hold no Skywand"},
        Row{"noSkywandInFrame",
            [](DiagnosisEvidence& e) {
                e.health.skywands[0].inLastFrame = e.health.skywands[1].inLastFrame = false;
            },
            S::NoSkywand, kCause, "hold no Skywand"},
        Row{"notTheSelected", [](DiagnosisEvidence& e) { e.selectedSkywand = 4; },
            S::SkywandMissing, kCause, "none for F5"},
        Row{"twoSenders",
            [](DiagnosisEvidence& e) {
                e.health.otherSender = {0xC0A80006u, 41000};
            },
            S::TwoSenders, kCause, "192.168.0.5:41000 and 192.168.0.6:41000"},
        Row{"counterGoesBack", [](DiagnosisEvidence& e) { e.health.total.backward = 40; },
            S::TwoSenders, kCause, "went back 40 times and repeated 0 times in 300 frames"},
        Row{"countersInterleaved", [](DiagnosisEvidence& e) { e.health.total.repeated = 150; },
            S::TwoSenders, kCause, "repeated 150 times in 300 frames"},
        Row{"frozen",
            [](DiagnosisEvidence& e) {
                e.health.staleness = Staleness::CounterFrozen;
                e.health.total.repeated = 299;
            },
            S::CounterFrozen, kCause, "stands still at 302"},
        Row{"healthy", [](DiagnosisEvidence&) {}, S::Healthy, DiagnosisClass::Healthy,
            "100.0 frames/s, data age 0.004 s, gaps 1 (2 frames missed)"}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST(Diagnosis, EvidenceSaysHowToGrantTheCapture)
{
    DiagnosisEvidence e = healthy();
    noData(e);
    e.capture.status = CaptureStatus::NoPermission;
    e.capture.program = "/opt/kestrel-dump";
    const Diagnosis d = diagnose(e);
    bool said = false;
    for (const std::string& line : d.evidence)
        said = said || line.find("setcap cap_net_raw+ep '/opt/kestrel-dump'") != std::string::npos;
    EXPECT_TRUE(said);
}

} // namespace
