// What the check reads and writes: the profile a lab replaces, and the JSON,
// HTML and CSV it files, with hostile files and typed text.

#include "../filesizelimit.h"
#include "checkprofile.h"
#include "checkreport.h"
#include "failuretext.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ProfileRow
{
    const char* text;
    const char* error; // empty: accepted
    double maxOffset;  // afterwards, accepted or not
};

class ProfileText : public ::testing::TestWithParam<ProfileRow>
{
};

TEST_P(ProfileText, AcceptsOnlyKnownKeysWithNumbersInRange)
{
    const ProfileRow& row = GetParam();
    CheckProfile profile;
    std::string error;
    EXPECT_EQ(profile.parse(row.text, error), !*row.error);
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(profile.maxOffset, row.maxOffset);
}

INSTANTIATE_TEST_SUITE_P(
    Check, ProfileText,
    ::testing::Values(
        ProfileRow{"{}", "", 0.05},
        ProfileRow{R"({"maxOffset": 0.1, "minCoverage": 1, "maxUnpromptedPresses": 2})", "", 0.1},
        // A bad key anywhere leaves every limit as it was.
        ProfileRow{R"({"maxOffset": 0.1, "maxOfset": 0.1})", "unknown key \"maxOfset\"", 0.05},
        ProfileRow{R"({"maxOffset": "0.1"})", "\"maxOffset\" must be a finite number, 0 or more",
                   0.05},
        ProfileRow{R"({"maxOffset": true})", "\"maxOffset\" must be a finite number, 0 or more",
                   0.05},
        ProfileRow{R"({"maxNoise": -0.01})", "\"maxNoise\" must be a finite number, 0 or more",
                   0.05},
        ProfileRow{R"({"minTrackedShare": 1.5})",
                   "\"minTrackedShare\" must be a number from 0 to 1", 0.05},
        ProfileRow{R"({"maxUnpromptedPresses": 1.5})",
                   "\"maxUnpromptedPresses\" must be a whole number, 0 or more", 0.05},
        ProfileRow{R"({"maxUnpromptedPresses": -1})",
                   "\"maxUnpromptedPresses\" must be a whole number, 0 or more", 0.05},
        ProfileRow{"{\"maxOffs\xc3\xa9t\": 1}", "unknown key (not shown)", 0.05},
        // Neither the first nor the last of two equal keys is taken.
        ProfileRow{R"({"maxOffset": 0.05, "maxOffset": 99})", "duplicate key \"maxOffset\"", 0.05},
        ProfileRow{"{\"k\xc3\xa9\": 1, \"k\xc3\xa9\": 1}", "duplicate key (not shown)", 0.05},
        ProfileRow{"[0.1]", "not a JSON object", 0.05},
        ProfileRow{R"({"maxOffset": 0.1)", "not valid JSON", 0.05}));

class TempFolder
{
public:
    TempFolder()
    {
        std::string pattern =
            (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/checkXXXXXX");
        path = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Check, ProfileFileMustBeASmallRegularFile)
{
    TempFolder folder;
    ASSERT_FALSE(folder.path.empty());
    const std::string good = folder.path + "/good.json";
    std::ofstream(good) << R"({"maxPositionSigmaMm": 0.8})";
    const std::string big = folder.path + "/big.json";
    std::ofstream(big) << "{" << std::string(CheckProfile::kMaxFileSize, ' ') << "}";
    const std::string fifo = folder.path + "/fifo.json";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    const struct
    {
        std::string path;
        std::string error;
    } rows[] = {
        {good, ""},
        {big, big + ": larger than 65536 bytes"},
        {fifo, fifo + ": not a regular file"},
        {folder.path, folder.path + ": not a regular file"},
        {folder.path + "/none", folder.path + "/none: No such file or directory"},
    };
    for (const auto& row : rows) {
        CheckProfile profile;
        std::string error;
        EXPECT_EQ(profile.load(row.path, error), row.error.empty()) << row.path;
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(profile.maxPositionSigmaMm, row.error.empty() ? 0.8 : 0.5);
    }
}

// A failed check with one button, as the engine leaves it.
CheckResult sampleResult()
{
    CheckResult r;
    r.verdict = Verdict::Fail;
    r.numButton = 1;
    r.numJoystick = 2;
    r.buttonsVerdict = Verdict::Fail;
    ButtonResult b;
    b.button = 1;
    b.verdict = Verdict::Fail;
    b.reason = "no press";
    r.buttons.push_back(b);
    r.rest.verdict = Verdict::Pass;
    r.rest.offset = 0.01;
    r.failures.push_back(
        {"buttons", "button 1", "no press", "nothing pressed within 10 s of the prompt"});
    return r;
}

CheckReportInfo sampleInfo(const std::string& wandId, const std::string& operatorName)
{
    CheckReportInfo info;
    info.checkId = "0b7e5d1c-5f0e-4a57-9a4e-3f1d2c6b8a90";
    info.toolName = "kestrel-check";
    info.toolVersion = "1.0.0";
    info.wandId = wandId;
    info.operatorName = operatorName;
    info.capture = "run.pcap";
    info.startedUs = 1796117400000000; // 2026-12-01T09:30:00Z
    info.finishedUs = info.startedUs + 61250000;
    return info;
}

// The words a technician reads for each kind of failure, in the wizard, the
// printed report and kestrel-check alike, and the figure tables beside them.
TEST(Check, FailuresAndFiguresReadAsWordsAndWholeNumbers)
{
    CheckResult r = sampleResult();
    r.rest.centreX = 0.01;
    r.circle.verdict = Verdict::Fail;
    r.circle.coverage = 0.85;
    r.circle.circularityError = 10.34;
    r.hold.verdict = Verdict::Fail;
    r.hold.frames = 4999;
    r.hold.droppedFrames = 62;
    const auto judged = [&r](CheckItem item, double limit) {
        r.judgements[size_t(item)] = {limit, Verdict::Fail};
    };
    judged(CheckItem::Coverage, 0.9);
    judged(CheckItem::CircularityError, 10.0);
    judged(CheckItem::DroppedFrames, 49.99);
    judged(CheckItem::Offset, 0.05);
    const auto figure = [](const char* step, CheckItem item) {
        return CheckFailure{step, checkItemName(item), "", "", item};
    };
    const std::vector<std::pair<CheckFailure, std::string>> rows = {
        {r.failures[0], "Button 1 did not answer: nothing pressed within 10 s of the prompt (no "
                        "press)"},
        {{"hold", "data", "incomplete", "40 frames in the hold window, at least 50 needed"},
         "The hold step could not be judged: 40 frames in the hold window, at least 50 needed"},
        {figure("circle", CheckItem::CircularityError),
         "The stick's edge is 10.3 % out of round, at most 10 % allowed (circularityError)"},
        {figure("circle", CheckItem::Coverage),
         "The stick reached 85 % of its edge, at least 90 % needed (coverage)"},
        {figure("hold", CheckItem::DroppedFrames),
         "62 frames were lost while the wand was held still, at most 49 allowed (droppedFrames)"},
        {figure("rest", CheckItem::NoiseX),
         "The joystick's jitter left-right could not be measured (noiseX)"},
    };
    for (const auto& [failure, text] : rows)
        EXPECT_EQ(failureText(failure, r), text);
    // Digits enough to tell a value from its limit.
    r.circle.circularityError = 10.004;
    EXPECT_EQ(failureText(rows[2].first, r).substr(0, 29), "The stick's edge is 10.004 % ");

    r.failures.push_back(rows[4].first);
    const std::string html = reportHtml(sampleInfo("W1", ""), CheckProfile(), r);
    for (const char* part :
         {"Wand <b>W1</b>, Skywand F1 (", "<li>62 frames were lost",
          "<td>centreX</td><td class=\"num\">0.01</td><td class=\"num\"></td><td "
          "class=\"measured\">measured</td>",
          "<td>frames</td><td class=\"num\">4999</td><td class=\"num\"></td><td "
          "class=\"measured\">measured</td>",
          "<td>droppedFrames</td><td class=\"num\">62</td><td class=\"num\">≤ 49</td>"})
        EXPECT_NE(html.find(part), std::string::npos) << part;
    EXPECT_EQ(html.find("checked by"), std::string::npos);
    EXPECT_NE(reportHtml(sampleInfo("W1", "Ann"), CheckProfile(), r).find("checked by Ann, "),
              std::string::npos);
}

TEST(Check, ReportJsonHoldsTheSchemaKeysInOrder)
{
    const auto report = nlohmann::ordered_json::parse(
        reportJson(sampleInfo("W1", "Ann"), CheckProfile(), sampleResult()));
    std::vector<std::string> keys;
    for (const auto& item : report.items())
        keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"schema", "checkId", "tool", "wandId", "operator",
                                              "skywandIndex", "skywand", "numButton", "numJoystick",
                                              "started", "finished", "source", "evidence",
                                              "profile", "verdict", "failures", "steps"}));
    EXPECT_EQ(report["schema"], "skywand-check/1");
    EXPECT_EQ(report["checkId"], "0b7e5d1c-5f0e-4a57-9a4e-3f1d2c6b8a90");
    EXPECT_EQ(report["started"], "2026-12-01T09:30:00.000Z");
    EXPECT_EQ(report["finished"], "2026-12-01T09:31:01.250Z");
    EXPECT_EQ(report["source"], nlohmann::ordered_json({{"capture", "run.pcap"}}));
    EXPECT_EQ(report["profile"]["maxOffset"], 0.05);
    EXPECT_EQ(report["failures"][0]["reason"], "no press");
    const auto& button = report["steps"]["buttons"]["buttons"][0];
    EXPECT_EQ(button["reason"], "no press");
    EXPECT_TRUE(button["pressedAt"].is_null());
    EXPECT_EQ(report["steps"]["rest"]["offset"], 0.01);
    EXPECT_TRUE(report["steps"]["rest"]["noiseX"].is_null());
    EXPECT_EQ(report["steps"]["circle"]["reach"].size(), 4u);
}

TEST(Check, TypedTextIsEscapedQuotedAndNeverBreaksAFile)
{
    TempFolder folder;
    const std::string hostileId = "<b>W\"1&</b>,\xff";
    const CheckReportInfo info = sampleInfo(hostileId, "=HYPERLINK(\"x\")");
    SavedReport first;
    SavedReport second;
    std::string error;
    ASSERT_TRUE(
        saveReport(folder.path + "/reports", info, CheckProfile(), sampleResult(), first, error))
        << error;
    ASSERT_TRUE(
        saveReport(folder.path + "/reports", info, CheckProfile(), sampleResult(), second, error))
        << error;

    // The same wand in the same second: a second name, nothing replaced.
    EXPECT_EQ(first.json, folder.path + "/reports/_b_W_1___b___-20261201T093101Z.json");
    EXPECT_EQ(second.json, folder.path + "/reports/_b_W_1___b___-20261201T093101Z-2.json");

    // Invalid UTF-8 is replaced, everything else kept as typed.
    const auto report = nlohmann::json::parse(readAll(first.json));
    EXPECT_EQ(report["wandId"], "<b>W\"1&</b>,\xEF\xBF\xBD");

    const std::string html = readAll(first.html);
    EXPECT_EQ(html.find("<b>W"), std::string::npos);
    EXPECT_NE(html.find("&lt;b&gt;W&quot;1&amp;&lt;/b&gt;"), std::string::npos);
    EXPECT_LT(html.find("FAIL"), html.find("Failures"));

    // Header once; fields with commas or quotes quoted, formulas kept as text.
    const std::string csv = readAll(first.csv);
    const std::string row =
        "\"<b>W\"\"1&</"
        "b>,\xff\",\"'=HYPERLINK(\"\"x\"\")\",2026-12-01T09:31:01.250Z,fail,0.01,,,,,,,,,,"
        "buttons button 1 no press,";
    EXPECT_EQ(csv, reportCsvHeader() + row + "_b_W_1___b___-20261201T093101Z.json\n" + row +
                       "_b_W_1___b___-20261201T093101Z-2.json\n");
}

TEST(Check, ReportFolderCsvMustBeARegularFile)
{
    TempFolder folder;
    ASSERT_EQ(mkfifo((folder.path + "/" + kReportCsvName).c_str(), 0600), 0);
    SavedReport saved;
    std::string error;
    EXPECT_FALSE(saveReport(folder.path, sampleInfo("W1", ""), CheckProfile(), sampleResult(),
                            saved, error));
    EXPECT_EQ(error, folder.path + "/" + kReportCsvName + ": not a regular file");
}

std::vector<std::string> entries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Check, ReportIsFiledWholeOrNotAtAll)
{
    const CheckReportInfo info = sampleInfo("W1", "Ann");
    const std::string stem = "W1-20261201T093101Z";
    const std::string json = reportJson(info, CheckProfile(), sampleResult());
    ASSERT_LT(json.size(), reportHtml(info, CheckProfile(), sampleResult()).size());
    const std::string header = reportCsvHeader();
    const std::string line = reportCsvRow(info, sampleResult(), stem + ".json");
    std::string full = header;
    while (full.size() < 64 * 1024)
        full += line;

    enum Place
    {
        File,
        LinkOut,
        DanglingLink,
        Folder
    };
    const struct
    {
        const char* name;
        Place place;
        std::string before; // the CSV's content, or its link target's
        rlim_t limit;       // the largest file that can be written; 0 for any
        std::string error;  // the end of the message; empty when filed
        std::string after;
    } rows[] = {
        {"new", File, "", 0, "", header + line},
        {"no final line end", File, header + "x", 0, "", header + "x\n" + line},
        {"link out of the folder", LinkOut, header, 0, ".csv: not a regular file", header},
        {"dangling link", DanglingLink, "", 0, ".csv: not a regular file", ""},
        {"folder", Folder, "", 0, ".csv: not a regular file", ""},
        {"full at the html", File, header, json.size(), ".html: File too large", header},
        {"full within the row", File, full, full.size() + 10, ".csv: File too large", full},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder folder;
        TempFolder outside;
        const std::string csv = folder.path + "/" + kReportCsvName;
        const std::string target = outside.path + "/target.csv";
        if (row.place == File && !row.before.empty())
            std::ofstream(csv, std::ios::binary) << row.before;
        if (row.place == LinkOut)
            std::ofstream(target, std::ios::binary) << row.before;
        if (row.place == LinkOut || row.place == DanglingLink) {
            ASSERT_EQ(::symlink(target.c_str(), csv.c_str()), 0);
        }
        if (row.place == Folder)
            std::filesystem::create_directory(csv);
        const std::vector<std::string> prepared = entries(folder.path);

        SavedReport saved;
        std::string error;
        bool filed = false;
        {
            FileSizeLimit limit(row.limit ? row.limit : RLIM_INFINITY);
            filed = saveReport(folder.path, info, CheckProfile(), sampleResult(), saved, error);
        }
        EXPECT_EQ(filed, row.error.empty()) << error;
        EXPECT_EQ(error.substr(error.size() - std::min(error.size(), row.error.size())), row.error);
        const std::string written = readAll(row.place == File ? csv : target);
        EXPECT_EQ(written, row.after);
        if (!filed) {
            EXPECT_EQ(entries(folder.path), prepared);
            EXPECT_EQ(saved.json, "");
        }
        if (row.place == DanglingLink) {
            EXPECT_FALSE(std::filesystem::exists(target));
        }
        if (row.limit) {
            // Once there is room, the same check files under the same names.
            ASSERT_TRUE(saveReport(folder.path, info, CheckProfile(), sampleResult(), saved, error))
                << error;
            EXPECT_EQ(saved.json, folder.path + "/" + stem + ".json");
            EXPECT_EQ(readAll(csv), row.before + line);
        }
    }
}

} // namespace
