// SPDX-License-Identifier: MIT
// What the bytes of a table's header mean: the version byte (which programs
// write it, and how the header after it is laid out) and the code page byte
// (the language driver: its name, the encoding it names, and whether the
// tool writes it). One table of each, read by the correction, the report and
// the command line's detection alike, so that they never disagree.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

using TByte = std::uint8_t;

// The code page choices, as the window's radio group numbers them.
enum TCodePageChoice : int { cpZero = 0, cpDos866 = 1, cpWin1251 = 2, cpLeave = 3 };

// How the header after the version byte is laid out, as far as the
// correction cares.
enum class TLayoutFamily {
    DBase2,        // an 8-byte header part and 16-byte descriptors (dBase II, the first FoxBASE)
    DBase3,        // 32-byte descriptors, dBase III's reserved bytes free to clear
    VisualFoxPro,  // 32-byte descriptors whose reserved bytes hold field flags and counters
    DBase7,        // a 68-byte header and 48-byte descriptors
};

struct TVersionInfo {
    TByte Byte;
    TLayoutFamily Family;
    std::string_view Writers;  // in Russian, for the report
};

struct TCodePageInfo {
    TByte Byte;
    std::string_view Name;      // in Russian, for the report
    std::string_view Encoding;  // as iconv names it ("IBM866"); empty where the byte names none
    int Choice;                 // the window's choice that writes the byte; cpLeave for bytes the tool never writes
};

// The known version bytes and code page bytes, in the order of their bytes.
std::span<const TVersionInfo> KnownVersions();
std::span<const TCodePageInfo> KnownCodePages();

// The version byte's writers ("неизвестная версия" for a byte of none
// known) and its layout: a byte not in the table is read as dBase III's,
// unless its low bits say dBase level 7.
std::string_view VersionWriters(TByte version);
TLayoutFamily VersionFamily(TByte version);

// The code page byte's entry; nothing for a byte the table does not know.
const TCodePageInfo* FindCodePage(TByte codePage);
// Its name for the report ("неизвестная" for a byte of none known) and the
// encoding it names (empty for none).
std::string_view CodePageName(TByte codePage);
std::string_view CodePageEncoding(TByte codePage);

// The byte a code page choice writes; nothing for cpLeave or a number
// outside the choices.
std::optional<TByte> CodePageOfChoice(int choice);
// The choice that writes the byte; cpLeave for a byte the tool never writes.
int ChoiceOfCodePage(TByte codePage);
// The byte the tool writes for an encoding ("IBM866" -> 38); nothing for an
// encoding no byte it writes names.
std::optional<TByte> WrittenCodePageOf(std::string_view encoding);
