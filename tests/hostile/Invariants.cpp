// SPDX-License-Identifier: MIT
#include "Invariants.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <sstream>

namespace hostile {

namespace {

const std::string kSummaryStart = "Готово! ";

// The header's numbers, read from the bytes as the format lays them out.
unsigned LE16(const TBytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8U);
}
std::uint32_t LE32(const TBytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8U) | (b[at + 2] << 16U) | (static_cast<std::uint32_t>(b[at + 3]) << 24U);
}
void PutLE32At(TBytes& b, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool NamesTable(const std::string& name)
{
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (auto& ch : ext) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    return ext == ".DBF";
}

std::string WithoutDirectory(const std::string& name)
{
    const auto slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Bytes of a field name: up to the first 0 within the 11.
std::size_t NameLength(const TBytes& b, std::size_t at)
{
    std::size_t n = 0;
    while (n < 11 && b[at + n] != 0) ++n;
    return n;
}

std::string Hex(unsigned v)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v & 0xFFU);
    return text;
}

std::string Quoted(const std::vector<std::string>& texts)
{
    std::string out = "[";
    for (std::size_t i = 0; i < texts.size(); ++i) out += (i ? ", \"" : "\"") + texts[i] + "\"";
    return out + "]";
}

// The corrected bytes of the header and the first m descriptors, laid over the
// file's own bytes.
TBytes Corrected(const TBytes& file, std::size_t chunks, std::size_t m, const TChoices& choices)
{
    TBytes out = file;
    std::fill(out.begin() + 12, out.begin() + 28, 0);
    if (choices.removeIndexFlag) out[28] = 0;
    if (choices.insertDate) {
        const int year = static_cast<int>(choices.date.year());
        out[1] = static_cast<std::uint8_t>(((year - 1900) % 256 + 256) % 256);
        out[2] = static_cast<std::uint8_t>(static_cast<unsigned>(choices.date.month()));
        out[3] = static_cast<std::uint8_t>(static_cast<unsigned>(choices.date.day()));
    }
    if (choices.codePageChoice == 0) out[29] = 0;
    if (choices.codePageChoice == 1) out[29] = 38;
    if (choices.codePageChoice == 2) out[29] = 87;
    out[30] = out[31] = 0;

    // Long character fields (width's high byte in the decimal count) are
    // recognised only when the plain widths of all the record's fields (every
    // descriptor before the terminator) do not add up to the record length and
    // the long ones do.
    const unsigned recordLength = LE16(file, 10);
    unsigned plain = 1;
    unsigned wide = 1;
    for (std::size_t i = 0; i < chunks && file[32 + 32 * i] != 13; ++i) {
        const std::size_t at = 32 + 32 * i;
        plain += file[at + 16];
        wide += file[at + 16] + ((file[at + 11] == 'C' || file[at + 11] == 'c') ? 256U * file[at + 17] : 0U);
    }
    const bool longCharacters = plain != recordLength && wide == recordLength;

    std::uint32_t displacement = 1;
    for (std::size_t i = 0; i < m; ++i) {
        const std::size_t at = 32 + 32 * i;
        std::size_t first = 0;
        std::size_t last = NameLength(file, at);
        while (first < last && file[at + first] <= 32) ++first;
        while (last > first && file[at + last - 1] <= 32) --last;
        for (std::size_t k = 0; k < 11; ++k) out[at + k] = first + k < last ? file[at + first + k] : 0;

        if (choices.offsetMode == 0) PutLE32At(out, at + 12, 0);
        if (choices.offsetMode == 1) PutLE32At(out, at + 12, displacement);

        std::uint8_t type = file[at + 11];
        if (type >= 'a' && type <= 'z') type = static_cast<std::uint8_t>(type - 32);
        out[at + 11] = type;
        if (longCharacters && type == 'C') {
            displacement += file[at + 16] + 256U * file[at + 17];
        } else {
            displacement += file[at + 16];
            if (type == 'C' || type == 'D' || type == 'L') out[at + 17] = 0;
        }
        // Only the six dBase III data types lose their reserved bytes; the
        // flags and counters of later programs' types stay.
        if (std::string_view("CNFDLM").find(static_cast<char>(type)) != std::string_view::npos) {
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(at + 18),
                      out.begin() + static_cast<std::ptrdiff_t>(at + 32), 0);
        }
    }
    return out;
}

}  // namespace

std::string Describe(const TChoices& c)
{
    std::ostringstream s;
    s << "offset mode " << c.offsetMode << ", code page choice " << c.codePageChoice << ", remove index "
      << c.removeIndexFlag << ", insert date " << c.insertDate << " (" << static_cast<int>(c.date.year()) << '-'
      << static_cast<unsigned>(c.date.month()) << '-' << static_cast<unsigned>(c.date.day()) << ')';
    return s.str();
}

std::string Describe(const TFaultPlan& f)
{
    std::ostringstream s;
    s << "failing read " << f.failRead << ", write fault "
      << (f.write == TFileFault::Fail ? "fail" : f.write == TFileFault::Short ? "short" : "none") << ", flush fault "
      << f.failFlush;
    return s.str();
}

std::vector<std::string> JudgeRestore(const TBytes& before, const TBytes& after)
{
    std::vector<std::string> broken;
    if (after.size() != before.size()) {
        broken.push_back("the length changed: " + std::to_string(before.size()) + " -> " + std::to_string(after.size()));
        return broken;
    }
    if (before.size() < 12) {
        if (after != before) broken.push_back("a table too short for a header was written");
        return broken;
    }
    if (!std::equal(before.begin() + 8, before.begin() + 12, after.begin() + 8)) {
        broken.push_back("the header length or the record length changed");
    }
    const std::size_t headerLength = before[8] | static_cast<std::size_t>(before[9]) << 8;
    for (std::size_t i = std::min(headerLength, before.size()); i < before.size(); ++i) {
        if (before[i] != after[i]) {
            broken.push_back("byte " + std::to_string(i) + ", past the header, changed");
            break;
        }
    }
    return broken;
}

std::string Lines(const std::vector<std::string>& broken)
{
    std::string out;
    for (const auto& line : broken) out += "\n  " + line;
    return out;
}

TExpected Expect(const TBytes& file, const std::string& fileName, const TChoices& choices, const TFaultPlan& faults,
                 TOpenOutcome open)
{
    TExpected e;
    e.after = file;
    auto& said = e.messages;
    // A rejected name leaves the fresh table without one.
    if (!NamesTable(fileName)) {
        said = {kBadTypeMsg, kNotFoundMsg};
        return e;
    }
    // A name with a 0 byte inside names no file: the system would read it
    // only up to that byte.
    if (open == TOpenOutcome::NotFound || fileName.find('\0') != std::string::npos) {
        said = {kNotFoundMsg + fileName};
        return e;
    }
    if (open == TOpenOutcome::InUse) {
        said = {InUseMessage(WithoutDirectory(fileName))};
        return e;
    }

    int reads = 0;
    const auto read = [&](std::size_t position, std::size_t size) {
        if (size == 0) return true;  // nothing to read, nothing issued
        const bool injected = reads++ == faults.failRead;
        return !injected && position + size <= file.size();
    };

    if (!read(0, 32)) {
        said.push_back(kReadHeaderMsg);
        return e;
    }
    // dBase II: 16-byte descriptors from byte 8; nothing past the version
    // byte is read as dBase III's, no descriptor and no record.
    if (file[0] == 0x02) {
        said.push_back(kDBase2Msg);
        return e;
    }
    const unsigned headerLength = LE16(file, 8);
    const unsigned recordLength = LE16(file, 10);
    const auto recordCount = static_cast<std::int32_t>(LE32(file, 4));
    const std::size_t chunks = static_cast<std::uint8_t>(headerLength / 32 - 1);
    // Every count the byte can name is read; a header shorter than 32 bytes is
    // refused before its descriptors are.
    const bool headerRead = headerLength >= 32 && read(32, 32 * chunks);
    if (!headerRead) said.push_back(kReadHeaderMsg);
    if (recordCount > 0 && !read(headerLength, std::min(recordLength, 4000U))) said.push_back(kReadRecordMsg);
    if (!headerRead) return e;
    if (file[0] == 0x30 || file[0] == 0x31 || file[0] == 0x32) {
        said.push_back(kFoxProMsg);
        return e;
    }
    if ((file[0] & 7) == 4) {
        said.push_back(kDBase7Msg);
        return e;
    }
    // A _NullFlags field (type '0') among the record's fields marks a Visual
    // FoxPro table under any version byte.
    for (std::size_t i = 0; i < chunks && file[32 + 32 * i] != 13; ++i) {
        if (file[32 + 32 * i + 11] == '0') {
            said.push_back(kFoxProMsg);
            return e;
        }
    }

    // Descriptors in use: the chunks before the terminator, less the empty
    // ones, counted off without moving any.
    std::size_t m = chunks;
    bool pastTerminator = false;
    for (std::size_t i = 0; i < chunks; ++i) {
        const std::size_t at = 32 + 32 * i;
        pastTerminator = pastTerminator || file[at] == 13;
        if (pastTerminator || NameLength(file, at) == 0 || file[at + 16] == 0) --m;
    }
    e.inUse = m;
    // Just before the write the header and every chunk read are read again:
    // a table that cannot be read again counts as changed by another program.
    if (open == TOpenOutcome::TakenMeanwhile || !read(0, 32 + 32 * chunks)) {
        said.push_back(InUseMessage(WithoutDirectory(fileName)));
        return e;
    }
    e.attemptsWrite = true;
    const TBytes corrected = Corrected(file, chunks, m, choices);
    const std::size_t written = 32 + 32 * m;

    if (faults.write == TFileFault::Fail) {
        e.raisesWriteError = true;
    } else if (faults.write == TFileFault::Short) {
        e.raisesWriteError = true;
        std::copy_n(corrected.begin(), written / 2, e.after.begin());
    } else {
        e.raisesWriteError = faults.failFlush;
        e.after = corrected;
    }
    if (e.raisesWriteError) return e;

    std::string summary = kSummaryStart + "Кодовая страница " + std::to_string(file[29]);
    const int chosen[] = {0, 38, 87};
    if (choices.codePageChoice >= 0 && choices.codePageChoice <= 2) {
        const int now = chosen[choices.codePageChoice];
        summary += now == file[29] ? " - не изменилась" : " -> " + std::to_string(now);
    }
    said.push_back(summary);
    return e;
}

TExpected ExpectCommandLine(const TBytes& file, const std::string& fileName, const TChoices& choices)
{
    TExpected e = Expect(file, fileName, choices);
    if (!e.attemptsWrite) return e;
    const unsigned headerLength = LE16(file, 8);
    const unsigned recordLength = LE16(file, 10);
    const std::size_t chunks = static_cast<std::uint8_t>(headerLength / 32 - 1);
    std::size_t fields = 0;
    while (fields < chunks && file[32 + 32 * fields] != 13) ++fields;
    const std::size_t end = 32 + 32 * fields;
    const bool terminator = end < headerLength && (fields < chunks || (end < file.size() && file[end] == 13));
    unsigned plain = 1;
    unsigned wide = 1;
    for (std::size_t i = 0; i < fields; ++i) {
        const std::size_t at = 32 + 32 * i;
        plain += file[at + 16];
        wide += file[at + 16] + ((file[at + 11] == 'C' || file[at + 11] == 'c') ? 256U * file[at + 17] : 0U);
    }
    std::string refusal;
    if (!terminator) {
        refusal = "ProcessFile: Описатели не исправляются: там, где они кончаются, нет терминатора заголовка (0x0D)";
    } else if (plain != recordLength && wide != recordLength) {
        refusal = "ProcessFile: Описатели не исправляются: ширины полей с признаком удаления (" + std::to_string(plain) +
                  ") не сходятся с длиной записи (" + std::to_string(recordLength) + ")";
    } else {
        return e;
    }
    // What the table told on opening stays; the refusal takes the summary's place.
    TExpected refused;
    refused.messages = e.messages;
    refused.messages.back() = refusal;
    refused.inUse = e.inUse;
    refused.after = file;
    return refused;
}

TRun RunCorrection(const std::string& fileName, const TChoices& choices, const TFaultPlan& faults,
                   const TOperationHook& onOperation, const TMessageHook& onMessage)
{
    TRun run;
    const int descriptorsBefore = OpenDescriptorCount();
    {
        TMessageRecorder recorder;
        if (onMessage) {
            SetNotifyUserHandler([&](const std::string& text) {
                recorder.messages.push_back(text);
                onMessage(text);
            });
        }
        int reads = 0;
        auto previous = SetFileFaultHook([&](TFileOp op, std::uint64_t position, std::size_t size) {
            if (onOperation) onOperation(op, position, size);
            switch (op) {
            case TFileOp::Read: return reads++ == faults.failRead ? TFileFault::Fail : TFileFault::None;
            case TFileOp::Write: return faults.write;
            case TFileOp::Flush: return faults.failFlush ? TFileFault::Fail : TFileFault::None;
            default: return TFileFault::None;
            }
        });
        try {
            ProcessFile(fileName, choices.offsetMode, choices.codePageChoice, choices.removeIndexFlag,
                        choices.insertDate, choices.date);
        } catch (const EStreamWriteError& error) {
            run.raised = error.what();
            run.raisedWriteError = true;
        } catch (const std::exception& error) {
            run.raised = error.what();
        } catch (...) {
            run.raised = "an exception of unknown type";
        }
        SetFileFaultHook(std::move(previous));
        run.messages = std::move(recorder.messages);
    }
    run.descriptorsLeaked = OpenDescriptorCount() - descriptorsBefore;
    return run;
}

std::vector<std::string> Judge(const TBytes& before, const TBytes& after, const TRun& run, const TExpected& expected)
{
    std::vector<std::string> broken;
    if (expected.raisesWriteError) {
        if (!run.raisedWriteError || run.raised != "Stream write error") {
            broken.push_back("the failed write did not end the correction with \"Stream write error\"" +
                             (run.raised ? " (raised \"" + *run.raised + "\")" : std::string()));
        }
    } else if (run.raised) {
        broken.push_back("the correction raised \"" + *run.raised + "\"");
    }
    if (run.descriptorsLeaked != 0) {
        broken.push_back("descriptors left open: " + std::to_string(run.descriptorsLeaked));
    }
    if (after.size() != before.size()) {
        broken.push_back("the file's length changed from " + std::to_string(before.size()) + " to " +
                         std::to_string(after.size()));
    }
    const std::size_t writable = expected.attemptsWrite ? 32 + 32 * expected.inUse : 0;
    for (std::size_t i = writable; i < std::min(before.size(), after.size()); ++i) {
        if (before[i] != after[i]) {
            broken.push_back("byte " + std::to_string(i) + " changed, at or after the " + std::to_string(writable) +
                             " bytes the correction may write");
            break;
        }
    }
    if (run.messages != expected.messages) {
        broken.push_back("told " + Quoted(run.messages) + ", expected " + Quoted(expected.messages));
    }
    for (std::size_t i = 0; i < run.messages.size(); ++i) {
        if (run.messages[i].rfind(kSummaryStart, 0) != 0) continue;
        if (i + 1 != run.messages.size() || !expected.attemptsWrite || expected.raisesWriteError) {
            broken.push_back("a summary was shown without a successful write, or not last");
        }
    }
    if (after.size() == expected.after.size()) {
        for (std::size_t i = 0; i < after.size(); ++i) {
            if (after[i] != expected.after[i]) {
                broken.push_back("byte " + std::to_string(i) + ": was " + Hex(before.size() > i ? before[i] : 0) +
                                 ", expected " + Hex(expected.after[i]) + ", found " + Hex(after[i]));
                break;
            }
        }
    }
    return broken;
}

std::vector<std::string> CheckCorrection(const std::string& fileName, const TChoices& choices,
                                         const TFaultPlan& faults)
{
    const TBytes before = ReadAll(fileName);
    const TExpected expected = Expect(before, fileName, choices, faults);
    const TRun run = RunCorrection(fileName, choices, faults);
    const TBytes after = ReadAll(fileName);
    auto broken = Judge(before, after, run, expected);
    if (!broken.empty() || !expected.attemptsWrite || expected.raisesWriteError) return broken;

    // Correcting a corrected table again changes nothing.
    const TExpected again = Expect(after, fileName, choices);
    const TRun second = RunCorrection(fileName, choices);
    const TBytes afterSecond = ReadAll(fileName);
    for (const auto& b : Judge(after, afterSecond, second, again)) broken.push_back("second correction: " + b);
    if (afterSecond != after) broken.push_back("a second correction with the same choices changed the file");
    return broken;
}

int OpenDescriptorCount()
{
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return 0;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count;
}

}  // namespace hostile
