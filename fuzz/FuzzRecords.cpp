// SPDX-License-Identifier: MIT
// libFuzzer target: any bytes as a table file, shown as `dbffix show
// --records` shows it, in the people's form and as a --json line. Whatever
// the bytes, the records shown are at most those asked, each with a value
// per field, the line is JSON, and nothing is written. A broken rule aborts
// the run.
//
// Input layout: byte 0 chooses the encoding the texts are read in (0: the
// header's byte, 1: found by the texts, otherwise that byte as the code
// page); all of it is the table file.
#include "FuzzTableFile.h"
#include "JsonWriter.h"
#include "NotifyUser.h"
#include "TableReport.h"

#include <nlohmann/json.hpp>

#include <sstream>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitTablePath();
    SetNotifyUserHandler([](const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return -1;
    WriteTable(data, size);
    const std::vector<char> before = TableFileBytes();
    TRecordsAsk ask;
    ask.Count = kMaxRecordsShown;
    ask.AutoCodePage = data[0] == 1;
    if (data[0] > 1) ask.CodePage = data[0];
    const TTableReport report = ReadTable(TablePath(), std::nullopt, {}, ask);
    if (report.Records) {
        const TRecordsShown& shown = *report.Records;
        Require(shown.Records.size() <= shown.Asked, "no more records than asked");
        for (const auto& record : shown.Records) {
            Require(record.Values.size() == shown.Fields.size(), "a value for every field");
        }
        Require(shown.Charset.empty() != shown.NotDecoded.empty(), "texts read in an encoding, or why not");
    }
    std::ostringstream people;
    PrintShow(report, people);
    std::string line;
    TJsonWriter json(line);
    ToJson(report, json);
    Require(nlohmann::json::accept(line), "the --json line is JSON");
    Require(TableFileBytes() == before, "showing writes nothing");
    return 0;
}
