// SPDX-License-Identifier: MIT
#include "DbfFormat.h"

#include <algorithm>
#include <array>

namespace {

using F = TLayoutFamily;

constexpr std::array<TVersionInfo, 15> kVersions{{
    {0x02, F::DBase2, "dBase II, FoxBASE (не обрабатывается)"},
    {0x03, F::DBase3, "dBase III, dBase IV, FoxPro, Clipper и другие, без мемо-файла"},
    {0x04, F::DBase7, "dBase 7 (не обрабатывается)"},
    {0x30, F::VisualFoxPro, "Visual FoxPro (не обрабатывается)"},
    {0x31, F::VisualFoxPro, "Visual FoxPro с автоинкрементом (не обрабатывается)"},
    {0x32, F::VisualFoxPro, "Visual FoxPro с полями переменной длины (не обрабатывается)"},
    {0x43, F::DBase3, "dBase IV, таблица SQL"},
    {0x63, F::DBase3, "dBase IV, системная таблица SQL"},
    {0x83, F::DBase3, "dBase III с мемо-файлом .dbt"},
    {0x8B, F::DBase3, "dBase IV с мемо-файлом .dbt"},
    {0x8C, F::DBase7, "dBase 7 с мемо-файлом (не обрабатывается)"},
    {0xCB, F::DBase3, "dBase IV, таблица SQL с мемо-файлом"},
    {0xE5, F::DBase3, "Clipper (драйвер SIX) с мемо-файлом SMT"},
    {0xF5, F::DBase3, "FoxPro 2.x с мемо-файлом .fpt"},
    {0xFB, F::DBase3, "FoxBASE с мемо-файлом"},
}};

// The language driver bytes of the xBase family. 87 is Windows-1251 to the
// BDE-era programs the tool writes it for, and Windows-1252 to later xBase
// programs, which expect 201 for Windows-1251.
constexpr std::array<TCodePageInfo, 64> kCodePages{{
    {0x00, "не указана", "", cpZero},
    {0x01, "DOS 437, США", "IBM437", cpLeave},
    {0x02, "DOS 850, многоязычная", "IBM850", cpLeave},
    {0x03, "Windows-1252", "WINDOWS-1252", cpLeave},
    {0x04, "Macintosh Roman", "MACINTOSH", cpLeave},
    {0x08, "DOS 865, датская", "IBM865", cpLeave},
    {0x09, "DOS 437, голландская", "IBM437", cpLeave},
    {0x0A, "DOS 850, голландская", "IBM850", cpLeave},
    {0x0B, "DOS 437, финская", "IBM437", cpLeave},
    {0x0D, "DOS 437, французская", "IBM437", cpLeave},
    {0x0E, "DOS 850, французская", "IBM850", cpLeave},
    {0x0F, "DOS 437, немецкая", "IBM437", cpLeave},
    {0x10, "DOS 850, немецкая", "IBM850", cpLeave},
    {0x11, "DOS 437, итальянская", "IBM437", cpLeave},
    {0x12, "DOS 850, итальянская", "IBM850", cpLeave},
    {0x13, "Windows-932, японская", "CP932", cpLeave},
    {0x14, "DOS 850, испанская", "IBM850", cpLeave},
    {0x15, "DOS 437, шведская", "IBM437", cpLeave},
    {0x16, "DOS 850, шведская", "IBM850", cpLeave},
    {0x17, "DOS 865, норвежская", "IBM865", cpLeave},
    {0x18, "DOS 437, испанская", "IBM437", cpLeave},
    {0x19, "DOS 437, английская (Великобритания)", "IBM437", cpLeave},
    {0x1A, "DOS 850, английская (Великобритания)", "IBM850", cpLeave},
    {0x1B, "DOS 437, английская (США)", "IBM437", cpLeave},
    {0x1C, "DOS 863, французская (Канада)", "IBM863", cpLeave},
    {0x1D, "DOS 850, французская", "IBM850", cpLeave},
    {0x1F, "DOS 852, чешская", "IBM852", cpLeave},
    {0x22, "DOS 852, венгерская", "IBM852", cpLeave},
    {0x23, "DOS 852, польская", "IBM852", cpLeave},
    {0x24, "DOS 860, португальская", "IBM860", cpLeave},
    {0x25, "DOS 850, португальская", "IBM850", cpLeave},
    {0x26, "DOS 866, русская", "IBM866", cpDos866},
    {0x37, "DOS 850, английская (США)", "IBM850", cpLeave},
    {0x40, "DOS 852, румынская", "IBM852", cpLeave},
    {0x4D, "Windows-936, китайская (КНР)", "CP936", cpLeave},
    {0x4E, "Windows-949, корейская", "CP949", cpLeave},
    {0x4F, "Windows-950, китайская (Тайвань)", "CP950", cpLeave},
    {0x50, "Windows-874, тайская", "CP874", cpLeave},
    {0x57, "Windows-1251 для программ эпохи BDE; Windows-1252 для поздних программ xBase", "WINDOWS-1251", cpWin1251},
    {0x58, "Windows-1252, западноевропейская", "WINDOWS-1252", cpLeave},
    {0x59, "Windows-1252, испанская", "WINDOWS-1252", cpLeave},
    {0x64, "DOS 852, восточноевропейская", "IBM852", cpLeave},
    {0x65, "DOS 866, русская", "IBM866", cpLeave},
    {0x66, "DOS 865, скандинавская", "IBM865", cpLeave},
    {0x67, "DOS 861, исландская", "IBM861", cpLeave},
    {0x68, "DOS 895, чешская (Kamenicky)", "", cpLeave},
    {0x69, "DOS 620, польская (Mazovia)", "", cpLeave},
    {0x6A, "DOS 737, греческая", "CP737", cpLeave},
    {0x6B, "DOS 857, турецкая", "IBM857", cpLeave},
    {0x78, "Windows-950, китайская (Тайвань)", "CP950", cpLeave},
    {0x79, "Windows-949, корейская", "CP949", cpLeave},
    {0x7A, "Windows-936, китайская (КНР)", "CP936", cpLeave},
    {0x7B, "Windows-932, японская", "CP932", cpLeave},
    {0x7C, "Windows-874, тайская", "CP874", cpLeave},
    {0x7D, "Windows-1255, иврит", "WINDOWS-1255", cpLeave},
    {0x7E, "Windows-1256, арабская", "WINDOWS-1256", cpLeave},
    {0x96, "Macintosh, русская", "MAC-CYRILLIC", cpLeave},
    {0x97, "Macintosh, восточноевропейская", "MAC-CENTRALEUROPE", cpLeave},
    {0x98, "Macintosh, греческая", "MACGREEK", cpLeave},
    {0xC8, "Windows-1250, восточноевропейская", "WINDOWS-1250", cpLeave},
    {0xC9, "Windows-1251, русская", "WINDOWS-1251", cpLeave},
    {0xCA, "Windows-1254, турецкая", "WINDOWS-1254", cpLeave},
    {0xCB, "Windows-1253, греческая", "WINDOWS-1253", cpLeave},
    {0xCC, "Windows-1257, прибалтийская", "WINDOWS-1257", cpLeave},
}};

}  // namespace

std::span<const TVersionInfo> KnownVersions()
{
    return kVersions;
}

std::span<const TCodePageInfo> KnownCodePages()
{
    return kCodePages;
}

namespace {

const TVersionInfo* FindVersion(TByte version)
{
    const auto found = std::find_if(kVersions.begin(), kVersions.end(),
                                    [version](const TVersionInfo& entry) { return entry.Byte == version; });
    return found == kVersions.end() ? nullptr : &*found;
}

}  // namespace

std::string_view VersionWriters(TByte version)
{
    if (const auto* known = FindVersion(version)) return known->Writers;
    return VersionFamily(version) == TLayoutFamily::DBase7 ? "dBase 7 (не обрабатывается)" : "неизвестная версия";
}

TLayoutFamily VersionFamily(TByte version)
{
    if (const auto* known = FindVersion(version)) return known->Family;
    // dBase level 7 marks itself in the low three bits, with or without its memo bits.
    return (version & 0x07) == 4 ? TLayoutFamily::DBase7 : TLayoutFamily::DBase3;
}

const TCodePageInfo* FindCodePage(TByte codePage)
{
    const auto found = std::find_if(kCodePages.begin(), kCodePages.end(),
                                    [codePage](const TCodePageInfo& entry) { return entry.Byte == codePage; });
    return found == kCodePages.end() ? nullptr : &*found;
}

std::string_view CodePageName(TByte codePage)
{
    const auto* known = FindCodePage(codePage);
    return known ? known->Name : "неизвестная";
}

std::string_view CodePageEncoding(TByte codePage)
{
    const auto* known = FindCodePage(codePage);
    return known ? known->Encoding : std::string_view();
}

std::optional<TByte> CodePageOfChoice(int choice)
{
    if (choice == cpLeave) return std::nullopt;
    const auto found = std::find_if(kCodePages.begin(), kCodePages.end(),
                                    [choice](const TCodePageInfo& entry) { return entry.Choice == choice; });
    return found == kCodePages.end() ? std::nullopt : std::optional(found->Byte);
}

int ChoiceOfCodePage(TByte codePage)
{
    const auto* known = FindCodePage(codePage);
    return known ? known->Choice : cpLeave;
}

std::optional<TByte> WrittenCodePageOf(std::string_view encoding)
{
    if (encoding.empty()) return std::nullopt;
    const auto found = std::find_if(kCodePages.begin(), kCodePages.end(), [encoding](const TCodePageInfo& entry) {
        return entry.Choice != cpLeave && entry.Encoding == encoding;
    });
    return found == kCodePages.end() ? std::nullopt : std::optional(found->Byte);
}
