// SPDX-License-Identifier: MIT
// libFuzzer target: any bytes as a table file, looked at as `dbffix show`
// looks at it (the record count against the length, the encoding of a sample
// of the records), and the same bytes given to the encoding detector as
// texts. Whatever the bytes, the look stays within its budgets, reads only,
// and a code page byte is offered only on a verdict that names one. A broken
// rule aborts the run.
//
// Input layout: byte 0 the header's code page byte for the bare detector;
// all of it the table file.
#include "Detection.h"
#include "FuzzTableFile.h"
#include "JsonWriter.h"
#include "NotifyUser.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

void CheckEncoding(const TEncodingCheck& check)
{
    Require(check.CodePage.has_value() == (check.Verdict == TEncodingVerdict::Named), "a byte offered only when named");
    Require(!check.CodePage || *check.CodePage == 38 || *check.CodePage == 87, "only the bytes the tool writes");
    Require(check.Reason.empty() == check.CodePage.has_value(), "a byte left says why");
    Require(check.DetectorBytes <= kDetectorBudget, "the detector sees at most its budget");
    Require(check.Verdict != TEncodingVerdict::Unsure || !check.Reason.empty(), "not sure says why");
    Require(nlohmann::json::accept(JsonObject([&](TJsonWriter& json) { ToJson(check, json); })),
            "the findings are JSON whatever the texts");
    (void)Describe(check);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitTablePath();
    SetNotifyUserHandler([](const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return -1;
    const std::span<const TByte> texts(data, std::min(size, kDetectorBudget));
    CheckEncoding(DetectEncoding(texts, data[0]));

    WriteTable(data, size);
    const std::vector<char> before = TableFileBytes();
    {
        TDBF table;
        table.SetTableName(TablePath());
        table.Open();
        if (table.HeaderRead()) {
            const TTableFindings findings = InspectTable(table);
            CheckEncoding(findings.Encoding);
            const auto& count = findings.RecordCount;
            Require(count.RecordLength == 0 || findings.Encoding.SampledRecords * count.RecordLength <= kSampleBudget,
                    "the sample stays within its budget");
            Require(!count.CountFromLength || count.Verdict != TRecordCountVerdict::PartialRecord,
                    "no count offered for a partial record");
            Require(nlohmann::json::accept(JsonObject([&](TJsonWriter& json) { ToJson(count, json); })),
                    "the count is JSON");
            (void)Describe(count);
        }
        table.Stream().Close();
    }
    Require(TableFileBytes() == before, "looking writes nothing");
    return 0;
}
