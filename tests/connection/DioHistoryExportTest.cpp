#include "connection/DioHistoryExport.h"

#include <gtest/gtest.h>

namespace {
using std::chrono::hours;
using std::chrono::microseconds;
using std::chrono::minutes;
using std::chrono::seconds;

class CStringOutput final : public IExportOutput {
public:
    bool Write(std::string_view piece) override {
        text.append(piece);
        return ++m_nWrites <= m_nFailAfter;
    }
    std::string text;
    int m_nFailAfter = 1 << 30;

private:
    int m_nWrites = 0;
};

// 2026-12-09 13:03:27.000 UTC, and a moment so many microseconds later.
DioTime At(std::int64_t us) {
    return DioTime(microseconds(1'796'821'407'000'000 + us));
}

// A short session: connected; DIO0 Output/High; DIO1's mode alone, then its state and DIO0's
// state in one chunk; a last reply in the chunk that ends with the device closing.
CDioHistory& Session(CDioHistory& history, const std::string& peer = "127.0.0.1:5001") {
    auto report = [&](std::int64_t us, std::vector<DioReport> reports) {
        history.RecordReports(At(us), reports.data(), reports.size());
    };
    history.RecordConnected(At(0), peer);
    report(1500, {{0, {1, 1}}});
    report(2000, {{1, {0, -1}}});
    report(3250, {{1, {-1, 1}}, {0, {1, 0}}});
    report(5000, {{1, {0, 0}}});
    history.RecordEnded(At(5000), ConnectionEventKind::ClosedByDevice);
    return history;
}

const UtcOffsetFunction kPlusOne = [](DioTime) {
    return seconds(3600);
};
} // namespace

TEST(DioHistoryExport, VcdOfAShortSession) {
    CDioHistory history;
    CStringOutput out;
    ASSERT_TRUE(WriteVcd(Session(history).Snapshot(), 2, "Kelvane 2.0", kPlusOne, out));
    EXPECT_EQ(out.text, "$date\n"
                        "   2026-12-09T14:03:27.000+01:00\n"
                        "$end\n"
                        "$version\n"
                        "   Kelvane 2.0\n"
                        "$end\n"
                        "$comment\n"
                        "   Times count from the first record, in microseconds.\n"
                        "$end\n"
                        "$timescale 1 us $end\n"
                        "$scope module kelvane $end\n"
                        "$var wire 1 ! connected $end\n"
                        "$var wire 1 \" dio0 $end\n"
                        "$var wire 1 # dio0_output $end\n"
                        "$var wire 1 $ dio1 $end\n"
                        "$var wire 1 % dio1_output $end\n"
                        "$upscope $end\n"
                        "$enddefinitions $end\n"
                        "#0\n"
                        "$dumpvars\n"
                        "1!\n"
                        "x\"\n"
                        "x#\n"
                        "x$\n"
                        "x%\n"
                        "$end\n"
                        "#1500\n"
                        "1\"\n"
                        "1#\n"
                        "#2000\n"
                        "0%\n"
                        "#3250\n"
                        "0\"\n"
                        "1$\n"
                        "#5000\n"
                        "0!\n"
                        "x\"\n"
                        "x#\n"
                        "x$\n"
                        "x%\n");
}

TEST(DioHistoryExport, VcdShowsTheLastValueOfAMicrosecondAndMoreDiosThanTheModel) {
    CDioHistory history;
    std::vector<DioReport> reports = {{2, {0, 1}}, {2, {0, 0}}, {2, {0, 1}}};
    history.RecordReports(At(10), reports.data(), 1);
    history.RecordReports(At(20), reports.data() + 1, 2); // low and back within 1 us
    reports = {{2, {0, 0}}};
    history.RecordReports(At(30), reports.data(), 1);
    CStringOutput out;
    ASSERT_TRUE(WriteVcd(history.Snapshot(), 1, "v", kPlusOne, out));
    EXPECT_NE(out.text.find("$var wire 1 & dio2 $end\n"), std::string::npos);
    const std::string body = out.text.substr(out.text.find("$enddefinitions"));
    EXPECT_EQ(body.find("#10"), std::string::npos) << body;
    EXPECT_NE(body.find("#20\n0&\n"), std::string::npos) << body;
}

TEST(DioHistoryExport, CsvOfAShortSessionWithQuotedFields) {
    CDioHistory history;
    CStringOutput out;
    ASSERT_TRUE(
        WriteCsv(Session(history, "10.0.0.7 \"lab, rack 2\":5001").Snapshot(), kPlusOne, out));
    EXPECT_EQ(out.text, "time,dio,mode,state\r\n"
                        "2026-12-09T14:03:27.000+01:00,,\"connected 10.0.0.7 \"\"lab, rack "
                        "2\"\":5001\",\r\n"
                        "2026-12-09T14:03:27.001+01:00,0,output,high\r\n"
                        "2026-12-09T14:03:27.002+01:00,1,input,\r\n"
                        "2026-12-09T14:03:27.003+01:00,0,output,low\r\n"
                        "2026-12-09T14:03:27.003+01:00,1,input,high\r\n"
                        "2026-12-09T14:03:27.005+01:00,1,input,low\r\n"
                        "2026-12-09T14:03:27.005+01:00,,closed by device,\r\n");
}

TEST(DioHistoryExport, IsoTimesAcrossDaysAndOffsets) {
    EXPECT_EQ(FormatIsoTime(At(999), seconds(0)), "2026-12-09T13:03:27.000+00:00");
    EXPECT_EQ(FormatIsoTime(At(-1), seconds(0)), "2026-12-09T13:03:26.999+00:00");
    EXPECT_EQ(FormatIsoTime(At(0), -(hours(13) + minutes(30))), "2026-12-08T23:33:27.000-13:30");
    EXPECT_EQ(FormatIsoTime(At(0), hours(11)), "2026-12-10T00:03:27.000+11:00");
    EXPECT_EQ(FormatIsoTime(DioTime(seconds(951'782'400)), seconds(0)),
              "2000-02-29T00:00:00.000+00:00");
}

TEST(DioHistoryExport, AFailedWriteEndsTheExport) {
    CDioHistory history;
    Session(history);
    for (int attempt = 0; attempt < 2; ++attempt) {
        CStringOutput out;
        out.m_nFailAfter = 0;
        const bool ok = attempt == 0 ? WriteVcd(history.Snapshot(), 4, "v", kPlusOne, out)
                                     : WriteCsv(history.Snapshot(), kPlusOne, out);
        EXPECT_FALSE(ok) << (attempt == 0 ? "VCD" : "CSV");
    }
}
